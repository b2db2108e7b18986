// The room the memory limits of a process leave: control groups read from a
// folder laid out as the kernel lays out /sys/fs/cgroup.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "control/memory.hpp"
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

}  // namespace
}  // namespace moody
