// The new file is ".residuos.dat.PID-K" in the same folder, opened with
// delete sharing, so that the console's control handler (Ctrl+C, Ctrl+Break,
// the window closed), which runs on a thread of its own, can delete it while
// it is open; the system removes it as the process ends.

#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "residual_file.hpp"

namespace moody::convergence::pending {

namespace {

char g_path[MAX_PATH] = "";
HANDLE g_file = INVALID_HANDLE_VALUE;
volatile LONG g_armed = 0;  // g_path names a file of ours

BOOL WINAPI on_stop(DWORD /*event*/) {
  if (InterlockedCompareExchange(&g_armed, 0, 0) != 0) DeleteFileA(g_path);
  return FALSE;  // the default handler ends the process
}

// The errno value that file_cause words for a system error code.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    default:
      return EIO;
  }
}

int close_file() noexcept {
  if (g_file == INVALID_HANDLE_VALUE) return 0;
  const HANDLE file = g_file;
  g_file = INVALID_HANDLE_VALUE;
  return CloseHandle(file) != 0 ? 0 : errno_of(GetLastError());
}

}  // namespace

int create(const char* name) noexcept {
  static const bool handled = SetConsoleCtrlHandler(on_stop, TRUE) != 0;
  static_cast<void>(handled);
  for (int attempt = 0;; ++attempt) {
    const int n =
        std::snprintf(g_path, sizeof g_path, ".%s.%lu-%d", name, GetCurrentProcessId(), attempt);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof g_path) return ENAMETOOLONG;
    g_file = CreateFileA(g_path, GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_file != INVALID_HANDLE_VALUE) {
      InterlockedExchange(&g_armed, 1);
      return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS || attempt >= 100) return errno_of(error);
  }
}

int write(std::string_view bytes) noexcept {
  if (g_file == INVALID_HANDLE_VALUE) return EBADF;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const std::size_t left = bytes.size() - done;
    const DWORD chunk = left < (DWORD{1} << 30) ? static_cast<DWORD>(left) : DWORD{1} << 30;
    DWORD n = 0;
    if (WriteFile(g_file, bytes.data() + done, chunk, &n, nullptr) == 0) {
      return errno_of(GetLastError());
    }
    if (n == 0) return EIO;
    done += n;
  }
  return 0;
}

int rename_to(const char* name) noexcept {
  int error = close_file();
  if (error == 0 && MoveFileExA(g_path, name, MOVEFILE_REPLACE_EXISTING) == 0) {
    error = errno_of(GetLastError());
  }
  if (error != 0) {
    remove();
    return error;
  }
  InterlockedExchange(&g_armed, 0);
  return 0;
}

void remove() noexcept {
  close_file();
  if (InterlockedExchange(&g_armed, 0) != 0) DeleteFileA(g_path);
}

}  // namespace moody::convergence::pending
