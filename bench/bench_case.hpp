#pragma once
// The benchmarks' case: a 2 m duct growing from 0.05 m at cd = 0.01, a
// water-like fluid, Uin = 1 m/s and dt = 10 s, which keeps every value finite
// and normal at every grid size timed.

#include <cmath>

#include "control/start.hpp"
#include "control/state.hpp"

namespace moody::bench {

// The case on N nodes, sized, with the grid laid and the fields at rest.
inline void start_case(SimulationState& s, int N) {
  s.N = N;
  s.L = 2.0;
  s.mi = 1.0e-3;
  s.ro = 1000.0;
  s.f = 0.02;
  s.Uin = 1.0;
  s.D0 = 0.05;
  s.cd = 0.01;
  s.dt = 10.0;
  s.beta = 1.0;
  s.itmax = 300;
  s.itmaxm = 20;
  start_run(s);
}

}  // namespace moody::bench
