#include "predicted_window.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "control/memory.hpp"
#include "lane_trials.hpp"

namespace moody::convergence {

namespace {

// The steps of the spread: 2^(1/24), about 2.9 %.
const double kFineStep = std::pow(2.0, 1.0 / 24.0);

// The round's runs are followed this many passes at a time: what is
// decided on what they show is decided on every run at the same pass.
constexpr std::int64_t kRoundStep = 128;

// What the round knows of one dt.
struct Tried {
  enum class State { kRunning, kFailed, kEntered, kStopped };
  double dt = 0.0;
  bool spread = true;  // one of the round's spread, not only dados.txt's
  State state = State::kRunning;
  std::int64_t entered = 0;                 // kEntered: the pass
  Trial verdict;                            // kFailed: the whole verdict
  std::shared_ptr<SuspendedRun> suspended;  // kEntered, the fewest so far: its run
};

// A run known only to come within kBand of the steady value at pass `entered`.
Trial entry_trial(const Tried& t) {
  Trial e;
  e.dt = t.dt;
  e.ending = Ending::kConverged;
  e.passes = t.entered;
  e.needed = t.entered;
  return e;
}

// The round's dt, in increasing order, as the program reads each: steps
// of kFineStep about the foreseen edge; none where the foreseen
// recommendation lies beyond them.
std::vector<double> spread_of(const Window& limits, const WindowShape& shape) {
  const double ell = shape.lower_to_floor * limits.floor;
  const double r = ell * shape.recommended_to_lower;
  std::vector<double> raw;
  const auto steps = [&raw](double around, int from, int to) {
    for (int j = from; j <= to; ++j)
      raw.push_back(around * std::pow(kFineStep, j));
  };
  // A recommendation away from the edge moves with the grid in ways its
  // ratio does not foresee (and its passes need not fall steadily towards
  // it): no round there.
  if (r > ell * std::pow(kFineStep, 5)) return {};
  steps(ell, -5, 9);
  std::vector<double> dts;
  for (const double v : raw) {
    const double dt = dt_rounded(v);
    if (dt >= limits.bottom && dt <= limits.top) dts.push_back(dt);
  }
  std::sort(dts.begin(), dts.end());
  dts.erase(std::unique(dts.begin(), dts.end()), dts.end());
  return dts;
}

// Two dt of the spread next to each other: no more than two steps apart
// (the rounding to three digits moves each by up to half a percent).
bool near(double a, double b) {
  return std::max(a, b) / std::min(a, b) <= kFineStep * kFineStep * 1.001;
}

// The round's runs, on each core a batch of lanes.
class Round {
 public:
  Round(SimulationState& s, double steady, int cores) : s_(s) {
    require_memory(search_bytes(s.N, cores),
                   "the lanes of the search on N = " + std::to_string(s.N));
    for (int c = 0; c < std::max(1, cores); ++c) {
      per_core_.push_back(
          std::make_unique<LaneTrials>(s, kSearchLanes, kSearchGroup, FinalStates::kDropped));
      per_core_.back()->know_value(steady);
    }
  }

  bool start_faults() const { return per_core_.front()->start_faults(); }

  // Every dt of `tried` started, taken in turn by the cores.
  void start(std::vector<Tried>& tried, TrialObserver* observer) {
    std::size_t c = 0;
    for (Tried& t : tried) {
      if (observer != nullptr) observer->trial(t.dt);
      if (!per_core_[c]->start_to_entry(t.dt, cap_for(s_.itmax))) t.state = Tried::State::kStopped;
      c = (c + 1) % per_core_.size();
    }
  }

  // Every core's lanes advanced by kRoundStep passes: the runs that end
  // there, in the order of the pass they end in (and of dt), the same
  // whatever the timing of the cores.
  std::vector<LaneEnd> advance() {
    reached_ += kRoundStep;
    std::vector<std::vector<LaneEnd>> ends(per_core_.size());
    std::exception_ptr failure;
    std::vector<std::thread> helpers;
    for (std::size_t c = 1; c < per_core_.size(); ++c) {
      helpers.emplace_back([&, c] {
        try {
          ends[c] = per_core_[c]->advance_to(reached_);
        } catch (...) {
          failure = std::current_exception();
        }
      });
    }
    ends[0] = per_core_[0]->advance_to(reached_);
    for (std::thread& t : helpers)
      t.join();
    if (failure) std::rethrow_exception(failure);
    std::vector<LaneEnd> all;
    for (const std::vector<LaneEnd>& e : ends)
      all.insert(all.end(), e.begin(), e.end());
    std::sort(all.begin(), all.end(), [](const LaneEnd& a, const LaneEnd& b) {
      return std::pair{pass_of(a), a.trial.dt} < std::pair{pass_of(b), b.trial.dt};
    });
    return all;
  }
  bool running() const {
    return std::any_of(per_core_.begin(), per_core_.end(),
                       [](const auto& l) { return l->running_lanes() > 0; });
  }

