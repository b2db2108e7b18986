#include <io.h>

#include <cstdio>

#include "terminal.hpp"

namespace moody::convergence {

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace moody::convergence
