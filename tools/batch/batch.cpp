#include "batch.hpp"

#include <algorithm>
#include <bit>
#include <cfenv>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>
#include <string>

#include "batch_pass.hpp"
#include "control/start.hpp"
#include "flow/pass.hpp"
#include "flow/state_store.hpp"
#include "flow/sweeps.hpp"
#include "group_store.hpp"
#include "kernels.hpp"

namespace moody::batch {

namespace {

constexpr int kFaultFlags = FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID;

// --- The replay in the order of the operations --------------------------------
//
// A pass that raises more than one kind of fault does not say which came
// first, and the program names the first.  The batch's own pass, on a value
// type that reads the flags after every operation, finds it: the pass
// evaluates the program's formulas in the program's order.

thread_local int t_first_fault = 0;  // the FE_ flag of the first fault since armed

// A compiler barrier: r is computed here, so that the flags read after it
// are those of its operation.
inline double computed_here(double r) {
#if defined(__GNUC__)
  __asm__ volatile("" : "+m"(r)::"memory");
  return r;
#else
  volatile double kept = r;
  return kept;
#endif
}

class Probe {
 public:
  static constexpr int kLanes = 1;
  Probe() = default;
  Probe(double x) : v_(x) {}  // NOLINT(google-explicit-constructor): as Pack

  static Probe load(const double* p) { return {*p}; }
  void store(double* p) const { *p = v_; }

  friend Probe operator+(Probe a, Probe b) { return noted(a.v_ + b.v_); }
  friend Probe operator-(Probe a, Probe b) { return noted(a.v_ - b.v_); }
  friend Probe operator*(Probe a, Probe b) { return noted(a.v_ * b.v_); }
  friend Probe operator/(Probe a, Probe b) { return noted(a.v_ / b.v_); }
  friend Probe operator-(Probe a) { return {-a.v_}; }

 private:
  static Probe noted(double r) {
    r = computed_here(r);
    if (t_first_fault == 0) {
      const int raised = std::fetestexcept(kFaultFlags);
      if (raised != 0) t_first_fault = raised & -raised;  // one operation raises one
    }
    return {r};
  }

