#include "run.hpp"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <utility>

#include "control/fpe.hpp"
#include "control/start.hpp"
#include "flow/sweeps.hpp"

namespace moody::convergence {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The fault flags that the pass since the last clearing has raised, the one
// that makes the others first: a division by zero or an overflow makes the
// infinities from which an invalid operation follows.
std::optional<Fault> raised() {
  return fpe::fault_of_flags(std::fetestexcept(FE_ALL_EXCEPT));
}

// The stored line at or before pass k (rows are in pass order); null if none.
const Row* row_at_or_before(const std::vector<Row>& rows, std::int64_t k) {
  auto after = std::upper_bound(rows.begin(), rows.end(), k,
                                [](std::int64_t pass, const Row& row) { return pass < row.pass; });
  return after == rows.begin() ? nullptr : &*(after - 1);
}

// The outlet pressure's movement up to pass a, as the lines keep it: exact
// while every pass has its line, else at the last line before a.
Movement moved_by(const std::vector<Row>& rows, std::int64_t a) {
  const Row* row = row_at_or_before(rows, a);
  return row == nullptr ? Movement{} : row->moved;
}

// The rate of the last passes: three blocks of w passes ending at pass k,
// whose movement was `moved` by then.
struct Tail {
  std::int64_t block = 0;   // w; 0 when the passes are too few for three blocks
  double recent = 0.0;      // V2, the movement over the last block
  double rate = kInfinity;  // rho, the contraction from block to block
  // The bound on what the outlet pressure has still to move (infinite when
  // the last blocks do not contract).
  double rest() const {
    return recent > 0.0 && rate < 1.0 ? recent * rate / (1.0 - rate) : kInfinity;
  }
};

Tail tail_at(const std::vector<Row>& rows, std::int64_t k, const Movement& moved,
             std::int64_t share = 10) {
  Tail t;
  const std::int64_t w = std::max(kShortestBlock, k / share);
  if (k < 3 * w) return t;
  const Movement m1 = moved_by(rows, k - w), m2 = moved_by(rows, k - 2 * w),
                 m3 = moved_by(rows, k - 3 * w);
  const double v2 = moved.since(m1), v1 = m1.since(m2), v0 = m2.since(m3);
  t.block = w;
  t.recent = v2;
  if (v1 > 0.0 && v0 > 0.0) t.rate = std::max(v2 / v1, v1 / v0);
  return t;
}

// The outlet pressure's range over the passes after pass a, from the lines
// (a line's range covers the passes since the line before, so the range can
// take in a few passes before a + 1) and the passes since the last line.
double range_after(const std::vector<Row>& rows, std::int64_t a, double low, double high) {
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    low = std::min(low, row->low);
    high = std::max(high, row->high);
    if (row->pass <= a) break;
  }
  return high - low;
}

// Whether the last three blocks of w passes before pass k are rounding noise
// within `band` (run.hpp, kWander and kTrend): `moved` as in tail_at, low and
// high the range since the last line.
bool in_rounding_noise(const std::vector<Row>& rows, std::int64_t k, std::int64_t w,
                       const Movement& moved, double low, double high, double band) {
  const double last = range_after(rows, k - w, low, high);
  const double three = range_after(rows, k - 3 * w, low, high);
  const double movement = moved.since(moved_by(rows, k - w));
  return last > 0.0 && movement >= kWander * last && three <= kTrend * last &&
         three * static_cast<double>(k) <= band * static_cast<double>(3 * w);
}

// The first pass from which on the outlet pressure stays within `band` of
// `final`: one past the last line whose range leaves it.
std::int64_t first_within(const std::vector<Row>& rows, double final, double band,
                          std::int64_t passes) {
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (row->low < final - band || row->high > final + band) {
      return std::min(row->pass + 1, passes);
    }
  }
  return 1;
}

// The passes after which a tail contracting as `t` says would leave no more
// than `band` to move, from pass k; 0 when it does not contract.
std::int64_t extrapolate(const Tail& t, std::int64_t k, double band) {
  const double rest = t.rest();
  if (t.block == 0 || !std::isfinite(rest) || !(t.rate > 0.0)) return 0;
  if (rest <= band) return k;
  const double blocks = std::ceil(std::log(band / rest) / std::log(t.rate));
  const double passes = static_cast<double>(k) + blocks * static_cast<double>(t.block);
  return passes < 1e15 ? static_cast<std::int64_t>(passes) : 0;
}

}  // namespace

std::optional<Fault> unannounced(const Residuals& r) {
  for (double v : {r.mass, r.velocity, r.pressure, r.outlet}) {
    if (std::isnan(v)) return Fault::kInvalid;
  }
  for (double v : {r.mass, r.velocity, r.pressure, r.outlet}) {
    if (std::isinf(v)) return Fault::kOverflow;
  }
  return std::nullopt;
}

