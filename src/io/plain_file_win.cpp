// A name in a folder cannot be a named pipe on Windows (those live under
// \\.\pipe\), but a link can lead to one, or to a device: the handle's type
// (GetFileType) tells a file on a disk from them.

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>

#include "io/plain_file.hpp"

namespace moody {

PlainFile open_plain_file(const char* name) {
  PlainFile p;
  errno = 0;
  p.file = std::fopen(name, "rb");
  if (p.file == nullptr) {
    p.error = errno;
    return p;
  }
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(p.file)));
  const DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    std::fclose(p.file);
    p.file = nullptr;
    p.plain = false;
    p.kind = type == FILE_TYPE_PIPE   ? FileKind::kPipe
             : type == FILE_TYPE_CHAR ? FileKind::kDevice
                                      : FileKind::kOther;
  }
  return p;
}

}  // namespace moody
