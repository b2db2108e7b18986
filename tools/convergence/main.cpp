// Did the run converge, and what dt and itmax will?  Runs the program's outer
// iteration on FOLDER/dados.txt past itmax, with the residuals of every pass,
// until it converges, diverges, faults or reaches the cap; prints a table of
// the residuals and the verdict, and writes residuos.dat.  With --window it
// searches the range of dt that converges and the dt that needs the fewest
// passes.  With --grid it runs the grid study (grid.hpp).  Launches nothing;
// writes no saida.txt, u.dat or p.dat in FOLDER.
//
//   convergence [--window] [FOLDER]      (-h, --help or /? for the usage)
//   convergence --grid[=N1,N2,...] [--target PERCENT] [FOLDER]

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <system_error>

#include "columns.hpp"
#include "control/console.hpp"
#include "control/runtime_error.hpp"
#include "control/start.hpp"
#include "flow/time_step.hpp"
#include "grid.hpp"
#include "io/dados.hpp"
#include "io/file_cause.hpp"
#include "lane_trials.hpp"
#include "report.hpp"
#include "residual_file.hpp"
#include "run.hpp"
#include "steady.hpp"
#include "terminal.hpp"
#include "window.hpp"

namespace moody::convergence {
namespace {

namespace fs = std::filesystem;

const char* const kUsage =
    "usage: convergence [--window | --steady] [FOLDER]\n"
    "       convergence --grid[=N1,N2,...] [--target PERCENT] [FOLDER]\n"
    "  Runs the outer iteration of FOLDER/dados.txt (default: the current folder)\n"
    "  until it converges, diverges or reaches the cap, and says whether itmax\n"
    "  is enough; writes FOLDER/residuos.dat.  --window searches the range of dt\n"
    "  that converges and the dt that needs the fewest passes.  --grid runs the case\n"
    "  on three grids or more (N of dados.txt and 2x, 4x its volumes, or those N),\n"
    "  each converged, and estimates the discretisation error: observed order,\n"
    "  extrapolated value, GCI, and the N for a GCI of 1 % (or --target);\n"
    "  writes FOLDER/malha-N/ and FOLDER/malhas.dat.  --target PERCENT (1e-4 to 50)\n"
    "  refines in rounds of three grids until the finest grid's GCI is at most\n"
    "  PERCENT; the files are those of the last round whose grids all converge.\n"
    "  --steady solves the steady discrete equations directly (Newton's method)\n"
    "  and prints the outlet pressure that the iteration converges to.\n";

// A bar on standard error, redrawn at most ten times a second, when that is
// a terminal: the pass, and how far the residuals have come down from pass 2
// towards their tolerances (in decades, the least advanced of the three).
class Progress : public TrialObserver {
 public:
  explicit Progress(bool on) : on_(on) {}
  ~Progress() override { clear(); }

  void trial(double dt) override {
    label_ = "dt = " + dt_text(dt) + " s  ";
    start_ = Residuals{};
  }

