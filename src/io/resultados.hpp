#pragma once
// The report step: saida.txt, u.dat and p.dat, then the plotter on u.gnu and
// p.gnu and the editor on the report.

#include <string>
#include <vector>

#include "control/state.hpp"

namespace moody {

class Format;

void write_results(SimulationState& s);

// The bytes that write_results puts into saida.txt, u.dat and p.dat for the
// state `s`, record for record, without opening a file or launching anything.
struct ReportTexts {
  std::string saida, u, p;
};
ReportTexts report_texts(const SimulationState& s);

// Every format of the report and the plot files, parsed, in the order of
// their first use: the formats write_results writes through.
std::vector<const Format*> report_formats();

}  // namespace moody
