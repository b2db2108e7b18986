// The grid study: the GCI arithmetic against three-grid examples worked by
// hand, the choice of dt, each grid folder against the program itself, the
// files it will not write through, a window that closes, and the command
// line.

#include "grid.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "columns.hpp"
#include "control/start.hpp"
#include "gci.hpp"
#include "grid_estimate.hpp"
#include "grid_files.hpp"
#include "grid_report.hpp"
#include "grid_runs.hpp"
#include "grid_steady.hpp"
#include "io/field_edit.hpp"
#include "io/input_values.hpp"
#include "io/resultados.hpp"
#include "lane_trials.hpp"
#include "predicted_window.hpp"
#include "program_run.hpp"
#include "test_support.hpp"
#include "text_format.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using convergence::format;
using convergence::Kind;
using testing::read_file;
using testing::run_command;
using testing::ScratchDir;
using testing::write_file;
using testing::write_script;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// phi on three grids (1 the finest) and what the procedure gives, by hand.
TEST(Gci, ThreeGridsWorkedByHand) {
  const struct {
    const char* name;
    convergence::ThreeGrids g;
    Kind kind;
    double p, extrapolated, ea21, eext21, gci_fine, asymptotic;
  } rows[] = {
      // phi = 100 + h, r = 2: p = 1 at once, the limit 100.
      {"first order",
       {1, 2, 4, 101, 102, 104},
       Kind::kMonotonic,
       1,
       100,
       1 / 101.0,
       0.01,
       1.25 / 101,
       101 / 102.0},
      // phi = 100 + h^2, r21 = 1.5, r32 = 2: q(p) != 0, p by the fixed point.
      {"second order, two ratios",
       {1, 1.5, 3, 101, 102.25, 109},
       Kind::kMonotonic,
       2,
       100,
       1.25 / 101,
       0.01,
       1.25 / 101,
       303 / 306.75},
      // e21 = -2, e32 = 4: s = -1, q = 0 for equal ratios.
      {"oscillatory",
       {1, 2, 4, 101, 99, 103},
       Kind::kOscillatory,
       1,
       103,
       2 / 101.0,
       2 / 103.0,
       2.5 / 101,
       101 / 99.0},
      // e21/e32 = 3: p = log2(3), r^p = 3.
      {"divergent",
       {1, 2, 4, 101, 104, 105},
       Kind::kDivergent,
       std::log2(3.0),
       99.5,
       3 / 101.0,
       1.5 / 99.5,
       1.25 * 3 / 101 / 2,
       (1.25 * 1 / 104.0 / 2) / (3 * 1.25 * 3 / 101 / 2)},
      // Two grids alike: no order.
      {"zero difference",
       {1, 2, 4, 101, 101, 102},
       Kind::kDivergent,
       kNaN,
       kNaN,
       kNaN,
       kNaN,
       kNaN,
       kNaN},
  };
  const auto near = [](double got, double want) {
    return std::isnan(want) ? std::isnan(got) : std::fabs(got - want) <= 1e-10 * std::fabs(want);
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const convergence::Gci c = convergence::grid_convergence_index(row.g);
    EXPECT_EQ(c.kind, row.kind);
    EXPECT_PRED2(near, c.p, row.p);
    EXPECT_PRED2(near, c.extrapolated, row.extrapolated);
    EXPECT_PRED2(near, c.ea21, row.ea21);
    EXPECT_PRED2(near, c.eext21, row.eext21);
    EXPECT_PRED2(near, c.gci_fine, row.gci_fine);
    EXPECT_PRED2(near, c.asymptotic, row.asymptotic);
  }
}

