#pragma once
// The values of dados.txt that no duct or fluid can have.

#include <optional>

#include "control/state.hpp"
#include "io/input_error.hpp"

namespace moody {

// Refuses values for which the duct and fluid of the model make no sense:
// L, ro and D0 must be positive, and so must the outlet diameter D0 + cd*L;
// mi, f, Uin and dt must not be negative.  N, itmax, beta and itmaxm are
// not looked at, nor are dt = 0 and Uin = 0, which stop the first pass.
std::optional<InputError> check_ranges(const SimulationState& s);

}  // namespace moody
