#pragma once
// Shared between the platform files of the trap machinery.

namespace moody::fpe {

enum class Fault { kDivideByZero, kOverflow, kInvalid };

int code_of(Fault fault);
const char* name_of(Fault fault);

// The whole M frame for a fault, ready to write; returns its length.
unsigned frame_for(Fault fault, char* buf, unsigned size);

}  // namespace moody::fpe
