#pragma once
// What one outer iteration left to do: the residuals of the pass and the
// outlet pressure, measured after the pass from the state it left, which
// they only read.
//
// With q = 0.5*ro*Uin^2 the dynamic pressure of the inlet flow:
//
//   mass      sum over the real volumes i = 2..N-1, in node order, of
//             |bP(i)| of the MASSA set (the volume flow that the face
//             velocities of the momentum step put into volume i, before the
//             correction), divided by Ae(1)*Uin, the inlet volume flow: the
//             mass imbalance of the volumes relative to the inlet mass flow.
//   velocity  max over i = 2..N-1 of |u(i) after the pass - u(i) before it|,
//             divided by |Uin|.
//   pressure  max over i = 1..N of |pl(i)|, the pressure correction that the
//             pass added to p, divided by q.
//   outlet    (p(N-1) + p(N))*0.5 - (p(1) + p(2))*0.5, the outlet pressure
//             referred to the inlet, formed as the inventory step forms it:
//             what the last line of p.dat would hold after this pass.
//
// A normaliser that is zero (Uin = 0) is taken as 1; such a run stops with a
// fault in its first pass anyway.

#include <vector>

#include "control/state.hpp"

namespace moody::convergence {

struct Residuals {
  double mass = 0.0;
  double velocity = 0.0;
  double pressure = 0.0;
  double outlet = 0.0;  // [Pa]
};

// The dynamic pressure 0.5*ro*Uin^2 of the inlet flow [Pa].
double dynamic_pressure(const SimulationState& s);

class Meter {
 public:
  // Keeps u as it stands now, the values "before" of the first pass.  `s`
  // must be sized, its geometry filled.
  explicit Meter(const SimulationState& s);

  // The residuals of the pass that has just run; keeps its u for the next.
  Residuals measure(const SimulationState& s);

 private:
  std::vector<double> u_before_;  // element i is u(i); element 0 unused
  double inflow_ = 1.0;           // Ae(1)*Uin
  double velocity_ = 1.0;         // |Uin|
  double dynamic_ = 1.0;          // q
};

}  // namespace moody::convergence
