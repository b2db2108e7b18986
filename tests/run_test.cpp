// Whole runs driven in-process: grid, itmax outer iterations, inventory.

#include <gtest/gtest.h>

#include <cmath>

#include "flow/coef.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::Case;
using flowtest::SameDigits;

Case with(int N, double cd, int itmax) {
  Case c;
  c.N = N;
  c.cd = cd;
  c.itmax = itmax;
  return c;
}

bool all_finite(const SimulationState& s) {
  for (const Array1* a : {&s.u, &s.ue, &s.p, &s.pl, &s.Me, &s.de}) {
    for (int i = 1; i <= a->size(); ++i) {
      if (!std::isfinite((*a)(i))) return false;
    }
  }
  return true;
}

// After every correction step the inlet pair averages to Uin and the outlet
// node continues the last slope; after the inventory the outlet face carries
// the inlet's mass flow and the inlet pressure is exactly zero.
TEST(Run, BoundaryConditionsHoldAfterEveryPass) {
  const Case cases[] = {with(12, 2.0, 200), with(12, 0.05, 200), with(3, 2.0, 50),
                        with(4, 2.0, 50),   with(4, 0.05, 50),   with(40, 0.05, 100)};
  for (const Case& c : cases) {
    SCOPED_TRACE("N = " + std::to_string(c.N) + ", cd = " + std::to_string(c.cd));
    SimulationState s;
    flowtest::start(s, c);
    for (int it = 1; it <= c.itmax; ++it) {
      outer_iteration(s);
      const int N = c.N;
      ASSERT_TRUE(SameDigits(c.Uin, (s.u(1) + s.u(2)) / 2.0, 14)) << "pass " << it;
      ASSERT_NEAR(s.u(N) - s.u(N - 1), s.u(N - 1) - s.u(N - 2), 1e-14 * std::fabs(s.u(N - 1)))
          << "pass " << it;
      ASSERT_EQ(s.ue(1), c.Uin);
      ASSERT_TRUE(SameDigits(s.Ae(1) * c.Uin, s.Ae(N - 1) * s.ue(N - 1), 14)) << "pass " << it;
    }
    EXPECT_TRUE(all_finite(s));
    inventory(s);
    EXPECT_EQ(s.p(1), 0.0);
    EXPECT_EQ(s.u(1), c.Uin);
    EXPECT_TRUE(SameDigits(s.Me(1), s.Me(c.N - 1), 14));
    EXPECT_EQ(s.Me(1), s.Ae(1) * c.Uin * c.ro);
  }
}

TEST(Run, EchoedParametersChangeNoComputedBit) {
  SimulationState a, b, c;
  Case base = with(12, 2.0, 60);
  flowtest::run(a, base);
  Case other = base;
  other.beta = 1.0;
  other.itmaxm = 20;
  flowtest::run(b, other);
  EXPECT_EQ(flowtest::first_difference(a, b), "");
  flowtest::run(c, base);  // the same input twice: the same run
  EXPECT_EQ(flowtest::first_difference(a, c), "");
}

TEST(Run, NoPassLeavesTheFluidAtRest) {
  for (int itmax : {0, -3}) {
    SCOPED_TRACE("itmax = " + std::to_string(itmax));
    SimulationState s;
    flowtest::run(s, with(12, 2.0, itmax));
    EXPECT_EQ(s.u(1), 1.0);
    for (int i = 2; i <= 12; ++i)
      EXPECT_EQ(s.u(i), 0.0) << i;
    for (int i = 1; i <= 12; ++i) {
      EXPECT_EQ(s.p(i), 0.0) << i;
      EXPECT_EQ(s.pl(i), 0.0) << i;
      EXPECT_EQ(s.Mp(i), s.A(i) * s.dx * s.ro) << i;
      EXPECT_EQ(s.dP(i), 0.0) << i;
      for (const CoefficientSet* q : {&s.QML, &s.MASSA}) {
        EXPECT_EQ(q->aW(i), 0.0);
        EXPECT_EQ(q->aP(i), 0.0);
        EXPECT_EQ(q->aE(i), 0.0);
        EXPECT_EQ(q->bP(i), 0.0);
      }
    }
    for (int i = 1; i <= 11; ++i) {
      EXPECT_EQ(s.Me(i), 0.0) << i;
      EXPECT_EQ(s.de(i), 0.0) << i;
      EXPECT_EQ(s.ue(i), 0.0) << i;
    }
  }
}

TEST(Run, OnePassLeavesItsFieldsAsTheOldOnes) {
  SimulationState s;
  flowtest::start(s, with(12, 2.0, 1));
  outer_iteration(s);
  for (int i = 1; i <= 12; ++i)
    EXPECT_TRUE(flowtest::same_bits(s.u0(i), s.u(i))) << i;
  for (int i = 1; i <= 11; ++i)
    EXPECT_TRUE(flowtest::same_bits(s.ue0(i), s.ue(i))) << i;
  EXPECT_NE(s.u(6), 0.0);
  // The pressure correction of the first pass is the whole pressure.
  for (int i = 1; i <= 12; ++i)
    EXPECT_EQ(s.p(i), s.pl(i)) << i;
}

}  // namespace
}  // namespace moody
