#include <windows.h>

#include <string>

#include "grid_files_os.hpp"

namespace moody::convergence::grid_files_os {

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

std::string last_reason() {
  return reason(GetLastError());
}

// A name in the ANSI code page, as the rest of the program takes its names,
// for the wide functions of the system.
std::wstring wide(const char* path) {
  const int n = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  std::wstring w(n > 0 ? static_cast<std::size_t>(n) : 1u, L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, path, -1, w.data(), n);
  w.resize(w.size() - 1);
  return w;
}
std::wstring wide(const std::string& path) {
  return wide(path.c_str());
}

std::string narrow(const wchar_t* name) {
  const int n = WideCharToMultiByte(CP_ACP, 0, name, -1, nullptr, 0, nullptr, nullptr);
  std::string s(n > 0 ? static_cast<std::size_t>(n) : 1u, '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, name, -1, s.data(), n, nullptr, nullptr);
  s.resize(s.size() - 1);
  return s;
}

// Held while temporaries are made or put in place: the console's handler,
// on a thread of its own, waits for it.
CRITICAL_SECTION g_hold;
bool g_hold_made = false;

// Ctrl-C, Ctrl-Break, the console closed: removes the temporaries, the last
// made first, and keeps the hold, so that this process makes no more before
// the default handler ends it.
BOOL WINAPI on_interrupt(DWORD /*event*/) {
  EnterCriticalSection(&g_hold);
  Temporaries& t = temporaries();
  for (std::sig_atomic_t k = t.live; k > t.first; --k) {
    const Temporary& e = t.list[k - 1];
    const std::wstring path = wide(e.path);
    if (e.folder) {
      RemoveDirectoryW(path.c_str());
    } else {
      DeleteFileW(path.c_str());
    }
  }
  t.live = t.first;
  return FALSE;
}

}  // namespace

Kind kind_of(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::kMissing
                                                                          : Kind::kOther;
  }
  // A symbolic link or a junction.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Kind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Kind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return Kind::kOther;
  return Kind::kFile;
}

std::string names_in(const std::string& folder, std::vector<std::string>& names) {
  WIN32_FIND_DATAW found;
  const HANDLE find = FindFirstFileW(wide(folder + "\\*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return last_reason();
  names.clear();
  do {
    const std::string name = narrow(found.cFileName);
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileW(find, &found) != 0);
  const DWORD error = GetLastError();
  FindClose(find);
  return error == ERROR_NO_MORE_FILES ? "" : reason(error);
}

std::string read_file(const std::string& path, std::string& bytes) {
  const HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return last_reason();
  bytes.clear();
  char buffer[4096];
  std::string problem;
  for (;;) {
    DWORD n = 0;
    if (ReadFile(file, buffer, sizeof buffer, &n, nullptr) == 0) {
      problem = last_reason();
      break;
    }
    if (n == 0) break;
    bytes.append(buffer, n);
  }
  CloseHandle(file);
  return problem;
}

std::string new_folder(const std::string& path, bool& taken) {
  taken = false;
  if (CreateDirectoryW(wide(path).c_str(), nullptr) != 0) return "";
  const DWORD error = GetLastError();
  taken = error == ERROR_ALREADY_EXISTS;
  return reason(error);
}

std::string new_file(const std::string& path, std::string_view bytes, bool& taken) {
  taken = false;
  const std::wstring name = wide(path);
  const HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    taken = error == ERROR_FILE_EXISTS;
    return reason(error);
  }
  DWORD error = 0;
  std::size_t done = 0;
  while (done < bytes.size() && error == 0) {
    const std::size_t chunk = bytes.size() - done < (1u << 30) ? bytes.size() - done : (1u << 30);
    DWORD written = 0;
    if (WriteFile(file, bytes.data() + done, static_cast<DWORD>(chunk), &written, nullptr) == 0 ||
        written == 0) {
      error = GetLastError();
      if (error == 0) error = ERROR_WRITE_FAULT;
    }
    done += written;
  }
  if (CloseHandle(file) == 0 && error == 0) error = GetLastError();
  if (error == 0) return "";
  DeleteFileW(name.c_str());
  return reason(error);
}

// Renames over the old file, or over a link of that name (not its target).
std::string move(const std::string& from, const std::string& to) {
  if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) == 0)
    return last_reason();
  return "";
}

// The system has no swap of two folders in one step.
std::string exchange(const std::string& /*a*/, const std::string& /*b*/, bool& unsupported) {
  unsupported = true;
  return "the system cannot swap two folders in one step";
}

std::string remove(const std::string& path, bool folder) {
  const std::wstring name = wide(path);
  if ((folder ? RemoveDirectoryW(name.c_str()) : DeleteFileW(name.c_str())) == 0)
    return last_reason();
  return "";
}

unsigned long process_number() {
  return GetCurrentProcessId();
}

void watch_interrupts(bool on) {
  if (!g_hold_made) {
    InitializeCriticalSection(&g_hold);
    g_hold_made = true;
  }
  SetConsoleCtrlHandler(on_interrupt, on ? TRUE : FALSE);
}

void hold_interrupts() {
  EnterCriticalSection(&g_hold);
}

void let_go_interrupts() {
  LeaveCriticalSection(&g_hold);
}

}  // namespace moody::convergence::grid_files_os
