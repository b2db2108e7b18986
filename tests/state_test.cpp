#include <gtest/gtest.h>

#include "control/array1.hpp"
#include "control/state.hpp"

namespace moody {
namespace {

TEST(Array1, IsIndexedFromOneAndCopiesWhole) {
  Array1 a;
  a.size_to(3);
  EXPECT_EQ(a.size(), 3);
  a(1) = 1.5;
  a(3) = -2.0;
  EXPECT_EQ(a.data()[0], 1.5);
  EXPECT_EQ(a.data()[2], -2.0);
  Array1 b;
  b.size_to(3);
  b.copy_from(a);
  EXPECT_EQ(b(1), 1.5);
  EXPECT_EQ(b(2), 0.0);
  EXPECT_EQ(b(3), -2.0);
  b.fill(7.0);
  EXPECT_EQ(b(2), 7.0);
  EXPECT_EQ(a(2), 0.0);
}

TEST(SimulationState, StartsZeroWithNoArrays) {
  SimulationState s;
  EXPECT_EQ(s.N, 0);
  EXPECT_EQ(s.itmax, 0);
  EXPECT_EQ(s.L, 0.0);
  EXPECT_EQ(s.dx, 0.0);
  EXPECT_EQ(s.u.size(), 0);
  EXPECT_EQ(s.QML.aP.size(), 0);
}

}  // namespace
}  // namespace moody
