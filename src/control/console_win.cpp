#include <windows.h>

#include "control/console.hpp"
#include "control/error_stream.hpp"

namespace moody::console {

namespace {
bool is_console(HANDLE h) {
  DWORD mode = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &mode) != 0;
}
}  // namespace

void hold_if_alone() noexcept {
  // The shell a user types into shares the console: two processes or more.
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) != 1) return;
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (!is_console(input) || !is_console(GetStdHandle(STD_ERROR_HANDLE))) return;
  static const char kLine[] = "\nPress Enter to close this window.";
  write_error_stream(kLine, sizeof kLine - 1);
  FlushConsoleInputBuffer(input);  // keys pressed during the run do not count
  char c = 0;
  DWORD got = 0;
  while (ReadFile(input, &c, 1, &got, nullptr) != 0 && got == 1 && c != '\n') {
  }
}

}  // namespace moody::console
