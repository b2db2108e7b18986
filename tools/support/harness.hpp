#pragma once
// Scratch folders, files, and running the built program as a user would:
// for the test suite and the verification study alike, so nothing here
// depends on a test framework.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace moody::testing {

// A fresh, empty folder under the system's temporary directory, removed
// with everything in it when the object goes out of scope.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

void write_file(const std::filesystem::path& file, std::string_view bytes);
std::string read_file(const std::filesystem::path& file);

// Writes an executable shell script.
void write_script(const std::filesystem::path& file, std::string_view body);

// The character between the folders of PATH, and the PATH taken when none
// is set (platform files).
extern const char kPathListSeparator;
extern const char* const kDefaultPath;

// Sets an environment variable of this process; an empty value unsets it.
void set_env(const std::string& name, const std::string& value);

// PATH with `dir` put first.
std::string path_with_first(const std::filesystem::path& dir);

// Puts `dir` first on PATH for as long as the object lives.
class PathPrefix {
 public:
  explicit PathPrefix(const std::filesystem::path& dir);
  ~PathPrefix();
  PathPrefix(const PathPrefix&) = delete;
  PathPrefix& operator=(const PathPrefix&) = delete;

 private:
  std::string saved_;
};

struct RunResult {
  int status = -1;      // exit status, or 128 + signal number
  std::string stderr_;  // everything the program wrote to standard error
};

// Runs the built program in `dir` with the environment of the test plus
// `tools` (a folder) first on PATH, standard input from the null device.
RunResult run_program(const std::filesystem::path& dir, const std::filesystem::path& tools);

// Runs the built program as run_program does, but for tests of file
// permissions, which do not stop the superuser: when the tests run as root,
// the program runs as the unprivileged user `nobody`, to whom the folder
// `tree` (which holds `dir` and `tools`) and everything in it are handed
// first, with a copy of the program in `tools` (the build folder may be
// closed to that user).  Elsewhere the same as run_program.
RunResult run_program_unprivileged(const std::filesystem::path& tree,
                                   const std::filesystem::path& dir,
                                   const std::filesystem::path& tools);

// Runs `argv` (argv[0] looked up on PATH) in `dir`, with the environment of
// the test changed by `env` (an empty value unsets the variable), standard
// input from the null device.
RunResult run_command(const std::filesystem::path& dir, const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env = {});

#ifndef _WIN32
// Runs `body` in a child process, a copy of this one, with each file it
// writes limited to `file_limit` bytes (0: no limit); the child's exit
// status (0 when `body` returns) and its standard error.
RunResult run_in_child(const std::function<void()>& body, std::uintmax_t file_limit = 0);
#endif

// True when `program` is found on PATH.
bool on_path(const std::string& program);

}  // namespace moody::testing