TEST(Gci, LeastSquaresFitAndTheGridForATarget) {
  // phi = 100 + 3 h^1.5 on four grids (and one grid too few).
  const std::vector<double> h = {0.01, 0.02, 0.04, 0.08};
  std::vector<double> phi;
  for (double x : h)
    phi.push_back(100 + 3 * std::pow(x, 1.5));
  const convergence::PowerFit fit = convergence::least_squares_fit(h, phi);
  ASSERT_TRUE(fit.found);
  EXPECT_NEAR(fit.p, 1.5, 1e-6);
  EXPECT_NEAR(fit.phi0, 100, 1e-9);
  EXPECT_NEAR(fit.alpha, 3, 1e-5);
  EXPECT_FALSE(convergence::least_squares_fit({0.01, 0.02, 0.04}, {1, 2, 3}).found);

  // The GCI falls as h^p: half the GCI takes 2^(1/p) times the volumes.
  EXPECT_DOUBLE_EQ(convergence::volumes_for_gci(100, 0.02, 1, 0.01), 200);
  EXPECT_DOUBLE_EQ(convergence::volumes_for_gci(100, 0.02, 2, 0.01), 100 * std::sqrt(2.0));
}

// The verification duct (L = 1 m, D0 = 0.1 m, cd = 0.05) on N nodes.
std::string duct(int N, const std::string& dt) {
  return std::to_string(N) + "\n1.0\n1.0E-3\n1000.\n0.02\n1.0\n0.1\n0.05\n" + dt + "\n1\n300\n20\n";
}

// dados.txt's dt is kept where it needs no more than 1.5 times the passes of
// the recommended one, and dropped where it needs more.
// The study sizes the report's texts of each grid by a length a node: the
// texts the report makes of two grids grow by exactly that.
TEST(GridStudy, ReportTextsGrowByTheBytesTheStudySizes) {
  std::uint64_t bytes[2] = {};
  for (const int k : {0, 1}) {
    SimulationState s;
    ASSERT_FALSE(parse_input(testing::kExampleInput, s).has_value());
    s.N = 52 + 100 * k;
    start_run(s);
    const ReportTexts t = report_texts(s);
    bytes[k] = t.saida.size() + t.u.size() + t.p.size();
  }
  EXPECT_EQ(bytes[1] - bytes[0], 100 * convergence::kReportBytesPerNode);
}

TEST(GridStudy, TheDtOfDadosWhereItDoesNearlyAsWell) {
  SimulationState s;
  ASSERT_FALSE(parse_input(duct(12, "0.1"), s).has_value());
  size_state(s);
  const convergence::Window w = convergence::search_window(s);
  ASSERT_TRUE(w.open);
  const double limit = 1.5 * static_cast<double>(w.recommended.needed);
  const convergence::Trial *near = nullptr, *far = nullptr;
  for (const convergence::Trial& t : w.trials) {
    if (!t.ok() || t.dt == w.recommended.dt) continue;
    if (static_cast<double>(t.needed) <= limit) near = &t;
    if (static_cast<double>(t.needed) > limit && far == nullptr) far = &t;
  }
  ASSERT_NE(near, nullptr);
  ASSERT_NE(far, nullptr);
  for (const auto* t : {near, far}) {
    s.dt = t->dt;
    const convergence::GridRun g = convergence::run_grid(s);
    ASSERT_TRUE(g.converged);
    EXPECT_EQ(g.dt_of_dados, t == near) << "dt = " << t->dt << ", " << t->needed << " passes";
    EXPECT_EQ(g.dt, t == near ? t->dt : w.recommended.dt);
    // The folder's dados.txt: the parameters of the run, read back by the
    // program's reader.
    Parameters run = s;
    run.dt = g.dt;
    run.itmax = static_cast<std::int32_t>(g.passes);
    EXPECT_EQ(g.folder_parameters, run);
    SimulationState read;
    ASSERT_FALSE(parse_input(convergence::dados_text(g.folder_parameters), read).has_value());
    EXPECT_EQ(static_cast<const Parameters&>(read), run);
  }
}

