#pragma once
// The report step: saida.txt, u.dat and p.dat, then the plotter on u.gnu and
// p.gnu and the editor on the report.

#include "control/state.hpp"

namespace moody {

void write_results(SimulationState& s);

}  // namespace moody
