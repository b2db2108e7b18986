#pragma once
// The text of the input file as the editor may have saved it.

#include <string>
#include <string_view>

namespace moody {

// The bytes of dados.txt as single-byte text.  Besides plain single-byte
// text, the editor saves "UTF-8 with BOM", "Unicode" and "Unicode big endian"
// (UTF-16 LE and BE with their byte-order marks): a UTF-8 mark at the very
// start is dropped, and UTF-16 text after its mark becomes one byte per
// character, a character beyond U+00FF (or a lone last byte) becoming '?'.
// Anything else is kept as it is.
std::string single_byte_text(std::string_view bytes);

}  // namespace moody
