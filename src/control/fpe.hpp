#pragma once
// Floating-point exception trapping.  During a run, invalid operations,
// divisions by zero and overflows trap and end the run with the M frame of a
// fatal run-time error; underflow, denormal operands and inexact results go
// on silently.  The diagnostic names the fault, the step that was running
// and the outer iteration.

namespace moody::fpe {

// Unmasks the three traps and installs the handler that writes the frame.
void install();

// The step running now, for the diagnostic.  `name` must be a string literal
// (or otherwise live until the end of the process).
void set_stage(const char* name);

// The outer iteration running now; 0 outside the outer loop.
void set_iteration(int it);

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
// frame): "floating-point divide by zero in <stage>, outer iteration <it>".
// Writes at most size-1 characters and a NUL into buf; safe in a signal handler.
void describe(const char* fault, char* buf, unsigned size);

}  // namespace moody::fpe
