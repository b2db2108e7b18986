#pragma once
// Fixed-column formatted output: format texts and the records they describe.
// The records go to an OutputFile (output_file.hpp); the fields are edited
// by field_edit.hpp.
//
// A format text is "(" ... ")" holding comma-separated descriptors:
//   'text'    literal (a doubled apostrophe stands for one apostrophe)
//   Tn        move to column n
//   / and r/  end the record (r times)
//   1P        scale factor 1
//   Iw        an integer in w columns
//   Ew.d      a real in scientific form, w columns, d digits after the point
//   r( ... )  a group, r times over
// Blanks between descriptors are ignored; the comma may be left out after
// "1P" and on either side of "/".  Text after the closing parenthesis is
// ignored, so formats can be stored back to back.  Every E descriptor must
// follow a 1P: only scale factor 1 is edited.
//
// The bytes are written as they are (single-byte text, one byte per column).

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace moody {

// One item of an output statement: a 32-bit integer or a double.
struct Item {
  enum class Kind : std::uint8_t { kInteger, kReal };

  Item(std::int32_t v) : kind(Kind::kInteger), integer(v) {}  // NOLINT: implicit on purpose
  Item(double v) : kind(Kind::kReal), real(v) {}              // NOLINT: implicit on purpose

  Kind kind;
  union {
    std::int32_t integer;
    double real;
  };
};

// A parsed format text.
class Format {
 public:
  static constexpr int kMaxDepth = 16;  // deepest nesting of groups a text may have

  // A text that cannot be read is a fatal run-time error (F1004).
  explicit Format(std::string_view text);

  // Walks the format against the items of one output statement and appends
  // the records it writes (each record's bytes followed by "\r\n") to out.
  // The walk stops at the first data descriptor that finds no item, and the
  // record in hand is written as it stands.  Items left over when the final
  // ")" is reached start a new record from the last top-level group (or from
  // the beginning when there is none).  An item of the wrong kind for its
  // descriptor is a fatal run-time error (F1004).
  void write(std::string& out, std::span<const Item> items) const;
  void write(std::string& out, std::initializer_list<Item> items) const {
    write(out, std::span<const Item>(items.begin(), items.size()));
  }

  // The data descriptors met in one walk through the format, the contents of
  // a group repeated, in order: the items a complete statement takes.
  struct Field {
    Item::Kind kind;
    int w;
    int d;  // 0 for an integer
  };
  std::vector<Field> fields() const;

 private:
  friend class FormatParser;
  enum class Code : std::uint8_t { kLiteral, kPosition, kSlash, kInteger, kReal, kGroup, kEnd };
  struct Op {
    Code code;
    std::int32_t a;  // literal offset, column - 1, count, w, or repeat count
    std::int32_t b;  // literal length, d, or the index of the matching group/end
  };

  class GroupStack;  // the repetitions of the groups a walk is in

  [[noreturn]] void mismatch(std::size_t item, const Op& op) const;

  std::string text_;  // the format text, for diagnostics
  std::vector<Op> ops_;
  std::string literals_;
  std::size_t reversion_ = 0;        // where leftover items start again
  bool reversion_has_data_ = false;  // whether anything from there takes an item
};

}  // namespace moody
