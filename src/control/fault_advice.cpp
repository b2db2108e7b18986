#include "control/fault_advice.hpp"

#include <cmath>
#include <string>
#include <utility>

#include "control/fpe.hpp"
#include "control/runtime_error.hpp"
#include "flow/time_step.hpp"
#include "io/input_number.hpp"

namespace moody {

namespace {
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
      return name + "(" + std::to_string(i) + ") is " + (nan ? "NaN" : "infinite");
    }
  }
  return {};
}

// `v` rounded up to three significant digits: a value at least v that reads
// well ("0.401" for 0.40080...).
std::string rounded_up(double v) {
  using input_number::Rounding;
  return input_number::round_trip_text(input_number::three_digits(v, Rounding::kUp));
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
  // The floor is an estimate (time_step.hpp): a dt a little below it may
  // still start; the words say so.
  const std::string not_below = has_floor
                                    ? ", but not below about " + rounded_up(floor) +
                                          " s, the estimated floor for N = " + std::to_string(s.N)
                                    : std::string();
  const double passage = s.L / s.Uin;

  // The first pass starts from rest: these parameters stop it whatever the rest.
  bool known = true;
  if (s.dt == 0.0) {
    advice.first_pass = "dt = 0: the transient term Mp/dt needs a time step; give dt > 0";
    if (has_floor) {
      advice.first_pass += ", at least about " + rounded_up(floor) +
                           " s (the estimated floor for N = " + std::to_string(s.N) + ")";
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
                        " s, the estimated floor for N = " + std::to_string(s.N) +
                        ": from rest the first pass could not carry the inlet velocity to the "
                        "outlet; use dt >= " +
                        at_least + " s (a little less may do), or fewer volumes";
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
                          " s is at this grid's estimated floor: use fewer volumes";
  }

  // A fault found after the loop: its pass is not known.
  if (s.itmax >= 1) {
    advice.any_pass = known || s.itmax == 1 ? advice.first_pass : advice.later_passes;
  }
  return advice;
}

void refuse_untrapped_faults(const SimulationState& s) {
  std::string found;
  bool nan = false;
  const auto look = [&](const std::string& name, const Array1& a) {
    if (found.empty()) found = first_non_finite(name, a, nan);
  };
  for (const Printed& p : kPrinted)
    look(p.name, s.*p.array);
  for (const auto& [set_name, set] : {std::pair{"QML", &s.QML}, std::pair{"MASSA", &s.MASSA}}) {
    const std::string prefix = std::string(set_name) + " ";
    look(prefix + "aW", set->aW);
    look(prefix + "aP", set->aP);
    look(prefix + "aE", set->aE);
    look(prefix + "bP", set->bP);
  }
  if (found.empty()) return;
  const std::string cause = fault_advice(s).any_pass;
  const fpe::Fault fault = nan ? fpe::Fault::kInvalid : fpe::Fault::kOverflow;
  fatal(fpe::code_of(fault), std::string("floating-point ") + fpe::name_of(fault) +
                                 " not trapped: " + found + " before the report" +
                                 (cause.empty() ? "" : ": " + cause));
}

}  // namespace moody
