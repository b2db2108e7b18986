#include "control/state.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "control/array1.hpp"
#include "control/array_block.hpp"
#include "control/memory.hpp"
#include "control/start.hpp"
#include "flow/solver.hpp"
#include "flow_support.hpp"

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

// The arrays of a run share one block: each must have its bounds, none may
// reach into another, and at any index no two (the solver's work arrays
// included) fall on the same cache sets.
TEST(SimulationState, ArraysHaveTheirBoundsAndStreamApart) {
  for (const int N : {3, 12, 1002}) {
    SimulationState s;
    s.N = N;
    size_state(s);
    const auto arrays = flowtest::arrays(s);
    const auto listed = state_arrays(s);
    std::vector<const double*> starts;
    int faces = 0;
    for (std::size_t k = 0; k < arrays.size(); ++k) {
      Array1& a = *const_cast<Array1*>(arrays[k]);
      faces += listed[k].n == N - 1 ? 1 : 0;
      ASSERT_EQ(a.size(), listed[k].n) << listed[k].name << ", N = " << N;
      for (int i = 1; i <= a.size(); ++i)
        a(i) = static_cast<double>(k + 1);
      starts.push_back(a.data());
    }
    for (std::size_t k = 0; k < arrays.size(); ++k) {
      for (int i = 1; i <= arrays[k]->size(); ++i)
        ASSERT_EQ((*arrays[k])(i), static_cast<double>(k + 1)) << "array " << k << " (" << i << ")";
    }
    EXPECT_EQ(faces, 7) << "xe, De, Ae, ue, ue0, Me and de";
    starts.push_back(s.work.P.data());
    starts.push_back(s.work.Q.data());
    for (std::size_t a = 0; a < starts.size(); ++a) {
      for (std::size_t b = a + 1; b < starts.size(); ++b) {
        const auto apart = (reinterpret_cast<std::uintptr_t>(starts[a]) -
                            reinterpret_cast<std::uintptr_t>(starts[b])) %
                           kPageBytes;
        EXPECT_GE(std::min(apart, kPageBytes - apart), kStagger) << a << " and " << b;
      }
    }
  }
}

// In a checked build an index outside 1..n stops the run, and under
// AddressSanitizer so does a raw read one past the end of an array, although
// it lands inside the block the arrays share.
TEST(ArrayBoundsDeathTest, AnIndexOutsideAnArrayIsCaught) {
  SimulationState s;
  s.N = 12;
  size_state(s);
  struct Probe {
    const char* what;
    int i;
    const char* report;
  };
#if defined(MOODY_CHECKED_INDICES)
  for (const Probe& p : {Probe{"u(0)", 0, "index 0 outside the bounds 1..12"},
                         Probe{"u(N+1)", 13, "index 13 outside the bounds 1..12"}}) {
    EXPECT_DEATH((void)s.u(p.i), p.report) << p.what;
  }
#endif
#if defined(__SANITIZE_ADDRESS__)
  const double* const u = s.u.data();
  EXPECT_DEATH((void)*static_cast<const volatile double*>(u + 12), "use-after-poison")
      << "the element after u(N)";
#endif
#if !defined(MOODY_CHECKED_INDICES) && !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a plain build checks no index";
#endif
}

// A copy of a state is a state of its own; an assignment between states of
// one size keeps the storage of the one assigned to.
TEST(SimulationState, CopiesAreIndependent) {
  SimulationState a, b;
  a.N = b.N = 5;
  size_state(a);
  size_state(b);
  a.u.fill(1.0);
  const double* const b_u = b.u.data();
  SimulationState c = a;
  b = a;
  c.u(2) = 2.0;
  b.u(3) = 3.0;
  EXPECT_EQ(a.u(2), 1.0);
  EXPECT_EQ(a.u(3), 1.0);
  EXPECT_EQ(c.u(3), 1.0);
  EXPECT_EQ(b.u(2), 1.0);
  EXPECT_EQ(b.u.data(), b_u);
}

}  // namespace
}  // namespace moody
