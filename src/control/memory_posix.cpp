#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "control/memory.hpp"

namespace moody {

std::uint64_t available_memory() {
  // Linux: MemAvailable counts free memory and the caches the kernel can drop.
  if (std::FILE* f = std::fopen("/proc/meminfo", "r")) {
    char line[256];
    unsigned long long kib = 0;
    bool found = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1) {
        found = true;
        break;
      }
    }
    std::fclose(f);
    if (found) return static_cast<std::uint64_t>(kib) * 1024u;
  }
  // Elsewhere: the physical memory as a whole.
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0)
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  return 0;
}

}  // namespace moody
