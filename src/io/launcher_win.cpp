// Windows launcher: %COMSPEC% /c <command> through CreateProcessA, sharing
// our console and standard handles, waited for without a time limit.
//
// Which interpreter runs is decided apart from the command line's text: the
// interpreter is handed to CreateProcessA as the program to start, so an
// unquoted path with blanks (C:\Program Files\...) is never split into
// C:\Program.exe and the like, and a bare name ("cmd.exe", the default) is
// taken from the system folder, never from the current folder.
//
// Which program the interpreter runs is decided here too.  cmd.exe looks for
// a command's program in the current folder before PATH, and the current
// folder is the case folder: a notepad.bat lying there would run in
// Notepad's place.  (NoDefaultCurrentDirectoryInExePath in its environment
// turns that search off in Windows' cmd.exe, but not in Wine's.)  So the
// command's first word is looked up here, in the absolute folders of PATH
// with the extensions of PATHEXT, folder by folder as cmd.exe does, and the
// interpreter is given that file's full path:
//   cmd.exe /c ""C:\Windows\system32\notepad.exe" dados.txt"
// cmd.exe drops the outer pair of quotes and keeps the inner one, so that a
// folder with blanks or parentheses stays one name.  A program found on no
// folder of PATH is not started.

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

std::string cause_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "not found";
    case ERROR_BAD_FORMAT:
    case ERROR_BAD_EXE_FORMAT:
      return "not a program that Windows can run";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    default:
      return "Windows error " + std::to_string(error);
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

// An environment variable's value; empty when unset.
std::string variable(const char* name) {
  const DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
  if (size == 0) return {};
  std::string value(size, '\0');
  const DWORD got = GetEnvironmentVariableA(name, value.data(), size);
  value.resize(got < size ? got : 0);
  return value;
}

bool is_file(const std::string& name) {
  const DWORD attributes = GetFileAttributesA(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether `program` is the cmd.exe of the system folder, there as a file:
// a failure to start it is none of COMSPEC's doing.
bool system_own(const std::string& program) {
  std::string own;
  if (!interpreter_program("cmd.exe", own) || !is_file(program)) return false;
  std::string named = program;
  for (char& c : named)
    if (c == '/') c = '\\';
  return lstrcmpiA(named.c_str(), own.c_str()) == 0;
}

// Calls `each` with every non-empty entry of the ';'-list `list` until it
// returns true; true then.
template <class Each>
bool any_entry(std::string_view list, Each each) {
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    const std::string_view entry = list.substr(start, end - start);
    if (!entry.empty() && each(entry)) return true;
    start = end + 1;
  }
  return false;
}

// The file that cmd.exe would run for `program` from the absolute folders of
// PATH: in each folder in turn, the name as given when it has an extension,
// then the name with each extension of PATHEXT.  Empty when there is none.
std::string on_path(std::string_view program) {
  std::string extensions = variable("PATHEXT");
  if (extensions.empty()) extensions = ".COM;.EXE;.BAT;.CMD";
  const bool has_extension = program.find('.') != std::string_view::npos;
  std::string found;
  any_entry(absolute_entries(variable("PATH"), ';'), [&](std::string_view folder) {
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') {
      folder = folder.substr(1, folder.size() - 2);
    }
    // cmd.exe would expand %...% in the command line: such a folder's name
    // cannot be handed over as it is.
    if (folder.find('%') != std::string_view::npos) return false;
    std::string base(folder);
    if (base.back() != '\\' && base.back() != '/') base.push_back('\\');
    base.append(program);
    if (has_extension && is_file(base)) {
      found = base;
      return true;
    }
    return any_entry(extensions, [&](std::string_view extension) {
      if (!is_file(base + std::string(extension))) return false;
      found = base + std::string(extension);
      return true;
    });
  });
  return found;
}
}  // namespace

int system(std::string_view command) {
  const std::string_view text = trim_command(command);
  if (text.size() > kMaxCommand) {
    say_too_long(text.size());
    SetLastError(kReasonTooLong);
    return -1;
  }

  char interpreter[kMaxInterpreterPath + 1];
  DWORD length = GetEnvironmentVariableA("COMSPEC", interpreter, sizeof interpreter);
  if (length > kMaxInterpreterPath) {
    say_not_run(text,
                "COMSPEC is longer than 260 characters: set it to the full path of cmd.exe, or "
                "remove it");
    SetLastError(kReasonNotFound);
    return -1;
  }
  const bool from_comspec = length != 0;
  if (length == 0) {
    std::strcpy(interpreter, "cmd.exe");
    length = 7;
  }

  std::string program;
  if (!interpreter_program(std::string_view(interpreter, length), program)) {
    say_not_run(text, "the Windows system folder, where cmd.exe is, cannot be found");
    SetLastError(kReasonNoResources);
    return -1;
  }

  // The command's program by its full path, unless the command names a
  // folder itself.
  const std::string_view word = program_word(text);
  std::string found;
  if (!word.empty() && word.find_first_of("\\/:\"") == std::string_view::npos) {
    found = on_path(word);
    if (found.empty()) {
      say_not_run(text, not_on_path(word));
      SetLastError(kReasonNotFound);
      return -1;
    }
  }

  std::string line;
  line.reserve(length + 4 + text.size() + found.size() + 5);
  line.append(interpreter, length);
  line.append(" /c ");
  if (found.empty()) {
    line.append(text);
  } else {
    const std::size_t rest = static_cast<std::size_t>(word.data() - text.data()) + word.size();
    line.append("\"\"");
    line.append(found);
    line.append("\"");
    line.append(text.substr(rest));
    line.append("\"");
  }

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
    say_not_run(
        text, interpreter_not_started(program, from_comspec, cause_of(error), system_own(program)));
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
