#include "flow/solver.hpp"

#include <new>
#include <string>

#include "control/array_block.hpp"
#include "control/runtime_error.hpp"

namespace moody {

namespace {
// The recurrence coefficients of the forward sweep.  They are kept from one
// call to the next so that the outer loop obtains no storage after its first
// pass; the pair only grows.
Array1 g_P, g_Q;
}  // namespace

std::uint64_t sweep_work_bytes(int N) {
  const Placed pair[] = {{nullptr, N}, {nullptr, N}};
  return block_bytes(pair, kWorkSlot);
}

SweepWork sweep_work(int N) {
  if (g_P.size() < N) {
    g_P = Array1();  // never hold the old and the new pair at once
    g_Q = Array1();
    try {
      const Placed pair[] = {{&g_P, N}, {&g_Q, N}};
      size_in_one_block(pair, kWorkSlot);
    } catch (const std::bad_alloc&) {
      fatal(ErrorCode::kNoStorage, "work storage of the tridiagonal solver for N = " +
                                       std::to_string(N) + " cannot be obtained");
    }
  }
  return SweepWork{g_P.data(), g_Q.data()};
}

void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi) {
  if (N < 1) return;  // no rows: nothing to solve, and no row 1 to address
  const SweepWork w = sweep_work(N);

  // Row 1 has no west neighbour: phi(1) = P(1)*phi(2) + Q(1).
  double P = aE(1) / aP(1);
  double Q = bP(1) / aP(1);
  w.P(1) = P;
  w.Q(1) = Q;

  // Forward sweep: eliminating phi(i-1) = P(i-1)*phi(i) + Q(i-1) from row i
  // leaves d*phi(i) = aE(i)*phi(i+1) + Q(i-1)*aW(i) + bP(i).  P(i-1) and
  // Q(i-1) are carried in registers: the recurrence is the critical path.
  for (int i = 2; i <= N; ++i) {
    const double d = aP(i) - P * aW(i);
    P = aE(i) / d;
    Q = (Q * aW(i) + bP(i)) / d;
    w.P(i) = P;
    w.Q(i) = Q;
  }

  // Back substitution; P(N) would multiply a neighbour that does not exist.
  double next = Q;
  phi(N) = next;
  for (int i = N - 1; i >= 1; --i) {
    next = w.P(i) * next + w.Q(i);
    phi(i) = next;
  }
}

}  // namespace moody
