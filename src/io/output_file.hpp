#pragma once
// The sequential formatted files that the records of a Format go to.

#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>

#include "control/runtime_error.hpp"
#include "io/format.hpp"

namespace moody {

// A sequential formatted output file.  Opening creates it, or opens an
// existing one as it is; the old contents are cut when the first records are
// handed over, so a run that stops before that leaves them whole.  Records
// are gathered in memory and handed to the file in blocks of about 1 MiB, so
// a failure later in the run leaves the earlier blocks on disk; every failure
// is a fatal run-time error naming the file and the reason in a user's words.
// The unit number names the file as the report's statements do; no message
// shows it.
class OutputFile {
 public:
  OutputFile(std::string name, int unit);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // closes the file if still open, without raising an error

  void write(const Format& format, std::initializer_list<Item> items) {
    write(format, std::span<const Item>(items.begin(), items.size()));
  }
  void write(const Format& format, std::span<const Item> items);

  // Writes out what is gathered, flushes and closes.  Closing a closed file
  // does nothing; writing to one is a fatal error.
  void close();

  static constexpr std::size_t kBlock = std::size_t{1} << 20;

 private:
  void flush();
  int cut() noexcept;        // an existing file to length 0; 0 or an errno value
  int hand_over() noexcept;  // buffer to the system; 0 or an errno value
  void unlink() noexcept;    // off the chain of open files
  [[noreturn]] void fail(ErrorCode code, const char* action, int error);

  std::string name_;
  std::FILE* file_ = nullptr;
  std::string buffer_;
  bool uncut_ = false;               // an existing file, not yet cut
  OutputFile* next_open_ = nullptr;  // the chain of open files
};

}  // namespace moody
