// POSIX launcher: /bin/sh -c <command>, started with posix_spawn so the child
// shares our terminal and standard streams, and waited for with waitpid.

#include <errno.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

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
}  // namespace

int system(std::string_view command) {
  const std::string_view text = trim_command(command);
  if (text.size() > kMaxCommand) {
    errno = kReasonTooLong;
    return -1;
  }
  std::string line(text);
  char shell[] = "/bin/sh";
  char dash_c[] = "-c";
  char* argv[] = {shell, dash_c, line.data(), nullptr};

  pid_t pid = 0;
  const int error = posix_spawn(&pid, shell, nullptr, nullptr, argv, environ);
  if (error != 0) {
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
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);  // as the shell reports it
  return -1;
}

}  // namespace moody::launcher
