#include <unistd.h>

#include "terminal.hpp"

namespace moody::convergence {

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace moody::convergence
