#include "grid_report.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "columns.hpp"
#include "grid_files.hpp"
#include "grid_steady.hpp"
#include "io/input_number.hpp"
#include "report.hpp"
#include "text_format.hpp"

namespace moody::convergence {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Refinement ratios this close (a fraction) are equal: they come from
// dx = L/(N - 2) in floating point.
constexpr double kEqualRatios = 1e-9;

// A pressure to ten significant digits; "none" for NaN.
std::string pascals_or_none(double v) {
  return std::isnan(v) ? std::string("none") : pascals(v, 10);
}

// An error in Pa to five digits, signed; "none" for NaN.
std::string signed_error_text(double v) {
  return std::isnan(v) ? std::string("none") : format("%+.4e", v);
}

// A fraction in percent to four decimals, signed; "none" for NaN.
std::string percent_text(double v) {
  return std::isnan(v) ? std::string("none") : format("%+.4f", 100.0 * v);
}

// v/|base|, NaN when base is zero or NaN.
double relative_to(double v, double base) {
  return base != 0.0 && !std::isnan(base) ? v / std::fabs(base) : kNaN;
}

// How each grid's dt was chosen: by the window search, or by the round of
// dt about the window foreseen from the coarser grid.
std::string dt_legend(const std::vector<GridRun>& runs) {
  std::vector<int> searched, predicted;
  for (const GridRun& g : runs) {
    if (g.converged) (g.window.predicted ? predicted : searched).push_back(g.N);
  }
  const std::string round = format(
      "the fewest passes of a round of dt about the window foreseen from the coarser grid, each "
      "run stopped once it held within %g of the grid's steady value",
      kBand);
  if (predicted.empty()) return "dt: the window search's recommendation";
  if (searched.empty()) return "dt: " + round;
  return "dt: the window search's recommendation (N = " + list_text(searched) +
         "); for N = " + list_text(predicted) + ", " + round;
}

// One line per grid: N, dx, dt, passes, the outlet pressure and its
// estimated and true errors, or why the grid does not converge; 100
// columns, under a header of two lines.
std::string grid_table(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t = format("%6s  %-10s %-9s %7s  %16s  %21s  %21s\n", "", "", "", "", "",
                         "estimated error", "true error");
  t += format("%6s  %-10s %-9s %7s  %16s  %12s %8s  %12s %8s\n", "N", "dx [m]", "dt [s]", "passes",
              "outlet p [Pa]", "[Pa]", "[%]", "[Pa]", "[%]");
  bool marked = false;
  for (const GridRun& g : runs) {
    if (!g.converged) {
      t += format("%6d  %-10.6g %s\n", g.N, g.dx, g.failure.c_str());
      continue;
    }
    const double estimated = g.outlet - e.extrapolated;
    const double truth = g.outlet - e.exact;
    const std::string dt = input_number::round_trip_text(g.dt) + (g.dt_of_dados ? "*" : "");
    marked = marked || g.dt_of_dados;
    t +=
        format("%6d  %-10.6g %-9s %7lld  %16.10g  %12s %8s  %12s %8s\n", g.N, g.dx, dt.c_str(),
               lld_arg(g.passes), g.outlet, signed_error_text(estimated).c_str(),
               percent_text(relative_to(estimated, e.extrapolated)).c_str(),
               signed_error_text(truth).c_str(), percent_text(relative_to(truth, e.exact)).c_str());
  }
  t += dt_legend(runs);
  t += marked ? "; * the dt of dados.txt, which converges within 1.5 times its passes\n" : "\n";
  t += "passes: the run to convergence by the tool's test, the itmax of malha-N/dados.txt\n";
  t += "outlet p: the outlet pressure, from the inlet's; error: against the extrapolated value\n"
       "(estimated) and the exact value of the 1-D model (true)\n";
  return t;
}

// The five lines of the estimate.
std::string summary_lines(const Estimate& e, const GridOptions& options) {
  const Gci& c = e.gci;
  const bool order = e.has_three_grids && c.has_order();
  std::string t = "exact outlet pressure of the 1-D model: " + pascals_or_none(e.exact) + "\n";
  t += "observed order: " + (order ? format("%.6g", c.p) : std::string("none")) + "\n";
  t += "extrapolated outlet pressure: " + pascals_or_none(order ? e.extrapolated : kNaN) + "\n";
  const GridRun* fine = e.grids.empty() ? nullptr : e.grids.back();
  t += "GCI of the finest grid: " +
       (order && fine != nullptr
            ? format("%.4g %% (%.4g Pa)", 100.0 * c.gci_fine, c.gci_fine * std::fabs(fine->outlet))
            : std::string("none")) +
       "\n";
  t += "for a GCI of " + options.target_text +
       " %: N = " + (std::isnan(e.needed_N) ? std::string("none") : format("%.0f", e.needed_N));
  if (!std::isnan(e.needed_N) && order_far_from_scheme(c.p)) {
    t += " (uncertain: the grids are not in the asymptotic range)";
  }
  return t + "\n";
}

// The iteration error beside the discretisation error of each grid (the
// estimated one, or the true one without an extrapolated value).
std::string iteration_error_line(const Estimate& e) {
  std::string t;
  const GridRun* worst = nullptr;
  double worst_share = 0.0;
  for (const GridRun* g : e.grids) {
    const double discretisation =
        std::fabs(g->outlet - (std::isnan(e.extrapolated) ? e.exact : e.extrapolated));
    const double share = discretisation > 0.0 ? g->iteration_error / discretisation
                                              : (g->iteration_error > 0.0 ? 1.0 : 0.0);
    if (worst == nullptr || share > worst_share) {
      worst = g;
      worst_share = share;
    }
  }
  if (worst != nullptr) {
    if (worst_share <= kNegligible) {
      t +=
          format("iteration error: at most %.2g of the discretisation error (N = %d), negligible\n",
                 worst_share, worst->N);
    } else {
      t += format(
          "iteration error: NOT negligible on N = %d, %.3g Pa, %.2g of its discretisation "
          "error\n",
          worst->N, worst->iteration_error, worst_share);
    }
  }
  return t;
}

// The procedure behind the five lines.
std::string procedure_lines(const Estimate& e) {
  std::string t;
  if (!e.has_three_grids) {
    t += format("fewer than three grids converge (%llu): no order, extrapolation or GCI\n",
                llu_arg(e.grids.size()));
    return t + iteration_error_line(e);
  }
  const Gci& c = e.gci;
  const std::size_t n = e.grids.size();
  t += format("three finest grids: N = %d, %d, %d; refinement ratios r21 = %.6g, r32 = %.6g\n",
              e.grids[n - 3]->N, e.grids[n - 2]->N, e.grids[n - 1]->N, c.r21, c.r32);
  t +=
      format("convergence: %s (ratio of the differences e21/e32 = %.6g)\n", kind_name(c.kind), c.R);
  if (!c.has_order()) {
    t += "observed order: the fixed-point iteration finds none (a zero difference, or no fixed "
         "point)\n";
  } else {
    t += format("observed order by fixed-point iteration: p = %.10g (%d step%s)\n", c.p,
                c.iterations, c.iterations == 1 ? "" : "s");
    t += format("approximate relative error of the finest grid: ea21 = %.4g %%\n", 100.0 * c.ea21);
    t += format("extrapolated relative error of the finest grid: eext21 = %.4g %%\n",
                100.0 * c.eext21);
    t +=
        format("GCI of the finest grid, safety factor %.2f: %.4g %%; of the middle grid: %.4g %%\n",
               kSafetyFactor, 100.0 * c.gci_fine, 100.0 * c.gci_coarse);
    if (order_far_from_scheme(c.p)) {
      t += format(
          "observed order %.6g is far from %.6g, the order of the scheme (|p - %.6g| > %.6g): the "
          "grids are not in the asymptotic range\n",
          c.p, kSchemeOrder, kSchemeOrder, kOrderBand);
    }
    // With p from these grids the ratio is phi1/phi2 where r21 = r32: shown
    // only where the ratios differ, and for what it is.
    if (std::fabs(c.r21 - c.r32) > kEqualRatios * c.r21) {
      t += format(
          "GCI32/(r21^p*GCI21): %.6g (with p from these three grids it follows from phi1/phi2, "
          "r21, r32 and p: no test of the asymptotic range)\n",
          c.asymptotic);
    }
    const GridRun& fine = *e.grids.back();
    const double band = c.gci_fine * std::fabs(fine.outlet);
    const bool inside = std::fabs(e.exact - fine.outlet) <= band;
    t += format("the exact value is %s the GCI band of the finest grid, %.10g +- %.4g Pa\n",
                inside ? "inside" : "outside", fine.outlet, band);
  }
  for (std::size_t k = 0; k < e.triple_orders.size(); ++k) {
    const double p = e.triple_orders[k];
    t += format("observed order of N = %d, %d, %d: %s\n", e.grids[k]->N, e.grids[k + 1]->N,
                e.grids[k + 2]->N, std::isnan(p) ? "none" : format("%.6g", p).c_str());
  }
  if (e.fit.found) {
    t += format(
        "least-squares fit of the %llu grids, phi = phi0 + alpha*dx^p: p = %.6g, phi0 = %.10g Pa, "
        "rms residual %.3g Pa\n",
        llu_arg(n), e.fit.p, e.fit.phi0, e.fit.rms);
  } else if (n >= 4) {
    t +=
        format("least-squares fit of the %llu grids: no minimum for p in (0.05, 10)\n", llu_arg(n));
  }
  return t + iteration_error_line(e);
}

// The line of the folders written.
std::string written_text(const std::vector<GridRun>& runs) {
  std::string t = "written:";
  for (const GridRun& g : runs) {
    if (g.converged) t.append(" ").append(folder_of(g.N)).append("/");
  }
  if (t == "written:") return "written: nothing (no grid converges); the files of before stay\n";
  return t + " (dados.txt, saida.txt, u.dat, p.dat, u.gnu, p.gnu), " + kTableFile + " and " +
         kCsvFile + "\n";
}

// The program's converged value of each grid against the steady solution
// of its equations: the same to kSteadyAgreement, or where not.
std::string steady_agreement(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t;
  double largest = 0.0;
  int compared = 0;
  for (const GridRun& g : runs) {
    if (!g.converged || std::isnan(g.steady)) continue;
    ++compared;
    const double difference = std::fabs(g.outlet - g.steady);
    largest = std::max(largest, difference);
    if (difference > kSteadyAgreement * std::max(std::fabs(g.steady), e.q / 1000.0)) {
      t += format(
          "N = %d: the converged value and the steady solution of its equations, %.10g Pa, "
          "differ by %.3g Pa\n",
          g.N, g.steady, difference);
    }
  }
  if (compared > 0 && t.empty()) {
    t = format(
        "steady solutions of the equations: every converged value holds to %g (the "
        "largest difference %.2g Pa)\n",
        kSteadyAgreement, largest);
  }
  return t;
}

// The verdict on the study, and its exit status.
GridReport study_verdict(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t;
  int status = kExitConverged;
  const GridRun* finest_converged = e.grids.empty() ? nullptr : e.grids.back();
  for (const GridRun& g : runs) {
    if (g.converged) continue;
    t += format("grid N = %d does not converge: %s\n", g.N, g.failure.c_str());
    if (!std::isnan(g.steady)) {
      t += format(
          "N = %d: the program's iteration converges for no dt here; the steady solution "
          "of its equations: %.10g Pa\n",
          g.N, g.steady);
    }
    status = kExitNoConvergence;
  }
  t += steady_agreement(runs, e);
  if (status == kExitNoConvergence) {
    t += finest_converged != nullptr
             ? format("the finest grid that converges: N = %d\n", finest_converged->N)
             : std::string("no grid converges\n");
    t += "grid study: incomplete\n";
  } else if (!(e.gci.kind == Kind::kMonotonic && e.gci.has_order())) {
    t += std::string("the three finest grids do not converge monotonically (") +
         kind_name(e.gci.kind) + "): the GCI is unreliable\n";
    t += "grid study: complete, not monotonic\n";
    status = kExitNotMonotonic;
  } else {
    t += "grid study: complete, monotonic\n";
  }
  return {t, status};
}

}  // namespace

