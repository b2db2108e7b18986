#include "report.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "text_format.hpp"

namespace moody::convergence {

namespace {

// Twelve digits: the converged value is stated to 1e-9.
std::string stated_pressure(double v) {
  return pascals(v, 12);
}

std::string seconds(double dt) {
  return dt_text(dt) + " s";
}

// The smallest of 1, 2, 2.5, 5 times a power of ten that is at least `v`.
std::int64_t round_stride(double v) {
  for (std::int64_t decade = 1;; decade *= 10) {
    for (double m : {1.0, 2.0, 2.5, 5.0}) {
      const double stride = m * static_cast<double>(decade);
      if (stride >= v && stride == std::floor(stride)) return static_cast<std::int64_t>(stride);
    }
  }
}

// The program's code for a fault: "M4002".
std::string program_code(Fault f) {
  return format("M%d", static_cast<int>(fpe::code_of(f)));
}

}  // namespace

std::string trial_text(const Trial& t) {
  switch (t.ending) {
    case Ending::kConverged:
      return format("converges, %lld passes needed (%lld run)", lld_arg(t.needed),
                    lld_arg(t.passes));
    case Ending::kDiverging:
      return format("diverges from pass %lld", lld_arg(t.diverging_from));
    case Ending::kFault:
      if (t.passes == 0)
        return std::string("floating-point ") + fpe::name_of(*t.fault) + " before pass 1";
      return format("floating-point %s in pass %lld", fpe::name_of(*t.fault), lld_arg(t.passes));
    case Ending::kCap:
      return format("not converged in %lld passes (the cap)", lld_arg(t.passes));
    case Ending::kStuck:
      return format("stuck from pass %lld, its fields repeating", lld_arg(t.cycle_from));
  }
  return "";
}

std::string e_text(double v) {
  return format("%.3E", v);
}

std::string run_header(const SimulationState& s, double floor) {
  std::string h =
      format("case: N = %d, dt = %s s, itmax = %d\n", s.N, dt_text(s.dt).c_str(), s.itmax);
  if (std::isfinite(floor)) {
    h += "time-step floor of the grid (an estimate): " + seconds(floor) + "\n";
    if (s.dt < floor) {
      h += "dt = " + seconds(s.dt) +
           " is below the estimated floor: the first pass may stop with a floating-point fault\n";
    }
  } else {
    h += "time-step floor of the grid: none (no dt can start the iteration with this N and mi)\n";
  }
  h += "converged when the residuals are below mass " + e_text(kMassTolerance) + ", velocity " +
       e_text(kVelocityTolerance) + ", pressure " + e_text(kPressureTolerance) +
       format(
           " and what the outlet pressure has still to move, from the rate of its last "
           "passes, is below %.2g of it (or of q/1000); cap %lld passes\n",
           kSettled, lld_arg(cap_for(s.itmax)));
  return h;
}

std::string residual_table(const Outcome& o, std::int32_t itmax) {
  std::string t = "    pass       mass   velocity   pressure   outlet pressure [Pa]\n";
  if (o.rows.empty()) return t;
  const std::int64_t last = o.rows.back().pass;
  const std::int64_t stride = round_stride(static_cast<double>(last) / 30.0);
  for (const Row& row : o.rows) {
    const bool wanted =
        row.pass == 1 || row.pass % stride == 0 || row.pass == itmax || row.pass == last;
    if (!wanted) continue;
    t += format("%8lld  %s  %s  %s  %17.10g", lld_arg(row.pass), e_text(row.r.mass).c_str(),
                e_text(row.r.velocity).c_str(), e_text(row.r.pressure).c_str(), row.r.outlet);
    if (row.pass == itmax) t += "   itmax";
    t += "\n";
  }
  return t;
}

namespace {

// A change of the outlet pressure as a share of `against`, the converged
// value or q/1000 when that is larger: "(0.14 % of it)", "(2.1 % of q/1000)".
std::string share_text(double change, double converged, double q) {
  const double small = kSmallPressure * q;
  const bool floored = std::fabs(converged) < small;
  const double against = floored ? small : std::fabs(converged);
  return format("(%.3g %% of %s)", against > 0.0 ? 100.0 * std::fabs(change) / against : 0.0,
                floored ? "q/1000" : "it");
}

}  // namespace

namespace {

// The verdict of a run that converged: the passes needed and whether
// itmax gives them.
Verdict converged_verdict(const Outcome& o, const SimulationState& s) {
  Verdict v;
  std::string& t = v.text;
  const std::string itmax = format("itmax = %d", s.itmax);
  const double c = o.converged;
  t += format(
      "converged at pass %lld: every residual below its tolerance, the outlet pressure "
      "settled\n",
      lld_arg(o.passes));
  t += "converged outlet pressure: " + stated_pressure(c) + format(" (to %.0e)\n", kStated);
  t += format(
      "itmax for the outlet pressure to %.0e: %lld (from that pass on it stays within "
      "%.0e of the converged value)\n",
      kBand, lld_arg(o.needed), kBand);
  t += format(
      "itmax for converged residuals: %lld (from that pass on every residual is below "
      "its tolerance, for a report that must show them)\n",
      lld_arg(o.residuals_below));
  if (o.needed <= s.itmax) {
    t += "converged by " + itmax + "\n";
    v.status = kExitConverged;
  } else {
    const double off = o.at_itmax - c;
    t += "not converged by " + itmax + ": there the outlet pressure is " +
         stated_pressure(o.at_itmax) + format(", %.4g Pa ", off) +
         share_text(off, c, dynamic_pressure(s)) + " from the converged one\n";
    t += format("set itmax to at least %lld (%lld for a report with converged residuals)\n",
                lld_arg(o.needed), lld_arg(std::max(o.needed, o.residuals_below)));
    v.status = kExitNeedsMore;
  }
  t += format("passes needed: %lld\n", lld_arg(o.needed));
  return v;
}

// A run whose velocity residual runs away.
std::string diverging_text(const Outcome& o, const SimulationState& s) {
  std::string t;
  const std::string itmax = format("itmax = %d", s.itmax);
  t += format(
      "diverging: the velocity residual grows from pass %lld, where it was %s, to %s "
      "at pass %lld, where this run stopped\n",
      lld_arg(o.diverging_from), e_text(o.smallest).c_str(), e_text(o.last.velocity).c_str(),
      lld_arg(o.passes));
  if (s.itmax <= o.passes) {
    t += "with " + itmax + " the program ends normally, on numbers that are no solution\n";
  } else {
    t += "with " + itmax +
         " the program goes on diverging, to an overflow (M4002) or to numbers that are no "
         "solution\n";
  }
  t += "no itmax makes this dt converge: lower dt (convergence --window searches the range)\n";
  return t;
}

// A run that raises a floating-point fault.
std::string fault_text(const Outcome& o, const SimulationState& s, double floor) {
  std::string t;
  const std::string what = std::string("floating-point ") + fpe::name_of(*o.fault);
  const std::string code = program_code(*o.fault);
  if (o.passes == 0) {
    t += what + " before pass 1, in the grid and geometry: the program stops there with " + code +
         "\n";
  } else {
    t += what + format(" in pass %lld", lld_arg(o.passes)) + ": the program stops there with " +
         code;
    t += s.itmax >= o.passes ? "\n" : " when itmax reaches it\n";
    if (o.passes == 1 && !std::isfinite(floor)) {
      // A grid that reaches pass 1 has N >= 3: the floor is infinite for
      // mi = 0 alone (time_step.hpp).
      t += "the time-step floor of the grid is infinite: no dt can start the iteration with "
           "mi = 0, since without viscosity nothing carries the inlet velocity from rest to "
           "the outlet in the first pass; give mi > 0\n";
    } else if (o.passes == 1 && s.dt < floor) {
      t += "dt = " + seconds(s.dt) + " is below the estimated time-step floor " + seconds(floor) +
           ": take dt >= " + seconds(floor) + "\n";
    }
  }
  return t;
}

// A run that reaches the cap of passes.
std::string cap_text(const Outcome& o) {
  std::string t;
  t += format("neither converged nor diverging after %lld passes (the cap)\n", lld_arg(o.passes));
  if (o.extrapolated_settled > 0) {
    t += o.extrapolated <= o.passes
             ? format(
                   "at the rate of its last passes the outlet pressure is within %.0e of "
                   "its value already",
                   kBand)
             : format(
                   "at the rate of its last passes the outlet pressure would be within "
                   "%.0e of its value after about %lld passes",
                   kBand, lld_arg(o.extrapolated));
    t += format(
        " and settled after about %lld: with itmax = %lld in dados.txt this tool "
        "runs that far\n",
        lld_arg(o.extrapolated_settled), lld_arg(o.extrapolated_settled));
  } else {
    t += o.creeping ? "the outlet pressure has come to rest, but the velocities still "
                      "change in every pass without repeating: at a dt this small they creep "
                      "by a rounding a pass, and the pressure follows later\n"
                    : "its last passes show no steady approach to a value\n";
  }
  t += "or try a larger dt (a dt far below its best converges slowly), or convergence "
       "--window for the dt that needs the fewest passes\n";
  return t;
}

// A run whose fields recur bit for bit with a residual above its tolerance.
std::string stuck_text(const Outcome& o) {
  std::string t;
  const Residuals& r = o.last;
  const std::int64_t period = o.passes - o.cycle_from;
  t += period == 1
           ? format("stuck: from pass %lld on the fields no longer change", lld_arg(o.cycle_from))
           : format(
                 "stuck: from pass %lld on the fields repeat bit for bit every %lld "
                 "passes",
                 lld_arg(o.cycle_from), lld_arg(period));
  t += format(", with the %s residual above its tolerance (mass %s, velocity %s, pressure %s)\n",
              o.unmet, e_text(r.mass).c_str(), e_text(r.velocity).c_str(),
              e_text(r.pressure).c_str());
  t += period == 1
           ? "the program's outlet pressure stays at " + stated_pressure(r.outlet)
           : "the program's outlet pressure goes round from " + stated_pressure(o.cycle_low) +
                 " to " + stated_pressure(o.cycle_high) + " with itmax";
  t += ", and solves nothing: the corrections are lost in the roundings of the fields\n";
  t += "try a larger dt (a dt far below its best does this), or convergence --window for "
       "the dt that needs the fewest passes\n";
  return t;
}

}  // namespace

Verdict verdict(const Outcome& o, const SimulationState& s, double floor) {
  Verdict v;
  switch (o.ending) {
    case Ending::kConverged:
      return converged_verdict(o, s);
    case Ending::kDiverging:
      v.text = diverging_text(o, s);
      break;
    case Ending::kFault:
      v.text = fault_text(o, s, floor);
      break;
    case Ending::kCap:
      v.text = cap_text(o);
      break;
    case Ending::kStuck:
      v.text = stuck_text(o);
      break;
  }
  // At the cap with a steady approach the passes are foreseen, not run:
  // an estimate, and the itmax that lets this tool run them.
  v.text += o.ending == Ending::kCap && o.extrapolated_settled > 0
                ? format("passes needed: about %lld, an estimate; set itmax = %lld in dados.txt\n",
                         lld_arg(o.extrapolated_settled), lld_arg(o.extrapolated_settled))
                : std::string("passes needed: none\n");
  v.status = kExitNoConvergence;
  return v;
}

std::string residuos_text(const Outcome& o) {
  std::string t = "#   pass       mass   velocity   pressure    outlet pressure [Pa]\r\n";
  for (const Row& row : o.rows) {
    t += format("%8lld  %s  %s  %s  %s\r\n", lld_arg(row.pass), e_text(row.r.mass).c_str(),
                e_text(row.r.velocity).c_str(), e_text(row.r.pressure).c_str(),
                format("%16.9E", row.r.outlet).c_str());
  }
  return t;
}

Verdict window_report(const Window& w, const SimulationState& s) {
  Verdict v;
  std::string& t = v.text;
  t += format("window of dt: N = %d, everything but dt as in dados.txt; cap %lld passes\n", s.N,
              lld_arg(cap_for(s.itmax)));
  t += "time-step floor of the grid (an estimate): " +
       (std::isfinite(w.floor) ? seconds(w.floor) : std::string("none")) + "; search from " +
       seconds(w.bottom) + " to " + seconds(w.top) + "\n";
  t += "      dt [s]  run\n";
  for (const Trial& trial : w.trials) {
    t += format("%12s  %s\n", dt_text(trial.dt).c_str(), trial_text(trial).c_str());
  }
  if (!w.open) {
    t += "no dt tried converges within the cap\n";
    t += "recommended dt: none\npasses needed: none\n";
    v.status = kExitNoConvergence;
    return v;
  }
  t += "converges from " + seconds(w.lower.dt) + " to " + seconds(w.upper.dt) + "\n";
  t += w.below.dt > 0.0
           ? "  below: " + seconds(w.below.dt) + " " + trial_text(w.below) + "\n"
           : "  below: every dt tried converges; the search stops at " + seconds(w.bottom) + "\n";
  t += w.above.dt > 0.0
           ? "  above: " + seconds(w.above.dt) + " " + trial_text(w.above) + "\n"
           : "  above: every dt tried converges; the search stops at " + seconds(w.top) + "\n";
  const Trial& r = w.recommended;
  // Sought away from the edges, where a dt that needs fewer passes is close
  // to one that fails: a faster dt in the table is no contradiction.
  const bool inside = r.dt >= w.lower.dt * 1.05 && r.dt <= w.upper.dt / 1.05;
  t += format("fewest passes, %s: %lld at dt = %s s (outlet pressure %s)\n",
              inside ? "sought at least 5 % inside both edges"
                     : "the window is too narrow for 5 % inside its edges, so its middle",
              lld_arg(r.needed), dt_text(r.dt).c_str(), stated_pressure(r.converged).c_str());
  t += "recommended dt: " + dt_text(r.dt) + "\n";
  t += format("passes needed: %lld\n", lld_arg(r.needed));
  v.status = r.needed <= s.itmax ? kExitConverged : kExitNeedsMore;
  return v;
}

}  // namespace moody::convergence
