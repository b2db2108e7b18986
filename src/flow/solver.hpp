#pragma once
// Tridiagonal matrix algorithm (Thomas, no pivoting) for the rows
//   aP(i)*phi(i) = aW(i)*phi(i-1) + aE(i)*phi(i+1) + bP(i),  i = 1..N.

#include "control/array1.hpp"
#include "control/state.hpp"

namespace moody {

// Solves the N rows for phi.  The four coefficient arrays are only read; phi
// is only written.  A zero pivot is a real floating-point division by zero.
// The work pair P, Q is obtained for the call and released after it; storage
// that cannot be had ends the run with the storage error.
void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi);

// The same solve in the work pair `w` (at least N rows), which a run obtains
// once with its state, in its two halves: the forward sweep fills w.P and
// w.Q, the back substitution writes phi from them.
void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi, SolverWork& w);
void tdma_forward(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
                  SolverWork& w);
void tdma_back(int N, const SolverWork& w, Array1& phi);

}  // namespace moody
