#include "lane_trials.hpp"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "control/fpe.hpp"
#include "control/memory.hpp"
#include "control/start.hpp"
#include "flow/sweeps.hpp"
#include "residuals.hpp"
#include "run.hpp"

namespace moody::convergence {

namespace {

// True when the outlet pressure, over the passes after `pass_limit` that the
// lines of `rows` cover (each line covers the passes since the line before),
// spreads wider than twice the band of kBand around any value, with the
// scale of the converged value bounded from above by the values themselves
// and from below by `smallest_scale`.
bool needs_more_than(const std::vector<Row>& rows, std::int64_t pass_limit, double smallest_scale) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  double most = 0.0;
  std::int64_t covered_from = 0;  // the pass before the first one a line covers
  for (const Row& row : rows) {
    if (covered_from >= pass_limit) {
      low = std::min(low, row.low);
      high = std::max(high, row.high);
      most = std::max({most, std::fabs(row.low), std::fabs(row.high)});
    }
    covered_from = row.pass;
  }
  if (!(low <= high)) return false;
  const double band = kBand - kSettled;
  const double scale = std::max(most / (1.0 - band), smallest_scale);
  return high - low > 2.0 * band * scale * (1.0 + 1e-9);
}

}  // namespace

struct LaneTrials::Lane {
  bool busy = false;
  double dt = 0.0;
  std::int64_t pass_limit = 0;        // as LaneTrials::start takes it
  std::int64_t passes_elsewhere = 0;  // passes made in other lanes before this one
  bool to_entry = false;              // as start_to_entry starts it
  std::int64_t entry_limit = 0;
  std::int64_t inside_from = 0;  // the outlet pressure within the band since this pass (0: not)
  std::optional<Watch> watch;
};

LaneTrials::LaneTrials(SimulationState s, int lanes, int group, FinalStates keep)
    : base_(std::move(s)), keep_(keep) {
  {
    fpe::Masked masked;
    std::feclearexcept(FE_ALL_EXCEPT);
    start_run(base_);
    start_fault_ = fpe::fault_of_flags(std::fetestexcept(FE_ALL_EXCEPT));
  }
  scales_.emplace(base_);
  batch_ = std::make_unique<batch::Batch>(base_, lanes, batch::layout_for(group));
  lane_.resize(static_cast<std::size_t>(lanes));
}

LaneTrials::~LaneTrials() = default;

int LaneTrials::lanes() const {
  return static_cast<int>(lane_.size());
}

int LaneTrials::free_lanes() const {
  return static_cast<int>(
      std::count_if(lane_.begin(), lane_.end(), [](const Lane& l) { return !l.busy; }));
}

bool LaneTrials::running(double dt) const {
  return std::any_of(lane_.begin(), lane_.end(),
                     [dt](const Lane& l) { return l.busy && l.dt == dt; });
}

std::vector<double> LaneTrials::running_dts() const {
  std::vector<double> v;
  for (const Lane& l : lane_) {
    if (l.busy) v.push_back(l.dt);
  }
  return v;
}

int LaneTrials::running_lanes() const {
  return lanes() - free_lanes();
}

int LaneTrials::spare_lanes() const {
  const int per = batch_->layout().group_lanes();
  const int n = running_lanes();
  return n == 0 ? per : (n + per - 1) / per * per - n;
}

LaneTrials::Group LaneTrials::group(int first) const {
  Group g;
  const int per = batch_->layout().group_lanes();
  for (int k = first; k < std::min(first + per, lanes()); ++k) {
    if (lane_[static_cast<std::size_t>(k)].busy) {
      ++g.running;
      g.last_running = k;
    } else if (g.first_free < 0) {
      g.first_free = k;
    }
  }
  return g;
}

int LaneTrials::free_lane(int skip) const {
  int any = -1;
  for (int first = 0; first < lanes(); first += batch_->layout().group_lanes()) {
    if (first == skip) continue;
    const Group g = group(first);
    if (g.first_free >= 0 && g.running > 0) return g.first_free;
    if (any < 0) any = g.first_free;
  }
  return skip < 0 ? any : -1;
}

bool LaneTrials::start(double dt, std::int64_t pass_limit) {
  const int k = free_lane();
  if (k < 0) return false;
  Lane& l = lane_[static_cast<std::size_t>(k)];
  l.busy = true;
  l.dt = dt;
  l.pass_limit = pass_limit;
  l.passes_elsewhere = 0;
  l.to_entry = false;
  l.entry_limit = 0;
  l.inside_from = 0;
  l.watch.emplace(dynamic_pressure(base_), base_.itmax);
  batch_->start(k, dt);
  return true;
}

