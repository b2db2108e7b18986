#pragma once
// The files of the grid study, written so that nothing the user did not name
// is touched: a grid's folder must be a real folder (a link or a file of that
// name is refused), and each file is written as a new file beside its place
// and renamed over it, so that the old file, or a link of that name, is
// replaced whole and never written through.

#include <string>
#include <string_view>
#include <vector>

#include "control/state.hpp"
#include "grid_runs.hpp"

namespace moody::convergence {

// Makes `name` (one component, in the current folder) a folder: creates it
// when missing.  Returns "" or, when it cannot, the reason.
std::string make_folder(const std::string& name);

// Replaces the file `name` in `folder` ("" for the current folder; one
// component made by make_folder) by a file holding `bytes`.  Returns "" or,
// when it cannot, the reason; the old file is then left as it was.
std::string replace_file(const std::string& folder, const std::string& name,
                         std::string_view bytes);

// The table of the grids, beside their folders.
inline constexpr const char* kTableFile = "malhas.dat";

// The folder of a grid: "malha-N".
std::string folder_of(int N);

// The text of malha-N/dados.txt: the twelve values, each written so that
// the program reads it back to the same bits, one a line with its comment,
// CR LF.
std::string dados_text(const Parameters& p);

// The folder of every grid that converges, with its dados.txt, saida.txt,
// u.dat and p.dat, and malhas.dat holding `malhas`; a file that cannot be
// written ends the run with the program's F frame.
void write_grid_files(const std::vector<GridRun>& runs, std::string_view malhas);

}  // namespace moody::convergence
