// Byte-order marks: the editor's "UTF-8 with BOM", "Unicode" and "Unicode big
// endian" saves brought back to the single-byte text the reader scans.

#include "io/text_decoding.hpp"

namespace moody {

std::string single_byte_text(std::string_view bytes) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
  constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    return std::string(bytes.substr(kUtf8Mark.size()));
  }
  const std::string_view mark = bytes.substr(0, 2);
  if (mark != kUtf16LeMark && mark != kUtf16BeMark) return std::string(bytes);
  // The byte of each pair that holds the character's low eight bits.
  const std::size_t low_first = mark == kUtf16LeMark ? 0 : 1;
  std::string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t k = mark.size(); k < bytes.size(); k += 2) {
    if (k + 1 == bytes.size()) {
      text.push_back('?');
      break;
    }
    const unsigned low = static_cast<unsigned char>(bytes[k + low_first]);
    const unsigned high = static_cast<unsigned char>(bytes[k + 1 - low_first]);
    text.push_back(high == 0 ? static_cast<char>(low) : '?');
  }
  return text;
}

}  // namespace moody
