// The program against the exact steady solution of its 1-D model, run as a
// user runs it, on the three coarsest grids of the verification study: the
// outlet pressure converges at first order, the nodal velocities at second,
// and every face carries the inlet's volume flow.  Also the floor of the time
// step, and the oracle itself: the closed form of the pressure rise.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "duct_solution.hpp"
#include "flow/time_step.hpp"
#include "program_run.hpp"
#include "run.hpp"

namespace moody::verification {
namespace {

// p(L) - p(0) in closed form against the same integral in exact rational
// arithmetic on the doubles of each case (worked out once, rounded to 17
// digits), and against quadrature of the gradient where that is smooth.
// The ducts: the study's, strongly viscous, plain, narrowing, a long cone,
// and on either side of the straight-tube limit cd = 0 (cd = 1e-12, -1e-9,
// 1e-300); then an outlet of 2e-7 m, where the gradient grows by 1e22 along
// the duct and the quadrature cannot follow.
TEST(ExactSolution, ClosedFormOfThePressureRise) {
  const struct {
    double L, mi, D0, cd;
    double expected;
    bool quadrature;
  } rows[] = {
      {1.0, 1e-3, 0.1, 0.05, 361.11134567901235, true},
      {1.0, 5.0, 0.1, 0.05, 362.28395061728395, true},
      {1.0, 1e-3, 0.1, 0.0, -100.0, true},
      {1.0, 1e-3, 0.1, -0.06, -20617.181649999988, true},
      {20.0, 1e-3, 0.1, 0.4, 493.7526551915534, true},
      {2.0, 1e-3, 0.05, 1e-12, -399.99999987999996, false},
      {2.0, 1e-3, 0.05, -1e-9, -400.0001200000112, false},
      {2.0, 1e-3, 0.05, 1e-300, -400.0, false},
      {2.0, 1e-3, 0.05, -0.0249999, -2.3437515622314579e+24, false},
  };
  for (const auto& row : rows) {
    Duct c;
    c.L = row.L, c.mi = row.mi, c.D0 = row.D0, c.cd = row.cd;
    SCOPED_TRACE("L = " + std::to_string(c.L) + ", mi = " + std::to_string(c.mi) +
                 ", cd = " + std::to_string(c.cd));
    const double exact = pressure_rise(c, 0.0, c.L);
    EXPECT_NEAR(exact, row.expected, 1e-14 * std::fabs(row.expected));
    if (row.quadrature) {
      const double quadrature =
          integral([&c](double x) { return pressure_gradient(c, x); }, 0.0, c.L);
      EXPECT_NEAR(quadrature, exact, 1e-12 * std::fabs(exact));
    }
  }
}

// Each grid runs for the passes that the convergence tool ran to
// convergence at dt = 0.1 s; after the passes it says are needed the
// program's outlet pressure is within 1e-6 of that.
TEST(Verification, CoarseGridsConvergeToTheExactSolutionOfTheModel) {
  const Duct c;
  const double exact = pressure_rise(c, 0.0, c.L);
  Workbench bench;
  double dx0 = 0.0, p_error0 = 0.0, u_error0 = 0.0;
  for (int N : {12, 22, 42}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    SimulationState s;
    set_case(s, c, Grid{N, 0.1, 1});
    const convergence::Outcome o = convergence::run(s);
    ASSERT_EQ(o.ending, convergence::Ending::kConverged);
    const Outcome r = bench.run(c, Grid{N, 0.1, static_cast<int>(o.passes)});
    const Outcome needed = bench.run(c, Grid{N, 0.1, static_cast<int>(o.needed)});
    ASSERT_TRUE(r.complete()) << r.message;
    ASSERT_TRUE(needed.complete()) << needed.message;
    EXPECT_NEAR(r.outlet_pressure(), o.converged, 1e-14 * std::fabs(o.converged));
    ASSERT_LE(std::fabs(needed.outlet_pressure() - r.outlet_pressure()),
              1e-6 * std::fabs(r.outlet_pressure()));

    EXPECT_LT(continuity_spread(c, r), 1e-9);

    const double dx = grid_width(c, N);
    const double p_error = std::fabs(r.outlet_pressure() - exact);
    const double u_error = max_velocity_error(c, r);
    if (dx0 > 0.0) {
      const double p_order = observed_order(p_error0, dx0, p_error, dx);
      const double u_order = observed_order(u_error0, dx0, u_error, dx);
      EXPECT_GE(p_order, 0.8);
      EXPECT_LE(p_order, 1.2);
      EXPECT_GE(u_order, 1.8);
      EXPECT_LE(u_order, 2.3);
    }
    dx0 = dx, p_error0 = p_error, u_error0 = u_error;
  }
}

// At a fixed point the transient terms cancel, so the steady state does not
// depend on dt: converged runs three decades of dt apart agree to rounding.
// The window search of the study compares every run with one steady state
// on this ground.
TEST(Verification, SteadyStateDoesNotDependOnTheTimeStep) {
  const Duct c;
  Workbench bench;
  const Outcome reference = bench.run(c, Grid{22, 0.1, 2000});
  ASSERT_TRUE(reference.complete()) << reference.message;
  for (double dt : {0.003, 1.0}) {
    SCOPED_TRACE("dt = " + std::to_string(dt));
    const Outcome r = bench.run(c, Grid{22, dt, 2000});
    ASSERT_TRUE(r.complete()) << r.message;
    EXPECT_NEAR(r.outlet_pressure(), reference.outlet_pressure(),
                1e-11 * std::fabs(reference.outlet_pressure()));
    for (std::size_t i = 0; i < r.u.size(); ++i)
      EXPECT_NEAR(r.u[i], reference.u[i], 1e-12) << "node " << i + 1;
  }
}

// In the first pass the fluid at rest feels the inlet only through viscous
// diffusion; below the floor the outlet velocity leaves the double range and
// the run stops in pass 1, at the floor it runs.
TEST(TimeStepFloor, SeparatesAStoppedRunFromACompleteOne) {
  const Duct c;
  Workbench bench;
  for (int N : {42, 82}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    const double floor = time_step_floor(N, c.L, c.ro, c.mi);
    Grid g{N, floor / 2.0, 20 * N};
    const Outcome below = bench.run(c, g);
    EXPECT_EQ(below.status, 1);
    EXPECT_NE(below.message.find("outer iteration 1"), std::string::npos) << below.message;
    g.dt = floor;
    const Outcome at = bench.run(c, g);
    EXPECT_TRUE(at.complete()) << at.message;
  }
}

// Large values of a diverging run come with three-digit exponents, where
// Ew.d leaves out the E.
TEST(ReadBack, RealsAsTheReportEditsThem) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    const char* text;
    double value;
  } rows[] = {
      {"3.826399412624961E+02", 382.6399412624961},
      {"-4.444444444444444E-01", -0.4444444444444444},
      {"0.000000000000000E+00", 0.0},
      {"6.045644442592258+124", 6.045644442592258e124},
      {"-8.975015378847162+164", -8.975015378847162e164},
      {"1.5-123", 1.5e-123},
      {"3.8E+02x", nan},
      {"*******", nan},
      {"", nan},
  };
  for (const auto& row : rows) {
    const double v = parse_real(row.text);
    if (std::isnan(row.value)) {
      EXPECT_TRUE(std::isnan(v)) << '"' << row.text << "\" read as " << v;
    } else {
      EXPECT_EQ(v, row.value) << '"' << row.text << '"';
    }
  }
}

}  // namespace
}  // namespace moody::verification
