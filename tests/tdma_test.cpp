#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <vector>

#include "flow/solver.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::same_bits;

struct System {
  Array1 aP, aW, aE, bP, phi;
  explicit System(int n) {
    for (Array1* a : {&aP, &aW, &aE, &bP, &phi})
      a->size_to(n);
  }
  void solve() { tdma(aP.size(), aP, aW, aE, bP, phi); }
};

System three_rows() {
  System s(3);
  flowtest::set(s.aP, {2, 4, 2});
  flowtest::set(s.aW, {0, 1, 1});
  flowtest::set(s.aE, {1, 1, 0});
  flowtest::set(s.bP, {1, 6, 1});
  return s;
}

TEST(Tdma, ThreeRowsWithNeighboursOnTheRightHandSide) {
  System s = three_rows();
  s.solve();
  EXPECT_DOUBLE_EQ(s.phi(1), 5.0 / 3.0);
  EXPECT_DOUBLE_EQ(s.phi(2), 7.0 / 3.0);
  EXPECT_DOUBLE_EQ(s.phi(3), 5.0 / 3.0);
}

TEST(Tdma, OneRow) {
  System s(1);
  s.aP(1) = 4.0;
  s.aW(1) = 9.0;
  s.aE(1) = 9.0;
  s.bP(1) = 3.0;
  s.solve();
  EXPECT_EQ(s.phi(1), 0.75);
}

TEST(Tdma, NoRowsIsNothingToSolve) {
  System s(1);
  s.phi(1) = 42.0;
  tdma(0, s.aP, s.aW, s.aE, s.bP, s.phi);
  EXPECT_EQ(s.phi(1), 42.0);
}

// The bits of the solution follow the recurrences as written: P(1) =
// aE(1)/aP(1), Q(1) = bP(1)/aP(1), d = aP(i) - P(i-1)*aW(i), P(i) = aE(i)/d,
// Q(i) = (Q(i-1)*aW(i) + bP(i))/d, phi(i) = P(i)*phi(i+1) + Q(i).
TEST(Tdma, FollowsTheRecurrencesBitForBit) {
  const int n = 40;
  System s(n);
  for (int i = 1; i <= n; ++i) {
    s.aW(i) = 0.3 + 0.01 * i;
    s.aE(i) = 0.7 - 0.005 * i;
    s.aP(i) = s.aW(i) + s.aE(i) + 0.1 * std::sin(i);
    s.bP(i) = std::cos(1.7 * i);
  }
  s.solve();
  std::vector<double> P(n + 1), Q(n + 1), phi(n + 2);
  P[1] = s.aE(1) / s.aP(1);
  Q[1] = s.bP(1) / s.aP(1);
  for (int i = 2; i <= n; ++i) {
    const double d = s.aP(i) - P[i - 1] * s.aW(i);
    P[i] = s.aE(i) / d;
    Q[i] = (Q[i - 1] * s.aW(i) + s.bP(i)) / d;
  }
  phi[n] = Q[n];
  for (int i = n - 1; i >= 1; --i)
    phi[i] = P[i] * phi[i + 1] + Q[i];
  for (int i = 1; i <= n; ++i)
    EXPECT_TRUE(same_bits(phi[i], s.phi(i))) << i;
}

TEST(Tdma, BoundaryRowsAndDanglingCoefficients) {
  // Rows of the form aP = 1, aW = aE = bP = 0 pin the unknown to zero.
  System pinned(5);
  flowtest::set(pinned.aP, {1, 3, 5, 2, 1});
  flowtest::set(pinned.aW, {0, 1, 2, 1, 0});
  flowtest::set(pinned.aE, {0, 1, 2, 1, 0});
  flowtest::set(pinned.bP, {0, 7, -3, 4, 0});
  pinned.solve();
  EXPECT_EQ(pinned.phi(1), 0.0);
  EXPECT_EQ(pinned.phi(5), 0.0);
  EXPECT_NE(pinned.phi(3), 0.0);

  // aW(1) and aE(N) multiply neighbours that do not exist, and what phi held
  // before the call plays no part.
  const System reference = [] {
    System s = three_rows();
    s.solve();
    return s;
  }();
  for (double dangling : {-5.0, 0.5, 1e300}) {
    System s = three_rows();
    s.aW(1) = dangling;
    s.aE(3) = dangling;
    s.phi.fill(std::numeric_limits<double>::quiet_NaN());
    s.solve();
    for (int i = 1; i <= 3; ++i) {
      EXPECT_TRUE(same_bits(reference.phi(i), s.phi(i))) << dangling << " row " << i;
    }
  }
}

TEST(Tdma, LeavesTheCoefficientsAlone) {
  System s = three_rows();
  const System before = three_rows();
  s.solve();
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(s.aP(i), before.aP(i));
    EXPECT_EQ(s.aW(i), before.aW(i));
    EXPECT_EQ(s.aE(i), before.aE(i));
    EXPECT_EQ(s.bP(i), before.bP(i));
  }
}

TEST(Tdma, WorkBufferServesSmallerAndLargerSystemsAlike) {
  // A large solve, then a small one, then a large one again: every solution
  // stays that of its own system.
  System big(1000);
  for (int i = 1; i <= 1000; ++i) {
    big.aP(i) = 4.0;
    big.aW(i) = 1.0;
    big.aE(i) = 1.0;
    big.bP(i) = 2.0;
  }
  big.solve();
  const double middle = big.phi(500);
  System s = three_rows();
  s.solve();
  EXPECT_DOUBLE_EQ(s.phi(2), 7.0 / 3.0);
  System bigger(3000);
  for (int i = 1; i <= 3000; ++i) {
    bigger.aP(i) = 4.0;
    bigger.aW(i) = 1.0;
    bigger.aE(i) = 1.0;
    bigger.bP(i) = 2.0;
  }
  bigger.solve();
  EXPECT_DOUBLE_EQ(bigger.phi(1500), 1.0);
  EXPECT_DOUBLE_EQ(middle, 1.0);
}

// A zero pivot is a real division by zero, which the run's traps catch.
TEST(Tdma, ZeroPivotRaisesDivisionByZero) {
  for (int zero_row : {1, 2}) {
    System s = three_rows();
    if (zero_row == 1) {
      s.aP(1) = 0.0;
    } else {
      s.aP(2) = 0.5;  // d = aP(2) - P(1)*aW(2) = 0.5 - 0.5*1
    }
    std::feclearexcept(FE_ALL_EXCEPT);
    s.solve();
    EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO)) << "zero pivot in row " << zero_row;
  }
}

}  // namespace
}  // namespace moody
