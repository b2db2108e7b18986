#pragma once
// Floating-point exception trapping.  During a run, invalid operations,
// divisions by zero and overflows trap and end the run with the M frame of a
// fatal run-time error; underflow, denormal operands and inexact results go
// on silently.  The diagnostic names the fault, the step that was running,
// the outer iteration and, where the driver could tell, what to change.

#include <optional>
#include <string_view>

#include "control/runtime_error.hpp"

namespace moody::fpe {

// The three faults that trap, each with the number of its M frame and the
// word that names it there ("floating-point divide by zero in ...").
enum class Fault : unsigned char { kDivideByZero, kOverflow, kInvalid };
struct FaultName {
  ErrorCode code;
  const char* name;
};
// In the order of Fault.
inline constexpr FaultName kFaultNames[] = {
    {ErrorCode::kDivideByZero, "divide by zero"},
    {ErrorCode::kOverflow, "overflow"},
    {ErrorCode::kInvalid, "invalid"},
};
constexpr ErrorCode code_of(Fault fault) {
  return kFaultNames[static_cast<unsigned>(fault)].code;
}
constexpr const char* name_of(Fault fault) {
  return kFaultNames[static_cast<unsigned>(fault)].name;
}

// The fault of the floating-point flags raised (the FE_ bits of
// fetestexcept; others are ignored), none when none of the three is up.  Of
// several, the one that makes the others: a division by zero or an overflow
// makes the infinities from which an invalid operation follows.
std::optional<Fault> fault_of_flags(int flags);

// Unmasks the three traps and installs the handler that writes the frame.
void install();

// The step running now, for the diagnostic.  `name` must be a string literal
// (or otherwise live until the end of the process).
void set_stage(const char* name);

// The outer iteration running now; 0 outside the outer loop.
void set_iteration(int it);

// What the diagnostic adds after the place of a fault: its likely cause and
// what to change.  One text for a fault outside the outer loop (iteration 0),
// one for the first pass and one for any later pass; an empty text adds
// nothing.  The texts are copied into fixed storage (each cut to
// kAdviceSize-1 bytes), so the handler adds them without allocating.
inline constexpr unsigned kAdviceSize = 300;
struct Advice {
  std::string_view outside_loop;
  std::string_view first_pass;
  std::string_view later_passes;
};
void set_advice(const Advice& advice);

// Within its scope the traps are masked (for library code that raises flags
// on purpose, such as a number conversion that overflows); on exit the
// pending flags are cleared and the previous trap mask restored.
class Masked {
 public:
  Masked();
  ~Masked();
  Masked(const Masked&) = delete;
  Masked& operator=(const Masked&) = delete;

 private:
  unsigned saved_;
};

// Text of the diagnostic for a fault, as the handler writes it (without the
// frame): "floating-point divide by zero in <stage>, outer iteration <it>",
// then ": <advice>" when the advice for that iteration is not empty.
// Writes at most size-1 characters and a NUL into buf; safe in a signal handler.
void describe(const char* fault, char* buf, unsigned size);

}  // namespace moody::fpe
