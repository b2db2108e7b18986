// Verification study: runs the program on a sequence of ever finer grids of
// one duct case, compares the outlet pressure and the nodal velocities with
// the exact steady solution of the 1-D model, and measures for every grid the
// window of time steps in which the outer iteration converges.
//
//   verification_study [--markdown FILE] [--plot-data FILE]
//
// The tables go to standard output.  --markdown rewrites, in FILE, the text
// between the lines "<!-- study:NAME -->" and "<!-- /study:NAME -->" with the
// measured block NAME (summary, grids, windows); --plot-data writes dx, the
// two relative errors and N, one grid a line, for the log-log plot.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "duct_solution.hpp"
#include "program_run.hpp"

namespace moody::verification {
namespace {

// A run counts as converged when doubling itmax moves the outlet pressure by
// less than this fraction of it.
constexpr double kConverged = 1e-6;

// Grids of the error study (dx halves from one to the next) and finer ones
// whose window alone is measured.
const std::vector<int> kStudyGrids = {12, 22, 42, 82, 162, 322};
const std::vector<int> kWindowOnlyGrids = {642};

std::string fmt(const char* format, double v) {
  char text[64];
  std::snprintf(text, sizeof text, format, v);
  return text;
}

// "M4001 divide by zero, pass 1" from the program's run-time error frame.
std::string failure(const Outcome& r) {
  if (r.status == 0) return "output not readable";
  const std::string& m = r.message;
  const std::size_t code = m.find("run-time error ");
  std::string text =
      code != std::string::npos ? m.substr(code + 15, 5) : "status " + std::to_string(r.status);
  for (const char* kind : {"divide by zero", "overflow", "invalid"})
    if (m.find(kind) != std::string::npos) text += std::string(" ") + kind;
  const std::size_t pass = m.find("outer iteration ");
  if (pass != std::string::npos)
    text += ", pass " + std::to_string(std::atoi(m.c_str() + pass + 16));
  return text;
}

struct Converged {
  Grid grid;
  Outcome run;
  double change = 0.0;  // |p(L) at 2*itmax - p(L) at itmax| / |p(L)|
};

// The run of the rule's grid, with itmax doubled until one more doubling
// leaves the outlet pressure within kConverged of it.
Converged converge(Workbench& bench, const Duct& c, Grid g) {
  for (int attempt = 0; attempt < 6; ++attempt, g.itmax *= 2) {
    Outcome a = bench.run(c, g);
    Grid twice = g;
    twice.itmax *= 2;
    const Outcome b = bench.run(c, twice);
    if (!a.complete() || !b.complete())
      throw std::runtime_error("N = " + std::to_string(g.N) + ", dt = " + fmt("%g", g.dt) + ": " +
                               failure(a.complete() ? b : a));
    const double change =
        std::fabs(b.outlet_pressure() - a.outlet_pressure()) / std::fabs(b.outlet_pressure());
    if (change < kConverged) return Converged{g, std::move(a), change};
  }
  throw std::runtime_error("N = " + std::to_string(g.N) + ": no convergence by doubling itmax");
}

// One probe of the window: does the run with this dt end at the steady
// solution `reference` (outlet pressure) within itmax passes?  Besides the
// doubling test the result must agree with the reference: with a very small
// dt the iteration creeps, and a doubling then changes little although the
// run is still far from the steady state.
struct Probe {
  bool ok = false;
  std::string why;
};

Probe probe(Workbench& bench, const Duct& c, int N, double dt, int itmax, double reference) {
  const Outcome a = bench.run(c, Grid{N, dt, itmax});
  if (!a.complete()) return {false, failure(a)};
  const Outcome b = bench.run(c, Grid{N, dt, 2 * itmax});
  if (!b.complete()) return {false, failure(b) + " at 2*itmax"};
  const double pa = a.outlet_pressure(), pb = b.outlet_pressure();
  if (std::fabs(pb - reference) > std::fabs(reference))
    return {false, "diverging, p(L) = " + fmt("%.1e", pb) + " Pa"};
  if (std::fabs(pb - pa) > kConverged * std::fabs(pb) ||
      std::fabs(pb - reference) > kConverged * std::fabs(reference))
    return {false, "not converged in itmax"};
  return {true, ""};
}

// One edge of the window: from `start` (converging) step by `factor` until a
// probe fails or `limit` is passed, then bisect (on log dt) down to 1 %.
struct Edge {
  double good = 0.0;                                      // the converging dt nearest the edge
  double bad = std::numeric_limits<double>::quiet_NaN();  // the failing one
  std::string why;  // how the failing one failed; empty when none failed
};

Edge find_edge(Workbench& bench, const Duct& c, int N, int itmax, double reference, double start,
               double factor, double limit) {
  Edge e;
  e.good = start;
  for (;;) {
    const double next = e.good * factor;
    if (factor < 1.0 ? next < limit : next > limit) return e;
    const Probe p = probe(bench, c, N, next, itmax, reference);
    if (!p.ok) {
      e.bad = next;
      e.why = p.why;
      break;
    }
    e.good = next;
  }
  while (std::max(e.good, e.bad) / std::min(e.good, e.bad) > 1.01) {
    const double mid = std::sqrt(e.good * e.bad);
    const Probe p = probe(bench, c, N, mid, itmax, reference);
    if (p.ok) {
      e.good = mid;
    } else {
      e.bad = mid;
      e.why = p.why;
    }
  }
  return e;
}

struct Window {
  int N = 0;
  double floor = 0.0;  // the rule's first-pass floor
  double rule_dt = 0.0;
  int itmax = 0;
  bool open = false;
  Edge lower, upper;
  std::string closed_why;  // when no dt converged
};

// The window around the rule's dt, for the itmax of the converged run.  When
// the rule's dt itself fails, dt is scanned from floor/2 to 8*L/Uin for any
// converging value first.  A NaN reference means that no dt converged.
Window measure_window(Workbench& bench, const Duct& c, const Grid& g, double reference) {
  Window w;
  w.N = g.N;
  w.floor = first_pass_floor(c, g.N);
  w.rule_dt = g.dt;
  w.itmax = g.itmax;
  if (std::isnan(reference)) {
    const Outcome r = bench.run(c, g);
    w.closed_why = r.complete() ? "not converged in itmax" : failure(r);
    return w;
  }
  double seed = g.dt;
  Probe p = probe(bench, c, g.N, seed, g.itmax, reference);
  if (!p.ok) {
    w.closed_why = p.why;
    const double top = 8.0 * c.L / c.Uin;
    for (seed = 0.5 * w.floor; seed <= top; seed *= std::pow(2.0, 0.125)) {
      p = probe(bench, c, g.N, seed, g.itmax, reference);
      if (p.ok) break;
    }
    if (!p.ok) return w;
  }
  w.open = true;
  w.lower = find_edge(bench, c, g.N, g.itmax, reference, seed, 0.5, seed * 1e-30);
  w.upper = find_edge(bench, c, g.N, g.itmax, reference, seed, std::pow(2.0, 0.25), seed * 1e6);
  return w;
}

// The outlet pressure of a grid whose rule dt may not converge: the steady
// state does not depend on dt, so any converging dt gives it.  Scans dt over
// the same range as measure_window and returns NaN when nothing converges.
double steady_outlet_pressure(Workbench& bench, const Duct& c, const Grid& g) {
  const double top = 8.0 * c.L / c.Uin;
  for (double dt = 0.5 * first_pass_floor(c, g.N); dt <= top; dt *= std::pow(2.0, 0.125)) {
    Grid t = g;
    t.dt = dt;
    const Outcome a = bench.run(c, t);
    t.itmax *= 2;
    const Outcome b = bench.run(c, t);
    if (a.complete() && b.complete() &&
        std::fabs(b.outlet_pressure() - a.outlet_pressure()) <
            kConverged * std::fabs(b.outlet_pressure()))
      return b.outlet_pressure();
  }
  return std::numeric_limits<double>::quiet_NaN();
}

struct Row {
  Converged conv;
  double dx = 0.0;
  double p_error = 0.0, u_error = 0.0, spread = 0.0;
  double u_error_at = 0.0;  // position of the node with the largest velocity error
  double p_order = std::numeric_limits<double>::quiet_NaN();
  double u_order = std::numeric_limits<double>::quiet_NaN();
};

std::string dt_text(double dt) {
  return fmt("%.3g", dt);
}

std::string edge_text(const Edge& e) {
  if (e.why.empty()) return "none found";
  return dt_text(e.good);
}

std::string why_text(const Edge& e, double limit_factor) {
  if (e.why.empty()) return "converges to " + fmt("%.0e", limit_factor) + " x rule dt";
  return e.why + " at " + dt_text(e.bad);
}

void rewrite_blocks(const std::string& file, const std::map<std::string, std::string>& blocks) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read " + file);
  std::stringstream all;
  all << in.rdbuf();
  std::string text = all.str();
  for (const auto& [name, body] : blocks) {
    const std::string open = "<!-- study:" + name + " -->\n";
    const std::string close = "<!-- /study:" + name + " -->";
    const std::size_t a = text.find(open);
    const std::size_t b = text.find(close);
    if (a == std::string::npos || b == std::string::npos || b < a)
      throw std::runtime_error(file + " has no block " + name);
    text.replace(a + open.size(), b - a - open.size(), body + "\n");
  }
  std::ofstream out(file, std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + file);
}

int study(int argc, char** argv) {
  std::string markdown, plot_data;
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--markdown" && k + 1 < argc) {
      markdown = argv[++k];
    } else if (arg == "--plot-data" && k + 1 < argc) {
      plot_data = argv[++k];
    } else {
      std::cerr << "usage: verification_study [--markdown FILE] [--plot-data FILE]\n";
      return 2;
    }
  }

  const Duct c;  // L = 1, mi = 0.001, ro = 1000, f = 0.02, Uin = 1, D0 = 0.1, cd = 0.05
  const double exact = pressure_rise(c, 0.0, c.L);
  // Leading error of upwind convection: the velocity difference over a
  // volume is the slope half a width upstream, so each volume's convective
  // force per area is ro*u*(du/dx - dx/2*d2u/dx2); summed over the duct,
  // p(L) - p(0) comes out too high by (ro*dx/2) * integral of u*d2u/dx2.
  const double viscous_part = integral(
      [&c](double x) {
        return c.mi *
               (velocity_curvature(c, x) + 2.0 * c.cd / diameter(c, x) * velocity_slope(c, x));
      },
      0.0, c.L);
  const double upwind_coefficient =
      0.5 * c.ro *
      integral([&c](double x) { return velocity(c, x) * velocity_curvature(c, x); }, 0.0, c.L);

  // The floor as N grows: lambda = 1 - 300*ln(10)/(N-2) and the floor tends
  // to ro*L^2/(mi*(300*ln 10)^2), the time step whose viscous diffusion
  // length sqrt(mi*dt/ro) is L/(300*ln 10).
  const double fine_grid_floor = c.ro * c.L * c.L / (c.mi * std::pow(300.0 * std::log(10.0), 2.0));

  Workbench bench;
  std::vector<Row> rows;
  std::vector<Window> windows;
  for (int N : kStudyGrids) {
    std::cerr << "grid N = " << N << " ..." << std::endl;
    Row r;
    r.conv = converge(bench, c, rule_grid(c, N));
    r.dx = grid_width(c, N);
    r.p_error = std::fabs(r.conv.run.outlet_pressure() - exact);
    r.u_error = max_velocity_error(c, r.conv.run);
    for (std::size_t i = 0; i < r.conv.run.x.size(); ++i)
      if (std::fabs(r.conv.run.u[i] - velocity(c, r.conv.run.x[i])) == r.u_error)
        r.u_error_at = r.conv.run.x[i];
    r.spread = continuity_spread(c, r.conv.run);
    if (!rows.empty()) {
      const Row& prev = rows.back();
      r.p_order = observed_order(prev.p_error, prev.dx, r.p_error, r.dx);
      r.u_order = observed_order(prev.u_error, prev.dx, r.u_error, r.dx);
    }
    windows.push_back(measure_window(bench, c, r.conv.grid, r.conv.run.outlet_pressure()));
    rows.push_back(std::move(r));
  }
  for (int N : kWindowOnlyGrids) {
    std::cerr << "window of N = " << N << " ..." << std::endl;
    const Grid g = rule_grid(c, N);
    windows.push_back(measure_window(bench, c, g, steady_outlet_pressure(bench, c, g)));
  }

  // Richardson extrapolation of the three finest grids, p = p0 + C*dx + E*dx^2
  // with dx halving: p0 = (8*p3 - 6*p2 + p1)/3.
  const std::size_t n = rows.size();
  const double p1 = rows[n - 3].conv.run.outlet_pressure();
  const double p2 = rows[n - 2].conv.run.outlet_pressure();
  const double p3 = rows[n - 1].conv.run.outlet_pressure();
  const double richardson = (8.0 * p3 - 6.0 * p2 + p1) / 3.0;

  std::ostringstream summary;
  summary << "- exact pressure rise `p(L) - p(0)` of the model (Gauss-Legendre quadrature): "
          << fmt("%.10f", exact) << " Pa, of which viscous diffusion " << fmt("%.2e", viscous_part)
          << " Pa\n"
          << "- Richardson extrapolation of the three finest grids: " << fmt("%.10f", richardson)
          << " Pa (differs from the exact value by " << fmt("%.2e", richardson - exact) << " Pa)\n"
          << "- leading error predicted for upwind convection, `(ro/2)*integral(u*u'') dx`: "
          << fmt("%.2f", upwind_coefficient) << " Pa/m times dx\n"
          << "- first-pass floor of dt on ever finer grids, `ro*L^2/(mi*(300*ln 10)^2)`: "
          << fmt("%.3g", fine_grid_floor) << " s\n";

  std::ostringstream grids;
  grids << "| N | dx [m] | dt [s] | itmax | doubling change | p(L) - p(0) [Pa] | error [Pa] "
           "| error/dx [Pa/m] | order | max velocity error [m/s] | at x [m] | order | continuity "
           "spread |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const Row& r : rows) {
    const Grid& g = r.conv.grid;
    grids << "| " << g.N << " | " << fmt("%.5f", r.dx) << " | " << dt_text(g.dt) << " | " << g.itmax
          << " | " << fmt("%.1e", r.conv.change) << " | "
          << fmt("%.6f", r.conv.run.outlet_pressure()) << " | " << fmt("%.4e", r.p_error) << " | "
          << fmt("%.2f", r.p_error / r.dx) << " | "
          << (std::isnan(r.p_order) ? "" : fmt("%.3f", r.p_order)) << " | "
          << fmt("%.4e", r.u_error) << " | " << fmt("%.5f", r.u_error_at) << " | "
          << (std::isnan(r.u_order) ? "" : fmt("%.3f", r.u_order)) << " | " << fmt("%.1e", r.spread)
          << " |\n";
  }

  std::ostringstream win;
  // Uin*dt*itmax/dx at the lower edge: the number of volumes a particle
  // crosses in the pseudo-time of the run.
  win << "| N | itmax | first-pass floor [s] | lower edge [s] | `Uin*dt*itmax/dx` there | just "
         "below "
         "| rule dt [s] | upper edge [s] | just above |\n"
      << "|---:|---:|---:|---:|---:|---|---:|---:|---|\n";
  for (const Window& w : windows) {
    win << "| " << w.N << " | " << w.itmax << " | " << dt_text(w.floor) << " | ";
    if (!w.open) {
      win << "none | | no dt from " << dt_text(0.5 * w.floor) << " to "
          << dt_text(8.0 * c.L / c.Uin) << " converges | " << dt_text(w.rule_dt)
          << " | none | rule dt: " << w.closed_why << " |\n";
      continue;
    }
    const double crossings = c.Uin * w.lower.good * w.itmax / grid_width(c, w.N);
    win << edge_text(w.lower) << " | " << fmt("%.1f", crossings) << " | "
        << why_text(w.lower, 1e-30) << " | " << dt_text(w.rule_dt) << " | " << edge_text(w.upper)
        << " | " << why_text(w.upper, 1e6) << " |\n";
  }

  std::cout << summary.str() << "\n" << grids.str() << "\n" << win.str();

  if (!plot_data.empty()) {
    std::ofstream out(plot_data, std::ios::trunc);
    out << "# dx [m]   |p(L) error|/|p(L) - p(0)|   max |u error|/Uin   N\n";
    for (const Row& r : rows)
      out << fmt("%.8e", r.dx) << " " << fmt("%.8e", r.p_error / std::fabs(exact)) << " "
          << fmt("%.8e", r.u_error / c.Uin) << " " << r.conv.grid.N << "\n";
    if (!out) throw std::runtime_error("cannot write " + plot_data);
  }
  if (!markdown.empty())
    rewrite_blocks(markdown,
                   {{"summary", summary.str()}, {"grids", grids.str()}, {"windows", win.str()}});
  return 0;
}

}  // namespace
}  // namespace moody::verification

int main(int argc, char** argv) {
  try {
    return moody::verification::study(argc, argv);
  } catch (const std::exception& e) {
    std::cerr << "verification_study: " << e.what() << "\n";
    return 1;
  }
}