  double v_ = 0.0;
};

template <typename State>
auto& array_of(State& s, int q) {
  switch (static_cast<Quantity>(q)) {
    case Quantity::kU:
      return s.u;
    case Quantity::kU0:
      return s.u0;
    case Quantity::kUe:
      return s.ue;
    case Quantity::kUe0:
      return s.ue0;
    case Quantity::kP:
      return s.p;
    case Quantity::kPl:
      return s.pl;
    case Quantity::kMe:
      return s.Me;
    case Quantity::kDP:
      return s.dP;
    case Quantity::kDe:
      return s.de;
    case Quantity::kQmlAW:
      return s.QML.aW;
    case Quantity::kQmlAP:
      return s.QML.aP;
    case Quantity::kQmlAE:
      return s.QML.aE;
    case Quantity::kQmlBP:
      return s.QML.bP;
    case Quantity::kMassaAW:
      return s.MASSA.aW;
    case Quantity::kMassaAP:
      return s.MASSA.aP;
    case Quantity::kMassaAE:
      return s.MASSA.aE;
    case Quantity::kMassaBP:
      return s.MASSA.bP;
    case Quantity::kWorkP:
      return s.work.P;
    case Quantity::kWorkQ:
      return s.work.Q;
  }
  return s.u;
}

// The quantities a pass does not store (kernels.hpp): formed from the state
// before it when asked.
bool formed_when_asked(int q) {
  switch (static_cast<Quantity>(q)) {
    case Quantity::kMe:
    case Quantity::kQmlBP:
    case Quantity::kMassaAW:
    case Quantity::kMassaAP:
    case Quantity::kMassaAE:
      return true;
    default:
      return false;
  }
}

const KernelSet& kernels_of(Width w) {
  switch (w) {
    case Width::kBaseline:
      return kBaselineKernels;
#if defined(MOODY_BATCH_X86_WIDTHS)
    case Width::kAvx2:
      return kAvx2Kernels;
    case Width::kAvx512:
      return kAvx512Kernels;
#else
    default:
      break;
#endif
  }
  return kBaselineKernels;
}

int vectors_index(int vectors) {
  switch (vectors) {
    case 1:
      return 0;
    case 2:
      return 1;
    case 4:
      return 2;
    default:
      throw std::invalid_argument("a group holds 1, 2 or 4 vectors, not " +
                                  std::to_string(vectors));
  }
}

}  // namespace

// --- Layout ---------------------------------------------------------------------

Layout layout_for(int lanes, Width width) {
  // From the benchmarks (docs/performance.md): one eight-double vector to a
  // group costs about what one four-double vector does, and two pay from 16
  // lanes; four-double vectors pay from one, and two beat one from eight
  // lanes.  The first of these that runs here, within `width`, and that the
  // lanes fill.
  struct Choice {
    Layout layout;
    int fewest_lanes;
  };
  static constexpr Choice kChoices[] = {{{Width::kAvx512, 2}, 16},  {{Width::kAvx512, 1}, 8},
                                        {{Width::kAvx2, 2}, 8},     {{Width::kAvx2, 1}, 4},
                                        {{Width::kBaseline, 2}, 4}, {{Width::kBaseline, 1}, 1}};
  for (const Choice& c : kChoices) {
    if (runs_here(c.layout.width) && doubles(c.layout.width) <= doubles(width) &&
        lanes >= c.fewest_lanes)
      return c.layout;
  }
  return {.width = Width::kBaseline, .vectors = 1};
}

// --- The batch --------------------------------------------------------------------

struct Batch::Lane {
  enum class Status : unsigned char { kIdle, kRunning, kFaulted };
  Status status = Status::kIdle;
  std::int64_t passes = 0;
  LaneFault fault;
  bool passed = false;      // a pass made since the start, the faulting one too
  std::uint64_t epoch = 0;  // changes whenever the lane's run does
  // An idle lane repeats a running one of its group, from the run it had.
  int donor = -1;
  std::uint64_t donor_epoch = 0;
};

std::uint64_t Batch::bytes(int N, int lanes, Layout layout) {
  const int per = layout.group_lanes();
  const auto groups = static_cast<std::uint64_t>((lanes + per - 1) / per);
  return 2 * state_bytes(N) + 2 * static_cast<std::uint64_t>(N) * sizeof(double) +
         groups * GroupStore::bytes(N, per) + GroupStore::bytes(N, 1);
}

Batch::Batch(const SimulationState& base, int lanes) : Batch(base, lanes, layout_for(lanes)) {}

Batch::Batch(const SimulationState& base, int lanes, Layout layout)
    : lanes_(lanes), layout_(layout), grid_(base) {
  if (base.N < kSweepMinimumN) {
    throw std::invalid_argument("a batch needs a grid of at least " +
                                std::to_string(kSweepMinimumN) + " nodes, not " +
                                std::to_string(base.N));
  }
  if (lanes < 1) throw std::invalid_argument("a batch needs at least one lane");
  if (!runs_here(layout.width)) {
    throw std::invalid_argument(std::string("this processor cannot run the width ") +
                                name(layout.width));
  }
  for (const StateArray& a : state_arrays(grid_)) {
    if (a.array->size() != a.n) {
      throw std::invalid_argument("the base state of a batch is sized by start_run");
    }
  }
  kernel_ = kernels_of(layout.width).by_vectors[vectors_index(layout.vectors)];
  group_lanes_ = layout.group_lanes();

  // The grid's masses and conductances, formed as every pass of the program
  // forms them.  A fault there faults every lane in its first pass.
  const int N = grid_.N;
  {
    fpe::Masked masked;
    std::feclearexcept(FE_ALL_EXCEPT);
    const StateStore grid(grid_);
    Mp_.resize(static_cast<std::size_t>(N));
    G_.resize(static_cast<std::size_t>(N - 1));
    for (int i = 1; i <= N; ++i)
      Mp_[static_cast<std::size_t>(i - 1)] = Mp_at(grid, i);
    for (int i = 1; i <= N - 1; ++i)
      G_[static_cast<std::size_t>(i - 1)] = G_at(grid, i);
    grid_faults_ = std::fetestexcept(kFaultFlags) != 0;
  }
  grid_.Mp.fill(0.0);  // as start_run leaves it
  scratch_ = grid_;
  view_ = std::make_unique<GridView>(GridView{.N = N,
                                              .mi = grid_.mi,
                                              .ro = grid_.ro,
                                              .f = grid_.f,
                                              .Uin = grid_.Uin,
                                              .dx = grid_.dx,
                                              .pi = grid_.pi,
                                              .A = grid_.A.data(),
                                              .Ae = grid_.Ae.data(),
                                              .D = grid_.D.data(),
                                              .Mp = Mp_.data(),
                                              .G = G_.data()});

  const int groups = (lanes + group_lanes_ - 1) / group_lanes_;
  for (int g = 0; g < groups; ++g)
    groups_.push_back(std::make_unique<GroupStore>(N, group_lanes_));
  lane_.resize(static_cast<std::size_t>(groups) * static_cast<std::size_t>(group_lanes_));
}

Batch::~Batch() = default;

Batch::Lane& Batch::lane(int k) {
  return lane_[static_cast<std::size_t>(k)];
}
const Batch::Lane& Batch::lane(int k) const {
  return lane_[static_cast<std::size_t>(k)];
}
GroupStore& Batch::group_of(int k) const {
  return *groups_[static_cast<std::size_t>(k / group_lanes_)];
}

namespace {
void check_lane(int k, int lanes) {
  if (k < 0 || k >= lanes) {
    throw std::out_of_range("lane " + std::to_string(k) + " of a batch of " +
                            std::to_string(lanes));
  }
}
}  // namespace

void Batch::start(int k, double dt) {
  check_lane(k, lanes_);
  GroupStore& g = group_of(k);
  const int l = k % group_lanes_;
  g.clear_lane(l);
  g.dt_of(l) = dt;
  Lane& info = lane(k);
  info.status = Lane::Status::kRunning;
  info.passes = 0;
  info.passed = false;
  info.fault = {};
  ++info.epoch;
}

void Batch::load(int k, const SimulationState& s) {
  check_lane(k, lanes_);
  // Every array is copied element by element into the group: one sized for
  // another grid would reach past the lane's storage.
  bool sized = s.N == grid_.N;
  for (int q = 0; q < kQuantities && sized; ++q)
    sized = array_of(s, q).size() == array_of(grid_, q).size();
  if (!sized) {
    throw std::invalid_argument("a state loaded into a batch of N = " + std::to_string(grid_.N) +
                                " must be sized for that grid (N = " + std::to_string(s.N) + ")");
  }
  start(k, s.dt);
  GroupStore& g = group_of(k);
  const int l = k % group_lanes_;
  for (int q = 0; q < kQuantities; ++q) {
    const Array1& a = array_of(s, q);
    for (int i = 1; i <= a.size(); ++i)
      g.at(static_cast<Quantity>(q), i, l) = a(i);
  }
}

void Batch::retire(int k) {
  check_lane(k, lanes_);
  Lane& info = lane(k);
  if (info.status == Lane::Status::kRunning) info.status = Lane::Status::kIdle;
  ++info.epoch;
}

bool Batch::running(int k) const {
  check_lane(k, lanes_);
  return lane(k).status == Lane::Status::kRunning;
}

int Batch::running_lanes() const {
  return static_cast<int>(std::count_if(lane_.begin(), lane_.end(), [](const Lane& l) {
    return l.status == Lane::Status::kRunning;
  }));
}

double Batch::dt(int k) const {
  check_lane(k, lanes_);
  return group_of(k).dt_of(k % group_lanes_);
}

std::int64_t Batch::passes(int k) const {
  check_lane(k, lanes_);
  return lane(k).passes;
}

std::optional<LaneFault> Batch::fault(int k) const {
  check_lane(k, lanes_);
  const Lane& info = lane(k);
  if (info.status != Lane::Status::kFaulted) return std::nullopt;
  return info.fault;
}

void Batch::mirror_idle_lanes(int group) {
  GroupStore& g = group_of(group * group_lanes_);
  const int first = group * group_lanes_;
  int donor = -1;
  for (int l = 0; l < group_lanes_ && donor < 0; ++l) {
    if (lane(first + l).status == Lane::Status::kRunning) donor = first + l;
  }
  for (int l = 0; l < group_lanes_; ++l) {
    Lane& idle = lane(first + l);
    if (idle.status == Lane::Status::kRunning) continue;
    if (idle.donor >= 0) {
      const Lane& d = lane(idle.donor);
      if (d.status == Lane::Status::kRunning && d.epoch == idle.donor_epoch) continue;
    }
    const int from = donor - first;
    for (int f = 0; f < GroupStore::kFields; ++f) {
      const auto q = static_cast<Quantity>(f);
      for (int i = 1; i <= grid_.N; ++i)
        g.at(q, i, l) = g.at(q, i, from);
    }
    g.dt_of(l) = g.dt_of(from);
    idle.donor = donor;
    idle.donor_epoch = lane(donor).epoch;
  }
}

int Batch::pass() {
  fpe::Masked masked;
  suspects_.clear();
  for (std::size_t gi = 0; gi < groups_.size(); ++gi) {
    const int first = static_cast<int>(gi) * group_lanes_;
    bool any = false;
    for (int l = 0; l < group_lanes_; ++l)
      any = any || lane(first + l).status == Lane::Status::kRunning;
    if (!any) continue;
    mirror_idle_lanes(static_cast<int>(gi));
    GroupStore& g = *groups_[gi];
    std::feclearexcept(FE_ALL_EXCEPT);
    kernel_(*view_, g.view());
    const bool raised = std::fetestexcept(kFaultFlags) != 0;
    g.flip();
    if (!raised && !grid_faults_) continue;
    for (int l = 0; l < group_lanes_; ++l) {
      if (first + l < lanes_ && lane(first + l).status == Lane::Status::kRunning)
        suspects_.push_back(first + l);
    }
  }
  int faulted = 0;
  for (Lane& info : lane_) {
    if (info.status == Lane::Status::kRunning) info.passed = true;
  }
  for (int k : suspects_) {
    if (const std::optional<fpe::Fault> f = replay(k)) {
      Lane& info = lane(k);
      info.status = Lane::Status::kFaulted;
      info.fault = {.pass = info.passes + 1, .fault = *f};
      ++info.epoch;
      ++faulted;
    }
  }
  for (Lane& info : lane_) {
    if (info.status == Lane::Status::kRunning) ++info.passes;
  }
  return faulted;
}

std::optional<fpe::Fault> Batch::replay(int k) {
  const GroupStore& g = group_of(k);
  const int l = k % group_lanes_;
  for (int f = 0; f < GroupStore::kFields; ++f) {
    Array1& a = array_of(scratch_, f);
    for (int i = 1; i <= a.size(); ++i)
      a(i) = g.before(static_cast<Quantity>(f), i, l);
  }
  scratch_.dt = g.dt_of(l);
  std::feclearexcept(FE_ALL_EXCEPT);
  outer_iteration(scratch_);
  const int raised = std::fetestexcept(kFaultFlags);
  std::feclearexcept(FE_ALL_EXCEPT);
  if (raised == 0) return std::nullopt;
  if (std::popcount(static_cast<unsigned>(raised)) == 1) return fpe::fault_of_flags(raised);
  const std::optional<fpe::Fault> first = first_fault_in_order(k);
  if (!first) throw std::logic_error("a replayed pass raised faults that its probe did not");
  return first;
}

std::optional<fpe::Fault> Batch::first_fault_in_order(int k) {
  if (!probe_) probe_ = std::make_unique<GroupStore>(grid_.N, 1);
  const GroupStore& g = group_of(k);
  const int l = k % group_lanes_;
  for (int f = 0; f < GroupStore::kFields; ++f) {
    for (int i = 1; i <= grid_.N; ++i)
      probe_->at(static_cast<Quantity>(f), i, 0) = g.before(static_cast<Quantity>(f), i, l);
  }
  probe_->dt_of(0) = g.dt_of(l);
  std::feclearexcept(FE_ALL_EXCEPT);
  t_first_fault = 0;
  batch_pass<Probe, true>(*view_, probe_->view());
  const int first = t_first_fault;
  std::feclearexcept(FE_ALL_EXCEPT);
  return fpe::fault_of_flags(first);
}

void Batch::state(int k, SimulationState& s) const {
  check_lane(k, lanes_);
  const GroupStore& g = group_of(k);
  const int l = k % group_lanes_;
  const Lane& info = lane(k);
  s = grid_;
  s.dt = g.dt_of(l);
  s.it = static_cast<std::int32_t>(std::min<std::int64_t>(info.passes, INT32_MAX));
  if (info.passed) {
    for (int i = 1; i <= s.N; ++i)
      s.Mp(i) = Mp_[static_cast<std::size_t>(i - 1)];
  }
  for (int q = 0; q < kQuantities; ++q) {
    Array1& a = array_of(s, q);
    if (info.passed && formed_when_asked(q)) {
      for (int i = 1; i <= a.size(); ++i)
        a(i) = formed(static_cast<Quantity>(q), k, i);
      continue;
    }
    for (int i = 1; i <= a.size(); ++i)
      a(i) = g.at(static_cast<Quantity>(q), i, l);
  }
}

double Batch::value(Quantity q, int k, int i) const {
  check_lane(k, lanes_);
  const GroupStore& g = group_of(k);
  const int n = static_cast<int>(q);
  if (i < 1 || i > array_of(grid_, n).size()) {
    throw std::out_of_range("element " + std::to_string(i) + " of an array of " +
                            std::to_string(array_of(grid_, n).size()));
  }
  if (lane(k).passed && formed_when_asked(n)) return formed(q, k, i);
  return g.at(q, i, k % group_lanes_);
}

Batch::Column Batch::column(Quantity q, int k) const {
  check_lane(k, lanes_);
  const int n = static_cast<int>(q);
  if (formed_when_asked(n)) {
    throw std::invalid_argument("quantity " + std::to_string(n) +
                                " is formed when asked, not stored by the pass");
  }
  const GroupStore& g = group_of(k);
  return {
      .first = g.array(q) + k % group_lanes_, .stride = g.lanes(), .n = array_of(grid_, n).size()};
}

ResidualSums<double> Batch::residual_sums(int k) const {
  check_lane(k, lanes_);
  const GroupStore& g = group_of(k);
  const double* sums = g.sums() + k % group_lanes_;
  const std::ptrdiff_t n = g.lanes();
  return {.imbalance = sums[0], .change = sums[n], .correction = sums[2 * n]};
}

namespace {
// One lane's fields before its last pass, and its de after it, as a storage
// of the pass's rows (flow/pass.hpp) on doubles.
struct LaneBefore : PassConstants {
  using Value = double;
  static constexpr bool kFormsGrid = false;

