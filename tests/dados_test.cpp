#include "io/dados.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

#include "control/fpe.hpp"
#include "io/input_number.hpp"
#include "io/input_ranges.hpp"
#include "io/input_values.hpp"
#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;

// The example's values without comments, one a line.
constexpr const char* kPlain =
    "52\n2.0\n1.0E-3\n1000.\n0.02\n1.0\n0.05\n0.01\n1.0D-2\n1\n300\n20\n";

// The plain example with line `n` (1-based) replaced by `text`.
std::string plain_with(int n, const std::string& text, const char* eol = "\n") {
  return testing::example_with(n, text, eol, kPlain);
}

std::string bits(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%a", v);
  return text;
}

// The twelve members, each as its exact bits, so a failure shows them.
std::vector<std::string> values(const SimulationState& s) {
  std::vector<std::string> out;
  for (const double v : {double(s.N), s.L, s.mi, s.ro, s.f, s.Uin, s.D0, s.cd, s.dt, s.beta,
                         double(s.itmax), double(s.itmaxm)}) {
    out.push_back(bits(v));
  }
  return out;
}

std::string message(const std::optional<InputError>& error) {
  return error ? error->description : std::string();
}

// The example's values, with `member` (if any) set to `value`.
std::vector<std::string> example_values(double SimulationState::*member = nullptr,
                                        double value = 0) {
  SimulationState s;
  s.N = 52, s.itmax = 300, s.itmaxm = 20;  // the worked example, values as listed
  s.L = 2.0, s.mi = 1.0e-3, s.ro = 1000.0, s.f = 0.02, s.Uin = 1.0, s.D0 = 0.05;
  s.cd = 0.01, s.dt = 0.01, s.beta = 1.0;
  if (member != nullptr) s.*member = value;
  return values(s);
}

TEST(InputFile, WorkedExampleWithComments) {
  const std::string file = testing::kExampleInput;
  SimulationState s;
  EXPECT_EQ(message(parse_input(file, s)), "");
  EXPECT_EQ(values(s), example_values());
}

// Layouts that all give the example's values, except where a row says otherwise.
TEST(InputFile, LayoutAndSeparators) {
  const std::string plain = plain_with(0, "");
  const auto same = example_values();
  const auto mi_kept = example_values(&SimulationState::mi, 7.5);  // mi's value before the read
  const struct {
    std::string file;
    std::vector<std::string> expected;
  } rows[] = {
      {plain_with(2, "2.0,L"), same},
      {plain_with(2, "2.0/L"), same},
      {plain_with(2, "2.0\tL, with / and , 'q' (c) *"), same},
      {"\n\n  \t\n52\n\n\n" + plain.substr(3), same},
      {plain_with(0, "", "\r\n"), same},
      {"52\rjunk up to the LF\n" + plain.substr(3), same},
      {plain.substr(0, plain.size() - 1), same},
      {"52 2.0\n3.0\n" + plain.substr(7), example_values(&SimulationState::L, 3.0)},
      {"\t 52\t\n" + plain.substr(3), same},
      {plain_with(3, ", mi keeps its value"), mi_kept},
      {plain_with(3, "/"), mi_kept},
      {plain_with(3, "  3*"), mi_kept},
      {plain_with(2, "3*2.0, 4.0"), same},
  };
  for (const auto& row : rows) {
    SimulationState s;
    s.mi = 7.5;
    EXPECT_EQ(message(parse_input(row.file, s)), "") << row.file;
    EXPECT_EQ(values(s), row.expected) << row.file;
  }
}

