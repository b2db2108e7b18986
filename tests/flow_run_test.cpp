// Whole runs driven in-process (grid, itmax outer iterations, inventory), and
// the driver's four sweeps against the plain steps bit for bit.

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "control/fault_advice.hpp"
#include "control/memory.hpp"
#include "control/start.hpp"
#include "flow/coef.hpp"
#include "flow/solver.hpp"
#include "flow/time_step.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::Case;
using flowtest::SameDigits;

Case with(int N, double cd, int itmax = 200, double dt = 0.01) {
  Case c;
  c.N = N, c.cd = cd, c.itmax = itmax, c.dt = dt;
  return c;
}

void run(SimulationState& s, const Case& c) {
  flowtest::start(s, c);
  for (int it = 1; it <= c.itmax; ++it)
    outer_iteration(s);
  inventory(s);
}

// After every correction the inlet pair averages to Uin and the outlet node
// continues the slope; after the inventory the outlet face carries the
// inlet's mass flow and the inlet pressure is exactly zero.
TEST(Run, BoundaryValuesHoldThroughout) {
  for (const Case& c : {with(12, 2.0), with(12, 0.05), with(3, 2.0), with(4, 0.05)}) {
    SCOPED_TRACE("N = " + std::to_string(c.N) + ", cd = " + std::to_string(c.cd));
    const int N = c.N;
    SimulationState s;
    flowtest::start(s, c);
    for (int it = 1; it <= c.itmax; ++it) {
      outer_iteration(s);
      ASSERT_TRUE(SameDigits(c.Uin, (s.u(1) + s.u(2)) / 2.0, 14)) << it;
      ASSERT_NEAR(s.u(N) - s.u(N - 1), s.u(N - 1) - s.u(N - 2), 1e-14 * std::fabs(s.u(N - 1)));
    }
    inventory(s);
    EXPECT_TRUE(std::isfinite(s.p(N)) && std::isfinite(s.u(N)));
    EXPECT_EQ(s.p(1), 0.0);
    EXPECT_EQ(s.u(1), c.Uin);
    EXPECT_TRUE(SameDigits(s.Me(1), s.Me(N - 1), 14));
  }
}

TEST(Run, SameInputSameBitsWhateverTheEchoedParameters) {
  SimulationState a, b, c;
  Case base = with(12, 2.0, 60), echoed = base;
  echoed.beta = 1.0, echoed.itmaxm = 20;
  run(a, base);
  run(b, echoed);
  run(c, base);
  EXPECT_EQ(flowtest::first_difference(a, b), "");
  EXPECT_EQ(flowtest::first_difference(a, c), "");
}

TEST(Run, NoPassOrOnePass) {
  for (int itmax : {0, -3}) {
    SimulationState s;
    run(s, with(12, 2.0, itmax));
    SimulationState zero;  // what sizing leaves: zeros, but the grid
    flowtest::start(zero, with(12, 2.0, itmax));
    zero.u(1) = zero.Uin;
    for (int i = 1; i <= 12; ++i)
      zero.Mp(i) = zero.A(i) * zero.dx * zero.ro;
    EXPECT_EQ(flowtest::first_difference(s, zero), "") << itmax;
  }
  SimulationState s;
  flowtest::start(s, with(12, 2.0, 1));
  outer_iteration(s);
  for (int i = 1; i <= 12; ++i)
    EXPECT_EQ(s.u0(i), s.u(i)) << i;
  for (int i = 1; i <= 11; ++i)
    EXPECT_EQ(s.ue0(i), s.ue(i)) << i;
  for (int i = 1; i <= 12; ++i)
    EXPECT_EQ(s.p(i), s.pl(i)) << i;  // p started at zero
  EXPECT_NE(s.u(6), 0.0);
}

TEST(Sweeps, MatchThePlainStepsPassAfterPass) {
  Case f0 = with(12, 0.0), narrowing = with(33, -0.05), slow = with(52, 0.01, 40, 10.0);
  f0.f = 0.0;
  slow.L = 2.0, slow.D0 = 0.05;
  for (const Case& c :
       {with(4, 2.0), with(5, 2.0), with(6, 0.05, 40, 0.1), with(12, 2.0), f0, narrowing, slow}) {
    SCOPED_TRACE("N = " + std::to_string(c.N) + ", cd = " + std::to_string(c.cd));
    SimulationState swept, plain;
    flowtest::start(swept, c);
    flowtest::start(plain, c);
    for (int it = 1; it <= 40; ++it) {
      outer_iteration(swept);
      plain_outer_iteration(plain);
      ASSERT_EQ(flowtest::first_difference(swept, plain), "") << "after pass " << it;
    }
  }
}

