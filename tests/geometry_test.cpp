#include <gtest/gtest.h>

#include <cmath>

#include "flow/coef.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::Case;
using flowtest::SameDigits;

Case example() {
  Case c;
  c.N = 5;
  c.L = 1.2;
  c.D0 = 0.1;
  c.cd = 0.05;
  return c;
}

TEST(Geometry, WorkedExampleOfFiveNodes) {
  SimulationState s;
  flowtest::start(s, example());
  ASSERT_TRUE(SameDigits(0.4, s.dx, 15));

  const struct {
    int i;
    double x, D, A, xe, De, Ae;
  } rows[] = {
      {1, 0.0, 0.10, 7.853982e-03, 0.0, 0.10, 7.853982e-03},
      {2, 0.2, 0.11, 9.503318e-03, 0.4, 0.12, 1.130973e-02},
      {3, 0.6, 0.13, 1.327323e-02, 0.8, 0.14, 1.539380e-02},
      {4, 1.0, 0.15, 1.767146e-02, 1.2, 0.16, 2.010619e-02},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE("i = " + std::to_string(r.i));
    EXPECT_TRUE(SameDigits(r.x, s.x(r.i), 12));
    EXPECT_TRUE(SameDigits(r.D, s.D(r.i), 12));
    EXPECT_TRUE(SameDigits(r.A, s.A(r.i)));
    EXPECT_TRUE(SameDigits(r.xe, s.xe(r.i), 12));
    EXPECT_TRUE(SameDigits(r.De, s.De(r.i), 12));
    EXPECT_TRUE(SameDigits(r.Ae, s.Ae(r.i)));
  }
  EXPECT_EQ(s.x(5), 1.2);  // L itself, not 3*dx
  EXPECT_TRUE(SameDigits(0.16, s.D(5), 12));
  EXPECT_TRUE(SameDigits(2.010619e-02, s.A(5)));

  // The area is pi*D^2/4 formed as D^2, times pi, times 0.25.
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(s.A(i), s.D(i) * s.D(i) * s.pi * 0.25) << i;
    EXPECT_EQ(s.D(i), s.x(i) * s.cd + s.D0) << i;
  }
}

TEST(Geometry, InletNodeAndFaceCoincideAndEndsAreHalfAWidthAway) {
  for (int N : {3, 4, 12}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    Case c = example();
    c.N = N;
    SimulationState s;
    flowtest::start(s, c);
    EXPECT_EQ(s.x(1), 0.0);
    EXPECT_EQ(s.xe(1), 0.0);
    EXPECT_EQ(s.D(1), s.D0);
    EXPECT_EQ(s.A(1), s.Ae(1));
    EXPECT_EQ(s.x(N), s.L);
    EXPECT_EQ(s.x(2), 0.5 * s.dx);
    EXPECT_TRUE(SameDigits(s.L - 0.5 * s.dx, s.x(N - 1), 14));
    EXPECT_TRUE(SameDigits(s.L, s.xe(N - 1), 14));
    for (int i = 3; i <= N - 1; ++i) {
      EXPECT_TRUE(SameDigits(s.dx, s.x(i) - s.x(i - 1), 12)) << i;
    }
  }
}

TEST(Geometry, OneRealVolume) {
  Case c = example();
  c.N = 3;
  SimulationState s;
  flowtest::start(s, c);
  EXPECT_EQ(s.dx, s.L);
  EXPECT_EQ(s.x(2), s.L / 2.0);
  EXPECT_EQ(s.xe(2), s.L);
  EXPECT_EQ(s.x.size(), 3);
  EXPECT_EQ(s.xe.size(), 2);
}

TEST(Geometry, PlainTubeHasOneArea) {
  Case c = example();
  c.cd = 0.0;
  SimulationState s;
  flowtest::start(s, c);
  const double area = std::pow(c.D0, 2.0) * s.pi * 0.25;
  for (int i = 1; i <= c.N; ++i)
    EXPECT_EQ(s.A(i), area) << i;
  for (int i = 1; i <= c.N - 1; ++i)
    EXPECT_EQ(s.Ae(i), area) << i;
}

}  // namespace
}  // namespace moody