bool row_kept(std::int64_t pass) {
  std::int64_t stride = 1;
  for (std::int64_t limit = 10000; pass > limit; limit *= 10)
    stride *= 10;
  return pass % stride == 0;
}

std::int64_t cap_for(std::int32_t itmax) {
  return std::max<std::int64_t>(kPassCap, itmax);
}

Watch::Watch(double q, std::int32_t itmax) : q_(q), small_(small_pressure(q)), itmax_(itmax) {
  o_.ending = Ending::kCap;
  if (itmax <= 0) o_.reached_itmax = true;  // the program runs no pass: zero pressure
}

Watch::Next Watch::after(std::int64_t k, const Residuals& r) {
  Outcome& o = o_;
  o.passes = k;
  o.last = r;
  moved_.add(std::fabs(r.outlet - before_));
  before_ = r.outlet;
  low_ = std::min(low_, r.outlet);
  high_ = std::max(high_, r.outlet);
  if (k == itmax_) {
    o.reached_itmax = true;
    o.at_itmax = r.outlet;
  }
  if (row_kept(k) || k == itmax_) {
    o.rows.push_back(Row{k, r, low_, high_, moved_});
    low_ = kInfinity;
    high_ = -kInfinity;
  }

  // Converged?
  const double scale = std::max(std::fabs(r.outlet), small_);
  const double pressure_tolerance =
      std::max(kPressureTolerance,
               kRoundingMargin * std::ldexp(std::fabs(r.outlet), -52) / (q_ > 0.0 ? q_ : 1.0));
  const bool below =
      r.mass < kMassTolerance && r.velocity < kVelocityTolerance && r.pressure < pressure_tolerance;
  if (!below) {
    above_ = k;
    o.unmet = r.mass >= kMassTolerance           ? "mass"
              : r.velocity >= kVelocityTolerance ? "velocity"
                                                 : "pressure";
  }
  settled_ = kSettled * scale;
  if (below) {  // the tail's bound only then: three searches of the lines a pass
    const Tail tail = tail_at(o.rows, k, moved_);
    if (tail.block > 0 && tail.rest() <= settled_ &&
        tail_at(o.rows, k, moved_, 5).rest() <= settled_) {
      o.ending = Ending::kConverged;
      return Next::kEnded;
    }
    // Rounding noise, looked for every kNoiseBlock passes at a pass that
    // gets a line: a walk over the lines of the last three blocks.
    if (tail.block >= kNoiseBlock && k % kNoiseBlock == 0 && o.rows.back().pass == k &&
        above_ <= k - 3 * tail.block &&
        in_rounding_noise(o.rows, k, tail.block, moved_, low_, high_, settled_)) {
      o.ending = Ending::kConverged;
      return Next::kEnded;
    }
  }
  // The fields may have come to a cycle: the residuals of the pass whose
  // fields are kept recurring first, then the fields.
  cycle_low_ = std::min(cycle_low_, r.outlet);
  cycle_high_ = std::max(cycle_high_, r.outlet);
  cycle_below_ = cycle_below_ && below;
  const bool recurs = cycle_from_ > 0 && r.mass == cycle_residuals_.mass &&
                      r.velocity == cycle_residuals_.velocity &&
                      r.pressure == cycle_residuals_.pressure &&
                      r.outlet == cycle_residuals_.outlet;
  if (recurs || cycle_from_ == 0 || k - cycle_from_ >= kLongestCycle) return Next::kCycle;
  return diverging(k, r) ? Next::kEnded : Next::kGoOn;
}

bool Watch::cycling(std::vector<double> carried) {
  const std::int64_t k = o_.passes;
  if (cycle_from_ > 0 && carried == cycle_fields_) {
    // Every pass from here on repeats one of passes cycle_from_ + 1 .. k.
    const bool settled = cycle_below_ && cycle_high_ - cycle_low_ <= settled_;
    o_.ending = settled ? Ending::kConverged : Ending::kStuck;
    o_.cycle_from = cycle_from_;
    o_.cycle_low = cycle_low_;
    o_.cycle_high = cycle_high_;
    return true;
  }
  cycle_from_ = k;
  cycle_residuals_ = o_.last;
  cycle_fields_ = std::move(carried);
  cycle_low_ = kInfinity;
  cycle_high_ = -kInfinity;
  cycle_below_ = true;
  return diverging(k, o_.last);
}

