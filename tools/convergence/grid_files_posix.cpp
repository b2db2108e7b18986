#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "grid_files_os.hpp"

namespace moody::convergence::grid_files_os {

namespace {

std::string reason(int error) {
  return std::strerror(error);
}

// Closes a descriptor at the end of its scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// The interrupts met: an interactive one, a termination request, and the
// hang-up of the terminal.
constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_before[3];

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : kInterrupts)
    sigaddset(&set, sig);
  return set;
}

// Removes the temporaries, the last made first (a folder's files before the
// folder), then lets the interrupt end the process: the handler is reset on
// entry, and the signal raised again is taken when the handler returns.
// unlinkat and raise are async-signal-safe.
void on_interrupt(int sig) {
  Temporaries& t = temporaries();
  for (std::sig_atomic_t k = t.live; k > t.first; --k) {
    const Temporary& e = t.list[k - 1];
    ::unlinkat(AT_FDCWD, e.path, e.folder ? AT_REMOVEDIR : 0);
  }
  t.live = t.first;
  ::raise(sig);
}

}  // namespace

Kind kind_of(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? Kind::kMissing : Kind::kOther;
  if (S_ISLNK(st.st_mode)) return Kind::kLink;
  if (S_ISDIR(st.st_mode)) return Kind::kFolder;
  if (S_ISREG(st.st_mode)) return Kind::kFile;
  return Kind::kOther;
}

std::string names_in(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return reason(errno);
  names.clear();
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const int error = errno;
  ::closedir(dir);
  return error == 0 ? "" : reason(error);
}

std::string read_file(const std::string& path, std::string& bytes) {
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (file.get() < 0) return reason(errno);
  bytes.clear();
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return reason(errno);
    if (n == 0) return "";
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string new_folder(const std::string& path, bool& taken) {
  taken = false;
  if (::mkdir(path.c_str(), 0777) == 0) return "";
  taken = errno == EEXIST;
  return reason(errno);
}

std::string new_file(const std::string& path, std::string_view bytes, bool& taken) {
  taken = false;
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    taken = errno == EEXIST;
    return reason(errno);
  }
  Descriptor file(fd);
  int error = 0;
  std::size_t done = 0;
  while (done < bytes.size() && error == 0) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) error = n < 0 ? errno : EIO;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (::close(file.release()) != 0 && error == 0) error = errno;
  if (error == 0) return "";
  ::unlink(path.c_str());
  return reason(error);
}

std::string move(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return reason(errno);
  return "";
}

std::string exchange(const std::string& a, const std::string& b, bool& unsupported) {
  unsupported = false;
#if defined(__linux__) && defined(RENAME_EXCHANGE)
  if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) return "";
  // A file system (or a kernel) without the exchange.
  unsupported = errno == EINVAL || errno == ENOSYS;
  return reason(errno);
#else
  (void)a;
  (void)b;
  unsupported = true;
  return "the system cannot swap two folders in one step";
#endif
}

std::string remove(const std::string& path, bool folder) {
  if (::unlinkat(AT_FDCWD, path.c_str(), folder ? AT_REMOVEDIR : 0) != 0) return reason(errno);
  return "";
}

unsigned long process_number() {
  return static_cast<unsigned long>(::getpid());
}

void watch_interrupts(bool on) {
  for (std::size_t k = 0; k < std::size(kInterrupts); ++k) {
    if (!on) {
      ::sigaction(kInterrupts[k], &g_before[k], nullptr);
      continue;
    }
    // An interrupt ignored (a job in the background) stays ignored.
    ::sigaction(kInterrupts[k], nullptr, &g_before[k]);
    if (g_before[k].sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    sigfillset(&action.sa_mask);
    ::sigaction(kInterrupts[k], &action, nullptr);
  }
}

// The study's other threads have ended when its files are written, so the
// interrupts come to this thread alone.
void hold_interrupts() {
  const sigset_t set = interrupt_set();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void let_go_interrupts() {
  const sigset_t set = interrupt_set();
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace moody::convergence::grid_files_os
