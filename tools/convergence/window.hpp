#pragma once
// The window of time steps: for one dados.txt, with everything but dt fixed,
// the range of dt in which the run converges within the cap of passes, and
// the dt in that range that converges in the fewest passes.
//
// Every dt tried is a number of three significant digits, read as the
// program reads dados.txt, so that the dt printed is the dt that ran.
//
// The search:
//   1. A first converging dt: max(T/10, floor) with T = L/|Uin| the passage
//      time and floor the time-step floor of the grid; else the dt of
//      dados.txt; else the first that converges on a scan from floor/2
//      (no less than 1e-7*T) up to 1e4*T by factors of 2^(1/4).
//   2. From there up and down by factors of 2 until a run fails or the scan
//      passes 1e4*T (upwards) or 1e-7*T (downwards).
//   3. Each edge bisected (on log dt) until the last converging and the
//      first failing dt are less than 1 % apart.
//   4. The fewest passes: among the converging dt at least 5 % inside both
//      edges, the best one found so far is compared with its neighbours at
//      factors 2^(1/2), 2^(1/4), 2^(1/8) and 2^(1/16), moving to any that
//      needs fewer passes, and last with the two ends of that range.  When
//      the window is narrower than 10 %, its middle.
// A band of failing dt narrower than a factor of 2 inside the window can go
// unseen; the search does not look beyond the first failure on either side.
//
// The trials come from a TrialSource: run one by one as the search asks for
// them (search_window with an observer), or planned ahead and run side by
// side in the lanes of a batch (lane_trials.hpp), where the search is run
// again on what is known each time a trial ends.  Either way the outcome
// is the one the search gives trial by trial; in lanes, a trial of step 4
// that needs more passes than the best is not listed, whether its run was
// stopped once that was shown or ran to its end, so that the trials listed
// are the same on every run.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "control/state.hpp"
#include "run.hpp"

namespace moody::convergence {

// One dt tried: how its run ended.
struct Trial {
  double dt = 0.0;
  Ending ending = Ending::kCap;
  std::int64_t passes = 0;          // passes run
  std::int64_t needed = 0;          // converged: passes needed
  double converged = 0.0;           // converged: the outlet pressure [Pa]
  std::int64_t diverging_from = 0;  // diverging: from this pass
  std::int64_t cycle_from = 0;      // stuck: repeating from this pass
  std::optional<Fault> fault;       // fault: which, in pass `passes`
  // Converged: the state the run ends in.
  std::shared_ptr<const FinalState> final_state;

  bool ok() const { return ending == Ending::kConverged; }
};

struct Window {
  double floor = 0.0;   // the time-step floor of the grid
  double bottom = 0.0;  // the search limits, 1e-7*T and 1e4*T
  double top = 0.0;
  std::vector<Trial> trials;  // every dt tried, in increasing dt
  bool open = false;          // some dt converges
  // The converging range: its smallest and largest converging dt, and the
  // failing dt just outside each edge (dt = 0 when the search limit was
  // reached without a failure).
  Trial lower, upper;
  Trial below, above;
  Trial recommended;  // the dt with the fewest passes
  // Predicted from a coarser grid's window (predicted_window.hpp) in one
  // round of dt: `recommended` and `dados` known only to come
  // within kBand of the grid's steady value at pass `needed` (`dados.dt` = 0:
  // dados.txt's dt does not, within kDadosPassesFactor of the recommended's
  // passes); each needs its run to convergence.
  bool predicted = false;
  Trial dados;
  std::shared_ptr<SuspendedRun> suspended;  // predicted: the recommended's run, to go on with
};

// The recommendation lies at least this factor inside both edges.
inline constexpr double kEdgeMargin = 1.05;

// A window with only the floor and the search limits of `s` set.
Window window_limits(const SimulationState& s);

// Searches the window for the parameters in `s` (sized with size_state);
// `s.dt` is left as it was.  `observer`, when given, is told of every pass
// of every run; `observer->trial` of every dt before its run starts.
class TrialObserver : public Observer {
 public:
  virtual void trial(double dt) = 0;
};
Window search_window(SimulationState& s, TrialObserver* observer = nullptr,
                     FinalStates keep = FinalStates::kDropped);

// dt rounded to three significant digits, as text ("1.36", "0.0016", "2e+04")
// and as the program reads that text.
std::string dt_text(double dt);
double dt_rounded(double dt);

// Runs `s` with this dt (already rounded) and sums up the outcome.
Trial try_dt(SimulationState& s, double dt, Observer* observer = nullptr,
             FinalStates keep = FinalStates::kDropped);
// The Trial of a run with this dt that ended in `o`.
Trial trial_of(double dt, const Outcome& o);

// Where a search gets its trials.
class TrialSource {
 public:
  virtual ~TrialSource() = default;
  // The trial of dt (rounded).  pass_limit > 0: the search only needs to
  // know whether the run converges in `pass_limit` passes or fewer; a
  // source may answer a run that needs more with any trial that has not
  // converged.
  virtual const Trial& at(double dt, std::int64_t pass_limit) = 0;
  // Every trial answered so far that converged or ended for good, in
  // increasing dt.
  virtual std::vector<Trial> all() const = 0;
  // The search starts a part that does not depend on the trials of the
  // part before (an edge, the fewest passes) beyond its starting point.
  virtual void begin_part() {}
  // Some dt in [from, to] asked for is not known yet (a source that answers
  // every dt as it is asked never waits).
  virtual bool waiting(double /*from*/, double /*to*/) const { return false; }
};
// The search of `s` (its parameters and N) on trials from `source`.
Window search_window(const SimulationState& s, TrialSource& source);

}  // namespace moody::convergence
