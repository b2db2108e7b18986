#include "io/launcher.hpp"

#include <gtest/gtest.h>

#include <cerrno>
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

TEST(Launcher, MissingProgramIsAStatusNotAFailureOfTheRun) {
  const int status = launcher::system("no-such-program-anywhere-1234 dados.txt");
  EXPECT_EQ(status, 127);                    // the shell's "command not found"
  EXPECT_EQ(launcher::system("exit 0"), 0);  // and the next launch still works
}

}  // namespace
}  // namespace moody
