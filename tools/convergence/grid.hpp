#pragma once
// The grid study: the outlet pressure of one case on three grids or more,
// each converged by the tool's test at the dt the window search finds, then
// the observed order, the extrapolated value and the Grid Convergence Index
// (gci.hpp) beside the exact value of the 1-D model.
//
//   convergence --grid[=N1,N2,...] [--target PERCENT] [FOLDER]
//
// For each grid a folder FOLDER/malha-N/ with a dados.txt (that grid's N, its
// dt and, as itmax, the passes of its run to convergence) and the saida.txt,
// u.dat and p.dat that the program writes from it; and FOLDER/malhas.dat,
// one line per grid.  Nothing else in FOLDER is written.

#include <cstdint>
#include <string>
#include <vector>

#include "control/state.hpp"
#include "io/resultados.hpp"
#include "lane_trials.hpp"
#include "window.hpp"

namespace moody::convergence {

// Exit status: the study complete, but the three finest grids do not
// converge monotonically (the others are those of report.hpp).
inline constexpr int kExitNotMonotonic = 5;

// Neighbouring grids differ at least this much in their numbers of volumes.
inline constexpr double kMinimumRatio = 1.3;
// The dt of dados.txt is kept where it converges within this many times the
// passes of the recommended one.
inline constexpr double kDadosPassesFactor = 1.5;
// The iteration error counts as negligible below this fraction of the
// discretisation error.
inline constexpr double kNegligible = 0.01;

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

// N of dados.txt and the grids of twice and four times its real volumes;
// empty when they do not fit in 32 bits.
std::vector<int> default_grids(int N);

// One grid of the study.
struct GridRun {
  int N = 0;
  double dx = 0.0;
  Window window;
  bool converged = false;
  bool dt_of_dados = false;  // dados.txt's dt rather than the recommended one
  double dt = 0.0;
  std::int64_t passes = 0;       // the run to convergence: the folder's itmax
  double outlet = 0.0;           // p(N) of the program's p.dat with that itmax [Pa]
  double iteration_error = 0.0;  // how far p(N) moved over the last tenth of the passes [Pa]
  std::string failure;           // when no dt converges: how the search ended
  std::string dados;             // malha-N/dados.txt
  ReportTexts texts;             // malha-N/saida.txt, u.dat, p.dat
};

// Runs one grid: `s` holds the parameters of dados.txt with N set to the
// grid's and has been sized (size_state).  The second form goes on from the
// window of dt already searched for `s`.
GridRun run_grid(SimulationState& s);
GridRun run_grid(SimulationState& s, Window window);

// The text of malha-N/dados.txt: the twelve values of `s`, each written
// so that the program reads it back to the same bits, with dt and itmax
// given, CR LF.
std::string grid_dados(const SimulationState& s, double dt, std::int64_t itmax);

// The study on the parameters of dados.txt in `s` (read, not yet sized), in
// the current folder; prints its report and returns the exit status.
int grid_study(const SimulationState& s, const GridOptions& options);

}  // namespace moody::convergence
