// Trapping on glibc: feenableexcept unmasks the exceptions in the SSE control
// register (and the x87 one), and the kernel delivers SIGFPE with si_code
// telling which exception fired.

#include <fenv.h>
#include <signal.h>
#include <unistd.h>

#include "control/error_stream.hpp"
#include "control/fpe.hpp"
#include "control/fpe_internal.hpp"

namespace moody::fpe {

namespace {
constexpr int kTraps = FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW;

void on_sigfpe(int /*signal*/, siginfo_t* info, void* /*context*/) {
  Fault fault = Fault::kInvalid;
  switch (info->si_code) {
    case FPE_FLTDIV:
    case FPE_INTDIV:
      fault = Fault::kDivideByZero;
      break;
    case FPE_FLTOVF:
      fault = Fault::kOverflow;
      break;
    default:
      fault = Fault::kInvalid;
      break;
  }
  char frame[512];
  const unsigned n = frame_for(fault, frame, sizeof frame);
  write_error_stream(frame, n);
  _exit(1);
}
}  // namespace

void install() {
  struct sigaction action {};
  action.sa_sigaction = on_sigfpe;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(kTraps);
}

Masked::Masked() : saved_(static_cast<unsigned>(fegetexcept())) {
  fedisableexcept(FE_ALL_EXCEPT);
}

Masked::~Masked() {
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(static_cast<int>(saved_));
}

}  // namespace moody::fpe
