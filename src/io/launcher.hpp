#pragma once
// Starting an outside program (the text editor, the plotter) through the
// platform's command interpreter, and waiting until it has ended.

#include <cstddef>
#include <string_view>

namespace moody::launcher {

// Longest command accepted, after its trailing blanks are dropped.
inline constexpr std::size_t kMaxCommand = 1024;
// Longest interpreter path taken from COMSPEC (Windows).
inline constexpr std::size_t kMaxInterpreterPath = 260;

// Reason codes left in the thread's last error (errno on POSIX, SetLastError
// on Windows) when a command cannot be started.
inline constexpr int kReasonTooLong = 7;       // E2BIG: command too long
inline constexpr int kReasonNotFound = 2;      // ENOENT: interpreter not found
inline constexpr int kReasonBadFormat = 8;     // ENOEXEC: not an executable
inline constexpr int kReasonNoResources = 12;  // ENOMEM: any other failure

// Runs `command` (trailing blanks dropped, nothing quoted) as one command line
// of the interpreter and blocks until it has ended.  Returns the
// interpreter's exit status, or -1 when it could not be started.
//   Windows: %COMSPEC% (or "cmd.exe") + " /c " + command, via CreateProcessA;
//            the program started is that interpreter (a bare name from the
//            system folder), whatever the command line's text.
//   POSIX:   /bin/sh -c command.
// In a namespace of its own, so that it hides no C library ::system.
int system(std::string_view command);

// The text of a command once its trailing blanks are dropped.
std::string_view trim_command(std::string_view command);

}  // namespace moody::launcher
