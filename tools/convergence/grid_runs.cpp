#include "grid_runs.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "control/fpe.hpp"
#include "control/principal.hpp"
#include "control/runtime_error.hpp"
#include "control/start.hpp"
#include "flow/coef.hpp"
#include "grid_files.hpp"
#include "io/input_number.hpp"
#include "io/input_values.hpp"
#include "lane_trials.hpp"
#include "run.hpp"
#include "terminal.hpp"
#include "text_format.hpp"

namespace moody::convergence {

namespace {

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
  std::string t = format("no dt converges within the cap of %lld passes", lld_arg(cap));
  if (!w.trials.empty()) {
    t += format(" (%llu tried, %s to %s s)", llu_arg(w.trials.size()),
                dt_text(w.trials.front().dt).c_str(), dt_text(w.trials.back().dt).c_str());
  }
  if (std::isfinite(w.floor))
    t += "; the time-step floor of the grid is " + dt_text(w.floor) + " s";
  return t;
}

}  // namespace

std::vector<std::unique_ptr<SimulationState>> sized_grids(const Parameters& dados,
                                                          const std::vector<int>& grids) {
  std::vector<std::unique_ptr<SimulationState>> states;
  for (int N : grids) {
    states.push_back(std::make_unique<SimulationState>());
    Parameters& parameters = *states.back();
    parameters = dados;
    parameters.N = N;
    size_state(*states.back());
  }
  return states;
}

// A line on standard error as each grid ends, when that is a terminal.
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
        std::fprintf(stderr, "\rgrid study: N = %d done (%llu of %llu)   ", states[k]->N,
                     llu_arg(done), llu_arg(order.size()));
      }
    });
  }
  for (std::thread& t : rest)
    t.join();
  if (progress) std::fputs("\r                                             \r", stderr);
  if (failure) std::rethrow_exception(failure);
  return runs;
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
    g.failure =
        "the run at dt = " + input_number::round_trip_text(g.dt) + " s does not converge again";
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

}  // namespace moody::convergence
