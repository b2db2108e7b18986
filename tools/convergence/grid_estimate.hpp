#pragma once
// What the grid study finds from the grids that converge: the exact outlet
// pressure of the 1-D model, and on three grids or more the GCI of the
// three finest (gci.hpp), the extrapolated value, the N for the GCI asked
// for, and on four or more the least-squares fit of all of them and the
// observed order of each successive three.

#include <cmath>
#include <limits>
#include <vector>

#include "control/state.hpp"
#include "gci.hpp"
#include "grid_runs.hpp"

namespace moody::convergence {

// The order of the scheme: upwind convection, first order in dx.
inline constexpr double kSchemeOrder = 1.0;

// Grids whose observed order p is further than this from the scheme's,
// |p - kSchemeOrder| > kOrderBand, are not in the asymptotic range: the error
// does not yet fall as dx^p there, and neither the GCI nor the N for a
// target can be trusted.
inline constexpr double kOrderBand = 0.2;

// True when p is an order and far from the scheme's in that sense.
inline bool order_far_from_scheme(double p) {
  return std::fabs(p - kSchemeOrder) > kOrderBand;
}

struct Estimate {
  std::vector<const GridRun*> grids;  // converged, coarse to fine
  bool has_three_grids = false;       // three of them at least
  Gci gci;
  PowerFit fit;
  std::vector<double> triple_orders;  // four grids or more: p of grids k, k+1, k+2 (NaN: none)
  double q =
      std::numeric_limits<double>::quiet_NaN();  // 0.5*ro*Uin^2, the inlet's dynamic pressure
  double exact = std::numeric_limits<double>::quiet_NaN();
  double extrapolated = std::numeric_limits<double>::quiet_NaN();
  double needed_N = std::numeric_limits<double>::quiet_NaN();  // for the target GCI
  // The finest grid of the next round of a study to a target: needed_N, or,
  // where the observed order is far from the scheme's, the largest of it,
  // the N that the GCI taken with the scheme's order asks for, and twice the
  // finest grid's volumes, so that an order the grids overstate does not
  // send the study round after round, and grids not yet in the asymptotic
  // range are refined towards it whatever their GCI.
  double next_N = std::numeric_limits<double>::quiet_NaN();
};

// The estimate from `runs` (which it points into) of the case of dados.txt
// in `dados`, for a GCI of `target` (a fraction).
Estimate estimate(const std::vector<GridRun>& runs, const Parameters& dados, double target);

}  // namespace moody::convergence
