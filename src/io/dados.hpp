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

struct InputError {
  ErrorCode code;
  std::string description;  // the text of the frame after "F2001: "
};

// Reads the twelve parameters from the bytes of an input file.  Members read
// before an error keep their values.
std::optional<InputError> parse_input(std::string_view text, SimulationState& s);

}  // namespace moody
