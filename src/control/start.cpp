#include "control/start.hpp"

#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "control/array_block.hpp"
#include "control/fpe.hpp"
#include "control/memory.hpp"
#include "control/runtime_error.hpp"
#include "flow/geometry.hpp"

namespace moody {

std::array<StateArray, kStateArrays + 2> state_arrays(SimulationState& s) {
  const int n = s.N;
  const int nf = s.N > 0 ? s.N - 1 : 0;  // no face array for a grid without nodes
  CoefficientSet& q = s.QML;
  CoefficientSet& m = s.MASSA;
  return {
      {{"QML aE", &q.aE, n},   {"QML aP", &q.aP, n},   {"QML bP", &q.bP, n},   {"u", &s.u, n},
       {"u0", &s.u0, n},       {"ue", &s.ue, nf},      {"ue0", &s.ue0, nf},    {"QML aW", &q.aW, n},
       {"MASSA aE", &m.aE, n}, {"MASSA aP", &m.aP, n}, {"MASSA bP", &m.bP, n}, {"p", &s.p, n},
       {"pl", &s.pl, n},       {"MASSA aW", &m.aW, n}, {"xe", &s.xe, nf},      {"D", &s.D, n},
       {"De", &s.De, nf},      {"A", &s.A, n},         {"Ae", &s.Ae, nf},      {"x", &s.x, n},
       {"Me", &s.Me, nf},      {"Mp", &s.Mp, n},       {"de", &s.de, nf},      {"dP", &s.dP, n},
       {"P", &s.work.P, n},    {"Q", &s.work.Q, n}}};
}

namespace {
std::array<Placed, kStateArrays + 2> placed(SimulationState& s) {
  std::array<Placed, kStateArrays + 2> out{};
  const auto arrays = state_arrays(s);
  for (std::size_t k = 0; k < arrays.size(); ++k)
    out[k] = {arrays[k].array, arrays[k].n};
  return out;
}

bool sized_for_N(SimulationState& s) {
  for (const StateArray& a : state_arrays(s)) {
    if (a.array->size() != a.n) return false;
  }
  return true;
}
}  // namespace

std::uint64_t state_bytes(int N) {
  SimulationState s;
  s.N = N;
  return block_bytes(placed(s), 0);
}

void set_pi(SimulationState& s) {
  s.pi = std::acos(-1.0);
}

void size_state(SimulationState& s) {
  if (s.N < 2) {
    fatal(ErrorCode::kBadSize, "dados.txt: N = " + std::to_string(s.N) +
                                   " is less than 2; the grid needs N >= 3 (one real volume)");
  }
  const auto arrays = placed(s);
  const std::uint64_t needed = block_bytes(arrays, 0);
  require_memory(needed, "the arrays of N = " + std::to_string(s.N));
  // All storage is had at once, before any array holds a value: the state's
  // arrays and the solver's work pair, which the outer loop reuses.
  try {
    size_in_one_block(arrays, 0);
  } catch (const std::bad_alloc&) {
    fatal(ErrorCode::kNoStorage, "storage for the arrays of N = " + std::to_string(s.N) +
                                     " cannot be obtained (" + megabytes(needed) + " needed)");
  }
}

void prepare_grid_and_field(SimulationState& s) {
  fpe::set_stage("grid width dx = L/(N-2)");
  s.dx = s.L / (static_cast<double>(s.N) - 2.0);
  fpe::set_stage("duct geometry");
  geometry(s);
  s.u.fill(0.0);
  s.u0.fill(0.0);
  s.ue.fill(0.0);
  s.ue0.fill(0.0);
  s.p.fill(0.0);
  s.pl.fill(0.0);
}

void start_run(SimulationState& s) {
  set_pi(s);
  if (s.N < 2 || !sized_for_N(s)) size_state(s);  // size_state refuses N < 2
  prepare_grid_and_field(s);
}

}  // namespace moody
