#pragma once
// The program's outer iteration run past itmax, pass by pass, with the
// residuals measured after every pass, until the run converges, diverges,
// raises a floating-point fault or reaches the cap of passes.
//
// The passes are the program's own (outer_iteration) from the program's own
// start (prepare_grid_and_field), so after k passes the state is bit for bit
// the program's with itmax = k.  They run with the floating-point traps
// masked: a pass that would have stopped the program raises a flag instead,
// which is tested after every pass.  As long as no flag is raised the values
// are the same as under the traps.

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "control/fpe.hpp"
#include "control/state.hpp"
#include "residuals.hpp"

namespace moody::convergence {

// Converged: every residual below its tolerance ...
inline constexpr double kMassTolerance = 1e-6;
inline constexpr double kVelocityTolerance = 1e-9;
inline constexpr double kPressureTolerance = 1e-10;
// ... (the pressure tolerance raised to a thousand times the rounding of the
// outlet pressure, 1000*2^-52*|outlet|/q, where that is larger) ...
inline constexpr double kRoundingMargin = 1000.0;
// ... and the outlet pressure settled: what it has still to move, bounded
// from the rate at which its last passes contract (a geometric tail), is no
// more than kSettled of itself: a tenth of the precision to which the
// converged value is stated, for the estimate's own error.
inline constexpr double kStated = 1e-9;
inline constexpr double kSettled = kStated / 10.0;
// The rate is read off three blocks of passes, each a tenth of the passes
// run (at least kShortestBlock): the outlet pressure's movement in each
// (the sum of |change| over its passes), V0, V1, V2 from the oldest.  The
// tail after the last block is bounded by V2*rho/(1 - rho), with rho the
// larger of V2/V1 and V1/V0.  The bound must hold for blocks of a tenth and
// of a fifth of the passes: a slow oscillation that turns within the last
// block moves little there and would pass for a fast decay; over blocks
// twice as long it does not.  On a clean geometric tail both bounds are the
// same.
inline constexpr std::int64_t kShortestBlock = 4;
// Or settled in rounding noise: near the fixed point each pass rounds the
// velocities by an ulp or so, and the pressure correction turns that into a
// jitter of the pressure of order ro*dx*ulp(u)/dt, which at a small dt can
// outweigh what a slow tail has left; the blocks' movements then stop
// contracting and the bound above never holds.  Over the last three blocks
// every residual is below its tolerance, and the outlet pressure
//   - goes back and forth: its movement over the last block is at least
//     kWander times its range there (a drift or a creep, which moves one
//     way, has a movement about equal to its range);
//   - has no trend: its range over the three blocks is at most kTrend
//     times its range over the last (a drift or a geometric tail spans at
//     least three times as much over three blocks as over one);
//   - stays within kSettled of itself over the three blocks, and would
//     over as many passes again as the run has had even if all of that
//     range were a drift hidden in the noise: range*k/(3*w) <= kSettled.
// An outlet pressure that does not move at all is no noise: at a tiny dt
// the velocities creep while the pressure stands still.  Blocks of fewer
// than kNoiseBlock passes are too short to tell noise from a trend; the
// test runs every kNoiseBlock passes.
inline constexpr double kWander = 8.0;
inline constexpr double kTrend = 2.0;
inline constexpr std::int64_t kNoiseBlock = 100;
// Or settled for good: the fields a pass reads of the one before (u, u0,
// ue, ue0, p) recur bit for bit within this many passes, so that every pass
// from there on repeats one of the cycle's, and on the cycle every residual
// is below its tolerance and the outlet pressure within kSettled (a cycle
// that is not is "stuck").  A run whose outlet pressure merely stops moving
// is not settled: at a tiny dt the velocities creep by a rounding a pass,
// and the pressure follows thousands of passes later.
inline constexpr std::int64_t kLongestCycle = 64;
// Passes needed: the first pass from which on the outlet pressure stays
// within this fraction of the converged one.
inline constexpr double kBand = 1e-6;
// Relative measures of the outlet pressure are taken against no less than
// this fraction of the dynamic pressure (an outlet pressure near zero).
inline constexpr double kSmallPressure = 1e-3;
// That floor for the dynamic pressure q (1 Pa standing for a q of zero).
inline double small_pressure(double q) {
  return kSmallPressure * (q > 0.0 ? q : 1.0);
}
// Diverging: the velocity residual has grown this many times over its
// smallest value since pass 2 (taken no smaller than its tolerance) ...
inline constexpr double kGrowth = 1e6;
// ... and is beyond this: the velocity has changed in one pass by a million
// times the inlet velocity.  Large-dt runs on viscous ducts approach their
// value slowly and not monotonically; their residuals can grow a
// million-fold from a small value and still settle, but stay far below this.
inline constexpr double kRunaway = 1e6;
// The cap of passes: this many, or itmax when that is larger.
inline constexpr std::int64_t kPassCap = 100000;

enum class Ending {
  kConverged,
  kDiverging,
  kFault,  // a floating-point division by zero, overflow or invalid operation
  kCap,
  // The fields repeat bit for bit with a residual above its tolerance: the
  // program's result no longer changes, but solves nothing (at a dt so small
  // that the corrections are below the roundings of the fields).
  kStuck,
};

// A fault that would have stopped the program: the trap handler's list.
using fpe::Fault;

// The outlet pressure's movement, the sum of |change| over the passes so
// far, held as an unevaluated sum hi + lo: the changes of the last passes
// are many decades below the sum of the early ones, and a plain sum would
// round them away.
struct Movement {
  double hi = 0.0, lo = 0.0;
  void add(double v) {  // Knuth's two-sum: hi + lo gains v exactly
    const double s = hi + v;
    const double b = s - hi;
    lo += (hi - (s - b)) + (v - b);
    hi = s;
  }
  // The movement since `earlier`.
  double since(const Movement& earlier) const { return (hi - earlier.hi) + (lo - earlier.lo); }
};

// One line of residuos.dat: the residuals after pass `pass`, and the range
// of the outlet pressure over the passes since the line before.
struct Row {
  std::int64_t pass = 0;
  Residuals r;
  double low = 0.0, high = 0.0;
  Movement moved;  // of the outlet pressure over passes 1..pass
};

// Which passes get a line: every pass up to 10 000, every 10th up to
// 100 000, every 100th up to 1 000 000, and so on; the last pass and pass
// itmax always.
bool row_kept(std::int64_t pass);

// What a converged run ends in: the program's state after the run's passes
// (it = the passes; parameters as the run had them), and the largest
// distance of the outlet pressure from its final value over the last tenth
// of the passes [Pa].
struct FinalState {
  SimulationState state;
  double settling = 0.0;
};

struct Outcome {
  Ending ending = Ending::kCap;
  std::int64_t passes = 0;  // passes run, the faulting one included
  Residuals last;           // after the last pass
  // Converged: the passes needed (see kBand), the first pass from which on
  // every residual stays below its tolerance, and the converged outlet
  // pressure.
  std::int64_t needed = 0;
  std::int64_t residuals_below = 0;
  double converged = std::numeric_limits<double>::quiet_NaN();
  // The cap: the passes after which, at the rate of the last passes, the
  // outlet pressure would be within kBand of its value, and settled (0 when
  // the last passes show no steady approach).
  std::int64_t extrapolated = 0;
  std::int64_t extrapolated_settled = 0;
  // The cap: the outlet pressure still over the last passes (within
  // kSettled), the fields not recurring.
  bool creeping = false;
  // Converged or stuck on a cycle: every pass after this one repeats one of
  // the passes from it to the last (0: not on a cycle).
  std::int64_t cycle_from = 0;
  double cycle_low = 0.0, cycle_high = 0.0;  // the outlet pressure on the cycle
  // The residual not below its tolerance at the last pass that had one.
  const char* unmet = "";
  // The outlet pressure after pass itmax (0 when itmax <= 0), when the run got there.
  bool reached_itmax = false;
  double at_itmax = 0.0;
  // Diverging: the pass of the smallest velocity residual, from which it
  // grew, and that smallest value; `passes` is where it was beyond kRunaway.
  std::int64_t diverging_from = 0;
  double smallest = 0.0;
  // Fault: which; `passes` is the pass that raised it (0: the grid width).
  std::optional<Fault> fault;
  std::vector<Row> rows;
  // Converged: the state it ends in (shared by the copies of a trial).
  std::shared_ptr<const FinalState> final_state;
};

// Whether a converged run keeps the state it ends in: a whole state each,
// so only a caller that writes files from it (the grid study) asks.
enum class FinalStates : unsigned char { kDropped, kKept };

// The final state of a run that ended in `o`, from `s`, its state after the
// last pass.
std::shared_ptr<const FinalState> keep_final_state(const Outcome& o, SimulationState s);

// Told of every pass (for a progress display).
class Observer {
 public:
  virtual ~Observer() = default;
  virtual void pass(std::int64_t k, const Residuals& r) = 0;
};

std::int64_t cap_for(std::int32_t itmax);

// The verdict of one run, told of its passes one by one: what the run and a
// lane of a batch search both decide with.
class Watch {
 public:
  // q: the dynamic pressure of the inlet flow; itmax: the program's.
  Watch(double q, std::int32_t itmax);

