#pragma once
// The number forms of dados.txt.  Reading a value is split in two: the text
// is scanned into its parts (sign, significant digits, decimal exponent) and
// checked against the form; the parts are then converted to the member's
// type.  Neither stage trusts the text: any bytes give a result or a status.
//
//   integer: [sign] digits | [sign] [base] # based-digits
//            base 2..36 in decimal, 16 when omitted; based digits 0-9, a-z,
//            A-Z (10..35), each below the base; range -2147483648..2147483647
//   real:    [sign] mantissa [exponent]
//            mantissa: digits, with at most one point anywhere; one digit at least
//            exponent: (E|e|D|d) [sign] digits  or  sign digits  (1.5-3 = 1.5e-3)
//
// Borderline texts, read the strict way so that a slip of the pen is reported
// rather than guessed at:
//   - a sign alone ("+", "-"), a point alone (".", "-.") and an exponent
//     without digits ("1.0E", "1.0E+", "1.0-") are not numbers;
//   - a sign may stand before a based integer and applies to its value
//     ("-16#ff" = -255); none may follow the '#'.  The based digits give a
//     magnitude with the same range as decimal ones: 16#FFFFFFFF is out of
//     range, not -1;
//   - no names for infinities or NaN, no hexadecimal reals;
//   - a zero keeps its sign ("-0", "-1e-400" give -0.0).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace moody::input_number {

enum class Status {
  kOk,
  kMalformed,   // the text is not of the form
  kOutOfRange,  // integer outside 32 bits, or real too large for a double
};

struct IntegerResult {
  Status status = Status::kMalformed;
  std::int32_t value = 0;
};

IntegerResult read_integer(std::string_view text);

// A real as scanned: value = (-1)^negative * d1.d2d3... * 10^exponent.
struct Decimal {
  bool negative = false;
  // Significant digits without leading or trailing zeros; empty for zero.
  // At most kMaxDigits + 1 digits: when more were written, the first
  // kMaxDigits are kept and a 1 stands for the nonzero rest.
  std::string digits;
  // Decimal exponent of the first significant digit, held within
  // +-kExponentLimit (beyond it the value is certainly out of range or zero).
  std::int64_t exponent = 0;
};

// More digits than any halfway point between two doubles has (767), so
// cutting there and keeping a sticky 1 rounds exactly like the full text.
inline constexpr std::size_t kMaxDigits = 800;
inline constexpr std::int64_t kExponentLimit = 100000;

// The parts of a real's text, or nothing when the text is not of the form.
std::optional<Decimal> scan_real(std::string_view text);

struct RealResult {
  Status status = Status::kMalformed;
  double value = 0.0;
};

// Rounds to the nearest double (ties to even).  Magnitudes too large give
// kOutOfRange; magnitudes too small give a subnormal or a zero of the sign.
RealResult convert(const Decimal& number);

RealResult read_real(std::string_view text);

// The shortest text that read_real reads back to the same double ("0.01",
// "-2", "1e+100"), for values shown in messages.
std::string round_trip_text(double value);

// `value` rounded to three significant digits, for a value a person types:
// to the nearest such number, or up to the first that is not below `value`
// (a floor, 0.40080... giving 0.401).  The double nearest the rounded
// decimal; `value` itself when rounding up cannot reach it.
enum class Rounding { kNearest, kUp };
double three_digits(double value, Rounding direction);

}  // namespace moody::input_number
