// Field editing: the worked values, the boundaries of the double range, and
// the fast real editor checked against the exact one.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "control/fpe.hpp"
#include "io/field_edit.hpp"
#include "io/real_digits.hpp"

namespace moody {
namespace {

double ieee(bool negative, int biased_exponent, std::uint64_t mantissa) {
  return std::bit_cast<double>((std::uint64_t{negative} << 63) |
                               (std::uint64_t(biased_exponent) << 52) | mantissa);
}

std::string real_field(double v, int w, int d, bool exact = false) {
  std::string field(static_cast<std::size_t>(w), '?');
  (exact ? edit_real_exact : edit_real)(v, w, d, field.data());
  return field;
}

std::string integer_field(std::int32_t v, int w) {
  std::string field(static_cast<std::size_t>(w), '?');
  edit_integer(v, w, field.data());
  return field;
}

TEST(RealEditing, WrittenValues) {
  const double smallest = ieee(false, 0, 1);
  const double largest = std::numeric_limits<double>::max();
  const struct {
    double value;
    int w, d;
    const char* field;
  } cases[] = {
      {0.5, 18, 10, "  5.0000000000E-01"},
      {0.5, 20, 9, "     5.000000000E-01"},
      {0.5, 25, 15, "    5.000000000000000E-01"},
      {-1234.5678, 18, 10, " -1.2345678000E+03"},
      {-1234.5678, 20, 9, "    -1.234567800E+03"},
      {-1234.5678, 25, 15, "   -1.234567800000000E+03"},
      {0.0, 18, 10, "  0.0000000000E+00"},
      {0.0, 20, 9, "     0.000000000E+00"},
      {-0.0, 25, 15, "    0.000000000000000E+00"},
      {1.0e-120, 18, 10, "  1.0000000000-120"},
      {1.0e-120, 20, 9, "     1.000000000-120"},
      {1.0e-120, 25, 15, "    1.000000000000000-120"},
      {1.0e300, 18, 10, "  1.0000000000+300"},
      {1.0e300, 20, 9, "     1.000000000+300"},
      {1.0e300, 25, 15, "    1.000000000000000+300"},
      {9.99999999995, 18, 10, "  1.0000000000E+01"},  // carries into the next power
      {9.99999999995, 20, 9, "     1.000000000E+01"},
      {9.99999999995, 25, 15, "    9.999999999950001E+00"},
      {-9.99999999995, 18, 10, " -1.0000000000E+01"},
      {2.0 / 3.0, 18, 10, "  6.6666666667E-01"},
      {2.0 / 3.0, 20, 9, "     6.666666667E-01"},
      {2.0 / 3.0, 25, 15, "    6.666666666666666E-01"},
      // Two roundings: ...456496... becomes ...4565 and then ...457.
      {0.12345678901234565, 25, 15, "    1.234567890123457E-01"},
      // A carry into the three-digit exponents; the smallest and largest doubles.
      {9.9999999999e99, 20, 9, "     1.000000000+100"},
      {1.0e-100, 20, 9, "     1.000000000-100"},
      {smallest, 25, 15, "    4.940656458412465-324"},
      {largest, 25, 15, "    1.797693134862316+308"},
      // An exact tie at the 18th digit (1 + 2^-17 = 1.00000762939453125).
      {1.0 + std::ldexp(1.0, -17), 25, 15, "    1.000007629394531E+00"},
      // Digits beyond the 16th are zeros; fewer digits round at their own place.
      {2.0 / 3.0, 25, 18, " 6.666666666666666000E-01"},
      {0.96, 10, 0, "    1.E+00"},
      // Too narrow: asterisks; exactly wide enough: no blank.
      {-1.5, 9, 2, "-1.50E+00"},
      {-1.5, 8, 2, "********"},
      {1.0e-120, 20, 15, "********************"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(real_field(c.value, c.w, c.d), c.field)
        << "value " << c.value << " E" << c.w << "." << c.d;
    EXPECT_EQ(real_field(c.value, c.w, c.d, true), c.field)
        << "exact path, value " << c.value << " E" << c.w << "." << c.d;
  }
}

TEST(IntegerEditing, WrittenValues) {
  const struct {
    std::int32_t value;
    int w;
    const char* field;
  } cases[] = {
      {0, 9, "        0"},
      {0, 10, "         0"},
      {-42, 9, "      -42"},
      {-42, 10, "       -42"},
      {123456789, 9, "123456789"},
      {123456789, 10, " 123456789"},
      {1000000000, 9, "*********"},
      {1000000000, 10, "1000000000"},
      {-2147483647, 9, "*********"},
      {-2147483647, 10, "**********"},
      {-2147483647 - 1, 11, "-2147483648"},
      {2147483647, 12, "  2147483647"},
      {7, 1, "7"},
      {-7, 1, "*"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(integer_field(c.value, c.w), c.field) << "value " << c.value << " I" << c.w;
  }
}

// Doubles across the whole range, by kind; each is edited by both paths.
std::vector<double> probe_values() {
  std::vector<double> values;
  std::mt19937_64 random(20240611);
  // Any bit pattern, subnormals included.
  for (int k = 0; k < 40000; ++k) {
    const std::uint64_t bits = random();
    if (((bits >> 52) & 0x7ff) != 0x7ff) values.push_back(std::bit_cast<double>(bits));
  }
  for (int k = 0; k < 4000; ++k)
    values.push_back(ieee(false, 0, random() >> 12));
  // Powers of ten and their neighbours: runs of 9s and 0s after the 17th digit.
  for (int e = -323; e <= 308; ++e) {
    const double p = std::strtod(("1e" + std::to_string(e)).c_str(), nullptr);
    double below = p, above = p;
    values.push_back(p);
    for (int k = 0; k < 3; ++k) {
      below = std::nextafter(below, 0.0);
      above = std::nextafter(above, HUGE_VAL);
      values.push_back(below);
      values.push_back(above);
    }
  }
  // Powers of two and their neighbours.
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    values.push_back(p);
    values.push_back(std::nextafter(p, 0.0));
  }
  // Exact ties at the 17th and 18th digit: n / 2^j whose digits n * 5^j have
  // 17 or 18 digits and end in 5.
  for (int j = 2; j <= 25; ++j) {
    std::uint64_t five_j = 1;
    for (int k = 0; k < j; ++k)
      five_j *= 5;
    for (const std::uint64_t digits : {10000000000000000ull, 100000000000000000ull}) {
      const std::uint64_t low = (digits + five_j - 1) / five_j, high = (10 * digits - 1) / five_j;
      if (high <= low || high >= (std::uint64_t{1} << 53)) continue;
      for (int k = 0; k < 50; ++k) {
        const std::uint64_t n = (low + random() % (high - low)) | 1;  // odd: the digits end in 5
        values.push_back(std::ldexp(static_cast<double>(n), -j));
      }
    }
  }
  // Decimal values of 17 digits, parsed to the nearest double.
  for (int k = 0; k < 4000; ++k) {
    const std::string text =
        std::to_string(random() % 90000000000000000ull + 10000000000000000ull) + "e" +
        std::to_string(static_cast<int>(random() % 600) - 316);
    values.push_back(std::strtod(text.c_str(), nullptr));
  }
  return values;
}

// Both paths, on the 17 digits and on whole fields; and the fast path is
// expected to decide every one of these values by itself.
TEST(RealEditing, FastPathAgreesWithExactPath) {
  int failures = 0, undecided = 0;
  for (const double v : probe_values()) {
    detail::Digits17 fast{};
    if (v != 0 && detail::first17_fast(std::fabs(v), fast)) {
      const detail::Digits17 exact = detail::first17_exact(std::fabs(v));
      EXPECT_TRUE(fast.digits == exact.digits && fast.exponent == exact.exponent)
          << std::hexfloat << v << std::defaultfloat << ": fast " << fast.digits << "e"
          << fast.exponent << ", exact " << exact.digits << "e" << exact.exponent;
    } else if (v != 0) {
      ++undecided;
    }
    for (const auto& [w, d] : {std::pair{25, 15}, {20, 9}, {18, 10}}) {
      const std::string fast_field = real_field(v, w, d), exact_field = real_field(v, w, d, true);
      if (fast_field != exact_field && ++failures <= 20) {
        ADD_FAILURE() << std::hexfloat << v << std::defaultfloat << " E" << w << "." << d
                      << ": fast |" << fast_field << "| exact |" << exact_field << "|";
      }
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(undecided, 0);
}

// The fast path's decision on fixed-point values placed at the boundaries:
// y' = y + f / 2^64 approximates x * 10^(17-g) to within 2^-63.
TEST(RealEditing, FastDecisionAtRoundingBoundaries) {
  constexpr std::uint64_t e17 = 100000000000000000ull, e18 = 1000000000000000000ull;
  constexpr std::uint64_t kZero = 0, kFar = 1ull << 40, kAlmostOne = ~0ull;
  const struct {
    std::uint64_t y, fraction;
    bool exact;
    bool decided;
    std::uint64_t digits;
    int exponent;  // g = 0
  } cases[] = {
      // 18th digit exactly 5 (y ends in 5): the true value may lie either side.
      {e17 + 5, kZero, false, false, 0, 0},
      {e17 + 4, kAlmostOne, false, false, 0, 0},
      // ... unless the value is known exactly: half up.
      {e17 + 5, kZero, true, true, e17 / 10 + 1, 0},
      // Clear of the boundary, or near an integer that is no boundary.
      {e17 + 5, kFar, false, true, e17 / 10 + 1, 0},
      {e17 + 4, kFar, false, true, e17 / 10, 0},
      {e17 + 6, kZero, false, true, e17 / 10 + 1, 0},
      // Carry across a power of ten, on either side of 10^18.
      {e18 - 5, kZero, true, true, e17 / 10, 1},
      {e18 - 1, kAlmostOne, false, true, e17 / 10, 1},
      {e18, kZero, false, true, e17 / 10, 1},
      {e18 - 6, kAlmostOne, false, false, 0, 0},
      // At and above 10^18 the 18th digit is one place further left.
      {e18 + 50, kZero, false, false, 0, 0},
      {e18 + 49, kAlmostOne, false, false, 0, 0},
      {e18 + 55, kZero, false, true, e17 / 10 + 1, 1},
      {e18 + 5, kZero, false, true, e17 / 10, 1},
      {2 * e18 - 50, kZero, false, false, 0, 0},
      {2 * e18 - 1, kFar, false, true, 2 * e17 / 10, 1},
  };
  for (const auto& c : cases) {
    detail::Digits17 out{0, 99};
    const bool decided = detail::round_scaled(c.y, c.fraction, c.exact, 0, out);
    EXPECT_EQ(decided, c.decided) << "y " << c.y << " fraction " << c.fraction;
    if (decided && c.decided) {
      EXPECT_EQ(out.digits, c.digits) << "y " << c.y << " fraction " << c.fraction;
      EXPECT_EQ(out.exponent, c.exponent) << "y " << c.y << " fraction " << c.fraction;
    }
  }
}

// The report is written with the floating-point traps armed: editing any
// value, NaN and infinities included, must not raise one.
[[noreturn]] void edit_with_traps_armed() {
  fpe::install();
  const double values[] = {std::numeric_limits<double>::signaling_NaN(),
                           std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::max(),
                           ieee(false, 0, 1),
                           -0.0,
                           0.1};
  char field[25];
  for (const double v : values) {
    edit_real(v, 25, 15, field);
    edit_real_exact(v, 25, 15, field);
  }
  std::exit(0);
}

TEST(RealEditingDeathTest, RaisesNoFloatingPointTrap) {
  EXPECT_EXIT(edit_with_traps_armed(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace moody
