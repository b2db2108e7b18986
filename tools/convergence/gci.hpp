#pragma once
// The discretisation error of a quantity from its values on several grids:
// the observed order, the Richardson extrapolation and the Grid Convergence
// Index, by the procedure the fluids-engineering journals ask for.
//
// Three grids, 1 the finest, with spacings h1 < h2 < h3 and values phi:
//   r21 = h2/h1, r32 = h3/h2, e21 = phi2 - phi1, e32 = phi3 - phi2,
//   s = sign(e32/e21),
//   p = |ln|e32/e21| + q(p)| / ln r21,  q(p) = ln((r21^p - s)/(r32^p - s)),
//       solved by fixed-point iteration from q = 0,
//   phi_ext = (r21^p*phi1 - phi2)/(r21^p - 1),
//   ea21 = |(phi1 - phi2)/phi1|, eext21 = |(phi_ext - phi1)/phi_ext|,
//   GCI21 = Fs*ea21/(r21^p - 1) with Fs = 1.25, the GCI of the finest grid,
//   GCI32 = Fs*ea32/(r32^p - 1), ea32 = |(phi2 - phi3)/phi2|,
//   GCI32/(r21^p*GCI21): with p observed on the same three grids it is
//   phi1/phi2 times a function of r21, r32 and p alone (phi1/phi2 itself
//   where r21 = r32 or the convergence is monotonic), so it cannot tell
//   whether the grids are in the asymptotic range.
// The ratio R = e21/e32 tells the kind of convergence: 0 < R < 1 monotonic,
// -1 < R < 0 oscillatory, |R| >= 1 (or a zero difference) divergent.
//
// With four grids or more, phi = phi0 + alpha*h^p fitted to all of them in
// the least-squares sense as well.

#include <cmath>
#include <vector>

namespace moody::convergence {

inline constexpr double kSafetyFactor = 1.25;

enum class Kind { kMonotonic, kOscillatory, kDivergent };

// "monotonic", "oscillatory", "divergent".
const char* kind_name(Kind kind);

struct ThreeGrids {
  double h1 = 0.0, h2 = 0.0, h3 = 0.0;  // spacings, h1 the finest
  double phi1 = 0.0, phi2 = 0.0, phi3 = 0.0;
};

// Every field but the ratios is NaN where it cannot be formed (a zero
// difference, an iteration that does not settle, a zero value).
struct Gci {
  double r21 = 0.0, r32 = 0.0;
  double e21 = 0.0, e32 = 0.0;
  double R = 0.0;  // e21/e32
  Kind kind = Kind::kDivergent;
  double p = 0.0;  // observed order
  int iterations = 0;
  double extrapolated = 0.0;
  double ea21 = 0.0, eext21 = 0.0;  // relative errors (fractions)
  double gci_fine = 0.0;            // GCI21, a fraction of |phi1|
  double gci_coarse = 0.0;          // GCI32, a fraction of |phi2|
  double asymptotic = 0.0;          // GCI32/(r21^p*GCI21)

  bool has_order() const { return !std::isnan(p); }
};

Gci grid_convergence_index(const ThreeGrids& g);

// phi = phi0 + alpha*h^p over every grid, least squares; `found` false for
// fewer than four grids or a fit that finds no minimum for p in (0.05, 10).
struct PowerFit {
  bool found = false;
  double p = 0.0, phi0 = 0.0, alpha = 0.0;
  double rms = 0.0;  // root-mean-square residual of the fit
};

PowerFit least_squares_fit(const std::vector<double>& h, const std::vector<double>& phi);

// The real volumes whose GCI would be `target` (a fraction), from the finest
// grid's volumes and GCI and the observed order: the GCI falls as h^p.
double volumes_for_gci(double volumes, double gci, double p, double target);

}  // namespace moody::convergence
