#include "flow/solver.hpp"

#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "control/runtime_error.hpp"

namespace moody {

namespace {
// The recurrence coefficients of the forward sweep.  They are kept from one
// call to the next so that the outer loop obtains no storage after its first
// pass; the buffer only grows.
std::vector<double> g_work;
}  // namespace

SweepWork sweep_work(int N) {
  const std::size_t n = N > 0 ? static_cast<std::size_t>(N) : 0;
  if (g_work.size() < 2 * n) {
    g_work.clear();
    g_work.shrink_to_fit();  // never hold the old and the new buffer at once
    try {
      g_work.resize(2 * n);
    } catch (const std::bad_alloc&) {
      fatal(ErrorCode::kNoStorage, "work storage of the tridiagonal solver for N = " +
                                       std::to_string(N) + " cannot be obtained");
    }
  }
  return SweepWork{g_work.data(), g_work.data() + n};
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