  const SimulationState& grid;
  const std::vector<double>& Mp_;
  const std::vector<double>& G_;
  const GroupStore& g;
  int l;
  double dt;

  static double of(const std::vector<double>& v, int i) {
    return v[static_cast<std::size_t>(i - 1)];
  }

  double A(int i) const { return grid.A(i); }
  double Ae(int i) const { return grid.Ae(i); }
  double D(int i) const { return grid.D(i); }
  double Mp(int i) const { return of(Mp_, i); }
  double G(int i) const { return of(G_, i); }
  double u_in(int i) const { return g.before(Quantity::kU, i, l); }
  double u0_in(int i) const { return g.before(Quantity::kU0, i, l); }
  double ue_in(int i) const { return g.before(Quantity::kUe, i, l); }
  double p_in(int i) const { return g.before(Quantity::kP, i, l); }
  double de(int i) const { return g.at(Quantity::kDe, i, l); }
  // The face velocities enter the MASSA set's bP only, which the pass keeps.
  static double ue(int /*i*/) { return 0.0; }
};
}  // namespace

double Batch::formed(Quantity q, int k, int i) const {
  const GroupStore& g = group_of(k);
  const int l = k % group_lanes_;
  const SimulationState& s = grid_;
  const LaneBefore before{constants_of(s), s, Mp_, G_, g, l, g.dt_of(l)};
  switch (q) {
    case Quantity::kMe:
      return Me_at(before, i);
    case Quantity::kQmlBP:
      return qml_row_at(before, i).bP;
    case Quantity::kMassaAW:
      return massa_row_at(before, i).aW;
    case Quantity::kMassaAP:
      return massa_row_at(before, i).aP;
    default:
      return massa_row_at(before, i).aE;
  }
}

}  // namespace moody::batch
