// Integer editing and the fast path of real editing.
//
// The fast path finds the 17-digit rounding of a double x = m * 2^q (see
// real_digits.hpp) by multiplying m with a 128-bit approximation of a power
// of ten, P * 2^t ~ 10^K, so that y = x * 10^K has 18 or 19 digits before the
// point and 64 bits after it.  It decides the rounding whenever y lies
// clearly away from a rounding boundary, and hands over to the exact path
// (real_exact.cpp) otherwise.  No floating-point operation is used: the
// double is taken apart by its bits, so nothing here can raise a trap.
//
// Why the fast answer is right when given.
//
// 1. Scale.  m is normalised to 2^52 <= m < 2^53, so x lies in
//    [2^(q+52), 2^(q+53)).  With g = floor((q + 52) log10 2) (computed as
//    ((q + 52) * 78913) >> 18, checked exact for every q + 52 from -1200 to
//    1100, beyond the doubles' -1074 to 1023) we have
//    10^g <= 2^(q+52) <= x < 2 * 10^(g+1), and
//    with K = 17 - g the scaled value y = x * 10^K lies in [10^17, 2 * 10^18),
//    below 2^61.  The decimal exponent of x is E = g when y < 10^18 and
//    E = g + 1 otherwise.
//
// 2. What is wanted.  The 17-digit rounding is floor(x * 10^(16-E) + 1/2),
//    that is floor((y + 5) / 10) when E = g and floor((y + 50) / 100) when
//    E = g + 1.  Since floor((z + h) / n) = floor((floor(z) + h) / n) for an
//    integer n, both depend on Y = floor(y) only: digits(Y) = (Y + h) / n in
//    integer arithmetic, with (n, h) = (10, 5) if Y < 10^18, else (100, 50),
//    and a result of 10^17 (a carry across a power of ten) becomes 10^16 with
//    the exponent raised by one.
//
// 3. Error.  P is 10^K * 2^-t rounded to nearest, with 2^127 <= P < 2^128,
//    so P = 10^K * 2^-t * (1 + delta) with |delta| <= 2^-128.  The product
//    m * P is exact (181 bits); keeping 64 bits after the point truncates by
//    less than 2^-64.  So the computed y' = Y' + F / 2^64 satisfies
//    |y' - y| < y * 2^-128 + 2^-64 < 2^-67 + 2^-64 < 2^-63.
//
// 4. Decision.  If y' is at least 2^-54 away from every integer (F is not
//    within 2^10 of 0 or 2^64), no integer lies between y and y', so
//    floor(y) = Y' and the answer is exact.  Otherwise y' is within 2^-54 of
//    one integer Z (Z = Y' if F is small, Y' + 1 if F is large), and floor(y)
//    and Y' both lie in {Z - 1, Z}.  The answers for Z - 1 and Z differ
//    only when
//      Z < 10^18 and Z = 5 (mod 10): the half-way point of the 18th digit;
//      Z > 10^18 and Z = 50 (mod 100): the same one digit further left.
//    At Z = 10^18, where the two sides use different (n, h), both give
//    10^16 with exponent g + 1: (10^18 - 1 + 5) / 10 = 10^17 carries, and
//    (10^18 + 50) / 100 = 10^16.  So only those two residues go to the exact
//    path.  Choosing (n, h) from Y' instead of Z picks the same case, since
//    Y' >= 10^18 exactly when Z > 10^18 (F large) or Z >= 10^18 (F small),
//    and Z = 10^18 is no boundary.
//    When 10^K is exact (0 <= K <= 55: 5^K < 2^128) and the bits below the
//    64 kept after the point are zero, y' = y and there is nothing to
//    decide: this keeps exact ties (18 significant digits ending in 5, such
//    as 1 + 2^-17 or 403868904799699.625) on the fast path.
//
// 5. Stage 2 and the text work on the 17-digit integer alone: exact integer
//    arithmetic with no boundary left to decide.
//
// The table P, t for K in [kMinK, kMaxK] is built once, on first use, with
// plain big-integer arithmetic.

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "io/field_edit.hpp"
#include "io/real_digits.hpp"

