#pragma once
// The steady solution of the discrete equations, solved directly.
//
// At a fixed point of the outer iteration u0 = u, ue0 = ue and the pressure
// correction is zero, so the transient terms of the momentum rows and of the
// face interpolation cancel (they are the formulas with dt infinite), and
// the pressure-correction sources vanish: continuity fixes every face
// velocity, ue(i)*Ae(i) = Ae(1)*Uin.  What is left are the momentum rows of
// the nodes, the inlet and outlet rows, the momentum interpolation of each
// interior face with its velocity so fixed, and the fictitious pressures
// p(1) = 2p(2) - p(3), p(N) = 2p(N-1) - p(N-2), which every correction
// keeps from the zero start.  The pressure level is free (only differences
// enter): p(2) = 0 fixes it.
//
// Newton's method solves them from the exact 1-D solution, with the banded
// Jacobian that the formulas themselves give when evaluated on dual numbers
// (the formulas of the scheme have one home, equations.hpp, reached through
// the gatherers of the pass).  The fixed point does not depend on dt, so
// neither does the solution: it is the value the program's iteration
// converges to, for any dt that converges.

#include <cstdint>
#include <limits>
#include <string>

#include "control/state.hpp"

namespace moody::convergence {

struct SteadySolution {
  bool converged = false;
  double outlet = std::numeric_limits<double>::quiet_NaN();  // p(L) - p(0) [Pa]
  int iterations = 0;                                        // Newton steps taken
  double momentum_residual = 0.0;  // largest of the momentum rows at the solution [N]
  double face_residual = 0.0;      // largest of the face interpolations [m/s]
  double last_change = 0.0;        // of the outlet pressure in the last step [Pa]
  std::string failure;             // why not converged
};

// The most Newton steps taken before the method is said not to converge.
inline constexpr int kNewtonSteps = 30;

// The bytes that the solution of a grid of N nodes holds at once, the
// state of the grid's geometry included.
std::uint64_t steady_bytes(int N);

// The steady solution for the parameters of `dados` (N >= 4).  A grid the
// machine cannot hold ends the run with the program's F3001 frame.
SteadySolution steady_solution(const Parameters& dados);

// convergence --steady: the solution's lines on standard output; the exit
// status, 0 (solved) or 4 (Newton's method does not converge).
int steady_run(const Parameters& dados);

}  // namespace moody::convergence
