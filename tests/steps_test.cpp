// The steps after the momentum solve: face velocities, correction
// coefficients, the pressure-correction equation, the correction step and the
// final inventory, each on a state laid out by hand.

#include <gtest/gtest.h>

#include <cfenv>

#include "flow/coef.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::Case;
using flowtest::SameDigits;

Case five_nodes() {
  Case c;
  c.N = 5;
  c.L = 1.2;
  c.D0 = 0.1;
  c.cd = 0.05;
  c.dt = 0.1;
  return c;
}

TEST(FaceVelocities, WorkedExample) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  flowtest::set(s.u, {1.0, 0.9, 0.8, 0.7, 0.6});
  s.u0.copy_from(s.u);
  flowtest::set(s.ue, {1.0, 0.85, 0.75, 0.65});
  s.ue0.copy_from(s.ue);
  flowtest::set(s.p, {400, 300, 200, 100, 0});
  momentum_coefficients(s);
  face_velocities(s);

  EXPECT_EQ(s.ue(1), 1.0);
  EXPECT_TRUE(SameDigits(0.8809366, s.ue(2)));
  EXPECT_TRUE(SameDigits(0.7816329, s.ue(3)));
  EXPECT_TRUE(SameDigits(0.390625, s.ue(4)));
  // The outlet face carries the inlet's volume flow.
  EXPECT_TRUE(SameDigits(s.Ae(1) * 1.0, s.Ae(4) * s.ue(4), 15));

  // The nodal sources play no part once the set is solved.
  SimulationState t;
  flowtest::start(t, five_nodes());
  t.u.copy_from(s.u);
  t.ue0.copy_from(s.ue0);
  t.p.copy_from(s.p);
  t.Mp.copy_from(s.Mp);
  t.QML = s.QML;
  t.QML.bP.fill(-7.0);
  face_velocities(t);
  for (int i = 1; i <= 4; ++i)
    EXPECT_EQ(t.ue(i), s.ue(i)) << i;
}

TEST(FaceVelocities, SmallestGridsAndPlainTube) {
  // N = 3: no interior face; N = 4: face 2 alone, reading nodes 1 to 4.
  for (int N : {3, 4}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    Case c = five_nodes();
    c.N = N;
    SimulationState s;
    flowtest::start(s, c);
    for (int i = 1; i <= N; ++i)
      s.u(i) = 1.0 - 0.1 * i;
    momentum_coefficients(s);
    face_velocities(s);
    EXPECT_EQ(s.ue(1), c.Uin);
    EXPECT_TRUE(SameDigits(s.Ae(1) * c.Uin / s.Ae(N - 1), s.ue(N - 1), 15));
    if (N == 4) {
      const CoefficientSet& q = s.QML;
      const double sums =
          s.u(1) * q.aW(2) + s.u(3) * q.aE(2) + (s.u(4) * q.aE(3) + q.aW(3) * s.u(2));
      EXPECT_EQ(s.ue(2), sums / (q.aP(3) + q.aP(2)));  // p and ue0 are zero
    }
  }
  Case tube = five_nodes();
  tube.cd = 0.0;
  SimulationState s;
  flowtest::start(s, tube);
  flowtest::set(s.u, {1.0, 0.9, 0.8, 0.7, 0.6});
  momentum_coefficients(s);
  face_velocities(s);
  EXPECT_TRUE(SameDigits(tube.Uin, s.ue(4), 15));
}

TEST(FaceVelocities, OutletOfAFluidAtRestIsARealZeroByZero) {
  Case c = five_nodes();
  c.Uin = 0.0;
  SimulationState s;
  flowtest::start(s, c);
  momentum_coefficients(s);
  std::feclearexcept(FE_ALL_EXCEPT);
  face_velocities(s);
  EXPECT_TRUE(std::fetestexcept(FE_INVALID));
}

TEST(CorrectionCoefficients, NodesAndFaces) {
  for (int N : {3, 4, 6}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    Case c = five_nodes();
    c.N = N;
    SimulationState s;
    flowtest::start(s, c);
    for (int i = 1; i <= N; ++i) {
      s.QML.aW(i) = 0.5 * i;
      s.QML.aE(i) = 0.25 * i;
      s.QML.aP(i) = 3.0 * i + 1.0;
    }
    s.dP(1) = s.dP(N) = 99.0;  // never read
    correction_coefficients(s);
    for (int i = 2; i <= N - 1; ++i) {
      EXPECT_EQ(s.dP(i), s.A(i) / ((s.QML.aP(i) - s.QML.aW(i)) - s.QML.aE(i))) << i;
    }
    EXPECT_EQ(s.de(1), s.dP(2));
    EXPECT_EQ(s.de(N - 1), s.dP(N - 1));
    for (int i = 2; i <= N - 2; ++i)
      EXPECT_EQ(s.de(i), (s.dP(i + 1) + s.dP(i)) * 0.5) << i;
    EXPECT_EQ(s.dP(1), 99.0);
    EXPECT_EQ(s.dP(N), 99.0);
  }
}

TEST(CorrectionCoefficients, FirstPassIsTimeStepOverMassPerArea) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  momentum_coefficients(s);
  correction_coefficients(s);
  for (int i = 2; i <= 4; ++i) {
    EXPECT_TRUE(SameDigits(s.dt / (s.ro * s.dx), s.dP(i), 13)) << i;
  }
}

