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
// The pressure rise p(b) - p(a) is its integral, taken here by quadrature.

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

// p(b) - p(a) of the exact solution.
inline double pressure_rise(const Parameters& c, double a, double b) {
  return integral([&c](double x) { return pressure_gradient(c, x); }, a, b);
}

}  // namespace moody::verification
