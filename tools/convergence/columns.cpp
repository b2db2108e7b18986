#include "columns.hpp"

namespace moody::convergence {

namespace {

// The characters of `s`: its bytes that do not continue a UTF-8 sequence.
std::size_t characters(std::string_view s) {
  std::size_t n = 0;
  for (const char c : s) {
    if ((static_cast<unsigned char>(c) & 0xC0U) != 0x80U) ++n;
  }
  return n;
}

// One line (without its end) fitted to `width`, appended to `out`.
void fit_line(std::string_view line, std::size_t width, std::string_view indent, std::string& out) {
  std::string_view lead;  // "" on the first piece, `indent` after it
  while (characters(lead) + characters(line) > width) {
    const std::size_t room = width - characters(lead);
    // The last space at or before the room, counted in characters.
    std::size_t cut = std::string_view::npos, seen = 0;
    for (std::size_t k = 0; k < line.size() && seen <= room; ++k) {
      if ((static_cast<unsigned char>(line[k]) & 0xC0U) == 0x80U) continue;
      // Not after a digit: a number stays on the line of its unit.
      if (line[k] == ' ' && k > 0 && (line[k - 1] < '0' || line[k - 1] > '9')) cut = k;
      ++seen;
    }
    if (cut == std::string_view::npos) {  // one long word: up to the next space
      cut = line.find(' ', 1);
      if (cut == std::string_view::npos) break;
    }
    out.append(lead).append(line.substr(0, cut)).append("\n");
    line.remove_prefix(cut);
    while (!line.empty() && line.front() == ' ')
      line.remove_prefix(1);
    lead = indent;
  }
  if (!line.empty() || lead.empty()) out.append(lead).append(line);
}

}  // namespace

std::string fit_columns(std::string_view text, std::size_t width, std::string_view indent) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    std::string_view body = line;
    const bool cr = !body.empty() && body.back() == '\r';
    if (cr) body.remove_suffix(1);
    if (characters(body) <= width) {
      out.append(line);
    } else {
      fit_line(body, width, indent, out);
      if (cr) out.push_back('\r');
    }
    if (end == std::string_view::npos) break;
    out.push_back('\n');
    text.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace moody::convergence
