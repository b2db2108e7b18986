// The built program against what users do to it, each case in a fresh
// folder that already holds the files of an earlier run: input files that
// cannot be read, parameters that make the scheme fault, output files that
// cannot be written, and the extremes of N and itmax.  Every case checks the
// exit status, the whole of standard error, the files left behind and the
// programs launched.  (e2e_test.cpp has the first cases of each kind.)

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using testing::example_with;
using testing::read_file;
using testing::run_program;
using testing::RunResult;
using testing::ScratchDir;
using testing::write_file;
using testing::write_script;

// Left by an earlier run; a failed run must not touch them.
const char* const kOlder[][2] = {
    {"saida.txt", "older report\r\n"},
    {"u.dat", "older u\r\n"},
    {"p.dat", "older p\r\n"},
};

// The cases change one line of the example that ships with the program.
TEST(FailureMatrix, CasesStartFromTheShippedExample) {
  EXPECT_EQ(read_file(fs::path(MOODY_SOURCE_DIR) / "examples" / "dados.txt"),
            testing::kExampleInput);
}

// One run: a fresh folder with stand-ins for the editor and the plotter that
// log their arguments, the earlier run's files, and dados.txt.
class Folder {
 public:
  Folder() {
    fs::create_directory(tools());
    fs::create_directory(work());
    write_script(tools() / "notepad", "echo \"notepad $*\" >> ../launches.log\n");
    write_script(tools() / "wgnuplot", "echo \"wgnuplot $*\" >> ../launches.log\n");
    for (const auto& [name, bytes] : kOlder)
      write_file(file(name), bytes);
  }

  fs::path tools() const { return dir_ / "tools"; }
  fs::path work() const { return dir_ / "work"; }
  fs::path file(const std::string& name) const { return work() / name; }

  RunResult run() { return run_program(work(), tools()); }
  // As a user whom file permissions stop, even when the tests run as root.
  RunResult run_unprivileged() {
    return testing::run_program_unprivileged(dir_.path(), work(), tools());
  }
  RunResult run(const std::string& dados) {
    write_file(file("dados.txt"), dados);
    return run();
  }

  // The convergence tool, as "$0" of the shell line `line`, in the case folder.
  RunResult run_tool(const std::string& line) const {
    return testing::run_command(work(), {"sh", "-c", line, CONVERGENCE_BINARY});
  }

  std::string launches() const {
    return fs::exists(dir_ / "launches.log") ? read_file(dir_ / "launches.log") : "";
  }

 private:
  ScratchDir dir_;
};

const char* const kAllLaunches =
    "notepad dados.txt\nwgnuplot u.gnu\nwgnuplot p.gnu\nnotepad saida.txt\n";

// Exit status 1 and one frame: a leading line break, one line that starts
// with `head`, a closing line break, and only printable bytes between.
void expect_one_frame(const RunResult& r, const std::string& head) {
  EXPECT_EQ(r.status, 1);
  const std::string& e = r.stderr_;
  EXPECT_EQ(e.rfind("\nrun-time error " + head, 0), 0u) << e;
  ASSERT_GE(e.size(), 2u);
  EXPECT_EQ(e.find('\n', 1), e.size() - 1) << e;
  for (std::size_t k = 1; k + 1 < e.size(); ++k) {
    EXPECT_GE(static_cast<unsigned char>(e[k]), 0x20u) << "byte " << k << " of " << e;
  }
}

// The earlier run's files are there, byte for byte.
void expect_older_files(const Folder& f) {
  for (const auto& [name, bytes] : kOlder) {
    ASSERT_TRUE(fs::is_regular_file(f.file(name))) << name;
    EXPECT_EQ(read_file(f.file(name)), bytes) << name;
  }
}

