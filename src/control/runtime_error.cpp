#include "control/runtime_error.hpp"

#include <cstdio>
#include <cstdlib>

#include "control/console.hpp"
#include "control/error_stream.hpp"

namespace moody {

std::string frame_text(ErrorCode code, std::string_view description) {
  const int number = static_cast<int>(code);
  const char letter = (number >= 4000 && number < 5000) ? 'M' : 'F';
  char head[32];
  std::snprintf(head, sizeof head, "\nrun-time error %c%04d: ", letter, number);
  std::string text(head);
  text.append(description);
  text.push_back('\n');
  return text;
}

namespace {
bool g_notice_given = false;
}  // namespace

void notice(std::string_view line) {
  std::string text(line);
  text.push_back('\n');
  std::fflush(stdout);
  write_error_stream(text.data(), static_cast<unsigned>(text.size()));
  g_notice_given = true;
}

bool notice_given() {
  return g_notice_given;
}

void fatal(ErrorCode code, std::string_view description) {
  const std::string text = frame_text(code, description);
  std::fflush(stdout);
  std::fflush(stderr);
  // Raw, like the trap handler's M frame: the same bytes and line ends on
  // every platform (no CR LF from a text-mode stream on Windows).
  write_error_stream(text.data(), static_cast<unsigned>(text.size()));
  console::hold_if_alone();  // a window of its own would close on the frame
  std::_Exit(1);
}

}  // namespace moody
