// Storage refusals that need the address space of the process limited, which
// only POSIX systems offer.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>

#include "control/memory.hpp"
#include "control/start.hpp"
#include "control/state.hpp"

namespace moody {
namespace {

// The state's block that the address space limit of the process leaves no
// room for ends the run with the storage frame before any array is sized,
// though the machine has the memory.
TEST(SimulationStateDeathTest, BlockThatCannotBeHad) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
  constexpr int N = 4000000;  // about 800 MB
  if (available_memory() < 1000u << 20) GTEST_SKIP() << "the machine is too small to tell";
  const auto limited = [] {
    // Address space: what the process has now and 64 MB more.
    unsigned long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlimit limit{pages * 4096 + (64ul << 20), RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
    SimulationState s;
    s.N = N;
    size_state(s);
  };
  EXPECT_EXIT(limited(), ::testing::ExitedWithCode(1),
              "^\nrun-time error F3001: storage for the arrays of N = 4000000: [0-9]+ MB "
              "needed, [0-9]+ MB available\n$");
}

}  // namespace
}  // namespace moody
