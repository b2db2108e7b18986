// The helpers that start processes and change the environment, on Windows.

#include <windows.h>

#include <cstdlib>
#include <stdexcept>

#include "harness.hpp"

namespace moody::testing {

namespace fs = std::filesystem;

const char kPathListSeparator = ';';
const char* const kDefaultPath = "C:\\Windows\\system32;C:\\Windows";

void set_env(const std::string& name, const std::string& value) {
  // Both the C run-time's copy (getenv) and the process's block (children).
  _putenv_s(name.c_str(), value.c_str());
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
}

// The tests run with no rights that file permissions do not stop.
RunResult run_program_unprivileged(const fs::path&, const fs::path& dir, const fs::path& tools) {
  return run_program(dir, tools);
}

namespace {
// One argument quoted for the C run-time's command-line parser.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  std::size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(2 * backslashes, '\\');
  out.push_back('"');
  return out;
}

// The environment changes of one run, undone when it ends.
class EnvironmentChange {
 public:
  explicit EnvironmentChange(const std::vector<std::pair<std::string, std::string>>& env) {
    for (const auto& [name, value] : env) {
      const char* old = std::getenv(name.c_str());
      saved_.emplace_back(name, old != nullptr ? old : "");
      set_env(name, value);
    }
  }
  ~EnvironmentChange() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
      set_env(it->first, it->second);
  }
  EnvironmentChange(const EnvironmentChange&) = delete;
  EnvironmentChange& operator=(const EnvironmentChange&) = delete;

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};
}  // namespace

RunResult run_command(const fs::path& dir, const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  // Standard error goes to a file of its own outside `dir`, which may be
  // read-only.
  const fs::path err =
      fs::temp_directory_path() / ("moody-stderr-" + std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(GetTickCount64()));
  SECURITY_ATTRIBUTES inherit{};
  inherit.nLength = sizeof inherit;
  inherit.bInheritHandle = TRUE;
  const HANDLE err_handle = CreateFileA(err.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (err_handle == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot create a file for standard error");
  }
  const HANDLE null_input = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_EXISTING, 0, nullptr);

  std::string line;
  for (const std::string& a : argv) {
    if (!line.empty()) line.push_back(' ');
    line += quoted(a);
  }
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = null_input;
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = err_handle;
  PROCESS_INFORMATION process{};

  RunResult result;
  BOOL started = FALSE;
  {
    EnvironmentChange change(env);
    started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             dir.string().c_str(), &startup, &process);
  }
  CloseHandle(err_handle);
  if (null_input != INVALID_HANDLE_VALUE) CloseHandle(null_input);
  if (started) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD status = 0;
    GetExitCodeProcess(process.hProcess, &status);
    result.status = static_cast<int>(status);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  } else {
    result.status = 127;  // as a shell reports a program it cannot start
  }
  result.stderr_ = read_file(err);
  fs::remove(err);
  return result;
}

}  // namespace moody::testing
