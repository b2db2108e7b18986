// The batch pass in vectors of the target's baseline: two doubles (SSE2 on
// x86-64) with the compiler's vector extensions, one double without them.

#include "batch_pass.hpp"
#include "kernels.hpp"
#include "lanes.hpp"

namespace moody::batch {

namespace {
struct Baseline {};  // keeps this unit's instantiations its own
constexpr int kDoubles = kVectorExtensions ? 2 : 1;
// Every function of the pass inlined into it, so that the lanes stay in
// registers from one formula to the next.
template <int G>
[[gnu::flatten]] void pass(const GridView& g, const GroupView& w) {
  batch_pass<Pack<kDoubles, G, Baseline>>(g, w);
}
}  // namespace

const KernelSet kBaselineKernels{kDoubles, {pass<1>, pass<2>, pass<4>}};

}  // namespace moody::batch
