#pragma once
// The runs of the grid study: for each grid, its window of dt searched and
// its dt chosen; the state that dt's trial converges in is the program's
// with the grid's malha-N/dados.txt (the trial's passes as itmax), from which
// the program's inventory and report give the folder's files.

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "control/state.hpp"
#include "io/resultados.hpp"
#include "predicted_window.hpp"
#include "window.hpp"

namespace moody::convergence {

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
  double steady = std::numeric_limits<double>::quiet_NaN();  // of its equations, where solved
  Parameters folder_parameters;  // those of malha-N/dados.txt: the grid's N, dt and passes
  ReportTexts texts;             // malha-N/saida.txt, u.dat, p.dat
};

// Runs one grid: `s` holds the parameters of dados.txt with N set to the
// grid's and has been sized (size_state).  The second form goes on from the
// window of dt already searched for `s`.
GridRun run_grid(SimulationState& s);
GridRun run_grid(SimulationState& s, Window window);

// Bytes of the report's texts of a grid (saida.txt, u.dat, p.dat) for each
// node: a line of each a node, 603 + 47 + 47 bytes.
inline constexpr std::uint64_t kReportBytesPerNode = 697;

// Bytes a study of these grids comes to hold at once: each grid's state and
// its run to the folder's files (the program's state at the chosen dt, a run
// of dados.txt's dt with its final state and its watch's fields, the texts
// of the report with the room a growing text takes), and the lanes of the
// finest grid's search on `cores` cores, the largest of the searches, which
// run one after the other.
std::uint64_t study_bytes(const std::vector<int>& grids, int cores);

// The state of each grid: the parameters of dados.txt with the grid's N,
// sized, so that grids the machine cannot hold, with the lanes of their
// searches, stop the study before any run, with the program's frame.
std::vector<std::unique_ptr<SimulationState>> sized_grids(const Parameters& dados,
                                                          const std::vector<int>& grids);

// The cap of passes of each grid in `states` from the passes of the grids
// of `before` that converge: the passes grow with the volumes as a power,
// fitted to the two finest coarser grids, and the cap is kCapMargin times
// the passes so foreseen where that is above the cap of itmax (itmax is
// raised to it; the folder's itmax is the passes run, whatever the cap).
inline constexpr double kCapMargin = 2.0;
void raise_caps(std::vector<std::unique_ptr<SimulationState>>& states,
                const std::vector<GridRun>& before);

// Every grid run, the windows searched one after the other on every core,
// the coarsest first, the rest of each grid's work on a thread of its own.
// A grid's window is predicted (predicted_window.hpp) from the finest
// coarser grid searched before it, of these or of `before`, where that has
// a shape and the grid its steady value; the whole search where it has not
// or the prediction fails.
std::vector<GridRun> run_grids(std::vector<std::unique_ptr<SimulationState>>& states,
                               const std::vector<GridRun>& before = {});

}  // namespace moody::convergence
