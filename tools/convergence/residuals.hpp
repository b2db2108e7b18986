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

#include "control/state.hpp"
#include "residual_sums.hpp"

namespace moody::convergence {

struct Residuals {
  double mass = 0.0;
  double velocity = 0.0;
  double pressure = 0.0;
  double outlet = 0.0;  // [Pa]
};

// The dynamic pressure 0.5*ro*Uin^2 of the inlet flow [Pa].
double dynamic_pressure(const SimulationState& s);

// The walk over the grid of a run's state after a pass that the residuals
// take, with the steps of residual_sums.hpp that a batch's pass takes too.
// `before` holds u as the pass before left it, and is left holding u(2..N-1)
// of this pass.
inline batch::ResidualSums<double> walk(const SimulationState& s, Array1& before) {
  batch::ResidualSums<double> w;
  for (int i = 2; i <= s.N - 1; ++i) {
    w.add_imbalance(s.MASSA.bP(i));
    const double u = s.u(i);
    w.add_change(u, before(i));
    before(i) = u;
  }
  for (int i = 1; i <= s.N; ++i)
    w.add_correction(s.pl(i));
  return w;
}

// The outlet pressure as the inventory step forms it, from p(1), p(2),
// p(N-1) and p(N).
inline double outlet_pressure(double p1, double p2, double pN1, double pN) {
  return (pN1 + pN) * 0.5 - (p1 + p2) * 0.5;
}

// The scales that make the residuals relative.
class Scales {
 public:
  explicit Scales(const SimulationState& s);
  // The residuals from the walk's sums of a run and its outlet pressure.
  Residuals of(double imbalance, double change, double correction, double outlet) const {
    Residuals r;
    r.mass = imbalance / inflow_;
    r.velocity = change / velocity_;
    r.pressure = correction / dynamic_;
    r.outlet = outlet;
    return r;
  }

 private:
  double inflow_ = 1.0;    // Ae(1)*Uin
  double velocity_ = 1.0;  // |Uin|
  double dynamic_ = 1.0;   // q
};

// The residuals of one run, pass after pass: it keeps u of the pass before.
class Meter {
 public:
  // Keeps u as it stands, the values "before" of the first pass.  `s`
  // must be sized, its geometry filled.
  explicit Meter(const SimulationState& s);

  // The residuals of the pass that has just run; keeps its u for the next.
  Residuals measure(const SimulationState& s) {
    const batch::ResidualSums<double> w = walk(s, u_before_);
    const int N = s.N;
    return scales_.of(w.imbalance, w.change, w.correction,
                      outlet_pressure(s.p(1), s.p(2), s.p(N - 1), s.p(N)));
  }

 private:
  Array1 u_before_;  // u as the pass before left it
  Scales scales_;
};

}  // namespace moody::convergence
