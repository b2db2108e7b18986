#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "terminal.hpp"

namespace moody::convergence {

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool hold_standard_output() {
  if (fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF) return true;
  const int fd = open("/dev/null", O_WRONLY);
  // The lowest free descriptor: 1, or 0 when standard input is closed too,
  // which it then holds as well.
  if (fd >= 0 && fd != STDOUT_FILENO) {
    dup2(fd, STDOUT_FILENO);
    if (fd > STDERR_FILENO) close(fd);
  }
  return false;
}

std::string console_text(std::string_view utf8, bool /*to_stderr*/) {
  return std::string(utf8);
}

void put_text(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

}  // namespace moody::convergence
