#pragma once
// The width of what the tool prints: every line fits a console of kColumns
// characters (the default Windows console has 120), so that nothing wraps
// in the middle of a word or a number.

#include <cstddef>
#include <string>
#include <string_view>

namespace moody::convergence {

inline constexpr std::size_t kColumns = 100;

// `text` with each line longer than `width` characters (UTF-8 code points)
// broken at its last spaces before the width (never the space after a
// digit, which joins a number to its unit), each continuation starting
// with `indent`.  A word longer than the width (a folder's path) stays
// whole on a line of its own.  Lines that fit are left as they are.
std::string fit_columns(std::string_view text, std::size_t width = kColumns,
                        std::string_view indent = "  ");

}  // namespace moody::convergence
