// The convergence tool: its passes are the program's bit for bit, the passes
// it names are enough for the program, its verdicts and exit statuses, the
// residuos.dat it writes, and the window of dt it finds.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "control/start.hpp"
#include "flow/sweeps.hpp"
#include "flow_support.hpp"
#include "grid_options.hpp"
#include "grid_steady.hpp"
#include "io/input_values.hpp"
#include "lane_trials.hpp"
#include "program_run.hpp"
#include "residuals.hpp"
#include "run.hpp"
#include "test_support.hpp"
#include "window.hpp"

namespace moody {
namespace {

namespace fs = std::filesystem;
using convergence::Ending;
using testing::example_with;
using testing::read_file;
using testing::run_command;
using testing::ScratchDir;
using testing::write_file;
using testing::write_script;

// The verification duct (L = 1 m, D0 = 0.1 m, cd = 0.05) on N nodes.
std::string duct(int N, const std::string& dt, int itmax) {
  return std::to_string(N) + "\n1.0\n1.0E-3\n1000.\n0.02\n1.0\n0.1\n0.05\n" + dt + "\n1\n" +
         std::to_string(itmax) + "\n20\n";
}

// "1.234E-05" with `decimals` digits after the point, a sign only before a
// negative mantissa, and an exponent of two or three digits.
bool e_form(const std::string& f, std::size_t decimals) {
  const std::size_t m = f[0] == '-' ? 1 : 0;
  const auto digit = [&](std::size_t i) { return i < f.size() && f[i] >= '0' && f[i] <= '9'; };
  if (!digit(m) || f.size() <= m + 1 || f[m + 1] != '.') return false;
  for (std::size_t i = m + 2; i < m + 2 + decimals; ++i)
    if (!digit(i)) return false;
  const std::size_t e = m + 2 + decimals;
  if (f.size() < e + 4 || f.size() > e + 5 || f[e] != 'E' || (f[e + 1] != '+' && f[e + 1] != '-'))
    return false;
  for (std::size_t i = e + 2; i < f.size(); ++i)
    if (!digit(i)) return false;
  return true;
}

void read_into(SimulationState& s, const std::string& dados) {
  ASSERT_FALSE(parse_input(dados, s).has_value());
  size_state(s);
}

// Advances a second state, started as the program starts, one pass for each
// of the tool's, and compares the two after every pass.
class Twin : public convergence::Observer {
 public:
  Twin(const SimulationState& tool, const std::string& dados, std::int64_t last)
      : tool_(tool), last_(last) {
    read_into(program_, dados);
    start_run(program_);
  }
  void pass(std::int64_t k, const convergence::Residuals&) override {
    if (k > last_) return;
    outer_iteration(program_);
    const std::string d = flowtest::first_difference(tool_, program_);
    if (!d.empty() && difference_.empty()) difference_ = "pass " + std::to_string(k) + ": " + d;
    compared_ = k;
  }
  std::string difference_;
  std::int64_t compared_ = 0;

 private:
  const SimulationState& tool_;
  SimulationState program_;
  std::int64_t last_;
};

TEST(Convergence, PassesAreTheProgramsBitForBit) {
  // N = 3 runs the plain steps, the others the driver's sweeps.
  for (const std::string& dados :
       {duct(3, "0.1", 300), duct(12, "0.1", 300), std::string(testing::kExampleInput)}) {
    SCOPED_TRACE(dados.substr(0, dados.find('\n')));
    SimulationState s;
    read_into(s, dados);
    Twin twin(s, dados, 400);
    const convergence::Outcome o = convergence::run(s, &twin);
    EXPECT_EQ(o.ending, Ending::kConverged);
    EXPECT_EQ(twin.difference_, "");
    EXPECT_EQ(twin.compared_, std::min<std::int64_t>(o.passes, 400));
  }
}

struct ToolRun {
  int status = -1;
  std::string out, err;
  std::string last_line() const {
    const std::size_t end = out.find_last_not_of('\n');
    const std::size_t start = out.rfind('\n', end);
    return out.substr(start == std::string::npos ? 0 : start + 1, end - start);
  }
  // The output with the lines fitted to the console joined again: a line
  // that goes on starts with two spaces and no third (table rows have more).
  std::string unfolded() const {
    std::string t;
    for (std::size_t k = 0; k < out.size(); ++k) {
      const bool goes_on =
          out.compare(k, 3, "\n  ") == 0 && k + 3 < out.size() && out[k + 3] != ' ';
      t += goes_on ? ' ' : out[k];
      if (goes_on) k += 2;
    }
    return t;
  }
  // The longest line but the one naming the folder.
  std::size_t widest_line() const {
    std::size_t widest = 0;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("folder: ", 0) != 0) widest = std::max(widest, line.size());
    }
    return widest;
  }
};

