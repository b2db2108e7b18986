#pragma once
// Numbers into the text of the tool's reports: printf into a string, the
// argument types that printf's %lld and %llu take, and a pressure in Pa.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

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

// A pressure to `digits` significant digits: "188.78323019 Pa".
inline std::string pascals(double v, int digits) {
  return format("%.*g Pa", digits, v);
}

}  // namespace moody::convergence
