#pragma once
// The decimal digits behind real editing, shared by the fast editor
// (real_edit.cpp) and the exact one (real_exact.cpp).
//
// A positive finite double is first rounded to 17 significant digits: the
// first 18 digits of its exact decimal expansion, truncated, rounded half up
// at the 18th.  For the real magnitude x with 10^e <= x < 10^(e+1) that is
//
//   digits = floor(floor(x * 10^(17-e)) / 10 + 1/2) = floor(x * 10^(16-e) + 1/2)
//
// (floor(floor(z) / 10) = floor(z / 10) for any real z), i.e. x rounded half
// up to a multiple of 10^(e-16).  When the rounding carries to 10^17 the
// result is 10^16 with the exponent raised by one.

#include <cstdint>
#include <string>

namespace moody::detail {

struct Digits17 {
  std::uint64_t digits;  // 10^16 <= digits < 10^17
  int exponent;          // the value is digits * 10^(exponent - 16)
};

// Every significant digit of the exact decimal expansion of `magnitude`
// (positive, finite), without leading or trailing zeros, and the decimal
// exponent of the first one.
std::string exact_digits(double magnitude, int& exponent);

// The 17-digit rounding by exact arithmetic.
Digits17 first17_exact(double magnitude);

// The 17-digit rounding by 128-bit fixed-point arithmetic.  Returns false,
// leaving `out` alone, when the fixed-point value lies too close to a
// rounding boundary to decide; the caller then asks first17_exact.
bool first17_fast(double magnitude, Digits17& out);

// The decision step of first17_fast, on its fixed-point value of
// y = x * 10^(17-g): integer part y, 64 bits of fraction, and whether that
// value is exact.  Returns false when the rounding is too close to call.
bool round_scaled(std::uint64_t y, std::uint64_t fraction, bool exact, int g, Digits17& out);

}  // namespace moody::detail
