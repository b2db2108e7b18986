// The scan of one read statement: skip to the value, take it up to its
// separator, drop the rest of its line; then the value's text checked
// against the member's number form.

#include "io/input_values.hpp"

#include <cstdint>
#include <iterator>
#include <string>

#include "io/input_number.hpp"
#include "io/text_decoding.hpp"

namespace moody {

namespace {

namespace num = input_number;

// The twelve values, in the order of the file.  Each is read by a statement
// of its own, which also consumes the rest of the value's line.
struct Member {
  const char* name;
  std::int32_t SimulationState::*integer;  // set for the integer members
  double SimulationState::*real;           // set for the real members
};

constexpr Member kMembers[] = {
    {"N", &SimulationState::N, nullptr},         {"L", nullptr, &SimulationState::L},
    {"mi", nullptr, &SimulationState::mi},       {"ro", nullptr, &SimulationState::ro},
    {"f", nullptr, &SimulationState::f},         {"Uin", nullptr, &SimulationState::Uin},
    {"D0", nullptr, &SimulationState::D0},       {"cd", nullptr, &SimulationState::cd},
    {"dt", nullptr, &SimulationState::dt},       {"beta", nullptr, &SimulationState::beta},
    {"itmax", &SimulationState::itmax, nullptr}, {"itmaxm", &SimulationState::itmaxm, nullptr},
};
constexpr int kValueCount = static_cast<int>(std::size(kMembers));

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}
bool is_line_end(char c) {
  return c == '\n' || c == '\r';
}
bool ends_value(char c) {
  return is_blank(c) || is_line_end(c) || c == ',' || c == '/';
}

// Position in the text, with the number of the line it lies on.  A line ends
// with LF, or with a CR and everything after it up to and including the next
// LF.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : text_(text) {}

  int line() const { return line_; }
  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return text_[pos_]; }

  // Skips blanks, tabs and line ends; false when the text ends first.
  bool skip_to_value() {
    while (!at_end()) {
      const char c = peek();
      if (is_blank(c)) {
        ++pos_;
      } else if (is_line_end(c)) {
        skip_line_end();
      } else {
        return true;
      }
    }
    return false;
  }

  // The run of characters up to the next blank, tab, comma, slash or line end.
  std::string_view take_value() {
    const std::size_t start = pos_;
    while (!at_end() && !ends_value(peek()))
      ++pos_;
    return text_.substr(start, pos_ - start);
  }

  // At a comma followed by a digit, the text from the comma up to the next
  // separator (",02" after "0"); empty anywhere else.  Does not move.
  std::string_view decimals_after_comma() const {
    if (at_end() || peek() != ',' || pos_ + 1 >= text_.size()) return {};
    const char next = text_[pos_ + 1];
    if (next < '0' || next > '9') return {};
    std::size_t end = pos_ + 1;
    while (end < text_.size() && !ends_value(text_[end]))
      ++end;
    return text_.substr(pos_, end - pos_);
  }

  // Ends a statement at the start of the next line: after a separator the
  // rest of the line goes with its line end; after a line end, only that.
  void finish_statement() {
    while (!at_end() && !is_line_end(peek()))
      ++pos_;
    if (!at_end()) skip_line_end();
  }

 private:
  void skip_line_end() {
    if (peek() == '\r') {
      while (!at_end() && peek() != '\n')
        ++pos_;
    }
    if (!at_end()) ++pos_;  // the LF
    ++line_;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

// The value's text for a message: quoted, cut after 40 bytes, with quotes,
// backslashes and bytes outside printable ASCII escaped.
std::string quoted(std::string_view text) {
  constexpr std::size_t kShown = 40;
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xf]);
    }
  }
  out.push_back('"');
  if (text.size() > kShown) out += "... (" + std::to_string(text.size()) + " characters)";
  return out;
}

InputError error_at(ErrorCode code, int line, const Member& member, const std::string& what) {
  return InputError{code, std::string(kInputFile) + ", line " + std::to_string(line) +
                              ", value of " + member.name + ": " + what};
}