  enum class Next {
    kGoOn,
    kEnded,  // converged or diverging: outcome() says which
    kCycle,  // the run may be cycling: call cycling() with the carried fields
  };
  // After pass k (from 1, each pass once) with its residuals, all finite.
  Next after(std::int64_t k, const Residuals& r);
  // With the fields that pass left (carried_fields); true when the run has
  // ended.
  bool cycling(std::vector<double> carried);
  // Pass k raised a fault (k = 0: the grid and geometry).
  void fault(std::int64_t k, Fault f);

  const Outcome& outcome() const { return o_; }
  // The outcome, with the passes needed or the extrapolation at the cap;
  // the watch is spent.
  Outcome finish();

 private:
  struct Lowest {
    double tolerance;
    double value = std::numeric_limits<double>::infinity();
    std::int64_t pass = 0;

    // True when `r` has grown kGrowth-fold over the lowest value before it.
    bool grown(double r) const { return pass > 0 && r > kGrowth * value; }
    void update(double r, std::int64_t k) {
      const double v = r > tolerance ? r : tolerance;
      if (v < value) {
        value = v;
        pass = k;
      }
    }
  };
  bool diverging(std::int64_t k, const Residuals& r);

  Outcome o_;
  double q_, small_;
  std::int32_t itmax_;
  Lowest velocity_{kVelocityTolerance};
  // The outlet pressure since the last line, its movement, its value a pass
  // ago; the last pass with a residual not below its tolerance.
  double low_ = std::numeric_limits<double>::infinity();
  double high_ = -std::numeric_limits<double>::infinity();
  Movement moved_;
  double before_ = 0.0;
  std::int64_t above_ = 0;
  // The pass whose fields may recur (0: none), its residuals and fields.
  std::int64_t cycle_from_ = 0;
  Residuals cycle_residuals_;
  std::vector<double> cycle_fields_;
  double cycle_low_ = 0.0, cycle_high_ = 0.0;  // the outlet pressure since then
  bool cycle_below_ = true;                    // every residual below, since then
  double settled_ = 0.0;                       // kSettled of it, at the last pass
};

// u, u0, ue, ue0 and p of the state, one after the other.
std::vector<double> carried_fields(const SimulationState& s);

// A fault that no flag announced (where the masks are not honoured), read
// off the residuals of a pass: NaN is an invalid operation, an infinity an
// overflow.
std::optional<Fault> unannounced(const Residuals& r);

// Runs `s` from the program's start: `s` holds the twelve parameters and
// has been sized (size_state); pi, the grid and the field are set here.
// A run that converges keeps a copy of the state it ends in.
Outcome run(SimulationState& s, Observer* observer = nullptr,
            FinalStates keep = FinalStates::kDropped);

// A run stopped after `passes` passes, to be gone on with: the state those
// passes left and the watch told of them.
struct SuspendedRun {
  SimulationState state;
  Watch watch;
  std::int64_t passes = 0;
};
// The rest of that run, to its verdict: the outcome run() gives, bit for bit.
Outcome resume(SuspendedRun r, Observer* observer = nullptr,
               FinalStates keep = FinalStates::kDropped);

}  // namespace moody::convergence