// The lane's state goes on in lane j of `to` from the pass it has reached,
// bit for bit (a lane loaded from a state continues the run of that state).
void LaneTrials::move(int k, LaneTrials& to, int j) {
  Lane& from = lane_[static_cast<std::size_t>(k)];
  SimulationState s;
  batch_->state(k, s);
  to.batch_->load(j, s);
  Lane& into = to.lane_[static_cast<std::size_t>(j)];
  const std::int64_t made = from.passes_elsewhere + batch_->passes(k);
  into = std::move(from);
  into.passes_elsewhere = made;
  from = Lane{};
  batch_->retire(k);
}

void LaneTrials::gather() {
  const int per = batch_->layout().group_lanes();
  for (;;) {
    // The group with the fewest running lanes, emptied into the others.
    int fewest = -1;
    Group least;
    int groups = 0;
    for (int first = 0; first < lanes(); first += per) {
      const Group g = group(first);
      if (g.running == 0) continue;
      ++groups;
      if (fewest < 0 || g.running < least.running) fewest = first, least = g;
    }
    if (groups <= (running_lanes() + per - 1) / per) return;
    const int into = free_lane(fewest);
    if (into < 0) return;
    move(least.last_running, *this, into);
  }
}

bool LaneTrials::move_one(LaneTrials& to) {
  const int j = to.free_lane();
  if (j < 0) return false;
  // From the group with the fewest running lanes.
  Group least;
  for (int first = 0; first < lanes(); first += batch_->layout().group_lanes()) {
    const Group g = group(first);
    if (g.running > 0 && (least.running == 0 || g.running < least.running)) least = g;
  }
  if (least.running == 0) return false;
  move(least.last_running, to, j);
  return true;
}

void LaneTrials::know_value(double outlet) {
  known_ = outlet;
  known_band_ = kBand * std::max(std::fabs(outlet), small_pressure(dynamic_pressure(base_)));
}

bool LaneTrials::start_to_entry(double dt, std::int64_t entry_limit) {
  if (!(known_band_ >= 0.0) || !start(dt, 0)) return false;
  for (Lane& l : lane_) {
    if (l.busy && l.dt == dt) {
      l.to_entry = true;
      l.entry_limit = entry_limit;
    }
  }
  return true;
}

void LaneTrials::limit_entry(double dt, std::int64_t entry_limit) {
  for (Lane& l : lane_) {
    if (l.busy && l.dt == dt && l.to_entry) l.entry_limit = entry_limit;
  }
}

void LaneTrials::ask(double dt, std::int64_t pass_limit) {
  for (Lane& l : lane_) {
    if (l.busy && l.dt == dt) l.pass_limit = pass_limit;
  }
}

void LaneTrials::cancel(double dt) {
  for (std::size_t k = 0; k < lane_.size(); ++k) {
    Lane& l = lane_[k];
    if (!l.busy || l.dt != dt) continue;
    l.busy = false;
    batch_->retire(static_cast<int>(k));
  }
}

std::vector<double> LaneTrials::carried(int k) const {
  using batch::Quantity;
  std::vector<double> v;
  v.reserve(5 * static_cast<std::size_t>(base_.N));
  for (const auto& [q, n] :
       {std::pair{Quantity::kU, base_.u.size()}, std::pair{Quantity::kU0, base_.u0.size()},
        std::pair{Quantity::kUe, base_.ue.size()}, std::pair{Quantity::kUe0, base_.ue0.size()},
        std::pair{Quantity::kP, base_.p.size()}}) {
    const batch::Batch::Column c = batch_->column(q, k);
    for (int i = 1; i <= n; ++i)
      v.push_back(c(i));
  }
  return v;
}

