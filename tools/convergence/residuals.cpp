#include "residuals.hpp"

#include <cmath>

namespace moody::convergence {

namespace {
double or_one(double scale) {
  return scale != 0.0 && std::isfinite(scale) ? scale : 1.0;
}
}  // namespace

double dynamic_pressure(const SimulationState& s) {
  return 0.5 * s.ro * s.Uin * s.Uin;
}

Meter::Meter(const SimulationState& s)
    : u_before_(static_cast<std::size_t>(s.N) + 1, 0.0),
      inflow_(or_one(std::fabs(s.Ae(1) * s.Uin))),
      velocity_(or_one(std::fabs(s.Uin))),
      dynamic_(or_one(dynamic_pressure(s))) {
  for (int i = 1; i <= s.N; ++i)
    u_before_[static_cast<std::size_t>(i)] = s.u(i);
}

Residuals Meter::measure(const SimulationState& s) {
  const int N = s.N;
  double imbalance = 0.0;
  double change = 0.0;
  for (int i = 2; i <= N - 1; ++i) {
    imbalance += std::fabs(s.MASSA.bP(i));
    const double d = std::fabs(s.u(i) - u_before_[static_cast<std::size_t>(i)]);
    change = d > change ? d : change;
    u_before_[static_cast<std::size_t>(i)] = s.u(i);
  }
  double correction = 0.0;
  for (int i = 1; i <= N; ++i) {
    const double c = std::fabs(s.pl(i));
    correction = c > correction ? c : correction;
  }

  Residuals r;
  r.mass = imbalance / inflow_;
  r.velocity = change / velocity_;
  r.pressure = correction / dynamic_;
  r.outlet = (s.p(N - 1) + s.p(N)) * 0.5 - (s.p(1) + s.p(2)) * 0.5;
  return r;
}

}  // namespace moody::convergence
