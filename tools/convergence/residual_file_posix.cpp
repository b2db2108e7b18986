// The new file is ".residuos.dat.PID-K" in the same folder, so that the
// rename stays on one file system and replaces residuos.dat in one step.  A
// handler of SIGINT, SIGTERM and SIGHUP unlinks it (unlink is safe in a
// handler) and ends the process by the same signal.  A signal that the
// process was started to ignore (a background job's SIGINT, nohup's SIGHUP)
// stays ignored.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

#include "residual_file.hpp"

namespace moody::convergence::pending {

namespace {

constexpr int kStops[] = {SIGINT, SIGTERM, SIGHUP};

char g_path[64] = "";                    // the new file, while it waits
volatile std::sig_atomic_t g_armed = 0;  // g_path names a file of ours
int g_fd = -1;
bool g_handled[3] = {};  // a handler of ours is installed

extern "C" void on_stop(int signal) {
  if (g_armed != 0) ::unlink(g_path);
  struct sigaction plain {};
  plain.sa_handler = SIG_DFL;
  sigemptyset(&plain.sa_mask);
  ::sigaction(signal, &plain, nullptr);
  ::raise(signal);  // delivered as the handler returns
}

void handle_stops() noexcept {
  for (int k = 0; k < 3; ++k) {
    if (g_handled[k]) continue;
    struct sigaction before {};
    if (::sigaction(kStops[k], nullptr, &before) != 0 || before.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigfillset(&action.sa_mask);
    g_handled[k] = ::sigaction(kStops[k], &action, nullptr) == 0;
  }
}

// Closes the descriptor; 0 or errno.
int close_file() noexcept {
  if (g_fd < 0) return 0;
  const int fd = g_fd;
  g_fd = -1;
  return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace

int create(const char* name) noexcept {
  handle_stops();
  // The stops wait while the file is created and named, so that the handler
  // finds every file of ours and no other.
  sigset_t stops;
  sigset_t before;
  sigemptyset(&stops);
  for (const int signal : kStops)
    sigaddset(&stops, signal);
  ::sigprocmask(SIG_BLOCK, &stops, &before);
  int error = 0;
  for (int attempt = 0;; ++attempt) {
    const int n = std::snprintf(g_path, sizeof g_path, ".%s.%ld-%d", name,
                                static_cast<long>(::getpid()), attempt);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof g_path) {
      error = ENAMETOOLONG;
      break;
    }
    g_fd = ::open(g_path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (g_fd >= 0) {
      g_armed = 1;
      break;
    }
    error = errno;
    if (error != EEXIST || attempt >= 100) break;
  }
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  return g_armed != 0 ? 0 : error;
}

int write(std::string_view bytes) noexcept {
  if (g_fd < 0) return EBADF;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(g_fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return n == 0 ? EIO : errno;
    }
  }
  return 0;
}

int rename_to(const char* name) noexcept {
  int error = close_file();
  if (error == 0 && ::rename(g_path, name) != 0) error = errno;
  if (error != 0) {
    remove();
    return error;
  }
  g_armed = 0;
  return 0;
}

void remove() noexcept {
  close_file();
  if (g_armed == 0) return;
  ::unlink(g_path);
  g_armed = 0;
}

}  // namespace moody::convergence::pending
