#include "test_support.hpp"

#include <algorithm>

namespace moody::testing {

std::string example_with(int line, std::string_view text, std::string_view eol,
                         std::string_view example) {
  std::string out;
  int n = 1;
  for (std::size_t start = 0; start < example.size(); ++n) {
    const std::size_t end = std::min(example.find('\n', start), example.size());
    out.append(n == line ? text : example.substr(start, end - start));
    out.append(eol);
    start = end + 1;
  }
  return out;
}

}  // namespace moody::testing
