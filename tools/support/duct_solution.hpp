#pragma once
// The exact steady solution of the one-dimensional model that the program
// discretises: incompressible flow through a duct of diameter
// D(x) = D0 + cd*x, with the inlet velocity Uin prescribed.
//
// Continuity fixes the velocity, A(x)*u(x) = A(0)*Uin:
//   u(x) = Uin*(D0/D(x))^2,  du/dx = -2*cd*u/D,  d2u/dx2 = 6*cd^2*u/D^2.
// The momentum balance of a slice of length dx (convection, Darcy friction
// f*ro*u^2/8 on the wall area pi*D*dx, viscous diffusion, pressure force on
// the area A), divided by A*dx, gives the pressure gradient
//   dp/dx = -ro*u*du/dx - f*ro*u^2/(2*D) + (1/A)*d/dx(mi*A*du/dx),
// where (1/A)*d/dx(mi*A*du/dx) = mi*(d2u/dx2 + (2*cd/D)*du/dx).
// The pressure rise p(b) - p(a) is its integral, which has a closed form
// (pressure_rise below).

#include <cmath>

#include "control/state.hpp"

namespace moody::verification {

// A case of the duct: the twelve parameters of dados.txt, those of the
// study's case unless set (L = 1, mi = 0.001, ro = 1000, f = 0.02, Uin = 1,
// D0 = 0.1, cd = 0.05, beta = 1, itmaxm = 20); the grid's N, dt and itmax
// come with each run (program_run.hpp).  The exact solution reads the duct
// and the fluid only.
struct Duct : Parameters {
  Duct() : Parameters{0, 1.0, 1e-3, 1000.0, 0.02, 1.0, 0.1, 0.05, 0.0, 1.0, 0, 20} {}
};

inline double diameter(const Parameters& c, double x) {
  return c.D0 + c.cd * x;
}

inline double velocity(const Parameters& c, double x) {
  const double r = c.D0 / diameter(c, x);
  return c.Uin * r * r;
}

inline double velocity_slope(const Parameters& c, double x) {
  return -2.0 * c.cd * velocity(c, x) / diameter(c, x);
}

inline double velocity_curvature(const Parameters& c, double x) {
  const double D = diameter(c, x);
  return 6.0 * c.cd * c.cd * velocity(c, x) / (D * D);
}

inline double pressure_gradient(const Parameters& c, double x) {
  const double D = diameter(c, x);
  const double u = velocity(c, x);
  const double du = velocity_slope(c, x);
  const double convection = -c.ro * u * du;
  const double friction = -c.f * c.ro * u * u / (2.0 * D);
  const double diffusion = c.mi * (velocity_curvature(c, x) + 2.0 * c.cd / D * du);
  return convection + friction + diffusion;
}

// Integral of g over [a, b] by composite five-point Gauss-Legendre rules,
// the number of panels doubled until two results agree to rounding.  Meant
// for the smooth integrands of this file.
template <class G>
double integral(G g, double a, double b) {
  static constexpr double kNode[5] = {0.0, 0.5384693101056831, -0.5384693101056831,
                                      0.9061798459386640, -0.9061798459386640};
  static constexpr double kWeight[5] = {0.5688888888888889, 0.4786286704993665, 0.4786286704993665,
                                        0.2369268850561891, 0.2369268850561891};
  auto rule = [&](int panels) {
    const double h = (b - a) / panels;
    double sum = 0.0;
    for (int k = 0; k < panels; ++k) {
      const double mid = a + (k + 0.5) * h;
      for (int j = 0; j < 5; ++j)
        sum += kWeight[j] * g(mid + 0.5 * h * kNode[j]);
    }
    return 0.5 * h * sum;
  };
  double coarse = rule(1);
  for (int panels = 2; panels <= (1 << 16); panels *= 2) {
    const double fine = rule(panels);
    if (std::fabs(fine - coarse) <= 1e-14 * std::fabs(fine) + 1e-300) return fine;
    coarse = fine;
  }
  return coarse;
}

// p(b) - p(a) of the exact solution, in closed form.  With Da = D(a),
// ua = u(a), r = cd*(b - a)/Da, so that D(b) = Da*(1 + r), and
// E(n) = (1 + r)^-n - 1, the three terms of the gradient integrate to
//   convection  -ro*ua^2/2 * E(4),
//   friction     f*ro*ua^2/(8*cd) * E(4) = f*ro*ua^2*(b - a)/(8*Da) * E(4)/r,
//   diffusion   -(2/3)*mi*ua*cd/Da * E(3).
// E(n) = expm1(-n*log1p(r)) holds a few roundings for every r > -1, so the
// quotient E(4)/r stays sound as cd -> 0, where the differences of powers of
// the diameters would cancel; at r = 0 it is its limit -4, and the friction
// term the loss -f*ro*u^2*(b - a)/(2*D) of a straight tube.
inline double pressure_rise(const Parameters& c, double a, double b) {
  const double Da = diameter(c, a);
  const double ua = velocity(c, a);
  const double r = c.cd * (b - a) / Da;
  const double lift = std::log1p(r);
  const double E4 = std::expm1(-4.0 * lift);
  const double E3 = std::expm1(-3.0 * lift);
  const double E4_over_r = r == 0.0 ? -4.0 : E4 / r;
  const double convection = -c.ro * ua * ua / 2.0 * E4;
  const double friction = c.f * c.ro * ua * ua * (b - a) / (8.0 * Da) * E4_over_r;
  const double diffusion = -2.0 / 3.0 * c.mi * ua * c.cd / Da * E3;
  return convection + friction + diffusion;
}

}  // namespace moody::verification
