#pragma once
// Tridiagonal matrix algorithm (Thomas, no pivoting) for the rows
//   aP(i)*phi(i) = aW(i)*phi(i-1) + aE(i)*phi(i+1) + bP(i),  i = 1..N.

#include "control/array1.hpp"

namespace moody {

void tdma(int N, const Array1& aP, const Array1& aW, const Array1& aE, const Array1& bP,
          Array1& phi);

}  // namespace moody
