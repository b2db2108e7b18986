// Trapping on Windows x64: doubles are computed in SSE registers, so the
// exception masks of MXCSR decide what traps.  A vectored exception handler
// turns the structured exception into the M frame.

#include <windows.h>
#include <xmmintrin.h>

#include "control/console.hpp"
#include "control/error_stream.hpp"
#include "control/fpe.hpp"
#include "control/fpe_internal.hpp"

namespace moody::fpe {

namespace {
// MXCSR: exception flags in bits 0..5, masks in bits 7..12.
constexpr unsigned kFlagInvalid = 1u << 0;
constexpr unsigned kFlagDivide = 1u << 2;
constexpr unsigned kFlagOverflow = 1u << 3;
constexpr unsigned kAllFlags = 0x3Fu;
constexpr unsigned kMaskInvalid = 1u << 7;
constexpr unsigned kMaskDivide = 1u << 9;
constexpr unsigned kMaskOverflow = 1u << 10;
constexpr unsigned kAllMasks = 0x3Fu << 7;
constexpr unsigned kTrapMasks = kMaskInvalid | kMaskDivide | kMaskOverflow;

LONG CALLBACK on_exception(PEXCEPTION_POINTERS info) {
  Fault fault;
  switch (info->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      fault = Fault::kDivideByZero;
      break;
    case EXCEPTION_FLT_OVERFLOW:
      fault = Fault::kOverflow;
      break;
    case EXCEPTION_FLT_INVALID_OPERATION:
      fault = Fault::kInvalid;
      break;
    case STATUS_FLOAT_MULTIPLE_TRAPS:
    case STATUS_FLOAT_MULTIPLE_FAULTS: {
      const unsigned flags = info->ContextRecord->MxCsr;
      if (flags & kFlagDivide) {
        fault = Fault::kDivideByZero;
      } else if (flags & kFlagOverflow) {
        fault = Fault::kOverflow;
      } else {
        fault = Fault::kInvalid;
      }
      break;
    }
    default:
      return EXCEPTION_CONTINUE_SEARCH;
  }
  char frame[512];
  const unsigned n = frame_for(fault, frame, sizeof frame);
  write_error_stream(frame, n);
  console::hold_if_alone();
  ExitProcess(1);
}
}  // namespace

void install() {
  AddVectoredExceptionHandler(1, on_exception);
  unsigned csr = _mm_getcsr();
  csr &= ~kAllFlags;
  csr &= ~kTrapMasks;
  _mm_setcsr(csr);
}

Masked::Masked() : saved_(_mm_getcsr()) {
  _mm_setcsr(saved_ | kAllMasks);
}

Masked::~Masked() {
  _mm_setcsr((saved_ & ~kAllFlags));
}

}  // namespace moody::fpe
