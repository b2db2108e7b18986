#include "grid.hpp"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>

#include "control/fpe.hpp"
#include "control/principal.hpp"
#include "control/runtime_error.hpp"
#include "control/start.hpp"
#include "duct_solution.hpp"
#include "flow/coef.hpp"
#include "gci.hpp"
#include "grid_files.hpp"
#include "io/input_number.hpp"
#include "io/input_values.hpp"
#include "report.hpp"
#include "run.hpp"
#include "terminal.hpp"

namespace moody::convergence {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kTableFile = "malhas.dat";

#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((format(printf, 1, 2)))
#endif
std::string
format(const char* fmt, ...);

std::string format(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

long long ll(std::int64_t v) {
  return v;  // the type printf's %lld takes, whatever int64_t is here
}

unsigned long long ull(std::size_t v) {
  return v;  // the type printf's %llu takes, whatever size_t is here
}

std::string real_text(double v) {
  return input_number::round_trip_text(v);
}

// A pressure to ten significant digits; "none" for NaN.
std::string pa(double v) {
  return std::isnan(v) ? std::string("none") : format("%.10g Pa", v);
}

// The folder of a grid.
std::string folder_of(int N) {
  return "malha-" + std::to_string(N);
}

// Real volumes of a grid.
double volumes(int N) {
  return static_cast<double>(N) - 2.0;
}

// An integer list "52,102,202"; false when it is not one.
bool parse_list(std::string_view text, std::vector<int>& out) {
  out.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string_view item = text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    if (item.empty() || item.find_first_not_of("0123456789") != std::string_view::npos)
      return false;
    const input_number::IntegerResult n = input_number::read_integer(item);
    if (n.status != input_number::Status::kOk) return false;
    out.push_back(n.value);
    if (comma == std::string_view::npos) return true;
    start = comma + 1;
  }
}

// The movement of the outlet pressure over the last tenth of the passes:
// the largest distance from the final value of any pass since.
double settling(const Outcome& o) {
  const std::int64_t from = o.passes - std::max<std::int64_t>(1, o.passes / 10);
  const double final = o.last.outlet;
  double most = 0.0;
  for (const Row& row : o.rows) {
    if (row.pass <= from) continue;
    most = std::max({most, std::fabs(row.low - final), std::fabs(row.high - final)});
  }
  return most;
}

// How a window without a converging dt ended.
std::string closed_text(const Window& w, std::int64_t cap) {
  std::string t = format("no dt converges within the cap of %lld passes", ll(cap));
  if (!w.trials.empty()) {
    t += format(" (%llu tried, %s to %s s)", ull(w.trials.size()),
                dt_text(w.trials.front().dt).c_str(), dt_text(w.trials.back().dt).c_str());
  }
  if (std::isfinite(w.floor))
    t += "; the time-step floor of the grid is " + dt_text(w.floor) + " s";
  return t;
}

// The window of each grid searched on every core, the finest (the longest)
// first; the rest of each grid's work (its run and the program's) on a
// thread of its own beside the searches that follow.  A line on standard
// error as each grid ends, when that is a terminal.
std::vector<GridRun> run_grids(std::vector<std::unique_ptr<SimulationState>>& states) {
  std::vector<GridRun> runs(states.size());
  std::vector<std::size_t> order(states.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return states[a]->N > states[b]->N; });
  std::mutex lock;
  std::exception_ptr failure;
  std::size_t done = 0;
  const bool progress = stderr_is_terminal();
  const auto failed = [&] {
    const std::lock_guard<std::mutex> hold(lock);
    if (!failure) failure = std::current_exception();
  };
  const int cores = search_cores();
  std::vector<std::thread> rest;
  for (const std::size_t k : order) {
    Window window;
    try {
      window = search_window_in_lanes(*states[k], nullptr, cores);
    } catch (...) {
      failed();
      break;
    }
    rest.emplace_back([&, k, w = std::move(window)]() mutable {
      try {
        runs[k] = run_grid(*states[k], std::move(w));
      } catch (...) {
        failed();
        return;
      }
      const std::lock_guard<std::mutex> hold(lock);
      ++done;
      if (progress) {
        std::fprintf(stderr, "\rgrid study: N = %d done (%llu of %llu)   ", states[k]->N, ull(done),
                     ull(order.size()));
      }
    });
  }
  for (std::thread& t : rest)
    t.join();
  if (progress) std::fputs("\r                                             \r", stderr);
  if (failure) std::rethrow_exception(failure);
  return runs;
}

