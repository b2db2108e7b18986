#include "io/launcher.hpp"

namespace moody::launcher {

std::string_view trim_command(std::string_view command) {
  std::size_t n = command.size();
  while (n > 0 && command[n - 1] == ' ')
    --n;
  return command.substr(0, n);
}

}  // namespace moody::launcher
