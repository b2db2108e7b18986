// Sequential formatted output files.  The records of a file are gathered in
// a memory buffer and handed to the C library in blocks; after each block
// the stream is flushed, so what has been handed over is with the system
// even if the run then ends through a fatal error (which leaves without
// flushing streams).  When one file fails, the others that are open hand
// over what they hold before the run ends, so their records are kept too.
//
// An existing file is opened as it is and cut only when its first records
// are handed over: a run that stops before then (another file that cannot
// be opened, say) leaves an older report whole rather than empty.

#include "io/output_file.hpp"

#include <cerrno>
#include <string>
#include <utility>

#include "io/file_cause.hpp"
#include "io/file_cut.hpp"

namespace moody {
namespace {
OutputFile* g_open_files = nullptr;  // chain through next_open_
}  // namespace

OutputFile::OutputFile(std::string name, int /*unit*/) : name_(std::move(name)) {
  errno = 0;
  file_ = std::fopen(name_.c_str(), "r+b");
  uncut_ = file_ != nullptr;
  if (file_ == nullptr) {
    // Missing, or not readable: created, or opened and cut at once.
    errno = 0;
    file_ = std::fopen(name_.c_str(), "wb");
  }
  if (file_ == nullptr) fail(ErrorCode::kOpenFailed, "opened for writing", errno);
  buffer_.reserve(kBlock + kBlock / 4);
  next_open_ = g_open_files;
  g_open_files = this;
}

OutputFile::~OutputFile() {
  if (file_ == nullptr) return;
  hand_over();
  std::fclose(file_);
  file_ = nullptr;
  unlink();
}

void OutputFile::write(const Format& format, std::span<const Item> items) {
  if (file_ == nullptr) {
    fatal(ErrorCode::kWriteFailed,
          name_ + ": a record is written after the file was closed (a fault of the program)");
  }
  format.write(buffer_, items);
  if (buffer_.size() >= kBlock) flush();
}

void OutputFile::close() {
  if (file_ == nullptr) return;
  flush();
  if (const int error = cut(); error != 0) fail(ErrorCode::kWriteFailed, "written", error);
  std::FILE* file = file_;
  file_ = nullptr;
  unlink();
  errno = 0;
  if (std::fclose(file) != 0) fail(ErrorCode::kCloseFailed, "closed", errno);
}

void OutputFile::unlink() noexcept {
  for (OutputFile** p = &g_open_files; *p != nullptr; p = &(*p)->next_open_) {
    if (*p == this) {
      *p = next_open_;
      return;
    }
  }
}

int OutputFile::cut() noexcept {
  if (!uncut_) return 0;
  // Nothing has been written yet, so the stream stands at the start.  A
  // device or a pipe has no length to cut (EINVAL).
  if (const int error = cut_to_empty(file_); error != 0 && error != EINVAL) return error;
  uncut_ = false;
  return 0;
}

int OutputFile::hand_over() noexcept {
  if (buffer_.empty()) return 0;
  if (const int error = cut(); error != 0) return error;
  errno = 0;
  const std::size_t written = std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
  if (written != buffer_.size()) {
    buffer_.erase(0, written);
    return errno != 0 ? errno : EIO;
  }
  buffer_.clear();
  if (std::fflush(file_) != 0) return errno != 0 ? errno : EIO;
  return 0;
}

void OutputFile::flush() {
  if (const int error = hand_over(); error != 0) fail(ErrorCode::kWriteFailed, "written", error);
}

void OutputFile::fail(ErrorCode code, const char* action, int error) {
  const std::string description =
      name_ + ": the file cannot be " + action + ": " + file_cause(error, FileUse::kWrite);
  for (OutputFile* other = g_open_files; other != nullptr; other = other->next_open_) {
    if (other != this) other->hand_over();
  }
  fatal(code, description);
}

}  // namespace moody
