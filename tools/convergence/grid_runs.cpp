#include "grid_runs.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <limits>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

#include "control/fpe.hpp"
#include "control/memory.hpp"
#include "control/start.hpp"
#include "flow/coef.hpp"
#include "flow/sweeps.hpp"
#include "grid_options.hpp"
#include "grid_steady.hpp"
#include "lane_trials.hpp"
#include "run.hpp"
#include "terminal.hpp"
#include "text_format.hpp"

namespace moody::convergence {

namespace {

// The window without the final states of its trials: only the chosen one
// is needed, and each holds a whole state.
void drop_final_states(Window& w) {
  for (Trial* t : {&w.lower, &w.upper, &w.below, &w.above, &w.recommended})
    t->final_state.reset();
  for (Trial& t : w.trials)
    t.final_state.reset();
}

// How a window without a converging dt ended.
std::string closed_window_text(const Window& w, std::int64_t cap) {
  std::string t = format("no dt converges within the cap of %lld passes", lld_arg(cap));
  if (!w.trials.empty()) {
    t += format(" (%llu tried, %s to %s s)", llu_arg(w.trials.size()),
                dt_text(w.trials.front().dt).c_str(), dt_text(w.trials.back().dt).c_str());
  }
  if (std::isfinite(w.floor))
    t += "; the time-step floor of the grid is " + dt_text(w.floor) + " s";
  return t;
}

// The line on standard error while a grid's window is searched, redrawn
// at most ten times a second: the grid, the dt tried last, the pass where
// the search runs its trials one at a time (in lanes, the trials started),
// the time since the grid began and the grids done.
class SearchProgress : public TrialObserver {
 public:
  SearchProgress(int N, const std::atomic<std::size_t>& done, std::size_t grids)
      : N_(N), done_(done), grids_(grids) {}

  void trial(double dt) override {
    dt_ = dt;
    ++trials_;
    pass_ = 0;
    show();
  }
  void pass(std::int64_t k, const Residuals& /*r*/) override {
    pass_ = k;
    if ((k & 63) == 0) show();
  }

 private:
  void show() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const std::string at =
        pass_ > 0 ? format("pass %lld", lld_arg(pass_)) : format("%d dt started", trials_);
    std::fprintf(stderr, "\rgrid study: N = %d, dt = %s s, %s, %.0f s (%llu of %llu done)   ", N_,
                 dt_text(dt_).c_str(), at.c_str(), elapsed, llu_arg(done_.load()), llu_arg(grids_));
  }

  int N_;
  const std::atomic<std::size_t>& done_;
  std::size_t grids_;
  double dt_ = 0.0;
  int trials_ = 0;
  std::int64_t pass_ = 0;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_{};
};

// A predicted window's recommendation, and dados.txt's dt where it came
// near, run to their verdicts; where the recommendation does not converge
// after all, the whole search instead, on one core (the others search the
// grids that follow).
void complete_predicted(SimulationState& s, Window& w) {
  const auto add = [&w](const Trial& t) {
    w.trials.insert(std::upper_bound(w.trials.begin(), w.trials.end(), t.dt,
                                     [](double dt, const Trial& x) { return dt < x.dt; }),
                    t);
  };
  const double dt = w.recommended.dt;
  const Trial recommended =
      w.suspended ? trial_of(dt, resume(std::move(*w.suspended), nullptr, FinalStates::kKept))
                  : try_dt(s, dt, nullptr, FinalStates::kKept);
  w.suspended.reset();
  if (!recommended.ok()) {
    w = search_window_in_lanes(s, nullptr, 1, FinalStates::kKept);
    return;
  }
  w.recommended = recommended;
  add(recommended);
  if (w.dados.dt > 0.0) add(try_dt(s, w.dados.dt, nullptr, FinalStates::kKept));
}

}  // namespace

std::uint64_t study_bytes(const std::vector<int>& grids, int cores) {
  std::uint64_t bytes = 0;
  int finest = 0;
  for (const int N : grids) {
    const auto n = static_cast<std::uint64_t>(N > 0 ? N : 0);
    bytes += 3 * state_bytes(N) + 2 * 5 * n * sizeof(double) + 2 * kReportBytesPerNode * n;
    finest = std::max(finest, N);
  }
  return finest >= kSweepMinimumN ? bytes + search_bytes(finest, cores) : bytes;
}

