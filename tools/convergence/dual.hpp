#pragma once
// A number with K directional derivatives, for the Jacobian of the steady
// equations: the formulas of the scheme are templates on their value type,
// so evaluating them on Dual values gives the residuals and their
// derivatives at once, from the one home of each formula.
//
// Every operation carries its derivatives by the rules of the calculus; the
// values themselves are computed exactly as the formulas on doubles are.

#include <array>
#include <cstddef>

namespace moody::convergence {

template <std::size_t K>
struct Dual {
  double v = 0.0;
  std::array<double, K> d{};

  Dual() = default;
  Dual(double value) : v(value) {}  // NOLINT(google-explicit-constructor): a constant
};

template <std::size_t K>
Dual<K> operator-(const Dual<K>& a) {
  Dual<K> r(-a.v);
  for (std::size_t k = 0; k < K; ++k)
    r.d[k] = -a.d[k];
  return r;
}

template <std::size_t K>
Dual<K> operator+(const Dual<K>& a, const Dual<K>& b) {
  Dual<K> r(a.v + b.v);
  for (std::size_t k = 0; k < K; ++k)
    r.d[k] = a.d[k] + b.d[k];
  return r;
}

template <std::size_t K>
Dual<K> operator-(const Dual<K>& a, const Dual<K>& b) {
  Dual<K> r(a.v - b.v);
  for (std::size_t k = 0; k < K; ++k)
    r.d[k] = a.d[k] - b.d[k];
  return r;
}

template <std::size_t K>
Dual<K> operator*(const Dual<K>& a, const Dual<K>& b) {
  Dual<K> r(a.v * b.v);
  for (std::size_t k = 0; k < K; ++k)
    r.d[k] = a.d[k] * b.v + a.v * b.d[k];
  return r;
}

template <std::size_t K>
Dual<K> operator/(const Dual<K>& a, const Dual<K>& b) {
  Dual<K> r(a.v / b.v);
  for (std::size_t k = 0; k < K; ++k)
    r.d[k] = (a.d[k] - r.v * b.d[k]) / b.v;
  return r;
}

// With a constant on either side: the constant converted, as the formulas
// write 2.0*Uin or u*0.5.
template <std::size_t K>
Dual<K> operator+(const Dual<K>& a, double b) {
  return a + Dual<K>(b);
}
template <std::size_t K>
Dual<K> operator+(double a, const Dual<K>& b) {
  return Dual<K>(a) + b;
}
template <std::size_t K>
Dual<K> operator-(const Dual<K>& a, double b) {
  return a - Dual<K>(b);
}
template <std::size_t K>
Dual<K> operator-(double a, const Dual<K>& b) {
  return Dual<K>(a) - b;
}
template <std::size_t K>
Dual<K> operator*(const Dual<K>& a, double b) {
  return a * Dual<K>(b);
}
template <std::size_t K>
Dual<K> operator*(double a, const Dual<K>& b) {
  return Dual<K>(a) * b;
}
template <std::size_t K>
Dual<K> operator/(const Dual<K>& a, double b) {
  return a / Dual<K>(b);
}
template <std::size_t K>
Dual<K> operator/(double a, const Dual<K>& b) {
  return Dual<K>(a) / b;
}

}  // namespace moody::convergence
