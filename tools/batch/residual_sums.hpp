#pragma once
// The sums and maxima over the grid from which a search forms the residuals
// of a pass (tools/convergence/residuals.hpp), for one run (T a double) or
// for several side by side (T a vector of doubles or a pack of lanes, a run
// in each element):
//
//   imbalance   sum of |bP(i)| of the MASSA set, i = 2..N-1 in node order
//   change      max of |u(i) - u(i) before the pass|, i = 2..N-1
//   correction  max of |pl(i)|, i = 1..N
//
// The maxima keep the value they hold unless the new one is larger, so a
// NaN never wins; over values >= +0 they do not depend on the order.  Each
// element of T has the bits of the same steps on doubles.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace moody::batch {

// |x| as fabs forms it, on a double or, element by element, on a vector of
// doubles of the compiler's vector extensions.
template <typename T>
T magnitude(T x) {
  if constexpr (std::is_floating_point_v<T>) {
    return std::fabs(x);
  } else {
    using Bits [[gnu::vector_size(sizeof(T))]] = std::int64_t;
    Bits b;
    std::memcpy(static_cast<void*>(&b), static_cast<const void*>(&x), sizeof b);
    b &= ~(Bits{} + INT64_MIN);
    std::memcpy(static_cast<void*>(&x), static_cast<const void*>(&b), sizeof b);
    return x;
  }
}
// b unless a > b.
template <typename T>
T larger(T a, T b) {
  return a > b ? a : b;  // on vectors, the compilers' element-wise select (maxpd on x86)
}

template <typename T>
struct ResidualSums {
  T imbalance{};
  T change{};
  T correction{};

  void add_imbalance(const T& bP) { imbalance = imbalance + magnitude(bP); }
  void add_change(const T& u, const T& before) { change = larger(magnitude(u - before), change); }
  void add_correction(const T& pl) { correction = larger(magnitude(pl), correction); }
};

}  // namespace moody::batch
