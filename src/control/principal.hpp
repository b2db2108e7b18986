#pragma once
// The driver: the main sequence of a run.

namespace moody {

// The whole run: input, sizing, grid, itmax outer iterations, inventory,
// report.  Returns the exit status (0); every failure ends the process
// through a fatal run-time error instead.
int principal();

}  // namespace moody
