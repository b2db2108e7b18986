#include "flow/time_step.hpp"

#include <cmath>
#include <limits>

#include "control/fpe.hpp"

namespace moody {

double time_step_floor(std::int32_t N, double L, double ro, double mi) {
  constexpr double kNone = std::numeric_limits<double>::infinity();
  if (N < 3 || !(mi > 0.0)) return kNone;
  fpe::Masked masked;  // extreme inputs may overflow: the answer is then inf
  const double volumes = static_cast<double>(N) - 2.0;
  const double dx = L / volumes;
  const double lambda = std::pow(10.0, -300.0 / volumes);
  const double floor = ro * dx * dx / mi * lambda / ((1.0 - lambda) * (1.0 - lambda));
  if (std::isnan(floor)) return kNone;
  return floor;
}

}  // namespace moody
