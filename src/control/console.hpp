#pragma once
// A console window of the program's own.  Started by a double-click (or by
// `start`), the program is the only process of a console that Windows
// closes the moment it ends, taking whatever it said with it.

namespace moody::console {

// When this process is the only one of its console and reads its standard
// input from it, writes a line saying so and waits for Enter; otherwise (a
// console shared with the shell it was typed in, a redirected input, any
// POSIX terminal) returns at once.  No allocation and no stdio: it runs in
// the floating-point exception handler too.
void hold_if_alone() noexcept;

}  // namespace moody::console
