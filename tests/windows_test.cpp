// The Windows build (build-win/moody.exe) run under Wine: the same files as
// the native build and the pinned ones of golden_cases.hpp, the launches
// through the command interpreter and only through it, the error frames,
// dados.txt as Notepad saves it, the ZIP for Windows users, and
// build-win/convergence.exe against the native tool.
// Skipped, and said so, when Wine or the Windows build is missing; failed
// when the build is older than its sources.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "golden_cases.hpp"
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

const fs::path kWindowsBuild = fs::path(MOODY_SOURCE_DIR) / "build-win";
const fs::path kWindowsExe = kWindowsBuild / "moody.exe";
const fs::path kWindowsTool = kWindowsBuild / "convergence.exe";

// The newest of the C++ sources under `folders` that the Windows build
// compiles (all but the _posix files), or an empty path.
fs::path newest_source(std::initializer_list<const char*> folders) {
  fs::path newest;
  fs::file_time_type newest_time = fs::file_time_type::min();
  for (const char* folder : folders) {
    for (const auto& entry :
         fs::recursive_directory_iterator(fs::path(MOODY_SOURCE_DIR) / folder)) {
      const fs::path& p = entry.path();
      if (!entry.is_regular_file() || p.stem().string().ends_with("_posix")) continue;
      if (p.extension() != ".cpp" && p.extension() != ".hpp") continue;
      if (entry.last_write_time() > newest_time) {
        newest = p;
        newest_time = entry.last_write_time();
      }
    }
  }
  return newest;
}

// What is wrong with a Windows program older than a source it is built
// from, or "" when it is not: the tests would pass on an outdated program.
std::string stale(const fs::path& exe, std::initializer_list<const char*> folders) {
  const fs::path source = newest_source(folders);
  if (source.empty() || fs::last_write_time(exe) >= fs::last_write_time(source)) return "";
  return exe.string() + " is older than " + source.string() +
         ": rebuild it with `cmake --workflow --preset windows`";
}

class UnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!on_path("wine")) GTEST_SKIP() << "Windows leg skipped: wine is not installed";
    if (!fs::exists(kWindowsExe)) {
      GTEST_SKIP() << "Windows leg skipped: " << kWindowsExe << " is not built";
    }
    // A build that exists must be that of the sources.
    const std::string exe = stale(kWindowsExe, {"src"});
    if (!exe.empty()) GTEST_FAIL() << exe;
    if (fs::exists(kWindowsTool)) {
      const std::string tool = stale(kWindowsTool, {"src", "tools/convergence"});
      if (!tool.empty()) GTEST_FAIL() << tool;
    }
    fs::create_directory(work());
    fs::copy_file(kWindowsExe, work() / "moody.exe");
    // Stand-ins for Notepad and wgnuplot in a folder on PATH, as theirs are;
    // they log, in the current folder, how they were called.
    fs::create_directory(bin());
    write_file(bin() / "notepad.bat", "@echo notepad %*>> launches.log\r\n");
    write_file(bin() / "wgnuplot.bat", "@echo wgnuplot %*>> launches.log\r\n");
  }

  fs::path work() const { return dir_ / "work"; }
  fs::path bin() const { return dir_ / "bin"; }
  std::string bin_first() const { return windows_path(bin()) + ";%PATH%"; }

  std::string example() const {
    return read_file(fs::path(MOODY_SOURCE_DIR) / "examples" / "dados.txt");
  }

  // Runs moody.exe `args` in `dir` with COMSPEC as the Windows side sees it:
  // `comspec` empty removes it from the environment, otherwise sets it, as
  // written (quotes too); PATH set to `path` (in cmd.exe's words).  The outer
  // interpreter is named by its full path: a cmd.exe in `dir` must not stand
  // in for it.
  RunResult run(const std::string& comspec, const fs::path& dir, const std::string& path,
                const std::string& args = "") {
    std::string script = "@set COMSPEC=" + comspec + "\r\n";
    script += "@set PATH=" + path + "\r\n";
    script += "@moody.exe" + args + "\r\n@exit /b %ERRORLEVEL%\r\n";
    write_file(dir_ / "run.bat", script);
    return run_command(
        dir, {"wine", "C:\\windows\\system32\\cmd.exe", "/c", windows_path(dir_ / "run.bat")},
        {{"WINEDEBUG", "-all"}});
  }
  RunResult run(const std::string& comspec) { return run(comspec, work(), bin_first()); }

  // The files of a native run of `dados` with stand-ins that do nothing.
  fs::path native_run(const std::string& dados) {
    const fs::path native = dir_ / "native";
    const fs::path tools = dir_ / "tools";
    fs::create_directories(native);
    fs::create_directories(tools);
    write_script(tools / "notepad", "exit 0\n");
    write_script(tools / "wgnuplot", "exit 0\n");
    write_file(native / "dados.txt", dados);
    EXPECT_EQ(run_program(native, tools).status, 0);
    return native;
  }

  // Z:\... for a folder of the test, as Windows programs under Wine see it.
  static std::string windows_path(const fs::path& p) {
    std::string text = "Z:" + p.string();
    for (char& c : text)
      if (c == '/') c = '\\';
    return text;
  }

  static std::string launches(const fs::path& dir) {
    const fs::path log = dir / "launches.log";
    return fs::exists(log) ? read_file(log) : "";
  }
  std::string launches() const { return launches(work()); }

  // run(), expecting the four launches in order.  On rare occasions the
  // interpreter that Wine starts ends without running its command, which the
  // program cannot see: the run ends well and says nothing, and one launch
  // is missing from the log.  Such a run, and no other, is tried once more,
  // and the first log is shown.
  RunResult run_launching_all(const std::string& comspec, const fs::path& dir,
                              const std::string& path) {
    RunResult r = run(comspec, dir, path);
    if (r.status == 0 && r.stderr_.empty() && launches(dir) != kAllLaunches) {
      std::cout << "Wine lost a launch, tried once more; the log was:\n" << launches(dir);
      fs::remove(dir / "launches.log");
      r = run(comspec, dir, path);
    }
    EXPECT_EQ(launches(dir), kAllLaunches) << r.stderr_;
    return r;
  }
  RunResult run_launching_all(const std::string& comspec) {
    return run_launching_all(comspec, work(), bin_first());
  }

  static constexpr const char* kAllLaunches =
      "notepad dados.txt\r\nwgnuplot u.gnu\r\nwgnuplot p.gnu\r\nnotepad saida.txt\r\n";
  ScratchDir dir_;
};

TEST_F(UnderWine, WritesTheSameFilesAsTheNativeBuild) {
  write_file(work() / "dados.txt", example());
  const RunResult windows = run("C:\\windows\\system32\\cmd.exe");
  ASSERT_EQ(windows.status, 0) << windows.stderr_;

  const fs::path native = native_run(example());

  for (const char* name : {"saida.txt", "u.dat", "p.dat"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::exists(work() / name));
    EXPECT_TRUE(read_file(work() / name) == read_file(native / name));
  }
}

TEST_F(UnderWine, WholeRunsWriteThePinnedFiles) {
  for (const testing::GoldenCase& c : testing::kGoldenCases) {
    SCOPED_TRACE(c.name);
    for (const testing::GoldenFile& file : c.files)
      fs::remove(work() / file.name);
    write_file(work() / "dados.txt", testing::golden_input(c));
    const RunResult r = run("");
    EXPECT_EQ(r.status, 0) << c.name;
    EXPECT_EQ(r.stderr_, "") << c.name;
    testing::expect_golden_files(c, work());
  }
}