// Runs a tool in `dir` with `args`, standard output caught in a file beside it.
ToolRun run_tool(const fs::path& dir, const std::vector<std::string>& tool,
                 const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"sh", "-c", "exec \"$@\" > ../stdout.txt", "sh"};
  argv.insert(argv.end(), tool.begin(), tool.end());
  argv.insert(argv.end(), args.begin(), args.end());
  const testing::RunResult r = run_command(dir, argv);
  ToolRun result;
  result.status = r.status;
  result.err = r.stderr_;
  result.out = read_file(dir.parent_path() / "stdout.txt");
  return result;
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directory(work()); }
  fs::path work() const { return dir_ / "work"; }
  ToolRun run(const std::string& dados, const std::vector<std::string>& args = {}) {
    write_file(work() / "dados.txt", dados);
    return run_tool(work(), {CONVERGENCE_BINARY}, args);
  }
  ScratchDir dir_;
};

// A viscous oil duct at dt = 53 passage times: its residuals grow a
// million-fold from their smallest and then settle, slowly.
std::string slow_oil(int itmax) {
  return "50\n0.403533\n0.126428\n900.091\n0.00925322\n0.154424\n0.0347873\n0.0341172\n"
         "138.115\n1\n" +
         std::to_string(itmax) + "\n20\n";
}

// The verdict and the exit status of a run that converges within itmax, one
// that needs more, one below the floor, one without viscosity (no floor),
// one that diverges, and the slow oil duct, which reaches the cap and, with
// a larger itmax, converges.
TEST_F(Tool, VerdictsAndExitStatuses) {
  const struct {
    const char* name;
    std::string dados;
    int status;
    std::vector<const char*> said;
    const char* last;
  } rows[] = {
      {"converged",
       duct(12, "0.1", 300),
       0,
       {"converged by itmax = 300", "itmax for converged residuals: 182 "},
       "passes needed: 121"},
      {"unconverged",
       testing::kExampleInput,
       3,
       {"not converged by itmax = 300: there the outlet pressure is 215.35100696 Pa, 26.57 Pa "
        "(14.1 % of it)",
        "converged outlet pressure: 188.78323019", "itmax for the outlet pressure to 1e-06: 807 (",
        "set itmax to at least 807"},
       "passes needed: 807"},
      {"below the floor",
       example_with(9, "0.001"),
       4,
       {"floor of the grid (an estimate): 0.0016 s\ndt = 0.001 s is below the estimated floor: "
        "the first pass may stop",
        "floating-point overflow in pass 1: the program stops there with M4002"},
       "passes needed: none"},
      {"without viscosity",
       example_with(3, "0.0"),
       4,
       {"M4001\nthe time-step floor of the grid is infinite: no dt can start the iteration with "
        "mi = 0, since without viscosity nothing carries the inlet velocity from rest to the "
        "outlet in the first pass; give mi > 0\npasses needed: none"},
       "passes needed: none"},
      {"diverging",
       duct(162, "1.7", 300),
       4,
       {"diverging: the velocity residual grows from pass 116, where it was 3.930E-04, to ",
        " at pass 292, where this run stopped", "no itmax makes this dt converge"},
       "passes needed: none"},
      {"slow, to the cap",
       slow_oil(3000),
       4,
       {"neither converged nor diverging after 100000 passes (the cap)\nat the rate of its last "
        "passes the outlet pressure is within 1e-06 of its value already and settled after "
        "about 110000: with itmax = 110000 in dados.txt",
        "or try a larger dt"},
       "passes needed: about 110000, an estimate; set itmax = 110000 in dados.txt"},
      {"slow, settled",
       slow_oil(110000),
       0,
       {"converged outlet pressure: 7.4588731924"},
       "passes needed: 50661"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const ToolRun r = run(row.dados);
    EXPECT_EQ(r.status, row.status) << r.err;
    for (const char* text : row.said)
      EXPECT_NE(r.unfolded().find(text), std::string::npos) << r.out;
    EXPECT_EQ(r.last_line(), row.last);
    EXPECT_LE(r.widest_line(), 100u) << r.out;
    // The floor is said before the run: ahead of the table.
    EXPECT_LT(r.out.find("floor of the grid"), r.out.find("    pass "));
    for (const char* name : {"saida.txt", "u.dat", "p.dat"})
      EXPECT_FALSE(fs::exists(work() / name));
  }
}

TEST_F(Tool, UsageAndInputErrors) {
  for (const auto& [args, said] :
       {std::pair{std::vector<std::string>{"--bogus"}, "unknown argument \"--bogus\""},
        std::pair{std::vector<std::string>{"--window", ""}, "unknown argument \"\""},
        std::pair{std::vector<std::string>{".", "."}, "a second folder \".\""}}) {
    const ToolRun r = run(testing::kExampleInput, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind(std::string("convergence: ") + said + "\nusage: convergence ", 0), 0u)
        << r.err;
  }
  EXPECT_EQ(run(testing::kExampleInput, {"no-such-folder"}).status, 2);
  for (const char* help : {"-h", "--help", "/?"}) {
    const ToolRun r = run(testing::kExampleInput, {help});
    EXPECT_EQ(r.status, 0) << help;
    EXPECT_EQ(r.out.rfind("usage: convergence ", 0), 0u) << help << ": " << r.out;
  }

  const ToolRun bad = run(example_with(2, "2.0L"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("\nrun-time error F2004: dados.txt, line 2"), std::string::npos)
      << bad.err;

  // A folder without dados.txt is an input error, and no dados.txt appears.
  fs::create_directory(dir_ / "empty");
  const ToolRun none = run_tool(dir_ / "empty", {CONVERGENCE_BINARY}, {});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("run-time error F1001: dados.txt"), std::string::npos) << none.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "empty"));
}