TEST(PressureCorrectionCoefficients, RowsOfTheVolumeBalance) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  flowtest::set(s.ue, {1.0, 0.8, 0.7, 0.4});
  flowtest::set(s.de, {2e-4, 3e-4, 5e-4, 7e-4});
  s.MASSA.aP.fill(5.0);
  pressure_correction_coefficients(s);
  const CoefficientSet& m = s.MASSA;
  for (int i : {1, 5}) {
    EXPECT_EQ(m.aW(i), 0.0);
    EXPECT_EQ(m.aP(i), 1.0);
    EXPECT_EQ(m.aE(i), 0.0);
    EXPECT_EQ(m.bP(i), 0.0);
  }
  for (int i = 2; i <= 4; ++i) {
    EXPECT_EQ(m.aW(i), s.Ae(i - 1) * s.de(i - 1)) << i;
    EXPECT_EQ(m.aE(i), s.de(i) * s.Ae(i)) << i;
    EXPECT_EQ(m.aP(i), m.aE(i) + m.aW(i)) << i;
    EXPECT_EQ(m.bP(i), s.Ae(i - 1) * s.ue(i - 1) - s.ue(i) * s.Ae(i)) << i;
  }

  // Face velocities that carry one volume flow balance every volume.
  for (int i = 1; i <= 4; ++i)
    s.ue(i) = s.Ae(1) / s.Ae(i);
  pressure_correction_coefficients(s);
  for (int i = 2; i <= 4; ++i)
    EXPECT_NEAR(m.bP(i), 0.0, 1e-17) << i;
}

TEST(Correct, ExtrapolatesTheEndCorrectionsAndCorrectsInteriorOnly) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  flowtest::set(s.pl, {0.0, 3.0, 5.0, 4.0, 0.0});
  flowtest::set(s.p, {10, 20, 30, 40, 50});
  flowtest::set(s.u, {1.0, 0.9, 0.8, 0.7, 0.6});
  flowtest::set(s.ue, {1.0, 0.85, 0.75, 0.65});
  flowtest::set(s.dP, {0.0, 0.01, 0.02, 0.04, 0.0});
  flowtest::set(s.de, {0.01, 0.015, 0.03, 0.04});
  correct(s);
  EXPECT_EQ(s.pl(1), 1.0);  // 3*2 - 5
  EXPECT_EQ(s.pl(5), 3.0);  // 4*2 - 5
  const double p[] = {11, 23, 35, 44, 53};
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(s.p(i), p[i - 1]) << i;
  EXPECT_EQ(s.u(2), 0.9 - (5.0 - 1.0) * 0.01 * 0.5);
  EXPECT_EQ(s.u(3), 0.8 - (4.0 - 3.0) * 0.02 * 0.5);
  EXPECT_EQ(s.u(4), 0.7 - (3.0 - 5.0) * 0.04 * 0.5);
  EXPECT_EQ(s.u(1), 1.0 * 2.0 - s.u(2));
  EXPECT_EQ(s.u(5), (s.u(4) - s.u(3)) + s.u(4));
  EXPECT_EQ(s.ue(1), 1.0);
  EXPECT_EQ(s.ue(2), 0.85 - (5.0 - 3.0) * 0.015);
  EXPECT_EQ(s.ue(3), 0.75 - (4.0 - 5.0) * 0.03);
  EXPECT_EQ(s.ue(4), 0.65);
}

TEST(Correct, OneRealVolume) {
  Case c = five_nodes();
  c.N = 3;
  SimulationState s;
  flowtest::start(s, c);
  flowtest::set(s.pl, {0.0, 3.0, 0.0});
  flowtest::set(s.u, {1.5, 0.5, 0.25});
  flowtest::set(s.ue, {1.0, 0.5});
  flowtest::set(s.dP, {0.0, 0.125, 0.0});
  flowtest::set(s.de, {0.125, 0.125});
  correct(s);
  EXPECT_EQ(s.pl(1), 6.0);
  EXPECT_EQ(s.pl(3), 0.0);  // 3*2 - pl(1) as just extrapolated
  EXPECT_EQ(s.u(2), 0.5 + 6.0 * 0.125 * 0.5);
  EXPECT_EQ(s.ue(1), 1.0);
  EXPECT_EQ(s.ue(2), 0.5);
}

TEST(Inventory, BoundarySectionsPressureReferenceAndMasses) {
  SimulationState s;
  flowtest::start(s, five_nodes());
  flowtest::set(s.u, {1.2, 0.9, 0.8, 0.7, 0.6});
  flowtest::set(s.p, {410, 390, 200, 100, 20});
  flowtest::set(s.ue, {1.0, 0.85, 0.75, 0.65});
  inventory(s);
  EXPECT_EQ(s.u(1), s.Uin);
  EXPECT_EQ(s.u(5), (0.7 + 0.6) * 0.5);
  const double p[] = {0, -10, -200, -300, -340};
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(s.p(i), p[i - 1]) << i;
  for (int i = 1; i <= 4; ++i)
    EXPECT_EQ(s.Me(i), s.Ae(i) * s.ue(i) * s.ro) << i;
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(s.Mp(i), s.A(i) * s.dx * s.ro) << i;

  // A constant added to every pressure does not change the result.
  SimulationState t;
  flowtest::start(t, five_nodes());
  flowtest::set(t.u, {1.2, 0.9, 0.8, 0.7, 0.6});
  flowtest::set(t.p, {1410, 1390, 1200, 1100, 1020});
  inventory(t);
  for (int i = 1; i <= 5; ++i)
    EXPECT_EQ(t.p(i), p[i - 1]) << i;
}

}  // namespace
}  // namespace moody
