#include "gci.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace moody::convergence {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The fixed-point iteration for p: settled when a step moves it by no more
// than this fraction, given up after this many steps.
constexpr double kOrderTolerance = 1e-12;
constexpr int kOrderSteps = 1000;

// |a/b|, NaN when b is zero.
double relative(double a, double b) {
  return b != 0.0 ? std::fabs(a / b) : kNaN;
}

// Least squares of phi = phi0 + alpha*x for x = (h/h_min)^p: the sum of the
// squared residuals, phi0 and alpha through the last two.
double squared_residuals(const std::vector<double>& h, const std::vector<double>& phi, double p,
                         double& phi0, double& alpha) {
  const double h_min = *std::min_element(h.begin(), h.end());
  const auto n = static_cast<double>(h.size());
  double sx = 0.0, sy = 0.0;
  for (std::size_t i = 0; i < h.size(); ++i) {
    sx += std::pow(h[i] / h_min, p);
    sy += phi[i];
  }
  const double mx = sx / n, my = sy / n;
  double sxx = 0.0, sxy = 0.0;
  for (std::size_t i = 0; i < h.size(); ++i) {
    const double dx = std::pow(h[i] / h_min, p) - mx;
    sxx += dx * dx;
    sxy += dx * (phi[i] - my);
  }
  const double a = sxx > 0.0 ? sxy / sxx : 0.0;
  phi0 = my - a * mx;
  alpha = a / std::pow(h_min, p);  // back to phi = phi0 + alpha*h^p
  double sum = 0.0;
  for (std::size_t i = 0; i < h.size(); ++i) {
    const double r = phi[i] - phi0 - a * std::pow(h[i] / h_min, p);
    sum += r * r;
  }
  return sum;
}

}  // namespace

const char* kind_name(Kind kind) {
  switch (kind) {
    case Kind::kMonotonic:
      return "monotonic";
    case Kind::kOscillatory:
      return "oscillatory";
    case Kind::kDivergent:
      break;
  }
  return "divergent";
}

Gci grid_convergence_index(const ThreeGrids& g) {
  Gci c;
  c.r21 = g.h2 / g.h1;
  c.r32 = g.h3 / g.h2;
  c.e21 = g.phi2 - g.phi1;
  c.e32 = g.phi3 - g.phi2;
  c.R = c.e32 != 0.0 ? c.e21 / c.e32 : kNaN;
  c.kind = !(std::fabs(c.R) < 1.0) ? Kind::kDivergent
           : c.R > 0.0             ? Kind::kMonotonic
           : c.R < 0.0             ? Kind::kOscillatory
                                   : Kind::kDivergent;  // e21 = 0
  c.p = c.extrapolated = c.ea21 = c.eext21 = c.gci_fine = c.gci_coarse = c.asymptotic = kNaN;
  if (c.e21 == 0.0 || c.e32 == 0.0 || !(c.r21 > 1.0) || !(c.r32 > 1.0)) return c;

  const double s = c.e32 / c.e21 > 0.0 ? 1.0 : -1.0;
  const double log_ratio = std::log(std::fabs(c.e32 / c.e21));
  const double log_r21 = std::log(c.r21);
  double p = std::fabs(log_ratio) / log_r21;  // q = 0
  for (int k = 1; k <= kOrderSteps; ++k) {
    const double a = std::pow(c.r21, p) - s;
    const double b = std::pow(c.r32, p) - s;
    if (!(a > 0.0) || !(b > 0.0)) return c;
    const double next = std::fabs(log_ratio + std::log(a / b)) / log_r21;
    const bool settled = std::fabs(next - p) <= kOrderTolerance * std::max(1.0, next);
    p = next;
    c.iterations = k;
    if (settled) break;
    if (k == kOrderSteps || !std::isfinite(p)) return c;
  }
  const double rp21 = std::pow(c.r21, p);
  const double rp32 = std::pow(c.r32, p);
  if (!(rp21 > 1.0) || !(rp32 > 1.0)) return c;  // p too small to tell the grids apart
  c.p = p;
  c.extrapolated = (rp21 * g.phi1 - g.phi2) / (rp21 - 1.0);
  c.ea21 = relative(g.phi1 - g.phi2, g.phi1);
  c.eext21 = relative(c.extrapolated - g.phi1, c.extrapolated);
  c.gci_fine = kSafetyFactor * c.ea21 / (rp21 - 1.0);
  c.gci_coarse = kSafetyFactor * relative(g.phi2 - g.phi3, g.phi2) / (rp32 - 1.0);
  c.asymptotic = c.gci_coarse / (rp21 * c.gci_fine);
  return c;
}

PowerFit least_squares_fit(const std::vector<double>& h, const std::vector<double>& phi) {
  PowerFit fit;
  if (h.size() < 4 || h.size() != phi.size()) return fit;
  double phi0 = 0.0, alpha = 0.0;
  const auto S = [&](double p) { return squared_residuals(h, phi, p, phi0, alpha); };

  // A scan of p on a logarithmic scale, then golden sections around its least.
  constexpr double kLow = 0.05, kHigh = 10.0;
  constexpr int kScan = 400;
  const double step = std::log(kHigh / kLow) / kScan;
  int best = 0;
  double best_S = std::numeric_limits<double>::infinity();
  for (int k = 0; k <= kScan; ++k) {
    const double v = S(kLow * std::exp(step * k));
    if (v < best_S) {
      best_S = v;
      best = k;
    }
  }
  if (best == 0 || best == kScan) return fit;  // no minimum inside the range
  double a = std::log(kLow) + step * (best - 1), b = std::log(kLow) + step * (best + 1);
  const double golden = (std::sqrt(5.0) - 1.0) / 2.0;
  double c = b - golden * (b - a), d = a + golden * (b - a);
  double Sc = S(std::exp(c)), Sd = S(std::exp(d));
  while (b - a > 1e-13) {
    if (Sc <= Sd) {
      b = d;
      d = c;
      Sd = Sc;
      c = b - golden * (b - a);
      Sc = S(std::exp(c));
    } else {
      a = c;
      c = d;
      Sc = Sd;
      d = a + golden * (b - a);
      Sd = S(std::exp(d));
    }
  }
  fit.p = std::exp(0.5 * (a + b));
  fit.rms = std::sqrt(S(fit.p) / static_cast<double>(h.size()));
  fit.phi0 = phi0;
  fit.alpha = alpha;
  fit.found = std::isfinite(fit.phi0) && std::isfinite(fit.alpha);
  return fit;
}

double volumes_for_gci(double volumes, double gci, double p, double target) {
  return volumes * std::pow(gci / target, 1.0 / p);
}

}  // namespace moody::convergence
