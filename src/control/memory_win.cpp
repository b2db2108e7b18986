#include <windows.h>

#include "control/memory.hpp"

namespace moody {

std::uint64_t available_memory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) == 0) return 0;
  return status.ullAvailPhys;
}

}  // namespace moody
