#include "run.hpp"

#include <algorithm>
#include <cfenv>
#include <cmath>

#include "control/fpe.hpp"
#include "control/principal.hpp"
#include "control/start.hpp"

namespace moody::convergence {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// The fault flags that the pass since the last clearing has raised, the one
// that makes the others first: a division by zero or an overflow makes the
// infinities from which an invalid operation follows.
std::optional<Fault> raised() {
  const int flags = std::fetestexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID);
  if (flags & FE_DIVBYZERO) return Fault::kDivideByZero;
  if (flags & FE_OVERFLOW) return Fault::kOverflow;
  if (flags & FE_INVALID) return Fault::kInvalid;
  return std::nullopt;
}

// The stored line at or before pass k (rows are in pass order); null if none.
const Row* row_at_or_before(const std::vector<Row>& rows, std::int64_t k) {
  auto after = std::upper_bound(rows.begin(), rows.end(), k,
                                [](std::int64_t pass, const Row& row) { return pass < row.pass; });
  return after == rows.begin() ? nullptr : &*(after - 1);
}

// The outlet pressure's movement up to pass a, as the lines keep it: exact
// while every pass has its line, else at the last line before a.
double moved_by(const std::vector<Row>& rows, std::int64_t a) {
  const Row* row = row_at_or_before(rows, a);
  return row == nullptr ? 0.0 : row->moved;
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
    if (recent == 0.0) return 0.0;
    return rate < 1.0 ? recent * rate / (1.0 - rate) : kInfinity;
  }
};

Tail tail_at(const std::vector<Row>& rows, std::int64_t k, double moved) {
  Tail t;
  const std::int64_t w = std::max(kShortestBlock, k / 10);
  if (k < 3 * w) return t;
  const double m1 = moved_by(rows, k - w), m2 = moved_by(rows, k - 2 * w),
               m3 = moved_by(rows, k - 3 * w);
  const double v2 = moved - m1, v1 = m1 - m2, v0 = m2 - m3;
  t.block = w;
  t.recent = v2;
  if (v1 > 0.0 && v0 > 0.0) t.rate = std::max(v2 / v1, v1 / v0);
  return t;
}

// The range of the outlet pressure over the passes after `from`, at least
// (the lines' ranges reach back to the line before), and the current one.
double spread_since(const std::vector<Row>& rows, std::int64_t from, double low, double high) {
  for (auto row = rows.rbegin(); row != rows.rend() && row->pass > from; ++row) {
    low = std::min(low, row->low);
    high = std::max(high, row->high);
  }
  return high - low;
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

Watch::Watch(double q, std::int32_t itmax)
    : q_(q), small_(kSmallPressure * (q > 0.0 ? q : 1.0)), itmax_(itmax) {
  o_.ending = Ending::kCap;
  if (itmax <= 0) o_.reached_itmax = true;  // the program runs no pass: zero pressure
}

Watch::Next Watch::after(std::int64_t k, const Residuals& r) {
  Outcome& o = o_;
  o.passes = k;
  o.last = r;
  moved_ += std::fabs(r.outlet - before_);
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
  if (r.mass < kMassTolerance && r.velocity < kVelocityTolerance &&
      r.pressure < pressure_tolerance) {
    const Tail tail = tail_at(o.rows, k, moved_);
    settled_ = kSettled * scale;
    if (tail.block > 0 && tail.rest() <= settled_) {
      o.ending = Ending::kConverged;
      return Next::kEnded;
    }
    if (tail.block > 0 && tail.recent <= settled_ &&
        k % std::max<std::int64_t>(1, tail.block / 64) == 0) {
      floor_from_ = k - 3 * tail.block;
      return Next::kFloor;
    }
  } else {
    above_ = k;
  }
  return diverging(k, r) ? Next::kEnded : Next::kGoOn;
}

bool Watch::at_floor(double largest) {
  const double floor = kFloorRoundings * std::ldexp(largest, -52);
  if (floor <= settled_ && spread_since(o_.rows, floor_from_, low_, high_) <= floor) {
    o_.ending = Ending::kConverged;
    return true;
  }
  return diverging(o_.passes, o_.last);
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
    // settles to: within kBand - kSettled of the last, which is within
    // kSettled of it.
    o.converged = o.last.outlet;
    o.needed = first_within(o.rows, o.converged, (kBand - kSettled) * scale, o.passes);
    o.residuals_below = above_ + 1;
  } else if (o.ending == Ending::kCap && good > 0) {
    const Tail tail = tail_at(o.rows, good, moved_);
    o.extrapolated = extrapolate(tail, good, kBand * scale);
    o.extrapolated_settled = extrapolate(tail, good, kSettled * scale);
  }
  return std::move(o_);
}

double largest_pressure(const SimulationState& s) {
  return largest_pressure_of(StateFields{s});
}

Outcome run(SimulationState& s, Observer* observer) {
  fpe::Masked masked;

  std::feclearexcept(FE_ALL_EXCEPT);
  start_run(s);
  Watch watch(dynamic_pressure(s), s.itmax);
  if (const std::optional<Fault> f = raised()) {
    watch.fault(0, *f);
    return watch.finish();
  }

  Meter meter(s);
  const std::int64_t cap = cap_for(s.itmax);
  for (std::int64_t k = 1; k <= cap; ++k) {
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
    if (next == Watch::Next::kFloor && watch.at_floor(largest_pressure(s))) break;
  }
  return watch.finish();
}

}  // namespace moody::convergence