TEST_F(UnderWine, LaunchesGoThroughTheInterpreterInOrder) {
  write_file(work() / "dados.txt", example());
  // COMSPEC unset: "cmd.exe" is the interpreter.
  RunResult r = run_launching_all("");
  EXPECT_EQ(r.status, 0) << r.stderr_;

  // COMSPEC set: that interpreter.
  fs::remove(work() / "launches.log");
  r = run_launching_all("C:\\windows\\system32\\cmd.exe");
  EXPECT_EQ(r.status, 0) << r.stderr_;

  // COMSPEC naming no program: nothing is launched, each launch says so and
  // names the fix, and the run still ends well.
  fs::remove(work() / "launches.log");
  fs::remove(work() / "saida.txt");
  r = run("C:\\nowhere\\cmd.exe");
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(launches(), "");
  EXPECT_TRUE(fs::exists(work() / "saida.txt"));
  std::string said;
  for (const char* command :
       {"notepad dados.txt", "wgnuplot u.gnu", "wgnuplot p.gnu", "notepad saida.txt"}) {
    said += std::string("moody: \"") + command +
            "\" did not run: the command interpreter C:\\nowhere\\cmd.exe that COMSPEC names "
            "cannot be started (not found): set COMSPEC to the full path of cmd.exe, or remove "
            "it\n";
  }
  EXPECT_EQ(r.stderr_, said);
}

// notepad.bat and wgnuplot.bat in the case folder, which cmd.exe would take
// before PATH: never run, whether the programs are on PATH or not.
TEST_F(UnderWine, AProgramInTheCaseFolderIsNotRun) {
  write_file(work() / "dados.txt", example());
  for (const char* name : {"notepad.bat", "wgnuplot.bat"})
    write_file(work() / name, "@echo planted %*>> planted.log\r\n");
  // The plotter in a folder whose name has blanks and parentheses, as
  // gnuplot's may: handed to cmd.exe by its full path, it is still one name.
  const fs::path gnuplot = dir_ / "Program Files (x86)" / "gnuplot" / "bin";
  fs::create_directories(gnuplot);
  fs::rename(bin() / "wgnuplot.bat", gnuplot / "wgnuplot.bat");
  RunResult r =
      run_launching_all("", work(), windows_path(bin()) + ";" + windows_path(gnuplot) + ";%PATH%");
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(r.stderr_, "");

  // On PATH only as "." and a relative folder: nothing runs, each launch says so.
  fs::remove(work() / "launches.log");
  r = run("", work(), ".;work");
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(launches(), "");
  for (const char* command : {"notepad dados.txt", "wgnuplot u.gnu", "notepad saida.txt"}) {
    const std::string program(command, std::string_view(command).find(' '));
    EXPECT_NE(r.stderr_.find(std::string("moody: \"") + command + "\" did not run: " + program +
                             " was not found on PATH (programs in the case folder are not run)"),
              std::string::npos)
        << r.stderr_;
  }
  EXPECT_FALSE(fs::exists(work() / "planted.log"));
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

TEST_F(UnderWine, FAndMFramesEndTheirLinesAlike) {
  // The F frame comes from the fatal-error function, the M frame from the
  // trap handler: the same bytes around the text, line feeds alone.
  std::string bad = example();
  bad.replace(0, 2, "3.0");
  std::string no_time_step = example();
  no_time_step.replace(no_time_step.find("1.0D-2"), 6, "0.0   ");
  for (const auto& [dados, head] : {std::pair{bad, "\nrun-time error F2002: "},
                                    std::pair{no_time_step, "\nrun-time error M4001: "}}) {
    SCOPED_TRACE(head + 1);
    write_file(work() / "dados.txt", dados);
    const RunResult r = run("");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.stderr_.rfind(head, 0), 0u) << r.stderr_;
    EXPECT_EQ(r.stderr_.find('\n', 1), r.stderr_.size() - 1) << r.stderr_;
    EXPECT_EQ(r.stderr_.find('\r'), std::string::npos) << r.stderr_;
  }
}

