// The helpers that start processes and change the environment, on POSIX.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "harness.hpp"

namespace moody::testing {

namespace fs = std::filesystem;

const char kPathListSeparator = ':';
const char* const kDefaultPath = "/usr/bin:/bin";

void set_env(const std::string& name, const std::string& value) {
  if (value.empty()) {
    unsetenv(name.c_str());
  } else {
    setenv(name.c_str(), value.c_str(), 1);
  }
}

bool running_as_root() {
  return geteuid() == 0;
}

RunResult run_command(const fs::path& dir, const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  // Standard error goes to a file of its own outside `dir`, which may be
  // read-only.
  std::string err_name = (fs::temp_directory_path() / "moody-stderr-XXXXXX").string();
  const int err_fd = mkstemp(err_name.data());
  if (err_fd < 0) throw std::runtime_error("cannot create a file for standard error");
  close(err_fd);
  const fs::path err = err_name;
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env)
      set_env(name, value);
    if (std::freopen("/dev/null", "r", stdin) == nullptr) _exit(126);
    if (std::freopen(err.c_str(), "w", stderr) == nullptr) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.stderr_ = read_file(err);
  fs::remove(err);
  return result;
}

}  // namespace moody::testing
