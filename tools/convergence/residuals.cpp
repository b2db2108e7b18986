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

Scales::Scales(const SimulationState& s)
    : inflow_(or_one(std::fabs(s.Ae(1) * s.Uin))),
      velocity_(or_one(std::fabs(s.Uin))),
      dynamic_(or_one(dynamic_pressure(s))) {}

Meter::Meter(const SimulationState& s) : u_before_(s.u), scales_(s) {}

}  // namespace moody::convergence
