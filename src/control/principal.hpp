#pragma once
// The driver: the main sequence of a run.

#include <string>

#include "control/state.hpp"

namespace moody {

// The whole run: input, sizing, grid, itmax outer iterations, inventory,
// report.  Returns the exit status (0); every failure ends the process
// through a fatal run-time error instead.
int principal();

// What the M frame of a fault adds for the parameters of `s`: the likely
// cause and what to change, where the parameters tell it (empty otherwise).
struct FaultAdvice {
  std::string outside_loop;  // a fault before the outer loop: N = 2 at the grid width
  std::string first_pass;    // dt = 0, Uin = 0, mi = 0, dt below the floor, dt far too large
  std::string later_passes;  // a diverging iteration
  std::string any_pass;      // a fault found after the loop, its pass unknown
};
FaultAdvice fault_advice(const SimulationState& s);

// Refuses a grid that cannot exist and a size the machine cannot hold (F
// errors), then creates the twenty-four arrays from s.N.
void size_state(SimulationState& s);

// dx = L/(N-2), the geometry, and u, u0, ue, ue0, p, pl set to zero.
void prepare_grid_and_field(SimulationState& s);

// One pass of the pressure-correction scheme, u0 and ue0 updated at its end:
// the four sweeps of sweeps.cpp (the plain steps on the smallest grids).
void outer_iteration(SimulationState& s);

// Ends the run with the M frame of the fault when an array that the report
// prints holds an infinity or a NaN.  With the traps in force none can: the
// fault that would make one stops the run first.  Where the trap masks are
// not honoured (valgrind's emulated processor ignores them) this keeps a
// report of such values from being written as a success.
void refuse_untrapped_faults(const SimulationState& s);

// The same pass as the plain steps one after the other, each over the whole
// grid, with the two solves between them.  The reference for outer_iteration.
void plain_outer_iteration(SimulationState& s);

}  // namespace moody
