#pragma once
// Trials of one grid run side by side in the lanes of a batch (batch.hpp):
// each lane's run is the program's run with its dt, bit for bit, faults
// included, and its verdict comes from a Watch fed exactly as run() feeds
// it, so that a lane's Trial is the one try_dt gives for the same dt.
//
// A search may also ask a lane for less than the whole verdict: whether the
// run needs more than B passes.  The lane then stops as soon as the outlet
// pressure, over its passes after B, has spread wider than twice the band
// of kBand around any value: no value lies within that band of all of them,
// so the passes needed, were the run to converge, are more than B.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "batch.hpp"
#include "control/state.hpp"
#include "residuals.hpp"
#include "window.hpp"

namespace moody::convergence {

// A lane's run that has ended.
struct LaneEnd {
  Trial trial;
  // > 0: the run was stopped once it was proved to need more than this many
  // passes (its pass_limit); `trial` then holds only its dt.
  std::int64_t over_limit = 0;
  // > 0: a run started to its entry (start_to_entry) whose outlet pressure
  // came within the band of the known value at this pass; `trial` then
  // holds only its dt, and `suspended` the run as it stood, to go on with.
  std::int64_t entered = 0;
  std::shared_ptr<SuspendedRun> suspended;
};

inline constexpr double kEntryHeld = 1.25;

class LaneTrials {
 public:
  // For the parameters in `s` (sized with size_state, N >= kSweepMinimumN),
  // `lanes` lanes in the layout that suits `group` lanes to a group.
  // `keep`: whether a converged run keeps the state it ends in.
  LaneTrials(SimulationState s, int lanes, int group, FinalStates keep = FinalStates::kDropped);
  ~LaneTrials();
  LaneTrials(const LaneTrials&) = delete;
  LaneTrials& operator=(const LaneTrials&) = delete;

  // The program's start raised a fault: every run stops there (pass 0).
  bool start_faults() const { return start_fault_.has_value(); }

  int lanes() const;
  int free_lanes() const;
  bool running(double dt) const;
  std::vector<double> running_dts() const;

  // A run with this dt in the first free lane; `pass_limit` as above (0:
  // the whole verdict).  Returns false when no lane is free.
  bool start(double dt, std::int64_t pass_limit = 0);
  // The run with this dt, if any, is asked for more (a smaller `pass_limit`,
  // 0 for the whole verdict), or less, or stopped and forgotten.
  void ask(double dt, std::int64_t pass_limit);
  void cancel(double dt);

  // The outlet pressure the runs converge to, known beforehand (the steady
  // solution of the grid's equations): a run started to its entry ends once
  // its outlet pressure has stayed within kBand of it from a pass E on until
  // pass kEntryHeld*E, entered = E (an approach that swings through the band
  // and out again does not count); or, not so within the band by
  // `entry_limit` passes, with that as its over_limit.  A fault or a
  // divergence before either ends it with its whole verdict.
  void know_value(double outlet);
  bool start_to_entry(double dt, std::int64_t entry_limit);
  void limit_entry(double dt, std::int64_t entry_limit);

  // Runs moved between lanes, each going on where it stood with its watch:
  // the running lanes gathered into as few groups as they fill; one run
  // moved to a free lane of `to`, a batch of the same grid.
  void gather();
  bool move_one(LaneTrials& to);
  int running_lanes() const;
  // Runs that can start without a group pass more, once the running ones
  // are gathered: the free lanes of the groups they fill, a group's worth
  // when none runs.
  int spare_lanes() const;

  // Passes of every running lane until one of them or more end (none when
  // no lane runs), or until `stop` is set (tested after every pass); sets
  // `stop` when a lane ends.
  std::vector<LaneEnd> advance(std::atomic<bool>* stop = nullptr);
  // Passes of every running lane until each has made `until` passes or
  // ended: every run that ends by then, whatever the other cores do.
  std::vector<LaneEnd> advance_to(std::int64_t until);

  // Every dt to its whole verdict, as try_dt gives it, in the given order.
  std::vector<Trial> run_all(const std::vector<double>& dts);

 private:
  struct Lane;
  bool finished(int k, std::vector<LaneEnd>& ended);
  void pass(std::vector<LaneEnd>& ended);  // one pass of the batch, its ends
  // The lanes of the group that starts at lane `first`: how many run, the
  // first free one and the last running one (-1: none).
  struct Group {
    int running = 0;
    int first_free = -1;
    int last_running = -1;
  };
  Group group(int first) const;
  // A free lane in a group that runs others, the group starting at `skip`
  // aside; with no skip, any free lane when no such group has room; -1 if
  // none.
  int free_lane(int skip = -1) const;
  void move(int k, LaneTrials& to, int j);
  // What carried_fields gives of the state, of lane k.
  std::vector<double> carried(int k) const;

  SimulationState base_;  // the grid and the field at rest, after start_run
  FinalStates keep_;
  std::optional<Fault> start_fault_;
  std::optional<Scales> scales_;
  double known_ = 0.0;  // know_value's outlet pressure, and its band
  double known_band_ = -1.0;
  std::unique_ptr<batch::Batch> batch_;
  std::vector<Lane> lane_;
};

// The lanes a search runs at once on one core, and to a group.
inline constexpr int kSearchLanes = 16;
inline constexpr int kSearchGroup = 8;

// The cores a search runs on: two where the machine has two or more, each
// with a batch of its own; else one.
int search_cores();

// Bytes a search in lanes on N nodes comes to hold beside the state it
// searches for: on each core a copy of that state, a lane's state on its way
// to another lane or to its trial's final state, a batch, and the fields each
// lane's watch keeps to tell a cycle with those compared to them.  The final
// states a search keeps are sized one by one as each is kept.
std::uint64_t search_bytes(int N, int cores);

// The window search of window.hpp with its trials run in lanes, on `cores`
// threads (each with a batch of its own): the same search, each trial the
// run try_dt makes; those that cannot change its outcome are cut short or
// not run.  Below kSweepMinimumN nodes, the search trial by trial.
Window search_window_in_lanes(SimulationState& s, TrialObserver* observer = nullptr, int cores = 1,
                              FinalStates keep = FinalStates::kDropped);

}  // namespace moody::convergence
