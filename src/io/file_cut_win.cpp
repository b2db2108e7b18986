#include <io.h>

#include <cerrno>
#include <cstdio>

#include "io/file_cut.hpp"

namespace moody {

int cut_to_empty(std::FILE* file) noexcept {
  const int handle = _fileno(file);
  if (handle < 0) return EINVAL;
  return _chsize_s(handle, 0);
}

}  // namespace moody
