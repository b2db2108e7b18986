#include <windows.h>

#include <string>

#include "grid_files.hpp"

namespace moody::convergence {

namespace {

std::string reason(DWORD error) {
  char text[256] = "";
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, error, 0, text, sizeof text, nullptr);
  std::string r(text, n);
  while (!r.empty() && (r.back() == '\n' || r.back() == '\r' || r.back() == '.'))
    r.pop_back();
  return r.empty() ? "error " + std::to_string(error) : r;
}

}  // namespace

std::string make_folder(const std::string& name) {
  if (CreateDirectoryA(name.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
    return reason(GetLastError());
  }
  const DWORD attributes = GetFileAttributesA(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return reason(GetLastError());
  // A symbolic link or a junction.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return "it is a link; the study writes only into a folder of its own";
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return "it is not a folder";
  return "";
}

std::string replace_file(const std::string& folder, const std::string& name,
                         std::string_view bytes) {
  const std::string prefix = folder.empty() ? "" : folder + "\\";
  const std::string target = prefix + name;
  std::string temporary;
  HANDLE file = INVALID_HANDLE_VALUE;
  for (int attempt = 0; file == INVALID_HANDLE_VALUE; ++attempt) {
    temporary = prefix + "." + name + "." + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(attempt);
    file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && (GetLastError() != ERROR_FILE_EXISTS || attempt >= 100)) {
      return reason(GetLastError());
    }
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t chunk = bytes.size() - done < (1u << 30) ? bytes.size() - done : (1u << 30);
    DWORD written = 0;
    if (WriteFile(file, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr) == 0 ||
        written == 0) {
      const DWORD error = GetLastError();
      CloseHandle(file);
      DeleteFileA(temporary.c_str());
      return reason(error);
    }
    done += written;
  }
  if (CloseHandle(file) == 0) {
    const DWORD error = GetLastError();
    DeleteFileA(temporary.c_str());
    return reason(error);
  }
  // Renames over the old file, or over a link of that name (not its target).
  if (MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) == 0) {
    const DWORD error = GetLastError();
    DeleteFileA(temporary.c_str());
    return reason(error);
  }
  return "";
}

}  // namespace moody::convergence
