#pragma once
// The files of the grid study, written so that nothing the user did not name
// is touched and no study's files are left half written: a grid's folder must
// be a real folder (a link or a file of that name is refused), every file is
// written as a new one and put in place only when all are, and a file or a
// link of a table's name is replaced whole, never written through.

#include <string>
#include <vector>

#include "control/state.hpp"
#include "grid_runs.hpp"

namespace moody::convergence {

// The table of the grids, beside their folders.
inline constexpr const char* kTableFile = "malhas.dat";

// The folder of a grid: "malha-N".
std::string folder_of(int N);

// The text of malha-N/dados.txt: the twelve values, each written so that
// the program reads it back to the same bits, one a line with its comment,
// CR LF.
std::string dados_text(const Parameters& p);

// A table of the study, in FOLDER: its name and its text.
struct TableFile {
  std::string name;
  std::string text;
};

// Checks, before any grid runs, that the files of a study on `grids` can be
// written: each malha-N a real folder or missing, no table's name a folder,
// a new folder can be made in FOLDER, and FOLDER's own u.gnu and p.gnu, where
// they are files, can be read.  Ends the run with the program's F frame
// where one cannot.
void check_grid_folders(const std::vector<int>& grids,
                        const std::vector<std::string>& tables = {kTableFile});

// Writes the folder of every grid that converges (dados.txt, saida.txt,
// u.dat, p.dat and the plot scripts u.gnu and p.gnu: FOLDER's own where they
// are files there, else the examples') and then the tables, in their order,
// as one transaction: every file is first written in a new hidden folder
// beside its grid's (a table beside itself), and only when all are written
// is each grid's folder swapped for its old one and each table renamed over
// its old one.  The files the old folder holds besides the grid's go into the
// new folder.  A failure before the swaps, or an interrupt, removes every
// file written and leaves the old ones as they were; a failure ends the run
// with the program's F frame.  Where no grid converges nothing is written.
// Returns what is said at the end of the report: the stale folders, those
// malha-N in FOLDER that are not a grid of this study that converges ("" for
// none; they are kept as they are).
std::string write_grid_files(const std::vector<GridRun>& runs,
                             const std::vector<TableFile>& tables);

}  // namespace moody::convergence