// A grid's window foreseen from the coarser grid's: where the foresight
// holds, the round's recommendation converges to the value of the whole
// search's, in about as few passes, and its edge lies where that search
// finds it; where it is off, the round says so rather than guess.
TEST(GridStudy, AWindowForeseenFromTheCoarserGrid) {
  const std::string diffuser = "3.0\n1.0E-3\n998.\n0.02\n2.0\n0.04\n0.02\n1.0\n1\n20000\n20\n";
  const auto sized = [&](int N) {
    SimulationState s;
    EXPECT_FALSE(parse_input(std::to_string(N) + "\n" + diffuser, s).has_value());
    size_state(s);
    return s;
  };
  SimulationState coarse = sized(102);
  const std::optional<convergence::WindowShape> shape =
      convergence::window_shape(convergence::search_window_in_lanes(coarse, nullptr, 2));
  ASSERT_TRUE(shape.has_value());
  SimulationState fine = sized(202);
  const double steady = convergence::steady_outlet(fine, fine.N);
  const convergence::GridRun searched = convergence::run_grid(fine);
  ASSERT_TRUE(searched.converged);
  const struct {
    double off;  // the foreseen edge, times this
    bool holds;
  } rows[] = {{1.0, true}, {0.5, false}, {2.0, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.off);
    convergence::WindowShape foreseen = *shape;
    foreseen.lower_to_floor *= row.off;
    std::optional<convergence::Window> w =
        convergence::predicted_window(fine, foreseen, steady, 2, nullptr);
    ASSERT_EQ(w.has_value(), row.holds);
    if (!w) continue;
    EXPECT_GT(w->lower.dt, searched.window.below.dt);
    EXPECT_LE(w->lower.dt, searched.window.lower.dt * 1.06);
    const convergence::GridRun g = convergence::run_grid(fine, std::move(*w));
    ASSERT_TRUE(g.converged);
    EXPECT_TRUE(g.window.predicted);
    EXPECT_LE(std::fabs(g.outlet - searched.outlet), 2e-9 * std::fabs(searched.outlet));
    EXPECT_LE(static_cast<double>(g.window.recommended.needed),
              1.03 * static_cast<double>(searched.window.recommended.needed));
  }
}

struct StudyRun {
  int status = -1;
  std::string out, err;
};

class Study : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directory(work());
    fs::create_directory(dir_ / "tools");
    write_script(dir_ / "tools" / "notepad", "exit 0\n");
    write_script(dir_ / "tools" / "wgnuplot", "exit 0\n");
  }
  fs::path work() const { return dir_ / "work"; }
  StudyRun run(const std::string& dados, const std::vector<std::string>& args) {
    write_file(work() / "dados.txt", dados);
    std::vector<std::string> argv = {"sh", "-c", "exec \"$@\" > ../stdout.txt", "sh",
                                     CONVERGENCE_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    const testing::RunResult r = run_command(work(), argv);
    return {r.status, read_file(dir_ / "stdout.txt"), r.stderr_};
  }
  ScratchDir dir_;
};

// Every name under `dir`, its folders' names followed by "/", and what each
// file holds (a link: where it points), so that a listing taken before and
// after shows whatever changed.
std::map<std::string, std::string> tree(const fs::path& dir) {
  std::map<std::string, std::string> t;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().lexically_relative(dir).generic_string();
    if (e.is_symlink()) {
      t[name] = "-> " + fs::read_symlink(e.path()).string();
    } else if (e.is_directory()) {
      t[name + "/"] = "";
    } else {
      const std::string bytes = read_file(e.path());
      t[name] = bytes.size() <= 80 ? bytes : std::to_string(bytes.size()) + " bytes";
    }
  }
  return t;
}

// The names directly in `dir`, sorted.
std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The last number of p.dat, as it stands there.
std::string outlet_text(const fs::path& p_dat) {
  std::istringstream lines(read_file(p_dat));
  std::string x, p;
  while (lines >> x >> p) {
  }
  return p;
}