// The encodings the editor saves: the same twelve values from each.
TEST(InputFile, ByteOrderMarks) {
  const std::string plain = plain_with(0, "", "\r\n");
  std::string utf16 = "\xFF\xFE";
  std::string utf16_be = "\xFE\xFF";
  for (const char c : plain) {
    utf16 += std::string(1, c) + '\0';
    utf16_be += std::string(1, '\0') + c;
  }
  const struct {
    std::string file;
    std::string error;  // empty when the example's values are read
  } rows[] = {
      {"\xEF\xBB\xBF" + plain, ""},
      {utf16, ""},
      {utf16 + "\x00", ""},  // a lone last byte after the twelfth line
      {utf16.substr(0, 4) + "\x01\x01" + utf16.substr(4),
       "dados.txt, line 1, value of N: invalid integer \"5?2\""},
      {utf16_be, ""},
      {utf16_be.substr(0, 4) + "\x01\x01" + utf16_be.substr(4),
       "dados.txt, line 1, value of N: invalid integer \"5?2\""},
      // Single-byte text after the mark: pairs of bytes, none of them Latin-1.
      {"\xFE\xFF" + plain,
       "dados.txt, line 1, value of N: invalid integer \"" + std::string(34, '?') + "\""},
      {"\xEF\xBB" + plain, "dados.txt, line 1, value of N: invalid integer \"\\xef\\xbb52\""},
  };
  for (const auto& row : rows) {
    SimulationState s;
    EXPECT_EQ(message(parse_input(row.file, s)), row.error) << row.file;
    if (row.error.empty()) {
      EXPECT_EQ(values(s), example_values()) << row.file;
    }
  }
}

struct FormRow {
  std::string text;
  int code;      // the error number, 0 when the text is read
  double value;  // what the member then holds (N starts at 99, L at 42.5)
};

// Reads each text on line `line` of the example and compares what the member
// `get` returns (its exact bits) or the error number.
template <class Get>
void expect_forms(int line, Get get, std::initializer_list<FormRow> rows) {
  for (const FormRow& row : rows) {
    SimulationState s;
    s.N = 99;
    s.L = 42.5;
    const auto error = parse_input(plain_with(line, row.text), s);
    const std::string got = error ? std::to_string(int(error->code)) : bits(get(s));
    EXPECT_EQ(got, row.code ? std::to_string(row.code) : bits(row.value)) << row.text;
  }
}

TEST(InputFile, IntegerForms) {
  // clang-format off
  expect_forms(1, [](const SimulationState& s) { return double(s.N); }, {
      {"2147483647", 0, 2147483647.0}, {"-2147483648", 0, -2147483648.0}, {"+7", 0, 7},
      {"007", 0, 7}, {"16#ff", 0, 255}, {"#FF", 0, 255}, {"2#101", 0, 5},
      {"36#zZ", 0, 35 * 36 + 35}, {"-16#80000000", 0, -2147483648.0}, {"2*12", 0, 12},
      {"4*", 0, 99}, {",", 0, 99},
      {"2147483648", 2003, 0}, {"-2147483649", 2003, 0}, {"16#80000000", 2003, 0},
      {"99999999999999999999999", 2003, 0},
      {"3.0", 2002, 0}, {"1e3", 2002, 0}, {"12a", 2002, 0}, {"+", 2002, 0}, {"2#102", 2002, 0},
      {"37#1", 2002, 0}, {"1#0", 2002, 0}, {"16#", 2002, 0}, {"#", 2002, 0}, {"16#-1", 2002, 0},
      {"*5", 2002, 0}, {"0*5", 2008, 0}, {"00*", 2008, 0},
      {"'52'", 2006, 0}, {"2*\"x\"", 2006, 0}, {"(52)", 2007, 0}});
  // clang-format on
}

