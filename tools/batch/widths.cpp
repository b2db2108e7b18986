#include "widths.hpp"

#include "kernels.hpp"

namespace moody::batch {

namespace {
// Whether the processor has the instruction set, the operating system
// saving its registers included (the compiler's probe checks both).
bool processor_has([[maybe_unused]] Width w) {
#if defined(MOODY_BATCH_X86_WIDTHS)
  __builtin_cpu_init();
  switch (w) {
    case Width::kBaseline:
      return true;
    case Width::kAvx2:
      return static_cast<bool>(__builtin_cpu_supports("avx2"));
    case Width::kAvx512:
      return static_cast<bool>(__builtin_cpu_supports("avx2")) &&
             static_cast<bool>(__builtin_cpu_supports("avx512f"));
  }
  return false;
#else
  return w == Width::kBaseline;
#endif
}
}  // namespace

int doubles(Width w) {
  switch (w) {
    case Width::kBaseline:
      return kBaselineKernels.doubles;
    case Width::kAvx2:
      return 4;
    case Width::kAvx512:
      return 8;
  }
  return 1;
}

const char* name(Width w) {
  switch (w) {
    case Width::kBaseline:
      return "baseline";
    case Width::kAvx2:
      return "avx2";
    case Width::kAvx512:
      return "avx512";
  }
  return "?";
}

bool runs_here(Width w) {
  static const bool has[] = {processor_has(Width::kBaseline), processor_has(Width::kAvx2),
                             processor_has(Width::kAvx512)};
  return has[static_cast<unsigned>(w)];
}

Width widest_here() {
  Width widest = Width::kBaseline;
  for (Width w : kWidths) {
    if (runs_here(w)) widest = w;
  }
  return widest;
}

}  // namespace moody::batch