namespace moody {
namespace {

constexpr std::array<std::uint64_t, 20> kPow10 = [] {
  std::array<std::uint64_t, 20> p{};
  std::uint64_t v = 1;
  for (auto& x : p) {
    x = v;
    v *= 10;
  }
  return p;
}();

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the 8 decimal digits of x < 10^8, with leading zeros.
inline void put8(char* out, std::uint32_t x) {
  const std::uint32_t a = x / 10000, b = x % 10000;
  std::memcpy(out, kPairs + 2 * (a / 100), 2);
  std::memcpy(out + 2, kPairs + 2 * (a % 100), 2);
  std::memcpy(out + 4, kPairs + 2 * (b / 100), 2);
  std::memcpy(out + 6, kPairs + 2 * (b % 100), 2);
}

// Writes the 16 decimal digits of v < 10^16, with leading zeros.
inline void put16(char* out, std::uint64_t v) {
  put8(out, static_cast<std::uint32_t>(v / 100000000));
  put8(out + 8, static_cast<std::uint32_t>(v % 100000000));
}

// The field holds `text` right-justified, or asterisks if it is too long.
void justify(const char* text, int length, int w, char* field) {
  if (length > w) {
    std::memset(field, '*', static_cast<std::size_t>(w));
    return;
  }
  std::memset(field, ' ', static_cast<std::size_t>(w - length));
  std::memcpy(field + (w - length), text, static_cast<std::size_t>(length));
}

// ---- 64 x 64 -> 128-bit multiplication -------------------------------------

#if defined(__SIZEOF_INT128__)
__extension__ using Uint128 = unsigned __int128;
inline std::uint64_t multiply(std::uint64_t a, std::uint64_t b, std::uint64_t& high) {
  const Uint128 p = static_cast<Uint128>(a) * b;
  high = static_cast<std::uint64_t>(p >> 64);
  return static_cast<std::uint64_t>(p);
}
#else
inline std::uint64_t multiply(std::uint64_t a, std::uint64_t b, std::uint64_t& high) {
  const std::uint64_t a0 = a & 0xffffffff, a1 = a >> 32, b0 = b & 0xffffffff, b1 = b >> 32;
  const std::uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const std::uint64_t middle = (p00 >> 32) + (p01 & 0xffffffff) + (p10 & 0xffffffff);
  high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
  return (middle << 32) | (p00 & 0xffffffff);
}
#endif

// ---- The table of 128-bit powers of ten ------------------------------------

constexpr int kMinK = 17 - 308;  // K = 17 - g, g from -324 to 307
constexpr int kMaxK = 17 + 324;

struct Power {
  std::uint64_t high, low;  // P, 2^127 <= P < 2^128
  int t;                    // 10^K ~ P * 2^t
  bool exact;               // 10^K = P * 2^t (0 <= K <= 55)
};

// Unsigned big integers in base 2^32, least significant limb first.
using Big = std::vector<std::uint32_t>;

int bit_length(const Big& n) {
  for (std::size_t k = n.size(); k-- > 0;) {
    if (n[k] != 0) return static_cast<int>(32 * k + std::bit_width(n[k]));
  }
  return 0;
}

bool bit(const Big& n, int i) {
  if (i < 0 || i >= static_cast<int>(32 * n.size())) return false;
  return ((n[static_cast<std::size_t>(i / 32)] >> (i % 32)) & 1) != 0;
}

void times(Big& n, std::uint32_t factor) {
  std::uint64_t carry = 0;
  for (std::uint32_t& limb : n) {
    const std::uint64_t v = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(v);
    carry = v >> 32;
  }
  if (carry != 0) n.push_back(static_cast<std::uint32_t>(carry));
}

bool at_least(const Big& a, const Big& b) {  // a >= b; equal sizes
  for (std::size_t k = a.size(); k-- > 0;) {
    if (a[k] != b[k]) return a[k] > b[k];
  }
  return true;
}

void subtract(Big& a, const Big& b) {  // a -= b, a >= b, equal sizes
  std::uint64_t borrow = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    const std::uint64_t v = std::uint64_t{a[k]} - b[k] - borrow;
    a[k] = static_cast<std::uint32_t>(v);
    borrow = (v >> 63) & 1;
  }
}

// Adds one to the 128-bit (high, low); true if it wrapped to zero.
bool increment(std::uint64_t& high, std::uint64_t& low) {
  if (++low != 0) return false;
  return ++high == 0;
}

void shift_in(std::uint64_t& high, std::uint64_t& low, bool b) {
  high = (high << 1) | (low >> 63);
  low = (low << 1) | (b ? 1 : 0);
}

Power power_from_bits(std::uint64_t high, std::uint64_t low, bool round_up, int t, bool exact) {
  if (round_up && increment(high, low)) {  // rounded up to 2^128
    high = std::uint64_t{1} << 63;
    ++t;
  }
  return {high, low, t, exact};
}

std::vector<Power> build_powers() {
  std::vector<Power> table(static_cast<std::size_t>(kMaxK - kMinK + 1));
  // 10^K for K >= 0: its leading 128 bits, rounded to nearest.
  Big n{1};
  for (int k = 0; k <= kMaxK; ++k) {
    const int length = bit_length(n);
    std::uint64_t high = 0, low = 0;
    for (int i = length - 1; i >= length - 128; --i)
      shift_in(high, low, bit(n, i));
    bool exact = true;
    for (int i = length - 129; i >= 0; --i)
      exact = exact && !bit(n, i);
    table[static_cast<std::size_t>(k - kMinK)] =
        power_from_bits(high, low, bit(n, length - 129), length - 128, exact);
    times(n, 10);
  }
  // 10^-K for K > 0: P = 2^(L+127) / 10^K rounded to nearest, L the bit
  // length of 10^K, by restoring division over the 128 quotient bits.
  Big d{10};
  for (int k = 1; k <= -kMinK; ++k) {
    const int length = bit_length(d);
    Big r(d.size() + 1, 0);
    r[static_cast<std::size_t>((length - 1) / 32)] = std::uint32_t{1} << ((length - 1) % 32);
    Big divisor = d;
    divisor.resize(r.size(), 0);
    std::uint64_t high = 0, low = 0;
    for (int i = 0; i < 128; ++i) {
      times(r, 2);
      r.resize(divisor.size());
      const bool one = at_least(r, divisor);
      if (one) subtract(r, divisor);
      shift_in(high, low, one);
    }
    times(r, 2);
    r.resize(divisor.size());
    table[static_cast<std::size_t>(-k - kMinK)] =
        power_from_bits(high, low, at_least(r, divisor), -(length + 127), false);
    times(d, 10);
  }
  return table;
}

const Power& power_of_ten(int k) {
  static const std::vector<Power> table = build_powers();
  return table[static_cast<std::size_t>(k - kMinK)];
}

// ---- Parts of a double ------------------------------------------------------

constexpr std::uint64_t kSignBit = std::uint64_t{1} << 63;
constexpr std::uint64_t kInfinityBits = std::uint64_t{0x7ff} << 52;

// Zero and the non-finite values: their texts, without the digit machinery.
void edit_special(std::uint64_t bits, int w, int d, char* field) {
  const std::uint64_t magnitude = bits & ~kSignBit;
  if (magnitude == 0) {  // either sign: 0.000E+00
    const int length = d + 6;
    if (length > w) {
      std::memset(field, '*', static_cast<std::size_t>(w));
      return;
    }
    char* p = field;
    std::memset(p, ' ', static_cast<std::size_t>(w - length));
    p += w - length;
    *p++ = '0';
    *p++ = '.';
    std::memset(p, '0', static_cast<std::size_t>(d));
    std::memcpy(p + d, "E+00", 4);
  } else if (magnitude == kInfinityBits) {
    const bool negative = (bits & kSignBit) != 0;
    justify(negative ? "-Inf" : "Inf", negative ? 4 : 3, w, field);
  } else {
    justify("NaN", 3, w, field);
  }
}

}  // namespace

