#include "io/dados.hpp"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <new>
#include <optional>
#include <string>
#include <system_error>

#include "control/fpe.hpp"
#include "io/file_cause.hpp"
#include "io/input_ranges.hpp"
#include "io/input_values.hpp"
#include "io/launcher.hpp"
#include "io/plain_file.hpp"

namespace moody {

namespace {

std::string cause(int error, FileUse use) {
  return ": " + file_cause(error, use);
}

// The bytes of dados.txt.  Opened as the default open status does: an
// existing file as it is, a missing one created empty; a name that holds no
// plain file (a folder, a named pipe, a device) is refused unread.  Every
// failure is fatal, and so is a file just created: it holds none of the
// twelve values, and the frame tells the user to write them rather than
// count what was read.
std::string read_file() {
  const std::string name = kInputFile;
  std::error_code ec;
  if (std::filesystem::is_directory(name, ec)) {
    fatal(ErrorCode::kOpenFailed,
          name + ": the file cannot be opened" + cause(EISDIR, FileUse::kRead));
  }

  const PlainFile opened = open_plain_file(kInputFile);
  if (!opened.plain) {
    fatal(ErrorCode::kOpenFailed, name + ": the file cannot be opened: " + kind_cause(opened.kind));
  }
  std::FILE* file = opened.file;
  if (file == nullptr) {
    const int open_error = opened.error;
    if (open_error != ENOENT) {
      fatal(ErrorCode::kOpenFailed,
            name + ": the file cannot be opened" + cause(open_error, FileUse::kRead));
    }
    // Missing: create it empty ("a" never truncates, should it appear meanwhile).
    errno = 0;
    std::FILE* created = std::fopen(kInputFile, "ab");
    if (created == nullptr) {
      fatal(ErrorCode::kOpenFailed,
            name + ": the missing file cannot be created" + cause(errno, FileUse::kWrite));
    }
    std::fclose(created);
    fatal(ErrorCode::kEndOfFile,
          name + " did not exist; an empty one was created: write the twelve values in it");
  }

  std::string text;
  bool failed = false;
  int read_error = 0;
  try {
    char buffer[4096];
    for (;;) {
      const std::size_t got = std::fread(buffer, 1, sizeof buffer, file);
      text.append(buffer, got);
      if (got < sizeof buffer) {
        if (std::ferror(file)) {
          failed = true;
          read_error = errno;
        }
        break;
      }
    }
  } catch (const std::bad_alloc&) {
    std::fclose(file);
    fatal(ErrorCode::kReadFailed, name + ": the file is too large to be read");
  }
  std::fclose(file);
  if (failed) {
    fatal(ErrorCode::kReadFailed,
          name + ": the file cannot be read" + cause(read_error, FileUse::kRead));
  }
  return text;
}

}  // namespace

void read_input(SimulationState& s) {
  // The editor's status is kept but not examined: without an editor the
  // file is read as it stands.
  s.ier = launcher::system("notepad dados.txt");
  read_parameters(s);
}

void read_parameters(SimulationState& s) {
  const std::string text = read_file();

  // The conversion may raise overflow or invalid flags on purpose; an
  // out-of-range value is an input error, not a floating-point fault.
  std::optional<InputError> error;
  {
    fpe::Masked masked;
    error = parse_input(text, s);
  }
  if (!error) error = check_ranges(s);
  if (error) fatal(error->code, error->description);
}

}  // namespace moody
