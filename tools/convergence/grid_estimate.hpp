#pragma once
// What the grid study finds from the grids that converge: the exact outlet
// pressure of the 1-D model, and on three grids or more the GCI of the
// three finest (gci.hpp), the extrapolated value, the N for the GCI asked
// for, and on four or more the least-squares fit of all of them.

#include <limits>
#include <vector>

#include "control/state.hpp"
#include "gci.hpp"
#include "grid_runs.hpp"

namespace moody::convergence {

struct Estimate {
  std::vector<const GridRun*> grids;  // converged, coarse to fine
  bool has_three_grids = false;       // three of them at least
  Gci gci;
  PowerFit fit;
  double exact = std::numeric_limits<double>::quiet_NaN();
  double extrapolated = std::numeric_limits<double>::quiet_NaN();
  double needed_N = std::numeric_limits<double>::quiet_NaN();  // for the target GCI
};

// The estimate from `runs` (which it points into) of the case of dados.txt
// in `dados`, for a GCI of `target` (a fraction).
Estimate estimate(const std::vector<GridRun>& runs, const Parameters& dados, double target);

}  // namespace moody::convergence
