#include "grid.hpp"

#include <cstdio>
#include <string>
#include <vector>

#include "grid_estimate.hpp"
#include "grid_files.hpp"
#include "grid_report.hpp"
#include "grid_runs.hpp"
#include "report.hpp"

namespace moody::convergence {

int grid_study(const Parameters& dados, const GridOptions& options) {
  std::vector<int> grids;
  if (const std::string bad = study_grids(options, dados.N, grids); !bad.empty()) {
    std::fprintf(stderr, "convergence: --grid: %s\n", bad.c_str());
    return kExitUsage;
  }
  std::vector<std::unique_ptr<SimulationState>> states = sized_grids(dados, grids);

  std::string head = "grid study: N =";
  for (std::size_t k = 0; k < grids.size(); ++k)
    head += (k == 0 ? " " : ", ") + std::to_string(grids[k]);
  head += "; everything but N and dt as in dados.txt\n";
  std::fputs(head.c_str(), stdout);
  std::fflush(stdout);

  const std::vector<GridRun> runs = run_grids(states);
  const Estimate e = estimate(runs, dados, options.target);
  // The folders and malhas.dat, before anything is said of them.
  write_grid_files(runs, malhas_text(runs, e));
  const GridReport report = grid_report(runs, e, options);
  std::fputs(report.text.c_str(), stdout);
  return report.status;
}

}  // namespace moody::convergence
