#pragma once
// The steps of one outer iteration, each a plain loop over the grid, and the
// final boundary values and mass inventory.  Each works on the run's state in
// place; the driver calls them in a fixed order.

#include "control/state.hpp"
#include "flow/equations.hpp"

namespace moody {

// The operands of interior face i's momentum interpolation: the QML rows,
// masses and pressures of nodes i and i+1 from the state, with the velocities
// u(i-1), u(i), u(i+1), u(i+2) given (the sweeps carry them in registers).
inline InterpolatedFace<double> interpolated_face(const SimulationState& s, int i, double u_W,
                                                  double u_P, double u_E, double u_EE) {
  const CoefficientSet& q = s.QML;
  return {.u_W = u_W,
          .u_P = u_P,
          .u_E = u_E,
          .u_EE = u_EE,
          .aW_P = q.aW(i),
          .aE_P = q.aE(i),
          .aP_P = q.aP(i),
          .aW_E = q.aW(i + 1),
          .aE_E = q.aE(i + 1),
          .aP_E = q.aP(i + 1),
          .Mp_P = s.Mp(i),
          .Mp_E = s.Mp(i + 1),
          .p_P = s.p(i),
          .p_E = s.p(i + 1),
          .ue0 = s.ue0(i),
          .Ae = s.Ae(i)};
}

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
