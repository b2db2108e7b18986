// The batch pass in AVX2 vectors of four doubles.  Built with -mavx2 and run
// only where the processor has it (widths.cpp).

#include "batch_pass.hpp"
#include "kernels.hpp"

#if !defined(__AVX2__)
#error "pass_avx2.cpp is built with -mavx2"
#endif

namespace moody::batch {

namespace {
struct Avx2 {};  // keeps this unit's instantiations its own
}  // namespace

constinit const KernelSet kAvx2Kernels = kernel_set<4, Avx2>();

}  // namespace moody::batch
