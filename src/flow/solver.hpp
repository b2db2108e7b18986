#pragma once
// Tridiagonal matrix algorithm (Thomas, no pivoting) for the rows
//   aP(i)*phi(i) = aW(i)*phi(i-1) + aE(i)*phi(i+1) + bP(i),  i = 1..N.

#include <cstdint>

#include "control/array1.hpp"

namespace moody {

// Solves the N rows for phi.  The four coefficient arrays are only read; phi
// is only written.  A zero pivot is a real floating-point division by zero.
void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi);

// The two work arrays of the forward sweep, N doubles each, indexed from 1
// like the rows.  One pair serves every call and only grows, so a run
// obtains it once (size_state asks for it with the state's arrays); the views
// stay valid until a call with a larger N.  The pair sits in the two slots
// after the state's arrays (array_block.hpp).  A pair that cannot be had ends
// the run with the storage error.
struct SweepWork {
  double* p;
  double* q;
  double& P(int i) const { return p[i - 1]; }
  double& Q(int i) const { return q[i - 1]; }
};
SweepWork sweep_work(int N);
// Bytes that sweep_work(N) obtains.
std::uint64_t sweep_work_bytes(int N);

}  // namespace moody
