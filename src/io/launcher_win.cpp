// Windows launcher: %COMSPEC% /c <command> through CreateProcessA, sharing
// our console and standard handles, waited for without a time limit.

#include <windows.h>

#include <cstring>
#include <string>

#include "io/launcher.hpp"

namespace moody {

namespace {
DWORD reason_for(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return kReasonNotFound;
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT: return kReasonBadFormat;
    default: return kReasonNoResources;
  }
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

  const BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
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

}  // namespace moody