// The study of the verification duct on three small grids: status 0, the
// five lines, the exact value inside the GCI band, and each grid folder as
// the program leaves it when run there.  In FOLDER it writes nothing but
// the folders and malhas.dat; it replaces a link of a file's name rather
// than writing through it, and refuses a folder that is a link.
TEST_F(Study, EachGridFolderIsWhatTheProgramWritesFromIt) {
  const fs::path elsewhere = dir_ / "elsewhere.txt";
  write_file(elsewhere, "not the study's");
  fs::create_directory(work() / "malha-22");
  fs::create_symlink(elsewhere, work() / "malha-22" / "saida.txt");
  write_file(work() / "malha-22" / "p.dat", std::string(100000, 'x'));
  fs::create_directory(work() / "malha-26");  // of an earlier study

  const StudyRun r = run(duct(12, "0.1"), {"--grid"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* line : {"\nexact outlet pressure of the 1-D model: ", "\nobserved order: ",
                           "\nextrapolated outlet pressure: ", "\nGCI of the finest grid: ",
                           "\nfor a GCI of 1 %: N = ", "\nthe exact value is inside the GCI band",
                           "\ngrid study: complete, monotonic\n"}) {
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
  }
  EXPECT_EQ(read_file(elsewhere), "not the study's");
  EXPECT_FALSE(fs::is_symlink(work() / "malha-22" / "saida.txt"));

  EXPECT_NE(r.out.find("\ngrid study: complete, monotonic\nstale: malha-26 is from an earlier "
                       "study (not these grids); kept as it is\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(names_in(work()),
            (std::vector<std::string>{"dados.txt", "malha-12", "malha-22", "malha-26", "malha-42",
                                      "malhas.csv", "malhas.dat"}));

  // malhas.csv: a header, then ten fields a grid, the GCI on the two finest
  // only; and the paragraph for a report, last.
  std::istringstream csv(read_file(work() / "malhas.csv"));
  std::string row;
  std::getline(csv, row);
  EXPECT_EQ(row.substr(0, 22), "N,dx [m],dt [s],passes");
  for (const auto& [N, gci] : {std::pair{12, false}, {22, true}, {42, true}}) {
    ASSERT_TRUE(std::getline(csv, row));
    ASSERT_EQ(row.back(), '\r');
    row.pop_back();
    EXPECT_EQ(std::count(row.begin(), row.end(), ','), 9) << row;
    EXPECT_EQ(row.substr(0, row.find(',')), std::to_string(N));
    EXPECT_EQ(row.back() != ',', gci) << row;
  }
  const std::size_t paragraph = r.out.rfind("\n\nfor the report: The discretisation error");
  ASSERT_NE(paragraph, std::string::npos) << r.out;
  EXPECT_NE(r.out.find("the pressure rises by ", paragraph), std::string::npos);

  // malhas.dat: a comment, then N, dx, dt, passes and the outlet pressure
  // to 17 digits, the errors; CR LF.
  std::istringstream table(read_file(work() / "malhas.dat"));
  std::string line;
  std::getline(table, line);
  EXPECT_EQ(line.substr(0, 2), "# ");
  for (int N : {12, 22, 42}) {
    SCOPED_TRACE(N);
    ASSERT_TRUE(std::getline(table, line));
    ASSERT_EQ(line.back(), '\r');
    std::istringstream fields(line);
    int n = 0;
    double dx = 0, dt = 0, outlet = 0, estimated = 0, truth = 0;
    long passes = 0;
    fields >> n >> dx >> dt >> passes >> outlet >> estimated >> truth;
    EXPECT_EQ(n, N);

    const fs::path folder = work() / ("malha-" + std::to_string(N));
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"dados.txt", "p.dat", "p.gnu",
                                                          "saida.txt", "u.dat", "u.gnu"}));
    // The plot scripts the program launches there: FOLDER has none, so the
    // examples'.
    for (const char* script : {"u.gnu", "p.gnu"}) {
      EXPECT_EQ(read_file(folder / script),
                read_file(fs::path(MOODY_SOURCE_DIR) / "examples" / script));
    }
    const std::string dados = read_file(folder / "dados.txt");
    // The parameters of dados.txt but N, dt and itmax, as the program reads them.
    SimulationState s, given;
    ASSERT_FALSE(parse_input(dados, s).has_value());
    ASSERT_FALSE(parse_input(duct(N, "0.1"), given).has_value());
    given.dt = dt;
    given.itmax = static_cast<std::int32_t>(passes);
    EXPECT_EQ(static_cast<const Parameters&>(s), static_cast<const Parameters&>(given));

    // The program run there writes the very same files.
    std::vector<std::string> study;
    for (const char* name : {"saida.txt", "u.dat", "p.dat"})
      study.push_back(read_file(folder / name));
    ASSERT_EQ(testing::run_program(folder, dir_ / "tools").status, 0);
    EXPECT_EQ(read_file(folder / "saida.txt"), study[0]);
    EXPECT_EQ(read_file(folder / "u.dat"), study[1]);
    EXPECT_EQ(read_file(folder / "p.dat"), study[2]);
    // Edited as the program edits p.dat (its rounding to 17 digits first
    // can differ from printf's in the 16th).
    char field[26] = {};
    edit_real(outlet, 25, 15, field);
    std::string value(field);
    value.erase(0, value.find_first_not_of(' '));
    EXPECT_EQ(outlet_text(folder / "p.dat"), value);
  }

  // examples/malhas-p.gnu draws the pressure of every grid.
  if (testing::on_path("gnuplot")) {
    fs::copy_file(fs::path(MOODY_SOURCE_DIR) / "examples" / "malhas-p.gnu",
                  work() / "malhas-p.gnu");
    EXPECT_EQ(run_command(work(), {"gnuplot", "malhas-p.gnu"}).status, 0);
    EXPECT_GT(fs::file_size(work() / "malhas-p.png"), 1000u);
    fs::remove(work() / "malhas-p.gnu");
    fs::remove(work() / "malhas-p.png");
  }

  // A link at the second grid's folder is refused before any grid runs:
  // nothing is written there, nor in the first grid's folder or malhas.dat.
  fs::remove_all(work() / "malha-22");
  fs::create_directory(dir_ / "target");
  fs::create_directory_symlink(dir_ / "target", work() / "malha-22");
  const std::map<std::string, std::string> before = tree(work());
  const StudyRun linked = run(duct(12, "0.1"), {"--grid"});
  EXPECT_EQ(linked.status, 1);
  EXPECT_EQ(linked.out, "");
  EXPECT_NE(linked.err.find("run-time error F1001: malha-22: cannot use the folder: it is a link"),
            std::string::npos)
      << linked.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "target"));
  EXPECT_EQ(tree(work()), before);
}