bool LaneTrials::finished(int k, std::vector<LaneEnd>& ended) {
  Lane& l = lane_[static_cast<std::size_t>(k)];
  Watch& watch = *l.watch;
  const auto end = [&] {
    Outcome o = watch.finish();
    if (o.ending == Ending::kConverged && keep_ == FinalStates::kKept) {
      require_memory(state_bytes(base_.N),
                     "the final state of a trial on N = " + std::to_string(base_.N));
      SimulationState s;
      batch_->state(k, s);
      o.final_state = keep_final_state(o, std::move(s));
    }
    ended.push_back({trial_of(l.dt, o), 0, 0, nullptr});
    return true;
  };
  if (const std::optional<batch::LaneFault> f = batch_->fault(k)) {
    watch.fault(l.passes_elsewhere + f->pass, f->fault);
    return end();
  }
  // As run() tells its Watch of a pass.
  const std::int64_t pass = l.passes_elsewhere + batch_->passes(k);
  const batch::ResidualSums<double> sums = batch_->residual_sums(k);
  const batch::Batch::Column p = batch_->column(batch::Quantity::kP, k);
  const int N = base_.N;
  const Residuals r = scales_->of(sums.imbalance, sums.change, sums.correction,
                                  outlet_pressure(p(1), p(2), p(N - 1), p(N)));
  if (const std::optional<Fault> f = unannounced(r)) {
    watch.fault(pass, *f);
    return end();
  }
  const Watch::Next next = watch.after(pass, r);
  if (next == Watch::Next::kEnded) return end();
  if (next == Watch::Next::kCycle && watch.cycling(carried(k))) return end();
  if (l.to_entry) {
    const auto only_dt = [&l] {  // an entry is no verdict
      Trial t;
      t.dt = l.dt;
      return t;
    };
    if (std::fabs(r.outlet - known_) > known_band_) {
      l.inside_from = 0;
    } else if (l.inside_from == 0) {
      l.inside_from = pass;
    }
    if (l.inside_from > 0 &&
        static_cast<double>(pass) >= kEntryHeld * static_cast<double>(l.inside_from)) {
      require_memory(state_bytes(base_.N),
                     "the run of a trial on N = " + std::to_string(base_.N) + ", to go on with");
      SimulationState s;
      batch_->state(k, s);
      ended.push_back(
          {only_dt(), 0, l.inside_from,
           std::make_shared<SuspendedRun>(SuspendedRun{std::move(s), std::move(*l.watch), pass})});
      return true;
    }
    if (pass >= l.entry_limit && (l.inside_from == 0 || l.inside_from > l.entry_limit)) {
      ended.push_back({only_dt(), l.entry_limit, 0, nullptr});
      return true;
    }
  }
  if (pass >= cap_for(base_.itmax)) return end();
  if (l.pass_limit > 0 && pass > l.pass_limit) {
    if (needs_more_than(watch.outcome().rows, l.pass_limit,
                        small_pressure(dynamic_pressure(base_)))) {
      Trial t;
      t.dt = l.dt;
      ended.push_back({t, l.pass_limit, 0, nullptr});
      return true;
    }
  }
  return false;
}

void LaneTrials::pass(std::vector<LaneEnd>& ended) {
  batch_->pass();
  for (std::size_t k = 0; k < lane_.size(); ++k) {
    Lane& l = lane_[k];
    if (!l.busy || !finished(static_cast<int>(k), ended)) continue;
    l.busy = false;
    batch_->retire(static_cast<int>(k));
  }
}

std::vector<LaneEnd> LaneTrials::advance(std::atomic<bool>* stop) {
  std::vector<LaneEnd> ended;
  while (ended.empty()) {
    if (std::none_of(lane_.begin(), lane_.end(), [](const Lane& l) { return l.busy; })) break;
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) break;
    pass(ended);
  }
  if (stop != nullptr && !ended.empty()) stop->store(true, std::memory_order_relaxed);
  return ended;
}

std::vector<LaneEnd> LaneTrials::advance_to(std::int64_t until) {
  std::vector<LaneEnd> ended;
  for (;;) {
    std::int64_t at = -1;
    for (std::size_t k = 0; k < lane_.size(); ++k) {
      const Lane& l = lane_[k];
      if (l.busy) at = std::max(at, l.passes_elsewhere + batch_->passes(static_cast<int>(k)));
    }
    if (at < 0 || at >= until) return ended;
    pass(ended);
  }
}

std::vector<Trial> LaneTrials::run_all(const std::vector<double>& dts) {
  std::vector<Trial> out(dts.size());
  if (start_fault_) {
    for (std::size_t k = 0; k < dts.size(); ++k) {
      Watch watch(dynamic_pressure(base_), base_.itmax);
      watch.fault(0, *start_fault_);
      out[k] = trial_of(dts[k], watch.finish());
    }
    return out;
  }
  std::size_t next = 0;
  std::size_t done = 0;
  while (done < dts.size()) {
    while (next < dts.size() && start(dts[next], 0))
      ++next;
    for (const LaneEnd& e : advance()) {
      for (std::size_t k = 0; k < dts.size(); ++k) {
        if (dts[k] == e.trial.dt && out[k].dt == 0.0) {
          out[k] = e.trial;
          ++done;
          break;
        }
      }
    }
  }
  return out;
}