// The verdict, the window and the grid study of the shipped example print the
// same text on every run of the same folder, whatever the timing of the two
// cores that share the window's trials.
TEST_F(Tool, EveryOutputIsTheSameOnEveryRun) {
  std::vector<std::vector<std::string>> modes = {{}, {"--window"}};
#if !defined(__SANITIZE_ADDRESS__)  // a minute under the sanitizers: the native builds run it
  modes.push_back({"--grid"});
#endif
  for (const std::vector<std::string>& args : modes) {
    SCOPED_TRACE(args.empty() ? "verdict" : args.front());
    const ToolRun first = run(testing::kExampleInput, args);
    const ToolRun again = run(testing::kExampleInput, args);
    EXPECT_EQ(again.status, first.status);
    EXPECT_EQ(again.out, first.out);
  }
}

// On the shipped example the tool names K, and the program run with itmax = K
// ends within 1e-6 of the converged outlet pressure, at the very value the
// tool had after pass K; after K - 1 passes it is not yet within.
TEST_F(Tool, TheProgramWithThePassesNeededHasConverged) {
  fs::create_directory(dir_ / "folder");
  write_file(dir_ / "folder" / "dados.txt", testing::kExampleInput);
  const ToolRun r = run_tool(work(), {CONVERGENCE_BINARY}, {"../folder"});
  ASSERT_EQ(r.status, 3) << r.err;
  const int K = std::stoi(r.last_line().substr(std::string("passes needed: ").size()));

  SimulationState s;
  read_into(s, testing::kExampleInput);
  const convergence::Outcome o = convergence::run(s);
  ASSERT_EQ(o.needed, K);
  const double band = 1e-6 * std::fabs(o.converged);
  ASSERT_LE(K, 10000);  // every pass has its line
  EXPECT_GT(std::fabs(o.rows[K - 2].r.outlet - o.converged), band);

  fs::create_directory(dir_ / "tools");
  write_script(dir_ / "tools" / "notepad", "exit 0\n");
  write_script(dir_ / "tools" / "wgnuplot", "exit 0\n");
  write_file(work() / "dados.txt", example_with(11, std::to_string(K)));
  ASSERT_EQ(testing::run_program(work(), dir_ / "tools").status, 0);
  std::istringstream p_dat(read_file(work() / "p.dat"));
  std::string x, p;
  while (p_dat >> x >> p) {
  }
  char tool[32];
  std::snprintf(tool, sizeof tool, "%.15E", o.rows[K - 1].r.outlet);
  EXPECT_EQ(p, tool);
  EXPECT_LE(std::fabs(verification::parse_real(p) - o.converged), band);

  // residuos.dat: a comment, then every pass with its residuals in E form.
  const std::string text = read_file(dir_ / "folder" / "residuos.dat");
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line[0], '#');
  std::int64_t pass = 0;
  while (std::getline(lines, line)) {
    ASSERT_EQ(line.back(), '\r') << line;
    std::istringstream fields(line);
    std::string number, mass, velocity, pressure, outlet, more;
    fields >> number >> mass >> velocity >> pressure >> outlet;
    EXPECT_EQ(number, std::to_string(++pass));
    for (const std::string& f : {mass, velocity, pressure})
      EXPECT_TRUE(e_form(f, 3)) << line;
    EXPECT_TRUE(e_form(outlet, 9)) << line;
    EXPECT_FALSE(fields >> more) << line;
  }
  EXPECT_EQ(pass, o.passes);
  EXPECT_NE(r.out.find("residuos.dat: " + std::to_string(pass) + " lines"), std::string::npos);

  // examples/residuos.gnu draws it.
  if (!testing::on_path("gnuplot")) GTEST_SKIP() << "gnuplot is not installed";
  fs::copy_file(fs::path(MOODY_SOURCE_DIR) / "examples" / "residuos.gnu",
                dir_ / "folder" / "residuos.gnu");
  EXPECT_EQ(run_command(dir_ / "folder", {"gnuplot", "residuos.gnu"}).status, 0);
  EXPECT_GT(fs::file_size(dir_ / "folder" / "residuos.png"), 1000u);
}