// Writes `bytes` to `name` in `folder`, or ends the run with an F frame.
void replace_or_fail(const std::string& folder, const std::string& name, std::string_view bytes) {
  const std::string problem = replace_file(folder, name, bytes);
  if (!problem.empty()) {
    const std::string path = folder.empty() ? name : folder + "/" + name;
    fatal(ErrorCode::kWriteFailed, path + ": cannot write the file: " + problem);
  }
}

// What the study found from the grids that converged.
struct Estimate {
  std::vector<const GridRun*> grids;  // converged, coarse to fine
  bool three = false;                 // three of them at least
  Gci gci;
  PowerFit fit;
  double exact = kNaN;
  double extrapolated = kNaN;
  double needed_N = kNaN;  // for the target GCI
};

Estimate estimate(const std::vector<GridRun>& runs, const SimulationState& s, double target) {
  Estimate e;
  for (const GridRun& g : runs) {
    if (g.converged) e.grids.push_back(&g);
  }
  e.exact = verification::pressure_rise(s, 0.0, s.L);
  const std::size_t n = e.grids.size();
  if (n < 3) return e;
  e.three = true;
  const GridRun& g1 = *e.grids[n - 1];
  const GridRun& g2 = *e.grids[n - 2];
  const GridRun& g3 = *e.grids[n - 3];
  e.gci = grid_convergence_index({g1.dx, g2.dx, g3.dx, g1.outlet, g2.outlet, g3.outlet});
  e.extrapolated = e.gci.extrapolated;
  if (e.gci.has_order() && e.gci.gci_fine > 0.0) {
    e.needed_N = std::ceil(volumes_for_gci(volumes(g1.N), e.gci.gci_fine, e.gci.p, target)) + 2.0;
  }
  if (n >= 4) {
    std::vector<double> h, phi;
    for (const GridRun* g : e.grids) {
      h.push_back(g->dx);
      phi.push_back(g->outlet);
    }
    e.fit = least_squares_fit(h, phi);
  }
  return e;
}

std::string signed_e(double v) {
  return std::isnan(v) ? std::string("none") : format("%+.4e", v);
}

std::string percent(double v) {
  return std::isnan(v) ? std::string("none") : format("%+.4f", 100.0 * v);
}

// v/|base|, NaN when base is zero or NaN.
double fraction(double v, double base) {
  return base != 0.0 && !std::isnan(base) ? v / std::fabs(base) : kNaN;
}

std::string table(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t =
      format("%6s  %-14s %-9s %7s  %20s  %20s %9s  %20s %9s\n", "N", "dx [m]", "dt [s]", "passes",
             "outlet pressure [Pa]", "estimated error [Pa]", "[%]", "true error [Pa]", "[%]");
  bool marked = false;
  for (const GridRun& g : runs) {
    if (!g.converged) {
      t += format("%6d  %-14.10g %s\n", g.N, g.dx, g.failure.c_str());
      continue;
    }
    const double estimated = g.outlet - e.extrapolated;
    const double truth = g.outlet - e.exact;
    const std::string dt = real_text(g.dt) + (g.dt_of_dados ? "*" : "");
    marked = marked || g.dt_of_dados;
    t += format("%6d  %-14.10g %-9s %7lld  %20.10g  %20s %9s  %20s %9s\n", g.N, g.dx, dt.c_str(),
                ll(g.passes), g.outlet, signed_e(estimated).c_str(),
                percent(fraction(estimated, e.extrapolated)).c_str(), signed_e(truth).c_str(),
                percent(fraction(truth, e.exact)).c_str());
  }
  t += "dt: the window search's recommendation";
  t += marked ? "; * the dt of dados.txt, which converges within 1.5 times its passes\n" : "\n";
  t += "passes: the run to convergence by the tool's test, the itmax of malha-N/dados.txt\n";
  return t;
}