TEST(InputFile, RealFormsAndRounding) {
  const double kMax = std::numeric_limits<double>::max();
  const double kMinNormal = std::numeric_limits<double>::min();
  const double kMinSub = std::numeric_limits<double>::denorm_min();
  const std::string zeros(900, '0');
  // clang-format off
  expect_forms(2, [](const SimulationState& s) { return s.L; }, {
      {"1.0D-2", 0, 0.01}, {"1.0d-2", 0, 0.01}, {"1.0E-2", 0, 0.01}, {"1.0e-2", 0, 0.01},
      {"1.0-2", 0, 0.01}, {"1-2", 0, 0.01}, {"1.0+2", 0, 100}, {".5", 0, 0.5}, {"5.", 0, 5},
      {"+1", 0, 1}, {"-0.25", 0, -0.25}, {"0.1", 0, 0.1}, {"-0", 0, -0.0},
      {"3*2.5", 0, 2.5}, {"2*", 0, 42.5},
      {"2.2250738585072011e-308", 0, kMinNormal - kMinSub},  // largest subnormal
      {"2.2250738585072014e-308", 0, kMinNormal}, {"4.9e-324", 0, kMinSub},
      {"2.4703282292062328e-324", 0, kMinSub},  // just above half the smallest subnormal
      {"2.4703282292062327e-324", 0, 0.0},      // just below it
      {"1E-400", 0, 0.0}, {"-1E-400", 0, -0.0}, {"1e-99999999999999999999", 0, 0.0},
      {"0e99999999999999999999", 0, 0.0}, {"1.7976931348623157e308", 0, kMax},
      {"1.7976931348623158e308", 0, kMax},  // below the halfway point to 2^1024
      {"9007199254740993", 0, 9007199254740992.0},  // a tie goes to even
      {"9007199254740993." + zeros + "1", 0, 9007199254740994.0},  // a far 1 breaks it
      {"0." + zeros + "1e901", 0, 1.0},
      // Zeros up to the cut and a nonzero digit after it: the digit is far below.
      {std::string("6").append(300, '0').append(".").append(zeros).append("1"), 0, 6e300},
      {"1.7976931348623159e308", 2005, 0}, {"1E400", 2005, 0}, {"-1D400", 2005, 0},
      {"1e99999999999999999999", 2005, 0},
      {".", 2004, 0}, {"+", 2004, 0}, {"-.", 2004, 0}, {"1.0E", 2004, 0}, {"1.0E+", 2004, 0},
      {"1.0-", 2004, 0}, {"2.0L", 2004, 0}, {"1.0x", 2004, 0}, {"1.2.3", 2004, 0},
      {"e5", 2004, 0}, {"1e5.0", 2004, 0}, {"inf", 2004, 0}, {"nan", 2004, 0},
      {"0x1p3", 2004, 0}, {"1.0q5", 2004, 0}, {"*2.5", 2004, 0},
      {"0*2.5", 2008, 0}, {"'2.0'", 2006, 0}, {"(1.0", 2007, 0}});
  // clang-format on
}

// Values shown for a person to type: a floor is rounded up to the next
// number of three digits, a time step to the nearest.
TEST(InputNumber, ThreeDigitsRoundToTheNearestOrUp) {
  using input_number::Rounding;
  const struct {
    double value;
    Rounding direction;
    double rounded;
  } rows[] = {
      {0.40080, Rounding::kUp, 0.401},
      {0.40080, Rounding::kNearest, 0.401},
      {0.40040, Rounding::kUp, 0.401},
      {0.40040, Rounding::kNearest, 0.4},
      {0.4, Rounding::kUp, 0.4},
      {1.0049e-7, Rounding::kUp, 1.01e-7},
      {9.991, Rounding::kUp, 10.0},
      {9.991, Rounding::kNearest, 9.99},
      {12345.0, Rounding::kNearest, 12300},
      {12345.0, Rounding::kUp, 12400},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(input_number::three_digits(row.value, row.direction), row.rounded)
        << row.value << (row.direction == Rounding::kUp ? " up" : " to the nearest");
  }
}

