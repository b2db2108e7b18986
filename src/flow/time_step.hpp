#pragma once
// The smallest time step from which the outer iteration can start.
//
// The first pass starts from rest: there is no mass flow yet, so only viscous
// diffusion carries the inlet velocity downstream, each real node getting the
// fraction lambda of the velocity of the one before, with
//   lambda + 1/lambda = 2 + 1/nu,   nu = mi*dt/(ro*dx^2).
// When lambda^(N-2) falls below the range of a double the outlet velocity is
// zero, and the outlet scaling of the face velocities divides by zero (or
// overflows just above).  Keeping lambda^(N-2) >= 1e-300 gives the floor
//   dt >= (ro*dx^2/mi) * lambda/(1 - lambda)^2,   lambda = 10^(-300/(N-2)),
// about lambda*ro*dx^2/mi while lambda is small.

#include <cstdint>

namespace moody {

// The floor above for a grid of N nodes over a duct of length L.  Infinite
// when no time step can start the iteration (mi <= 0, or N < 3); computed
// with the floating-point traps masked, so any inputs give a value.
double time_step_floor(std::int32_t N, double L, double ro, double mi);

}  // namespace moody
