#include <gtest/gtest.h>

#include <cfenv>

#include "flow/coef.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::Case;
using flowtest::SameDigits;

// The five-node duct of the geometry example with a flow laid on it by hand.
void worked_example(SimulationState& s) {
  Case c;
  c.N = 5;
  c.L = 1.2;
  c.D0 = 0.1;
  c.cd = 0.05;
  c.mi = 0.001;
  c.ro = 1000.0;
  c.f = 0.02;
  c.Uin = 1.0;
  c.dt = 0.1;
  flowtest::start(s, c);
  flowtest::set(s.u, {1.0, 0.9, 0.8, 0.7, 0.6});
  s.u0.copy_from(s.u);
  flowtest::set(s.ue, {1.0, 0.85, 0.75, 0.65});
  flowtest::set(s.p, {400, 300, 200, 100, 0});
}

TEST(MomentumCoefficients, WorkedExample) {
  SimulationState s;
  worked_example(s);
  momentum_coefficients(s);

  const CoefficientSet& q = s.QML;
  const struct {
    int i;
    double Mp, Me, aW, aP, aE, bP;
  } rows[] = {
      {2, 3.801327, 9.613274, 7.854001, 46.17832, 2.827433e-05, 35.16228},
      {3, 5.309292, 11.54535, 9.613302, 63.03298, 3.848451e-05, 43.80166},
      {4, 7.068583, 13.06903, 11.54539, 82.56114, 5.026548e-05, 51.24723},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("row " + std::to_string(r.i));
    EXPECT_TRUE(SameDigits(r.Mp, s.Mp(r.i)));
    EXPECT_TRUE(SameDigits(r.Me, s.Me(r.i)));
    EXPECT_TRUE(SameDigits(r.aW, q.aW(r.i)));
    EXPECT_TRUE(SameDigits(r.aP, q.aP(r.i)));
    EXPECT_TRUE(SameDigits(r.aE, q.aE(r.i)));
    EXPECT_TRUE(SameDigits(r.bP, q.bP(r.i)));
  }
  // Inlet row (0, 1, -1, 2*Uin) and outlet row (1, 1, 0, u(N-1) - u(N-2)).
  EXPECT_TRUE(SameDigits(3.141593, s.Mp(1)));
  EXPECT_TRUE(SameDigits(7.853982, s.Me(1)));
  EXPECT_EQ(q.aW(1), 0.0);
  EXPECT_EQ(q.aP(1), 1.0);
  EXPECT_EQ(q.aE(1), -1.0);
  EXPECT_EQ(q.bP(1), 2.0);
  EXPECT_TRUE(SameDigits(8.042477, s.Mp(5)));
  EXPECT_EQ(q.aW(5), 1.0);
  EXPECT_EQ(q.aP(5), 1.0);
  EXPECT_EQ(q.aE(5), 0.0);
  EXPECT_EQ(q.bP(5), 0.7 - 0.8);
}

// The parts of row 3 (Ff = 0.3267256, Ct = 53.09292, St = 42.47433,
// Sp = 1.327323) are not kept; each is isolated by switching the others off:
// u = 0 takes Ff out of aP, u0 = 0 takes St out of bP, a uniform p takes Sp.
TEST(MomentumCoefficients, PartsOfRowThree) {
  SimulationState s;
  worked_example(s);
  momentum_coefficients(s);
  const double aP = s.QML.aP(3), aW = s.QML.aW(3), aE = s.QML.aE(3), bP = s.QML.bP(3);

  SimulationState still;
  worked_example(still);
  still.u.fill(0.0);
  momentum_coefficients(still);
  const double Ct = still.QML.aP(3) - still.QML.aW(3) - still.QML.aE(3);
  EXPECT_TRUE(SameDigits(53.09292, Ct));
  EXPECT_TRUE(SameDigits(0.3267256, aP - aW - aE - Ct, 5));  // cancellation costs digits
  EXPECT_TRUE(SameDigits(0.3267256, 0.8 * s.D(3) * s.f * s.pi * s.dx * s.ro * 0.125));

  SimulationState no_old;
  worked_example(no_old);
  no_old.u0.fill(0.0);
  momentum_coefficients(no_old);
  const double Sp = no_old.QML.bP(3);
  EXPECT_TRUE(SameDigits(1.327323, Sp));
  EXPECT_TRUE(SameDigits(42.47433, bP - Sp, 6));

  SimulationState level;
  worked_example(level);
  level.p.fill(123.0);
  momentum_coefficients(level);
  EXPECT_TRUE(SameDigits(42.47433, level.QML.bP(3)));
  // u and u0 are read separately: u feeds friction, u0 the transient source.
  EXPECT_EQ(level.QML.aP(3), aP);
  EXPECT_EQ(no_old.QML.aP(3), aP);
}

TEST(MomentumCoefficients, FirstPassOfAFluidAtRest) {
  for (int N : {3, 5, 12}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    Case c;
    c.N = N;
    SimulationState s;
    flowtest::start(s, c);
    momentum_coefficients(s);
    const CoefficientSet& q = s.QML;
    for (int i = 1; i <= N - 1; ++i)
      EXPECT_EQ(s.Me(i), 0.0) << i;
    for (int i = 2; i <= N - 1; ++i) {
      EXPECT_EQ(q.aW(i), s.Ae(i - 1) * s.mi / s.dx) << i;
      EXPECT_EQ(q.aE(i), s.Ae(i) * s.mi / s.dx) << i;
      EXPECT_EQ(q.aP(i), q.aW(i) + q.aE(i) + s.A(i) * s.dx * s.ro / s.dt) << i;
      EXPECT_EQ(q.bP(i), 0.0) << i;
    }
    EXPECT_EQ(q.bP(1), 2.0 * c.Uin);
    EXPECT_EQ(q.aW(N), 1.0);
    EXPECT_EQ(q.bP(N), 0.0);
  }
}

TEST(MomentumCoefficients, ZeroTimeStepIsARealDivision) {
  SimulationState s;
  worked_example(s);
  s.dt = 0.0;
  std::feclearexcept(FE_ALL_EXCEPT);
  momentum_coefficients(s);
  EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO));
}

}  // namespace
}  // namespace moody
