// The batch pass in vectors of the target's baseline: two doubles (SSE2 on
// x86-64) with the compiler's vector extensions, one double without them.

#include "batch_pass.hpp"
#include "kernels.hpp"

namespace moody::batch {

namespace {
constexpr int kDoubles = kVectorExtensions ? 2 : 1;
}  // namespace

// A tag of this unit's own keeps its instantiations apart from those of
// the units built with other flags.
struct BaselineUnit {};
constinit const KernelSet kBaselineKernels = kernel_set<kDoubles, BaselineUnit>();

}  // namespace moody::batch
