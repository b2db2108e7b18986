#pragma once
// How much memory the machine can give the run, asked before the arrays are
// sized, so that a grid too large is refused with a clear error instead of
// the process being killed later by an over-committing system.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace moody {

// Bytes of memory available to a new allocation now, or 0 when the platform
// cannot tell: the least of the machine's free memory (plus what the system
// can reclaim), the room left under the memory limit of the process's
// control group, and the address space left under its own limit.
std::uint64_t available_memory();

// The room left under the memory limits of the control groups of a process
// whose /proc/<pid>/cgroup file is `membership`, the hierarchies mounted
// under `root` (as /sys/fs/cgroup): at every level from the process's group
// up to the root, the limit less the usage (less the file cache the kernel
// can drop), the least of them.  Nothing when no level sets a limit.
// Unified hierarchy: memory.max ("max" for none), memory.current; older
// hierarchy: memory/.../memory.limit_in_bytes, memory.usage_in_bytes.
// POSIX systems only (memory_posix.cpp).
std::optional<std::uint64_t> cgroup_room(const std::string& membership, const std::string& root);

// Bytes as the storage messages give them: whole megabytes, rounded up.
std::string megabytes(std::uint64_t bytes);

// Stops the run with the storage frame (F3001) when `needed` bytes are more
// than available_memory() says there is: "storage for <what>: X MB needed,
// Y MB available".
void require_memory(std::uint64_t needed, std::string_view what);

}  // namespace moody
