#pragma once
// The input step: the user reviews dados.txt in the text editor, then the
// twelve parameters of the run are read from it.

#include "control/state.hpp"
#include "io/input_error.hpp"

namespace moody {

// Launches "notepad dados.txt", waits for it, then reads dados.txt into the
// twelve parameters of `s` (and the launch status into s.ier).  Every
// reading problem is a fatal F error naming the file.
void read_input(SimulationState& s);

// Reads dados.txt in the current folder into the twelve parameters of `s`,
// launching nothing; every reading problem and every value out of range
// (check_ranges) is a fatal F error.  The second
// half of read_input, for the companion programs.
void read_parameters(SimulationState& s);

}  // namespace moody
