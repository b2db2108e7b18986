#include "control/runtime_error.hpp"

#include <cstdio>
#include <cstdlib>

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

void fatal(ErrorCode code, std::string_view description) {
  const std::string text = frame_text(code, description);
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace moody
