#pragma once
// The grid and the shape of the duct.

#include "control/state.hpp"

namespace moody {

// Node and face positions, diameters D = x*cd + D0 and areas D^2*pi*0.25.
void geometry(SimulationState& s);

}  // namespace moody