std::string malhas_text(const std::vector<GridRun>& runs, const Estimate& e) {
  std::string t =
      "# N  dx [m]  dt [s]  passes  outlet pressure [Pa]  estimated error [Pa]  true error [Pa]"
      "  (estimated: against the extrapolated value " +
      (std::isnan(e.extrapolated) ? std::string("(none)") : format("%.17g Pa", e.extrapolated)) +
      "; true: against the exact value " + format("%.17g", e.exact) + " Pa)\r\n";
  for (const GridRun& g : runs) {
    if (!g.converged) continue;
    t += format("%d %.17g %s %lld %.17g %.17g %.17g\r\n", g.N, g.dx, real_text(g.dt).c_str(),
                ll(g.passes), g.outlet, g.outlet - e.extrapolated, g.outlet - e.exact);
  }
  return t;
}

// The five lines.
std::string summary(const Estimate& e, const GridOptions& options) {
  const Gci& c = e.gci;
  const bool order = e.three && c.has_order();
  std::string t = "exact outlet pressure of the 1-D model: " + pa(e.exact) + "\n";
  t += "observed order: " + (order ? format("%.6g", c.p) : std::string("none")) + "\n";
  t += "extrapolated outlet pressure: " + pa(order ? e.extrapolated : kNaN) + "\n";
  const GridRun* fine = e.grids.empty() ? nullptr : e.grids.back();
  t += "GCI of the finest grid: " +
       (order && fine != nullptr
            ? format("%.4g %% (%.4g Pa)", 100.0 * c.gci_fine, c.gci_fine * std::fabs(fine->outlet))
            : std::string("none")) +
       "\n";
  t += "for a GCI of " + options.target_text +
       " %: N = " + (std::isnan(e.needed_N) ? std::string("none") : format("%.0f", e.needed_N)) +
       "\n";
  return t;
}

// The iteration error beside the discretisation error of each grid (the
// estimated one, or the true one without an extrapolated value).
std::string iteration_error(const Estimate& e) {
  std::string t;
  // The iteration error beside the discretisation error of each grid.
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
std::string details(const Estimate& e) {
  std::string t;
  if (!e.three) {
    t += format("fewer than three grids converge (%llu): no order, extrapolation or GCI\n",
                ull(e.grids.size()));
    return t + iteration_error(e);
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
    t += format(
        "asymptotic-range ratio GCI32/(r21^p*GCI21): %.6g (near 1 in the asymptotic range)\n",
        c.asymptotic);
    const GridRun& fine = *e.grids.back();
    const double band = c.gci_fine * std::fabs(fine.outlet);
    const bool inside = std::fabs(e.exact - fine.outlet) <= band;
    t += format("the exact value is %s the GCI band of the finest grid, %.10g +- %.4g Pa\n",
                inside ? "inside" : "outside", fine.outlet, band);
  }
  if (e.fit.found) {
    t += format(
        "least-squares fit of the %llu grids, phi = phi0 + alpha*dx^p: p = %.6g, phi0 = %.10g Pa, "
        "rms residual %.3g Pa\n",
        ull(n), e.fit.p, e.fit.phi0, e.fit.rms);
  } else if (n >= 4) {
    t += format("least-squares fit of the %llu grids: no minimum for p in (0.05, 10)\n", ull(n));
  }
  return t + iteration_error(e);
}

}  // namespace

int take_grid_option(int argc, char** argv, int k, GridOptions& options, std::string& problem) {
  const std::string_view arg = argv[k];
  if (arg == "--grid") {
    options.active = true;
    options.grids.clear();
    return 1;
  }
  if (arg.starts_with("--grid=")) {
    options.active = true;
    if (!parse_list(arg.substr(7), options.grids)) {
      problem = "--grid=N1,N2,...: a list of whole numbers separated by commas, not \"" +
                std::string(arg.substr(7)) + "\"";
      return -1;
    }
    if (const std::string bad = sort_and_check_grids(options.grids); !bad.empty()) {
      problem = "--grid: " + bad;
      return -1;
    }
    return 1;
  }
  const bool separate = arg == "--target";
  if (separate || arg.starts_with("--target=")) {
    if (separate && k + 1 >= argc) {
      problem = "--target needs a value, the GCI in percent";
      return -1;
    }
    const std::string_view value = separate ? std::string_view(argv[k + 1]) : arg.substr(9);
    const input_number::RealResult r = input_number::read_real(value);
    if (r.status != input_number::Status::kOk || !(r.value > 0.0) || !(r.value < 100.0)) {
      problem =
          "--target: a GCI in percent, above 0 and below 100, not \"" + std::string(value) + "\"";
      return -1;
    }
    options.target = r.value / 100.0;
    options.target_text = std::string(value);
    options.target_given = true;
    return separate ? 2 : 1;
  }
  return 0;
}

