// Byte-order marks: the editor's "UTF-8 with BOM" and "Unicode" saves
// brought back to the single-byte text the reader scans.

#include "io/text_decoding.hpp"

namespace moody {

std::string single_byte_text(std::string_view bytes) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) {
    return std::string(bytes.substr(kUtf8Mark.size()));
  }
  if (bytes.substr(0, kUtf16LeMark.size()) != kUtf16LeMark) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() / 2);
  for (std::size_t k = kUtf16LeMark.size(); k < bytes.size(); k += 2) {
    if (k + 1 == bytes.size()) {
      text.push_back('?');
      break;
    }
    const unsigned low = static_cast<unsigned char>(bytes[k]);
    const unsigned high = static_cast<unsigned char>(bytes[k + 1]);
    text.push_back(high == 0 ? static_cast<char>(low) : '?');
  }
  return text;
}

}  // namespace moody
