#pragma once
// The driver: the main sequence of a run.

#include "control/state.hpp"

namespace moody {

// The whole run: input, sizing, grid, itmax outer iterations, inventory,
// report.  Returns the exit status (0); every failure ends the process
// through a fatal run-time error instead.
int principal();

// One pass of the pressure-correction scheme, u0 and ue0 updated at its end:
// the four sweeps of sweeps.cpp (the plain steps on the smallest grids).
void outer_iteration(SimulationState& s);

// The same pass as the plain steps one after the other, each over the whole
// grid, with the two solves between them.  The reference for outer_iteration.
void plain_outer_iteration(SimulationState& s);

}  // namespace moody
