#pragma once
// The twelve values of dados.txt, read by twelve read statements of one
// value each: the list's separators, null values, repeats and comments.

#include <optional>
#include <string_view>

#include "control/state.hpp"
#include "io/input_error.hpp"

namespace moody {

// Reads the twelve parameters from the bytes of an input file (decoded by
// single_byte_text first).  Members read before an error keep their values.
std::optional<InputError> parse_input(std::string_view bytes, SimulationState& s);

}  // namespace moody
