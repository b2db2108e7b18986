#include "control/runtime_error.hpp"
#include "io/launcher.hpp"

namespace moody::launcher {

namespace {
// A folder named from the root of the POSIX tree, or of a Windows drive or
// share.  "C:bin" is relative: it is taken from drive C's current folder.
bool absolute(std::string_view folder, char separator) {
  if (separator != ';') return !folder.empty() && folder.front() == '/';
  if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') {
    folder = folder.substr(1, folder.size() - 2);
  }
  const auto slash = [](char c) { return c == '\\' || c == '/'; };
  if (!folder.empty() && slash(folder[0])) return true;
  return folder.size() >= 3 && folder[1] == ':' && slash(folder[2]);
}
}  // namespace

std::string_view trim_command(std::string_view command) {
  std::size_t n = command.size();
  while (n > 0 && command[n - 1] == ' ')
    --n;
  return command.substr(0, n);
}

std::string_view program_word(std::string_view command) {
  const std::size_t start = command.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  const std::size_t end = command.find_first_of(" \t", start);
  return command.substr(start, end == std::string_view::npos ? end : end - start);
}

std::string absolute_entries(std::string_view path, char separator) {
  std::string kept;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find(separator, start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view folder = path.substr(start, end - start);
    if (absolute(folder, separator)) {
      if (!kept.empty()) kept.push_back(separator);
      kept.append(folder);
    }
    start = end + 1;
  }
  return kept;
}

void say_not_run(std::string_view command, std::string_view why) {
  std::string line = "moody: \"";
  line.append(command);
  line.append("\" did not run: ");
  line.append(why);
  notice(line);
}

void say_too_long(std::size_t size) {
  notice("moody: a command of " + std::to_string(size) + " characters did not run: at most " +
         std::to_string(kMaxCommand) + " are taken");
}

std::string not_on_path(std::string_view program) {
  std::string why(program);
  why.append(
      " was not found on PATH (programs in the case folder are not run): add the folder that "
      "holds it to PATH");
  return why;
}

std::string interpreter_not_started(std::string_view program, bool from_comspec,
                                    std::string_view cause, bool system_own) {
  std::string why = "the command interpreter ";
  why.append(program);
  if (from_comspec) why.append(" that COMSPEC names");
  why.append(" cannot be started (");
  why.append(cause);
  if (system_own) {
    why.append(from_comspec ? "), though COMSPEC is right: it names the system's own cmd.exe"
                            : "), though it is the system's own cmd.exe, which needs no COMSPEC");
    why.append("; run again, and if this goes on, restart Windows");
  } else {
    why.append("): set COMSPEC to the full path of cmd.exe");
    if (from_comspec) why.append(", or remove it");
  }
  return why;
}

}  // namespace moody::launcher
