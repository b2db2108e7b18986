// Whole runs of the built program against the pinned output files of
// golden_cases.hpp, each case in a fresh folder.

#include <gtest/gtest.h>

#include <filesystem>

#include "golden_cases.hpp"
#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using testing::GoldenCase;
using testing::RunResult;

TEST(Golden, WholeRunsWriteThePinnedFiles) {
  for (const GoldenCase& c : testing::kGoldenCases) {
    SCOPED_TRACE(c.name);
    const testing::ScratchDir dir;
    const fs::path tools = dir / "tools";
    const fs::path work = dir / "work";
    fs::create_directory(tools);
    fs::create_directory(work);
    testing::write_script(tools / "notepad", "exit 0\n");
    testing::write_script(tools / "wgnuplot", "exit 0\n");
    testing::write_file(work / "dados.txt", testing::golden_input(c));
    const RunResult r = testing::run_program(work, tools);
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.stderr_, "") << c.name;
    testing::expect_golden_files(c, work);
  }
}

}  // namespace
}  // namespace moody
