#include <windows.h>

#include "control/error_stream.hpp"

namespace moody {

void write_error_stream(const char* bytes, unsigned size) noexcept {
  const HANDLE stream = GetStdHandle(STD_ERROR_HANDLE);
  if (stream == nullptr || stream == INVALID_HANDLE_VALUE) return;
  unsigned done = 0;
  while (done < size) {
    DWORD n = 0;
    if (WriteFile(stream, bytes + done, size - done, &n, nullptr) == 0 || n == 0) return;
    done += n;
  }
}

}  // namespace moody
