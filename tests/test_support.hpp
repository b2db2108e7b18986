#pragma once
// Helpers shared by the tests: the example input and its variants, with the
// scratch folders, files and runs of the built program (harness.hpp).

#include <string>
#include <string_view>

#include "harness.hpp"

namespace moody::testing {

// The annotated example input file: 52 volumes, 300 passes, a comment after
// every value.
inline constexpr const char* kExampleInput =
    "52       N   - volumes, including the two fictitious ones\n"
    "2.0      L   [m]\n"
    "1.0E-3   mi  [Pa.s]\n"
    "1000.    ro  [kg/m3]\n"
    "0.02     f   Darcy\n"
    "1.0      Uin [m/s]\n"
    "0.05     D0  [m]\n"
    "0.01     cd\n"
    "1.0D-2   dt  [s]\n"
    "1        beta, 1 = CDS (echoed in the report only)\n"
    "300      itmax\n"
    "20       itmaxm (echoed in the report only)\n";

// `example` with line `line` (1-based; 0 for none) replaced by `text`, and
// every line ended by `eol`.
std::string example_with(int line, std::string_view text, std::string_view eol = "\n",
                         std::string_view example = kExampleInput);

}  // namespace moody::testing
