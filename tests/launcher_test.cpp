#include "io/launcher.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "test_support.hpp"

namespace moody {
namespace {

using testing::PathPrefix;
using testing::read_file;
using testing::ScratchDir;
using testing::write_script;

// A stand-in editor: records each argument on a line, sleeps a little, then
// records that it ended.  If the launcher did not wait, "ended" would be
// missing when the call returns.
class FakeEditor : public ::testing::Test {
 protected:
  void SetUp() override {
    write_script(dir_ / "notepad", "for a in \"$@\"; do printf '%s\\n' \"$a\" >> \"" +
                                       log().string() + "\"; done\nsleep 0.3\necho ended >> \"" +
                                       log().string() + "\"\nexit 3\n");
  }
  std::filesystem::path log() const { return dir_ / "log"; }

  ScratchDir dir_;
  PathPrefix path_{dir_.path()};
};

TEST_F(FakeEditor, BlocksUntilTheProgramEndsAndReturnsItsStatus) {
  EXPECT_EQ(launcher::system("notepad dados.txt"), 3);
  EXPECT_EQ(read_file(log()), "dados.txt\nended\n");
}

TEST_F(FakeEditor, CommandReachesTheInterpreterAsOneCommandLine) {
  // Quoting and trailing blanks: the interpreter sees the text as written,
  // less the blanks at its end; leading blanks are kept and harmless.
  EXPECT_EQ(launcher::system("   notepad 'a b' \"c\"  d    "), 3);
  EXPECT_EQ(read_file(log()), "a b\nc\nd\nended\n");
}

// Run from a case folder that holds programs of the same names, with the
// current folder named on PATH by an empty entry and by ".": what runs comes
// from PATH's absolute folders, and what cannot run is said in one line.
TEST_F(FakeEditor, RunsProgramsFromPathOnlyAndSaysWhatDidNotRun) {
  namespace fs = std::filesystem;
  write_script(dir_ / "own127", "exit 127\n");             // a program's own status 127
  testing::write_file(dir_ / "plain", "not a program\n");  // not executable: not a program
  const fs::path here = dir_ / "case";
  fs::create_directory(here);
  for (const char* name : {"notepad", "planted"})
    write_script(here / name, "echo ran >> planted.log\n");
  const fs::path test_folder = fs::current_path();
  fs::current_path(here);
  const char* old = std::getenv("PATH");
  const std::string path = old != nullptr ? old : "";
  testing::set_env("PATH", ".::" + dir_.path().string() + ":" + path + ":");

  const std::string said = "moody: \"";
  const struct {
    const char* command;
    int status;
    const char* line;  // the launcher's line, after said + command; "" for none
  } rows[] = {
      {"notepad dados.txt", 3, ""},
      {"own127", 127, ""},
      {"planted x", 127,
       "\" did not run: planted was not found on PATH (programs in the case folder are not run): "
       "add the folder that holds it to PATH\n"},
      {"plain", 127,
       "\" did not run: plain was not found on PATH (programs in the case folder are not run): "
       "add the folder that holds it to PATH\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.command);
    ::testing::internal::CaptureStderr();
    const int status = launcher::system(row.command);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, row.status);
    const std::size_t at = err.find(said);
    if (*row.line == '\0') {
      EXPECT_EQ(at, std::string::npos) << err;
    } else {
      EXPECT_EQ(err.substr(at == std::string::npos ? 0 : at), said + row.command + row.line);
    }
  }
  testing::set_env("PATH", path);
  fs::current_path(test_folder);
  EXPECT_FALSE(fs::exists(here / "planted.log"));
}

TEST(Launcher, KeepsTheAbsoluteFoldersOfPath) {
  const struct {
    const char* path;
    char separator;
    const char* kept;
  } rows[] = {
      {"/usr/bin:/bin", ':', "/usr/bin:/bin"},
      {":/usr/bin::.:bin:./tools:../x:/bin/:", ':', "/usr/bin:/bin/"},
      {"", ':', ""},
      {".", ':', ""},
      {"C:\\bin;;.;bin;C:bin;\"C:\\Program Files\\g\";\\\\srv\\share;\\top;D:/y;\".\"", ';',
       "C:\\bin;\"C:\\Program Files\\g\";\\\\srv\\share;\\top;D:/y"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(launcher::absolute_entries(row.path, row.separator), row.kept) << row.path;
  }
}

TEST(Launcher, TrimsOnlyTrailingBlanks) {
  EXPECT_EQ(launcher::trim_command("notepad saida.txt   "), "notepad saida.txt");
  EXPECT_EQ(launcher::trim_command("  notepad\t"), "  notepad\t");
  EXPECT_EQ(launcher::trim_command("    "), "");
}

TEST(Launcher, AcceptsCommandsUpTo1024Characters) {
  // ":" is the shell's no-op; the rest pads the command to the limit.
  const std::string longest = ": " + std::string(launcher::kMaxCommand - 2, 'x');
  ASSERT_EQ(longest.size(), 1024u);
  EXPECT_EQ(launcher::system(longest + "      "), 0);

  errno = 0;
  EXPECT_EQ(launcher::system(longest + "x"), -1);
  EXPECT_EQ(errno, launcher::kReasonTooLong);
}

// An interpreter that cannot start: the fix is COMSPEC only when it can lie
// there, never when COMSPEC (or its absence) already gives the system's own.
TEST(Launcher, InterpreterNotStartedAdvisesCOMSPECOnlyWhereItHelps) {
  const std::string shell = "C:\\Windows\\system32\\cmd.exe";
  const struct {
    bool from_comspec;
    const char* cause;
    bool system_own;
    const char* after;  // what follows "the command interpreter " + shell
  } rows[] = {
      {true, "not found", false,
       " that COMSPEC names cannot be started (not found): set COMSPEC to the full path of "
       "cmd.exe, or remove it"},
      {false, "not found", false,
       " cannot be started (not found): set COMSPEC to the full path of cmd.exe"},
      {true, "Windows error 1359", true,
       " that COMSPEC names cannot be started (Windows error 1359), though COMSPEC is right: it "
       "names the system's own cmd.exe; run again, and if this goes on, restart Windows"},
      {false, "access denied", true,
       " cannot be started (access denied), though it is the system's own cmd.exe, which needs "
       "no COMSPEC; run again, and if this goes on, restart Windows"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(launcher::interpreter_not_started(shell, row.from_comspec, row.cause, row.system_own),
              "the command interpreter " + shell + row.after);
  }
}

TEST(Launcher, MissingProgramIsAStatusNotAFailureOfTheRun) {
  ::testing::internal::CaptureStderr();
  const int status = launcher::system("no-such-program-anywhere-1234 dados.txt");
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 127);                    // the shell's "command not found"
  EXPECT_EQ(launcher::system("exit 0"), 0);  // and the next launch still works
}

}  // namespace
}  // namespace moody
