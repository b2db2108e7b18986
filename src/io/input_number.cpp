#include "io/input_number.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>

namespace moody::input_number {

namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Value of a digit of a based integer, 36 for any other character.
int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 36;
}

// Reads an unsigned run of `base` digits; the value saturates at `cap`.
// Nothing when the run is empty or holds another character.
std::optional<std::uint64_t> read_magnitude(std::string_view text, int base, std::uint64_t cap) {
  if (text.empty()) return std::nullopt;
  std::uint64_t magnitude = 0;
  for (const char c : text) {
    const int d = digit_value(c);
    if (d >= base) return std::nullopt;
    magnitude = magnitude > (cap - static_cast<std::uint64_t>(d)) / static_cast<std::uint64_t>(base)
                    ? cap
                    : magnitude * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
  }
  return magnitude;
}

std::int64_t clamp_exponent(std::int64_t e) {
  return e > kExponentLimit ? kExponentLimit : (e < -kExponentLimit ? -kExponentLimit : e);
}

}  // namespace

IntegerResult read_integer(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }

  // Larger than any magnitude in range: saturating there keeps the range
  // decision while the digits are still checked to the end.
  constexpr std::uint64_t kCap = std::uint64_t{1} << 32;
  std::optional<std::uint64_t> magnitude;
  const std::size_t hash = text.find('#');
  if (hash == std::string_view::npos) {
    // Decimal: only 0-9 may appear (a point or an exponent makes it a real).
    for (const char c : text) {
      if (!is_digit(c)) return {Status::kMalformed, 0};
    }
    magnitude = read_magnitude(text, 10, kCap);
  } else {
    const std::string_view base_text = text.substr(0, hash);
    int base = 16;
    if (!base_text.empty()) {
      for (const char c : base_text) {
        if (!is_digit(c)) return {Status::kMalformed, 0};
      }
      const std::uint64_t b = *read_magnitude(base_text, 10, 1000);
      if (b < 2 || b > 36) return {Status::kMalformed, 0};
      base = static_cast<int>(b);
    }
    magnitude = read_magnitude(text.substr(hash + 1), base, kCap);
  }
  if (!magnitude) return {Status::kMalformed, 0};

  const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
  if (*magnitude > limit) return {Status::kOutOfRange, 0};
  const std::int64_t value =
      negative ? -static_cast<std::int64_t>(*magnitude) : static_cast<std::int64_t>(*magnitude);
  return {Status::kOk, static_cast<std::int32_t>(value)};
}

std::optional<Decimal> scan_real(std::string_view text) {
  Decimal number;
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    number.negative = text[i] == '-';
    ++i;
  }

  // Mantissa.  Read as 0.D * 10^before, with D all its digits and `before`
  // the count of digits ahead of the point; leading zeros shift the exponent.
  std::int64_t before = 0;
  std::int64_t leading_zeros = 0;
  std::size_t mantissa_digits = 0;
  bool point = false;
  bool dropped_nonzero = false;
  std::size_t kept_nonzero_end = 0;  // length of `digits` up to its last nonzero digit
  for (; i < n; ++i) {
    const char c = text[i];
    if (c == '.') {
      if (point) return std::nullopt;
      point = true;
      continue;
    }
    if (!is_digit(c)) break;
    ++mantissa_digits;
    if (!point) ++before;
    if (number.digits.empty() && c == '0') {
      ++leading_zeros;
    } else if (number.digits.size() < kMaxDigits) {
      number.digits.push_back(c);
      if (c != '0') kept_nonzero_end = number.digits.size();
    } else if (c != '0') {
      dropped_nonzero = true;
    }
  }
  if (mantissa_digits == 0) return std::nullopt;
  if (dropped_nonzero) {
    // The kept digits stand as written, zeros included: the 1 stands for
    // the rest only after the last of them.
    number.digits.push_back('1');
  } else {
    number.digits.resize(kept_nonzero_end);  // trailing zeros carry no value
  }

  // Exponent: a letter with an optional sign, or a sign alone; digits after.
  std::int64_t exponent = 0;
  if (i < n) {
    const char c = text[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
    } else if (c != '+' && c != '-') {
      return std::nullopt;
    }
    bool exponent_negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
      exponent_negative = text[i] == '-';
      ++i;
    }
    if (i == n) return std::nullopt;
    for (; i < n; ++i) {
      if (!is_digit(text[i])) return std::nullopt;
      // Saturates far beyond any exponent that can still matter.
      if (exponent < 4 * kExponentLimit) exponent = exponent * 10 + (text[i] - '0');
    }
    if (exponent_negative) exponent = -exponent;
  }

  if (number.digits.empty()) {
    number.exponent = 0;
  } else {
    // The text length bounds `before` and `leading_zeros`, and the exponent
    // is saturated, so this sum cannot overflow.
    number.exponent = clamp_exponent(before - leading_zeros - 1 + exponent);
  }
  return number;
}

RealResult convert(const Decimal& number) {
  const double zero = number.negative ? -0.0 : 0.0;
  if (number.digits.empty()) return {Status::kOk, zero};
  // 1e309 exceeds the largest double; below 1e-324 lies under half the
  // smallest subnormal (about 2.47e-324) and rounds to zero.
  if (number.exponent >= 309) return {Status::kOutOfRange, 0.0};
  if (number.exponent <= -325) return {Status::kOk, zero};

  // Canonical text d1.d2d3...e<exponent>, which the library rounds correctly.
  std::string canonical;
  canonical.reserve(number.digits.size() + 8);
  canonical.push_back(number.digits.front());
  if (number.digits.size() > 1) {
    canonical.push_back('.');
    canonical.append(number.digits, 1);
  }
  canonical.push_back('e');
  canonical.append(std::to_string(number.exponent));

  double magnitude = 0.0;
  const auto [end, ec] =
      std::from_chars(canonical.data(), canonical.data() + canonical.size(), magnitude);
  if (ec == std::errc::result_out_of_range) {
    // Reported for both ends of the range; the exponent tells which.
    if (number.exponent >= 0) return {Status::kOutOfRange, 0.0};
    return {Status::kOk, zero};
  }
  if (ec != std::errc() || end != canonical.data() + canonical.size()) {
    return {Status::kMalformed, 0.0};  // not reached: the canonical text is well formed
  }
  return {Status::kOk, number.negative ? -magnitude : magnitude};
}

RealResult read_real(std::string_view text) {
  const std::optional<Decimal> number = scan_real(text);
  if (!number) return {Status::kMalformed, 0.0};
  return convert(*number);
}

std::string round_trip_text(double value) {
  char text[32];  // the longest shortest form, "-2.2250738585072014e-308", is 24
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string("?");
}

double three_digits(double value, Rounding direction) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2e", value);
  double rounded = std::strtod(text, nullptr);
  if (direction == Rounding::kUp && rounded < value) {
    // Half a unit of the third digit more, rounded again, is the next one up.
    const int exponent = std::atoi(std::strchr(text, 'e') + 1);
    std::snprintf(text, sizeof text, "%.2e", value + 0.5 * std::pow(10.0, exponent - 2));
    rounded = std::strtod(text, nullptr);
    if (rounded < value) rounded = value;
  }
  return rounded;
}

}  // namespace moody::input_number
