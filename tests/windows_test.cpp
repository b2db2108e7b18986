// The Windows build (build-win/moody.exe) run under Wine: the same files as
// the native build, the launches through the command interpreter, and the
// error frames; and build-win/convergence.exe against the native tool.
// Skipped, and said so, when Wine or the Windows build is missing.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using testing::on_path;
using testing::read_file;
using testing::run_command;
using testing::run_program;
using testing::RunResult;
using testing::ScratchDir;
using testing::write_file;
using testing::write_script;

const fs::path kWindowsExe = fs::path(MOODY_SOURCE_DIR) / "build-win" / "moody.exe";
const fs::path kWindowsTool = fs::path(MOODY_SOURCE_DIR) / "build-win" / "convergence.exe";

class UnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!on_path("wine")) GTEST_SKIP() << "Windows leg skipped: wine is not installed";
    if (!fs::exists(kWindowsExe)) {
      GTEST_SKIP() << "Windows leg skipped: " << kWindowsExe << " is not built";
    }
    fs::create_directory(work());
    fs::copy_file(kWindowsExe, work() / "moody.exe");
    // Stand-ins that cmd.exe finds in the current folder before any program
    // of the system; they log how they were called.
    write_file(work() / "notepad.bat", "@echo notepad %*>> launches.log\r\n");
    write_file(work() / "wgnuplot.bat", "@echo wgnuplot %*>> launches.log\r\n");
  }

  fs::path work() const { return dir_ / "work"; }

  std::string example() const {
    return read_file(fs::path(MOODY_SOURCE_DIR) / "examples" / "dados.txt");
  }

  // Runs moody.exe with COMSPEC as the Windows side sees it: `comspec` empty
  // removes it from the environment, otherwise sets it.
  RunResult run(const std::string& comspec) {
    return run_command(work(), {"wine", "cmd", "/c", "set COMSPEC=" + comspec + "&& moody.exe"},
                       {{"WINEDEBUG", "-all"}});
  }

  std::string launches() const {
    const fs::path log = work() / "launches.log";
    return fs::exists(log) ? read_file(log) : "";
  }

  ScratchDir dir_;
};

const char* const kAllLaunches =
    "notepad dados.txt\r\nwgnuplot u.gnu\r\nwgnuplot p.gnu\r\nnotepad saida.txt\r\n";

TEST_F(UnderWine, WritesTheSameFilesAsTheNativeBuild) {
  write_file(work() / "dados.txt", example());
  const RunResult windows = run("C:\\windows\\system32\\cmd.exe");
  ASSERT_EQ(windows.status, 0) << windows.stderr_;

  const fs::path native = dir_ / "native";
  const fs::path tools = dir_ / "tools";
  fs::create_directory(native);
  fs::create_directory(tools);
  write_script(tools / "notepad", "exit 0\n");
  write_script(tools / "wgnuplot", "exit 0\n");
  write_file(native / "dados.txt", example());
  ASSERT_EQ(run_program(native, tools).status, 0);

  for (const char* name : {"saida.txt", "u.dat", "p.dat"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(work() / name));
    EXPECT_TRUE(read_file(work() / name) == read_file(native / name));
  }
}

TEST_F(UnderWine, LaunchesGoThroughTheInterpreterInOrder) {
  write_file(work() / "dados.txt", example());
  // COMSPEC unset: "cmd.exe" is the interpreter.
  RunResult r = run("");
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(launches(), kAllLaunches);

  // COMSPEC set: that interpreter.
  fs::remove(work() / "launches.log");
  r = run("C:\\windows\\system32\\cmd.exe");
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(launches(), kAllLaunches);

  // COMSPEC naming no program: nothing is launched, and the run still ends well.
  fs::remove(work() / "launches.log");
  fs::remove(work() / "saida.txt");
  r = run("C:\\nowhere\\cmd.exe");
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(launches(), "");
  EXPECT_TRUE(fs::exists(work() / "saida.txt"));
}

