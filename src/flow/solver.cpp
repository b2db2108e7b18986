#include "flow/solver.hpp"

namespace moody {

// Not written yet: lands with the flow solver.
void tdma(int, const Array1&, const Array1&, const Array1&, const Array1&, Array1&) {}

}  // namespace moody
