#pragma once
// Shared between the platform files of the trap machinery.

#include "control/fpe.hpp"

namespace moody::fpe {

// The whole M frame for a fault, ready to write; returns its length.
unsigned frame_for(Fault fault, char* buf, unsigned size);

}  // namespace moody::fpe
