// Real editing by exact arithmetic.  A finite double is m * 2^q with integer
// m and q, so its decimal expansion is finite: m * 2^q when q >= 0, and
// m * 5^-q * 10^q when q < 0.  The integer m * 2^q or m * 5^-q is built in
// base 10^9, where its decimal digits can be read off directly; every
// rounding below is then done on the digit string, step by step as the
// editing rules state them.  Slow, but obviously right: this is the oracle
// the fast path is tested against, and its fallback.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "io/field_edit.hpp"
#include "io/real_digits.hpp"

namespace moody {
namespace detail {
namespace {

constexpr std::uint32_t kBase = 1000000000;  // 10^9 per limb

// limbs (least significant first) *= factor; factor <= 2^32.
void multiply(std::vector<std::uint32_t>& limbs, std::uint64_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : limbs) {
    const std::uint64_t t = limb * factor + carry;  // < 10^9 * 2^32 + 2^33 < 2^63
    limb = static_cast<std::uint32_t>(t % kBase);
    carry = t / kBase;
  }
  while (carry != 0) {
    limbs.push_back(static_cast<std::uint32_t>(carry % kBase));
    carry /= kBase;
  }
}

// Adds one unit in the last place of digits[0, n); returns true when the
// carry runs out of the first digit (the digits are then all '0').
bool increment(std::string& digits, std::size_t n) {
  for (std::size_t k = n; k-- > 0;) {
    if (digits[k] != '9') {
      ++digits[k];
      return false;
    }
    digits[k] = '0';
  }
  return true;
}

// The first 17 significant digits after stage 1 (first 18 digits truncated,
// half up at the 18th), with their exponent.
std::string stage1(double magnitude, int& exponent) {
  std::string digits = exact_digits(magnitude, exponent);
  digits.resize(18, '0');
  const bool up = digits[17] >= '5';
  digits.resize(17);
  if (up && increment(digits, 17)) {
    digits.assign(17, '0');
    digits[0] = '1';
    ++exponent;
  }
  return digits;
}

}  // namespace

std::string exact_digits(double magnitude, int& exponent) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int q = -1074;
  if (biased != 0) {
    m |= std::uint64_t{1} << 52;
    q = biased - 1075;
  }
  std::vector<std::uint32_t> limbs{static_cast<std::uint32_t>(m % kBase),
                                   static_cast<std::uint32_t>(m / kBase % kBase),
                                   static_cast<std::uint32_t>(m / kBase / kBase)};
  int shift = 0;  // the value is the integer times 10^shift
  if (q >= 0) {
    for (int left = q; left > 0; left -= 32)
      multiply(limbs, std::uint64_t{1} << std::min(left, 32));
  } else {
    constexpr std::uint64_t kFive13 = 1220703125;  // 5^13
    int left = -q;
    for (; left >= 13; left -= 13)
      multiply(limbs, kFive13);
    std::uint64_t rest = 1;
    for (; left > 0; --left)
      rest *= 5;
    multiply(limbs, rest);
    shift = q;
  }
  while (limbs.size() > 1 && limbs.back() == 0)
    limbs.pop_back();

  std::string digits = std::to_string(limbs.back());
  for (std::size_t k = limbs.size() - 1; k-- > 0;) {
    char group[10];
    std::uint32_t v = limbs[k];
    for (int j = 8; j >= 0; --j) {
      group[j] = static_cast<char>('0' + v % 10);
      v /= 10;
    }
    digits.append(group, 9);
  }
  exponent = static_cast<int>(digits.size()) - 1 + shift;
  digits.erase(digits.find_last_not_of('0') + 1);
  return digits;
}

Digits17 first17_exact(double magnitude) {
  int exponent = 0;
  const std::string digits = stage1(magnitude, exponent);
  std::uint64_t value = 0;
  for (char c : digits)
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  return {value, exponent};
}

}  // namespace detail

void edit_real_exact(double v, int w, int d, char* field) {
  // Classified by its bits: no floating-point operation, so nothing can trap.
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  const bool negative = (bits >> 63) != 0;
  const std::uint64_t magnitude_bits = bits & ~(std::uint64_t{1} << 63);
  constexpr std::uint64_t kInfinity = std::uint64_t{0x7ff} << 52;
  std::string text;
  if (magnitude_bits > kInfinity) {
    text = "NaN";
  } else if (magnitude_bits == kInfinity) {
    text = negative ? "-Inf" : "Inf";
  } else if (magnitude_bits == 0) {
    text = "0." + std::string(static_cast<std::size_t>(d), '0') + "E+00";
  } else {
    int exponent = 0;
    std::string digits = detail::stage1(std::bit_cast<double>(magnitude_bits), exponent);
    // Stage 2: half up to n = d + 1 digits, at most 16; zeros after the 16th.
    const auto n = static_cast<std::size_t>(std::min(d + 1, 16));
    if (digits[n] >= '5' && detail::increment(digits, n)) {
      digits.assign(n, '0');
      digits[0] = '1';
      ++exponent;
    }
    digits.resize(n);
    digits.resize(static_cast<std::size_t>(d) + 1, '0');

    if (negative) text.push_back('-');
    text += digits[0];
    text += '.';
    text.append(digits, 1);
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude <= 99) text += 'E';
    text += exponent < 0 ? '-' : '+';
    std::string e = std::to_string(magnitude);
    text.append((magnitude <= 99 ? 2 : 3) - e.size(), '0');
    text += e;
  }
  const std::size_t width = static_cast<std::size_t>(w);
  if (text.size() > width) {
    std::memset(field, '*', width);
  } else {
    std::memset(field, ' ', width - text.size());
    std::memcpy(field + (width - text.size()), text.data(), text.size());
  }
}

}  // namespace moody
