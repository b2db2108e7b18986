// POSIX launcher: /bin/sh -c <command>, started with posix_spawn so the child
// shares our terminal and standard streams, and waited for with waitpid.
//
// The shell searches PATH for the command's program, and an empty entry of
// PATH, ".", or any relative folder would have it search the current folder,
// the case folder.  The shell is therefore given our environment with PATH
// cut to its absolute folders (the system's default path when none is left:
// an empty PATH would again mean the current folder, and a PATH left unset
// means "." for some shells).

#include <errno.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "io/launcher.hpp"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX leaves it to us

namespace moody::launcher {

namespace {
int reason_for(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return kReasonNotFound;
    case ENOEXEC:
      return kReasonBadFormat;
    default:
      return kReasonNoResources;
  }
}

// PATH as the shell gets it.
std::string searched_path() {
  const char* path = std::getenv("PATH");
  std::string kept = absolute_entries(path != nullptr ? path : "", ':');
  if (kept.empty()) {
    const std::size_t size = confstr(_CS_PATH, nullptr, 0);  // with its NUL
    if (size > 1) {
      kept.assign(size, '\0');
      confstr(_CS_PATH, kept.data(), size);
      kept.pop_back();
    } else {
      kept = "/usr/bin:/bin";
    }
  }
  return kept;
}

// Our environment with "PATH=" + path in place of our PATH.
std::vector<std::string> environment_with(const std::string& path) {
  std::vector<std::string> entries;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "PATH=", 5) != 0) entries.emplace_back(*e);
  }
  entries.push_back("PATH=" + path);
  return entries;
}

// Whether `program` names an executable file, found as the shell finds it.
bool runnable(std::string_view program, const std::string& path) {
  const auto executable = [](const std::string& file) {
    struct stat st {};
    return stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0;
  };
  if (program.find('/') != std::string_view::npos) return executable(std::string(program));
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    if (executable(path.substr(start, end - start) + "/" + std::string(program))) return true;
    start = end + 1;
  }
  return false;
}
}  // namespace

int system(std::string_view command) {
  const std::string_view text = trim_command(command);
  if (text.size() > kMaxCommand) {
    say_too_long(text.size());
    errno = kReasonTooLong;
    return -1;
  }
  std::string line(text);
  char shell[] = "/bin/sh";
  char dash_c[] = "-c";
  char* argv[] = {shell, dash_c, line.data(), nullptr};

  const std::string path = searched_path();
  std::vector<std::string> entries = environment_with(path);
  std::vector<char*> env;
  env.reserve(entries.size() + 1);
  for (std::string& e : entries)
    env.push_back(e.data());
  env.push_back(nullptr);

  pid_t pid = 0;
  const int error = posix_spawn(&pid, shell, nullptr, nullptr, argv, env.data());
  if (error != 0) {
    say_not_run(text,
                std::string("the shell /bin/sh cannot be started (") + std::strerror(error) + ")");
    errno = reason_for(error);
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      errno = kReasonNoResources;
      return -1;
    }
  }
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);  // as the shell reports it
  if (!WIFEXITED(status)) return -1;
  const int exit_status = WEXITSTATUS(status);
  // 127 is the shell's "not found" (its own line is said), unless the
  // program ran and chose that status itself.
  const std::string_view program = program_word(text);
  if (exit_status == 127 && !program.empty() && !runnable(program, path)) {
    say_not_run(text, not_on_path(program));
  }
  return exit_status;
}

}  // namespace moody::launcher
