// Format texts: read once into a flat program of operations, then walked
// against the items of each output statement.

#include "io/format.hpp"

#include <string>

#include "control/runtime_error.hpp"
#include "io/field_edit.hpp"

namespace moody {

// Reads a format text into a Format's program.  Recursive descent over the
// nested lists; every problem is fatal, with the offending column.
class FormatParser {
 public:
  FormatParser(Format& format, std::string_view text) : f_(format), text_(text) {}

  void parse() {
    skip_blanks();
    if (at_end() || text_[pos_] != '(') fail("it does not begin with \"(\"");
    ++pos_;
    list(1);
    f_.text_.assign(text_.substr(0, pos_));
    if (!reverted_) {
      f_.reversion_ = 0;
      f_.reversion_has_data_ = has_data_;
    }
  }

 private:
  using Code = Format::Code;
  static constexpr int kMaxNumber = 99999;

  bool at_end() const { return pos_ >= text_.size(); }
  char peek() const { return at_end() ? '\0' : text_[pos_]; }
  void skip_blanks() {
    while (!at_end() && (text_[pos_] == ' ' || text_[pos_] == '\t'))
      ++pos_;
  }

  [[noreturn]] void fail(const std::string& why) const {
    std::string shown(text_.substr(0, std::min<std::size_t>(text_.size(), 120)));
    fatal(ErrorCode::kBadFormat, "format text \"" + shown + "\" cannot be read: " + why +
                                     " (column " + std::to_string(pos_ + 1) + ")");
  }

  int number(const char* what) {
    if (!is_digit(peek())) fail(std::string("a number is missing for ") + what);
    long value = 0;
    while (is_digit(peek())) {
      value = value * 10 + (text_[pos_++] - '0');
      if (value > kMaxNumber) fail(std::string(what) + " is too large");
    }
    return static_cast<int>(value);
  }

  static bool is_digit(char c) { return c >= '0' && c <= '9'; }
  static char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

  void emit(Code code, int a, int b = 0) { f_.ops_.push_back({code, a, b}); }

  // The descriptors up to the ")" that closes this list (the "(" is read).
  void list(int depth) {
    bool separated = true;  // a descriptor may follow without a comma
    bool after_comma = false;
    bool empty = true;
    for (;;) {
      skip_blanks();
      if (at_end()) fail("the closing \")\" is missing");
      const char c = text_[pos_];
      if (c == ')') {
        if (after_comma) fail("a descriptor is missing after \",\"");
        ++pos_;
        return;
      }
      if (c == ',') {
        if (empty || after_comma) fail("a descriptor is missing before \",\"");
        ++pos_;
        separated = true;
        after_comma = true;
        continue;
      }
      if (!separated && c != '/') fail("a comma is missing");
      separated = descriptor(depth);
      after_comma = false;
      empty = false;
    }
  }

  // One descriptor; returns whether the next may follow without a comma.
  bool descriptor(int depth) {
    const char c = upper(text_[pos_]);
    if (c == '\'') {
      literal();
      return false;
    }
    if (c == '/') {
      ++pos_;
      emit(Code::kSlash, 1);
      return true;
    }
    if (c == '(') {
      ++pos_;
      group(1, depth);
      return false;
    }
    if (is_digit(c)) {
      const int count = number("the repeat count");
      skip_blanks();
      const char after = upper(peek());
      if (after == '/' || after == '(') {
        if (count == 0) fail("a repeat count must be at least 1");
        ++pos_;
        if (after == '/') {
          emit(Code::kSlash, count);
          return true;
        }
        group(count, depth);
        return false;
      }
      if (after == 'P') {
        if (count != 1) fail("only the scale factor 1P is supported");
        ++pos_;
        scale_one_ = true;
        return true;
      }
      fail("a repeat count must stand before \"/\" or \"(\"");
    }
    if (c == 'E' && !scale_one_) fail("an E descriptor must follow a 1P");
    ++pos_;
    if (c == 'T') {
      const int column = number("the column of T");
      if (column == 0) fail("columns are counted from 1");
      emit(Code::kPosition, column - 1);
      return false;
    }
    if (c == 'I') {
      const int w = number("the width of I");
      if (w == 0) fail("a field width must be at least 1");
      emit(Code::kInteger, w);
      has_data_ = true;
      return false;
    }
    if (c == 'E') {
      const int w = number("the width of E");
      if (w == 0) fail("a field width must be at least 1");
      if (peek() != '.') fail("the \".\" of Ew.d is missing");
      ++pos_;
      const int d = number("the digits of E");
      emit(Code::kReal, w, d);
      has_data_ = true;
      return false;
    }
    --pos_;
    fail(std::string("unexpected character '") + text_[pos_] + "'");
  }

  void literal() {
    ++pos_;  // the opening apostrophe
    const std::size_t offset = f_.literals_.size();
    for (;;) {
      if (at_end()) fail("the closing apostrophe is missing");
      const char c = text_[pos_++];
      if (c == '\'') {
        if (peek() != '\'') break;
        ++pos_;  // a doubled apostrophe stands for one
      }
      f_.literals_.push_back(c);
    }
    const std::size_t length = f_.literals_.size() - offset;
    if (length > static_cast<std::size_t>(kMaxNumber)) fail("the literal is too long");
    emit(Code::kLiteral, static_cast<int>(offset), static_cast<int>(length));
  }

