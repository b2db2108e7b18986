#pragma once
// What the convergence tool writes: the residual table, the verdict in words
// and its exit status, residuos.dat, and the report of the dt window.

#include <cstdint>
#include <string>

#include "control/state.hpp"
#include "run.hpp"
#include "window.hpp"

namespace moody::convergence {

// Exit statuses.
inline constexpr int kExitConverged = 0;      // converged within itmax
inline constexpr int kExitInput = 1;          // dados.txt unreadable (the program's frames)
inline constexpr int kExitUsage = 2;          // the command line
inline constexpr int kExitNeedsMore = 3;      // converges, but needs more than itmax passes
inline constexpr int kExitNoConvergence = 4;  // diverges, a fault, stuck, or the cap reached

// The lines before a run: the case, the floor (and whether dt is below it),
// the tolerances and the cap.
std::string run_header(const SimulationState& s, double floor);

// The residuals of about thirty passes, evenly spaced, with pass 1, pass
// itmax and the last pass among them.
std::string residual_table(const Outcome& o, std::int32_t itmax);

struct Verdict {
  std::string text;  // ends with the line "passes needed: K" or "passes needed: none"
  int status = kExitNoConvergence;
};

Verdict verdict(const Outcome& o, const SimulationState& s, double floor);

// residuos.dat: a comment line, then one line per kept pass (see row_kept):
// the pass and the three residuals and the outlet pressure, in E form, CR LF.
std::string residuos_text(const Outcome& o);

// The --window report: the case, every dt tried, the range, the
// recommendation, and the last two lines "recommended dt: X" and
// "passes needed: K" (or "none" twice).
Verdict window_report(const Window& w, const SimulationState& s);

// How the run of one dt ended: "converges, 807 passes needed (1075 run)",
// "diverges from pass 245", "floating-point overflow in pass 1", ...
std::string trial_text(const Trial& t);

// "1.234E-05"
std::string e_text(double v);

}  // namespace moody::convergence
