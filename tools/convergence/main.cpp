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

#include "control/console.hpp"
#include "control/runtime_error.hpp"
#include "control/start.hpp"
#include "flow/time_step.hpp"
#include "grid.hpp"
#include "io/dados.hpp"
#include "io/file_cause.hpp"
#include "lane_trials.hpp"
#include "report.hpp"
#include "run.hpp"
#include "terminal.hpp"
#include "window.hpp"

namespace moody::convergence {
namespace {

namespace fs = std::filesystem;

constexpr const char* kResiduals = "residuos.dat";

const char* const kUsage =
    "usage: convergence [--window] [FOLDER]\n"
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
    "  PERCENT; the files are those of the last round whose grids all converge.\n";

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

// residuos.dat, created before the run so that a folder where it cannot be
// written is said at once, and written at the end.
class ResidualFile {
 public:
  ResidualFile() : file_(std::fopen(kResiduals, "wb")) {
    if (file_ == nullptr) {
      const int error = errno;
      fatal(ErrorCode::kOpenFailed, std::string(kResiduals) + ": the file cannot be created in " +
                                        console_text(here(), true) + ": " +
                                        file_cause(error, FileUse::kWrite));
    }
  }
  ~ResidualFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  ResidualFile(const ResidualFile&) = delete;
  ResidualFile& operator=(const ResidualFile&) = delete;

  void write(const std::string& text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    const bool closed = std::fclose(file_) == 0;
    const int error = errno;
    file_ = nullptr;
    if (!written || !closed) {
      fatal(ErrorCode::kWriteFailed, std::string(kResiduals) + ": the file cannot be written: " +
                                         file_cause(error, FileUse::kWrite));
    }
  }

 private:
  std::FILE* file_;
};

int convergence(int argc, char** argv) {
  bool window = false;
  GridOptions grid;
  std::string folder;
  for (int k = 1; k < argc; ++k) {
    const std::string_view arg = argv[k];
    std::string problem;
    if (arg == "--window") {
      window = true;
    } else if (const int taken = take_grid_option(argc, argv, k, grid, problem); taken != 0) {
      if (taken < 0) {
        std::fprintf(stderr, "convergence: %s\n%s", problem.c_str(), kUsage);
        return kExitUsage;
      }
      k += taken - 1;
    } else if (arg == "-h" || arg == "--help" || arg == "/?") {
      std::fputs(kUsage, stdout);
      return kExitConverged;
    } else if (!arg.empty() && arg[0] != '-' && folder.empty()) {
      folder = arg;
    } else {
      const bool second_folder = !arg.empty() && arg[0] != '-';
      std::fprintf(stderr, "convergence: %s \"%s\"\n%s",
                   second_folder ? "a second folder" : "unknown argument", argv[k], kUsage);
      return kExitUsage;
    }
  }
  if (const std::string problem = grid_options_problem(grid, window); !problem.empty()) {
    std::fprintf(stderr, "convergence: %s\n%s", problem.c_str(), kUsage);
    return kExitUsage;
  }
  if (!folder.empty()) {
    std::error_code ec;
    fs::current_path(folder, ec);
    if (ec) {
      std::fprintf(stderr, "convergence: cannot work in the folder %s: %s\n%s", folder.c_str(),
                   ec.message().c_str(), kUsage);
      return kExitUsage;
    }
  }
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
  if (grid.active) return grid_study(s, grid);
  size_state(s);
  const double floor = time_step_floor(s.N, s.L, s.ro, s.mi);
  Progress progress(stderr_is_terminal());

  if (window) {
    put_text("folder: " + here() + "\n");
    std::fflush(stdout);
    const Window w = search_window_in_lanes(s, &progress, search_cores());
    progress.clear();
    const Verdict v = window_report(w, s);
    std::fputs(v.text.c_str(), stdout);
    return v.status;
  }

  ResidualFile residuals;
  put_text("folder: " + here() + "\n");
  std::fputs(run_header(s, floor).c_str(), stdout);
  std::fflush(stdout);
  const Outcome o = run(s, &progress);
  progress.clear();
  residuals.write(residuos_text(o));
  std::fputs(("\n" + residual_table(o, s.itmax) + "\n").c_str(), stdout);
  const Verdict v = verdict(o, s, floor);
  std::fprintf(stdout, "%s: %lld lines\n", kResiduals, static_cast<long long>(o.rows.size()));
  std::fputs(v.text.c_str(), stdout);
  return v.status;
}

}  // namespace
}  // namespace moody::convergence

int main(int argc, char** argv) {
  try {
    const int status = moody::convergence::convergence(argc, argv);
    std::fflush(stdout);
    moody::console::hold_if_alone();  // the verdict stays on a window of its own
    return status;
  } catch (const std::bad_alloc&) {
    moody::fatal(moody::ErrorCode::kNoStorage, "storage for the run cannot be obtained");
  }
}
