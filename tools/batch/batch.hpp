#pragma once
// Runs of one grid advanced together, pass by pass: up to L runs of the
// program that differ in the time step dt only, one in each SIMD lane.  A
// pass of the batch is the program's pass (outer_iteration) in every lane,
// formula for formula (batch_pass.hpp), so after k passes a lane holds the
// bits of the program's state after k passes from start_run.
//
// Faults as the program meets them.  The program stops at the first
// floating-point division by zero, overflow or invalid operation.  The batch
// runs with the traps masked and tests the flags after each group's pass;
// when they are raised it replays every running lane of the group from the
// state before the pass, through the program's own outer_iteration, and
// those whose replay raises a fault stop there, with the fault that the
// program's trap would have named (the first in the order of the
// operations) and the pass.  A faulting lane changes no other lane.
//
// A search retires a lane whose verdict is known and starts it again with
// another dt; lanes that are not running repeat a running lane of their
// group, so that they raise no fault of their own.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "control/fpe.hpp"
#include "control/state.hpp"
#include "residual_sums.hpp"
#include "widths.hpp"

namespace moody::batch {

struct GridView;
struct GroupView;
class GroupStore;

// How the lanes are laid out: groups of `vectors` vectors (1, 2 or 4) of the
// width's doubles, each group advanced by one pass over the grid.
struct Layout {
  Width width = Width::kBaseline;
  int vectors = 1;
  int group_lanes() const { return doubles(width) * vectors; }
};

// The layout that suits `lanes` lanes with `width` the widest allowed, from
// the benchmarks of docs/performance.md: AVX-512 from 8 lanes (one vector to
// a group, two from 16), AVX2 from 4 (one vector, two from 8), the baseline
// below.
Layout layout_for(int lanes, Width width = widest_here());

// The fault that stopped a lane, as the program's trap would have named it.
struct LaneFault {
  std::int64_t pass = 0;  // the pass that raised it, counted from the lane's start
  fpe::Fault fault = fpe::Fault::kInvalid;
};

// The arrays of a lane's state that vary from lane to lane; the first five
// are the fields that a pass reads of the one before.
enum class Quantity : unsigned char {
  kU,
  kU0,
  kUe,
  kUe0,
  kP,
  kPl,
  kMe,
  kDP,
  kDe,
  kQmlAW,
  kQmlAP,
  kQmlAE,
  kQmlBP,
  kMassaAW,
  kMassaAP,
  kMassaAE,
  kMassaBP,
  kWorkP,
  kWorkQ,
};
inline constexpr int kQuantities = static_cast<int>(Quantity::kWorkQ) + 1;

class Batch {
 public:
  // A batch of `lanes` lanes, none running yet, for the grid and fluid of
  // `base`: its twelve parameters (dt aside) and the grid that start_run laid
  // (x, D, A, xe, De, Ae, with dx and pi).  Throws std::invalid_argument
  // unless N >= kSweepMinimumN (4), lanes >= 1, the base is sized for N and
  // the layout's width runs here.
  Batch(const SimulationState& base, int lanes, Layout layout);
  Batch(const SimulationState& base, int lanes);
  ~Batch();
  // Bytes a batch of `lanes` lanes on N nodes comes to hold: its two copies
  // of the state (the grid, a lane's pass replayed), the grid's masses and
  // conductances, the blocks of its groups and the one-lane block of a replay
  // in the operations' order.
  static std::uint64_t bytes(int N, int lanes, Layout layout);
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;

  int lanes() const { return lanes_; }
  const Layout& layout() const { return layout_; }

  // Lane k (0 <= k < lanes()) from start_run's state with time step dt: the
  // run of the program with these parameters, no pass made yet.
  void start(int k, double dt);
  // Lane k from the fields, coefficients and dt of `s`, a state of the
  // batch's grid; its passes are counted from here.  Mp is the grid's: zero
  // until the lane's first pass, as after start_run.  Throws
  // std::invalid_argument when `s` is sized for another N.
  void load(int k, const SimulationState& s);
  // Lane k stops; what it held is gone at the next pass.
  void retire(int k);

  bool running(int k) const;
  int running_lanes() const;
  double dt(int k) const;
  // Passes the lane has made since its start (the faulting one not counted).
  std::int64_t passes(int k) const;
  // The fault that stopped the lane, until its next start.
  std::optional<LaneFault> fault(int k) const;

  // One pass of every running lane.  Returns how many of them faulted in
  // it: those stop, and fault() says what and where.
  int pass();

  // The lane's state: the program's after passes(k) passes.  `s` is made a
  // state of the batch's grid with the lane's dt and it = passes(k).  A lane
  // that faulted holds what its faulting pass left (the program stops there
  // and reports nothing) until the next pass, which reuses its storage.
  void state(int k, SimulationState& s) const;
  // Element i of one of the lane's arrays, as state() would give it, without
  // the copy (for the residuals of a search, after every pass); i within the
  // array's bounds (1..N for a node, 1..N-1 for a face), else
  // std::out_of_range.
  double value(Quantity q, int k, int i) const;

  // One of the lane's arrays that the pass stores (every quantity but Me,
  // the QML set's bP and the MASSA set's aW, aP, aE, which throw
  // std::invalid_argument), read in place: element i is first[(i-1)*stride],
  // for i within the array's bounds 1..n, checked in a checked build only.
  // Valid until the next pass.
  struct Column {
    const double* first = nullptr;
    std::ptrdiff_t stride = 1;
    int n = 0;
    double operator()(int i) const {
#if defined(MOODY_CHECKED_INDICES)
      if (i < 1 || i > n) index_outside_bounds(i, n);
#endif
      return first[static_cast<std::ptrdiff_t>(i - 1) * stride];
    }
  };
  Column column(Quantity q, int k) const;

  // What a search measures of a running lane after every pass: the sums
  // and maxima of its residuals (residual_sums.hpp), formed by the pass.
  // Valid until the next pass.
  ResidualSums<double> residual_sums(int k) const;

 private:
  struct Lane;
  Lane& lane(int k);
  const Lane& lane(int k) const;
  GroupStore& group_of(int k) const;  // the group of lane k
  void mirror_idle_lanes(int group);
  std::optional<fpe::Fault> replay(int k);
  std::optional<fpe::Fault> first_fault_in_order(int k);
  // Element i of a quantity the pass does not store, formed from the state
  // before the lane's last pass.
  double formed(Quantity q, int k, int i) const;

  int lanes_;
  Layout layout_;
  void (*kernel_)(const GridView&, const GroupView&) = nullptr;
  int group_lanes_ = 1;
  SimulationState grid_;     // the parameters and the grid; the fields at rest
  SimulationState scratch_;  // a lane's pass replayed by the program's own code
  std::vector<double> Mp_, G_;
  bool grid_faults_ = false;  // forming Mp or the conductances raises a fault
  std::unique_ptr<GridView> view_;
  std::vector<std::unique_ptr<GroupStore>> groups_;
  std::unique_ptr<GroupStore> probe_;  // one lane, for the replay in the operations' order
  std::vector<Lane> lane_;             // every slot of every group
  std::vector<int> suspects_;
};

}  // namespace moody::batch
