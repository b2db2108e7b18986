// The batch pass in AVX2 vectors of four doubles.  Built with -mavx2 and run
// only where the processor has it (widths.cpp).

#include "batch_pass.hpp"
#include "kernels.hpp"
#include "lanes.hpp"

#if !defined(__AVX2__)
#error "pass_avx2.cpp is built with -mavx2"
#endif

namespace moody::batch {

namespace {
struct Avx2 {};  // keeps this unit's instantiations its own
// Every function of the pass inlined into it, so that the lanes stay in
// registers from one formula to the next.
template <int G>
[[gnu::flatten]] void pass(const GridView& g, const GroupView& w) {
  batch_pass<Pack<4, G, Avx2>>(g, w);
}
}  // namespace

const KernelSet kAvx2Kernels{4, {pass<1>, pass<2>, pass<4>}};

}  // namespace moody::batch
