#include "flow/solver.hpp"

#include <new>
#include <string>

#include "control/array_block.hpp"
#include "control/runtime_error.hpp"
#include "flow/equations.hpp"

namespace moody {

void tdma_forward(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
                  SolverWork& w) {
  // Row 1 has no west neighbour; P(i-1) and Q(i-1) are carried in registers
  // down the rows: the recurrence is the critical path.
  Elimination<double> e = first_elimination(aP(1), aE(1), bP(1));
  w.P(1) = e.P;
  w.Q(1) = e.Q;
  for (int i = 2; i <= N; ++i) {
    e = forward_elimination(e, aP(i), aW(i), aE(i), bP(i));
    w.P(i) = e.P;
    w.Q(i) = e.Q;
  }
}

void tdma_back(int N, const SolverWork& w, Array1& phi) {
  // phi(N) = Q(N); P(N) would multiply a neighbour that does not exist.
  double next = w.Q(N);
  phi(N) = next;
  for (int i = N - 1; i >= 1; --i) {
    next = back_substitution(w.P(i), w.Q(i), next);
    phi(i) = next;
  }
}

void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi, SolverWork& w) {
  if (N < 1) return;  // no rows: nothing to solve, and no row 1 to address
  tdma_forward(N, aP, aW, aE, bP, w);
  tdma_back(N, w, phi);
}

void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi) {
  if (N < 1) return;
  SolverWork w;
  try {
    const Placed pair[] = {{&w.P, N}, {&w.Q, N}};
    size_in_one_block(pair, kWorkSlot);
  } catch (const std::bad_alloc&) {
    fatal(ErrorCode::kNoStorage, "work storage of the tridiagonal solver for N = " +
                                     std::to_string(N) + " cannot be obtained");
  }
  tdma(N, aP, aW, aE, bP, phi, w);
}

}  // namespace moody
