// The kind is taken from the open descriptor (fstat), so that what is read
// is what was checked.  A named pipe opened without O_NONBLOCK would wait for
// a writer; a device is refused before it is opened at all (opening one can
// act on it), by stat, and checked again on the descriptor.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "io/plain_file.hpp"

namespace moody {

namespace {

FileKind kind_of(mode_t mode) {
  if (S_ISDIR(mode)) return FileKind::kFolder;
  if (S_ISFIFO(mode)) return FileKind::kPipe;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
  return FileKind::kOther;
}

PlainFile not_plain(mode_t mode) {
  PlainFile p;
  p.plain = false;
  p.kind = kind_of(mode);
  return p;
}

PlainFile failed(int error) {
  PlainFile p;
  p.error = error;
  return p;
}

}  // namespace

PlainFile open_plain_file(const char* name) {
  struct stat st {};
  if (::stat(name, &st) == 0 && !S_ISREG(st.st_mode)) return not_plain(st.st_mode);

  errno = 0;
  const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return failed(errno);
  struct stat held {};
  if (::fstat(fd, &held) != 0) {
    const int error = errno;
    ::close(fd);
    return failed(error);
  }
  if (!S_ISREG(held.st_mode)) {
    ::close(fd);
    return not_plain(held.st_mode);
  }
  // A plain file is read as usual; reads of it never wait anyway.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  PlainFile p;
  p.file = ::fdopen(fd, "rb");
  if (p.file == nullptr) {
    p.error = errno;
    ::close(fd);
  }
  return p;
}

}  // namespace moody
