#pragma once
// What the M frame of a floating-point fault says beyond the fault itself:
// the likely cause and what to change, worded from the run's parameters.

#include <string>

#include "control/state.hpp"

namespace moody {

// What the M frame of a fault adds for the parameters of `s`: the likely
// cause and what to change, where the parameters tell it (empty otherwise).
struct FaultAdvice {
  std::string outside_loop;  // a fault before the outer loop: N = 2 at the grid width
  std::string first_pass;    // dt = 0, Uin = 0, mi = 0, dt below the floor, dt far too large
  std::string later_passes;  // a diverging iteration
  std::string any_pass;      // a fault found after the loop, its pass unknown
};
FaultAdvice fault_advice(const SimulationState& s);

// Ends the run with the M frame of the fault when an array that the report
// prints holds an infinity or a NaN.  With the traps in force none can: the
// fault that would make one stops the run first.  Where the trap masks are
// not honoured (valgrind's emulated processor ignores them) this keeps a
// report of such values from being written as a success.
void refuse_untrapped_faults(const SimulationState& s);

}  // namespace moody
