// Fuzz target for the formatter: arbitrary integers and doubles (any bit
// pattern) through each format of the report, the output checked byte for
// byte against the same statement with the fields edited by the exact path;
// then the bare field editing for arbitrary widths and digit counts.
//
// Input: one byte choosing the format, one byte choosing how many items the
// statement gets (fewer than its fields, to run it out of items), then the
// items' bytes (4 per integer, 8 per real), then (w, d, 8 bytes) triples for
// the bare editing.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/field_edit.hpp"
#include "io/format.hpp"
#include "io/resultados.hpp"

namespace {

using moody::Format;
using moody::Item;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool has(std::size_t n) const { return size_ - pos_ >= n; }
  template <typename T>
  T take() {  // zero-filled when the input runs out
    T value{};
    const std::size_t n = has(sizeof value) ? sizeof value : size_ - pos_;
    std::memcpy(&value, data_ + pos_, n);
    pos_ += n;
    return value;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

[[noreturn]] void fail(const char* what, const std::string& got, const std::string& expected) {
  std::fprintf(stderr, "%s\n  got      |%s|\n  expected |%s|\n", what, got.c_str(),
               expected.c_str());
  std::abort();
}

// The field a value is given by the slow paths: the exact real editor, and
// for integers the decimal text of the standard library.
std::string exact_field(const Item& item, const Format::Field& field) {
  std::string out(static_cast<std::size_t>(field.w), ' ');
  if (item.kind == Item::Kind::kReal) {
    moody::edit_real_exact(item.real, field.w, field.d, out.data());
    return out;
  }
  const std::string text = std::to_string(item.integer);
  if (text.size() > out.size()) return std::string(out.size(), '*');
  out.replace(out.size() - text.size(), text.size(), text);
  return out;
}

// Values whose fields stand out from the literals, to find each field in the
// statement's output.
Item marker(const Format::Field& field) {
  if (field.kind == Item::Kind::kInteger) return Item(std::int32_t{-7});
  return Item(-7.0);
}

void check_statement(const Format& format, Bytes& in) {
  const std::vector<Format::Field> fields = format.fields();
  const std::size_t count = in.take<std::uint8_t>() % (fields.size() + 1);
  std::vector<Item> items;
  std::vector<Item> markers;
  for (std::size_t k = 0; k < count; ++k) {
    if (fields[k].kind == Item::Kind::kInteger) {
      items.emplace_back(in.take<std::int32_t>());
    } else {
      items.emplace_back(in.take<double>());
    }
    markers.push_back(marker(fields[k]));
  }

  std::string got;
  format.write(got, items);
  std::string expected;
  format.write(expected, markers);

  // Every field of the marker statement replaced, in order, by the exact
  // field of the item.
  std::size_t from = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const std::string mark = exact_field(markers[k], fields[k]);
    const std::size_t at = expected.find(mark, from);
    if (at == std::string::npos) fail("marker field not found", expected, mark);
    const std::string field = exact_field(items[k], fields[k]);
    expected.replace(at, mark.size(), field);
    from = at + field.size();
  }
  if (got != expected) fail("statement differs from the exact editing", got, expected);
  if (got.size() < 2 || got.compare(got.size() - 2, 2, "\r\n") != 0) {
    fail("statement does not end its record", got, expected);
  }
}

void check_bare_editing(Bytes& in) {
  while (in.has(10)) {
    const int w = in.take<std::uint8_t>() % 48;
    const int d = in.take<std::uint8_t>() % 40;
    const double v = in.take<double>();
    // One guard byte after the field: editing writes exactly w characters.
    std::string fast(static_cast<std::size_t>(w) + 1, '#');
    std::string exact(static_cast<std::size_t>(w) + 1, '#');
    moody::edit_real(v, w, d, fast.data());
    moody::edit_real_exact(v, w, d, exact.data());
    if (fast != exact) fail("fast and exact editing differ", fast, exact);
    if (fast.back() != '#') fail("field written past its width", fast, exact);

    std::string integer(static_cast<std::size_t>(w) + 1, '#');
    std::int32_t i = 0;
    std::memcpy(&i, &v, sizeof i);
    moody::edit_integer(i, w, integer.data());
    const std::string want = exact_field(Item(i), {Item::Kind::kInteger, w, 0}) + "#";
    if (integer != want) fail("integer editing differs", integer, want);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::vector<const Format*> formats = moody::report_formats();
  Bytes in(data, size);
  const Format& format = *formats[in.take<std::uint8_t>() % formats.size()];
  check_statement(format, in);
  check_bare_editing(in);
  return 0;
}
