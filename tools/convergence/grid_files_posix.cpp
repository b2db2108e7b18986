#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "grid_files.hpp"

namespace moody::convergence {

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

}  // namespace

std::string make_folder(const std::string& name) {
  if (::mkdir(name.c_str(), 0777) != 0 && errno != EEXIST) return reason(errno);
  struct stat st {};
  if (::lstat(name.c_str(), &st) != 0) return reason(errno);
  if (S_ISLNK(st.st_mode)) return "it is a link; the study writes only into a folder of its own";
  if (!S_ISDIR(st.st_mode)) return "it is not a folder";
  return "";
}

std::string replace_file(const std::string& folder, const std::string& name,
                         std::string_view bytes) {
  // The folder is held open, so that it cannot be swapped for a link between
  // the writing and the renaming.
  const Descriptor dir(::open(folder.empty() ? "." : folder.c_str(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (dir.get() < 0) return reason(errno);

  std::string temporary;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temporary = "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(attempt);
    fd = ::openat(dir.get(), temporary.c_str(),
                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && (errno != EEXIST || attempt >= 100)) return reason(errno);
  }
  Descriptor file(fd);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(file.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::unlinkat(dir.get(), temporary.c_str(), 0);
      return reason(error);
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(file.release()) != 0) {
    const int error = errno;
    ::unlinkat(dir.get(), temporary.c_str(), 0);
    return reason(error);
  }
  if (::renameat(dir.get(), temporary.c_str(), dir.get(), name.c_str()) != 0) {
    const int error = errno;
    ::unlinkat(dir.get(), temporary.c_str(), 0);
    return reason(error);
  }
  return "";
}

}  // namespace moody::convergence
