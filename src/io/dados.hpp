#pragma once
// The input step: the user reviews dados.txt in the text editor, then the
// twelve parameters of the run are read from it.

#include <optional>
#include <string>
#include <string_view>

#include "control/runtime_error.hpp"
#include "control/state.hpp"

namespace moody {

inline constexpr const char* kInputFile = "dados.txt";

// Launches "notepad dados.txt", waits for it, then reads dados.txt into the
// twelve parameters of `s` (and the launch status into s.ier).  Every
// reading problem is a fatal F error naming the file.
void read_input(SimulationState& s);

// Reads dados.txt in the current folder into the twelve parameters of `s`,
// launching nothing; every reading problem and every value out of range
// (check_ranges) is a fatal F error.  The second
// half of read_input, for the companion programs.
void read_parameters(SimulationState& s);

struct InputError {
  ErrorCode code;
  std::string description;  // the text of the frame after "F2001: "
};

// The bytes of dados.txt as single-byte text.  Besides plain single-byte
// text, the editor saves "UTF-8 with BOM" and "Unicode" (UTF-16 LE with its
// byte-order mark): a UTF-8 mark at the very start is dropped, and UTF-16 LE
// text after its mark becomes one byte per character, a character beyond
// U+00FF (or a lone last byte) becoming '?'.  Anything else is kept as it is.
std::string single_byte_text(std::string_view bytes);

// Reads the twelve parameters from the bytes of an input file (decoded by
// single_byte_text first).  Members read before an error keep their values.
std::optional<InputError> parse_input(std::string_view bytes, SimulationState& s);

// Refuses values for which the duct and fluid of the model make no sense:
// L, ro and D0 must be positive, and so must the outlet diameter D0 + cd*L;
// mi, f, Uin and dt must not be negative.  N, itmax, beta and itmaxm are
// not looked at, nor are dt = 0 and Uin = 0, which stop the first pass.
std::optional<InputError> check_ranges(const SimulationState& s);

}  // namespace moody
