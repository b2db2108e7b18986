// The steady solution of the discrete equations against the program's own
// iteration, and the banded solver beneath it.

#include "steady.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "banded.hpp"
#include "control/start.hpp"
#include "flow/equations.hpp"
#include "flow/sweeps.hpp"

namespace moody {
namespace {

// The outlet pressure that the program's report gives after `passes`.
double outlet_after(const Parameters& p, int passes) {
  SimulationState s;
  static_cast<Parameters&>(s) = p;
  start_run(s);
  for (int k = 0; k < passes; ++k)
    outer_iteration(s);
  return section_value(s.p(s.N - 1), s.p(s.N)) - section_value(s.p(1), s.p(2));
}

// On cases the iteration converges on, its value after many passes is the
// steady solution to 1e-9 (against q/1000 where it is near zero), in a few
// Newton steps; dt does not enter it, to the bit.
TEST(Steady, IsWhereTheProgramsIterationConverges) {
  const struct {
    const char* name;
    Parameters p;
    int passes;
  } rows[] = {
      {"the example", {52, 2.0, 1e-3, 1000.0, 0.02, 1.0, 0.05, 0.01, 0.4, 1, 0, 20}, 3000},
      {"a narrowing duct", {52, 2.0, 1e-3, 1000.0, 0.02, 1.0, 0.05, -0.01, 0.114, 1, 0, 20}, 3000},
      {"oil", {52, 2.0, 0.3, 880.0, 0.44, 1.0, 0.05, 0.01, 0.0621, 1, 0, 20}, 3000},
      {"a straight duct without friction",
       {22, 1.0, 1e-3, 1000.0, 0.0, 1.0, 0.1, 0.0, 0.1, 1, 0, 20},
       3000},
      {"two real volumes", {4, 1.0, 1e-3, 1000.0, 0.02, 1.0, 0.1, 0.05, 0.1, 1, 0, 20}, 3000},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const convergence::SteadySolution sol = convergence::steady_solution(row.p);
    ASSERT_TRUE(sol.converged) << sol.failure;
    EXPECT_LE(sol.iterations, 5);
    const double program = outlet_after(row.p, row.passes);
    const double q = 0.5 * row.p.ro * row.p.Uin * row.p.Uin;
    EXPECT_LE(std::fabs(sol.outlet - program), 1e-9 * std::max(std::fabs(program), q / 1000.0))
        << sol.outlet << " against " << program;
    Parameters other = row.p;
    other.dt *= 37.0;
    EXPECT_EQ(convergence::steady_solution(other).outlet, sol.outlet);
  }
  Parameters three = rows[0].p;
  three.N = 3;
  EXPECT_FALSE(convergence::steady_solution(three).converged);
}

// Elimination within the band: a zero on the diagonal needs the row below;
// a singular system is said, not solved.
TEST(Steady, BandedEliminationPivotsAndRefusesASingularSystem) {
  const struct {
    std::vector<std::vector<double>> A;  // rows of a 3 x 3 system, bands 1 and 1
    std::vector<double> b, x;
    bool solved;
  } rows[] = {
      {{{2, 1, 0}, {1, 3, 1}, {0, 1, 2}}, {3, 5, 3}, {1, 1, 1}, true},
      {{{0, 1, 0}, {1, 0, 1}, {0, 1, 1}}, {2, 4, 5}, {1, 2, 3}, true},
      {{{1, 1, 0}, {1, 1, 0}, {0, 1, 1}}, {1, 1, 1}, {}, false},
  };
  for (const auto& row : rows) {
    convergence::Banded A(3, 1, 1);
    for (int r = 0; r < 3; ++r) {
      for (int c = std::max(0, r - 1); c <= std::min(2, r + 1); ++c)
        A.at(r, c) = row.A[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    }
    std::vector<double> b = row.b;
    ASSERT_EQ(A.solve(b), row.solved);
    if (row.solved) {
      for (std::size_t k = 0; k < 3; ++k)
        EXPECT_NEAR(b[k], row.x[k], 1e-15);
    }
  }
}

}  // namespace
}  // namespace moody
