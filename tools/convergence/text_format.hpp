#pragma once
// Numbers into the text of the tool's reports: printf into a string, the
// argument types that printf's %lld and %llu take, a list, and a pressure
// in Pa.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace moody::convergence {

// printf into a string of up to 511 bytes; the checks of the format are
// GCC's and Clang's on POSIX (the Windows C library has its own idea of the
// formats).
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((format(printf, 1, 2)))
#endif
inline std::string
format(const char* fmt, ...);

inline std::string format(const char* fmt, ...) {
  char text[512];
  va_list args;
  va_start(args, fmt);
  std::vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

// The argument of a %lld, whatever type int64_t is here.
inline long long lld_arg(std::int64_t v) {
  return v;
}

// The argument of a %llu, whatever type size_t is here.
inline unsigned long long llu_arg(std::size_t v) {
  return v;
}

// Numbers joined by commas: "52, 102, 202".
inline std::string list_text(const std::vector<int>& values) {
  std::string t;
  for (std::size_t k = 0; k < values.size(); ++k)
    t += (k == 0 ? "" : ", ") + std::to_string(values[k]);
  return t;
}

// A pressure to `digits` significant digits: "188.78323019 Pa".
inline std::string pascals(double v, int digits) {
  return format("%.*g Pa", digits, v);
}

}  // namespace moody::convergence
