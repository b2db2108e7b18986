#pragma once
// The files of the grid study, written so that nothing the user did not name
// is touched: a grid's folder must be a real folder (a link or a file of that
// name is refused), and each file is written as a new file beside its place
// and renamed over it, so that the old file, or a link of that name, is
// replaced whole and never written through.

#include <string>
#include <string_view>

namespace moody::convergence {

// Makes `name` (one component, in the current folder) a folder: creates it
// when missing.  Returns "" or, when it cannot, the reason.
std::string make_folder(const std::string& name);

// Replaces the file `name` in `folder` ("" for the current folder; one
// component made by make_folder) by a file holding `bytes`.  Returns "" or,
// when it cannot, the reason; the old file is then left as it was.
std::string replace_file(const std::string& folder, const std::string& name,
                         std::string_view bytes);

}  // namespace moody::convergence