std::string grid_options_problem(const GridOptions& options, bool window) {
  if (options.target_given && !options.active) return "--target goes with --grid";
  if (options.active && window) return "--grid and --window are two different studies";
  return "";
}

std::string sort_and_check_grids(std::vector<int>& grids) {
  std::sort(grids.begin(), grids.end());
  if (grids.size() < 3) return "a study needs three grids or more";
  if (grids.front() < 3) {
    return "N = " + std::to_string(grids.front()) + " has no real volume; every N must be >= 3";
  }
  for (std::size_t k = 1; k < grids.size(); ++k) {
    const double ratio = volumes(grids[k]) / volumes(grids[k - 1]);
    if (!(ratio >= kMinimumRatio)) {
      return format(
          "N = %d and N = %d are too close: the refinement ratio (N_a - 2)/(N_b - 2) = %.4g "
          "must be at least %.1f",
          grids[k - 1], grids[k], ratio, kMinimumRatio);
    }
  }
  return "";
}

std::vector<int> default_grids(int N) {
  const std::int64_t n = N;
  const std::int64_t finest = 4 * (n - 2) + 2;
  if (finest > std::numeric_limits<std::int32_t>::max()) return {};
  return {N, static_cast<int>(2 * (n - 2) + 2), static_cast<int>(finest)};
}

std::string grid_dados(const SimulationState& s, double dt, std::int64_t itmax) {
  const struct {
    std::string value;
    const char* comment;
  } lines[] = {
      {std::to_string(s.N), "N   - volumes, including the two fictitious ones"},
      {real_text(s.L), "L   [m]      length of the duct"},
      {real_text(s.mi), "mi  [Pa.s]   dynamic viscosity"},
      {real_text(s.ro), "ro  [kg/m3]  density"},
      {real_text(s.f), "f   Darcy friction factor"},
      {real_text(s.Uin), "Uin [m/s]    inlet velocity"},
      {real_text(s.D0), "D0  [m]      inlet diameter"},
      {real_text(s.cd), "cd           growth of the diameter per metre of length"},
      {real_text(dt), "dt  [s]      time step (grid study)"},
      {real_text(s.beta), "beta, 1 = CDS  (echoed in the report only)"},
      {std::to_string(itmax), "itmax        outer iterations: the grid study's run to convergence"},
      {std::to_string(s.itmaxm), "itmaxm       (echoed in the report only)"},
  };
  std::string t;
  for (const auto& line : lines) {
    std::string value = line.value;
    value.resize(std::max<std::size_t>(value.size() + 1, 9), ' ');
    t += value + line.comment + "\r\n";
  }
  return t;
}

GridRun run_grid(SimulationState& s) {
  return run_grid(s, search_window_in_lanes(s));
}

