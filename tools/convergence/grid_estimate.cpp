#include "grid_estimate.hpp"

#include <algorithm>
#include <cmath>

#include "duct_solution.hpp"
#include "grid_options.hpp"

namespace moody::convergence {

Estimate estimate(const std::vector<GridRun>& runs, const Parameters& dados, double target) {
  Estimate e;
  for (const GridRun& g : runs) {
    if (g.converged) e.grids.push_back(&g);
  }
  e.q = 0.5 * dados.ro * dados.Uin * dados.Uin;
  e.exact = verification::pressure_rise(dados, 0.0, dados.L);
  const std::size_t n = e.grids.size();
  if (n < 3) return e;
  e.has_three_grids = true;
  const GridRun& g1 = *e.grids[n - 1];
  const GridRun& g2 = *e.grids[n - 2];
  const GridRun& g3 = *e.grids[n - 3];
  e.gci = grid_convergence_index({g1.dx, g2.dx, g3.dx, g1.outlet, g2.outlet, g3.outlet});
  e.extrapolated = e.gci.extrapolated;
  if (e.gci.has_order() && e.gci.gci_fine > 0.0) {
    const double volumes = real_volumes(g1.N);
    e.needed_N = std::ceil(volumes_for_gci(volumes, e.gci.gci_fine, e.gci.p, target)) + 2.0;
    e.next_N = e.needed_N;
    if (order_far_from_scheme(e.gci.p)) {
      const double at_scheme =
          kSafetyFactor * e.gci.ea21 / (std::pow(e.gci.r21, kSchemeOrder) - 1.0);
      const double by_scheme =
          std::ceil(volumes_for_gci(volumes, at_scheme, kSchemeOrder, target)) + 2.0;
      const double doubled = 2.0 * volumes + 2.0;
      e.next_N = std::max({e.next_N, by_scheme, doubled});
    }
  }
  if (n >= 4) {
    std::vector<double> h, phi;
    for (const GridRun* g : e.grids) {
      h.push_back(g->dx);
      phi.push_back(g->outlet);
    }
    e.fit = least_squares_fit(h, phi);
    for (std::size_t k = 0; k + 2 < n; ++k) {
      const Gci c =
          grid_convergence_index({h[k + 2], h[k + 1], h[k], phi[k + 2], phi[k + 1], phi[k]});
      e.triple_orders.push_back(c.p);
    }
  }
  return e;
}

}  // namespace moody::convergence
