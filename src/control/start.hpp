#pragma once
// The start of a run: everything the driver does between reading the
// parameters and the first pass.  The driver, the companion tools, the tests
// and the benchmarks all start their runs here, so that a run of theirs
// begins bit for bit as the program's does.

#include <cstdint>

#include "control/state.hpp"

namespace moody {

// pi = acos(-1), the first value of a run.
void set_pi(SimulationState& s);

// Bytes of the storage size_state gives a state of N nodes (a copy of a
// state, its arrays each on its own, takes as much within a few pages).
std::uint64_t state_bytes(int N);

// Refuses a grid that cannot exist and a size the machine cannot hold (F
// errors), then creates the twenty-four arrays from s.N and the solver's
// work pair beside them, every element zero.
void size_state(SimulationState& s);

// dx = L/(N-2), the geometry, and u, u0, ue, ue0, p, pl set to zero.
void prepare_grid_and_field(SimulationState& s);

// The start of a run for the twelve parameters in `s`: pi, the arrays sized
// (unless they already are, for s.N), the grid and the zero field.  Run after
// it, itmax passes leave `s` as the program's run of the same parameters.
void start_run(SimulationState& s);

}  // namespace moody
