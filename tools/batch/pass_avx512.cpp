// The batch pass in AVX-512 vectors of eight doubles.  Built with -mavx512f
// and run only where the processor has it (widths.cpp).

#include "batch_pass.hpp"
#include "kernels.hpp"

#if !defined(__AVX512F__)
#error "pass_avx512.cpp is built with -mavx512f"
#endif

namespace moody::batch {

namespace {
struct Avx512 {};  // keeps this unit's instantiations its own
}  // namespace

constinit const KernelSet kAvx512Kernels = kernel_set<8, Avx512>();

}  // namespace moody::batch
