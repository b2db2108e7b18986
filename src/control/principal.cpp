#include "control/principal.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "control/array_block.hpp"
#include "control/fpe.hpp"
#include "control/memory.hpp"
#include "control/runtime_error.hpp"
#include "flow/coef.hpp"
#include "flow/solver.hpp"
#include "flow/time_step.hpp"
#include "io/dados.hpp"
#include "io/input_number.hpp"
#include "io/resultados.hpp"

namespace moody {

namespace {
// The twenty-four arrays of the state in the order they are created, each
// with its upper bound: node arrays N, face arrays N-1.
std::array<Placed, 24> state_arrays(SimulationState& s) {
  const int n = s.N;
  const int nf = s.N - 1;
  return {{{&s.QML.aE, n},   {&s.QML.aP, n}, {&s.QML.bP, n}, {&s.u, n},        {&s.u0, n},
           {&s.ue, nf},      {&s.ue0, nf},   {&s.QML.aW, n}, {&s.MASSA.aE, n}, {&s.MASSA.aP, n},
           {&s.MASSA.bP, n}, {&s.p, n},      {&s.pl, n},     {&s.MASSA.aW, n}, {&s.xe, nf},
           {&s.D, n},        {&s.De, nf},    {&s.A, n},      {&s.Ae, nf},      {&s.x, n},
           {&s.Me, nf},      {&s.Mp, n},     {&s.de, nf},    {&s.dP, n}}};
}

// Bytes the run needs for its arrays: the state's block and the solver's.
std::uint64_t bytes_for(SimulationState& s) {
  return block_bytes(state_arrays(s), 0) + sweep_work_bytes(s.N);
}

std::string megabytes(std::uint64_t bytes) {
  return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

struct Printed {
  const char* name;
  const Array1 SimulationState::*array;
};

// The arrays of the report, in its order (the coefficient sets apart).
constexpr Printed kPrinted[] = {
    {"x", &SimulationState::x},   {"D", &SimulationState::D},   {"A", &SimulationState::A},
    {"u", &SimulationState::u},   {"p", &SimulationState::p},   {"pl", &SimulationState::pl},
    {"Mp", &SimulationState::Mp}, {"Me", &SimulationState::Me}, {"xe", &SimulationState::xe},
    {"ue", &SimulationState::ue},
};

// Names the first non-finite element of `a` as "u(7) is NaN"; empty if none.
std::string first_non_finite(const std::string& name, const Array1& a, bool& nan) {
  for (int i = 1; i <= a.size(); ++i) {
    if (!std::isfinite(a(i))) {
      nan = std::isnan(a(i));
      return name + "(" + std::to_string(i) + ") is " +
             (nan ? "NaN" : "infinite");
    }
  }
  return {};
}

// `v` rounded up to three significant digits: a value at least v that reads
// well ("0.401" for 0.40080...).
std::string rounded_up(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2e", v);
  double up = std::strtod(text, nullptr);
  if (up < v) {
    const int exponent = std::atoi(std::strchr(text, 'e') + 1);
    std::snprintf(text, sizeof text, "%.2e", v + 0.5 * std::pow(10.0, exponent - 2));
    up = std::strtod(text, nullptr);
  }
  return input_number::round_trip_text(up >= v ? up : v);
}
}  // namespace

FaultAdvice fault_advice(const SimulationState& s) {
  FaultAdvice advice;
  if (s.N == 2) {
    advice.outside_loop =
        "N = 2 leaves no volume between the inlet and outlet nodes: N must be at least 3";
    advice.any_pass = advice.outside_loop;
    return advice;
  }

  fpe::Masked masked;  // extreme parameters may overflow L/Uin: it is then infinite
  const auto text = [](double v) { return input_number::round_trip_text(v); };
  const double floor = time_step_floor(s.N, s.L, s.ro, s.mi);
  const bool has_floor = std::isfinite(floor);
  const std::string not_below = has_floor ? ", but not below " + rounded_up(floor) +
                                                " s, the floor for N = " + std::to_string(s.N)
                                          : std::string();
  const double passage = s.L / s.Uin;

  // The first pass starts from rest: these parameters stop it whatever the rest.
  bool known = true;
  if (s.dt == 0.0) {
    advice.first_pass = "dt = 0: the transient term Mp/dt needs a time step; give dt > 0";
    if (has_floor) {
      advice.first_pass += ", at least " + rounded_up(floor) + " s for N = " + std::to_string(s.N);
    }
  } else if (s.Uin == 0.0) {
    advice.first_pass =
        "Uin = 0: with no inflow the fluid stays at rest and the outlet's flow scaling is 0/0; "
        "give Uin > 0";
  } else if (s.mi == 0.0) {
    advice.first_pass =
        "mi = 0: without viscosity the first pass cannot carry the inlet velocity from rest to "
        "the outlet; give mi > 0";
  } else if (has_floor && s.dt < floor) {
    const std::string at_least = rounded_up(floor);
    advice.first_pass = "dt = " + text(s.dt) + " s is below " + at_least +
                        " s, the floor for N = " + std::to_string(s.N) +
                        ": from rest the first pass cannot carry the inlet velocity to the "
                        "outlet; use dt >= " +
                        at_least + " s, or fewer volumes";
  } else {
    known = false;
    if (s.dt > passage) {
      advice.first_pass = "dt = " + text(s.dt) +
                          " s is probably far above this grid's window (the passage time L/Uin "
                          "is " +
                          text(passage) + " s); lower dt" + not_below;
    }
  }

  if (!has_floor || s.dt > floor) {
    advice.later_passes = "the iteration diverged: dt = " + text(s.dt) +
                          " s is probably above this grid's window; lower dt" + not_below +
                          " (or use fewer volumes)";
  } else {
    advice.later_passes = "the iteration diverged although dt = " + text(s.dt) +
                          " s is at this grid's floor: use fewer volumes";
  }

  // A fault found after the loop: its pass is not known.
  if (s.itmax >= 1) {
    advice.any_pass = known || s.itmax == 1 ? advice.first_pass : advice.later_passes;
  }
  return advice;
}

void size_state(SimulationState& s) {
  if (s.N < 2) {
    fatal(ErrorCode::kBadSize, "dados.txt: N = " + std::to_string(s.N) +
                                   " is less than 2; the grid needs N >= 3 (one real volume)");
  }
  const std::uint64_t needed = bytes_for(s);
  const std::uint64_t available = available_memory();
  if (available != 0 && needed > available) {
    fatal(ErrorCode::kNoStorage, "storage for the arrays of N = " + std::to_string(s.N) +
                                     ": " + megabytes(needed) + " needed, " +
                                     megabytes(available) + " available");
  }
  // All storage is had before any array holds a value: the state's block,
  // then the solver's work arrays, which the outer loop reuses.
  try {
    size_in_one_block(state_arrays(s), 0);
  } catch (const std::bad_alloc&) {
    fatal(ErrorCode::kNoStorage, "storage for the arrays of N = " + std::to_string(s.N) +
                                     " cannot be obtained (" + megabytes(needed) + " needed)");
  }
  sweep_work(s.N);
}

void refuse_untrapped_faults(const SimulationState& s) {
  std::string found;
  bool nan = false;
  const auto look = [&](const std::string& name, const Array1& a) {
    if (found.empty()) found = first_non_finite(name, a, nan);
  };
  for (const Printed& p : kPrinted) look(p.name, s.*p.array);
  for (const auto& [set_name, set] : {std::pair{"QML", &s.QML}, std::pair{"MASSA", &s.MASSA}}) {
    const std::string prefix = std::string(set_name) + " ";
    look(prefix + "aW", set->aW);
    look(prefix + "aP", set->aP);
    look(prefix + "aE", set->aE);
    look(prefix + "bP", set->bP);
  }
  if (found.empty()) return;
  const std::string cause = fault_advice(s).any_pass;
  fatal(nan ? ErrorCode::kInvalid : ErrorCode::kOverflow,
        std::string("floating-point ") + (nan ? "invalid" : "overflow") + " not trapped: " + found +
            " before the report" + (cause.empty() ? "" : ": " + cause));
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

void outer_iteration(SimulationState& s) {
  if (s.N < kSweepMinimumN) {
    plain_outer_iteration(s);
    return;
  }
  fpe::set_stage("momentum coefficients and forward sweep");
  momentum_forward_sweep(s);
  fpe::set_stage(
      "momentum back substitution, face velocities and velocity-correction coefficients");
  momentum_back_substitution(s);
  fpe::set_stage("pressure-correction coefficients and forward sweep");
  pressure_correction_forward_sweep(s);
  fpe::set_stage("pressure-correction back substitution and correction step");
  pressure_correction_back_substitution(s);
}

void plain_outer_iteration(SimulationState& s) {
  fpe::set_stage("momentum coefficients");
  momentum_coefficients(s);
  fpe::set_stage("momentum solve");
  tdma(s.N, s.QML.aP, s.QML.aW, s.QML.aE, s.QML.bP, s.u);
  fpe::set_stage("face velocities");
  face_velocities(s);
  fpe::set_stage("velocity-correction coefficients");
  correction_coefficients(s);
  fpe::set_stage("pressure-correction coefficients");
  pressure_correction_coefficients(s);
  fpe::set_stage("pressure-correction solve");
  tdma(s.N, s.MASSA.aP, s.MASSA.aW, s.MASSA.aE, s.MASSA.bP, s.pl);
  fpe::set_stage("correction step");
  correct(s);
  s.u0.copy_from(s.u);
  s.ue0.copy_from(s.ue);
}

int principal() {
  fpe::install();
  static SimulationState s;  // lives until the process ends

  s.pi = std::acos(-1.0);

  fpe::set_stage("input");
  read_input(s);

  // The parameters are known: the frame of a fault can now say what to change.
  const FaultAdvice advice = fault_advice(s);
  fpe::set_advice({advice.outside_loop, advice.first_pass, advice.later_passes});

  size_state(s);
  prepare_grid_and_field(s);

  // The count runs in 64 bits: with itmax = 2147483647 a 32-bit it would
  // overflow after the last pass instead of ending the loop.
  const std::int64_t passes = s.itmax;
  for (std::int64_t it = 1; it <= passes; ++it) {
    s.it = static_cast<std::int32_t>(it);
    fpe::set_iteration(s.it);
    outer_iteration(s);
  }
  fpe::set_iteration(0);
  fpe::set_advice({});

  fpe::set_stage("boundary values and mass inventory");
  inventory(s);
  refuse_untrapped_faults(s);
  fpe::set_stage("report");
  write_results(s);
  return 0;
}

}  // namespace moody
