#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "terminal.hpp"

namespace moody::convergence {

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

bool hold_standard_output() {
  // The C library's descriptor 1 without a handle: a closed output.
  const int fd = _fileno(stdout);
  const intptr_t handle = fd >= 0 ? _get_osfhandle(fd) : -1;
  return handle != -1 && handle != -2;
}

std::string console_text(std::string_view utf8, bool to_stderr) {
  std::string same(utf8);
  DWORD mode = 0;
  const HANDLE stream = GetStdHandle(to_stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
  if (utf8.empty() || GetConsoleMode(stream, &mode) == 0) return same;
  const int size = static_cast<int>(utf8.size());
  const int wide_size =
      MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), size, nullptr, 0);
  if (wide_size <= 0) return same;  // not UTF-8: the bytes are what there is
  std::wstring wide(static_cast<std::size_t>(wide_size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), wide_size);
  const UINT page = GetConsoleOutputCP();
  const int out_size =
      WideCharToMultiByte(page, 0, wide.data(), wide_size, nullptr, 0, nullptr, nullptr);
  if (out_size <= 0) return same;
  std::string out(static_cast<std::size_t>(out_size), '\0');
  WideCharToMultiByte(page, 0, wide.data(), wide_size, out.data(), out_size, nullptr, nullptr);
  return out;
}

void put_text(std::string_view utf8) {
  DWORD mode = 0;
  const HANDLE stream = GetStdHandle(STD_OUTPUT_HANDLE);
  if (GetConsoleMode(stream, &mode) == 0) {
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    return;
  }
  std::fflush(stdout);
  const std::string text = console_text(utf8, false);
  DWORD done = 0;
  WriteFile(stream, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}

}  // namespace moody::convergence
