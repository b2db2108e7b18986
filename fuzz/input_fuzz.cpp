// Fuzz target for the input file reader: arbitrary bytes as dados.txt.  The
// reader must give the twelve values or an input error whose text fits in
// the one line of the error frame; the values must survive being written out
// and read again; and the number forms that the C library also reads must
// give the same values as strtod and strtoll.

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "control/state.hpp"
#include "io/input_number.hpp"
#include "io/input_values.hpp"

namespace {

namespace num = moody::input_number;
using moody::SimulationState;

[[noreturn]] void fail(const char* what, std::string_view input) {
  std::fprintf(stderr, "%s\ninput: |%.*s|\n", what, static_cast<int>(input.size()), input.data());
  std::abort();
}

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string state_text(const SimulationState& s) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "%d\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%.17g\n%d\n%d\n", s.N,
                s.L, s.mi, s.ro, s.f, s.Uin, s.D0, s.cd, s.dt, s.beta, s.itmax, s.itmaxm);
  return text;
}

bool same_values(const SimulationState& a, const SimulationState& b) {
  return a.N == b.N && a.itmax == b.itmax && a.itmaxm == b.itmaxm && same_bits(a.L, b.L) &&
         same_bits(a.mi, b.mi) && same_bits(a.ro, b.ro) && same_bits(a.f, b.f) &&
         same_bits(a.Uin, b.Uin) && same_bits(a.D0, b.D0) && same_bits(a.cd, b.cd) &&
         same_bits(a.dt, b.dt) && same_bits(a.beta, b.beta);
}

void check_file(std::string_view text) {
  SimulationState s;
  const auto error = moody::parse_input(text, s);
  if (error) {
    const int code = static_cast<int>(error->code);
    if (code < 2001 || code > 2008) fail("not an error of the input file", text);
    for (const char c : error->description) {
      const auto byte = static_cast<unsigned char>(c);
      if (byte < 0x20 || byte >= 0x7f) fail("a byte of the message breaks the frame", text);
    }
    if (error->description.size() > 400) fail("message too long", text);
    return;
  }
  for (const double v : {s.L, s.mi, s.ro, s.f, s.Uin, s.D0, s.cd, s.dt, s.beta}) {
    if (!std::isfinite(v)) fail("a value read is not finite", text);
  }
  // The values, written out with every digit, read back the same.
  SimulationState again;
  if (moody::parse_input(state_text(s), again) || !same_values(s, again)) {
    fail("the values do not survive a second reading", text);
  }
}

// The value's text, with the exponent forms only this reader knows (D for E,
// a sign alone for E and sign) put as the C library writes them.
std::string c_library_form(std::string_view text) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (c == 'd' || c == 'D') {
      out.push_back('e');
    } else if ((c == '+' || c == '-') && k > 0 &&
               ((text[k - 1] >= '0' && text[k - 1] <= '9') || text[k - 1] == '.')) {
      out.push_back('e');
      out.push_back(c);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void check_number(std::string_view text) {
  const num::RealResult r = num::read_real(text);
  if (r.status == num::Status::kOk && !std::isfinite(r.value)) fail("real not finite", text);
  if (r.status != num::Status::kMalformed) {
    const std::string c_form = c_library_form(text);
    char* end = nullptr;
    errno = 0;
    const double expected = std::strtod(c_form.c_str(), &end);
    if (end != c_form.c_str() + c_form.size()) fail("strtod stops short of a real", text);
    if (r.status == num::Status::kOutOfRange) {
      if (errno != ERANGE || !std::isinf(expected)) fail("out of range, but not for strtod", text);
    } else if (!same_bits(r.value, expected)) {
      fail("real differs from strtod", text);
    }
  }

  const num::IntegerResult i = num::read_integer(text);
  if (text.find('#') == std::string_view::npos && i.status != num::Status::kMalformed) {
    const std::string c_form(text);
    char* end = nullptr;
    errno = 0;
    const long long expected = std::strtoll(c_form.c_str(), &end, 10);
    if (end != c_form.c_str() + c_form.size()) fail("strtoll stops short of an integer", text);
    const bool in_range = errno == 0 && expected >= INT32_MIN && expected <= INT32_MAX;
    if (i.status == num::Status::kOk ? (!in_range || expected != i.value) : in_range) {
      fail("integer differs from strtoll", text);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_file(text);
  // The whole input as one value, up to the first byte that would end it.
  check_number(text.substr(0, std::min(text.find_first_of(" \t\r\n,/"), text.size())));
  return 0;
}