// The verdict of a watch fed an outlet pressure of about 1 Pa (q = 1 Pa)
// pass after pass for 30000 passes, the residuals below their tolerances
// unless said.  Rounding noise settles; a drift, a pressure at rest (the
// velocities may creep under it) and a residual above its tolerance do not.
TEST(Convergence, RoundingNoiseSettlesADriftDoesNot) {
  // Back and forth by 1e-11 Pa, a tenth more or less, no two passes alike:
  // too much for the bound of a contracting tail.
  const auto noise = [](std::int64_t k) {
    const double size = 1e-11 * (1.0 + 0.1 * static_cast<double>((k * 7919) % 997) / 997.0);
    return k % 2 == 0 ? size : -size;
  };
  const struct {
    const char* name;
    double (*outlet)(std::int64_t k, double noise);
    double velocity;
    bool converged;
  } rows[] = {
      {"noise", [](std::int64_t, double n) { return 1.0 + n; }, 1e-12, true},
      {"noise, a velocity residual above", [](std::int64_t, double n) { return 1.0 + n; }, 2e-9,
       false},
      {"drift of 1e-15 Pa a pass",
       [](std::int64_t k, double) { return 1.0 + 1e-15 * static_cast<double>(k); }, 1e-12, false},
      {"drift of 1e-13 Pa a pass under the noise",
       [](std::int64_t k, double n) { return 1.0 + 1e-13 * static_cast<double>(k) + n; }, 1e-12,
       false},
      {"at rest", [](std::int64_t, double) { return 1.0; }, 1e-12, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    convergence::Watch watch(1.0, 100);
    const convergence::Residuals r{1e-9, row.velocity, 1e-12, 0.0};
    bool ended = false;
    for (std::int64_t k = 1; k <= 30000 && !ended; ++k) {
      convergence::Residuals rk = r;
      rk.outlet = row.outlet(k, noise(k));
      const convergence::Watch::Next next = watch.after(k, rk);
      ended = next == convergence::Watch::Next::kEnded ||
              (next == convergence::Watch::Next::kCycle &&
               watch.cycling({static_cast<double>(k)}));  // fields that never recur
    }
    const convergence::Outcome o = watch.finish();
    EXPECT_EQ(o.ending == convergence::Ending::kConverged, row.converged) << o.passes;
    if (row.converged) {
      EXPECT_EQ(o.passes, 1000);  // the first test for noise, on blocks of 100
    }
  }
}

TEST(Convergence, LinesOfEveryPassThenOfEveryTenthAndHundredth) {
  const struct {
    std::int64_t pass;
    bool kept;
  } rows[] = {{1, true},      {9999, true},    {10000, true},  {10001, false},   {10010, true},
              {100000, true}, {100010, false}, {100100, true}, {1000100, false}, {1001000, true}};
  for (const auto& row : rows)
    EXPECT_EQ(convergence::row_kept(row.pass), row.kept) << row.pass;
}

// The window of a small grid: a failure just outside each edge, the dt
// recommended inside, written as the user would type it, and the program run
// with it and the passes named ends within 1e-6 of the converged pressure.
TEST_F(Tool, WindowOfASmallGrid) {
  SimulationState s;
  read_into(s, duct(42, "0.1", 300));
  const convergence::Window w = convergence::search_window(s);
  ASSERT_TRUE(w.open);
  const convergence::Trial& r = w.recommended;
  EXPECT_FALSE(w.below.ok());
  EXPECT_FALSE(w.above.ok());
  EXPECT_LT(w.below.dt, w.lower.dt);
  EXPECT_LE(w.lower.dt * 1.05, r.dt);
  EXPECT_LE(r.dt * 1.05, w.upper.dt);
  EXPECT_LT(w.above.dt / w.upper.dt, 1.03);  // the edges to about 1 %
  EXPECT_LT(w.lower.dt / w.below.dt, 1.03);
  for (const convergence::Trial& t : w.trials) {
    if (t.ok() && t.dt >= w.lower.dt * 1.05 && t.dt <= w.upper.dt / 1.05) {
      EXPECT_GE(t.needed, r.needed) << "dt = " << t.dt;
    }
  }

  const ToolRun cli = run(duct(42, "0.1", 300), {"--window"});
  EXPECT_EQ(cli.status, r.needed <= 300 ? 0 : 3) << cli.err;
  EXPECT_NE(
      cli.out.find("fewest passes, sought at least 5 % inside both edges: " +
                   std::to_string(r.needed) + " at dt = " + convergence::dt_text(r.dt) + " s"),
      std::string::npos)
      << cli.out;
  EXPECT_NE(cli.out.find("recommended dt: " + convergence::dt_text(r.dt) +
                         "\npasses needed: " + std::to_string(r.needed) + "\n"),
            std::string::npos)
      << cli.out;

  fs::create_directory(dir_ / "tools");
  write_script(dir_ / "tools" / "notepad", "exit 0\n");
  write_script(dir_ / "tools" / "wgnuplot", "exit 0\n");
  write_file(work() / "dados.txt",
             duct(42, convergence::dt_text(r.dt), static_cast<int>(r.needed)));
  ASSERT_EQ(testing::run_program(work(), dir_ / "tools").status, 0);
  std::istringstream p_dat(read_file(work() / "p.dat"));
  std::string x, p;
  while (p_dat >> x >> p) {
  }
  EXPECT_LE(std::fabs(verification::parse_real(p) - r.converged), 1e-6 * std::fabs(r.converged));
}

// Every field of a trial, the converged value bit for bit.
void expect_same_trial(const convergence::Trial& t, const convergence::Trial& want) {
  EXPECT_EQ(t.dt, want.dt);
  EXPECT_EQ(t.ending, want.ending);
  EXPECT_EQ(t.passes, want.passes);
  EXPECT_EQ(t.needed, want.needed);
  EXPECT_EQ(std::memcmp(&t.converged, &want.converged, sizeof t.converged), 0);
  EXPECT_EQ(t.diverging_from, want.diverging_from);
  EXPECT_EQ(t.cycle_from, want.cycle_from);
  EXPECT_EQ(t.fault, want.fault);
  // A converged trial ends in the program's state after its passes.
  ASSERT_EQ(t.final_state != nullptr, want.ok());
  if (!want.ok()) return;
  const SimulationState& got = t.final_state->state;
  const SimulationState& run = want.final_state->state;
  EXPECT_EQ(static_cast<const Parameters&>(got), static_cast<const Parameters&>(run));
  EXPECT_EQ(got.it, run.it);
  EXPECT_EQ(got.it, want.passes);
  EXPECT_EQ(flowtest::first_difference(got, run), "");
  EXPECT_EQ(t.final_state->settling, want.final_state->settling);
}

// The residuals' sums of lanes side by side form |x| and the larger
// of two values with the bits of the double's: signed zeros, NaN either
// sign (never the larger), infinities, subnormals.
TEST(Residuals, SideBySideTheBitsOfEachLaneAlone) {
  using Two [[gnu::vector_size(2 * sizeof(double))]] = double;
  const double nan = std::nan("");
  const double inf = std::numeric_limits<double>::infinity();
  const double values[] = {0.0, -0.0, 1.5, -1.5, nan, -nan, inf, -inf, 4e-320, -4e-320};
  const auto bits = [](double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
  };
  for (const double a : values) {
    for (const double b : values) {
      SCOPED_TRACE(std::to_string(a) + " " + std::to_string(b));
      const Two x{a, b}, y{b, a};
      const Two m = batch::magnitude(x), l = batch::larger(x, y);
      EXPECT_EQ(bits(m[0]), bits(batch::magnitude(a)));
      EXPECT_EQ(bits(m[1]), bits(batch::magnitude(b)));
      EXPECT_EQ(bits(l[0]), bits(batch::larger(a, b)));
      EXPECT_EQ(bits(l[1]), bits(batch::larger(b, a)));
      EXPECT_EQ(bits(batch::larger(a, b)), bits(a > b ? a : b));
    }
  }
}

// Trials in the lanes of a batch, several dt of one grid side by side, are
// the trials of try_dt, field for field: converged, needing more than itmax,
// a fault in pass 1, diverging, and the cap.
TEST(LaneTrials, EachIsTheTrialOfItsDtRunAlone) {
  const struct {
    const char* name;
    std::string dados;
    Ending ending;  // of the dt of dados.txt
  } rows[] = {
      {"converged", duct(12, "0.1", 300), Ending::kConverged},
      {"needs more", testing::kExampleInput, Ending::kConverged},
      {"below the floor", example_with(9, "0.001"), Ending::kFault},
      {"diverging", duct(162, "1.7", 300), Ending::kDiverging},
      {"slow, to the cap", slow_oil(3000), Ending::kCap},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    SimulationState s;
    read_into(s, row.dados);
    const std::vector<double> dts = {s.dt, convergence::dt_rounded(s.dt * 1.5),
                                     convergence::dt_rounded(s.dt * 0.7)};
    // Fewer lanes than trials: one refilled.
    convergence::LaneTrials lanes(s, 2, 2, convergence::FinalStates::kKept);
    const std::vector<convergence::Trial> got = lanes.run_all(dts);
    EXPECT_EQ(got[0].ending, row.ending);
    for (std::size_t k = 0; k < dts.size(); ++k) {
      const convergence::Trial want =
          convergence::try_dt(s, dts[k], nullptr, convergence::FinalStates::kKept);
      const convergence::Trial& t = got[k];
      SCOPED_TRACE("dt = " + convergence::dt_text(dts[k]));
      expect_same_trial(t, want);
    }
    // Unless asked, a converged run keeps no state: it is a whole state each.
    EXPECT_EQ(convergence::try_dt(s, dts[0]).final_state, nullptr);
    EXPECT_EQ(convergence::LaneTrials(s, 2, 2).run_all({dts[0]})[0].final_state, nullptr);
  }
}

// Runs moved to the other batch each time one of them ends go on as if they
// had stayed where they started.
TEST(LaneTrials, MovedRunsGoOnWhereTheyStood) {
  for (const std::string& dados : {duct(12, "0.1", 300), duct(162, "1.7", 300)}) {
    SimulationState s;
    read_into(s, dados);
    std::map<double, convergence::Trial> got;
    const auto kept = convergence::FinalStates::kKept;
    convergence::LaneTrials one(s, 8, 4, kept), other(s, 8, 4, kept);
    convergence::LaneTrials* from = &one;
    convergence::LaneTrials* to = &other;
    for (double f : {1.0, 0.5, 0.7, 1.3, 2.0})
      from->start(convergence::dt_rounded(s.dt * f));
    while (from->running_lanes() > 0) {
      for (const convergence::LaneEnd& e : from->advance())
        got[e.trial.dt] = e.trial;
      while (from->move_one(*to)) {
      }
      to->gather();
      std::swap(from, to);
    }
    ASSERT_EQ(got.size(), 5U);
    for (const auto& [dt, t] : got) {
      const convergence::Trial want = convergence::try_dt(s, dt, nullptr, kept);
      SCOPED_TRACE("dt = " + convergence::dt_text(dt));
      expect_same_trial(t, want);
    }
  }
}

// The outlet pressure of the program after `passes` passes with dt.
double program_outlet(const std::string& dados, double dt, std::int64_t passes) {
  SimulationState s;
  EXPECT_FALSE(parse_input(dados, s).has_value());
  s.dt = dt;
  start_run(s);
  for (std::int64_t k = 1; k <= passes; ++k) {
    s.it = static_cast<std::int32_t>(k);
    outer_iteration(s);
  }
  return (s.p(s.N - 1) + s.p(s.N)) * 0.5 - (s.p(1) + s.p(2)) * 0.5;
}

// A run stopped once its outlet pressure has held within kBand of the known
// value goes on, moved out of its lane, as the run alone: its trial bit for
// bit, final state included; and it stopped where the program is in the band.
TEST(LaneTrials, ARunStoppedInTheBandGoesOnAsTheRunAlone) {
  for (const std::string& dados : {duct(12, "0.1", 300), std::string(testing::kExampleInput)}) {
    SimulationState s;
    read_into(s, dados);
    const double steady = convergence::steady_outlet(s, s.N);
    const auto kept = convergence::FinalStates::kKept;
    convergence::LaneTrials lanes(s, 4, 4);
    EXPECT_FALSE(lanes.start_to_entry(s.dt, 1000000));  // no value known yet
    lanes.know_value(steady);
    const std::vector<double> dts = {s.dt, convergence::dt_rounded(s.dt * 1.5)};
    for (const double dt : dts)
      ASSERT_TRUE(lanes.start_to_entry(dt, 1000000));
    std::vector<convergence::LaneEnd> ends;
    while (lanes.running_lanes() > 0) {
      for (convergence::LaneEnd& e : lanes.advance())
        ends.push_back(std::move(e));
    }
    ASSERT_EQ(ends.size(), dts.size());
    for (convergence::LaneEnd& e : ends) {
      SCOPED_TRACE("dt = " + convergence::dt_text(e.trial.dt));
      ASSERT_GT(e.entered, 0);
      ASSERT_NE(e.suspended, nullptr);
      EXPECT_EQ(e.suspended->passes,
                static_cast<std::int64_t>(
                    std::ceil(convergence::kEntryHeld * static_cast<double>(e.entered))));
      const double band = convergence::kBand * std::fabs(steady);
      for (const std::int64_t k : {e.entered, e.suspended->passes})
        EXPECT_LE(std::fabs(program_outlet(dados, e.trial.dt, k) - steady), band) << k;
      EXPECT_GT(std::fabs(program_outlet(dados, e.trial.dt, e.entered - 1) - steady), band);
      const convergence::Trial went_on = convergence::trial_of(
          e.trial.dt, convergence::resume(std::move(*e.suspended), nullptr, kept));
      expect_same_trial(went_on, convergence::try_dt(s, e.trial.dt, nullptr, kept));
    }
  }
}

// The dt of a window's trials, as they are printed.
std::vector<double> listed_dts(const convergence::Window& w) {
  std::vector<double> v;
  for (const convergence::Trial& t : w.trials)
    v.push_back(t.dt);
  return v;
}

// The window searched in lanes, on one core and on two, against the search
// trial by trial: the same edges and recommendation, each trial it prints one
// of the other's, the same trials printed on one core as on two, and the
// program with the recommended dt and its passes at the converged outlet
// pressure to 1e-6.
TEST(LaneTrials, WindowInLanesIsTheWindowTrialByTrial) {
  for (const std::string& dados : {duct(22, "0.1", 300), example_with(1, "27")}) {
    SCOPED_TRACE(dados.substr(0, dados.find('\n')));
    SimulationState s;
    read_into(s, dados);
    const convergence::Window one = convergence::search_window(s);
    std::vector<double> on_one_core;
    for (int cores : {1, 2}) {
      SCOPED_TRACE(std::to_string(cores) + " cores");
      const convergence::Window w = convergence::search_window_in_lanes(s, nullptr, cores);
      ASSERT_TRUE(w.open);
      for (const auto& [a, b] : {std::pair{w.lower, one.lower}, std::pair{w.upper, one.upper},
                                 std::pair{w.below, one.below}, std::pair{w.above, one.above}}) {
        EXPECT_NEAR(a.dt, b.dt, 0.01 * b.dt);
      }
      const convergence::Trial& r = w.recommended;
      EXPECT_EQ(r.dt, one.recommended.dt);
      EXPECT_EQ(r.needed, one.recommended.needed);
      for (const convergence::Trial& t : w.trials) {
        const auto same = std::find_if(one.trials.begin(), one.trials.end(), [&](const auto& o) {
          return o.dt == t.dt && o.ending == t.ending && o.passes == t.passes;
        });
        EXPECT_NE(same, one.trials.end()) << "dt = " << t.dt;
      }
      if (cores == 1) on_one_core = listed_dts(w);
      EXPECT_EQ(listed_dts(w), on_one_core);
      EXPECT_LE(std::fabs(program_outlet(dados, r.dt, r.needed) - r.converged),
                1e-6 * std::fabs(r.converged));
    }
  }
}

// What the lanes print does not depend on how far each core got when the
// other ended a run: on the shipped example, whose step towards the fewest
// passes asks of some dt only whether they need fewer passes than the best,
// one core and two, twice, print the same trials and the same verdict.
TEST(LaneTrials, WindowInLanesPrintsTheSameTrialsEveryRun) {
  SimulationState s;
  read_into(s, testing::kExampleInput);
  const convergence::Window first = convergence::search_window_in_lanes(s, nullptr, 1);
  for (int cores : {2, 2, 2}) {
    const convergence::Window w = convergence::search_window_in_lanes(s, nullptr, cores);
    EXPECT_EQ(listed_dts(w), listed_dts(first));
    EXPECT_EQ(w.recommended.dt, first.recommended.dt);
    EXPECT_EQ(w.recommended.needed, first.recommended.needed);
    EXPECT_EQ(std::pair(w.lower.dt, w.upper.dt), std::pair(first.lower.dt, first.upper.dt));
  }
}

}  // namespace
}  // namespace moody