std::string malhas_text(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t =
      "# N  dx [m]  dt [s]  passes  outlet pressure [Pa]  estimated error [Pa]  true error [Pa]"
      "  (estimated: against the extrapolated value " +
      (std::isnan(e.extrapolated) ? std::string("(none)") : format("%.17g Pa", e.extrapolated)) +
      "; true: against the exact value " + format("%.17g", e.exact) + " Pa)\r\n";
  for (const GridRun& g : runs) {
    if (!g.converged) continue;
    t += format("%d %.17g %s %lld %.17g %.17g %.17g\r\n", g.N, g.dx,
                input_number::round_trip_text(g.dt).c_str(), lld_arg(g.passes), g.outlet,
                g.outlet - e.extrapolated, g.outlet - e.exact);
  }
  return t;
}

std::string malhas_csv(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t =
      "N,dx [m],dt [s],passes,outlet pressure [Pa],estimated error [Pa],estimated error [%],"
      "true error [Pa],true error [%],GCI [%]\r\n";
  const std::size_t n = e.grids.size();
  const bool gci = e.has_three_grids && e.gci.has_order();
  // A number, or an empty field for NaN.
  const auto field = [](double v) { return std::isnan(v) ? std::string() : format("%.10g", v); };
  for (const GridRun& g : runs) {
    if (!g.converged) continue;
    const double estimated = g.outlet - e.extrapolated;
    const double truth = g.outlet - e.exact;
    double grid_gci = kNaN;
    if (gci && &g == e.grids[n - 1]) grid_gci = 100.0 * e.gci.gci_fine;
    if (gci && &g == e.grids[n - 2]) grid_gci = 100.0 * e.gci.gci_coarse;
    t += format("%d,%s,%s,%lld,%s,%s,%s,%s,%s,%s\r\n", g.N, field(g.dx).c_str(),
                input_number::round_trip_text(g.dt).c_str(), lld_arg(g.passes),
                field(g.outlet).c_str(), field(estimated).c_str(),
                field(100.0 * relative_to(estimated, e.extrapolated)).c_str(), field(truth).c_str(),
                field(100.0 * relative_to(truth, e.exact)).c_str(), field(grid_gci).c_str());
  }
  return t;
}

