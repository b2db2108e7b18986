#pragma once
// The steps of one outer iteration, each a plain loop over the grid, and the
// final boundary values and mass inventory.  Each works on the run's state in
// place; the driver calls them in a fixed order.

#include "control/state.hpp"

namespace moody {

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

// After the last pass: values on the inlet and outlet sections, pressure
// referred to the inlet, and the final Mp and Me.
void inventory(SimulationState& s);

}  // namespace moody
