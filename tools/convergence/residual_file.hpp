#pragma once
// residuos.dat, replaced whole.  The residuals go to a new file beside it,
// which is renamed over it once it is complete, so that a run that is
// stopped or fails before then leaves the residuos.dat of the run before
// (or a link of that name) as it was.  The new file is removed when the
// run fails, unwinds, or is stopped by Ctrl+C or a request to terminate.

#include <string>
#include <string_view>

namespace moody::convergence {

inline constexpr const char* kResiduals = "residuos.dat";

class ResidualFile {
 public:
  // Creates the new file in the current folder, so that a folder where
  // residuos.dat cannot be written is said before the run (an F1001 frame
  // naming `folder`, the current folder as the console shows it).
  explicit ResidualFile(const std::string& folder);
  ~ResidualFile();  // removes the new file unless it has taken its place
  ResidualFile(const ResidualFile&) = delete;
  ResidualFile& operator=(const ResidualFile&) = delete;

  // Writes `text` and puts the file in place of residuos.dat, or ends the
  // run with an F1002 frame, residuos.dat left as it was.
  void write(std::string_view text);

 private:
  bool in_place_ = false;  // the new file has replaced residuos.dat
};

// The platform's side: the one new file of the process that waits for its
// rename.  Each call returns 0 or the error number (errno) of its failure.
namespace pending {

// Creates a new file beside `name` and arranges for its removal should the
// process be stopped by SIGINT, SIGTERM or SIGHUP (a console's Ctrl+C,
// Ctrl+Break or closing, on Windows) before it is renamed.
int create(const char* name) noexcept;

int write(std::string_view bytes) noexcept;

// Closes the new file and renames it to `name`; on failure it is removed.
int rename_to(const char* name) noexcept;

// Closes and removes the new file; nothing when there is none.
void remove() noexcept;

}  // namespace pending
}  // namespace moody::convergence
