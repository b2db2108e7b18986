// The flow steps one by one, on the five-node duct of L = 1.2 m, D0 = 0.1 m,
// cd = 0.05 (dx = 0.4 m) with a flow laid on it by hand.

#include <gtest/gtest.h>

#include <cfenv>
#include <limits>

#include "flow/coef.hpp"
#include "flow/solver.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::SameDigits;

flowtest::Case five_nodes() {
  flowtest::Case c;
  c.N = 5, c.L = 1.2, c.D0 = 0.1, c.cd = 0.05, c.dt = 0.1;
  return c;
}

// u = u0 = (1, 0.9, 0.8, 0.7, 0.6), ue = ue0 = (1, 0.85, 0.75, 0.65),
// p = (400, 300, 200, 100, 0).
void laid_flow(SimulationState& s) {
  flowtest::start(s, five_nodes());
  flowtest::set(s.u, {1.0, 0.9, 0.8, 0.7, 0.6});
  s.u0.copy_from(s.u);
  flowtest::set(s.ue, {1.0, 0.85, 0.75, 0.65});
  s.ue0.copy_from(s.ue);
  flowtest::set(s.p, {400, 300, 200, 100, 0});
}

TEST(Geometry, FiveNodesAndOneRealVolume) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  const double table[5][6] = {// x, D, A, xe, De, Ae
                              {0.0, 0.10, 7.853982e-03, 0.0, 0.10, 7.853982e-03},
                              {0.2, 0.11, 9.503318e-03, 0.4, 0.12, 1.130973e-02},
                              {0.6, 0.13, 1.327323e-02, 0.8, 0.14, 1.539380e-02},
                              {1.0, 0.15, 1.767146e-02, 1.2, 0.16, 2.010619e-02},
                              {1.2, 0.16, 2.010619e-02, 0.0, 0.0, 0.0}};
  for (int i = 1; i <= 5; ++i) {
    const double* r = table[i - 1];
    EXPECT_NEAR(s.x(i), r[0], 1e-15) << i;
    EXPECT_NEAR(s.D(i), r[1], 1e-15) << i;
    EXPECT_TRUE(SameDigits(r[2], s.A(i))) << i;
    if (i == 5) break;
    EXPECT_NEAR(s.xe(i), r[3], 1e-15) << i;
    EXPECT_NEAR(s.De(i), r[4], 1e-15) << i;
    EXPECT_TRUE(SameDigits(r[5], s.Ae(i))) << i;
  }
  EXPECT_EQ(s.x(5), 1.2);  // L itself, not 3*dx
  EXPECT_EQ(s.A(1), s.Ae(1));

  flowtest::Case one = five_nodes();
  one.N = 3;
  flowtest::start(s, one);
  EXPECT_EQ(s.dx, 1.2);
  EXPECT_EQ(s.x(2), 0.6);
  EXPECT_EQ(s.xe(2), 1.2);
}

struct System {
  Array1 aP, aW, aE, bP, phi;
  System(std::initializer_list<double> p, std::initializer_list<double> w,
         std::initializer_list<double> e, std::initializer_list<double> b) {
    for (Array1* a : {&aP, &aW, &aE, &bP, &phi})
      a->size_to(static_cast<int>(p.size()));
    flowtest::set(aP, p), flowtest::set(aW, w), flowtest::set(aE, e), flowtest::set(bP, b);
  }
  void solve() { tdma(aP.size(), aP, aW, aE, bP, phi); }
};

TEST(Tdma, SolvesRowsWithTheNeighboursOnTheRightHandSide) {
  // aW(1) and aE(N) have no neighbour to multiply, and what phi held before
  // the call plays no part; the coefficients are left as they were.
  for (double dangling : {0.0, -5.0, 1e300}) {
    System s({2, 4, 2}, {dangling, 1, 1}, {1, 1, dangling}, {1, 6, 1});
    s.phi.fill(std::numeric_limits<double>::quiet_NaN());
    s.solve();
    EXPECT_DOUBLE_EQ(s.phi(1), 5.0 / 3.0) << dangling;
    EXPECT_DOUBLE_EQ(s.phi(2), 7.0 / 3.0) << dangling;
    EXPECT_DOUBLE_EQ(s.phi(3), 5.0 / 3.0) << dangling;
    EXPECT_EQ(s.aW(1), dangling);
    EXPECT_EQ(s.bP(2), 6.0);
  }
  // Rows (aP, aW, aE, bP) = (1, 0, 0, 0) pin the unknown to zero.
  System pinned({1, 3, 5, 1}, {0, 1, 2, 0}, {0, 1, 2, 0}, {0, 7, -3, 0});
  pinned.solve();
  EXPECT_EQ(pinned.phi(1), 0.0);
  EXPECT_EQ(pinned.phi(4), 0.0);
  EXPECT_DOUBLE_EQ(pinned.phi(2), 32.0 / 13.0);

  System one({4}, {9}, {9}, {3});
  one.solve();
  EXPECT_EQ(one.phi(1), 0.75);
  tdma(0, one.aP, one.aW, one.aE, one.bP, one.phi);  // no rows: nothing touched
  EXPECT_EQ(one.phi(1), 0.75);
}

