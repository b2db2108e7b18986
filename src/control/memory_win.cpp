#include <windows.h>

#include "control/memory.hpp"

namespace moody {

std::uint64_t available_memory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (GlobalMemoryStatusEx(&status) == 0) return 0;
  return static_cast<std::uint64_t>(status.ullAvailPhys);
}

}  // namespace moody
