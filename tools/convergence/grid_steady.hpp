#pragma once
// The grid study's use of the steady solution of the discrete equations
// (steady.hpp): the value each grid's iteration converges to, known before
// a pass is run.  A study to a target chooses its grids on those values,
// the report checks the program's converged values against them, and a
// grid on which no dt converges still has its value said.

#include <cstddef>
#include <string>
#include <vector>

#include "control/state.hpp"
#include "grid_options.hpp"
#include "grid_runs.hpp"

namespace moody::convergence {

// The steady outlet pressure of grid N of the case of `dados`, NaN where
// Newton's method does not converge (or N < 4).
double steady_outlet(const Parameters& dados, int N);

// Sets the steady value of every grid of `runs` that has none yet.
void add_steady_values(std::vector<GridRun>& runs, const Parameters& dados);

// Grids whose values agree with the steady ones to this fraction (of the
// value, or of q/1000 where it is near zero) are the same solution.
inline constexpr double kSteadyAgreement = 1e-9;

// The grids a study to a target runs first: from `grids`, each next ladder
// as a round of the study would choose it, on the steady values alone,
// until the finest grid's GCI holds the target on grids in the asymptotic
// range (or the ladder cannot go on: no order, a grid without a steady
// value, or grids beyond 32 bits, or kMostPredictions ladders).  Every
// ladder so chosen, `grids` first, the one to run last; `said` gets a line
// per ladder.
inline constexpr int kMostPredictions = 12;
std::vector<std::vector<int>> predicted_grids(const Parameters& dados, const GridOptions& options,
                                              std::vector<int> grids, std::string& said);

}  // namespace moody::convergence
