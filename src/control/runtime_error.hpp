#pragma once
// Fatal run-time errors.  Every failure of a run ends here: one diagnostic in
// the frame
//
//   <newline>run-time error <letter><four digits>: <description><newline>
//
// on the standard error stream, then exit status 1.  The letter is F for
// input, file and storage errors and M for trapped floating-point faults.

#include <string>
#include <string_view>

namespace moody {

// The error numbers.  Listed in the README; never reuse a number for another
// condition.
enum class ErrorCode : int {
  // Files (F1xxx).
  kOpenFailed = 1001,   // a file cannot be opened or created
  kWriteFailed = 1002,  // a record cannot be written (full disk, I/O error)
  kCloseFailed = 1003,  // a file cannot be closed (data not flushed)
  kBadFormat = 1004,    // a format text that cannot be read
  // Input file (F2xxx).
  kEndOfFile = 2001,          // fewer than twelve values
  kBadInteger = 2002,         // not an integer
  kIntegerRange = 2003,       // integer outside the 32-bit range
  kBadReal = 2004,            // not a real number
  kRealOverflow = 2005,       // real too large for double precision
  kCharacterConstant = 2006,  // '...' or "..." given for a number
  kComplexConstant = 2007,    // (...) given for a number
  kZeroRepeat = 2008,         // repeat count of zero
  kBadSize = 2009,            // N < 2: no grid can be laid
  kReadFailed = 2010,         // the file cannot be read
  kValueRange = 2011,         // a value the duct or the fluid cannot have (L <= 0, ...)
  // Storage (F3xxx).
  kNoStorage = 3001,  // the arrays of the run cannot be had
  // Floating-point faults (M4xxx).
  kDivideByZero = 4001,
  kOverflow = 4002,
  kInvalid = 4003,
};

// Writes the frame with letter F and ends the process with status 1.
[[noreturn]] void fatal(ErrorCode code, std::string_view description);

// Writes `line` and a line break to the standard error stream: a word to the
// user that does not end the run (a program that could not be launched, a
// refused command line).  A run that goes well writes none.
void notice(std::string_view line);

// Whether this process has written a notice.
bool notice_given();

// Builds the frame's text (without writing it): "\nrun-time error F2001: ...\n".
// The letter is M for the floating-point codes (4xxx), F otherwise.
std::string frame_text(ErrorCode code, std::string_view description);

}  // namespace moody
