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
// u.dat and p.dat that the program writes from it, with the plot scripts
// u.gnu and p.gnu it launches; and FOLDER/malhas.dat, one line per grid.
// Nothing else in FOLDER is written.
//
// With --target the study runs in rounds: while the finest grid's GCI is
// above the target, a next round of three grids in the ratio 2 whose finest
// has at least the N the estimate names, grids already run taken as they
// are; each round's report as it ends, the files of the last round whose
// grids all converge.  The cap of passes of a grid follows from the passes
// of its coarser grids.
//
// The study runs one way, a stage to a file: the options (grid_options),
// the runs of the grids (grid_runs), the estimate (grid_estimate), the
// report (grid_report) and the files (grid_files).

#include "control/state.hpp"
#include "grid_options.hpp"

namespace moody::convergence {

// The study on the parameters of dados.txt in `dados`, in the current
// folder; prints its report and returns the exit status.
int grid_study(const Parameters& dados, const GridOptions& options);

}  // namespace moody::convergence
