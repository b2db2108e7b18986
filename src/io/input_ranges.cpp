#include "io/input_ranges.hpp"

#include <string>

#include "control/fpe.hpp"
#include "io/input_number.hpp"

namespace moody {

namespace {

namespace num = input_number;

std::string range_error(const char* name, double value, const std::string& rule) {
  return std::string(kInputFile) + ": " + name + " = " + num::round_trip_text(value) + ": " + rule;
}

}  // namespace

std::optional<InputError> check_ranges(const SimulationState& s) {
  const struct {
    const char* name;
    double value;
    bool positive;  // > 0 when set, >= 0 otherwise
    const char* what;
  } rules[] = {
      {"L", s.L, true, "the length of the duct"},  {"mi", s.mi, false, "the viscosity"},
      {"ro", s.ro, true, "the density"},           {"f", s.f, false, "the friction factor"},
      {"Uin", s.Uin, false, "the inlet velocity"}, {"D0", s.D0, true, "the inlet diameter"},
  };
  for (const auto& rule : rules) {
    if (rule.positive ? rule.value > 0.0 : rule.value >= 0.0) continue;
    return InputError{
        ErrorCode::kValueRange,
        range_error(rule.name, rule.value,
                    std::string(rule.what) +
                        (rule.positive ? " must be positive" : " cannot be negative"))};
  }
  // A negative cd narrows the duct; it must still be open at the outlet.
  double outlet = 0.0;
  double narrowest = 0.0;
  {
    fpe::Masked masked;  // cd*L may overflow: the outlet is then infinite
    outlet = s.D0 + s.cd * s.L;
    narrowest = -s.D0 / s.L;
  }
  if (!(outlet > 0.0)) {
    return InputError{
        ErrorCode::kValueRange,
        range_error("cd", s.cd,
                    "the outlet diameter D0 + cd*L = " + num::round_trip_text(outlet) +
                        " must be positive (a narrowing duct needs cd > " +
                        num::round_trip_text(narrowest) + ")")};
  }
  if (!(s.dt >= 0.0)) {
    return InputError{ErrorCode::kValueRange,
                      range_error("dt", s.dt, "the time step cannot be negative")};
  }
  return std::nullopt;
}

}  // namespace moody