std::string report_paragraph(const Estimate& e) {
  std::string t = "for the report: ";
  const Gci& c = e.gci;
  if (!(e.has_three_grids && c.has_order())) {
    t += "no GCI can be given: ";
    t += e.has_three_grids ? "the three finest grids give no observed order."
                           : "fewer than three grids converge.";
    return fit_columns(t, kColumns, "") + "\n";
  }
  const std::size_t n = e.grids.size();
  const GridRun& g1 = *e.grids[n - 1];
  const GridRun& g2 = *e.grids[n - 2];
  const GridRun& g3 = *e.grids[n - 3];
  t += "The discretisation error of the outlet pressure was estimated by the grid convergence "
       "index (GCI, safety factor Fs = " +
       format("%.2f", kSafetyFactor) + ") on ";
  t += n == 3 ? std::string("three grids") : format("the three finest of %llu grids", llu_arg(n));
  t += format(" of N = %d, %d and %d (dx = %.6g, %.6g and %.6g m; ", g3.N, g2.N, g1.N, g3.dx, g2.dx,
              g1.dx);
  t += std::fabs(c.r21 - c.r32) > kEqualRatios * c.r21
           ? format("refinement ratios r21 = %.4g, r32 = %.4g)", c.r21, c.r32)
           : format("refinement ratio r = %.4g)", c.r21);
  t += format(", with an observed order p = %.3g", c.p);
  t += order_far_from_scheme(c.p)
           ? format(
                 ", far from %g, the order of the scheme: the grids are not in the asymptotic "
                 "range and the estimate is uncertain.",
                 kSchemeOrder)
           : format(" (the scheme's: %g).", kSchemeOrder);
  if (c.kind != Kind::kMonotonic) {
    t += std::string(" The grids do not converge monotonically (") + kind_name(c.kind) +
         "): the GCI is unreliable.";
  }
  const double band = c.gci_fine * std::fabs(g1.outlet);
  const bool inside = std::fabs(e.exact - g1.outlet) <= band;
  t += format(
      " The extrapolated outlet pressure is %.6g Pa; on the finest grid it is %.6g Pa with "
      "a GCI of %.3g %% (+-%.3g Pa), a band that %s the exact value of the 1-D model, "
      "%.6g Pa.",
      e.extrapolated, g1.outlet, 100.0 * c.gci_fine, band, inside ? "holds" : "does not hold",
      e.exact);
  t += format(" From the inlet to the outlet the pressure %s by %.6g Pa +- %.3g Pa.",
              g1.outlet < 0.0 ? "drops" : "rises", std::fabs(g1.outlet), band);
  return fit_columns(t, kColumns, "") + "\n";
}

std::string round_report(const std::vector<GridRun>& runs, const Estimate& e,
                         const GridOptions& options) {
  std::string t = "\n";
  t += grid_table(runs, e);
  t += "\n";
  t += summary_lines(e, options);
  t += "\n";
  t += procedure_lines(e);
  return t;
}

GridReport grid_report(const std::vector<GridRun>& runs, const Estimate& e,
                       const GridOptions& options, const std::vector<GridRun>& written) {
  const GridReport said = study_verdict(runs, e);
  return {round_report(runs, e, options) + written_text(written) + said.text, said.status};
}

}  // namespace moody::convergence
