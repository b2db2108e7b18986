#pragma once
// The standard error stream, written raw: the bytes as given, with no
// line-end translation and no buffer on the way, so that a diagnostic reads
// the same on every platform and whichever path writes it (the fatal-error
// function or the floating-point trap handler).  Safe in a signal handler or
// an exception handler: no allocation, no stdio.

namespace moody {

// Writes `size` bytes to the standard error stream; a failure to write is
// not reported (there is nowhere left to report it).
void write_error_stream(const char* bytes, unsigned size) noexcept;

}  // namespace moody
