#pragma once
// How much memory the machine can give the run, asked before the arrays are
// sized, so that a grid too large is refused with a clear error instead of
// the process being killed later by an over-committing system.

#include <cstdint>

namespace moody {

// Bytes of physical memory available to a new allocation now (free memory
// plus what the system can reclaim), or 0 when the platform cannot tell.
std::uint64_t available_memory();

}  // namespace moody