// --- The search, planned on what is known ---------------------------------------
//
// The search of window.cpp is run again whenever a trial ends, on the trials
// known so far.  Each dt it asks for that is not known is taken to converge
// (in more passes than any other, so that it is never the best) and the
// search goes on: the dt it asks for on the way are those it will need if
// that holds.  The lanes run them, the earliest in each part of the search
// first; a run that the latest plan does not ask for is stopped.  When the
// search asks for nothing unknown it has the outcome the search run trial
// by trial would have, from the same trials.

namespace {

// The passes needed of a dt not known, taken to converge: more than any
// other, so that it is never the best.
constexpr std::int64_t kAssumedNeeded = std::numeric_limits<std::int64_t>::max();

class Planner : public TrialSource {
 public:
  struct Want {
    double dt;
    std::int64_t pass_limit;  // as TrialSource::at takes it
    int assumptions;          // dt not known, taken to converge, asked for before it in its part
  };

  // A trial that ended: its whole verdict, or that it needs more than
  // `over_limit` passes.
  void learn(const LaneEnd& e) {
    Known& k = known_[e.trial.dt];
    const bool whole = k.trial.dt != 0.0 && k.over_limit == 0;
    if (e.over_limit == 0) {
      k = {e.trial, 0};
    } else if (!whole) {
      k = {e.trial, std::max(e.over_limit, k.over_limit)};
    }
  }

  Window plan(const SimulationState& s) {
    wanted_.clear();
    asked_.clear();
    stand_ins_.clear();
    assumptions_ = 0;
    return search_window(s, *this);
  }
  // What the last plan asked for and is not known, the earliest of each
  // part first.
  std::vector<Want> wanted() const {
    std::vector<Want> v = wanted_;
    std::stable_sort(v.begin(), v.end(),
                     [](const Want& a, const Want& b) { return a.assumptions < b.assumptions; });
    return v;
  }

  const Trial& at(double dt, std::int64_t pass_limit) override {
    if (pass_limit == kAssumedNeeded) pass_limit = 0;  // the best is itself not known
    const auto found = known_.find(dt);
    if (found != known_.end()) {
      const Known& k = found->second;
      const bool whole = k.over_limit == 0;
      // Asked only whether it converges within pass_limit passes, a run that
      // does not is answered alike whether its lane was stopped once that
      // was shown or ran on to the end: which of the two happens depends on
      // the timing of the cores, and such a run is not listed.
      const bool beyond = pass_limit > 0 && (whole ? !(k.trial.ok() && k.trial.needed <= pass_limit)
                                                   : k.over_limit >= pass_limit);
      if (beyond) {
        // It needs more passes than the best: not a candidate.
        Trial& t = stand_ins_[dt];
        t = Trial{};
        t.dt = dt;
        return t;
      }
      if (whole) {
        asked_[dt] = k.trial;
        return k.trial;
      }
    }
    const auto want =
        std::find_if(wanted_.begin(), wanted_.end(), [dt](const Want& w) { return w.dt == dt; });
    if (want == wanted_.end()) {
      wanted_.push_back({dt, pass_limit, assumptions_});
    } else if (want->pass_limit != 0) {
      want->pass_limit = pass_limit == 0 ? 0 : std::max(want->pass_limit, pass_limit);
    }
    ++assumptions_;
    Trial& t = stand_ins_[dt];
    t = Trial{};
    t.dt = dt;
    t.ending = Ending::kConverged;
    t.needed = kAssumedNeeded;
    return t;
  }

  std::vector<Trial> all() const override {
    std::vector<Trial> v;
    for (const auto& [dt, t] : asked_)
      v.push_back(t);
    return v;
  }

  void begin_part() override { assumptions_ = 0; }

  bool waiting(double from, double to) const override {
    return std::any_of(wanted_.begin(), wanted_.end(), [&](const Want& w) {
      return w.pass_limit == 0 && w.dt >= from && w.dt <= to;
    });
  }

