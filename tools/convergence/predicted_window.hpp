#pragma once
// A grid's window of dt predicted from a coarser grid's, and the prediction
// tried in one round of lanes instead of the whole search.
//
// As the grid is refined, its window keeps its shape against the time-step
// floor (flow/time_step.hpp): the lower edge sits a little below the floor
// and the fewest passes a little above that edge.  From the coarser grid's
// ratios, the lower edge of the grid is foreseen at ell = (lower/floor) of
// the coarser grid times the grid's floor, and its recommendation at
// r = ell*(recommended/lower); with two coarser grids, each ratio is taken
// on as a power of the real volumes through them.  The round tries dt in
// steps of 2^(1/24) (about 2.9 %): from ell/2^(5/24) to ell*2^(9/24) where
// r lies within five steps of ell, with dados.txt's dt beside them, each in
// a lane, on both cores at once.  Where r lies further from the edge there
// is no round: such a recommendation moves with the grid in ways the ratio
// does not foresee, and the passes need not fall steadily towards it.  The grid's converged outlet
// pressure is known beforehand (the steady solution of its equations), so a run needs no verdict of
// its own to show how soon it gets there: it stops once its outlet pressure has stayed within kBand
// of that value from a pass E to pass kEntryHeld*E, E its passes needed (lane_trials.hpp).
//
// The prediction holds when, among the dt of the round:
//   - the smallest dt that gets there has the one next below it failing
//     with a whole verdict (the lower edge lies between the two);
//   - the fewest passes among the dt at least kEdgeMargin above that edge
//     has a dt at least kEdgeMargin above it, no more than four steps up,
//     that gets there too;
//   - every dt from the edge to that one gets there, each next to the one
//     before (from the dt next below the fewest, where that one is itself
//     kEdgeMargin above the edge: a minimum away from the edge).
// The recommendation is that fewest, and it and dados.txt's dt, where that
// gets there within kDadosPassesFactor of its passes, are then run to
// their verdicts, the recommendation's going on from where its lane stopped.  Where the prediction
// does not hold, the whole search of window.hpp runs.

#include <map>
#include <optional>

#include "control/state.hpp"
#include "window.hpp"

namespace moody::convergence {

// The dt of dados.txt is kept where it converges within this many times the
// passes of the recommended one.
inline constexpr double kDadosPassesFactor = 1.5;

// What a grid's window is foreseen from: the coarser grid's lower edge
// against its floor, and its recommendation against that edge.
struct WindowShape {
  double lower_to_floor = 0.0;
  double recommended_to_lower = 0.0;
};

// The shape of a window whose lower edge is bracketed by a failing dt and
// whose floor is finite; none otherwise.
std::optional<WindowShape> window_shape(const Window& w);

// The shape foreseen for grid N from the shapes of the grids searched, by
// their N: the finest coarser grid's, taken on from the one before it.
std::optional<WindowShape> foreseen_shape(const std::map<int, WindowShape>& shapes, int N);

// The round for the parameters in `s` (sized, N >= kSweepMinimumN), whose
// runs converge to the outlet pressure `steady`: the predicted window, with
// `predicted` set, or none where the prediction does not hold.
std::optional<Window> predicted_window(SimulationState& s, const WindowShape& shape, double steady,
                                       int cores, TrialObserver* observer);

}  // namespace moody::convergence
