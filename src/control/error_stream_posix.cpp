#include <errno.h>
#include <unistd.h>

#include "control/error_stream.hpp"

namespace moody {

void write_error_stream(const char* bytes, unsigned size) noexcept {
  unsigned done = 0;
  while (done < size) {
    const ssize_t n = write(STDERR_FILENO, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<unsigned>(n);
  }
}

}  // namespace moody
