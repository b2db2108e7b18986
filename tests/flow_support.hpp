#pragma once
// Helpers of the flow tests: a run's parameters, a state laid out as the
// driver leaves it before its loop, digit and bit comparisons.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>

#include "control/start.hpp"
#include "control/state.hpp"
#include "flow/sweeps.hpp"

namespace moody::flowtest {

// True when `actual` reads `expected` to `digits` significant digits.
inline ::testing::AssertionResult SameDigits(double expected, double actual, int digits = 7) {
  const double unit = std::pow(10.0, std::floor(std::log10(std::fabs(expected))) - digits + 1);
  if (std::fabs(actual - expected) <= 0.5 * unit * (1.0 + 1e-9))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << actual << " does not read " << expected;
}

// A case of the tests: the twelve parameters, a short run on a small grid
// unless set.
struct Case : Parameters {
  Case() : Parameters{12, 1.0, 0.001, 1000.0, 0.02, 1.0, 0.1, 2.0, 0.01, 0.0, 200, 0} {}
};

// The twelve parameters and pi set, the arrays sized, grid and fields laid.
inline void start(SimulationState& s, const Case& c) {
  Parameters& p = s;
  p = c;
  start_run(s);
}

inline void set(Array1& a, std::initializer_list<double> values) {
  int i = 1;
  for (double v : values)
    a(i++) = v;
}

// The twenty-four arrays of the run (the solver's work pair left out).
inline std::array<const Array1*, kStateArrays> arrays(const SimulationState& s) {
  const auto all = state_arrays(const_cast<SimulationState&>(s));
  std::array<const Array1*, kStateArrays> out{};
  for (std::size_t k = 0; k < out.size(); ++k)
    out[k] = all[k].array;
  return out;
}

// Empty when the 24 arrays of both states hold the same bits, else where not.
inline std::string first_difference(const SimulationState& a, const SimulationState& b) {
  const auto x = arrays(a), y = arrays(b);
  for (std::size_t k = 0; k < x.size(); ++k) {
    const Array1& p = *x[k];
    const Array1& q = *y[k];
    if (p.size() != q.size()) return "array " + std::to_string(k) + " sizes";
    for (int i = 1; i <= p.size(); ++i) {
      if (std::memcmp(&p.data()[i - 1], &q.data()[i - 1], sizeof(double)) != 0) {
        return "array " + std::to_string(k) + " element " + std::to_string(i);
      }
    }
  }
  return {};
}

}  // namespace moody::flowtest
