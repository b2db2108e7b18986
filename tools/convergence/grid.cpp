#include "grid.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "columns.hpp"
#include "control/runtime_error.hpp"
#include "grid_estimate.hpp"
#include "grid_files.hpp"
#include "grid_report.hpp"
#include "grid_runs.hpp"
#include "grid_steady.hpp"
#include "report.hpp"
#include "terminal.hpp"
#include "text_format.hpp"

namespace moody::convergence {

namespace {

// `text` on standard output, fitted to the console, at once.
void say(const std::string& text) {
  std::fputs(fit_columns(text).c_str(), stdout);
  flush_output();
}

// A study on some grids, with its estimate.
struct Study {
  std::vector<GridRun> runs;
  Estimate e;
};

// The whole report of the study `said`, after writing the files of the
// study `kept` (the same, or an earlier round's); its status.
int final_report(const Study& said, const Study& kept, const GridOptions& options,
                 const std::string& after) {
  // The folders and malhas.dat, before anything is said of them.
  const std::string stale = write_grid_files(
      kept.runs,
      {{kCsvFile, malhas_csv(kept.runs, kept.e)}, {kTableFile, malhas_text(kept.runs, kept.e)}});
  const GridReport report = grid_report(said.runs, said.e, options, kept.runs);
  say(report.text + after + stale + "\n" + report_paragraph(kept.e));
  return report.status;
}

// The grids of `fresh`, each with the cap its coarser grids of `before`
// foresee; a grid that reaches its cap where the coarser grids of this
// round foresee more passes runs again with the cap they foresee.
std::vector<GridRun> run_fresh(const Parameters& dados, const std::vector<int>& fresh,
                               const std::vector<GridRun>& before) {
  std::vector<std::unique_ptr<SimulationState>> states = sized_grids(dados, fresh);
  raise_caps(states, before);
  std::vector<GridRun> ran = run_grids(states, before);
  add_steady_values(ran, dados);
  for (std::size_t k = 0; k < states.size(); ++k) {
    if (ran[k].converged) continue;
    std::vector<GridRun> known = before;
    known.insert(known.end(), ran.begin(), ran.end());
    std::vector<std::unique_ptr<SimulationState>> again;
    again.push_back(std::move(states[k]));
    const std::int32_t cap = again.front()->itmax;
    raise_caps(again, known);
    if (again.front()->itmax != cap) {
      const double steady = ran[k].steady;
      ran[k] = std::move(run_grids(again, known).front());
      ran[k].steady = steady;
    }
  }
  return ran;
}

// The end of a study to a target whose round `study` needs the grid
// `needed`, on which no dt converges: the files are those of the round
// `last_round`, `last`, whose grids all converge.
int failed_round(const Study& study, const Study& last, int last_round,
                 const std::map<int, GridRun>& done, int needed, const GridOptions& options) {
  int fine = 0;  // the finest grid that converges, of every round
  for (const auto& [N, g] : done)
    fine = g.converged ? N : fine;
  std::string after = "the target GCI of " + options.target_text +
                      " % needs N = " + std::to_string(needed) + ", on which no dt converges";
  after += format("; the finest grid that converges in the rounds: N = %d", fine);
  after += format("; the GCI reached: %.4g %% on N = %d", 100.0 * last.e.gci.gci_fine,
                  last.runs.back().N);
  if (order_far_from_scheme(last.e.gci.p)) {
    after += format(", with an observed order %.6g far from %g", last.e.gci.p, kSchemeOrder);
  }
  after +=
      format("\nthe files written are those of round %d, whose grids all converge\n", last_round);
  final_report(study, last, options, after);
  return kExitNoConvergence;
}

// The line that ends a round short of the target: why, and the next
// round's grids, chosen on the steady values or sized as the estimate asks.
std::string next_round_line(const Estimate& e, const GridOptions& options,
                            const std::vector<int>& next, bool steady_choice) {
  std::string why = format("GCI of the finest grid %.4g %% ", 100.0 * e.gci.gci_fine);
  why += e.gci.gci_fine > options.target
             ? "> " + options.target_text + " %"
             : format("<= %s %%, but the observed order %.6g is far from %g",
                      options.target_text.c_str(), e.gci.p, kSchemeOrder);
  why += ": next round N = " + list_text(next);
  if (steady_choice) {
    why += " (the ladder whose steady values hold the target)";
  } else if (e.next_N > e.needed_N) {
    why += format(
        " (its finest sized with the scheme's order %g, the observed one being "
        "uncertain)",
        kSchemeOrder);
  }
  return why;
}

// Rounds of three grids until the finest has a GCI of at most the target:
// each next round's finest at least the N the last estimate asks for.  A
// grid run in a round is taken as it is into the rounds after it.
int study_to_target(const Parameters& dados, const GridOptions& options, std::vector<int> grids) {
  // The ladder whose steady values reach the target is the second round:
  // the first, on the grids given, is cheap, and the passes its grids need
  // give the caps of the finer ones (raise_caps).
  std::string predicted;
  std::vector<std::vector<int>> ladders = predicted_grids(dados, options, grids, predicted);
  say(predicted);
  std::optional<std::vector<int>> jump;
  if (ladders.size() > 1) jump = ladders.back();
  std::map<int, GridRun> done;
  std::optional<Study> last;  // the round before, every grid converged
  for (int round = 1;; ++round) {
    std::vector<int> fresh, reused, run_before;
    std::vector<GridRun> before;
    run_before.reserve(done.size());
    before.reserve(done.size());
    for (const auto& [N, g] : done) {
      run_before.push_back(N);
      before.push_back(g);
    }
    for (const int N : grids)
      (done.contains(N) ? reused : fresh).push_back(N);
    std::string head = format("round %d: N = ", round) + list_text(grids);
    if (!reused.empty()) head += " (" + list_text(reused) + " from the rounds before)";
    say(head + "; everything but N and dt as in dados.txt\n");

    check_grid_folders(grids, {kCsvFile, kTableFile});
    std::vector<GridRun> ran = run_fresh(dados, fresh, before);
    for (GridRun& g : ran)
      done[g.N] = std::move(g);
    Study study;
    std::vector<GridRun>& runs = study.runs;
    runs.reserve(grids.size());
    for (const int N : grids)
      runs.push_back(done.at(N));
    study.e = estimate(runs, dados, options.target);
    const Estimate& e = study.e;

    const auto failed =
        std::find_if(runs.begin(), runs.end(), [](const GridRun& g) { return !g.converged; });
    const bool ordered = e.has_three_grids && e.gci.has_order();
    std::vector<int> next =
        ordered ? next_round_grids(run_before, grids.back(), e.next_N) : std::vector<int>{};
    const bool steady_choice = jump && !next.empty() && jump->back() > grids.back();
    if (steady_choice) next = *jump;
    jump.reset();
    if (failed != runs.end()) {
      if (!last) {
        final_report(study, study, options, "");
        return kExitNoConvergence;
      }
      return failed_round(study, *last, round - 1, done, failed->N, options);
    }
    // The target holds where the GCI is at most it on grids in the
    // asymptotic range: a GCI from an order far from the scheme's is not
    // yet an error band.
    const bool far = ordered && order_far_from_scheme(e.gci.p);
    const bool reached = ordered && e.gci.gci_fine <= options.target && !far;
    if (!ordered || reached || next.empty()) {
      std::string after;
      if (ordered && !reached) {
        after = "the target GCI of " + options.target_text +
                " % needs grids beyond 32 bits: not reached\n";
      }
      const int status = final_report(study, study, options, after);
      return status == kExitConverged && !after.empty() ? kExitNoConvergence : status;
    }
    const std::string why = next_round_line(e, options, next, steady_choice);
    say(round_report(runs, e, options) + why + "\n\n");
    last = std::move(study);
    grids = next;
  }
}

}  // namespace

int grid_study(const Parameters& dados, const GridOptions& options) {
  std::vector<int> grids;
  if (const std::string bad = study_grids(options, dados.N, grids); !bad.empty()) {
    std::fprintf(stderr, "convergence: --grid: %s\n", bad.c_str());
    return kExitUsage;
  }
  if (options.target_given) return study_to_target(dados, options, grids);
  std::vector<std::unique_ptr<SimulationState>> states = sized_grids(dados, grids);
  check_grid_folders(grids, {kCsvFile, kTableFile});

  say("grid study: N = " + list_text(grids) + "; everything but N and dt as in dados.txt\n");

  Study study{run_grids(states), {}};
  add_steady_values(study.runs, dados);
  study.e = estimate(study.runs, dados, options.target);
  return final_report(study, study, options, "");
}

}  // namespace moody::convergence