// A complete report: its last line is the row of face N-1, and the plot
// files have a line for each node.
void expect_new_report(const Folder& f, int N, bool with_u_dat = true) {
  const std::string saida = read_file(f.file("saida.txt"));
  ASSERT_GE(saida.size(), 2u);
  EXPECT_EQ(saida.substr(saida.size() - 2), "\r\n");
  const std::size_t last = saida.rfind("\r\n", saida.size() - 3) + 2;
  const std::string index = std::to_string(N - 1);
  EXPECT_EQ(saida.substr(last, 10), std::string(10 - index.size(), ' ') + index);
  if (with_u_dat) {
    EXPECT_EQ(read_file(f.file("u.dat")).size(), static_cast<std::size_t>(N) * 47);
  }
  EXPECT_EQ(read_file(f.file("p.dat")).size(), static_cast<std::size_t>(N) * 47);
}

struct Case {
  const char* what;
  std::string dados;
  std::string frame;  // the frame's head, through the code and ": " at least
};

// Each failure of the input file stops the run after the editor and before
// anything is written.
TEST(FailureMatrix, InputFileThatCannotBeReadLeavesTheEarlierRunAlone) {
  const Case cases[] = {
      {"empty file", "", "F2001: dados.txt, line 1, value of N: end of file"},
      {"blank lines only", " \n\t\r\n\n", "F2001: dados.txt, line 4, value of N: end of file"},
      {"eleven values, no last line end",
       example_with(12, "").substr(0, example_with(12, "").size() - 2),
       "F2001: dados.txt, line 11, value of itmaxm: end of file"},
      {"integer with an exponent", example_with(11, "3e2   itmax"), "F2002: "},
      {"based integer with a digit too large", example_with(12, "16#fg"), "F2002: "},
      {"byte-order mark of UTF-16 big-endian before single-byte text",
       "\xFE\xFF" + example_with(0, ""),
       "F2002: dados.txt, line 1, value of N: invalid integer \"????"},
      {"integer below the range", example_with(1, "-2147483649"), "F2003: "},
      {"NUL byte in a real", example_with(3, std::string("1.0E-3\0", 7)),
       "F2004: dados.txt, line 3, value of mi: invalid real \"1.0E-3\\x00\""},
      {"hexadecimal real", example_with(2, "0x10"), "F2004: "},
      {"real beyond double precision", example_with(4, "-1D400"), "F2005: "},
      {"character constant", example_with(5, "\"0.02\""), "F2006: "},
      {"complex constant", example_with(6, "(1.0,0.0)"), "F2007: "},
      {"repeat count of zero", example_with(11, "00*300"), "F2008: "},
      {"N = 1", example_with(1, "1"), "F2009: dados.txt: N = 1 is less than 2"},
      {"N = -2147483648", example_with(1, "-2147483648"), "F2009: "},
      // A comma for the decimal mark, values the duct or the fluid cannot have.
      {"f = 0,02", example_with(5, "0,02     f   Darcy"),
       "F2004: dados.txt, line 5, value of f: invalid real \"0,02\": a comma may not stand in a "
       "number; the decimal mark is a full stop\n"},
      {"L = 2,5", example_with(2, "2,5"), "F2004: dados.txt, line 2, value of L: "},
      {"dt = -0.2", example_with(9, "-0.2"),
       "F2011: dados.txt: dt = -0.2: the time step cannot be negative\n"},
      {"L = -2", example_with(2, "-2"),
       "F2011: dados.txt: L = -2: the length of the duct must be positive\n"},
      {"ro < 0", example_with(4, "-1000."), "F2011: dados.txt: ro = -1000: "},
      {"f < 0", example_with(5, "-50"), "F2011: dados.txt: f = -50: "},
      {"mi < 0", example_with(3, "-1.0E-3"), "F2011: dados.txt: mi = -0.001: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder f;
    const RunResult r = f.run(c.dados);
    expect_one_frame(r, c.frame);
    expect_older_files(f);
    EXPECT_EQ(f.launches(), "notepad dados.txt\n");
  }
}

TEST(FailureMatrix, InputFileThatCannotBeOpenedOrRead) {
  {
    SCOPED_TRACE("a folder named dados.txt");
    Folder f;
    fs::create_directory(f.file("dados.txt"));
    expect_one_frame(f.run(),
                     "F1001: dados.txt: the file cannot be opened: a folder has that name: "
                     "rename or remove the folder");
    expect_older_files(f);
  }
  {
    SCOPED_TRACE("no dados.txt: an empty one is created, and the frame says so");
    Folder f;
    expect_one_frame(f.run(),
                     "F2001: dados.txt did not exist; an empty one was created: write the "
                     "twelve values in it\n");
    EXPECT_EQ(read_file(f.file("dados.txt")), "");
    expect_older_files(f);
  }
  {
    SCOPED_TRACE("a link into a missing folder: the file cannot be created");
    Folder f;
    fs::create_symlink("missing/dados.txt", f.file("dados.txt"));
    expect_one_frame(f.run(),
                     "F1001: dados.txt: the missing file cannot be created: its folder "
                     "does not exist");
    expect_older_files(f);
  }
  if (fs::exists("/proc/self/mem")) {
    SCOPED_TRACE("a file whose bytes cannot be read");
    Folder f;
    fs::create_symlink("/proc/self/mem", f.file("dados.txt"));
    expect_one_frame(f.run(), "F2010: dados.txt: the file cannot be read");
    expect_older_files(f);
  }
}

// A name that holds no plain file is refused before a byte is read: a named
// pipe would hold the run until something writes into it, and a device
// may never end.
TEST(FailureMatrix, InputThatIsNoFileIsRefusedUnread) {
  const std::string head = "F1001: dados.txt: the file cannot be opened: ";
  const struct {
    const char* what;
    std::vector<std::string> make;
    std::string frame;
  } cases[] = {
      {"a named pipe",
       {"mkfifo", "dados.txt"},
       head + "a named pipe (FIFO) has that name, not a file: remove or rename it\n"},
      {"a link to a device",
       {"ln", "-s", "/dev/zero", "dados.txt"},
       head + "a device has that name, not a file: remove or rename it\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Folder f;
    ASSERT_EQ(testing::run_command(f.work(), c.make).status, 0);
    expect_one_frame(f.run(), c.frame);
    expect_older_files(f);
    EXPECT_EQ(f.launches(), "notepad dados.txt\n");
  }
}

TEST(FailureMatrix, InputFileWithoutReadPermission) {
  Folder f;
  write_file(f.file("dados.txt"), example_with(0, ""));
  fs::permissions(f.file("dados.txt"), fs::perms::owner_write);
  expect_one_frame(f.run_unprivileged(),
                   "F1001: dados.txt: the file cannot be opened: permission denied: is it open in "
                   "another program, or not readable to you?");
  expect_older_files(f);
}

// Parameters that make the scheme fault: the trap stops the run at once, no
// report is written, and the frame says which parameter to change and how.
TEST(FailureMatrix, FloatingPointFaultsSayWhatToChange) {
  const std::string in_sweep =
      "M4001: floating-point divide by zero in momentum back substitution, face velocities and "
      "velocity-correction coefficients, outer iteration 1: ";
  const Case cases[] = {
      {"dt = 0", example_with(9, "0.0   dt"),
       "M4001: floating-point divide by zero in momentum coefficients and forward sweep, "
       "outer iteration 1: dt = 0: the transient term Mp/dt needs a time step; give dt > 0, "
       "at least about 0.00161 s (the estimated floor for N = 52)\n"},
      // The smallest grid runs the plain steps, and names the fault alike.
      {"dt = 0 at N = 3", "3\n2.0\n1.0E-3\n1000.\n0.02\n1.0\n0.05\n0.01\n0.0\n1\n300\n20\n",
       "M4001: floating-point divide by zero in momentum coefficients and forward sweep, "
       "outer iteration 1: dt = 0: the transient term Mp/dt needs a time step; give dt > 0, "
       "at least about 4e-294 s (the estimated floor for N = 3)\n"},
      {"Uin = 0", example_with(6, "0   Uin"),
       "M4003: floating-point invalid in momentum back substitution, face velocities and "
       "velocity-correction coefficients, outer iteration 1: Uin = 0: with no inflow the fluid "
       "stays at rest and the outlet's flow scaling is 0/0; give Uin > 0\n"},
      {"N = 2", example_with(1, "2   N"),
       "M4001: floating-point divide by zero in grid width dx = L/(N-2): N = 2 leaves no volume "
       "between the inlet and outlet nodes: N must be at least 3\n"},
      {"mi = 0", example_with(3, "0   mi"),
       in_sweep + "mi = 0: without viscosity the first pass cannot carry the inlet velocity from "
                  "rest to the outlet; give mi > 0\n"},
      // The example's dt on twice as fine a grid: below the first pass's floor.
      {"dt below the floor", example_with(1, "102   N"),
       in_sweep + "dt = 0.01 s is below 0.401 s, the estimated floor for N = 102: from rest the "
                  "first pass could not carry the inlet velocity to the outlet; use dt >= 0.401 s "
                  "(a little less may do), or fewer volumes\n"},
      // A wider duct on a finer grid: dt = 5 s is above the window, and the
      // iteration grows until it overflows.
      {"dt above the window", "82\n1.0\n1.0E-3\n1000.\n0.02\n1.0\n0.1\n0.05\n5.0\n1\n20000\n20\n",
       "M4002: floating-point overflow in pressure-correction back substitution and correction "
       "step, outer iteration 3141: the iteration diverged: dt = 5 s is probably above this "
       "grid's window; lower dt, but not below about 0.0278 s, the estimated floor for N = 82 (or "
       "use fewer volumes)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Folder f;
    const RunResult r = f.run(c.dados);
    expect_one_frame(r, c.frame);
    expect_older_files(f);
    EXPECT_EQ(f.launches(), "notepad dados.txt\n");
  }
}

TEST(FailureMatrix, PlotFileThatCannotBeOpenedLeavesTheEarlierReportWhole) {
  for (const char* name : {"u.dat", "p.dat"}) {
    SCOPED_TRACE(name);
    Folder f;
    fs::remove(f.file(name));
    fs::create_directory(f.file(name));
    expect_one_frame(f.run(example_with(0, "")),
                     std::string("F1001: ") + name +
                         ": the file cannot be opened for writing: a folder has that name: rename "
                         "or remove the folder");
    EXPECT_EQ(read_file(f.file("saida.txt")), "older report\r\n");
    EXPECT_EQ(f.launches(), "notepad dados.txt\n");
  }
}

TEST(FailureMatrix, FullDiskUnderAPlotFileIsAnFError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  Folder f;
  fs::remove(f.file("u.dat"));
  fs::create_symlink("/dev/full", f.file("u.dat"));
  expect_one_frame(f.run(example_with(0, "")),
                   "F1002: u.dat: the file cannot be written: the disk is full: free some space "
                   "and run the case again");
  // The report was closed before u.dat failed; p.dat keeps what it was given.
  expect_new_report(f, 52, false);
  EXPECT_EQ(f.launches(), "notepad dados.txt\n");
}

TEST(FailureMatrix, ReadOnlyFolderIsAnFError) {
  Folder f;
  write_file(f.file("dados.txt"), example_with(0, ""));
  for (const auto& [name, bytes] : kOlder)
    fs::remove(f.file(name));
  fs::permissions(f.work(), fs::perms::owner_read | fs::perms::owner_exec);
  expect_one_frame(f.run_unprivileged(),
                   "F1001: saida.txt: the file cannot be opened for writing: permission denied: "
                   "is the file or its folder read-only, or the file open in another program?");
  fs::permissions(f.work(), fs::perms::owner_all);
  EXPECT_FALSE(fs::exists(f.file("saida.txt")));
  EXPECT_EQ(f.launches(), "notepad dados.txt\n");
}

// The extremes of N and itmax: a complete run, or a clean refusal.
TEST(FailureMatrix, ExtremesOfNAndItmax) {
  {
    SCOPED_TRACE("N = 3, one real volume");
    Folder f;
    const RunResult r = f.run(example_with(1, "3"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.stderr_, "");
    expect_new_report(f, 3);
    EXPECT_EQ(f.launches(), kAllLaunches);
  }
  for (const char* itmax : {"0", "-7"}) {
    SCOPED_TRACE(std::string("itmax = ") + itmax);
    Folder f;
    const RunResult r = f.run(example_with(11, itmax));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.stderr_, "");
    expect_new_report(f, 52);
    // No pass: the velocities are the inlet value and zeros.
    EXPECT_EQ(read_file(f.file("u.dat")).substr(47, 47),
              "     2.000000000E-02    0.000000000000000E+00\r\n");
    EXPECT_EQ(f.launches(), kAllLaunches);
  }
  {
    SCOPED_TRACE("N = 2147483647");
    Folder f;
    expect_one_frame(f.run(example_with(1, "2147483647")),
                     "F3001: storage for the arrays of N = 2147483647: ");
    expect_older_files(f);
    EXPECT_EQ(f.launches(), "notepad dados.txt\n");
  }
}

// The convergence tool in a folder that holds the residuos.dat of an earlier
// run: a run that ends replaces it whole, one that is stopped leaves it as
// it was, and neither leaves a file of its own beside it; a report that
// cannot reach standard output is a failure.
TEST(FailureMatrix, ConvergenceToolSaysItsFailuresAndKeepsTheEarlierResiduals) {
  // About a second of passes: 4000 volumes, run to the cap.
  const std::string slow = "4002\n1.0\n1.0E-3\n1000.\n0.02\n1.0\n0.1\n0.05\n3.0\n1\n300\n20\n";
  // Stops the tool once its new file is there (or after five seconds).
  const std::string stop =
      "\"$0\" > out.txt & n=0; until ls .residuos.dat.* > /dev/null 2>&1 || [ $n -ge 500 ]; "
      "do sleep 0.01; n=$((n + 1)); done; kill -";
  const std::string older = "older residuals\r\n";
  const char* const full =
      "convergence: standard output cannot be written: the disk is full: free some space";
  const struct {
    const char* what;
    std::string dados;
    std::string line;
    int status;
    const char* said;  // how standard error starts; nullptr: not checked
    bool kept;         // the earlier residuos.dat is there
  } cases[] = {
      {"a run to its end", testing::kExampleInput, "\"$0\" > out.txt", 3, "", false},
      {"stopped by SIGTERM", slow, stop + "TERM $!; wait $!", 128 + 15, nullptr, true},
      {"stopped by SIGHUP", slow, stop + "HUP $!; wait $!", 128 + 1, nullptr, true},
      // A verdict that is lost is a failure, said on standard error.
      {"the verdict to a full disk", testing::kExampleInput, "\"$0\" > /dev/full", 1, full, false},
      {"--window to a full disk", testing::kExampleInput, "\"$0\" --window > /dev/full", 1, full,
       true},
      {"--grid to a full disk", testing::kExampleInput, "\"$0\" --grid > /dev/full", 1, full, true},
      {"standard output closed", testing::kExampleInput, "\"$0\" >&-", 1,
       "convergence: standard output is closed; what it should hold is lost\n", false},
      // The program's frame, without waiting for a writer.
      {"dados.txt a named pipe", "", "rm dados.txt && mkfifo dados.txt && timeout 20 \"$0\"", 1,
       "\nrun-time error F1001: dados.txt: the file cannot be opened: a named pipe", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.line.find("/dev/full") != std::string::npos && !fs::exists("/dev/full")) continue;
    Folder f;
    write_file(f.file("residuos.dat"), older);
    write_file(f.file("dados.txt"), c.dados);
    const RunResult r = f.run_tool(c.line);
    EXPECT_EQ(r.status, c.status) << r.stderr_;
    if (c.said != nullptr) {
      EXPECT_EQ(r.stderr_.rfind(c.said, 0), 0u) << r.stderr_;
    }
    const std::string residuals = read_file(f.file("residuos.dat"));
    if (c.kept) {
      EXPECT_EQ(residuals, older);
    } else {
      EXPECT_EQ(residuals.rfind("#   pass", 0), 0u) << residuals.substr(0, 80);
    }
    for (const auto& entry : fs::directory_iterator(f.work()))
      EXPECT_NE(entry.path().filename().string().rfind(".residuos", 0), 0u) << entry.path();
  }
}

}  // namespace
}  // namespace moody