std::vector<std::unique_ptr<SimulationState>> sized_grids(const Parameters& dados,
                                                          const std::vector<int>& grids) {
  if (!grids.empty()) {
    const auto [coarsest, finest] = std::minmax_element(grids.begin(), grids.end());
    require_memory(study_bytes(grids, search_cores()),
                   "the grids of the study, N = " + std::to_string(*coarsest) + " to " +
                       std::to_string(*finest));
  }
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

void raise_caps(std::vector<std::unique_ptr<SimulationState>>& states,
                const std::vector<GridRun>& before) {
  for (std::unique_ptr<SimulationState>& s : states) {
    const GridRun* a = nullptr;  // the two finest coarser grids, b the finer
    const GridRun* b = nullptr;
    for (const GridRun& g : before) {
      if (!g.converged || g.N >= s->N) continue;
      if (b == nullptr || g.N > b->N) {
        a = b;
        b = &g;
      } else if (a == nullptr || g.N > a->N) {
        a = &g;
      }
    }
    if (a == nullptr) continue;
    const double Va = real_volumes(a->N);
    const double Vb = real_volumes(b->N);
    // The growth of the passes with the volumes: taken at least linear
    // (a pass carries the inlet's change one volume on) and at most cubic.
    const double q =
        std::clamp(std::log(static_cast<double>(b->passes) / static_cast<double>(a->passes)) /
                       std::log(Vb / Va),
                   1.0, 3.0);
    const double foreseen = static_cast<double>(b->passes) * std::pow(real_volumes(s->N) / Vb, q);
    const double cap = std::min(kCapMargin * foreseen,
                                static_cast<double>(std::numeric_limits<std::int32_t>::max()));
    if (cap > static_cast<double>(cap_for(s->itmax))) s->itmax = static_cast<std::int32_t>(cap);
  }
}

// The windows searched one after the other on every core, the coarsest
// first, each predicted from the finest coarser one where it can be; the
// rest of each grid's work on a thread of its own beside the searches that
// follow.  A line on standard error while a grid is searched and as each
// grid ends, when that is a terminal.
std::vector<GridRun> run_grids(std::vector<std::unique_ptr<SimulationState>>& states,
                               const std::vector<GridRun>& before) {
  std::vector<GridRun> runs(states.size());
  std::vector<std::size_t> order(states.size());
  for (std::size_t k = 0; k < order.size(); ++k)
    order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return states[a]->N < states[b]->N; });
  // The shapes of the windows searched, by N.
  std::map<int, WindowShape> shapes;
  for (const GridRun& g : before) {
    if (const std::optional<WindowShape> shape = window_shape(g.window)) shapes[g.N] = *shape;
  }
  std::mutex lock;
  std::exception_ptr failure;
  std::atomic<std::size_t> done{0};
  const bool progress = stderr_is_terminal();
  const auto failed = [&] {
    const std::lock_guard<std::mutex> hold(lock);
    if (!failure) failure = std::current_exception();
  };
  const int cores = search_cores();
  std::vector<std::thread> rest;
  for (const std::size_t k : order) {
    SimulationState& s = *states[k];
    Window window;
    double steady = std::numeric_limits<double>::quiet_NaN();
    try {
      SearchProgress shown(s.N, done, order.size());
      steady = steady_outlet(s, s.N);
      const std::optional<WindowShape> foreseen = foreseen_shape(shapes, s.N);
      std::optional<Window> predicted;
      if (foreseen && s.N >= kSweepMinimumN)
        predicted = predicted_window(s, *foreseen, steady, cores, progress ? &shown : nullptr);
      window = predicted ? std::move(*predicted)
                         : search_window_in_lanes(s, progress ? &shown : nullptr, cores,
                                                  FinalStates::kKept);
      if (const std::optional<WindowShape> shape = window_shape(window)) shapes[s.N] = *shape;
    } catch (...) {
      failed();
      break;
    }
    rest.emplace_back([&, k, steady, w = std::move(window)]() mutable {
      try {
        runs[k] = run_grid(*states[k], std::move(w));
        runs[k].steady = steady;
      } catch (...) {
        failed();
        return;
      }
      const std::lock_guard<std::mutex> hold(lock);
      ++done;
      if (progress) {
        std::fprintf(stderr, "\rgrid study: N = %d done (%llu of %llu)   ", states[k]->N,
                     llu_arg(done.load()), llu_arg(order.size()));
      }
    });
  }
  for (std::thread& t : rest)
    t.join();
  if (progress) std::fprintf(stderr, "\r%90s\r", "");
  if (failure) std::rethrow_exception(failure);
  return runs;
}

GridRun run_grid(SimulationState& s) {
  return run_grid(s, search_window_in_lanes(s, nullptr, 1, FinalStates::kKept));
}

GridRun run_grid(SimulationState& s, Window window) {
  GridRun g;
  g.N = s.N;
  g.dx = s.L / (static_cast<double>(s.N) - 2.0);  // as the program forms it
  g.window = std::move(window);
  if (g.window.predicted) complete_predicted(s, g.window);
  if (!g.window.open) {
    g.failure = closed_window_text(g.window, cap_for(s.itmax));
    return g;
  }

  // The recommended dt, or that of dados.txt where it does nearly as well.
  Trial chosen = g.window.recommended;
  if (s.dt > 0.0) {
    const auto tried = std::find_if(g.window.trials.begin(), g.window.trials.end(),
                                    [&](const Trial& t) { return t.dt == s.dt; });
    // A predicted window holds dados.txt's dt where it can be chosen.
    const Trial own = tried != g.window.trials.end() ? *tried
                      : g.window.predicted           ? Trial{}
                                                     : try_dt(s, s.dt, nullptr, FinalStates::kKept);
    if (own.ok() && static_cast<double>(own.needed) <=
                        kDadosPassesFactor * static_cast<double>(chosen.needed)) {
      chosen = own;
      g.dt_of_dados = own.dt != g.window.recommended.dt;
    }
  }
  g.dt = chosen.dt;
  if (!chosen.final_state) throw std::logic_error("a converged trial without its final state");
  const FinalState& end = *chosen.final_state;

  // The program's state after exactly the passes of the run to convergence,
  // and so the program's with malha-N/dados.txt (those passes as itmax),
  // then its inventory and report.
  SimulationState program = end.state;
  program.itmax = static_cast<std::int32_t>(chosen.passes);  // within cap_for(itmax)
  g.folder_parameters = program;
  g.passes = chosen.passes;
  g.iteration_error = end.settling;
  {
    fpe::Masked masked;
    inventory(program);
  }
  g.outlet = program.p(program.N);
  g.texts = report_texts(program);
  g.converged = true;
  drop_final_states(g.window);
  return g;
}

}  // namespace moody::convergence
