#pragma once
// Helpers shared by the flow tests: states laid out by hand, a comparison to
// a given number of significant digits, and whole-state bit comparison.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "control/principal.hpp"
#include "control/state.hpp"

namespace moody::flowtest {

// True when `actual` rounds to `expected` written with `digits` significant
// digits, i.e. differs from it by at most half a unit of the last digit.
inline ::testing::AssertionResult SameDigits(double expected, double actual, int digits = 7) {
  const double unit =
      expected == 0.0 ? 0.0
                      : std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - (digits - 1));
  if (std::fabs(actual - expected) <= 0.5 * unit * (1.0 + 1e-9)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << actual << " does not read " << expected << " to " << digits << " digits";
}

// The parameters of a run, in the order of dados.txt.
struct Case {
  int N = 12;
  double L = 1.0, mi = 0.001, ro = 1000.0, f = 0.02, Uin = 1.0, D0 = 0.1, cd = 2.0, dt = 0.01;
  double beta = 0.0;
  int itmax = 200, itmaxm = 0;
};

// Sets the twelve parameters and pi, sizes the arrays, lays the grid and zeroes
// the fields, as the driver does before its loop.
inline void start(SimulationState& s, const Case& c) {
  s.N = c.N;
  s.L = c.L;
  s.mi = c.mi;
  s.ro = c.ro;
  s.f = c.f;
  s.Uin = c.Uin;
  s.D0 = c.D0;
  s.cd = c.cd;
  s.dt = c.dt;
  s.beta = c.beta;
  s.itmax = c.itmax;
  s.itmaxm = c.itmaxm;
  s.pi = std::acos(-1.0);
  size_state(s);
  prepare_grid_and_field(s);
}

// A whole run without input and report: start, itmax passes, inventory.
void run(SimulationState& s, const Case& c);

// Copies a list of values into an array, element 1 first.
inline void set(Array1& a, std::initializer_list<double> values) {
  int i = 1;
  for (double v : values)
    a(i++) = v;
}

inline bool same_bits(double a, double b) {
  std::uint64_t x, y;
  std::memcpy(&x, &a, sizeof x);
  std::memcpy(&y, &b, sizeof y);
  return x == y;
}

// Empty when every array and scalar of the two states holds the same bits;
// otherwise names the first difference.
std::string first_difference(const SimulationState& a, const SimulationState& b);

}  // namespace moody::flowtest
