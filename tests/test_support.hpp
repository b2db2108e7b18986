#pragma once
// Helpers shared by the tests: scratch folders, files, and running the
// built program as a user would.

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace moody::testing {

// The annotated example input file: 52 volumes, 300 passes, a comment after
// every value.
inline constexpr const char* kExampleInput =
    "52       N   - volumes, including the two fictitious ones\n"
    "2.0      L   [m]\n"
    "1.0E-3   mi  [Pa.s]\n"
    "1000.    ro  [kg/m3]\n"
    "0.02     f   Darcy\n"
    "1.0      Uin [m/s]\n"
    "0.05     D0  [m]\n"
    "0.01     cd\n"
    "1.0D-2   dt  [s]\n"
    "1        beta, 1 = CDS (echoed in the report only)\n"
    "300      itmax\n"
    "20       itmaxm (echoed in the report only)\n";

// `example` with line `line` (1-based; 0 for none) replaced by `text`, and
// every line ended by `eol`.
std::string example_with(int line, std::string_view text, std::string_view eol = "\n",
                         std::string_view example = kExampleInput);

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

// True when the tests run with the rights of the superuser, whom file
// permissions do not stop.
bool running_as_root();

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

// Runs `argv` (argv[0] looked up on PATH) in `dir`, with the environment of
// the test changed by `env` (an empty value unsets the variable), standard
// input from the null device.
RunResult run_command(const std::filesystem::path& dir, const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env = {});

// True when `program` is found on PATH.
bool on_path(const std::string& program);

}  // namespace moody::testing
