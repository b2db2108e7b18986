#pragma once
// Cutting an open file to length zero, through the platform's call.

#include <cstdio>

namespace moody {

// Cuts `file` (open for writing, nothing written yet) to length zero.
// Returns 0, or the error number of the failure (EINVAL for a device or a
// pipe, which has no length to cut).
int cut_to_empty(std::FILE* file) noexcept;

}  // namespace moody
