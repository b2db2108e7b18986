#pragma once
// The report of the grid study: the table of the grids, the five lines of
// the estimate, the procedure behind them and the verdict on standard
// output, and the text of malhas.dat.

#include <string>
#include <vector>

#include "grid_estimate.hpp"
#include "grid_options.hpp"
#include "grid_runs.hpp"

namespace moody::convergence {

// Exit status: the study complete, but the three finest grids do not
// converge monotonically (the others are those of report.hpp).
inline constexpr int kExitNotMonotonic = 5;

// The iteration error counts as negligible below this fraction of the
// discretisation error.
inline constexpr double kNegligible = 0.01;

struct GridReport {
  std::string text;  // from the table to the line "grid study: ..."
  int status = 0;
};

// The report of the study on `runs`, whose files are those of `written`
// (the same runs, or those of an earlier round of a study to a target).
GridReport grid_report(const std::vector<GridRun>& runs, const Estimate& e,
                       const GridOptions& options, const std::vector<GridRun>& written);

// The report of a round that is not the last: the table, the estimate and
// its procedure, without the files, which only the last round writes.
std::string round_report(const std::vector<GridRun>& runs, const Estimate& e,
                         const GridOptions& options);

// malhas.dat: a comment line, then one line per grid that converges: N, dx,
// dt, passes, the outlet pressure and its estimated and true errors, CR LF.
std::string malhas_text(const std::vector<GridRun>& runs, const Estimate& e);

// malhas.csv, the table for a spreadsheet or a report: a header line, then
// one line per grid: N, dx, dt, passes, the outlet pressure, its estimated
// and true errors in Pa and in percent, and the GCI of the two finest grids
// (empty where it does not apply); comma-separated, a dot for the decimals,
// ten significant digits, CR LF.
inline constexpr const char* kCsvFile = "malhas.csv";
std::string malhas_csv(const std::vector<GridRun>& runs, const Estimate& e);

// The paragraph for the methods section of a report, flowed to the width
// of the console: it starts with "for the report: " and says the method,
// the grids, the observed order, the extrapolated value, the finest grid's
// GCI, whether its band holds the exact value of the 1-D model, and the
// result as a rise or a drop of the pressure from the inlet to the outlet.
std::string report_paragraph(const Estimate& e);

}  // namespace moody::convergence