  // A group "r(...)" whose "(" is read.
  void group(int count, int depth) {
    if (depth >= Format::kMaxDepth) fail("groups are nested too deeply");
    const std::size_t start = f_.ops_.size();
    const bool had_data = has_data_;
    has_data_ = false;
    emit(Code::kGroup, count);
    list(depth + 1);
    const std::size_t end = f_.ops_.size();
    emit(Code::kEnd, count, static_cast<int>(start));
    f_.ops_[start].b = static_cast<int>(end);
    if (depth == 1) {  // a top-level group: leftover items start here again
      reverted_ = true;
      f_.reversion_ = start;
      f_.reversion_has_data_ = has_data_;
    }
    has_data_ = has_data_ || had_data;
  }

  Format& f_;
  std::string_view text_;
  std::size_t pos_ = 0;
  bool scale_one_ = false;  // a 1P stands before: the only scale factor
  bool has_data_ = false;   // a data descriptor seen (in the current group)
  bool reverted_ = false;   // a top-level group seen
};

Format::Format(std::string_view text) {
  FormatParser(*this, text).parse();
}

namespace {

// The record starts at out[base]; a field of w columns at column pos + 1,
// blanks filling any gap.  Returns where the field's characters go.
inline char* field_at(std::string& out, std::size_t base, std::size_t pos, std::size_t w) {
  if (base + pos + w > out.size()) out.resize(base + pos + w, ' ');
  return out.data() + base + pos;
}

inline void end_record(std::string& out) {
  out.append("\r\n", 2);
}

}  // namespace

void Format::mismatch(std::size_t item, const Op& op) const {
  const bool integer = op.code == Code::kInteger;
  std::string descriptor = (integer ? "I" : "E") + std::to_string(op.a);
  if (!integer) descriptor += "." + std::to_string(op.b);
  fatal(ErrorCode::kBadFormat, "format text \"" + text_ + "\": item " + std::to_string(item + 1) +
                                   " is " + (integer ? "a real" : "an integer") +
                                   ", but its descriptor is " + descriptor);
}

// The repetitions left in each open group, shared by the walk and the field
// listing, so that both go through the groups alike.  At a group's end, the
// walk goes back to just after its opening while repetitions remain.
class Format::GroupStack {
 public:
  // The position the walk goes on from after the group's opening or end
  // `op`, which stands just before `pc`.
  std::size_t follow(const Op& op, std::size_t pc) {
    if (op.code == Code::kGroup) {
      left_[depth_++] = op.a;
      return pc;
    }
    if (--left_[depth_ - 1] > 0) return static_cast<std::size_t>(op.b) + 1;
    --depth_;
    return pc;
  }

 private:
  int left_[kMaxDepth];
  int depth_ = 0;
};

void Format::write(std::string& out, std::span<const Item> items) const {
  std::size_t base = out.size();  // where the record in hand begins
  std::size_t pos = 0;            // its current column - 1
  std::size_t next = 0;           // the next item
  GroupStack groups;
  const Op* const ops = ops_.data();
  const std::size_t count = ops_.size();
  std::size_t pc = 0;
  for (;;) {
    if (pc == count) {
      if (next == items.size()) break;
      // Items are left: a new record, from the last top-level group on.
      if (!reversion_has_data_) {
        fatal(ErrorCode::kBadFormat, "format text \"" + text_ + "\": no descriptor for item " +
                                         std::to_string(next + 1) + " of " +
                                         std::to_string(items.size()));
      }
      end_record(out);
      base = out.size();
      pos = 0;
      pc = reversion_;
    }
    const Op& op = ops[pc++];
    switch (op.code) {
      case Code::kLiteral: {
        const std::size_t length = static_cast<std::size_t>(op.b);
        char* p = field_at(out, base, pos, length);
        literals_.copy(p, length, static_cast<std::size_t>(op.a));
        pos += length;
        break;
      }
      case Code::kPosition:
        pos = static_cast<std::size_t>(op.a);
        break;
      case Code::kSlash:
        for (int k = 0; k < op.a; ++k)
          end_record(out);
        base = out.size();
        pos = 0;
        break;
      case Code::kInteger: {
        if (next == items.size()) goto done;
        const Item& item = items[next];
        if (item.kind != Item::Kind::kInteger) mismatch(next, op);
        ++next;
        edit_integer(item.integer, op.a, field_at(out, base, pos, static_cast<std::size_t>(op.a)));
        pos += static_cast<std::size_t>(op.a);
        break;
      }
      case Code::kReal: {
        if (next == items.size()) goto done;
        const Item& item = items[next];
        if (item.kind != Item::Kind::kReal) mismatch(next, op);
        ++next;
        edit_real(item.real, op.a, op.b, field_at(out, base, pos, static_cast<std::size_t>(op.a)));
        pos += static_cast<std::size_t>(op.a);
        break;
      }
      case Code::kGroup:
      case Code::kEnd:
        pc = groups.follow(op, pc);
        break;
    }
  }
done:
  end_record(out);
}

std::vector<Format::Field> Format::fields() const {
  std::vector<Field> out;
  GroupStack groups;
  for (std::size_t pc = 0; pc < ops_.size();) {
    const Op& op = ops_[pc++];
    switch (op.code) {
      case Code::kInteger:
        out.push_back({Item::Kind::kInteger, op.a, 0});
        break;
      case Code::kReal:
        out.push_back({Item::Kind::kReal, op.a, op.b});
        break;
      case Code::kGroup:
      case Code::kEnd:
        pc = groups.follow(op, pc);
        break;
      default:
        break;
    }
  }
  return out;
}

}  // namespace moody
