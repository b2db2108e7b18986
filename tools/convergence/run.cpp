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

// A value that no flag announced (where the masks are not honoured): NaN is
// an invalid operation, an infinity an overflow.
std::optional<Fault> unannounced(const Residuals& r) {
  for (double v : {r.mass, r.velocity, r.pressure, r.outlet}) {
    if (std::isnan(v)) return Fault::kInvalid;
  }
  for (double v : {r.mass, r.velocity, r.pressure, r.outlet}) {
    if (std::isinf(v)) return Fault::kOverflow;
  }
  return std::nullopt;
}

// The smallest value of one residual so far, and where it was.
struct Lowest {
  const char* name;
  double tolerance;
  double value = kInfinity;
  std::int64_t pass = 0;

  // True when `r` has grown kGrowth-fold over the lowest value before it.
  bool grown(double r) const { return pass > 0 && r > kGrowth * value; }
  void update(double r, std::int64_t k) {
    const double v = std::max(r, tolerance);
    if (v < value) {
      value = v;
      pass = k;
    }
  }
};

// The stored line at or before pass k (rows are in pass order); null if none.
const Row* row_at_or_before(const std::vector<Row>& rows, std::int64_t k) {
  auto after = std::upper_bound(rows.begin(), rows.end(), k,
                                [](std::int64_t pass, const Row& row) { return pass < row.pass; });
  return after == rows.begin() ? nullptr : &*(after - 1);
}

// The first pass from which on the outlet pressure stays within kBand of the
// converged value `final`: one past the last line whose range leaves the band.
std::int64_t passes_needed(const std::vector<Row>& rows, double final, double scale,
                           std::int64_t passes) {
  const double band = kBand * scale;
  for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
    if (row->low < final - band || row->high > final + band) {
      return std::min(row->pass + 1, passes);
    }
  }
  return 1;
}

}  // namespace

bool row_kept(std::int64_t pass) {
  std::int64_t stride = 1;
  for (std::int64_t limit = 10000; pass > limit; limit *= 10)
    stride *= 10;
  return pass % stride == 0;
}

std::int64_t cap_for(std::int32_t itmax) {
  return std::max<std::int64_t>(kPassCap, itmax);
}

Outcome run(SimulationState& s, Observer* observer) {
  fpe::Masked masked;
  Outcome o;

  std::feclearexcept(FE_ALL_EXCEPT);
  start_run(s);
  if (const std::optional<Fault> f = raised()) {
    o.ending = Ending::kFault;
    o.fault = f;
    return o;
  }

  Meter meter(s);
  const double q = dynamic_pressure(s);
  const double small = kSmallPressure * (q > 0.0 ? q : 1.0);
  const std::int64_t cap = cap_for(s.itmax);
  if (s.itmax <= 0) o.reached_itmax = true;  // the program runs no pass: zero pressure

  Lowest mass{"mass", kMassTolerance};
  Lowest velocity{"velocity", kVelocityTolerance};
  Lowest pressure{"pressure", kPressureTolerance};
  double low = kInfinity, high = -kInfinity;  // outlet pressure since the last line
  o.ending = Ending::kCap;
  std::int64_t k = 1;
  for (; k <= cap; ++k) {
    s.it = static_cast<std::int32_t>(std::min<std::int64_t>(k, INT32_MAX));
    std::feclearexcept(FE_ALL_EXCEPT);
    outer_iteration(s);
    std::optional<Fault> fault = raised();
    const Residuals r = meter.measure(s);
    if (!fault) fault = unannounced(r);
    if (fault) {
      o.ending = Ending::kFault;
      o.fault = fault;
      o.passes = k;
      break;
    }

    o.passes = k;
    o.last = r;
    low = std::min(low, r.outlet);
    high = std::max(high, r.outlet);
    if (k == s.itmax) {
      o.reached_itmax = true;
      o.at_itmax = r.outlet;
    }
    if (row_kept(k) || k == s.itmax) {
      o.rows.push_back(Row{k, r, low, high});
      low = kInfinity;
      high = -kInfinity;
    }
    if (observer != nullptr) observer->pass(k, r);

    // Converged?
    const double scale = std::max(std::fabs(r.outlet), small);
    const double pressure_tolerance =
        std::max(kPressureTolerance,
                 kRoundingMargin * std::ldexp(std::fabs(r.outlet), -52) / (q > 0.0 ? q : 1.0));
    if (r.mass < kMassTolerance && r.velocity < kVelocityTolerance &&
        r.pressure < pressure_tolerance) {
      const Row* back = row_at_or_before(o.rows, k - std::max<std::int64_t>(1, k / 10));
      if (back != nullptr && std::fabs(r.outlet - back->r.outlet) <= kSettled * scale) {
        o.ending = Ending::kConverged;
        break;
      }
    }
    // Diverging?
    const Lowest* grown = mass.grown(r.mass)           ? &mass
                          : velocity.grown(r.velocity) ? &velocity
                          : pressure.grown(r.pressure) ? &pressure
                                                       : nullptr;
    if (grown != nullptr) {
      o.ending = Ending::kDiverging;
      o.diverging_from = grown->pass;
      o.grown = grown->name;
      break;
    }
    // The first pass starts from rest: its residuals measure the start, not
    // the iteration, and some may be near zero.
    if (k >= 2) {
      mass.update(r.mass, k);
      velocity.update(r.velocity, k);
      pressure.update(r.pressure, k);
    }
  }

  // The last pass that left finite values always has its line.
  const std::int64_t good = o.ending == Ending::kFault ? o.passes - 1 : o.passes;
  if (good > 0 && (o.rows.empty() || o.rows.back().pass != good)) {
    o.rows.push_back(Row{good, o.last, low, high});
  }
  if (o.ending == Ending::kConverged) {
    o.converged = o.last.outlet;
    o.needed =
        passes_needed(o.rows, o.converged, std::max(std::fabs(o.converged), small), o.passes);
  }
  return o;
}

}  // namespace moody::convergence
