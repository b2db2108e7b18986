#pragma once
// The tool's terminal: whether standard error is one (a console on Windows),
// for the progress display, and text in the terminal's own encoding.

#include <string>
#include <string_view>

namespace moody::convergence {

bool stderr_is_terminal();

// Whether standard output is open.  A closed one (the tool started with
// >&-) has its descriptor taken by the null device, so that no file the
// tool opens lands there and receives what is written to standard output.
bool hold_standard_output();

// `utf8` in the bytes that the console of standard error (or output) shows
// as that text: on a Windows console, converted from UTF-8 (the encoding of
// the folder names the file-system library gives) to the console's code
// page; elsewhere, and for a file or a pipe, the bytes as given.  For text
// written to the stream directly, past the C library (the F frames).
std::string console_text(std::string_view utf8, bool to_stderr);

// Flushes standard output; false when it fails.  The reason of the first
// failure (errno) is kept, for the line that says the report is lost:
// later flushes find nothing left to write and no reason.
bool flush_output();
int first_output_error();

// Writes `utf8` to standard output so that a console shows it as that text.
// The Windows C library would translate the bytes once more on their way to
// a console (from its locale's character set), so there they go straight to
// the console, after what the library holds.
void put_text(std::string_view utf8);

}  // namespace moody::convergence
