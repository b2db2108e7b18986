#include <unistd.h>

#include <cstdio>

#include "terminal.hpp"

namespace moody::convergence {

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

std::string console_text(std::string_view utf8, bool /*to_stderr*/) {
  return std::string(utf8);
}

void put_text(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
}

}  // namespace moody::convergence