// Fine grids of the verification duct: no dt converges on N = 642.
TEST_F(Study, AWindowThatClosesNamesTheGridAndTheFinestThatConverges) {
  const StudyRun r = run(duct(162, "0.1"), {"--grid=642,162,322"});
  EXPECT_EQ(r.status, 4) << r.out << r.err;
  EXPECT_NE(r.out.find("\ngrid N = 642 does not converge: no dt converges"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nthe finest grid that converges: N = 322\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nobserved order: none\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(work() / "malha-322" / "p.dat"));
  EXPECT_FALSE(fs::exists(work() / "malha-642"));
}

TEST_F(Study, CommandLineAndInputErrors) {
  const struct {
    std::vector<std::string> args;
    const char* said;
  } rows[] = {
      {{"--grid=12,14,22"}, "N = 12 and N = 14 are too close"},
      {{"--grid=12,22"}, "three grids or more"},
      {{"--grid=2,12,22"}, "every N must be >= 3"},
      {{"--grid=12,,22"}, "a list of whole numbers"},
      {{"--grid=12,22,4e1"}, "a list of whole numbers"},
      {{"--grid="}, "a list of whole numbers"},
      {{"--grid", "--window"}, "two different studies"},
      {{"--target", "1"}, "--target goes with --grid"},
      {{"--grid", "--target"}, "--target needs a value"},
      {{"--grid", "--target", "0"}, "from 0.0001 to 50"},
      {{"--grid", "--target=1,5"}, "from 0.0001 to 50"},
      {{"--grid", "--target=9e-5"}, "from 0.0001 to 50"},
      {{"--grid", "--target", "50.5"}, "from 0.0001 to 50"},
      {{"--grid", "--target=1", "--target", "1"}, "--target is given twice"},
  };
  for (const auto& row : rows) {
    const StudyRun r = run(duct(12, "0.1"), row.args);
    EXPECT_EQ(r.status, 2) << row.args[0];
    EXPECT_NE(r.err.find(row.said), std::string::npos) << r.err;
  }
  // The default grids of dados.txt are checked as a list given is.
  const StudyRun two = run(duct(2, "0.1"), {"--grid"});
  EXPECT_EQ(two.status, 2);
  EXPECT_NE(two.err.find("N = 2 has no real volume"), std::string::npos) << two.err;
  const StudyRun bad = run(testing::example_with(2, "2.0L"), {"--grid"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("run-time error F2004"), std::string::npos) << bad.err;
  EXPECT_EQ(names_in(work()), std::vector<std::string>{"dados.txt"});
}

// The study's report and files from grids made up here: phi = 100 + c*h^q
// on dx = 1/(N - 2), so that the observed order is q.
// Lines longer than the console break at spaces, never between a number
// and its unit; a word longer than the width stays whole; the rest is kept.
TEST(Columns, LongLinesBreakAtSpacesNotAfterDigits) {
  const struct {
    const char* text;
    std::size_t width;
    const char* fitted;
  } rows[] = {
      {"short line\n", 20, "short line\n"},
      {"one two three four\n", 9, "one two\n  three\n  four\n"},
      {"a GCI of 0.5 % here\n", 10, "a GCI of\n  0.5 %\n  here\n"},
      {"x /a/very/long/path y\n", 6, "x\n  /a/very/long/path\n  y\n"},
      {"na\u00efve caf\u00e9 ok\n", 11, "na\u00efve caf\u00e9\n  ok\n"},
      {"no end", 3, "no\n  end"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(convergence::fit_columns(row.text, row.width), row.fitted) << row.text;
}

class Reported : public ::testing::Test {
 protected:
  static std::vector<convergence::GridRun> grids(const std::vector<int>& Ns, double q) {
    std::vector<convergence::GridRun> runs;
    for (int N : Ns) {
      convergence::GridRun g;
      g.N = N;
      g.dx = 1.0 / (N - 2);
      g.converged = true;
      g.dt = 0.1;
      g.passes = 100;
      g.outlet = 100.0 + 10.0 * std::pow(g.dx, q);
      runs.push_back(g);
    }
    return runs;
  }
  static convergence::Estimate estimated(const std::vector<convergence::GridRun>& runs) {
    SimulationState s;
    EXPECT_FALSE(parse_input(duct(12, "0.1"), s).has_value());
    return convergence::estimate(runs, s, 0.01);
  }
};

// An order far from the scheme's 1 is said, and the N for the target called
// uncertain, and the next round of a study to a target sized for it; near 1
// neither.  With equal ratios the ratio of the two GCIs,
// phi1/phi2 there, is not shown; with four grids, each triple's order.
TEST_F(Reported, AnOrderFarFromTheSchemesIsSaid) {
  const struct {
    std::vector<int> Ns;
    double q;
    bool far, ratio_line;
  } rows[] = {
      {{12, 22, 42}, 1.0, false, false}, {{12, 22, 42}, 1.15, false, false},
      {{12, 22, 42}, 1.3, true, false},  {{12, 22, 42}, 0.7, true, false},
      {{12, 27, 42}, 1.0, false, true},  {{12, 22, 42, 82}, 1.0, false, false},
  };
  for (const auto& row : rows) {
    const std::vector<convergence::GridRun> runs = grids(row.Ns, row.q);
    const convergence::Estimate e = estimated(runs);
    const std::string t = convergence::round_report(runs, e, convergence::GridOptions{});
    SCOPED_TRACE(t);
    EXPECT_EQ(t.find(format("\nobserved order %.6g is far from 1, the order of the scheme",
                            e.gci.p)) != std::string::npos,
              row.far);
    EXPECT_EQ(
        t.find("(uncertain: the grids are not in the asymptotic range)\n") != std::string::npos,
        row.far);
    EXPECT_EQ(t.find("GCI32/(r21^p*GCI21):") != std::string::npos, row.ratio_line);
    // A study to a target refines grids far from the range at least twofold.
    const int finest = row.Ns.back();
    if (row.far) {
      EXPECT_GE(e.next_N, std::max(e.needed_N, 2.0 * (finest - 2) + 2.0));
    } else {
      EXPECT_EQ(e.next_N, e.needed_N);
    }
    EXPECT_EQ(t.find("near 1 in the asymptotic range"), std::string::npos);
    if (row.Ns.size() == 4) {
      EXPECT_NE(t.find("\nobserved order of N = 12, 22, 42: 1\n"), std::string::npos);
      EXPECT_NE(t.find("\nobserved order of N = 22, 42, 82: 1\n"), std::string::npos);
    }
  }
}

// The files of a study on made-up grids, written in a scratch FOLDER that
// holds what an earlier study (or its user) left there.
class Files : public Reported {
 protected:
  void SetUp() override {
    before_ = fs::current_path();
    fs::create_directory(work());
    fs::current_path(work());
  }
  void TearDown() override { fs::current_path(before_); }
  fs::path work() const { return dir_ / "work"; }
  // Grids `Ns`, those of `failed` not converged; the saida.txt of the
  // second holds `saida_bytes` bytes where given.
  static std::vector<convergence::GridRun> study(const std::vector<int>& Ns,
                                                 const std::vector<int>& failed,
                                                 std::size_t saida_bytes = 0) {
    std::vector<convergence::GridRun> runs = grids(Ns, 1.0);
    for (convergence::GridRun& g : runs) {
      const std::string n = std::to_string(g.N);
      const bool big = saida_bytes > 0 && g.N == Ns[1];
      g.texts = {big ? std::string(saida_bytes, 's') : "saida " + n, "u " + n, "p " + n};
      g.converged = std::find(failed.begin(), failed.end(), g.N) == failed.end();
    }
    return runs;
  }
  static std::string example(const char* script) {
    return read_file(fs::path(MOODY_SOURCE_DIR) / "examples" / script);
  }
  ScratchDir dir_;
  fs::path before_;
};

// FOLDER after a study, listed whole: the grids that converge, the stale
// folders named (and kept), an old folder's other files kept in the new one,
// the plot scripts FOLDER has or the examples', no hidden temporary.
TEST_F(Files, FolderAfterAStudy) {
  using Setup = void (*)();
  const struct {
    const char* name;
    Setup setup;
    std::vector<int> failed;
    std::vector<std::string> listing;
    const char* stale;
    std::vector<std::pair<std::string, std::string>> holds;
  } rows[] = {
      {"an empty FOLDER",
       [] {},
       {},
       {"malha-12", "malha-22", "malha-42", "malhas.dat"},
       "",
       {{"malhas.dat", "table"}, {"malha-22/saida.txt", "saida 22"}, {"malha-42/p.dat", "p 42"}}},
      {"folders of an earlier study",
       [] {
         for (const char* f : {"malha-802", "malha-26", "malha-7x", "malha-"})
           fs::create_directory(f);
         write_file("malha-9", "a file");
         fs::create_directory_symlink("malha-26", "malha-5");
       },
       {},
       {"malha-", "malha-12", "malha-22", "malha-26", "malha-42", "malha-5", "malha-7x",
        "malha-802", "malha-9", "malhas.dat"},
       "stale: malha-26, malha-802 are from an earlier study (not these grids); kept as they are\n",
       {}},
      {"a grid that no longer converges",
       [] {
         fs::create_directory("malha-42");
         write_file("malha-42/saida.txt", "old");
       },
       {42},
       {"malha-12", "malha-22", "malha-42", "malhas.dat"},
       "stale: malha-42 is from an earlier study (its grid does not converge in this one); kept "
       "as it is\n",
       {{"malha-42/saida.txt", "old"}}},
      {"no grid converges",
       [] {
         fs::create_directory("malha-12");
         write_file("malha-12/saida.txt", "old");
         write_file("malhas.dat", "old table");
       },
       {12, 22, 42},
       {"malha-12", "malhas.dat"},
       "",
       {{"malhas.dat", "old table"}, {"malha-12/saida.txt", "old"}}},
      {"an old folder with files of its user",
       [] {
         fs::create_directories("malha-12/notes");
         write_file("malha-12/saida.txt", "old");
         write_file("malha-12/u.png", "plot");
       },
       {},
       {"malha-12", "malha-22", "malha-42", "malhas.dat"},
       "",
       {{"malha-12/saida.txt", "saida 12"}, {"malha-12/u.png", "plot"}}},
      {"FOLDER's own scripts, where they are files",
       [] {
         write_file("u.gnu", "mine");
         write_file("../p.gnu", "elsewhere");
         fs::create_symlink("../p.gnu", "p.gnu");
       },
       {},
       {"malha-12", "malha-22", "malha-42", "malhas.dat", "p.gnu", "u.gnu"},
       "",
       {{"malha-12/u.gnu", "mine"}, {"malha-42/p.gnu", example("p.gnu")}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const auto& e : fs::directory_iterator("."))
      fs::remove_all(e.path());
    row.setup();
    const std::string said =
        convergence::write_grid_files(study({12, 22, 42}, row.failed), {{"malhas.dat", "table"}});
    EXPECT_EQ(said, row.stale);
    EXPECT_EQ(names_in("."), row.listing);
    for (const auto& [name, text] : tree(".")) {
      EXPECT_NE(fs::path(name).filename().string().front(), '.') << name;
    }
    for (const auto& [name, text] : row.holds)
      EXPECT_EQ(read_file(name), text) << name;
    if (!row.failed.empty()) continue;
    EXPECT_EQ(names_in("malha-22"), (std::vector<std::string>{"dados.txt", "p.dat", "p.gnu",
                                                              "saida.txt", "u.dat", "u.gnu"}));
    EXPECT_EQ(read_file("malha-22/u.gnu"), fs::exists("u.gnu") ? "mine" : example("u.gnu"));
  }
}

#ifndef _WIN32
// A study's files stopped part way, in a child process: a file the system
// refuses to write whole (the file size limit), an interrupt while the files
// are written, and a link put at the second grid's folder while the grids
// ran.  FOLDER is left as it was: the first grid's old folder, the old
// malhas.dat, and no temporary.
TEST_F(Files, AStudyStoppedPartWayLeavesFolderAsItWas) {
  enum class Stop { kWriteFails, kInterrupt, kLinkPlanted };
  const struct {
    const char* name;
    Stop stop;
    const char* said;  // on standard error
  } rows[] = {
      {"a write that fails", Stop::kWriteFails, "run-time error F1002: malha-22/saida.txt"},
      {"an interrupt", Stop::kInterrupt, ""},
      {"a link at the second grid's folder", Stop::kLinkPlanted,
       "run-time error F1001: malha-22: cannot use the folder: it is a link"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const auto& e : fs::directory_iterator("."))
      fs::remove_all(e.path());
    fs::create_directory("malha-12");
    write_file("malha-12/saida.txt", "old");
    write_file("malhas.dat", "old table");
    fs::create_directory(dir_ / "target");
    if (row.stop == Stop::kLinkPlanted) fs::create_directory_symlink(dir_ / "target", "malha-22");
    const std::map<std::string, std::string> before = tree(".");
    const std::vector<convergence::GridRun> runs = study({12, 22, 42}, {}, 40000);

    // malha-12 is written whole, malha-22's saida.txt reaches the limit.
    const testing::RunResult r = testing::run_in_child(
        [&] {
          if (row.stop == Stop::kWriteFails) std::signal(SIGXFSZ, SIG_IGN);
          if (row.stop == Stop::kInterrupt) std::signal(SIGXFSZ, [](int) { std::raise(SIGTERM); });
          convergence::write_grid_files(runs, {{"malhas.dat", "table"}});
        },
        row.stop == Stop::kLinkPlanted ? 0 : 20000);
    EXPECT_EQ(r.status, row.stop == Stop::kInterrupt ? 128 + SIGTERM : 1);
    EXPECT_NE(r.stderr_.find(row.said), std::string::npos) << r.stderr_;
    EXPECT_EQ(tree("."), before);
    EXPECT_TRUE(fs::is_empty(dir_ / "target"));
    fs::remove(dir_ / "target");
  }
}
#endif

}  // namespace
}  // namespace moody