  void pass(std::int64_t k, const Residuals& r) override {
    if (!on_) return;
    if (k == 2) start_ = r;
    if ((k & 63) != 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const double done = std::min({share(start_.mass, r.mass, kMassTolerance),
                                  share(start_.velocity, r.velocity, kVelocityTolerance),
                                  share(start_.pressure, r.pressure, kPressureTolerance)});
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(done * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.resize(kWidth, '.');
    char text[200];
    const long long pass = k;  // printf's type, whatever int64_t is here
    std::snprintf(text, sizeof text, "\r%spass %lld [%s] %s %s %s ", label_.c_str(), pass,
                  bar.c_str(), e_text(r.mass).c_str(), e_text(r.velocity).c_str(),
                  e_text(r.pressure).c_str());
    std::fputs(text, stderr);
    width_ = std::string(text).size();
  }

  void clear() {
    if (width_ == 0) return;
    std::string blank(width_ + 2, ' ');
    blank.front() = '\r';
    blank.back() = '\r';
    std::fputs(blank.c_str(), stderr);
    width_ = 0;
  }

 private:
  // The share of the decades from `from` down to `tolerance` that `now` has done.
  static double share(double from, double now, double tolerance) {
    if (!(from > tolerance) || !(now > 0.0)) return now <= tolerance ? 1.0 : 0.0;
    const double s = std::log10(from / now) / std::log10(from / tolerance);
    return std::clamp(s, 0.0, 1.0);
  }

  bool on_;
  std::string label_;
  Residuals start_;
  std::chrono::steady_clock::time_point last_{};
  std::size_t width_ = 0;
};

// The folder worked in, for the messages.
std::string here() {
  try {
    std::error_code ec;
    return fs::current_path(ec).string();
  } catch (const std::exception&) {
    return ".";  // a name the narrow character set cannot hold
  }
}

// The command line: what to do, and where.
struct Command {
  bool window = false;
  bool steady = false;
  GridOptions grid;
  std::string folder;
};

// Reads the command line into `c` and enters its folder: kGoOn, or the
// status to end with (the usage, or a command line refused).
constexpr int kGoOn = -1;
int read_command(int argc, char** argv, Command& c) {
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    std::string problem;
    if (arg == "--window") {
      c.window = true;
    } else if (arg == "--steady") {
      c.steady = true;
    } else if (const int taken = take_grid_option(argc, argv, k, c.grid, problem); taken != 0) {
      if (taken < 0) {
        std::fprintf(stderr, "convergence: %s\n%s", problem.c_str(), kUsage);
        return kExitUsage;
      }
      k += taken - 1;
    } else if (arg == "-h" || arg == "--help" || arg == "/?") {
      std::fputs(kUsage, stdout);
      return kExitConverged;
    } else if (!arg.empty() && arg[0] != '-' && c.folder.empty()) {
      c.folder = arg;
    } else {
      const bool second_folder = !arg.empty() && arg[0] != '-';
      std::fprintf(stderr, "convergence: %s \"%s\"\n%s",
                   second_folder ? "a second folder" : "unknown argument", argv[k], kUsage);
      return kExitUsage;
    }
  }
  if (c.steady && (c.window || c.grid.active)) {
    std::fprintf(stderr, "convergence: --steady goes alone\n%s", kUsage);
    return kExitUsage;
  }
  if (const std::string problem = grid_options_problem(c.grid, c.window); !problem.empty()) {
    std::fprintf(stderr, "convergence: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
  }
  if (!c.folder.empty()) {
    std::error_code ec;
    fs::current_path(c.folder, ec);
    if (ec) {
      std::fprintf(stderr, "convergence: cannot work in the folder %s: %s\n%s", c.folder.c_str(),
                   ec.message().c_str(), kUsage);
      return kExitUsage;
    }
  }
  return kGoOn;
}

// The plain run: past itmax to its end, the table, residuos.dat, the verdict.
int plain_run(SimulationState& s, double floor, Progress& progress) {
  ResidualFile residuals(console_text(here(), true));
  put_text("folder: " + here() + "\n");
  std::fputs(fit_columns(run_header(s, floor)).c_str(), stdout);
  flush_output();
  const Outcome o = run(s, &progress);
  progress.clear();
  residuals.write(residuos_text(o));
  std::fputs(("\n" + residual_table(o, s.itmax) + "\n").c_str(), stdout);
  const Verdict v = verdict(o, s, floor);
  std::fprintf(stdout, "%s: %lld lines\n", kResiduals, static_cast<long long>(o.rows.size()));
  std::fputs(fit_columns(v.text).c_str(), stdout);
  return v.status;
}

int convergence(int argc, char** argv) {
  Command c;
  if (const int status = read_command(argc, argv, c); status != kGoOn) return status;
  // The program's reader creates a missing dados.txt; this tool writes
  // nothing the user did not ask for.
  std::error_code ec;
  if (!fs::exists(kInputFile, ec)) {
    fatal(ErrorCode::kOpenFailed, std::string(kInputFile) +
                                      ": cannot open the file: there is none in " +
                                      console_text(here(), true));
  }

  SimulationState s;
  read_parameters(s);
  if (c.grid.active) return grid_study(s, c.grid);
  if (c.steady) {
    put_text("folder: " + here() + "\n");
    return steady_run(s);
  }
  size_state(s);
  const double floor = time_step_floor(s.N, s.L, s.ro, s.mi);
  Progress progress(stderr_is_terminal());
  if (!c.window) return plain_run(s, floor, progress);

  put_text("folder: " + here() + "\n");
  flush_output();
  const Window w = search_window_in_lanes(s, &progress, search_cores());
  progress.clear();
  const Verdict v = window_report(w, s);
  std::fputs(fit_columns(v.text).c_str(), stdout);
  return v.status;
}

// The status of a run whose report on standard output, `open` at the
// start, has all reached it; otherwise a line on standard error and status
// 1: a verdict that is lost is no success.
int delivered(int status, bool open) {
  const bool flushed = flush_output();
  if (open && flushed) return status;
  // A command line refused prints nothing there; its status stands.
  if (!open && status == kExitUsage) return status;
  notice(open ? "convergence: standard output cannot be written: " +
                    file_cause(first_output_error(), FileUse::kWrite) +
                    "; what it should hold is lost"
              : std::string("convergence: standard output is closed; what it should hold is lost"));
  return kExitInput;
}

}  // namespace
}  // namespace moody::convergence

int main(int argc, char** argv) {
  try {
    const bool open = moody::convergence::hold_standard_output();
    const int status =
        moody::convergence::delivered(moody::convergence::convergence(argc, argv), open);
    moody::console::hold_if_alone();  // the verdict stays on a window of its own
    return status;
  } catch (const std::bad_alloc&) {
    moody::fatal(moody::ErrorCode::kNoStorage, "storage for the run cannot be obtained");
  }
}
