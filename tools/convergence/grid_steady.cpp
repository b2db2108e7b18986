#include "grid_steady.hpp"

#include <cmath>
#include <limits>

#include "grid_estimate.hpp"
#include "steady.hpp"
#include "text_format.hpp"

namespace moody::convergence {

double steady_outlet(const Parameters& dados, int N) {
  Parameters p = dados;
  p.N = N;
  const SteadySolution sol = steady_solution(p);
  return sol.converged ? sol.outlet : std::numeric_limits<double>::quiet_NaN();
}

void add_steady_values(std::vector<GridRun>& runs, const Parameters& dados) {
  for (GridRun& g : runs) {
    if (std::isnan(g.steady)) g.steady = steady_outlet(dados, g.N);
  }
}

std::vector<std::vector<int>> predicted_grids(const Parameters& dados, const GridOptions& options,
                                              std::vector<int> grids, std::string& said) {
  std::vector<std::vector<int>> ladders;
  for (int ladder = 1; ladder <= kMostPredictions; ++ladder) {
    ladders.push_back(grids);
    std::vector<GridRun> runs;
    std::string values;
    for (const int N : grids) {
      GridRun g;
      g.N = N;
      g.dx = dados.L / (static_cast<double>(N) - 2.0);
      g.outlet = steady_outlet(dados, N);
      g.converged = !std::isnan(g.outlet);
      if (!g.converged) {
        said += format(
            "steady solution of N = %d: none (Newton's method does not converge); "
            "the study runs N = %s\n",
            N, list_text(grids).c_str());
        return ladders;
      }
      values += format("%s%d: %.10g Pa", values.empty() ? "" : ", ", N, g.outlet);
      runs.push_back(g);
    }
    const Estimate e = estimate(runs, dados, options.target);
    said += "steady solutions, N = " + values;
    if (!(e.has_three_grids && e.gci.has_order())) {
      said += "; no observed order\n";
      return ladders;
    }
    said += format("; GCI of the finest grid %.4g %%", 100.0 * e.gci.gci_fine);
    const bool far = order_far_from_scheme(e.gci.p);
    if (far) said += format(", observed order %.6g far from %g", e.gci.p, kSchemeOrder);
    if (e.gci.gci_fine <= options.target && !far) {
      said += "\n";
      return ladders;
    }
    const std::vector<int> next = next_round_grids({}, grids.back(), e.next_N);
    if (next.empty()) {
      said += "\n";
      return ladders;
    }
    said += "; next N = " + list_text(next) + "\n";
    grids = next;
  }
  return ladders;
}

}  // namespace moody::convergence