// A comma in a number and values the duct or the fluid cannot have are
// refused with the rule; the values at the edge of each rule, and a comma
// that separates values, are read.
TEST(InputFile, DecimalCommaAndRangeRefusals) {
  const struct {
    int line;
    std::string text;
    std::string error;  // "F2011: ..." when refused, empty when read
  } rows[] = {
      {5, "0,02",
       "F2004: dados.txt, line 5, value of f: invalid real \"0,02\": a comma may not "
       "stand in a number; the decimal mark is a full stop"},
      {1, "52,5",
       "F2002: dados.txt, line 1, value of N: invalid integer \"52,5\": a comma may "
       "not stand in a number; the decimal mark is a full stop"},
      {4, "1,000.5 ro",
       "F2004: dados.txt, line 4, value of ro: invalid real \"1,000.5\": a "
       "comma may not stand in a number; the decimal mark is a full stop"},
      {2, "-2,5",
       "F2004: dados.txt, line 2, value of L: invalid real \"-2,5\": a comma may not "
       "stand in a number; the decimal mark is a full stop"},
      {2, "3*2,5",
       "F2004: dados.txt, line 2, value of L: invalid real \"3*2,5\": a comma may "
       "not stand in a number; the decimal mark is a full stop"},
      {6, "(1,0)",
       "F2007: dados.txt, line 6, value of Uin: complex constant \"(1\" where a "
       "real is expected"},
      {4, "1.000,5",
       "F2004: dados.txt, line 4, value of ro: invalid real \"1.000,5\": a comma may "
       "not stand in a number; the decimal mark is a full stop"},
      {2, "2.0,4",
       "F2004: dados.txt, line 2, value of L: invalid real \"2.0,4\": a comma may "
       "not stand in a number; the decimal mark is a full stop"},
      {2, "2,L", ""},
      {2, "2, 5", ""},
      {2, "2,/5", ""},
      {3, ",5 mi", ""},  // a null value, then a comment
      {2, "-2", "F2011: dados.txt: L = -2: the length of the duct must be positive"},
      {2, "-0", "F2011: dados.txt: L = -0: the length of the duct must be positive"},
      {2, "-1.0000000000000002",
       "F2011: dados.txt: L = -1.0000000000000002: the length of the duct must be positive"},
      {3, "-1.0E-3", "F2011: dados.txt: mi = -0.001: the viscosity cannot be negative"},
      {3, "0", ""},
      {4, "0", "F2011: dados.txt: ro = 0: the density must be positive"},
      {5, "-1e-300", "F2011: dados.txt: f = -1e-300: the friction factor cannot be negative"},
      {5, "0", ""},
      {6, "-1", "F2011: dados.txt: Uin = -1: the inlet velocity cannot be negative"},
      {6, "0", ""},
      {7, "0", "F2011: dados.txt: D0 = 0: the inlet diameter must be positive"},
      {8, "-0.025",
       "F2011: dados.txt: cd = -0.025: the outlet diameter D0 + cd*L = 0 must be "
       "positive (a narrowing duct needs cd > -0.025)"},
      {8, "-1e308",
       "F2011: dados.txt: cd = -1e+308: the outlet diameter D0 + cd*L = -inf must be "
       "positive (a narrowing duct needs cd > -0.025)"},
      {8, "-0.0249", ""},  // a narrowing duct that stays open
      {9, "-0.2", "F2011: dados.txt: dt = -0.2: the time step cannot be negative"},
      {9, "0", ""},
      {1, "2", ""},  // N, beta, itmax and itmaxm are not range-checked here
      {10, "-5", ""},
      {11, "-7", ""},
      {12, "-1", ""},
  };
  for (const auto& row : rows) {
    SimulationState s;
    auto error = parse_input(plain_with(row.line, row.text), s);
    if (!error) error = check_ranges(s);
    std::string got;
    if (error)
      got.append("F").append(std::to_string(int(error->code))).append(": ") += error->description;
    EXPECT_EQ(got, row.error) << "line " << row.line << ": " << row.text;
  }
}

