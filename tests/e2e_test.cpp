// End-to-end runs of the built program, each in a fresh folder, with
// stand-ins for the editor and the plotter first on PATH that log how they
// were called.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using testing::example_with;
using testing::read_file;
using testing::run_command;
using testing::run_program;
using testing::RunResult;
using testing::ScratchDir;
using testing::write_file;
using testing::write_script;

using testing::kExampleInput;
const char* const kExample = kExampleInput;

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(tools());
    // The editor logs its arguments; the plotter logs its arguments and the
    // size of the data files at the moment it runs.
    write_script(tools() / "notepad", "echo \"notepad $*\" >> ../launches.log\n");
    write_script(tools() / "wgnuplot",
                 "echo \"wgnuplot $* $(wc -c < u.dat) $(wc -c < p.dat)\" >> ../launches.log\n");
    fs::create_directory(work());
  }

  fs::path tools() const { return dir_ / "tools"; }
  fs::path work() const { return dir_ / "work"; }
  fs::path file(const char* name) const { return work() / name; }
  std::string launches() const {
    return fs::exists(dir_ / "launches.log") ? read_file(dir_ / "launches.log") : "";
  }

  RunResult run_with(const std::string& dados) {
    write_file(file("dados.txt"), dados);
    return run_program(work(), tools());
  }

  ScratchDir dir_;
};

TEST_F(Program, ExampleCaseEndsWithStatusZeroAndNothingOnStandardError) {
  const RunResult r = run_with(kExample);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.stderr_, "");
}

TEST_F(Program, WritesLatin1FilesWithCrLfThenLaunchesInOrder) {
  ASSERT_EQ(run_with(kExample).status, 0);
  for (const char* name : {"saida.txt", "u.dat", "p.dat"}) {
    SCOPED_TRACE(name);
    const std::string bytes = read_file(file(name));
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    std::size_t lf = 0;
    std::size_t crlf = 0;
    for (std::size_t k = 0; k < bytes.size(); ++k) {
      if (bytes[k] == '\n') {
        ++lf;
        if (k > 0 && bytes[k - 1] == '\r') ++crlf;
      }
    }
    EXPECT_EQ(lf, crlf);
    EXPECT_EQ(bytes.find('\xC3'), std::string::npos);  // no UTF-8 lead byte
  }
  EXPECT_NE(read_file(file("saida.txt")).find("Solu\xE7\xE3o"), std::string::npos);
  EXPECT_EQ(read_file(file("u.dat")).size(), 52u * 47);

  // The plotter ran after the data files were closed at their full size, the
  // report editor last.
  const std::string sizes = std::to_string(52 * 47) + " " + std::to_string(52 * 47);
  EXPECT_EQ(launches(), "notepad dados.txt\nwgnuplot u.gnu " + sizes + "\nwgnuplot p.gnu " + sizes +
                            "\nnotepad saida.txt\n");
}

TEST_F(Program, SmallerRunReplacesTheFilesOfALargerOneWhole) {
  ASSERT_EQ(run_with(kExample).status, 0);
  ASSERT_EQ(run_with(example_with(1, "5   N")).status, 0);
  EXPECT_EQ(read_file(file("u.dat")).size(), 5u * 47);
  EXPECT_EQ(read_file(file("p.dat")).size(), 5u * 47);
  const std::string saida = read_file(file("saida.txt"));
  EXPECT_EQ(saida.find("        52"), std::string::npos);  // no row of node 52 survives
  EXPECT_EQ(saida.substr(saida.size() - 2), "\r\n");
}

TEST_F(Program, ReportThatCannotBeWrittenIsAnFError) {
  fs::create_directory(file("saida.txt"));
  const RunResult r = run_with(kExample);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderr_.rfind("\nrun-time error F1001: ", 0), 0u) << r.stderr_;
  EXPECT_NE(r.stderr_.find("saida.txt"), std::string::npos) << r.stderr_;
  EXPECT_EQ(launches(), "notepad dados.txt\n");  // neither plotter nor report editor
}

