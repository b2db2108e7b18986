#pragma once
// The vector widths a batch can run at, and which of them this processor
// runs: chosen when the program runs, so that one executable runs on any
// x86-64 machine and uses the widest unit it finds.

namespace moody::batch {

enum class Width : unsigned char {
  kBaseline,  // SSE2, two doubles (one without the compiler's vector extensions)
  kAvx2,      // four doubles
  kAvx512,    // eight doubles (AVX-512F)
};
inline constexpr Width kWidths[] = {Width::kBaseline, Width::kAvx2, Width::kAvx512};

// Doubles per vector.
int doubles(Width w);
// "baseline", "avx2", "avx512".
const char* name(Width w);
// True when this build has the width's passes and this processor (and its
// operating system) can run them.
bool runs_here(Width w);
// The widest width that runs here.
Width widest_here();

}  // namespace moody::batch
