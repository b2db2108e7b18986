#include "residual_file.hpp"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "control/runtime_error.hpp"
#include "io/file_cause.hpp"

namespace moody::convergence {

namespace {

[[noreturn]] void cannot_create(const std::string& folder, int error) {
  fatal(ErrorCode::kOpenFailed, std::string(kResiduals) + ": the file cannot be created in " +
                                    folder + ": " + file_cause(error, FileUse::kWrite));
}

}  // namespace

ResidualFile::ResidualFile(const std::string& folder) {
  // A folder of that name would refuse the rename only after the run; a
  // link of that name is replaced, whatever it points to.
  std::error_code ec;
  if (std::filesystem::is_directory(std::filesystem::symlink_status(kResiduals, ec)))
    cannot_create(folder, EISDIR);
  if (const int error = pending::create(kResiduals); error != 0) cannot_create(folder, error);
}

ResidualFile::~ResidualFile() {
  if (!in_place_) pending::remove();
}

void ResidualFile::write(std::string_view text) {
  int error = pending::write(text);
  if (error == 0) error = pending::rename_to(kResiduals);
  if (error != 0) {
    pending::remove();
    fatal(ErrorCode::kWriteFailed, std::string(kResiduals) + ": the file cannot be written: " +
                                       file_cause(error, FileUse::kWrite));
  }
  in_place_ = true;
}

}  // namespace moody::convergence
