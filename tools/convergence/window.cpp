#include "window.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

#include "flow/time_step.hpp"
#include "io/input_number.hpp"

namespace moody::convergence {

namespace {

constexpr double kBottom = 1e-7;  // the search limits in passage times
constexpr double kTop = 1e4;
constexpr double kResolution = 1.01;  // edges to 1 %

// The runs of one search, one per dt, each run when first asked for.
class RunWhenAsked : public TrialSource {
 public:
  RunWhenAsked(SimulationState& s, TrialObserver* observer, FinalStates keep)
      : s_(s), observer_(observer), keep_(keep) {}

  const Trial& at(double dt, std::int64_t /*pass_limit*/) override {
    auto found = done_.find(dt);
    if (found != done_.end()) return found->second;
    if (observer_ != nullptr) observer_->trial(dt);
    return done_.emplace(dt, try_dt(s_, dt, observer_, keep_)).first->second;
  }

  std::vector<Trial> all() const override {
    std::vector<Trial> v;
    for (const auto& [dt, t] : done_)
      v.push_back(t);
    return v;
  }

 private:
  SimulationState& s_;
  TrialObserver* observer_;
  FinalStates keep_;
  std::map<double, Trial> done_;
};

// The trials of the search, each dt rounded as it is asked for.
struct RoundedTrials {
  TrialSource& source;
  const Trial& at(double dt, std::int64_t pass_limit = 0) const {
    return source.at(dt_rounded(dt), pass_limit);
  }
};

// From the converging `good` outwards by `factor` until a dt fails or the
// limit is passed, then the edge bisected; returns the last converging and
// the first failing trial (dt = 0 when none failed).
std::pair<Trial, Trial> edge(const RoundedTrials& trials, const Trial& start, double factor,
                             double limit) {
  trials.source.begin_part();
  Trial good = start;
  Trial bad;
  for (;;) {
    const double next = good.dt * factor;
    if (factor > 1.0 ? next > limit : next < limit) return {good, bad};
    const Trial& t = trials.at(next);
    if (t.dt == good.dt) return {good, bad};  // the rounding leaves no room
    if (!t.ok()) {
      bad = t;
      break;
    }
    good = t;
  }
  while (std::max(good.dt, bad.dt) / std::min(good.dt, bad.dt) > kResolution) {
    const Trial& t = trials.at(std::sqrt(good.dt * bad.dt));
    if (t.dt == good.dt || t.dt == bad.dt) break;
    (t.ok() ? good : bad) = t;
  }
  return {good, bad};
}

// 1. A first converging dt: max(T/10, floor), else the dt of dados.txt
// (`given`, 0 for none), else the first that converges on the scan up from
// floor/2; nullptr when none does.
const Trial* first_converging(const RoundedTrials& trials, const Window& w, double T,
                              double given) {
  std::vector<double> firsts = {std::max(0.1 * T, std::isfinite(w.floor) ? w.floor : 0.0)};
  if (given > 0.0) firsts.push_back(given);
  for (double dt : firsts) {
    if (!(dt >= w.bottom && dt <= w.top)) continue;
    const Trial& t = trials.at(dt);
    if (t.ok()) return &t;
  }
  if (!std::isfinite(w.floor)) return nullptr;
  for (double dt = std::max(0.5 * w.floor, w.bottom); dt <= w.top; dt *= std::pow(2.0, 0.25)) {
    const Trial& t = trials.at(dt);
    if (t.ok()) return &t;
  }
  return nullptr;
}

// 4. The fewest passes, away from the edges of `w`, with `start` where no
// trial there converges; nothing while the best of the range is among the
// trials still to come.
std::optional<Trial> fewest_passes(const RoundedTrials& trials, const Window& w,
                                   const Trial& start) {
  TrialSource& source = trials.source;
  source.begin_part();
  const double from = w.lower.dt * kEdgeMargin;
  const double to = w.upper.dt / kEdgeMargin;
  if (from > to) {
    const Trial& middle = trials.at(std::sqrt(w.lower.dt * w.upper.dt));
    return middle.ok() ? middle : start;
  }
  Trial best;
  for (const Trial& t : source.all()) {
    if (t.ok() && t.dt >= from && t.dt <= to && (best.dt == 0.0 || t.needed < best.needed)) {
      best = t;
    }
  }
  // The best of the range is among the trials still to come.
  if (best.dt == 0.0 && source.waiting(from, to)) {
    // The ends of the range are tried whatever the best turns out to be:
    // a source that runs trials side by side starts them at once.
    trials.at(from * 1.005);
    trials.at(to / 1.005);
    return std::nullopt;
  }
  if (best.dt == 0.0) best = trials.at(std::sqrt(from * to));
  const auto consider = [&](double dt) {
    if (dt < from || dt > to) return;
    // Only whether it needs fewer passes than the best matters here.
    const Trial& t = trials.at(dt, best.ok() ? best.needed : 0);
    if (t.ok() && t.dt >= from && t.dt <= to && t.needed < best.needed) best = t;
  };
  for (double step : {0.5, 0.25, 0.125, 0.0625}) {
    const double factor = std::pow(2.0, step);
    const Trial centre = best;
    consider(centre.dt / factor);
    consider(centre.dt * factor);
  }
  // The passes often fall towards one edge: the ends of the allowed range.
  consider(from * 1.005);
  consider(to / 1.005);
  return best.ok() ? best : start;
}

}  // namespace

std::string dt_text(double dt) {
  if (!(dt > 0.0) || !std::isfinite(dt)) return "0";
  const double v = input_number::three_digits(dt, input_number::Rounding::kNearest);
  char text[64];
  if (v >= 1e-4 && v < 1e6) {
    const int decimals = std::max(0, 2 - static_cast<int>(std::floor(std::log10(v))));
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    std::string plain = text;
    if (plain.find('.') != std::string::npos) {
      while (plain.back() == '0')
        plain.pop_back();
      if (plain.back() == '.') plain.pop_back();
    }
    return plain;
  }
  // 1.50e-07 -> 1.5e-07
  std::snprintf(text, sizeof text, "%.2e", dt);
  std::string e = text;
  const std::size_t mark = e.find('e');
  std::size_t end = mark;
  while (e[end - 1] == '0')
    --end;
  if (e[end - 1] == '.') --end;
  return e.substr(0, end) + e.substr(mark);
}

double dt_rounded(double dt) {
  return input_number::read_real(dt_text(dt)).value;
}

Trial try_dt(SimulationState& s, double dt, Observer* observer, FinalStates keep) {
  const double saved = s.dt;
  s.dt = dt;
  const Outcome o = run(s, observer, keep);
  s.dt = saved;
  return trial_of(dt, o);
}

Trial trial_of(double dt, const Outcome& o) {
  Trial t;
  t.dt = dt;
  t.ending = o.ending;
  t.passes = o.passes;
  t.needed = o.needed;
  t.converged = o.converged;
  t.diverging_from = o.diverging_from;
  t.cycle_from = o.cycle_from;
  t.fault = o.fault;
  t.final_state = o.final_state;
  return t;
}

Window search_window(SimulationState& s, TrialObserver* observer, FinalStates keep) {
  RunWhenAsked trials(s, observer, keep);
  return search_window(s, trials);
}

namespace {
double passage_time(const SimulationState& s) {
  const double passage = s.L / std::fabs(s.Uin);
  return passage > 0.0 && std::isfinite(passage) ? passage : 1.0;
}
}  // namespace

Window window_limits(const SimulationState& s) {
  Window w;
  const double T = passage_time(s);
  w.floor = time_step_floor(s.N, s.L, s.ro, s.mi);
  w.bottom = dt_rounded(kBottom * T);
  w.top = dt_rounded(kTop * T);
  return w;
}

Window search_window(const SimulationState& s, TrialSource& source) {
  Window w = window_limits(s);
  const RoundedTrials trials{source};
  const double T = passage_time(s);

  if (const Trial* seed = first_converging(trials, w, T, s.dt)) {
    w.open = true;
    const Trial start = *seed;
    // 2. and 3. The two edges.
    std::tie(w.upper, w.above) = edge(trials, start, 2.0, w.top);
    std::tie(w.lower, w.below) = edge(trials, start, 0.5, w.bottom);
    if (const std::optional<Trial> best = fewest_passes(trials, w, start)) w.recommended = *best;
  }
  w.trials = source.all();
  return w;
}

}  // namespace moody::convergence