TEST(MomentumCoefficients, LaidFlowAndThePartsOfRowThree) {
  SimulationState s;
  laid_flow(s);
  s.dt = 0.1;
  momentum_coefficients(s);
  const CoefficientSet& q = s.QML;
  const double rows[5][6] = {// Mp, Me, aW, aP, aE, bP
                             {3.141593, 7.853982, 0, 1, -1, 2},
                             {3.801327, 9.613274, 7.854001, 46.17832, 2.827433e-05, 35.16228},
                             {5.309292, 11.54535, 9.613302, 63.03298, 3.848451e-05, 43.80166},
                             {7.068583, 13.06903, 11.54539, 82.56114, 5.026548e-05, 51.24723},
                             {8.042477, 0, 1, 1, 0, -0.1}};
  for (int i = 1; i <= 5; ++i) {
    const double* r = rows[i - 1];
    EXPECT_TRUE(SameDigits(r[0], s.Mp(i))) << i;
    if (i < 5) {
      EXPECT_TRUE(SameDigits(r[1], s.Me(i))) << i;
    }
    const double got[4] = {q.aW(i), q.aP(i), q.aE(i), q.bP(i)};
    for (int k = 0; k < 4; ++k) {
      if (r[2 + k] == 0.0) {
        EXPECT_EQ(got[k], 0.0) << i;
      } else {
        EXPECT_TRUE(SameDigits(r[2 + k], got[k])) << "row " << i << " coefficient " << k;
      }
    }
  }
  // Row 3's parts, each isolated by switching the others off: u = 0 takes
  // Ff = 0.3267256 out of aP, leaving Ct = 53.09292; u0 = 0 takes St =
  // 42.47433 out of bP, leaving Sp = 1.327323.
  SimulationState t;
  laid_flow(t);
  t.u.fill(0.0);
  t.u0.fill(0.0);
  momentum_coefficients(t);
  const double Ct = t.QML.aP(3) - t.QML.aW(3) - t.QML.aE(3);
  EXPECT_TRUE(SameDigits(53.09292, Ct));
  EXPECT_TRUE(SameDigits(0.3267256, q.aP(3) - q.aW(3) - q.aE(3) - Ct, 5));
  EXPECT_TRUE(SameDigits(1.327323, t.QML.bP(3)));
  EXPECT_TRUE(SameDigits(42.47433, q.bP(3) - t.QML.bP(3), 6));
}

TEST(FaceVelocities, LaidFlow) {
  SimulationState s;
  laid_flow(s);
  momentum_coefficients(s);
  s.QML.bP.fill(-7.0);  // the nodal sources play no part
  face_velocities(s);
  EXPECT_EQ(s.ue(1), 1.0);
  EXPECT_TRUE(SameDigits(0.8809366, s.ue(2)));
  EXPECT_TRUE(SameDigits(0.7816329, s.ue(3)));
  EXPECT_TRUE(SameDigits(0.390625, s.ue(4)));  // r = 0.6009615 times the mean 0.65
}

TEST(CorrectAndInventory, EndsExtrapolatedThenReferredToTheInlet) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  flowtest::set(s.pl, {0, 3, 5, 4, 0});
  flowtest::set(s.p, {10, 20, 30, 40, 50});
  flowtest::set(s.u, {1.0, 0.9, 0.8, 0.7, 0.6});
  flowtest::set(s.ue, {1.0, 0.85, 0.75, 0.65});
  flowtest::set(s.dP, {0, 0.25, 0.5, 0.125, 0});
  flowtest::set(s.de, {0.5, 0.25, 0.125, 0.5});
  correct(s);
  const double pl[] = {1, 3, 5, 4, 3}, p[] = {11, 23, 35, 44, 53};
  const double u[] = {1.6, 0.4, 0.55, 0.825, 1.1}, ue[] = {1.0, 0.35, 0.875, 0.65};
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(s.pl(i), pl[i - 1]) << i;
    EXPECT_EQ(s.p(i), p[i - 1]) << i;
    EXPECT_NEAR(s.u(i), u[i - 1], 1e-15) << i;
    if (i < 5) {
      EXPECT_NEAR(s.ue(i), ue[i - 1], 1e-15) << i;
    }
  }
  inventory(s);
  const double referred[] = {0, 6, 18, 27, 31.5};
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(s.p(i), referred[i - 1]) << i;
  EXPECT_EQ(s.u(1), s.Uin);
  EXPECT_NEAR(s.u(5), (0.825 + 1.1) * 0.5, 1e-15);
  EXPECT_TRUE(SameDigits(3.958407, s.Me(2)));  // Ae(2)*ue(2)*ro

  // One real volume: pl(1) = 2*pl(2) - pl(3), then pl(3) = 2*pl(2) - pl(1).
  flowtest::Case one = five_nodes();
  one.N = 3;
  flowtest::start(s, one);
  flowtest::set(s.pl, {0, 3, 0});
  flowtest::set(s.dP, {0, 0.125, 0});
  correct(s);
  EXPECT_EQ(s.pl(1), 6.0);
  EXPECT_EQ(s.pl(3), 0.0);
  EXPECT_EQ(s.u(2), 0.375);
}

}  // namespace
}  // namespace moody
