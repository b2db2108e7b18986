#pragma once
// The steps of the finite-volume scheme.  Each works on the run's state in
// place; the driver calls them in a fixed order.

#include "control/state.hpp"

namespace moody {

// Node and face positions, diameters D = D0 + cd*x and areas pi*D^2/4.
void geometry(SimulationState& s);

// The momentum equation (QML set) of every node, with Mp and Me refreshed first.
void momentum_coefficients(SimulationState& s);

// Face velocities ue by momentum interpolation; inlet and outlet by continuity.
void face_velocities(SimulationState& s);

// SIMPLEC velocity-correction coefficients dP (nodes) and de (faces).
void correction_coefficients(SimulationState& s);

// The pressure-correction equation (MASSA set).
void pressure_correction_coefficients(SimulationState& s);

// Applies the pressure correction pl to p, u and the interior ue.
void correct(SimulationState& s);

// The same outer iteration in four sweeps over the grid, each step folded
// into the sweep of a tridiagonal solve (sweeps.cpp).  Run in this order they
// leave the state bit for bit as the plain steps and the two solves do, for
// grids of at least kSweepMinimumN nodes.  Each forward sweep hands P and Q to
// the back substitution after it in the solver's work buffer (sweep_work), so
// nothing may solve a larger system between the two.
inline constexpr int kSweepMinimumN = 4;
// Up: momentum coefficients, Mp and Me, and the forward sweep of the QML set.
void momentum_forward_sweep(SimulationState& s);
// Down: u, then the face velocities and the velocity-correction coefficients.
void momentum_back_substitution(SimulationState& s);
// Up: the MASSA set and its forward sweep.
void pressure_correction_forward_sweep(SimulationState& s);
// Down: pl, then the correction step, and u0 and ue0 copied from u and ue.
void pressure_correction_back_substitution(SimulationState& s);

// After the last pass: values on the inlet and outlet sections, pressure
// referred to the inlet, and the final Mp and Me.
void inventory(SimulationState& s);

}  // namespace moody
