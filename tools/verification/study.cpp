// Verification study: runs the program on a sequence of ever finer grids of
// one duct case, compares the outlet pressure and the nodal velocities with
// the exact steady solution of the 1-D model, and measures for every grid the
// window of time steps in which the outer iteration converges.  The window,
// the time step and the passes come from the convergence tool's search; the
// program then runs with them, and the passes the tool says are needed are
// checked against the program's own output.
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
#include "lane_trials.hpp"
#include "program_run.hpp"
#include "report.hpp"
#include "window.hpp"

namespace moody::verification {
namespace {

using convergence::Trial;
using convergence::Window;

// Every grid's window; the error study on the first six (dx halves from one
// to the next).
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

// The window of a grid, by the convergence tool's search, its trials in lanes.
Window search(const Duct& c, int N) {
  SimulationState s;
  set_case(s, c, Grid{N, 0.0, 20 * N});  // no dt of its own to try first
  return convergence::search_window_in_lanes(s, nullptr, convergence::search_cores());
}

struct Row {
  Grid grid;            // the recommended dt, and the passes that the tool ran to convergence
  Outcome run;          // the program's run of those passes
  int needed = 0;       // the passes the tool says are needed
  double change = 0.0;  // |p(L) after `needed` passes - p(L) of `run`| / |p(L) of `run`|
  double dx = 0.0;
  double p_error = 0.0, u_error = 0.0, spread = 0.0;
  double u_error_at = 0.0;  // position of the node with the largest velocity error
  double p_order = std::numeric_limits<double>::quiet_NaN();
  double u_order = std::numeric_limits<double>::quiet_NaN();
};

std::string dt_text(double dt) {
  return convergence::dt_text(dt);
}

// The failing dt beside an edge and how it failed, or that the search limit
// came first.
std::string outside_edge_text(const Trial& t, double limit) {
  if (t.dt == 0.0) return "converges up to the search limit " + dt_text(limit);
  return convergence::trial_text(t) + " at " + dt_text(t.dt);
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

// The options of the command line; false on a word it does not take.
struct Options {
  std::string markdown, plot_data;
};

bool read_options(int argc, char** argv, Options& o) {
  for (int k = 1; k < argc; ++k) {
    const std::string arg = argv[k];
    if (arg == "--markdown" && k + 1 < argc) {
      o.markdown = argv[++k];
    } else if (arg == "--plot-data" && k + 1 < argc) {
      o.plot_data = argv[++k];
    } else {
      return false;
    }
  }
  return true;
}

// The program's run of grid N with the window's recommended dt, checked
// against the tool's run of the same passes, and its errors against the
// exact solution; the orders from the row of the grid before, if any.
Row measure(Workbench& bench, const Duct& c, int N, const Trial& t, double exact,
            const std::vector<Row>& rows) {
  Row r;
  r.grid = Grid{N, t.dt, static_cast<int>(t.passes)};
  r.needed = static_cast<int>(t.needed);
  r.run = bench.run(c, r.grid);
  const Outcome at_needed = bench.run(c, Grid{N, t.dt, r.needed});
  if (!r.run.complete() || !at_needed.complete())
    throw std::runtime_error("N = " + std::to_string(N) + ", dt = " + dt_text(t.dt) + ": " +
                             failure(r.run.complete() ? at_needed : r.run));
  const double converged = r.run.outlet_pressure();
  // The program's report and the tool's run are the same passes.
  if (std::fabs(converged - t.converged) > 1e-14 * std::fabs(converged))
    throw std::runtime_error("N = " + std::to_string(N) + ": the program ends at " +
                             fmt("%.17g", converged) + " Pa, the tool at " +
                             fmt("%.17g", t.converged) + " Pa");
  r.change = std::fabs(at_needed.outlet_pressure() - converged) / std::fabs(converged);
  if (r.change > convergence::kBand)
    throw std::runtime_error("N = " + std::to_string(N) + ": after the " +
                             std::to_string(r.needed) + " passes needed the outlet pressure is " +
                             fmt("%.1e", r.change) + " from the converged one");
  r.dx = grid_width(c, N);
  r.p_error = std::fabs(converged - exact);
  r.u_error = max_velocity_error(c, r.run);
  for (std::size_t i = 0; i < r.run.x.size(); ++i)
    if (std::fabs(r.run.u[i] - velocity(c, r.run.x[i])) == r.u_error) r.u_error_at = r.run.x[i];
  r.spread = continuity_spread(c, r.run);
  if (!rows.empty()) {
    const Row& prev = rows.back();
    r.p_order = observed_order(prev.p_error, prev.dx, r.p_error, r.dx);
    r.u_order = observed_order(prev.u_error, prev.dx, r.u_error, r.dx);
  }
  return r;
}

// The block "summary": the exact rise, the extrapolated one, the predicted
// leading error and the floor of dt on fine grids.
std::string summary_block(const Duct& c, double exact, const std::vector<Row>& rows) {
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

  // Richardson extrapolation of the three finest grids, p = p0 + C*dx + E*dx^2
  // with dx halving: p0 = (8*p3 - 6*p2 + p1)/3.
  const std::size_t n = rows.size();
  const double p1 = rows[n - 3].run.outlet_pressure();
  const double p2 = rows[n - 2].run.outlet_pressure();
  const double p3 = rows[n - 1].run.outlet_pressure();
  const double richardson = (8.0 * p3 - 6.0 * p2 + p1) / 3.0;

  std::ostringstream summary;
  summary << "- exact pressure rise `p(L) - p(0)` of the model (closed form): "
          << fmt("%.10f", exact) << " Pa, of which viscous diffusion " << fmt("%.2e", viscous_part)
          << " Pa\n"
          << "- Richardson extrapolation of the three finest grids: " << fmt("%.10f", richardson)
          << " Pa (differs from the exact value by " << fmt("%.2e", richardson - exact) << " Pa)\n"
          << "- leading error predicted for upwind convection, `(ro/2)*integral(u*u'') dx`: "
          << fmt("%.2f", upwind_coefficient) << " Pa/m times dx\n"
          << "- first-pass floor of dt on ever finer grids, `ro*L^2/(mi*(300*ln 10)^2)`: "
          << fmt("%.3g", fine_grid_floor) << " s\n";
  return summary.str();
}

// The block "grids": one line of errors and orders for each grid.
std::string grids_block(const std::vector<Row>& rows) {
  std::ostringstream grids;
  grids << "| N | dx [m] | dt [s] | passes needed | p(L) there, off by | passes run | p(L) - p(0) "
           "[Pa] | error [Pa] | error/dx [Pa/m] | order | max velocity error [m/s] | at x [m] | "
           "order | continuity spread |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (const Row& r : rows) {
    const Grid& g = r.grid;
    grids << "| " << g.N << " | " << fmt("%.5f", r.dx) << " | " << dt_text(g.dt) << " | "
          << r.needed << " | " << fmt("%.1e", r.change) << " | " << g.itmax << " | "
          << fmt("%.6f", r.run.outlet_pressure()) << " | " << fmt("%.4e", r.p_error) << " | "
          << fmt("%.2f", r.p_error / r.dx) << " | "
          << (std::isnan(r.p_order) ? "" : fmt("%.3f", r.p_order)) << " | "
          << fmt("%.4e", r.u_error) << " | " << fmt("%.5f", r.u_error_at) << " | "
          << (std::isnan(r.u_order) ? "" : fmt("%.3f", r.u_order)) << " | " << fmt("%.1e", r.spread)
          << " |\n";
  }
  return grids.str();
}

// The block "windows": each grid's window, its edges and its recommended dt.
std::string windows_block(const std::vector<std::pair<int, Window>>& windows) {
  std::ostringstream win;
  win << "| N | time-step floor [s] | lower edge [s] | just below | recommended dt [s] | passes "
         "needed | upper edge [s] | just above |\n"
      << "|---:|---:|---:|---|---:|---:|---:|---|\n";
  for (const auto& [N, w] : windows) {
    win << "| " << N << " | " << dt_text(w.floor) << " | ";
    if (!w.open) {
      win << "none | no dt tried converges (" << w.trials.size() << " tried, "
          << dt_text(w.trials.front().dt) << " to " << dt_text(w.trials.back().dt)
          << ") | none | | none | |\n";
      continue;
    }
    win << dt_text(w.lower.dt) << " | " << outside_edge_text(w.below, w.bottom) << " | "
        << dt_text(w.recommended.dt) << " | " << w.recommended.needed << " | "
        << dt_text(w.upper.dt) << " | " << outside_edge_text(w.above, w.top) << " |\n";
  }
  return win.str();
}

// dx, the two relative errors and N, one grid a line.
void write_plot_data(const std::string& file, const Duct& c, double exact,
                     const std::vector<Row>& rows) {
  std::ofstream out(file, std::ios::trunc);
  out << "# dx [m]   |p(L) error|/|p(L) - p(0)|   max |u error|/Uin   N\n";
  for (const Row& r : rows)
    out << fmt("%.8e", r.dx) << " " << fmt("%.8e", r.p_error / std::fabs(exact)) << " "
        << fmt("%.8e", r.u_error / c.Uin) << " " << r.grid.N << "\n";
  if (!out) throw std::runtime_error("cannot write " + file);
}

int study(int argc, char** argv) {
  Options options;
  if (!read_options(argc, argv, options)) {
    std::cerr << "usage: verification_study [--markdown FILE] [--plot-data FILE]\n";
    return 2;
  }

  const Duct c;  // L = 1, mi = 0.001, ro = 1000, f = 0.02, Uin = 1, D0 = 0.1, cd = 0.05
  const double exact = pressure_rise(c, 0.0, c.L);

  Workbench bench;
  std::vector<Row> rows;
  std::vector<std::pair<int, Window>> windows;
  for (int N : kStudyGrids) {
    std::cerr << "grid N = " << N << " ..." << std::endl;
    const Window w = search(c, N);
    if (!w.open) throw std::runtime_error("N = " + std::to_string(N) + ": no dt converges");
    Row r = measure(bench, c, N, w.recommended, exact, rows);
    windows.emplace_back(N, w);
    rows.push_back(std::move(r));
  }
  for (int N : kWindowOnlyGrids) {
    std::cerr << "window of N = " << N << " ..." << std::endl;
    windows.emplace_back(N, search(c, N));
  }

  const std::string summary = summary_block(c, exact, rows);
  const std::string grids = grids_block(rows);
  const std::string win = windows_block(windows);
  std::cout << summary << "\n" << grids << "\n" << win;

  if (!options.plot_data.empty()) write_plot_data(options.plot_data, c, exact, rows);
  if (!options.markdown.empty())
    rewrite_blocks(options.markdown, {{"summary", summary}, {"grids", grids}, {"windows", win}});
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
