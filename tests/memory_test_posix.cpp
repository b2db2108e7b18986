// The room the memory limits of a process leave: control groups read from a
// folder laid out as the kernel lays out /sys/fs/cgroup, and the address
// space limit of the process, which the tools' searches and studies are
// sized against before they start.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/memory.hpp"
#include "control/start.hpp"
#include "grid_runs.hpp"
#include "io/input_values.hpp"
#include "lane_trials.hpp"
#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using testing::ScratchDir;
using testing::write_file;

constexpr std::uint64_t kMiB = 1u << 20;

struct CgroupCase {
  const char* what;
  const char* membership;  // the /proc/<pid>/cgroup text
  // Files under the hierarchy's root: path, contents.
  std::vector<std::pair<const char*, std::string>> files;
  std::optional<std::uint64_t> room;
};

std::string mib(std::uint64_t n) {
  return std::to_string(n * kMiB) + "\n";
}

TEST(Memory, ControlGroupRoomIsTheLeastOfEveryLevel) {
  const std::vector<CgroupCase> cases = {
      {"unified: limit less usage, the droppable file cache counted as room",
       "0::/job/step\n",
       {{"job/step/memory.max", mib(3072)},
        {"job/step/memory.current", mib(1000)},
        {"job/step/memory.stat", "anon 1\ninactive_file " + mib(200) + "active_file 5\n"}},
       (3072 - 800) * kMiB},
      {"unified: no limit anywhere", "0::/job\n", {{"job/memory.max", "max\n"}}, std::nullopt},
      {"unified: a parent's limit binds a child without one",
       "0::/job/step\n",
       {{"job/step/memory.max", "max\n"},
        {"job/memory.max", mib(512)},
        {"job/memory.current", mib(12)}},
       500 * kMiB},
      {"unified beside the older hierarchies",
       "4:cpu:/\n0::/job\n",
       {{"unified/job/memory.max", mib(64)}, {"unified/job/memory.current", mib(4)}},
       60 * kMiB},
      {"older hierarchy, memory among other controllers",
       "7:cpu,memory:/box\n0::/\n",
       {{"memory/box/memory.limit_in_bytes", mib(2048)},
        {"memory/box/memory.usage_in_bytes", mib(100)},
        {"memory/box/memory.stat", "cache 9\ntotal_inactive_file " + mib(50)},
        {"memory/memory.limit_in_bytes", "9223372036854771712\n"}},
       (2048 - 50) * kMiB},
      {"usage past the limit leaves nothing",
       "0::/full\n",
       {{"full/memory.max", mib(100)}, {"full/memory.current", mib(101)}},
       0},
      {"a group outside the mount: the mount's own level",
       "3:memory:/host/elsewhere\n",
       {{"memory/memory.limit_in_bytes", mib(256)}},
       256 * kMiB},
      {"a controller named like memory is not it",
       "5:memoryx:/a\n",
       {{"memory/a/memory.limit_in_bytes", mib(1)}},
       std::nullopt},
  };
  for (const CgroupCase& c : cases) {
    const ScratchDir dir;
    for (const auto& [path, bytes] : c.files) {
      fs::create_directories((dir / path).parent_path());
      write_file(dir / path, bytes);
    }
    write_file(dir / "cgroup", c.membership);
    const std::optional<std::uint64_t> room =
        cgroup_room((dir / "cgroup").string(), dir.path().string());
    EXPECT_EQ(room, c.room) << c.what;
  }
  EXPECT_EQ(cgroup_room("/nonexistent/cgroup", "/nonexistent"), std::nullopt);
}

// Under an address space limit that holds the state of a grid but not the
// lanes of its search, or not every grid of a study with the finest grid's
// lanes, the tool stops with the storage frame before the lanes or the grids
// are had.
TEST(MemoryDeathTest, SearchesAndStudiesThatDoNotFitStopBeforeTheyStart) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer needs more address space than the limit leaves";
#endif
  constexpr int N = 200000;  // a state of about 40 MB, its search about 2 GB
  if (available_memory() < 3000 * kMiB) GTEST_SKIP() << "the machine is too small to tell";
  SimulationState dados;
  ASSERT_FALSE(parse_input(testing::kExampleInput, dados).has_value());
  const auto limit_to_200_MB_more = [] {
    unsigned long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    const rlimit limit{pages * 4096 + 200 * kMiB, RLIM_INFINITY};
    setrlimit(RLIMIT_AS, &limit);
  };
  const auto search = [&] {
    SimulationState s = dados;
    s.N = N;
    limit_to_200_MB_more();
    size_state(s);
    convergence::search_window_in_lanes(s, nullptr, 2);
  };
  EXPECT_EXIT(search(), ::testing::ExitedWithCode(1),
              "^\nrun-time error F3001: storage for the lanes of the search on N = 200000: "
              "[0-9]+ MB needed, [0-9]+ MB available\n$");
  const auto study = [&] {
    limit_to_200_MB_more();
    convergence::sized_grids(dados, {52, 102, N});
  };
  EXPECT_EXIT(study(), ::testing::ExitedWithCode(1),
              "^\nrun-time error F3001: storage for the grids of the study, N = 52 to 200000: "
              "[0-9]+ MB needed, [0-9]+ MB available\n$");
}

}  // namespace
}  // namespace moody