// Converts `text` into the member; an error when it is not of the member's form.
std::optional<InputError> assign(std::string_view text, int line, const Member& member,
                                 SimulationState& s) {
  if (member.integer != nullptr) {
    const num::IntegerResult r = num::read_integer(text);
    switch (r.status) {
      case num::Status::kOk:
        s.*member.integer = r.value;
        return std::nullopt;
      case num::Status::kOutOfRange:
        return error_at(ErrorCode::kIntegerRange, line, member,
                        "integer " + quoted(text) + " outside -2147483648 to 2147483647");
      case num::Status::kMalformed:
        break;
    }
    return error_at(ErrorCode::kBadInteger, line, member, "invalid integer " + quoted(text));
  }
  const num::RealResult r = num::read_real(text);
  switch (r.status) {
    case num::Status::kOk:
      s.*member.real = r.value;
      return std::nullopt;
    case num::Status::kOutOfRange:
      return error_at(ErrorCode::kRealOverflow, line, member,
                      "real " + quoted(text) + " too large for double precision");
    case num::Status::kMalformed:
      break;
  }
  return error_at(ErrorCode::kBadReal, line, member, "invalid real " + quoted(text));
}

// Character and complex constants have no place in a numeric member.
std::optional<InputError> reject_constant(std::string_view text, int line, const Member& member) {
  const char* kind = member.integer != nullptr ? "an integer" : "a real";
  if (text.front() == '\'' || text.front() == '"') {
    return error_at(ErrorCode::kCharacterConstant, line, member,
                    "character constant " + quoted(text) + " where " + kind + " is expected");
  }
  if (text.front() == '(') {
    return error_at(ErrorCode::kComplexConstant, line, member,
                    "complex constant " + quoted(text) + " where " + kind + " is expected");
  }
  return std::nullopt;
}

// "0,02": a comma after a number was meant as the decimal mark (and would
// otherwise end the value at 0 and make the rest a comment).  `decimals`
// follows `text` in the file: ",02".  Also catches a thousands separator.
InputError refuse_decimal_comma(std::string_view text, std::string_view decimals, int line,
                                const Member& member) {
  const std::string_view typed(text.data(), text.size() + decimals.size());
  const bool integer = member.integer != nullptr;
  return error_at(integer ? ErrorCode::kBadInteger : ErrorCode::kBadReal, line, member,
                  std::string(integer ? "invalid integer " : "invalid real ") + quoted(typed) +
                      ": a comma may not stand in a number; the decimal mark is a full stop");
}

bool all_digits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// One read statement: one value into `member`, or nothing for a null value.
// Errors name the line the value starts on; at the end of the file, the line
// the scan stopped on (after a final line end, the empty line that follows).
// A repeat count is any run of decimal digits that is not all zeros.
std::optional<InputError> read_value(Cursor& cursor, int index, const Member& member,
                                     SimulationState& s) {
  if (!cursor.skip_to_value()) {
    return error_at(ErrorCode::kEndOfFile, cursor.line(), member,
                    "end of file, " + std::to_string(index) + " of the " +
                        std::to_string(kValueCount) + " values read");
  }
  const int line = cursor.line();
  std::string_view text = cursor.take_value();
  const std::string_view decimals = cursor.decimals_after_comma();
  cursor.finish_statement();

  if (text.empty()) return std::nullopt;  // a comma or slash first: a null value
  const std::string_view whole = text;
  if (auto error = reject_constant(text, line, member)) return error;

  // r*c is c repeated r times; this statement takes the first copy only.
  const std::size_t star = text.find('*');
  if (star != std::string_view::npos && star > 0 && all_digits(text.substr(0, star))) {
    if (text.substr(0, star).find_first_not_of('0') == std::string_view::npos) {
      return error_at(ErrorCode::kZeroRepeat, line, member,
                      "repeat count of zero in " + quoted(text));
    }
    text.remove_prefix(star + 1);
    if (text.empty()) return std::nullopt;  // r* stands for r null values
    if (auto error = reject_constant(text, line, member)) return error;
  }
  // A number, a comma, a digit: "0,02", "1,000" or "1.000,5" (a full stop
  // for thousands) were all meant as one number.  Refused rather than read
  // up to the comma with the rest taken for a comment.
  if (!decimals.empty()) {
    return refuse_decimal_comma(whole, decimals, line, member);
  }
  return assign(text, line, member, s);
}

}  // namespace

std::optional<InputError> parse_input(std::string_view bytes, SimulationState& s) {
  const std::string text = single_byte_text(bytes);
  Cursor cursor(text);
  for (int k = 0; k < kValueCount; ++k) {
    if (auto error = read_value(cursor, k, kMembers[k], s)) return error;
  }
  return std::nullopt;
}

}  // namespace moody
