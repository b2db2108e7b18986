// The batch pass in AVX2 vectors of four doubles.  Built with -mavx2 and run
// only where the processor has it (widths.cpp).

#include "batch_pass.hpp"
#include "kernels.hpp"

namespace moody::batch {

// A tag of this unit's own keeps its instantiations apart from those of
// the units built with other flags.
struct Avx2Unit {};
constinit const KernelSet kAvx2Kernels = kernel_set<4, Avx2Unit>();

}  // namespace moody::batch
