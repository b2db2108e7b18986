#pragma once
// The program's pass: one outer iteration of the pressure-correction scheme
// on the run's state, in the four sweeps of pass.hpp on grids of at least
// kSweepMinimumN nodes, as the plain steps of coef.cpp on smaller ones.

#include "control/state.hpp"

namespace moody {

inline constexpr int kSweepMinimumN = 4;

// One pass, u0 and ue0 updated at its end, each of its four stages named
// for the diagnostic of a floating-point fault.
void outer_iteration(SimulationState& s);

// The same pass as the plain steps one after the other, each over the whole
// grid, with the two solves between them.  The reference for outer_iteration.
void plain_outer_iteration(SimulationState& s);

}  // namespace moody
