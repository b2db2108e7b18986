// The batch pass in AVX-512 vectors of eight doubles.  Built with -mavx512f
// and run only where the processor has it (widths.cpp).

#include "batch_pass.hpp"
#include "kernels.hpp"
#include "lanes.hpp"

#if !defined(__AVX512F__)
#error "pass_avx512.cpp is built with -mavx512f"
#endif

namespace moody::batch {

namespace {
struct Avx512 {};  // keeps this unit's instantiations its own
// Every function of the pass inlined into it, so that the lanes stay in
// registers from one formula to the next.
template <int G>
[[gnu::flatten]] void pass(const GridView& g, const GroupView& w) {
  batch_pass<Pack<8, G, Avx512>>(g, w);
}
}  // namespace

const KernelSet kAvx512Kernels{8, {pass<1>, pass<2>, pass<4>}};

}  // namespace moody::batch
