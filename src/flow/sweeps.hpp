#pragma once
// The outer iteration in four sweeps over the grid, each step folded into
// the sweep of a tridiagonal solve.  Run in this order they leave the state
// bit for bit as the plain steps and the two solves do, for grids of at
// least kSweepMinimumN nodes.  Each forward sweep hands P and Q to the back
// substitution after it in the state's work pair.

#include "control/state.hpp"

namespace moody {

inline constexpr int kSweepMinimumN = 4;

// Up: momentum coefficients, Mp and Me, and the forward sweep of the QML set.
void momentum_forward_sweep(SimulationState& s);
// Down: u, then the face velocities and the velocity-correction coefficients.
void momentum_back_substitution(SimulationState& s);
// Up: the MASSA set and its forward sweep.
void pressure_correction_forward_sweep(SimulationState& s);
// Down: pl, then the correction step, and u0 and ue0 copied from u and ue.
void pressure_correction_back_substitution(SimulationState& s);

}  // namespace moody