namespace moody {
namespace {

// The last value after `key` in `out`, read as a number.
double last_number_after(const std::string& out, const std::string& key) {
  const std::size_t at = out.rfind(key);
  return at == std::string::npos ? std::nan("") : std::stod(out.substr(at + key.size()));
}

// A study to a GCI of 1 % on a coarse duct: the steady values of its first
// grids give a GCI above 1 %, and those of the next ladder one below it, so
// after the first round the study runs that ladder, whose finest grid ends
// at or below 1 %; the N named is no finer than that grid, the folders are
// those of that round alone, and each converged value is its grid's steady
// one.  Where no dt converges on the ladder the steady values choose (a
// duct of a tenth of the viscosity), the files of the first round stay,
// with status 4.
TEST_F(Tool, GridStudyRefinesToTheTarget) {
#if defined(__SANITIZE_ADDRESS__)
  // Three minutes under the sanitizers, whose paths the Study tests cover;
  // the native builds run it.
  GTEST_SKIP() << "left to the native builds";
#endif
  const ToolRun r = run(duct(12, "0.1", 1000), {"--grid", "--target", "1"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string out = r.unfolded();
  const std::size_t first = out.find("steady solutions, N = 12: ");
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_GT(last_number_after(out.substr(0, out.find('\n', first)), "GCI of the finest grid "),
            1.0);
  EXPECT_NE(out.find("; next N = 37, 72, 142\n"), std::string::npos) << r.out;
  EXPECT_NE(out.find("\nround 1: N = 12, 22, 42;"), std::string::npos) << r.out;
  const std::size_t second = out.find("\nround 2: N = 37, 72, 142;");
  ASSERT_NE(second, std::string::npos) << r.out;
  EXPECT_NE(out.find("next round N = 37, 72, 142 (the ladder whose steady values hold the target)"),
            std::string::npos);
  EXPECT_EQ(out.find("round 3: "), std::string::npos) << r.out;
  EXPECT_GT(last_number_after(out.substr(0, second), "GCI of the finest grid: "), 1.0);
  EXPECT_LE(last_number_after(out, "GCI of the finest grid: "), 1.0) << r.out;
  EXPECT_LE(last_number_after(out, "for a GCI of 1 %: N = "), 142.0) << r.out;
  EXPECT_NE(out.find("\nsteady solutions of the equations: every converged value holds to 1e-09"),
            std::string::npos);
  EXPECT_EQ(out.find("written:"), out.rfind("written:"));
  EXPECT_FALSE(fs::exists(work() / "malha-12"));
  EXPECT_TRUE(fs::exists(work() / "malha-142" / "p.dat"));

  const std::string low_viscosity =
      "22\n1.0\n1.0E-4\n1000.\n0.02\n1.0\n0.1\n0.05\n0.1\n1\n1000\n20\n";
  const ToolRun closed = run(low_viscosity, {"--grid=22,42,82", "--target", "0.5"});
  EXPECT_EQ(closed.status, 4) << closed.out << closed.err;
  const std::string said = closed.unfolded();
  for (const char* line :
       {"\nround 2: N = 56, 110, 218;",
        "\nN = 218: the program's iteration converges for no dt here; the steady solution of its "
        "equations: ",
        "\nthe files written are those of round 1, whose grids all converge\n"}) {
    EXPECT_NE(said.find(line), std::string::npos) << line << "\n" << closed.out;
  }
  EXPECT_TRUE(fs::exists(work() / "malha-82" / "p.dat"));
  EXPECT_FALSE(fs::exists(work() / "malha-218"));
}

// The next round: grids already run are reused where that costs less than
// grids of just the N needed; the finest is never below the N needed.
TEST(GridRounds, NextRoundReusesWhereThatCostsLess) {
  const std::vector<int> run = {52, 102, 202};
  const struct {
    double needed;
    std::vector<int> grids;
  } rows[] = {
      {354.0, {102, 202, 402}},     // one grid more, two reused
      {245.0, {63, 124, 246}},      // three small grids cost less than N = 402
      {2315.0, {581, 1160, 2318}},  // volumes a multiple of 4: ratios of 2 exactly
      {150.0, {53, 104, 206}},      // always finer than the finest grid run
      {3e9, {}},                    // beyond 32 bits
  };
  for (const auto& row : rows)
    EXPECT_EQ(convergence::next_round_grids(run, 202, row.needed), row.grids) << row.needed;
}

}  // namespace
}  // namespace moody
