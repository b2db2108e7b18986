#include "terminal.hpp"

#include <cerrno>
#include <cstdio>

namespace moody::convergence {

namespace {
int first_error = 0;
}  // namespace

bool flush_output() {
  errno = 0;
  const bool flushed = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
  if (!flushed && first_error == 0) first_error = errno;
  return flushed;
}

int first_output_error() {
  return first_error;
}

}  // namespace moody::convergence
