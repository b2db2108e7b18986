#include "flow/coef.hpp"

namespace moody {

// Not written yet: the scheme's steps land with the flow solver.
void geometry(SimulationState&) {}
void momentum_coefficients(SimulationState&) {}
void face_velocities(SimulationState&) {}
void correction_coefficients(SimulationState&) {}
void pressure_correction_coefficients(SimulationState&) {}
void correct(SimulationState&) {}
void inventory(SimulationState&) {}

}  // namespace moody
