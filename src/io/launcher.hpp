#pragma once
// Starting an outside program (the text editor, the plotter) through the
// platform's command interpreter, and waiting until it has ended.
//
// The program is taken from the folders of PATH only, never from the current
// folder: that is the case folder, whose files may come from anyone, and a
// notepad.bat or a notepad script lying there must not run in the editor's
// place.  A launch that fails says so in one line on standard error (what
// was missing, and the fix) and the run goes on.

#include <cstddef>
#include <string>
#include <string_view>

namespace moody::launcher {

// Longest command accepted, after its trailing blanks are dropped.
inline constexpr std::size_t kMaxCommand = 1024;
// Longest interpreter path taken from COMSPEC (Windows).
inline constexpr std::size_t kMaxInterpreterPath = 260;

// Reason codes left in the thread's last error (errno on POSIX, SetLastError
// on Windows) when a command cannot be started.
inline constexpr int kReasonTooLong = 7;       // E2BIG: command too long
inline constexpr int kReasonNotFound = 2;      // ENOENT: interpreter or program not found
inline constexpr int kReasonBadFormat = 8;     // ENOEXEC: not an executable
inline constexpr int kReasonNoResources = 12;  // ENOMEM: any other failure

// Runs `command` (trailing blanks dropped) as one command line of the
// interpreter and blocks until it has ended.  Returns the interpreter's exit
// status, or -1 when it could not be started.
//   Windows: %COMSPEC% (or "cmd.exe") + " /c " + command, via CreateProcessA;
//            the program started is that interpreter (a bare name from the
//            system folder), whatever the command line's text.  The
//            command's first word is looked up on PATH beforehand and named
//            to the interpreter by its full path, in quotes; one found
//            nowhere on PATH is not started (-1).
//   POSIX:   /bin/sh -c command, the shell's PATH without the entries that
//            name the current folder (empty ones, ".", any relative folder).
// In a namespace of its own, so that it hides no C library ::system.
int system(std::string_view command);

// The text of a command once its trailing blanks are dropped.
std::string_view trim_command(std::string_view command);

// The program a command starts: its first word, leading blanks skipped.
std::string_view program_word(std::string_view command);

// The entries of the list `path` (folders between `separator`s) that name a
// folder from the root, in their order: "/usr/bin" with ':'; "C:\bin",
// "\\server\share" or "\bin", quoted or not, with ';'.  Empty entries, "."
// and every other relative folder (searched from the current folder) are
// dropped.
std::string absolute_entries(std::string_view path, char separator);

// The line said on standard error when `command` did not run: why, and the
// fix.  "moody: \"notepad dados.txt\" did not run: <why>".
void say_not_run(std::string_view command, std::string_view why);

// The line said for a command of `size` characters, over the limit.
void say_too_long(std::size_t size);

// The usual `why` of a program found nowhere on PATH.
std::string not_on_path(std::string_view program);

// The `why` of a command interpreter (Windows) that could not be started:
// `program` the file tried, `from_comspec` whether COMSPEC named it, `cause`
// the system's words for the failure, and `system_own` whether `program` is
// the system's own cmd.exe, which no value of COMSPEC improves on.
std::string interpreter_not_started(std::string_view program, bool from_comspec,
                                    std::string_view cause, bool system_own);

}  // namespace moody::launcher