namespace detail {

bool first17_fast(double magnitude, Digits17& out) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(magnitude);
  const int biased = static_cast<int>(bits >> 52);
  std::uint64_t m = bits & ((std::uint64_t{1} << 52) - 1);
  int q;
  if (biased != 0) {
    m |= std::uint64_t{1} << 52;
    q = biased - 1075;
  } else {  // subnormal: normalise
    const int shift = std::countl_zero(m) - 11;
    m <<= shift;
    q = -1074 - shift;
  }
  const int g = ((q + 52) * 78913) >> 18;  // floor((q + 52) log10 2)
  const Power& p = power_of_ten(17 - g);

  // m * P as three words w2:w1:w0, then y = m * P * 2^(q+t).
  std::uint64_t a_high, b_high;
  const std::uint64_t w0 = multiply(m, p.low, a_high);
  const std::uint64_t b_low = multiply(m, p.high, b_high);
  const std::uint64_t w1 = a_high + b_low;
  const std::uint64_t w2 = b_high + (w1 < a_high ? 1 : 0);
  const int shift = -(q + p.t) - 64;  // 55..60 by the range argument
  if (shift < 1 || shift > 63 || (w2 >> shift) != 0) return false;
  const std::uint64_t fraction = (w0 >> shift) | (w1 << (64 - shift));
  const std::uint64_t y = (w1 >> shift) | (w2 << (64 - shift));
  // With an exact power and no bit dropped, y' is y itself.
  const bool exact = p.exact && (w0 << (64 - shift)) == 0;
  return round_scaled(y, fraction, exact, g, out);
}