TEST_F(Program, AnyArgumentIsRefusedAndNoFileTouched) {
  ASSERT_EQ(run_with(kExample).status, 0);
  fs::remove(dir_ / "launches.log");
  const std::string saida = read_file(file("saida.txt"));
  fs::remove(file("dados.txt"));  // a run would create it again
  for (const char* arg : {"--help", "meucaso.txt", "/?", ""}) {
    SCOPED_TRACE(arg);
    const RunResult r =
        run_command(work(), {MOODY_BINARY, arg}, {{"PATH", testing::path_with_first(tools())}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.stderr_.rfind("usage: moody ", 0), 0u) << r.stderr_;
    EXPECT_EQ(r.stderr_.find('\n'), r.stderr_.size() - 1) << r.stderr_;  // one line
    EXPECT_EQ(launches(), "");
    EXPECT_FALSE(fs::exists(file("dados.txt")));
    EXPECT_TRUE(read_file(file("saida.txt")) == saida);
  }
}

TEST_F(Program, ReadsTheFileAsTheEditorLeftIt) {
  // The file holds a bad value until the "user" corrects it in the editor.
  write_script(tools() / "notepad",
               "echo \"notepad $*\" >> ../launches.log\n"
               "[ \"$1\" = dados.txt ] && sed -i 's/^3\\.0 /52 /' dados.txt\n"
               "exit 0\n");
  const RunResult r = run_with(example_with(1, "3.0   N"));
  EXPECT_EQ(r.status, 0) << r.stderr_;
  EXPECT_EQ(launches().substr(0, 18), "notepad dados.txt\n");
}

TEST_F(Program, BadInputStopsWithOneFrameAndStatusOne) {
  struct Case {
    int line;
    const char* text;
    const char* frame;  // start of the frame
  };
  const Case cases[] = {
      {1, "3.0      N", "\nrun-time error F2002: "}, {1, "1       N", "\nrun-time error F2009: "},
      {1, "-5      N", "\nrun-time error F2009: "},  {2, "2.0L", "\nrun-time error F2004: "},
      {9, "1E400   dt", "\nrun-time error F2005: "}, {11, "2147483648", "\nrun-time error F2003: "},
      {4, "'1000'", "\nrun-time error F2006: "},     {4, "(1,0)", "\nrun-time error F2007: "},
      {4, "0*1000", "\nrun-time error F2008: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const RunResult r = run_with(example_with(c.line, c.text));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.stderr_.rfind(c.frame, 0), 0u) << r.stderr_;
    EXPECT_NE(r.stderr_.find("dados.txt"), std::string::npos) << r.stderr_;
    // One frame: a leading line break, one line of text, a closing line break.
    EXPECT_EQ(r.stderr_.find('\n', 1), r.stderr_.size() - 1) << r.stderr_;
    EXPECT_FALSE(fs::exists(file("saida.txt")));
  }
}

TEST_F(Program, MissingInputFileIsLeftEmptyAndFailsAtEndOfFile) {
  const RunResult r = run_program(work(), tools());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderr_.rfind("\nrun-time error F2001: dados.txt", 0), 0u) << r.stderr_;
  ASSERT_TRUE(fs::exists(file("dados.txt")));
  EXPECT_EQ(fs::file_size(file("dados.txt")), 0u);
}

TEST_F(Program, TwoNodesStopAtTheGridWidthWithADivisionByZero) {
  const RunResult r = run_with(example_with(1, "2   N"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderr_,
            "\nrun-time error M4001: floating-point divide by zero in grid width dx = L/(N-2): "
            "N = 2 leaves no volume between the inlet and outlet nodes: N must be at least 3\n");
  EXPECT_FALSE(fs::exists(file("saida.txt")));
}

TEST_F(Program, FloatingPointFaultsStopTheRunBeforeAnyReport) {
  struct Case {
    int line;
    const char* text;
    const char* frame;
  };
  const Case cases[] = {
      // No time step: the transient coefficient Mp/dt divides by zero.
      {9, "0.0   dt", "\nrun-time error M4001: floating-point divide by zero in momentum "},
      // Fluid at rest and no inflow: the outlet factor is 0/0.
      {6, "0.0   Uin", "\nrun-time error M4003: floating-point invalid in "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const RunResult r = run_with(example_with(c.line, c.text));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.stderr_.rfind(c.frame, 0), 0u) << r.stderr_;
    EXPECT_NE(r.stderr_.find(", outer iteration 1: "), std::string::npos) << r.stderr_;
    EXPECT_FALSE(fs::exists(file("saida.txt")));
    EXPECT_EQ(launches(), "notepad dados.txt\n");
    fs::remove(dir_ / "launches.log");
  }
}

TEST_F(Program, GridTooLargeForTheMachineIsRefusedBeforeSizing) {
  const RunResult r = run_with(example_with(1, "2000000000   N"));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.stderr_.rfind("\nrun-time error F3001: storage for the arrays of N = 2000000000", 0),
            0u)
      << r.stderr_;
}

}  // namespace
}  // namespace moody
