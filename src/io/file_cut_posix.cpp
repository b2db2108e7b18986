#include <unistd.h>

#include <cerrno>

#include "io/file_cut.hpp"

namespace moody {

int cut_to_empty(std::FILE* file) noexcept {
  errno = 0;
  if (ftruncate(fileno(file), 0) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

}  // namespace moody
