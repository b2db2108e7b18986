// The four sweeps of the driver's outer iteration against the plain steps
// run one after the other: the same bits in every member, pass after pass.

#include <gtest/gtest.h>

#include <cfenv>
#include <cstdint>

#include "flow/coef.hpp"
#include "flow_support.hpp"

namespace moody {
namespace {

using flowtest::Case;

Case with(int N, double cd, double dt, double f = 0.02) {
  Case c;
  c.N = N;
  c.cd = cd;
  c.dt = dt;
  c.f = f;
  return c;
}

// A long thin duct of slow growth (L = 2, D0 = 0.05, cd = 0.01).
Case long_duct(int N) {
  Case c = with(N, 0.01, 10.0);
  c.L = 2.0;
  c.D0 = 0.05;
  return c;
}

TEST(Sweeps, MatchThePlainStepsPassAfterPass) {
  const Case cases[] = {
      with(4, 2.0, 0.01),  with(5, 2.0, 0.01),   with(6, 0.05, 0.01),      with(7, 0.05, 0.1),
      with(12, 2.0, 0.01), with(12, 0.05, 0.01), with(12, 0.0, 0.01, 0.0), with(33, -0.05, 0.01),
      long_duct(52),       long_duct(500)};
  for (const Case& c : cases) {
    SCOPED_TRACE("N = " + std::to_string(c.N) + ", cd = " + std::to_string(c.cd) +
                 ", dt = " + std::to_string(c.dt));
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

// Every array filled with unrelated values (u0 apart from u, ue0 apart from
// ue, old coefficients everywhere): each sweep must read what the plain step
// reads and write everything it writes.
TEST(Sweeps, MatchThePlainStepsFromAnyState) {
  for (int N : {4, 5, 6, 9, 64}) {
    SCOPED_TRACE("N = " + std::to_string(N));
    SimulationState swept, plain;
    flowtest::start(swept, with(N, 0.05, 0.01));
    std::uint64_t seed = 0x9E3779B97F4A7C15u * static_cast<std::uint64_t>(N);
    auto next = [&seed] {
      seed ^= seed << 13;
      seed ^= seed >> 7;
      seed ^= seed << 17;
      return 0.5 + static_cast<double>(seed >> 11) * 0x1.0p-53;  // in [0.5, 1.5)
    };
    for (Array1* a :
         {&swept.u, &swept.u0, &swept.p, &swept.pl, &swept.Mp, &swept.dP, &swept.ue, &swept.ue0,
          &swept.Me, &swept.de, &swept.QML.aW, &swept.QML.aP, &swept.QML.aE, &swept.QML.bP,
          &swept.MASSA.aW, &swept.MASSA.aP, &swept.MASSA.aE, &swept.MASSA.bP}) {
      for (int i = 1; i <= a->size(); ++i)
        (*a)(i) = next();
    }
    plain = swept;
    for (int it = 1; it <= 3; ++it) {
      outer_iteration(swept);
      plain_outer_iteration(plain);
      ASSERT_EQ(flowtest::first_difference(swept, plain), "") << "after pass " << it;
    }
  }
}

TEST(Sweeps, WholeRunEndsAsThePlainRun) {
  Case c = with(12, 2.0, 0.01);
  SimulationState swept, plain;
  flowtest::run(swept, c);
  flowtest::start(plain, c);
  for (int it = 1; it <= c.itmax; ++it)
    plain_outer_iteration(plain);
  inventory(plain);
  EXPECT_EQ(flowtest::first_difference(swept, plain), "");
}

// The faults that stop a run stay real operations in the sweeps: a zero time
// step divides by zero, and a fluid at rest with Uin = 0 makes the outlet
// factor 0/0.
TEST(Sweeps, FaultsAreRealOperations) {
  const struct {
    const char* what;
    double dt, Uin;
    int flag;
  } faults[] = {{"dt = 0", 0.0, 1.0, FE_DIVBYZERO}, {"Uin = 0", 0.01, 0.0, FE_INVALID}};
  for (const auto& fault : faults) {
    Case c = with(12, 0.05, fault.dt);
    c.Uin = fault.Uin;
    SimulationState s;
    flowtest::start(s, c);
    std::feclearexcept(FE_ALL_EXCEPT);
    outer_iteration(s);
    EXPECT_TRUE(std::fetestexcept(fault.flag)) << fault.what;
  }
}

}  // namespace
}  // namespace moody