 private:
  struct Known {
    Trial trial;
    std::int64_t over_limit = 0;  // > 0: known only to need more passes than this
  };
  std::map<double, Known> known_;
  std::map<double, Trial> asked_;      // the known trials this plan asked for
  std::map<double, Trial> stand_ins_;  // the answers for dt not known
  std::vector<Want> wanted_;
  int assumptions_ = 0;
};

}  // namespace

std::uint64_t search_bytes(int N, int cores) {
  const std::uint64_t fields = 5 * static_cast<std::uint64_t>(N) * sizeof(double);
  const std::uint64_t core = 2 * state_bytes(N) +
                             batch::Batch::bytes(N, kSearchLanes, batch::layout_for(kSearchGroup)) +
                             (kSearchLanes + 1) * fields;
  return static_cast<std::uint64_t>(std::max(1, cores)) * core;
}

int search_cores() {
  return std::thread::hardware_concurrency() >= 2 ? 2 : 1;
}

Window search_window_in_lanes(SimulationState& s, TrialObserver* observer, int cores,
                              FinalStates keep) {
  if (s.N < kSweepMinimumN) return search_window(s, observer, keep);
  require_memory(search_bytes(s.N, cores), "the lanes of the search on N = " + std::to_string(s.N));
  std::vector<std::unique_ptr<LaneTrials>> per_core;
  for (int c = 0; c < std::max(1, cores); ++c)
    per_core.push_back(std::make_unique<LaneTrials>(s, kSearchLanes, kSearchGroup, keep));
  // Every run stops at the start: the search trial by trial costs nothing.
  if (per_core.front()->start_faults()) return search_window(s, observer, keep);
  const auto running = [&](double dt) {
    return std::any_of(per_core.begin(), per_core.end(),
                       [dt](const auto& l) { return l->running(dt); });
  };
  Planner planner;
  for (;;) {
    Window w = planner.plan(s);
    const std::vector<Planner::Want> wanted = planner.wanted();
    if (wanted.empty()) return w;
    // The runs this plan does not ask for stop; the others run as asked.
    for (const auto& lanes : per_core) {
      for (double dt : lanes->running_dts()) {
        const auto want = std::find_if(wanted.begin(), wanted.end(),
                                       [dt](const Planner::Want& x) { return x.dt == dt; });
        if (want == wanted.end()) {
          lanes->cancel(dt);
        } else {
          lanes->ask(dt, want->pass_limit);
        }
      }
    }
    // New runs where the fewest lanes are busy.  A run asked for only on the
    // assumption that those before it in its part converge (assumptions > 0)
    // starts only where it costs no group pass of its own: a second group
    // on a core doubles the cost of every pass of the runs there, and the
    // search may be waiting for one of them.
    for (const Planner::Want& want : wanted) {
      if (running(want.dt)) continue;
      LaneTrials* emptiest = nullptr;
      for (const auto& lanes : per_core) {
        if (lanes->free_lanes() > 0 && (want.assumptions == 0 || lanes->spare_lanes() > 0) &&
            (emptiest == nullptr || lanes->free_lanes() > emptiest->free_lanes()))
          emptiest = lanes.get();
      }
      if (emptiest == nullptr) continue;
      if (observer != nullptr) observer->trial(want.dt);
      emptiest->start(want.dt, want.pass_limit);
    }
    // The runs shared out evenly between the cores, each core's in as few
    // groups as they fill: a group pass costs the same for one lane as for
    // all of them.
    for (;;) {
      const auto [fewest, most] = std::minmax_element(
          per_core.begin(), per_core.end(),
          [](const auto& a, const auto& b) { return a->running_lanes() < b->running_lanes(); });
      if ((*most)->running_lanes() - (*fewest)->running_lanes() < 2 || !(*most)->move_one(**fewest))
        break;
    }
    for (const auto& lanes : per_core)
      lanes->gather();
    // Every core advances its lanes until one of them ends a run.
    std::atomic<bool> stop{false};
    std::vector<std::vector<LaneEnd>> ends(per_core.size());
    std::vector<std::thread> helpers;
    for (std::size_t c = 1; c < per_core.size(); ++c)
      helpers.emplace_back([&, c] { ends[c] = per_core[c]->advance(&stop); });
    ends[0] = per_core[0]->advance(per_core.size() > 1 ? &stop : nullptr);
    for (std::thread& t : helpers)
      t.join();
    for (const std::vector<LaneEnd>& e : ends) {
      for (const LaneEnd& end : e)
        planner.learn(end);
    }
  }
}

}  // namespace moody::convergence
