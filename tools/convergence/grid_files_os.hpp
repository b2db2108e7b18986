#pragma once
// What the grid study's files need of the system, behind one header with a
// POSIX and a Windows implementation: names in the current folder looked at
// without following a link, files and folders made only where nothing is,
// renames, and the interrupts (Ctrl-C, a termination request) held off or
// met by removing the temporaries listed here.

#include <csignal>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace moody::convergence::grid_files_os {

// What a name is, the name itself (a link is a link, not what it names).
enum class Kind { kMissing, kFolder, kFile, kLink, kOther };
Kind kind_of(const std::string& path);

// The names in `folder` ("." for the current one), but "." and "..";
// "" or why they cannot be listed.
std::string names_in(const std::string& folder, std::vector<std::string>& names);

// The bytes of the file `path`; "" or why it cannot be read.
std::string read_file(const std::string& path, std::string& bytes);

// Makes the folder or the file `path` where nothing of that name is: sets
// `taken` (and returns a reason) when the name is already there.  A file
// that cannot be written whole is removed.  "" or the reason.
std::string new_folder(const std::string& path, bool& taken);
std::string new_file(const std::string& path, std::string_view bytes, bool& taken);

// Renames `from` to `to`, replacing a file or a link of that name (not what
// it names); a folder `to` must be missing.  "" or the reason.
std::string move(const std::string& from, const std::string& to);

// Swaps the folders `a` and `b` in one step where the system can: sets
// `unsupported` where it cannot, and nothing is moved.  "" or the reason.
std::string exchange(const std::string& a, const std::string& b, bool& unsupported);

// Removes the file or the empty folder `path`.  "" or the reason.
std::string remove(const std::string& path, bool folder);

// A number of this process, for the names of its temporaries.
unsigned long process_number();

// The temporaries of a transaction, made while the interrupts are held, so
// that the list always names exactly those that exist.  An interrupt
// removes them, the last made first, and ends the process as the interrupt
// would have.
struct Temporary {
  char path[128];
  bool folder;
};
struct Temporaries {
  Temporary* list = nullptr;             // sized before the first is made
  volatile std::sig_atomic_t first = 0;  // list[first] to list[live - 1]: made,
  volatile std::sig_atomic_t live = 0;   // and not yet put in place
};
Temporaries& temporaries();

// Meets the interrupts by removing the temporaries (on) or as before (off).
void watch_interrupts(bool on);
// While held, an interrupt waits; it comes when they are let go.
void hold_interrupts();
void let_go_interrupts();

}  // namespace moody::convergence::grid_files_os