TEST_F(UnderWine, RunsOnlyTheInterpreterComspecNames) {
  const fs::path witness = kWindowsBuild / "witness.exe";
  if (!fs::exists(witness)) GTEST_SKIP() << witness << " is not built";
  // A real interpreter at a path with blanks, as COMSPEC is usually set.
  const fs::path shell = dir_ / "Program Files" / "My Shell";
  fs::create_directories(shell);
  RunResult copy = run_command(dir_.path(),
                               {"wine", "C:\\windows\\system32\\cmd.exe", "/c", "copy",
                                "C:\\windows\\system32\\cmd.exe", windows_path(shell / "cmd.exe")},
                               {{"WINEDEBUG", "-all"}});
  ASSERT_TRUE(fs::exists(shell / "cmd.exe")) << copy.stderr_;
  write_file(work() / "dados.txt", example());

  // COMSPEC, and the file planted where a wrong reading of it would look.
  const std::string spaced = windows_path(shell / "cmd.exe");
  const struct {
    std::string comspec;
    fs::path planted;
  } cases[] = {
      {spaced, dir_ / "Program.exe"},  // split at the first blank
      {spaced, dir_ / "Program Files" / "My.exe"},
      {"\"" + spaced + "\"", dir_ / "Program.exe"},  // quoted, as some set it
      {"", work() / "cmd.exe"},                      // unset: the bare default name
      {"cmd.exe", work() / "cmd.exe"},
      {"cmd", work() / "cmd.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("COMSPEC=" + c.comspec + ", planted " + c.planted.string());
    fs::copy_file(witness, c.planted);
    const RunResult r = run_launching_all(c.comspec);
    fs::remove(c.planted);
    EXPECT_EQ(r.status, 0) << r.stderr_;
    EXPECT_FALSE(fs::exists(work() / "witness.log"));
    fs::remove(work() / "launches.log");
    fs::remove(work() / "witness.log");
  }
}

TEST_F(UnderWine, ReadsDadosAsNotepadSavesIt) {
  const fs::path native = native_run(example());
  // Notepad's "UTF-8 with BOM", "Unicode" and "Unicode big endian" (UTF-16
  // LE and BE with their marks).
  std::string unicode = "\xFF\xFE";
  std::string big_endian = "\xFE\xFF";
  for (const char c : example()) {
    unicode += std::string{c, '\0'};
    big_endian += std::string{'\0', c};
  }
  for (const auto& [name, dados] :
       {std::pair{"UTF-8 with BOM", "\xEF\xBB\xBF" + example()}, std::pair{"Unicode", unicode},
        std::pair{"Unicode big endian", big_endian}}) {
    SCOPED_TRACE(name);
    write_file(work() / "dados.txt", dados);
    fs::remove(work() / "saida.txt");
    const RunResult r = run("");
    ASSERT_EQ(r.status, 0) << r.stderr_;
    // The report echoes the twelve values: same report, same values.
    EXPECT_TRUE(read_file(work() / "saida.txt") == read_file(native / "saida.txt"));
  }
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

// A file made read-only for this process too: as the superuser, through
// the immutable attribute (chattr), taken away again at the end.
class Immutable {
 public:
  explicit Immutable(fs::path file) : file_(std::move(file)) {
    if (writable())
      chattr_ = run_command(file_.parent_path(), {"chattr", "+i", file_.string()}).status == 0;
  }
  ~Immutable() {
    if (chattr_) run_command(file_.parent_path(), {"chattr", "-i", file_.string()});
  }
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;
  bool read_only() const { return !writable(); }

 private:
  bool writable() const { return std::ofstream(file_, std::ios::app).good(); }
  fs::path file_;
  bool chattr_ = false;
};

TEST_F(UnderWine, TheZipRunsTheExampleFromAnEmptyFolder) {
  const fs::path zip = kWindowsBuild / "moody-windows-x64.zip";
  if (!fs::exists(zip)) GTEST_SKIP() << zip << " is not packed";
  if (fs::last_write_time(zip) < fs::last_write_time(kWindowsExe)) {
    GTEST_FAIL() << zip.string() << " is older than " << kWindowsExe.string()
                 << ": pack it again with `cmake --workflow --preset windows`";
  }
  const fs::path unpacked = dir_ / "unpacked";
  fs::create_directory(unpacked);
  RunResult r = run_command(unpacked, {"cmake", "-E", "tar", "xf", zip.string()});
  ASSERT_EQ(r.status, 0) << r.stderr_;
  const fs::path folder = unpacked / "moody-windows-x64";
  for (const char* name : {"moody.exe", "convergence.exe", "dados.txt", "u.gnu", "p.gnu",
                           "residuos.gnu", "malhas.gnu", "malhas-p.gnu", "README.txt"}) {
    EXPECT_TRUE(fs::exists(folder / name)) << name;
  }

  // Notepad reads them on one line unless they end in CR LF.
  for (const char* name : {"dados.txt", "u.gnu", "p.gnu", "residuos.gnu", "malhas.gnu",
                           "malhas-p.gnu", "README.txt"}) {
    const std::string text = read_file(folder / name);
    std::size_t lf = 0;
    std::size_t crlf = 0;
    for (std::size_t k = text.find('\n'); k != std::string::npos; k = text.find('\n', k + 1)) {
      ++lf;
      if (k > 0 && text[k - 1] == '\r') ++crlf;
    }
    EXPECT_GT(lf, 0u) << name;
    EXPECT_EQ(crlf, lf) << name;
  }

  // A notepad.bat planted in the case folder stays idle; the four launches
  // come from PATH.
  write_file(folder / "notepad.bat", "@echo planted %*>> planted.log\r\n");
  r = run_launching_all("", folder, bin_first());
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(r.stderr_, "");
  EXPECT_FALSE(fs::exists(folder / "planted.log"));
  const fs::path native = native_run(example());
  for (const char* name : {"saida.txt", "u.dat", "p.dat"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(read_file(folder / name) == read_file(native / name));
  }

  // An argument is refused before any file is touched.
  const std::string saida = read_file(folder / "saida.txt");
  r = run("", folder, bin_first(), " --help");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.stderr_.rfind("usage: moody ", 0), 0u) << r.stderr_;
  EXPECT_TRUE(read_file(folder / "saida.txt") == saida);
  EXPECT_EQ(launches(folder), kAllLaunches);

  // The tool's usage for /?.
  const ToolRun help = run_tool(folder, {"wine", "convergence.exe", "/?"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: convergence ", 0), 0u) << help.out;

  // A read-only report: an F frame in plain words.  The superuser writes to
  // read-only files, and Wine lets it: the file is then made immutable.
  fs::permissions(folder / "saida.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  const Immutable frozen(folder / "saida.txt");
  if (!frozen.read_only()) GTEST_SKIP() << "saida.txt cannot be made read-only here";
  r = run("", folder, bin_first());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderr_,
            "\nrun-time error F1001: saida.txt: the file cannot be opened for writing: permission "
            "denied: is the file or its folder read-only, or the file open in another program?\n");
  EXPECT_TRUE(read_file(folder / "saida.txt") == saida);
}

// Wine gives a program started on a terminal of its own (here a pseudo-
// terminal of `script`) a console of which it is the only process, as a
// double-click does on Windows.  Once the terminal shows "Press Enter to
// close this window." (or after 30 s without it), Enter is pressed every
// 0.3 s until the command ends: a key pressed as the words are written could
// end the program before Wine has drawn them.  What the terminal showed comes back as standard
// error, its characters without the escape sequences and blanks of Wine's drawing. `path` goes
// first on the Windows PATH.
RunResult run_alone(const fs::path& dir, const std::string& command, const std::string& path) {
  const fs::path shown = dir.parent_path() / "terminal.txt";
  const fs::path done = dir.parent_path() / "terminal.done";
  fs::remove(done);
  RunResult r =
      run_command(dir,
                  {"sh", "-c",
                   "(n=0; until [ -e \"$2\" ] || [ $n -ge 300 ] || "
                   "sed 's/\\x1b\\[[0-9;?]*[A-Za-z]//g' \"$1\" 2>/dev/null | "
                   "tr -d ' \\t\\r\\n' | grep -q PressEntertoclosethiswindow; "
                   "do sleep 0.1; n=$((n+1)); done; "
                   "while [ ! -e \"$2\" ] && printf '\\r'; do sleep 0.3; done) | "
                   "{ script -qec \"$0\" /dev/null > \"$1\"; s=$?; : > \"$2\"; exit $s; }",
                   command, shown.string(), done.string()},
                  {{"WINEDEBUG", "-all"}, {"WINEPATH", path}, {"LANG", "C.UTF-8"}});
  r.stderr_.clear();
  const std::string drawn = read_file(shown);
  for (std::size_t k = 0; k < drawn.size(); ++k) {
    if (drawn[k] == '\x1B') {  // ESC [ parameters letter
      while (k + 1 < drawn.size() && !std::isalpha(static_cast<unsigned char>(drawn[++k]))) {
      }
    } else if (!std::isspace(static_cast<unsigned char>(drawn[k]))) {
      r.stderr_ += drawn[k];
    }
  }
  return r;
}

// Alone in its console, an error frame, the usage or the tool's words wait
// for Enter; in a console it shares with cmd.exe, nothing waits.
TEST_F(UnderWine, AWindowOfItsOwnWaitsForEnter) {
  if (!on_path("script")) GTEST_SKIP() << "script (util-linux) is not installed";
  std::string bad = example();
  bad.replace(0, 2, "3.0");
  std::string two_nodes = example();
  two_nodes.replace(0, 2, "2 ");
  const std::string good = example();
  if (fs::exists(kWindowsTool)) fs::copy_file(kWindowsTool, work() / "convergence.exe");
  const fs::path plotter = bin() / "wgnuplot.bat";
  const std::string plotter_text = read_file(plotter);
  const struct {
    const char* command;
    const std::string& dados;
    bool plotter;  // the wgnuplot stand-in on PATH
    int status;
    const char* said;
    bool waits;
  } rows[] = {
      {"wine moody.exe", bad, true, 1, "run-timeerrorF2002:dados.txt", true},
      {"wine moody.exe", two_nodes, true, 1, "run-timeerrorM4001:", true},  // the trap handler
      {"wine moody.exe", good, true, 0, "", false},  // a run that goes well says nothing
      {"wine moody.exe", good, false, 0, "moody:\"wgnuplotu.gnu\"didnotrun:", true},
      {"wine moody.exe --help", bad, true, 2, "usage:moody", true},
      {"wine convergence.exe /?", bad, true, 0, "usage:convergence", true},
      {"wine cmd /c moody.exe --help", bad, true, 2, "usage:moody", false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.command);
    const bool tool = std::string(row.command).find("convergence") != std::string::npos;
    if (tool && !fs::exists(work() / "convergence.exe")) continue;
    write_file(work() / "dados.txt", row.dados);
    if (row.plotter) {
      write_file(plotter, plotter_text);
    } else {
      fs::remove(plotter);
    }
    const RunResult r = run_alone(work(), row.command, windows_path(bin()));
    EXPECT_EQ(r.status, row.status);
    EXPECT_NE(r.stderr_.find(row.said), std::string::npos) << r.stderr_;
    EXPECT_EQ(r.stderr_.find("PressEntertoclosethiswindow.") != std::string::npos, row.waits)
        << r.stderr_;
    if (*row.said == '\0') {
      EXPECT_EQ(r.stderr_, "");
    }
  }
}

// The verification duct (L = 1 m, D0 = 0.1 m, cd = 0.05) on N nodes.
std::string duct(int N, const std::string& dt) {
  return std::to_string(N) + "\n1.0\n1.0E-3\n1000.\n0.02\n1.0\n0.1\n0.05\n" + dt + "\n1\n300\n20\n";
}

// A folder name that is not ASCII, as the tool shows it on a console: its
// line on standard output and an F frame on standard error.
TEST_F(UnderWine, TheToolWritesTheFolderNameAsTheConsoleShowsIt) {
  if (!on_path("script")) GTEST_SKIP() << "script (util-linux) is not installed";
  if (!fs::exists(kWindowsTool)) GTEST_SKIP() << kWindowsTool << " is not built";
  const fs::path folder = dir_ / "caso-\u00e9";
  fs::create_directory(folder);
  fs::copy_file(kWindowsTool, folder / "convergence.exe");
  RunResult r = run_alone(folder, "wine convergence.exe", windows_path(bin()));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.stderr_.find("thereisnonein"), std::string::npos) << r.stderr_;
  EXPECT_NE(r.stderr_.find("\\caso-\u00e9"), std::string::npos) << r.stderr_;
  write_file(folder / "dados.txt", duct(12, "0.1"));
  r = run_alone(folder, "wine convergence.exe", windows_path(bin()));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.stderr_.find("\\caso-\u00e9case:N=12"), std::string::npos) << r.stderr_;
}

// The Windows convergence tool says what the native one says, with the same
// exit status, and writes the same residuos.dat: a run that converges within
// itmax, one that needs more, one below the floor, one that diverges, window
// searches and a grid study, each of these the same when run again.  Its
// passes run with the traps masked and the flags tested after each, which the
// Windows C library must do as glibc does.
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
      {example(), "--window", 0},               // with trials cut short in the lanes
      {duct(42, "0.1"), "--grid=12,22,42", 0},  // searches on both cores, a run per grid
      {duct(42, "0.1"), "--steady", 0},
  };
  // The files a run writes beside its report, as it left them ("" if none).
  const auto written = [&] {
    std::vector<std::string> files;
    for (const char* name :
         {"residuos.dat", "malhas.dat", "malhas.csv", "malha-42/dados.txt", "malha-42/saida.txt",
          "malha-42/p.dat", "malha-12/u.dat", "malha-42/u.gnu", "malha-42/p.gnu"}) {
      files.push_back(fs::exists(work() / name) ? read_file(work() / name) : "");
      fs::remove(work() / name);
    }
    return files;
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.dados.substr(0, row.dados.find('\n')) + " " + row.args);
    write_file(work() / "dados.txt", row.dados);
    written();
    std::vector<std::string> native = {CONVERGENCE_BINARY};
    std::vector<std::string> windows = {"wine", "convergence.exe"};
    if (*row.args != '\0') {
      native.push_back(row.args);
      windows.push_back(row.args);
    }
    const ToolRun n = run_tool(work(), native);
    const std::vector<std::string> native_files = written();
    const ToolRun w = run_tool(work(), windows);
    EXPECT_EQ(n.status, row.status);
    EXPECT_EQ(w.status, row.status);
    EXPECT_EQ(w.out, n.out);
    // A grid's folder holds the plot scripts that moody launches there.
    if (std::string_view(row.args).starts_with("--grid")) {
      EXPECT_FALSE(native_files[7].empty());
      EXPECT_EQ(fs::exists(work() / "malha-42" / "p.gnu"), true);
    }
    EXPECT_TRUE(written() == native_files);
    // Every line fits a 100-column console (the default one has 120).
    std::istringstream lines(w.out);
    for (std::string line; std::getline(lines, line);)
      EXPECT_LE(line.size(), 100u) << line;
    // The searches on two cores print the same text on every run.
    if (*row.args != '\0') {
      EXPECT_EQ(run_tool(work(), windows).out, w.out);
    }
  }
}

}  // namespace
}  // namespace moody
