// Format texts walked against items, record by record, and the output files
// the records go to.

#include "io/format.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "io/output_file.hpp"

namespace moody {
namespace {

// The report's u.dat line: position and velocity, 45 bytes.
constexpr const char* kPlotRow = "(1P,E20.9,1P,E25.15)";

TEST(Format, WritesRecords) {
  const std::string blanks16(16, ' ');
  const struct {
    const char* format;
    std::vector<Item> items;
    std::string expected;
  } cases[] = {
      {"(/,T10,I9,T20,' = N:      n\xFAmero de volumes de controle (incluindo fict\xED"
       "cios)')",
       {12},
       "\r\n" + blanks16 +
           "12  = N:      n\xFAmero de volumes de controle (incluindo fict\xED"
           "cios)\r\n"},
      {"(1P,E18.10,T20,' = L:      comprimento do dom\xEDnio [m]')",
       {1.0},
       "  1.0000000000E+00  = L:      comprimento do dom\xEDnio [m]\r\n"},
      {"(2/,'Massa do volume',2/,T3,'Volume i',T15,'Mp(i)')",
       {},
       "\r\n\r\nMassa do volume\r\n\r\n  Volume i    Mp(i)\r\n"},
      {"(I10,1P,E20.9,1P,E25.15)", {2, 12.5}, "         2     1.250000000E+01\r\n"},
      {kPlotRow, {0.0, 1.0}, "     0.000000000E+00    1.000000000000000E+00\r\n"},
      {kPlotRow,
       {1.0 / 22.0, -0.98765432101234567},
       "     4.545454545E-02   -9.876543210123456E-01\r\n"},
      {"(I10,1P,E20.9,1P,E25.15)",
       {3, 1.0 / 22.0, -0.98765432101234567},
       "         3     4.545454545E-02   -9.876543210123456E-01\r\n"},
      // Back to back: the second format is not looked at.
      {"(I10)(I5)", {3}, "         3\r\n"},
      // Items run out: literals and positions before the first starved data
      // descriptor are carried out, nothing after it.
      {"(I10,1P,E20.9,1P,E25.15)", {2}, "         2\r\n"},
      {"('a',I3,'b')", {}, "a\r\n"},
      {"(/,T10,I9)", {}, "\r\n\r\n"},
      // Left over items: a new record from the last top-level group.
      {"(I3,2(I2))", {1, 2, 3, 4, 5}, "  1 2 3\r\n 4 5\r\n"},
      // Positions to the left write over; the length is the highest column.
      {"('abcdef',T3,'XY')", {}, "abXYef\r\n"},
      // Spelling: doubled apostrophe, case, blanks, commas left out.
      {"('it''s')", {}, "it's\r\n"},
      {"( i3 , 2 / , t3,'z' )", {7}, "  7\r\n\r\n  z\r\n"},
      {"(1PE10.3/I2)", {1.5, 4}, " 1.500E+00\r\n 4\r\n"},
      {"(2(2('ab'),'c'))", {}, "ababcababc\r\n"},
  };
  for (const auto& c : cases) {
    std::string out;
    Format(c.format).write(out, c.items);
    EXPECT_EQ(out, c.expected) << "format " << c.format;
  }
}

TEST(FormatDeathTest, UnreadableTextsAreFatal) {
  const char* texts[] = {
      "",           "I3",        "(I3",
      "(I0)",       "(T0)",      "(E10.3)",
      "(2P,E10.3)", "(1P,E10.)", "(0/)",
      "(I3,,I3)",   "(I3,)",     "('abc)",
      "(I3 I3)",    "(I100000)", "(1(1(1(1(1(1(1(1(1(1(1(1(1(1(1(1(I3))))))))))))))))",
  };
  for (const char* text : texts) {
    EXPECT_EXIT(Format{text}, ::testing::ExitedWithCode(1), "run-time error F1004: format text")
        << "format " << text;
  }
}

TEST(FormatDeathTest, ItemsThatDoNotFitAreFatal) {
  std::string out;
  EXPECT_EXIT(Format("(I3)").write(out, {1.5}), ::testing::ExitedWithCode(1),
              "run-time error F1004: .*item 1 is a real, but its descriptor is I3");
  EXPECT_EXIT(Format("('x')").write(out, {1}), ::testing::ExitedWithCode(1),
              "run-time error F1004: .*no descriptor for item 1");
}

// A fresh folder for each test, removed afterwards.
class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("moody_format_" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return (dir_ / name).string(); }
  static std::string contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path dir_;
};
using OutputFileDeathTest = OutputFileTest;

TEST_F(OutputFileTest, ReplacesALongerFileWhole) {
  const std::string name = path("u.dat");
  {
    std::ofstream old(name, std::ios::binary);
    for (int k = 0; k < 1000; ++k)
      old << "an older, longer line\r\n";
  }
  const Format row(kPlotRow);
  OutputFile file(name, 7);
  file.write(row, {0.0, 1.0});
  file.write(row, {1.0 / 22.0, -0.98765432101234567});
  file.close();
  EXPECT_EQ(contents(name),
            "     0.000000000E+00    1.000000000000000E+00\r\n"
            "     4.545454545E-02   -9.876543210123456E-01\r\n");
}

TEST_F(OutputFileTest, HandsOverFullBlocksBeforeClosing) {
  const std::string name = path("saida.txt");
  const Format row("(I10,4(1P,E25.15))");
  std::string expected;
  OutputFile file(name, 5);
  for (std::int32_t i = 1; i <= 20000; ++i) {  // 2.2 MB
    const double v = 1.0 / i;
    row.write(expected, {i, v, -v, v * v, -v * v});
    file.write(row, {i, v, -v, v * v, -v * v});
  }
  EXPECT_GE(std::filesystem::file_size(name), OutputFile::kBlock);
  file.close();
  file.close();  // a second close does nothing
  EXPECT_EQ(contents(name), expected);
}

TEST_F(OutputFileTest, DestructorKeepsTheRecords) {
  const std::string name = path("p.dat");
  {
    OutputFile file(name, 8);
    file.write(Format("('kept')"), {});
  }
  EXPECT_EQ(contents(name), "kept\r\n");
}

TEST_F(OutputFileDeathTest, FileThatCannotBeOpenedIsFatal) {
  std::filesystem::create_directory(path("saida.txt"));
  EXPECT_EXIT(OutputFile(path("saida.txt"), 5), ::testing::ExitedWithCode(1),
              "run-time error F1001: .*saida.txt: the file cannot be opened for writing: a "
              "folder has that name");
}

// A later file that cannot be opened ends the run before any record is
// handed over: an older report stays whole, not emptied.  A file closed
// without records is left empty.
TEST_F(OutputFileDeathTest, OlderFileIsCutOnlyWhenRecordsAreHandedOver) {
  const std::string report = path("saida.txt");
  std::ofstream(report, std::ios::binary) << "older report\r\n";
  std::filesystem::create_directory(path("u.dat"));
  EXPECT_EXIT(
      {
        OutputFile saida(report, 5);
        OutputFile udat(path("u.dat"), 7);
      },
      ::testing::ExitedWithCode(1), "run-time error F1001: .*u.dat: the file cannot be opened");
  EXPECT_EQ(contents(report), "older report\r\n");

  OutputFile saida(report, 5);
  saida.close();
  EXPECT_EQ(contents(report), "");
}

// A full disk: the failing file is named, and the records of the other open
// files are kept.
TEST_F(OutputFileDeathTest, FullDiskIsFatalAndOtherFilesKeepTheirRecords) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  const std::string report = path("saida.txt");
  EXPECT_EXIT(
      {
        OutputFile saida(report, 5);
        saida.write(Format("('first line')"), {});
        OutputFile full("/dev/full", 7);
        full.write(Format("(I3)"), {1});
        full.close();
      },
      ::testing::ExitedWithCode(1),
      "run-time error F1002: /dev/full: the file cannot be written: the disk is full");
  EXPECT_EQ(contents(report), "first line\r\n");
}

}  // namespace
}  // namespace moody
