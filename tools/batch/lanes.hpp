#pragma once
// The value type of a batch pass: one double of each of the lanes of a
// group, held as G vectors of W doubles.  Several vectors to a group give
// the division units independent recurrences to work on while one waits.  Every operation is the
// IEEE one of each lane, element by element, so a lane's result has the bits of the same operation
// on doubles: no contraction, no reordering, no approximation.
//
// With the compiler's vector extensions (GCC, Clang) a vector is a native
// SIMD register of W doubles; the width the code runs at is that of the
// instruction set of the translation unit that instantiates it.  Elsewhere a
// vector is one double (W = 1).  Each operation is written out for every
// vector of the group (each() below), which keeps the vectors in registers;
// over a loop on an array of them, or over one vector G times as wide, the
// compilers spill them through the stack at every formula.
//
// The last template parameter keeps the instantiations of each instruction
// set apart: given a type local to a translation unit, every function of
// this header and of the equations instantiated with it is local to that
// unit, so no code built for one instruction set can stand in for another's
// at link time.

#include <cstddef>
#include <cstring>
#include <utility>

#include "residual_sums.hpp"

namespace moody::batch {

#if defined(__GNUC__)
inline constexpr bool kVectorExtensions = true;
template <int W>
struct VectorOf {
  using type __attribute__((vector_size(sizeof(double) * static_cast<std::size_t>(W)))) = double;
};
template <>
struct VectorOf<1> {
  using type = double;
};
#else
inline constexpr bool kVectorExtensions = false;
template <int W>
struct VectorOf {
  static_assert(W == 1, "without vector extensions a vector is one double");
  using type = double;
};
#endif

template <int W, int G, class Unit>
class Pack {
 public:
  using Vector = typename VectorOf<W>::type;
  static constexpr int kLanes = W * G;

  Pack() = default;
  // Every lane x: the equations' constants and the grid's values, which are
  // the same in every lane, enter the formulas this way.
  Pack(double x) {  // NOLINT(google-explicit-constructor): a double is a pack of equal lanes
    each([&](Vector& v, int) { v = splat(x); });
  }

  // The kLanes doubles at `p`, lane 0 first (no alignment asked).
  static Pack load(const double* p) {
    Pack r;
    r.each([&](Vector& v, int g) { std::memcpy(static_cast<void*>(&v), p + g * W, sizeof v); });
    return r;
  }
  void store(double* p) const {
    each([&](const Vector& v, int g) {
      std::memcpy(p + g * W, static_cast<const void*>(&v), sizeof v);
    });
  }

  friend Pack operator+(const Pack& a, const Pack& b) {
    Pack r;
    r.each([&](Vector& v, int g) { v = a.v_[g] + b.v_[g]; });
    return r;
  }
  friend Pack operator-(const Pack& a, const Pack& b) {
    Pack r;
    r.each([&](Vector& v, int g) { v = a.v_[g] - b.v_[g]; });
    return r;
  }
  friend Pack operator*(const Pack& a, const Pack& b) {
    Pack r;
    r.each([&](Vector& v, int g) { v = a.v_[g] * b.v_[g]; });
    return r;
  }
  friend Pack operator/(const Pack& a, const Pack& b) {
    Pack r;
    r.each([&](Vector& v, int g) { v = a.v_[g] / b.v_[g]; });
    return r;
  }
  // |x| and the larger of two values, as residual_sums.hpp forms them.
  friend Pack magnitude(const Pack& a) {
    Pack r;
    r.each([&](Vector& v, int g) { v = batch::magnitude(a.v_[g]); });
    return r;
  }
  friend Pack larger(const Pack& a, const Pack& b) {
    Pack r;
    r.each([&](Vector& v, int g) { v = batch::larger(a.v_[g], b.v_[g]); });
    return r;
  }
  // The sign changed, as -x does to a double (NaN payloads included).
  friend Pack operator-(const Pack& a) {
    Pack r;
    r.each([&](Vector& v, int g) { v = -a.v_[g]; });
    return r;
  }

 private:
  // f(vector g, g) for g = 0 .. G-1, written out.
  template <typename F>
  void each(F f) {
    [&]<std::size_t... g>(std::index_sequence<g...>) {
      (f(v_[g], static_cast<int>(g)), ...);
    }
    (std::make_index_sequence<static_cast<std::size_t>(G)>{});
  }
  template <typename F>
  void each(F f) const {
    [&]<std::size_t... g>(std::index_sequence<g...>) {
      (f(v_[g], static_cast<int>(g)), ...);
    }
    (std::make_index_sequence<static_cast<std::size_t>(G)>{});
  }

  // Initialised from W copies of x, which the compilers make one broadcast,
  // where a fill element by element costs an insert per lane for each of
  // the grid's values and constants in every row of the pass.
  static Vector splat(double x) {
    if constexpr (W == 1) {
      return x;
    } else {
      return [x]<std::size_t... k>(std::index_sequence<k...>) {
        return Vector{(static_cast<void>(k), x)...};
      }
      (std::make_index_sequence<static_cast<std::size_t>(W)>{});
    }
  }

  Vector v_[static_cast<std::size_t>(G)];
};

}  // namespace moody::batch
