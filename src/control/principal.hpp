#pragma once
// The driver: the main sequence of a run.

#include "control/state.hpp"
// The pass itself (outer_iteration), for the callers of the driver.
#include "flow/sweeps.hpp"  // IWYU pragma: export

namespace moody {

// The whole run: input, sizing, grid, itmax outer iterations, inventory,
// report.  Returns the exit status (0); every failure ends the process
// through a fatal run-time error instead.
int principal();

}  // namespace moody
