// The batch pass in vectors of the target's baseline: two doubles (SSE2 on
// x86-64) with the compiler's vector extensions, one double without them.

#include "batch_pass.hpp"
#include "kernels.hpp"

namespace moody::batch {

namespace {
struct Baseline {};  // keeps this unit's instantiations its own
constexpr int kDoubles = kVectorExtensions ? 2 : 1;
}  // namespace

constinit const KernelSet kBaselineKernels = kernel_set<kDoubles, Baseline>();

}  // namespace moody::batch
