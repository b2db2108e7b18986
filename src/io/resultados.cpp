#include "io/resultados.hpp"

namespace moody {

// Not written yet: lands with the formatter.
void write_results(SimulationState&) {}

}  // namespace moody