bool round_scaled(std::uint64_t y, std::uint64_t fraction, bool exact, int g, Digits17& out) {
  if (y < kPow10[17] - 1) return false;  // outside the premises of the proof
  const bool wide = y >= kPow10[18];
  if (!exact) {
    const std::uint64_t n = wide ? 100 : 10;
    const std::uint64_t h = wide ? 50 : 5;
    constexpr std::uint64_t kNear = std::uint64_t{1} << 10;
    if (fraction < kNear && y % n == h) return false;
    if (fraction > ~std::uint64_t{0} - kNear && (y + 1) % n == h) return false;
  }
  std::uint64_t digits = wide ? (y + 50) / 100 : (y + 5) / 10;  // constant divisors
  int exponent = wide ? g + 1 : g;
  if (digits == kPow10[17]) {
    digits = kPow10[16];
    ++exponent;
  }
  out = {digits, exponent};
  return true;
}

}  // namespace detail

void edit_integer(std::int32_t v, int w, char* field) {
  char text[11];
  std::uint32_t magnitude =
      v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  char* p = text + sizeof text;
  do {
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (v < 0) *--p = '-';
  justify(p, static_cast<int>(text + sizeof text - p), w, field);
}

void edit_real(double v, int w, int d, char* field) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  const std::uint64_t magnitude_bits = bits & ~kSignBit;
  if (magnitude_bits == 0 || magnitude_bits >= kInfinityBits) {
    edit_special(bits, w, d, field);
    return;
  }
  const bool negative = (bits & kSignBit) != 0;
  const int length = (negative ? 1 : 0) + d + 6;  // sign, "d.", d digits, 4 for the exponent
  if (length > w) {
    std::memset(field, '*', static_cast<std::size_t>(w));
    return;
  }

  const double magnitude = std::bit_cast<double>(magnitude_bits);
  detail::Digits17 first;
  if (!detail::first17_fast(magnitude, first)) first = detail::first17_exact(magnitude);

  // Stage 2: half up to n = d + 1 digits, at most 16.
  const int n = d < 15 ? d + 1 : 16;
  const std::uint64_t unit = kPow10[static_cast<std::size_t>(17 - n)];
  std::uint64_t digits = n == 16 ? (first.digits + 5) / 10 : (first.digits + unit / 2) / unit;
  int exponent = first.exponent;
  if (digits == kPow10[static_cast<std::size_t>(n)]) {
    digits = kPow10[static_cast<std::size_t>(n - 1)];
    ++exponent;
  }

  char* p = field;
  std::memset(p, ' ', static_cast<std::size_t>(w - length));
  p += w - length;
  if (negative) *p++ = '-';
  char text[16];
  put16(text, digits);  // n digits, after 16 - n leading zeros
  const char* first_digit = text + 16 - n;
  *p++ = first_digit[0];
  *p++ = '.';
  std::memcpy(p, first_digit + 1, static_cast<std::size_t>(n - 1));
  p += n - 1;
  std::memset(p, '0', static_cast<std::size_t>(d + 1 - n));
  p += d + 1 - n;
  const int e = exponent < 0 ? -exponent : exponent;
  if (e <= 99) {
    *p++ = 'E';
    *p++ = exponent < 0 ? '-' : '+';
    std::memcpy(p, kPairs + 2 * e, 2);
  } else {
    *p++ = exponent < 0 ? '-' : '+';
    *p++ = static_cast<char>('0' + e / 100);
    std::memcpy(p, kPairs + 2 * (e % 100), 2);
  }
}

}  // namespace moody
