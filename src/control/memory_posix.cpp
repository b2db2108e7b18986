#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "control/memory.hpp"

namespace moody {

namespace {

// The first number of a file, or nothing when the file is missing or does not
// start with one ("max", the unified hierarchy's word for no limit).
std::optional<std::uint64_t> number_in(const std::string& path) {
  std::ifstream in(path);
  unsigned long long v = 0;
  if (!(in >> v)) return std::nullopt;
  return static_cast<std::uint64_t>(v);
}

// The value of `key` in a file of "key value" lines (memory.stat), 0 if none.
std::uint64_t stat_value(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  std::string name;
  unsigned long long v = 0;
  while (in >> name >> v) {
    if (name == key) return static_cast<std::uint64_t>(v);
  }
  return 0;
}

// What the level at `folder` leaves, when it sets a limit: the limit less the
// usage, the file cache the kernel drops before it refuses counted as room.
std::optional<std::uint64_t> level_room(const std::string& folder, const char* limit_file,
                                        const char* usage_file, const char* cache_key) {
  const std::optional<std::uint64_t> limit = number_in(folder + "/" + limit_file);
  if (!limit) return std::nullopt;
  std::uint64_t used = number_in(folder + "/" + usage_file).value_or(0);
  used -= std::min(used, stat_value(folder + "/memory.stat", cache_key));
  return *limit > used ? *limit - used : 0;
}

// The least room of the levels from `mount` + `path` up to `mount`.
std::optional<std::uint64_t> least_room(const std::string& mount, std::string path,
                                        const char* limit_file, const char* usage_file,
                                        const char* cache_key) {
  std::optional<std::uint64_t> least;
  for (;;) {
    while (!path.empty() && path.back() == '/')
      path.pop_back();
    if (const std::optional<std::uint64_t> r =
            level_room(mount + path, limit_file, usage_file, cache_key)) {
      least = std::min(least.value_or(*r), *r);
    }
    if (path.empty()) return least;
    const std::size_t up = path.rfind('/');
    path.erase(up == std::string::npos ? 0 : up);
  }
}

// MemAvailable of /proc/meminfo: free memory and the caches the kernel can
// drop; elsewhere the physical memory as a whole; 0 when neither is known.
std::uint64_t machine_memory() {
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
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0)
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  return 0;
}

// The address space RLIMIT_AS leaves beyond what the process maps now.
std::optional<std::uint64_t> address_space_room() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  const std::uint64_t cap = limit.rlim_cur;
  const long page = sysconf(_SC_PAGESIZE);
  const std::optional<std::uint64_t> pages = number_in("/proc/self/statm");
  const std::uint64_t mapped = pages && page > 0 ? *pages * static_cast<std::uint64_t>(page) : 0;
  return cap > mapped ? cap - mapped : 0;
}

}  // namespace

std::optional<std::uint64_t> cgroup_room(const std::string& membership, const std::string& root) {
  std::ifstream in(membership);
  std::optional<std::uint64_t> least;
  const auto take = [&](std::optional<std::uint64_t> r) {
    if (r) least = std::min(least.value_or(*r), *r);
  };
  std::string line;
  while (std::getline(in, line)) {
    // hierarchy-ID:controllers:path
    const std::size_t a = line.find(':');
    const std::size_t b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1);
    const std::string path = line.substr(b + 1);
    if (controllers.empty()) {
      // The unified hierarchy, at the root of the mount or beside an older one.
      for (const char* mount : {"", "/unified"})
        take(least_room(root + mount, path, "memory.max", "memory.current", "inactive_file"));
    } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
      take(least_room(root + "/memory", path, "memory.limit_in_bytes", "memory.usage_in_bytes",
                      "total_inactive_file"));
    }
  }
  return least;
}

std::uint64_t available_memory() {
  std::optional<std::uint64_t> room;
  if (const std::uint64_t machine = machine_memory(); machine != 0) room = machine;
  for (const std::optional<std::uint64_t> limit :
       {cgroup_room("/proc/self/cgroup", "/sys/fs/cgroup"), address_space_room()}) {
    if (limit) room = std::min(room.value_or(*limit), *limit);
  }
  // 0 stands for "cannot tell": a limit that leaves nothing leaves one byte.
  return room ? std::max<std::uint64_t>(*room, 1) : 0;
}

}  // namespace moody
