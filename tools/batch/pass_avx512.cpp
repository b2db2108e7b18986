// The batch pass in AVX-512 vectors of eight doubles.  Built with -mavx512f
// and run only where the processor has it (widths.cpp).

#include "batch_pass.hpp"
#include "kernels.hpp"

namespace moody::batch {

// A tag of this unit's own keeps its instantiations apart from those of
// the units built with other flags.
struct Avx512Unit {};
constinit const KernelSet kAvx512Kernels = kernel_set<8, Avx512Unit>();

}  // namespace moody::batch