bool Watch::diverging(std::int64_t k, const Residuals& r) {
  if (velocity_.grown(r.velocity) && r.velocity > kRunaway) {
    o_.ending = Ending::kDiverging;
    o_.diverging_from = velocity_.pass;
    o_.smallest = velocity_.value;
    return true;
  }
  // The first pass starts from rest: its residuals measure the start, not
  // the iteration, and some may be near zero.
  if (k >= 2) velocity_.update(r.velocity, k);
  return false;
}

void Watch::fault(std::int64_t k, Fault f) {
  o_.ending = Ending::kFault;
  o_.fault = f;
  o_.passes = k;
}

Outcome Watch::finish() {
  Outcome& o = o_;
  // The last pass that left finite values always has its line.
  const std::int64_t good = o.ending == Ending::kFault ? o.passes - 1 : o.passes;
  if (good > 0 && (o.rows.empty() || o.rows.back().pass != good)) {
    o.rows.push_back(Row{good, o.last, low_, high_, moved_});
  }
  const double scale = std::max(std::fabs(o.last.outlet), small_);
  if (o.ending == Ending::kConverged) {
    // Every pass from `needed` on is within kBand of the value the run
    // settles to: within kBand - kStated of the last, which is within
    // kStated of it (kSettled by the bound; the bound is an estimate).
    o.converged = o.last.outlet;
    o.needed = first_within(o.rows, o.converged, (kBand - kStated) * scale, o.passes);
    o.residuals_below = above_ + 1;
  } else if (o.ending == Ending::kCap && good > 0) {
    const Tail tail = tail_at(o.rows, good, moved_);
    o.extrapolated = extrapolate(tail, good, kBand * scale);
    o.extrapolated_settled = extrapolate(tail, good, kSettled * scale);
    o.creeping = tail.block > 0 && tail.recent <= kSettled * scale;
  }
  return std::move(o_);
}

std::shared_ptr<const FinalState> keep_final_state(const Outcome& o, SimulationState s) {
  s.it = static_cast<std::int32_t>(std::min<std::int64_t>(o.passes, INT32_MAX));
  const std::int64_t from = o.passes - std::max<std::int64_t>(1, o.passes / 10);
  const double final = o.last.outlet;
  double most = 0.0;
  for (const Row& row : o.rows) {
    if (row.pass <= from) continue;
    most = std::max({most, std::fabs(row.low - final), std::fabs(row.high - final)});
  }
  return std::make_shared<const FinalState>(FinalState{std::move(s), most});
}

std::vector<double> carried_fields(const SimulationState& s) {
  std::vector<double> v;
  v.reserve(5 * static_cast<std::size_t>(s.N));
  for (const Array1* a : {&s.u, &s.u0, &s.ue, &s.ue0, &s.p}) {
    for (int i = 1; i <= a->size(); ++i)
      v.push_back((*a)(i));
  }
  return v;
}

namespace {

// The passes after pass `from` of the run in `s`, told to `watch`, to the
// run's verdict.
Outcome go_on(SimulationState& s, Watch& watch, std::int64_t from, Observer* observer,
              FinalStates keep) {
  Meter meter(s);
  const std::int64_t cap = cap_for(s.itmax);
  for (std::int64_t k = from + 1; k <= cap; ++k) {
    s.it = static_cast<std::int32_t>(std::min<std::int64_t>(k, INT32_MAX));
    std::feclearexcept(FE_ALL_EXCEPT);
    outer_iteration(s);
    std::optional<Fault> fault = raised();
    const Residuals r = meter.measure(s);
    if (!fault) fault = unannounced(r);
    if (fault) {
      watch.fault(k, *fault);
      break;
    }
    const Watch::Next next = watch.after(k, r);
    if (observer != nullptr) observer->pass(k, r);
    if (next == Watch::Next::kEnded) break;
    if (next == Watch::Next::kCycle && watch.cycling(carried_fields(s))) break;
  }
  Outcome o = watch.finish();
  if (o.ending == Ending::kConverged && keep == FinalStates::kKept)
    o.final_state = keep_final_state(o, s);
  return o;
}

}  // namespace

Outcome run(SimulationState& s, Observer* observer, FinalStates keep) {
  fpe::Masked masked;

  std::feclearexcept(FE_ALL_EXCEPT);
  start_run(s);
  Watch watch(dynamic_pressure(s), s.itmax);
  if (const std::optional<Fault> f = raised()) {
    watch.fault(0, *f);
    return watch.finish();
  }
  return go_on(s, watch, 0, observer, keep);
}

Outcome resume(SuspendedRun r, Observer* observer, FinalStates keep) {
  fpe::Masked masked;
  return go_on(r.state, r.watch, r.passes, observer, keep);
}

}  // namespace moody::convergence