GridRun run_grid(SimulationState& s, Window window) {
  GridRun g;
  g.N = s.N;
  g.dx = s.L / (static_cast<double>(s.N) - 2.0);  // as the program forms it
  g.window = std::move(window);
  if (!g.window.open) {
    g.failure = closed_text(g.window, cap_for(s.itmax));
    return g;
  }

  // The recommended dt, or that of dados.txt where it does nearly as well.
  Trial chosen = g.window.recommended;
  if (s.dt > 0.0) {
    const auto tried = std::find_if(g.window.trials.begin(), g.window.trials.end(),
                                    [&](const Trial& t) { return t.dt == s.dt; });
    const Trial own = tried != g.window.trials.end() ? *tried : try_dt(s, s.dt);
    if (own.ok() && static_cast<double>(own.needed) <=
                        kDadosPassesFactor * static_cast<double>(chosen.needed)) {
      chosen = own;
      g.dt_of_dados = own.dt != g.window.recommended.dt;
    }
  }
  g.dt = chosen.dt;

  // The program's run of malha-N/dados.txt, watched pass by pass as run()
  // watches a trial: where it converges is the folder's itmax, and the state
  // it stops in is the program's after that many passes.  The parameters come
  // from the program's reader of the folder's dados.txt.
  SimulationState p;
  const auto parse = [&](std::int64_t itmax) {
    fpe::Masked masked;
    g.dados = grid_dados(s, g.dt, itmax);
    SimulationState read;
    if (const std::optional<InputError> error = parse_input(g.dados, read)) {
      fatal(error->code, folder_of(g.N) + "/" + error->description);
    }
    Parameters& parameters = p;
    parameters = read;
  };
  parse(s.itmax);  // the cap and the watch of the search
  size_state(p);
  const Outcome o = run(p);
  if (o.ending != Ending::kConverged) {
    g.failure = "the run at dt = " + real_text(g.dt) + " s does not converge again";
    return g;
  }
  g.passes = o.passes;
  g.iteration_error = settling(o);
  parse(o.passes);
  {
    fpe::Masked masked;
    inventory(p);
  }
  g.outlet = p.p(p.N);
  g.texts = report_texts(p);
  g.converged = true;
  return g;
}

int grid_study(const SimulationState& s, const GridOptions& options) {
  std::vector<int> grids = options.grids;
  if (grids.empty()) {
    grids = default_grids(s.N);
    if (grids.empty()) {
      std::fprintf(stderr, "convergence: --grid: N = %d of dados.txt is too large to refine\n",
                   s.N);
      return kExitUsage;
    }
  }

  // Every grid sized before any runs, so that one the machine cannot hold
  // stops the study at once, with the program's frame.
  std::vector<std::unique_ptr<SimulationState>> states;
  for (int N : grids) {
    states.push_back(std::make_unique<SimulationState>());
    Parameters& parameters = *states.back();
    parameters = s;
    parameters.N = N;
    size_state(*states.back());
  }

  std::string head = "grid study: N =";
  for (std::size_t k = 0; k < grids.size(); ++k)
    head += (k == 0 ? " " : ", ") + std::to_string(grids[k]);
  head += "; everything but N and dt as in dados.txt\n";
  std::fputs(head.c_str(), stdout);
  std::fflush(stdout);

  const std::vector<GridRun> runs = run_grids(states);
  const Estimate e = estimate(runs, s, options.target);

  // The folders and malhas.dat, before anything is said of them.
  for (const GridRun& g : runs) {
    if (!g.converged) continue;
    const std::string folder = folder_of(g.N);
    if (const std::string problem = make_folder(folder); !problem.empty()) {
      fatal(ErrorCode::kOpenFailed, folder + ": cannot use the folder: " + problem);
    }
    replace_or_fail(folder, "dados.txt", g.dados);
    replace_or_fail(folder, "saida.txt", g.texts.saida);
    replace_or_fail(folder, "u.dat", g.texts.u);
    replace_or_fail(folder, "p.dat", g.texts.p);
  }
  replace_or_fail("", kTableFile, malhas_text(runs, e));

  std::string t = "\n" + table(runs, e) + "\n" + summary(e, options) + "\n" + details(e);
  std::string written;
  for (const GridRun& g : runs) {
    if (g.converged) written += " " + folder_of(g.N) + "/";
  }
  t += "written:" + written + " (dados.txt, saida.txt, u.dat, p.dat) and " + kTableFile + "\n";

  // The verdict.
  int status = kExitConverged;
  const GridRun* finest_converged = e.grids.empty() ? nullptr : e.grids.back();
  for (const GridRun& g : runs) {
    if (g.converged) continue;
    t += format("grid N = %d does not converge: %s\n", g.N, g.failure.c_str());
    status = kExitNoConvergence;
  }
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
  std::fputs(t.c_str(), stdout);
  return status;
}

}  // namespace moody::convergence
