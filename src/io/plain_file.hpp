#pragma once
// Opening a case file for reading only when it is a plain file.  Anything
// else of that name is refused before a byte is read: a named pipe would
// hold the run until some program writes into it, and a device may never
// come to an end.

#include <cstdio>

#include "io/file_cause.hpp"

namespace moody {

struct PlainFile {
  std::FILE* file = nullptr;  // open for reading in binary mode, or nullptr
  int error = 0;              // why it cannot be opened (errno), when file is nullptr
  bool plain = true;          // false: it is `kind`, and file is nullptr
  FileKind kind = FileKind::kOther;
};

// Opens `name` (links followed) for reading, without waiting for a writer
// should it be a named pipe.
PlainFile open_plain_file(const char* name);

}  // namespace moody