// Every field and coefficient filled with unrelated values (u0 apart from u,
// ue0 apart from ue): each sweep must read what the plain step reads and
// write all it writes.
TEST(Sweeps, MatchThePlainStepsFromAnyState) {
  for (int N : {4, 5, 9, 64}) {
    SimulationState swept, plain;
    flowtest::start(swept, with(N, 0.05));
    std::uint64_t seed = 0x9E3779B97F4A7C15u * static_cast<std::uint64_t>(N);
    for (const Array1* a : flowtest::arrays(swept)) {
      if (a == &swept.x || a == &swept.xe || a == &swept.D || a == &swept.De) continue;
      for (int i = 1; i <= a->size(); ++i) {
        seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
        const_cast<Array1*>(a)->data()[i - 1] = 0.5 + static_cast<double>(seed >> 11) * 0x1p-53;
      }
    }
    plain = swept;
    for (int it = 1; it <= 3; ++it) {
      outer_iteration(swept);
      plain_outer_iteration(plain);
      ASSERT_EQ(flowtest::first_difference(swept, plain), "") << "N = " << N << ", pass " << it;
    }
  }
}

// The faults that stop a run stay real operations on both paths: a zero time
// step divides by zero; a fluid at rest with Uin = 0 makes the outlet factor
// 0/0; so does a zero pivot of the solver.
TEST(Faults, AreRealFloatingPointOperations) {
  Case rest = with(12, 0.05, 1);
  rest.Uin = 0.0;
  const struct {
    Case c;
    int flag;
  } faults[] = {{with(12, 0.05, 1, 0.0), FE_DIVBYZERO}, {rest, FE_INVALID}};
  for (const auto& fault : faults) {
    for (void (*pass)(SimulationState&) : {outer_iteration, plain_outer_iteration}) {
      SimulationState s;
      flowtest::start(s, fault.c);
      std::feclearexcept(FE_ALL_EXCEPT);
      pass(s);
      EXPECT_TRUE(std::fetestexcept(fault.flag)) << "dt = " << fault.c.dt;
    }
  }
  // The first pass starts from twice the floor and faults well below it,
  // the example duct on ever finer grids; without viscosity nothing starts.
  for (const int N : {12, 52, 102, 402}) {
    Case c = with(N, 0.01, 1);
    c.L = 2.0, c.D0 = 0.05;
    const double floor = time_step_floor(c.N, c.L, c.ro, c.mi);
    for (const double dt : {2.0 * floor, 1e-3 * floor}) {
      SimulationState s;
      c.dt = dt;
      flowtest::start(s, c);
      std::feclearexcept(FE_ALL_EXCEPT);
      outer_iteration(s);
      const bool faulted = std::fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW) != 0;
      EXPECT_EQ(faulted, dt < floor) << "N = " << N << ", dt = " << dt;
    }
  }
  EXPECT_EQ(time_step_floor(52, 2.0, 1000.0, 0.0), std::numeric_limits<double>::infinity());
  EXPECT_EQ(time_step_floor(2, 2.0, 1000.0, 1e-3), std::numeric_limits<double>::infinity());
  Array1 zero, one, phi;
  for (Array1* a : {&zero, &one, &phi})
    a->size_to(2);
  one.fill(1.0);
  std::feclearexcept(FE_ALL_EXCEPT);
  tdma(2, zero, one, one, one, phi);
  EXPECT_TRUE(std::fetestexcept(FE_DIVBYZERO));
}

// Where the traps are not in force, a value they would have stopped is found
// before the report and ends the run with the fault's frame.
TEST(FaultsDeathTest, UntrappedNonFiniteValueStopsTheReport) {
  SimulationState s;
  flowtest::start(s, with(5, 0.05, 0));
  inventory(s);
  refuse_untrapped_faults(s);  // a clean state goes on

  s.u(3) = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EXIT(refuse_untrapped_faults(s), ::testing::ExitedWithCode(1),
              "^\nrun-time error M4003: floating-point invalid not trapped: u\\(3\\) is NaN "
              "before the report\n$");
  s.u(3) = 0.0;
  s.MASSA.bP(5) = -std::numeric_limits<double>::infinity();
  EXPECT_EXIT(refuse_untrapped_faults(s), ::testing::ExitedWithCode(1),
              "^\nrun-time error M4002: floating-point overflow not trapped: MASSA bP\\(5\\) is "
              "infinite before the report\n$");
  // With passes run, the frame says what the trap would have said.
  s.itmax = 300;
  s.dt = 0.0;
  EXPECT_EXIT(refuse_untrapped_faults(s), ::testing::ExitedWithCode(1),
              "before the report: dt = 0: the transient term Mp/dt needs a time step; give "
              "dt > 0, at least about [0-9.e+-]+ s \\(the estimated floor for N = 5\\)\n$");
}

// Work storage that cannot be had ends the run with the storage error frame,
// not with an uncaught exception.
TEST(FaultsDeathTest, SolverStorageThatCannotBeHad) {
  const std::uint64_t needed = 2ull * 2147483647ull * sizeof(double);
  const std::uint64_t available = available_memory();
  if (available == 0 || available >= needed) GTEST_SKIP() << "the machine could hold it";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "under AddressSanitizer a failed new ends the process instead of throwing";
#endif
  Array1 a;
  a.size_to(1);
  EXPECT_EXIT(tdma(2147483647, a, a, a, a, a), ::testing::ExitedWithCode(1), "F3001: work storage");
}

}  // namespace
}  // namespace moody
