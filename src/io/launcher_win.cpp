// Windows launcher: %COMSPEC% /c <command> through CreateProcessA, sharing
// our console and standard handles, waited for without a time limit.
//
// The command line is the interpreter's text as COMSPEC gives it, " /c " and
// the command, nothing quoted.  Which program runs is decided apart from that
// text: the interpreter is handed to CreateProcessA as the program to start,
// so an unquoted path with blanks (C:\Program Files\...) is never split into
// C:\Program.exe and the like, and a bare name ("cmd.exe", the default) is
// taken from the system folder, never from the current folder.

#include <windows.h>

#include <cstring>
#include <string>
#include <string_view>

#include "io/launcher.hpp"

namespace moody::launcher {

namespace {
DWORD reason_for(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return kReasonNotFound;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT:
      return kReasonBadFormat;
    default:
      return kReasonNoResources;
  }
}

// The file that runs for the interpreter text `named`: one pair of quotes
// around it dropped; a name without any folder in it (no \, / or drive
// colon) is taken from the system folder; ".exe" added to a file name
// without an extension, as the command line's own lookup would.  False when
// the system folder cannot be had.
bool interpreter_program(std::string_view named, std::string& program) {
  if (named.size() >= 2 && named.front() == '"' && named.back() == '"') {
    named = named.substr(1, named.size() - 2);
  }
  const std::size_t folder_end = named.find_last_of("\\/:");
  if (folder_end != std::string_view::npos) {
    program.assign(named);
  } else {
    char folder[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryA(folder, sizeof folder);
    if (length == 0 || length >= sizeof folder) return false;
    program.assign(folder, length);
    program.push_back('\\');
    program.append(named);
  }
  const std::size_t name_start = folder_end == std::string_view::npos ? 0 : folder_end + 1;
  if (named.find('.', name_start) == std::string_view::npos) program.append(".exe");
  return true;
}
}  // namespace

int system(std::string_view command) {
  const std::string_view text = trim_command(command);
  if (text.size() > kMaxCommand) {
    SetLastError(kReasonTooLong);
    return -1;
  }

  char interpreter[kMaxInterpreterPath + 1];
  DWORD length = GetEnvironmentVariableA("COMSPEC", interpreter, sizeof interpreter);
  if (length > kMaxInterpreterPath) {
    SetLastError(kReasonNotFound);
    return -1;
  }
  if (length == 0) {
    std::strcpy(interpreter, "cmd.exe");
    length = 7;
  }

  std::string program;
  if (!interpreter_program(std::string_view(interpreter, length), program)) {
    SetLastError(kReasonNoResources);
    return -1;
  }

  std::string line;
  line.reserve(length + 4 + text.size() + 1);
  line.append(interpreter, length);
  line.append(" /c ");
  line.append(text);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);

  const BOOL started = CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                      nullptr, nullptr, &startup, &process);
  const DWORD error = started ? 0 : GetLastError();
  std::string().swap(line);  // the command line is released right after the attempt
  if (!started) {
    SetLastError(reason_for(error));
    return -1;
  }

  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return static_cast<int>(status);
}

}  // namespace moody::launcher
