// The helpers that start processes and change the environment, on POSIX.

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
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

namespace {
// The user a child process runs as; none: the test's own.
struct User {
  uid_t uid;
  gid_t gid;
};

// A file of its own for a child's standard error, outside the folder it
// runs in, which may be read-only.
fs::path stderr_file() {
  std::string err_name = (fs::temp_directory_path() / "moody-stderr-XXXXXX").string();
  const int err_fd = mkstemp(err_name.data());
  if (err_fd < 0) throw std::runtime_error("cannot create a file for standard error");
  close(err_fd);
  return err_name;
}

// Waits for the child `pid`: its status and what it wrote to `err`.
RunResult result_of(pid_t pid, const fs::path& err) {
  RunResult result;
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.status = 128 + WTERMSIG(status);
  result.stderr_ = read_file(err);
  fs::remove(err);
  return result;
}

RunResult run_as(const User* user, const fs::path& dir, const std::vector<std::string>& argv,
                 const std::vector<std::pair<std::string, std::string>>& env) {
  const fs::path err = stderr_file();
  // The argument vector is made before the fork: the child only execs.
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // The files of standard input and error are opened with the test's
    // rights, the folder entered with the user's.
    if (std::freopen("/dev/null", "r", stdin) == nullptr) _exit(126);
    if (std::freopen(err.c_str(), "w", stderr) == nullptr) _exit(126);
    if (user != nullptr) {
      if (setgroups(0, nullptr) != 0 || setgid(user->gid) != 0 || setuid(user->uid) != 0) {
        _exit(126);
      }
    }
    if (chdir(dir.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env)
      set_env(name, value);
    execvp(args[0], args.data());
    _exit(127);
  }
  return result_of(pid, err);
}
}  // namespace

RunResult run_in_child(const std::function<void()>& body, std::uintmax_t file_limit) {
  const fs::path err = stderr_file();
  const pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen(err.c_str(), "w", stderr) == nullptr) _exit(126);
    const rlimit limit{static_cast<rlim_t>(file_limit), static_cast<rlim_t>(file_limit)};
    if (file_limit > 0 && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
    body();
    _exit(0);
  }
  return result_of(pid, err);
}

RunResult run_command(const fs::path& dir, const std::vector<std::string>& argv,
                      const std::vector<std::pair<std::string, std::string>>& env) {
  return run_as(nullptr, dir, argv, env);
}

RunResult run_program_unprivileged(const fs::path& tree, const fs::path& dir,
                                   const fs::path& tools) {
  if (geteuid() != 0) return run_program(dir, tools);
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) {
    throw std::runtime_error("running as root, and there is no user nobody to run the program as");
  }
  const User user{nobody->pw_uid, nobody->pw_gid};
  const fs::path program = tools / "moody";
  fs::copy_file(MOODY_BINARY, program, fs::copy_options::overwrite_existing);
  // lchown: a link is handed over itself, not what it points to.
  if (lchown(tree.c_str(), user.uid, user.gid) != 0) {
    throw std::runtime_error("cannot hand " + tree.string() + " to the user nobody");
  }
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(tree)) {
    if (lchown(entry.path().c_str(), user.uid, user.gid) != 0) {
      throw std::runtime_error("cannot hand " + entry.path().string() + " to the user nobody");
    }
  }
  return run_as(&user, dir, {program.string()}, {{"PATH", path_with_first(tools)}});
}

}  // namespace moody::testing