TEST(InputFile, ErrorsNameLineMemberAndText) {
  SimulationState s;
  s.ro = 7.5;
  auto error = parse_input("52\n\n2.0\n1.0x\n1000.\n", s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description, "dados.txt, line 4, value of mi: invalid real \"1.0x\"");
  EXPECT_EQ(s.N, 52);  // read before the error
  EXPECT_EQ(s.L, 2.0);
  EXPECT_EQ(s.ro, 7.5);

  error = parse_input("", s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description,
            "dados.txt, line 1, value of N: end of file, 0 of the 12 values read");

  const std::string eleven = plain_with(0, "");
  error = parse_input(eleven.substr(0, eleven.size() - 3), s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description,
            "dados.txt, line 12, value of itmaxm: end of file, 11 of the 12 values read");

  error = parse_input(plain_with(5, std::string("\x01\"\\\xff") + std::string(100, '9')), s);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->description, "dados.txt, line 5, value of f: invalid real \"\\x01\\\"\\\\\\xff" +
                                    std::string(36, '9') + "\"... (104 characters)");
}

// Any bytes give the values or an error of the input file, never a crash or hang.
TEST(InputFile, ArbitraryBytes) {
  const std::string alphabet = std::string("0123456789+-.eEdD#*,/ \t\r\n'\"(xz") + '\0' + "\xff";
  std::uint32_t seed = 12345;
  for (int n = 0; n < 3000; ++n) {
    std::string file;
    for (int k = 0, len = n % 120; k < len; ++k) {
      seed = seed * 1664525u + 1013904223u;
      file.push_back(alphabet[(seed >> 16) % alphabet.size()]);
    }
    SimulationState s;
    const auto error = parse_input(file, s);
    const int code = error ? int(error->code) : 2001;
    EXPECT_TRUE(code >= 2001 && code <= 2008) << file;
  }
}

// read_input through the real file, in a fresh folder, with a stand-in editor
// first on PATH that records its arguments and exits with status 7.
class InputStep : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = dir_.path();
    fs::create_directories(root_ / "bin");
    fs::create_directories(root_ / "work");
    std::ofstream(root_ / "bin" / "notepad") << "#!/bin/sh\necho \"$@\" > notepad.args\nexit 7\n";
    fs::permissions(root_ / "bin" / "notepad", fs::perms::owner_all);
  }
  // Run in the death-test child only: the parent keeps its PATH and folder.
  void enter() const {
    testing::set_env("PATH", testing::path_with_first(root_ / "bin"));
    std::error_code error;
    fs::current_path(root_ / "work", error);
    if (error) std::_Exit(99);
  }

  testing::ScratchDir dir_;
  fs::path root_;
};

TEST_F(InputStep, MissingFileIsCreatedEmptyThenEndOfFile) {
  SimulationState s;
  EXPECT_EXIT((enter(), read_input(s)), ::testing::ExitedWithCode(1),
              "run-time error F2001: dados.txt did not exist; an empty one was created: "
              "write the twelve values in it\n$");
  ASSERT_TRUE(fs::exists(root_ / "work" / "dados.txt"));
  EXPECT_EQ(fs::file_size(root_ / "work" / "dados.txt"), 0u);
}

TEST_F(InputStep, DirectoryCannotBeOpened) {
  fs::create_directory(root_ / "work" / "dados.txt");
  SimulationState s;
  EXPECT_EXIT((enter(), read_input(s)), ::testing::ExitedWithCode(1),
              "run-time error F1001: dados.txt");
}

TEST_F(InputStep, ReadsTheFileAfterTheEditor) {
  std::ofstream(root_ / "work" / "dados.txt") << plain_with(0, "", "\r\n");
  SimulationState s;
  const auto run = [&] {
    enter();
    read_input(s);
    std::ifstream args("notepad.args");
    std::string line;
    std::getline(args, line);
    const bool ok = s.ier == 7 && line == "dados.txt" && values(s) == example_values();
    std::_Exit(ok ? 0 : 3);
  };
  EXPECT_EXIT(run(), ::testing::ExitedWithCode(0), "");
}

TEST_F(InputStep, OverflowIsAnInputErrorEvenWithTraps) {
  std::ofstream(root_ / "work" / "dados.txt") << plain_with(4, "1E400");
  SimulationState s;
  EXPECT_EXIT((enter(), fpe::install(), read_input(s)), ::testing::ExitedWithCode(1),
              "run-time error F2005: dados.txt, line 4, value of ro");
}

}  // namespace
}  // namespace moody
