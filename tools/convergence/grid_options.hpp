#pragma once
// The options of the grid study on the command line and the grids they
// name:
//
//   convergence --grid[=N1,N2,...] [--target PERCENT] [FOLDER]

#include <string>
#include <vector>

namespace moody::convergence {

// Neighbouring grids differ at least this much in their numbers of volumes.
inline constexpr double kMinimumRatio = 1.3;

// The GCI a study can be asked for, in percent: below the least, the
// roundings of the outlet pressure on the grids it would need; above the
// greatest, grids too coarse to be in the asymptotic range.
inline constexpr double kLeastTarget = 1e-4;
inline constexpr double kGreatestTarget = 50.0;

struct GridOptions {
  bool active = false;
  std::vector<int> grids;         // as given; empty: from dados.txt
  double target = 0.01;           // the GCI asked for, a fraction
  std::string target_text = "1";  // as given, in percent
  bool target_given = false;
};

// Takes argv[k] when it is an option of the study (--grid, --grid=LIST,
// --target PERCENT, --target=PERCENT): returns how many arguments it took,
// 0 when argv[k] is none of them, or -1 with the reason in `problem`.
int take_grid_option(int argc, char** argv, int k, GridOptions& options, std::string& problem);

// "" when the options go together with --window (`window`), else the reason.
std::string grid_options_problem(const GridOptions& options, bool window);

// The grids in increasing N; "" when they make a study (three or more, each
// N >= 3, neighbours in the ratio kMinimumRatio or more), else the reason.
std::string sort_and_check_grids(std::vector<int>& grids);

// The grids of the study: those given, or the default grids of N, checked
// as a list given is; "" or the reason.
std::string study_grids(const GridOptions& options, int N, std::vector<int>& grids);

// N of dados.txt and the grids of twice and four times its real volumes;
// empty when they do not fit in 32 bits.
std::vector<int> default_grids(int N);

// The grids of the next round of a study to a target: three in the ratio 2,
// the finest with at least `needed` nodes, those of `run` (run already)
// reused where that costs less than grids of just the N needed (the work of
// a grid taken as its volumes squared).  Empty when they do not fit in 32
// bits.
std::vector<int> next_round_grids(const std::vector<int>& run, int finest, double needed);

// The real volumes of a grid of N nodes.
inline double real_volumes(int N) {
  return static_cast<double>(N) - 2.0;
}

}  // namespace moody::convergence