  void limit(double dt, std::int64_t passes) {
    for (const auto& lanes : per_core_)
      lanes->limit_entry(dt, passes);
  }
  void cancel(double dt) {
    for (const auto& lanes : per_core_)
      lanes->cancel(dt);
  }

 private:
  static std::int64_t pass_of(const LaneEnd& e) {
    return e.entered > 0 ? e.entered : e.over_limit > 0 ? e.over_limit : e.trial.passes;
  }

  SimulationState& s_;
  std::vector<std::unique_ptr<LaneTrials>> per_core_;
  std::int64_t reached_ = 0;
};

// The edge and the fewest passes among the spread as far as known: the
// index of the smallest dt that got there, of the fewest passes at least
// kEdgeMargin above it and of the first dt kEdgeMargin above that (-1 for
// each not known).
struct Reading {
  int lower = -1, best = -1, margin = -1;
};
Reading read(const std::vector<Tried>& tried) {
  Reading r;
  const auto n = static_cast<int>(tried.size());
  for (int k = 0; k < n; ++k) {
    const Tried& t = tried[static_cast<std::size_t>(k)];
    if (!t.spread || t.state != Tried::State::kEntered) continue;
    if (r.lower < 0) r.lower = k;
    if (t.dt < tried[static_cast<std::size_t>(r.lower)].dt * kEdgeMargin) continue;
    if (r.best < 0 || t.entered < tried[static_cast<std::size_t>(r.best)].entered) r.best = k;
  }
  if (r.best < 0) return r;
  for (int k = r.best + 1; k < n && r.margin < 0; ++k) {
    const Tried& t = tried[static_cast<std::size_t>(k)];
    if (t.spread && t.dt >= tried[static_cast<std::size_t>(r.best)].dt * kEdgeMargin) r.margin = k;
  }
  return r;
}

// Once the fewest passes are known, the runs that can no longer change the
// outcome are stopped, and the others limited: the dt from the edge to the
// margin to twice those passes, dados.txt's to its factor of them.
void limit_runs(Round& round, std::vector<Tried>& tried) {
  const Reading r = read(tried);
  // Only the fewest passes' run is kept to go on with.
  for (std::size_t k = 0; k < tried.size(); ++k) {
    if (static_cast<int>(k) != r.best) tried[k].suspended.reset();
  }
  if (r.best < 0) return;
  const std::int64_t best = tried[static_cast<std::size_t>(r.best)].entered;
  for (std::size_t k = 0; k < tried.size(); ++k) {
    Tried& t = tried[k];
    if (t.state != Tried::State::kRunning) continue;
    if (!t.spread) {
      round.limit(t.dt, static_cast<std::int64_t>(kDadosPassesFactor * static_cast<double>(best)));
    } else if (r.margin >= 0 && static_cast<int>(k) > r.margin) {
      round.cancel(t.dt);
      t.state = Tried::State::kStopped;
    } else {
      round.limit(t.dt, 2 * best);
    }
  }
}

// The window the round shows, or none where the prediction does not hold.
std::optional<Window> window_of(const SimulationState& s, const std::vector<Tried>& tried) {
  const Reading r = read(tried);
  if (r.lower < 0 || r.best < 0 || r.margin < 0) return std::nullopt;
  // The failing dt next below the edge; every dt of the spread from the
  // edge (or from the one below the fewest passes, where that is a
  // candidate) to the margin getting there, each next to the one before;
  // the margin no more than four steps above the fewest passes.
  int below = r.lower - 1;
  while (below >= 0 && !tried[static_cast<std::size_t>(below)].spread)
    --below;
  const auto at = [&tried](int k) -> const Tried& { return tried[static_cast<std::size_t>(k)]; };
  if (below < 0 || at(below).state != Tried::State::kFailed) return std::nullopt;
  // Away from the edge, a minimum between its neighbours: from the one below.
  int from = r.lower;
  for (int k = r.best - 1; k > r.lower; --k) {
    if (!at(k).spread) continue;
    if (at(k).dt >= at(r.lower).dt * kEdgeMargin) from = k;
    break;
  }
  double before = at(from).dt;
  for (int k = from; k <= r.margin; ++k) {
    const Tried& t = at(k);
    if (!t.spread) continue;
    if (t.state != Tried::State::kEntered || !near(before, t.dt)) return std::nullopt;
    before = t.dt;
  }
  if (at(r.margin).dt > at(r.best).dt * std::pow(kFineStep, 4) * 1.001) return std::nullopt;
  Window w = window_limits(s);
  w.open = true;
  w.predicted = true;
  w.below = tried[static_cast<std::size_t>(below)].verdict;
  w.lower = entry_trial(tried[static_cast<std::size_t>(r.lower)]);
  w.upper = entry_trial(tried[static_cast<std::size_t>(r.margin)]);
  const Tried& best = tried[static_cast<std::size_t>(r.best)];
  w.recommended = entry_trial(best);
  w.suspended = best.suspended;
  for (const Tried& t : tried) {
    if (t.state == Tried::State::kFailed) w.trials.push_back(t.verdict);
    const bool near =
        t.state == Tried::State::kEntered &&
        static_cast<double>(t.entered) <= kDadosPassesFactor * static_cast<double>(best.entered);
    if (t.dt == s.dt && near && t.dt != best.dt) w.dados = entry_trial(t);
  }
  return w;
}

}  // namespace

std::optional<WindowShape> window_shape(const Window& w) {
  if (!w.open || !(w.below.dt > 0.0) || !(w.lower.dt > 0.0) || !(w.recommended.dt > 0.0) ||
      !(w.floor > 0.0) || !std::isfinite(w.floor)) {
    return std::nullopt;
  }
  return WindowShape{w.lower.dt / w.floor, w.recommended.dt / w.lower.dt};
}

std::optional<WindowShape> foreseen_shape(const std::map<int, WindowShape>& shapes, int N) {
  const auto finer = shapes.lower_bound(N);
  if (finer == shapes.begin()) return std::nullopt;
  const auto b = std::prev(finer);
  if (b == shapes.begin()) return b->second;
  const auto a = std::prev(b);
  // Each ratio as a power of the real volumes through the two grids, its
  // change over the step to N kept within a factor of 2.
  const double t = std::log(static_cast<double>(N - 2) / static_cast<double>(b->first - 2)) /
                   std::log(static_cast<double>(b->first - 2) / static_cast<double>(a->first - 2));
  const auto on = [t](double ra, double rb) {
    return rb * std::clamp(std::pow(rb / ra, t), 0.5, 2.0);
  };
  return WindowShape{
      on(a->second.lower_to_floor, b->second.lower_to_floor),
      std::max(1.0, on(a->second.recommended_to_lower, b->second.recommended_to_lower))};
}

std::optional<Window> predicted_window(SimulationState& s, const WindowShape& shape, double steady,
                                       int cores, TrialObserver* observer) {
  const Window limits = window_limits(s);
  if (!std::isfinite(steady) || !(limits.floor > 0.0) || !std::isfinite(limits.floor))
    return std::nullopt;
  const std::vector<double> spread = spread_of(limits, shape);
  if (spread.empty()) return std::nullopt;
  std::vector<Tried> tried;
  tried.reserve(spread.size() + 1);
  for (const double dt : spread)
    tried.push_back(Tried{dt, true, Tried::State::kRunning, 0, {}, nullptr});
  if (s.dt > 0.0 &&
      std::none_of(tried.begin(), tried.end(), [&](const Tried& t) { return t.dt == s.dt; })) {
    tried.push_back(Tried{s.dt, false, Tried::State::kRunning, 0, {}, nullptr});
    std::sort(tried.begin(), tried.end(),
              [](const Tried& a, const Tried& b) { return a.dt < b.dt; });
  }
  Round round(s, steady, cores);
  if (round.start_faults()) return std::nullopt;
  round.start(tried, observer);
  while (round.running()) {
    const std::vector<LaneEnd> ends = round.advance();
    for (const LaneEnd& e : ends) {
      for (Tried& t : tried) {
        if (t.dt != e.trial.dt || t.state != Tried::State::kRunning) continue;
        if (e.entered > 0) {
          t.state = Tried::State::kEntered;
          t.entered = e.entered;
          t.suspended = e.suspended;
        } else if (e.over_limit > 0 || e.trial.ok()) {
          // Short of the steady value, or converged to another: not known
          // to get there.
          t.state = Tried::State::kStopped;
        } else {
          t.state = Tried::State::kFailed;
          t.verdict = e.trial;
        }
      }
    }
    limit_runs(round, tried);
  }
  return window_of(s, tried);
}

}  // namespace moody::convergence
