// The report step on a state set by hand: the bytes of the report's head,
// the shape of its tables, the plot files, and the launches after the files
// are closed.

#include "io/resultados.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "control/start.hpp"
#include "control/state.hpp"
#include "test_support.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using testing::PathPrefix;
using testing::read_file;
using testing::ScratchDir;
using testing::write_file;
using testing::write_script;

std::vector<std::string> records(const std::string& bytes) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      out.push_back(bytes.substr(start) + "<no CR LF>");
      break;
    }
    out.push_back(bytes.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

// Runs the report step in a scratch folder, with stand-ins for the plotter
// and editor that log their arguments and the size of the files then.
class Report : public ::testing::Test {
 protected:
  void SetUp() override {
    write_script(dir_ / "wgnuplot",
                 "echo \"wgnuplot $* $(wc -c < u.dat) $(wc -c < p.dat)\" >> launches.log\n");
    write_script(dir_ / "notepad", "echo \"notepad $* $(wc -c < saida.txt)\" >> launches.log\n");
    old_cwd_ = fs::current_path();
    fs::current_path(dir_.path());
  }
  void TearDown() override { fs::current_path(old_cwd_); }

  // The parameters of the worked example of the report's head.
  static SimulationState example_state(int n) {
    SimulationState s;
    s.N = n;
    s.L = 1;
    s.mi = 0.001;
    s.ro = 1000;
    s.f = 0.02;
    s.Uin = 1;
    s.D0 = 0.1;
    s.cd = 2;
    s.dt = 0.01;
    s.beta = 1;
    s.itmax = 200;
    s.itmaxm = 10;
    start_run(s);
    return s;
  }

  std::string file(const char* name) const { return read_file(dir_ / name); }

  ScratchDir dir_;
  PathPrefix path_{dir_.path()};
  fs::path old_cwd_;
};

TEST_F(Report, HeadIsByteForByteTheInputEchoInLatin1) {
  SimulationState s = example_state(12);
  write_results(s);
  const std::vector<std::string> expected = {
      "Solu\xE7\xE3o Num\xE9rica do Escoamento Unidimensional de Fluido Incompress\xEDvel:",
      "Equa\xE7\xF5"
      "es da Conserva\xE7\xE3o da Massa e da Quantidade de Movimento Linear",
      "Problema de Moody",
      "",
      "Dados de entrada",
      "",
      "                12  = N:      n\xFAmero de volumes de controle (incluindo fict\xED"
      "cios)",
      "  1.0000000000E+00  = L:      comprimento do dom\xEDnio [m]",
      "  1.0000000000E-03  = mi:     viscosidade absoluta [Pa.s]",
      "  1.0000000000E+03  = ro:     massa espec\xED"
      "fica [kg/m3]",
      "  2.0000000000E-02  = f:      fator de atrito de Darcy [adim.]",
      "",
      "  1.0000000000E+00  = Uin:    velocidade na entrada do duto [m/s]",
      "  1.0000000000E-01  = D0:     di\xE2metro de entrada do duto [m]",
      "  2.0000000000E+00  = cd:     fator de expans\xE3o do di\xE2metro do duto [adim.]",
      "",
      "  1.0000000000E-02  = dt:     passo de tempo [s]",
      "  1.0000000000E+00  = beta :  coeficiente do termo difusivo (fun\xE7\xF5"
      "es de "
      "interpola\xE7\xE3o):  0 = UDS; 1 = CDS",
      "",
      "               200  = itmax:  n\xFAmero m\xE1ximo de itera\xE7\xF5"
      "es (geral)",
      "",
      "                10  = itmaxm: n\xFAmero m\xE1ximo de itera\xE7\xF5"
      "es (ciclo da massa)",
      "",
      "",
      "Posi\xE7\xF5"
      "es, di\xE2metros e \xE1reas das se\xE7\xF5"
      "es transversais (pontos nodais)",
      "",
      "  Volume i    Posi\xE7\xE3o [m]              Di\xE2metro [m]             \xC1rea da "
      "se\xE7\xE3o "
      "transversal [m2]",
  };
  const std::vector<std::string> got = records(file("saida.txt"));
  ASSERT_GE(got.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(got[k], expected[k]) << "line " << k + 1;
  }
}

TEST_F(Report, TablesHaveOneRowPerNodeOrFaceAndThePlotFilesMatchThem) {
  SimulationState s = example_state(3);
  s.x(2) = 0.5;
  s.u(1) = 1.0;
  s.u(2) = -0.98765432101234567;
  s.Mp(2) = 12.5;
  write_results(s);
  const std::vector<std::string> report = records(file("saida.txt"));
  // 27 lines of head, the 3 geometry rows, then each table: two empty lines,
  // its heading, an empty line, the column headings and its rows (QML,
  // MASSA, velocities, pressures, corrections: 3; masses: 1; flows and face
  // velocities: 2).
  EXPECT_EQ(report.size(), 27u + 3 + 5 * 8 + 3 * 5 + 1 + 2 + 2);

  // The mass table: one row (volume 2), ending after the 20-wide field.
  const std::size_t mass_heading = 27 + 3 + 5 * 8 + 2;
  EXPECT_EQ(report[mass_heading], "Massa do volume");
  EXPECT_EQ(report[mass_heading + 2], "  Volume i    Mp(i)");
  EXPECT_EQ(report[mass_heading + 3], "         2     1.250000000E+01");

  // Velocity rows and u.dat lines carry the same 45 characters.
  const std::vector<std::string> u = records(file("u.dat"));
  ASSERT_EQ(u.size(), 3u);
  EXPECT_EQ(u[1], "     5.000000000E-01   -9.876543210123456E-01");
  const std::size_t velocity_rows = 27 + 3 + 8 + 8 + 5;
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(report[velocity_rows + i - 1], "         " + std::to_string(i) + u[i - 1]);
  }
  EXPECT_EQ(records(file("p.dat")).size(), 3u);

  // The texts made in memory are the files' bytes.
  const ReportTexts texts = report_texts(s);
  EXPECT_EQ(texts.saida, file("saida.txt"));
  EXPECT_EQ(texts.u, file("u.dat"));
  EXPECT_EQ(texts.p, file("p.dat"));
}

TEST_F(Report, ReplacesOlderLongerFilesWholeAndLaunchesAfterClosingThem) {
  const std::string old_lines(100000, 'x');
  for (const char* name : {"saida.txt", "u.dat", "p.dat"})
    write_file(dir_ / name, old_lines);
  SimulationState s = example_state(3);
  write_results(s);
  const std::string saida = file("saida.txt");
  EXPECT_EQ(saida.find('x' + std::string(10, 'x')), std::string::npos);
  EXPECT_EQ(saida.substr(saida.size() - 2), "\r\n");
  EXPECT_EQ(file("u.dat").size(), 3u * 47);
  EXPECT_EQ(file("p.dat").size(), 3u * 47);

  // Each program saw the files whole: closed, at their final size.
  const std::string sizes = std::to_string(3 * 47) + " " + std::to_string(3 * 47);
  EXPECT_EQ(file("launches.log"), "wgnuplot u.gnu " + sizes + "\nwgnuplot p.gnu " + sizes +
                                      "\nnotepad saida.txt " + std::to_string(saida.size()) + "\n");
  EXPECT_EQ(s.ier, 0);
}

}  // namespace
}  // namespace moody