TEST_F(UnderWine, FailuresEndWithTheirFrameAndStatusOne) {
  std::string bad = example();
  bad.replace(0, 2, "3.0");  // N = 3.0 is not an integer
  write_file(work() / "dados.txt", bad);
  RunResult r = run("");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.stderr_.find("\nrun-time error F2002: dados.txt"), std::string::npos) << r.stderr_;

  std::string no_time_step = example();
  no_time_step.replace(no_time_step.find("1.0D-2"), 6, "0.0   ");
  write_file(work() / "dados.txt", no_time_step);
  r = run("");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.stderr_.find("\nrun-time error M4001: floating-point divide by zero in "),
            std::string::npos)
      << r.stderr_;
  EXPECT_FALSE(fs::exists(work() / "saida.txt"));
}

struct ToolRun {
  int status = -1;
  std::string out;  // standard output, line ends as LF, the line naming the folder left out
};

// Runs `argv` in `dir` with standard output caught beside it.
ToolRun run_tool(const fs::path& dir, std::vector<std::string> argv) {
  argv.insert(argv.begin(), {"sh", "-c", "exec \"$@\" > ../stdout.txt", "sh"});
  ToolRun r;
  r.status = run_command(dir, argv, {{"WINEDEBUG", "-all"}}).status;
  std::istringstream lines(read_file(dir.parent_path() / "stdout.txt"));
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("folder: ", 0) != 0) r.out += line + "\n";
  }
  return r;
}

// The verification duct (L = 1 m, D0 = 0.1 m, cd = 0.05) on N nodes.
std::string duct(int N, const std::string& dt) {
  return std::to_string(N) + "\n1.0\n1.0E-3\n1000.\n0.02\n1.0\n0.1\n0.05\n" + dt + "\n1\n300\n20\n";
}

// The Windows convergence tool says what the native one says, with the same
// exit status, and writes the same residuos.dat: a run that converges within
// itmax, one that needs more, one below the floor, one that diverges, and a
// window search.  Its passes run with the traps masked and the flags tested
// after each, which the Windows C library must do as glibc does.
TEST_F(UnderWine, ConvergenceGivesTheNativeVerdicts) {
  if (!fs::exists(kWindowsTool)) GTEST_SKIP() << kWindowsTool << " is not built";
  fs::copy_file(kWindowsTool, work() / "convergence.exe");
  std::string below = example();
  below.replace(below.find("1.0D-2"), 6, "0.001 ");
  const struct {
    std::string dados;
    const char* args;
    int status;
  } rows[] = {
      {duct(12, "0.1"), "", 0},
      {example(), "", 3},
      {below, "", 4},
      {duct(162, "1.7"), "", 4},
      {duct(42, "0.1"), "--window", 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.dados.substr(0, row.dados.find('\n')) + " " + row.args);
    write_file(work() / "dados.txt", row.dados);
    fs::remove(work() / "residuos.dat");
    std::vector<std::string> native = {CONVERGENCE_BINARY};
    std::vector<std::string> windows = {"wine", "convergence.exe"};
    if (*row.args != '\0') {
      native.push_back(row.args);
      windows.push_back(row.args);
    }
    const ToolRun n = run_tool(work(), native);
    const std::string native_residuals =
        fs::exists(work() / "residuos.dat") ? read_file(work() / "residuos.dat") : "";
    fs::remove(work() / "residuos.dat");
    const ToolRun w = run_tool(work(), windows);
    EXPECT_EQ(n.status, row.status);
    EXPECT_EQ(w.status, row.status);
    EXPECT_EQ(w.out, n.out);
    const std::string windows_residuals =
        fs::exists(work() / "residuos.dat") ? read_file(work() / "residuos.dat") : "";
    EXPECT_TRUE(windows_residuals == native_residuals);
  }
}

}  // namespace
}  // namespace moody
