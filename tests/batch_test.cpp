// Runs of one grid in SIMD lanes against the program's own runs: every lane
// bit for bit the program's state after each pass, and its faults those the
// program stops with, at every width this processor runs.

#include "batch.hpp"

// GCC 12 warns inside std::regex (reached through GoogleTest's death tests)
// when the sanitizers are on: a known false positive of its inliner.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "control/fpe.hpp"
#include "control/start.hpp"
#include "flow/sweeps.hpp"
#include "flow_support.hpp"
#include "residuals.hpp"
#include "test_support.hpp"

namespace moody {
namespace {

using batch::Batch;
using batch::Layout;
using batch::Width;
using flowtest::Case;

// Every width that runs here, with one, two and four vectors to a group.
std::vector<Layout> layouts_here() {
  std::vector<Layout> out;
  for (Width w : batch::kWidths) {
    if (!batch::runs_here(w)) continue;
    for (int vectors : {1, 2, 4})
      out.push_back({.width = w, .vectors = vectors});
  }
  return out;
}

std::string named(const Layout& l) {
  return std::string(batch::name(l.width)) + " x" + std::to_string(l.vectors);
}

// Empty when the 26 arrays of the two states (the solver's work pair too)
// and their dt and it hold the same bits, else the first that does not.
std::string difference(const SimulationState& a, const SimulationState& b) {
  if (std::memcmp(&a.dt, &b.dt, sizeof a.dt) != 0 || a.it != b.it) return "dt or it";
  const auto x = state_arrays(const_cast<SimulationState&>(a));
  const auto y = state_arrays(const_cast<SimulationState&>(b));
  for (std::size_t k = 0; k < x.size(); ++k) {
    const Array1& p = *x[k].array;
    const Array1& q = *y[k].array;
    if (p.size() != q.size()) return std::string(x[k].name) + " size";
    for (int i = 1; i <= p.size(); ++i) {
      if (std::memcmp(&p.data()[i - 1], &q.data()[i - 1], sizeof(double)) != 0)
        return std::string(x[k].name) + "(" + std::to_string(i) + ")";
    }
  }
  return {};
}

// The program's run of case c with time step dt, before its first pass.
SimulationState program_start(const Case& c, double dt) {
  SimulationState s;
  Case with_dt = c;
  with_dt.dt = dt;
  flowtest::start(s, with_dt);
  return s;
}

// One pass of the program, as the driver numbers it.
void program_pass(SimulationState& s) {
  ++s.it;
  outer_iteration(s);
}

Case duct(int N, double cd) {
  Case c;
  c.N = N, c.L = 2.0, c.D0 = 0.05, c.cd = cd;
  return c;
}

// One pass of the program's `run`, against lane k of `b` after its pass
// (read into `lane`): empty when the states and the sums of the residuals
// hold the same bits, else the first that does not.
std::string pass_difference(const Batch& b, int k, SimulationState& run, SimulationState& lane) {
  Array1 before = run.u;
  program_pass(run);
  b.state(k, lane);
  if (std::string d = difference(run, lane); !d.empty()) return d;
  // As a run alone forms them: the walk of a search's single run.
  const batch::ResidualSums<double> want = convergence::walk(run, before);
  const batch::ResidualSums<double> got = b.residual_sums(k);
  for (const auto& [name, g, w] : {std::tuple{"imbalance", got.imbalance, want.imbalance},
                                   std::tuple{"change", got.change, want.change},
                                   std::tuple{"correction", got.correction, want.correction}}) {
    if (std::memcmp(&g, &w, sizeof g) != 0) {
      std::ostringstream text;
      text.precision(17);
      text << name << " " << g << " against " << w;
      return text.str();
    }
  }
  return {};
}

// Also the sums of the residuals that the pass forms, against the walk's.
TEST(Batch, LanesAreTheProgramsRunsPassAfterPass) {
  Case narrowing = duct(33, -0.01), rough = duct(12, 0.05);
  rough.f = 0.08, rough.Uin = 2.5;
  for (const Layout& layout : layouts_here()) {
    for (const Case& c : {duct(4, 0.01), duct(5, 0.01), duct(52, 0.01), narrowing, rough}) {
      SCOPED_TRACE(named(layout) + ", N = " + std::to_string(c.N));
      // Two groups, the second not full; a dt of its own in every lane.
      const int lanes = layout.group_lanes() + 1;
      const SimulationState base = program_start(c, 0.0);
      Batch b(base, lanes, layout);
      std::vector<SimulationState> runs;
      for (int k = 0; k < lanes; ++k) {
        const double dt = 0.05 * (1.0 + 0.37 * k);
        b.start(k, dt);
        runs.push_back(program_start(c, dt));
      }
      SimulationState lane;
      for (int pass = 1; pass <= 25; ++pass) {
        ASSERT_EQ(b.pass(), 0);
        for (int k = 0; k < lanes; ++k) {
          ASSERT_EQ(pass_difference(b, k, runs[static_cast<std::size_t>(k)], lane), "")
              << "lane " << k << ", pass " << pass;
        }
      }
    }
  }
}

// Every field and coefficient of every lane filled with unrelated values, the
// grid's areas too: each lane must read what the program's pass reads and
// write all it writes.
TEST(Batch, LanesAreTheProgramsPassFromAnyState) {
  std::uint64_t seed = 0x9E3779B97F4A7C15u;
  const auto fill = [&seed](Array1& a) {
    for (int i = 1; i <= a.size(); ++i) {
      seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
      a(i) = 0.5 + static_cast<double>(seed >> 11) * 0x1p-53;
    }
  };
  for (const Layout& layout : layouts_here()) {
    for (int N : {4, 9, 64}) {
      SCOPED_TRACE(named(layout) + ", N = " + std::to_string(N));
      SimulationState base = program_start(duct(N, 0.05), 0.0);
      fill(base.A), fill(base.Ae), fill(base.D);
      const int lanes = layout.group_lanes();
      Batch b(base, lanes, layout);
      std::vector<SimulationState> runs(static_cast<std::size_t>(lanes), base);
      for (int k = 0; k < lanes; ++k) {
        SimulationState& s = runs[static_cast<std::size_t>(k)];
        for (const StateArray& a : state_arrays(s)) {
          const std::string name = a.name;
          if (name != "x" && name != "xe" && name != "D" && name != "De" && name != "A" &&
              name != "Ae")
            fill(*a.array);
        }
        s.dt = 0.01 * (1.0 + k);
        s.it = 0;
        b.load(k, s);
      }
      SimulationState lane;
      for (int pass = 1; pass <= 3; ++pass) {
        ASSERT_EQ(b.pass(), 0);
        for (int k = 0; k < lanes; ++k) {
          ASSERT_EQ(pass_difference(b, k, runs[static_cast<std::size_t>(k)], lane), "")
              << "lane " << k << ", pass " << pass;
        }
      }
      // One element at a time, the arrays a pass keeps and those formed when
      // asked alike.
      const SimulationState& run = runs.back();
      const struct {
        batch::Quantity q;
        const Array1& a;
      } quantities[] = {{batch::Quantity::kU, run.u},
                        {batch::Quantity::kMe, run.Me},
                        {batch::Quantity::kQmlBP, run.QML.bP},
                        {batch::Quantity::kMassaAW, run.MASSA.aW},
                        {batch::Quantity::kMassaAP, run.MASSA.aP},
                        {batch::Quantity::kMassaAE, run.MASSA.aE},
                        {batch::Quantity::kMassaBP, run.MASSA.bP}};
      for (const auto& [q, a] : quantities) {
        for (int i = 1; i <= a.size(); ++i) {
          const double v = b.value(q, lanes - 1, i);
          ASSERT_EQ(std::memcmp(&v, &a.data()[i - 1], sizeof v), 0)
              << "quantity " << static_cast<int>(q) << ", element " << i;
        }
      }
    }
  }
}

// What the built program says of a run: the number of its M frame and the
// outer iteration named there, or nothing when it ran to the end.
struct Stopped {
  int code = 0;
  std::int64_t pass = 0;
};
std::optional<Stopped> program_stops(const Case& c, double dt, int itmax) {
  const testing::ScratchDir dir;
  const std::filesystem::path tools = dir / "tools", work = dir / "work";
  std::filesystem::create_directory(tools);
  std::filesystem::create_directory(work);
  testing::write_script(tools / "notepad", "exit 0\n");
  testing::write_script(tools / "wgnuplot", "exit 0\n");
  std::ostringstream dados;
  dados.precision(17);
  dados << c.N << "\n"
        << c.L << "\n"
        << c.mi << "\n"
        << c.ro << "\n"
        << c.f << "\n"
        << c.Uin << "\n"
        << c.D0 << "\n"
        << c.cd << "\n"
        << dt << "\n1\n"
        << itmax << "\n20\n";
  testing::write_file(work / "dados.txt", dados.str());
  const testing::RunResult r = testing::run_program(work, tools);
  if (r.status == 0) return std::nullopt;
  const std::size_t code = r.stderr_.find("error M40");
  const std::size_t pass = r.stderr_.find("outer iteration ");
  if (code == std::string::npos || pass == std::string::npos) return Stopped{-1, -1};
  return Stopped{std::stoi(r.stderr_.substr(code + 7, 4)), std::stoll(r.stderr_.substr(pass + 16))};
}

// Lanes that fault at different passes (dt = 0 at the first, two dt that
// diverge at passes near 400) beside lanes that converge: each faulting lane
// stops at the pass the program stops at, with its code, and the others go
// on as the program's runs; a lane that faulted starts again with another dt.
TEST(Batch, LanesFaultAtTheProgramsPassWithItsFault) {
  const Case diffuser = duct(12, 0.2);
  const double dts[] = {1.0, 0.0, 128.0, 8.0, 256.0, 32.0};
  constexpr int kLanes = static_cast<int>(std::size(dts));
  constexpr int kPasses = 450;
  std::vector<std::optional<Stopped>> truth;
  for (double dt : dts)
    truth.push_back(program_stops(diffuser, dt, kPasses));
  for (const Layout& layout : layouts_here()) {
    SCOPED_TRACE(named(layout));
    Batch b(program_start(diffuser, 0.0), kLanes, layout);
    for (int k = 0; k < kLanes; ++k)
      b.start(k, dts[k]);
    for (int pass = 1; pass <= kPasses; ++pass)
      b.pass();
    for (int k = 0; k < kLanes; ++k) {
      SCOPED_TRACE("dt = " + std::to_string(dts[k]));
      const std::optional<batch::LaneFault> f = b.fault(k);
      ASSERT_EQ(f.has_value(), truth[static_cast<std::size_t>(k)].has_value());
      if (f) {
        EXPECT_EQ(static_cast<int>(fpe::code_of(f->fault)),
                  truth[static_cast<std::size_t>(k)]->code);
        EXPECT_EQ(f->pass, truth[static_cast<std::size_t>(k)]->pass);
        EXPECT_EQ(b.passes(k), f->pass - 1);
        EXPECT_FALSE(b.running(k));
        continue;
      }
      SimulationState run = program_start(diffuser, dts[k]), lane;
      for (int pass = 1; pass <= kPasses; ++pass)
        program_pass(run);
      b.state(k, lane);
      EXPECT_EQ(difference(run, lane), "");
    }
    // The faulted lanes again, the others retired: each a fresh run.
    for (int k = 0; k < kLanes; ++k) {
      if (b.fault(k)) {
        b.start(k, 2.0 + k);
      } else {
        b.retire(k);
      }
    }
    for (int pass = 1; pass <= 20; ++pass)
      ASSERT_EQ(b.pass(), 0);
    for (int k = 0; k < kLanes; ++k) {
      if (!b.running(k)) continue;
      SimulationState run = program_start(diffuser, 2.0 + k), lane;
      for (int pass = 1; pass <= 20; ++pass)
        program_pass(run);
      b.state(k, lane);
      EXPECT_EQ(difference(run, lane), "") << "lane " << k << " started again";
    }
  }
}

// A pass that raises two kinds of fault: the lane reports the first in the
// order of the operations, as the program's trap does, whichever it is.
// Row 2 of the momentum equation meets inf - inf in its pressure source (an
// invalid operation), or an overflow in its transient source; row 5 the
// other one.
struct TwoFaults {
  const char* name;
  int invalid_row, overflow_row;
  fpe::Fault first;
};
constexpr TwoFaults kTwoFaults[] = {
    {"invalid first", 2, 5, fpe::Fault::kInvalid},
    {"overflow first", 5, 2, fpe::Fault::kOverflow},
};

SimulationState two_faults(const TwoFaults& t) {
  SimulationState s = program_start(duct(12, 0.05), 0.01);
  constexpr double kInf = std::numeric_limits<double>::infinity();
  s.p(t.invalid_row - 1) = kInf;
  s.p(t.invalid_row + 1) = kInf;
  s.u0(t.overflow_row) = std::numeric_limits<double>::max();
  return s;
}

TEST(BatchDeathTest, TwoFaultsInOnePassTheProgramsTrapNamesTheFirst) {
  for (const TwoFaults& t : kTwoFaults) {
    SimulationState s = two_faults(t);
    char frame[16];
    std::snprintf(frame, sizeof frame, "M%d: ", static_cast<int>(fpe::code_of(t.first)));
    EXPECT_EXIT(
        {
          fpe::install();
          outer_iteration(s);
        },
        ::testing::ExitedWithCode(1), frame)
        << t.name;
  }
}

TEST(Batch, TwoFaultsInOnePassTheLaneNamesTheFirst) {
  for (const Layout& layout : layouts_here()) {
    for (const TwoFaults& t : kTwoFaults) {
      SCOPED_TRACE(named(layout) + ", " + t.name);
      const SimulationState s = two_faults(t);
      Batch b(program_start(duct(12, 0.05), 0.0), 3, layout);
      b.start(0, 0.01);
      b.load(1, s);
      b.start(2, 0.02);
      EXPECT_EQ(b.pass(), 1);
      ASSERT_TRUE(b.fault(1).has_value());
      EXPECT_EQ(b.fault(1)->fault, t.first);
      EXPECT_EQ(b.fault(1)->pass, 1);
      EXPECT_TRUE(b.running(0) && b.running(2));
    }
  }
}

// A grid whose masses overflow stops every lane in its first pass, with the
// overflow that stops the program there.
TEST(BatchDeathTest, GridThatOverflowsStopsEveryLaneAtOnce) {
  SimulationState base = program_start(duct(12, 0.05), 0.01);
  base.ro = 1e10;
  base.A(3) = 1e300;
  EXPECT_EXIT(
      {
        fpe::install();
        outer_iteration(base);
      },
      ::testing::ExitedWithCode(1), "M4002: ");
  Batch b(base, 2, batch::layout_for(2));
  b.start(0, 0.01);
  b.start(1, 1.0);
  EXPECT_EQ(b.pass(), 2);
  for (int k : {0, 1}) {
    ASSERT_TRUE(b.fault(k).has_value());
    EXPECT_EQ(b.fault(k)->fault, fpe::Fault::kOverflow);
    EXPECT_EQ(b.fault(k)->pass, 1);
  }
}

// What would reach past a lane's storage is refused, and the lanes keep
// what they held.
TEST(Batch, RefusesStatesAndElementsOutsideItsGrid) {
  const SimulationState base = program_start(duct(12, 0.05), 0.0);
  Batch b(base, 2);
  b.start(0, 0.5);
  ASSERT_EQ(b.pass(), 0);
  const double u6 = b.value(batch::Quantity::kU, 0, 6);
  EXPECT_THROW(b.load(0, program_start(duct(13, 0.05), 0.5)), std::invalid_argument);
  EXPECT_THROW(b.load(2, base), std::out_of_range);
  EXPECT_TRUE(b.running(0));
  EXPECT_EQ(b.passes(0), 1);
  EXPECT_EQ(b.value(batch::Quantity::kU, 0, 6), u6);
  struct Element {
    batch::Quantity q;
    int i;
    bool inside;
  };
  const Element elements[] = {{batch::Quantity::kU, 1, true},   {batch::Quantity::kU, 12, true},
                              {batch::Quantity::kU, 0, false},  {batch::Quantity::kU, 13, false},
                              {batch::Quantity::kUe, 11, true}, {batch::Quantity::kUe, 12, false}};
  for (const Element& e : elements) {
    SCOPED_TRACE("element " + std::to_string(e.i) + " of quantity " +
                 std::to_string(static_cast<int>(e.q)));
    if (e.inside) {
      EXPECT_NO_THROW(b.value(e.q, 0, e.i));
    } else {
      EXPECT_THROW(b.value(e.q, 0, e.i), std::out_of_range);
    }
  }
  EXPECT_THROW(Batch(program_start(duct(3, 0.05), 0.0), 1), std::invalid_argument);
  EXPECT_THROW(Batch(base, 0), std::invalid_argument);
}

// In a checked build an index outside a lane's array stops the run, and
// under AddressSanitizer so does a raw read one past its end, although it
// lands inside the block that the group's arrays share.
TEST(BatchBoundsDeathTest, AnIndexOutsideALanesArrayIsCaught) {
  const SimulationState base = program_start(duct(12, 0.05), 0.0);
  Batch b(base, 2, {.width = Width::kBaseline, .vectors = 1});
  const int last = b.layout().group_lanes() - 1;  // the last lane of the first group
  b.start(last, 0.5);
  [[maybe_unused]] const Batch::Column u = b.column(batch::Quantity::kU, last);
#if defined(MOODY_CHECKED_INDICES)
  for (int i : {0, 13})
    EXPECT_DEATH((void)u(i), "index " + std::to_string(i) + " outside the bounds 1..12");
#endif
#if defined(__SANITIZE_ADDRESS__)
  EXPECT_DEATH((void)*static_cast<const volatile double*>(u.first + 12 * u.stride),
               "use-after-poison")
      << "the element after u(N) of the group's last lane";
#endif
#if !defined(MOODY_CHECKED_INDICES) && !defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "a plain build checks no index";
#endif
}

// The dispatch takes every width the processor has (Linux tells which).
TEST(Batch, RunsEveryWidthTheProcessorHas) {
  std::ifstream cpuinfo("/proc/cpuinfo");
  if (!cpuinfo) GTEST_SKIP() << "no /proc/cpuinfo here";
  std::string line;
  while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
  }
  const bool avx2 = line.find(" avx2") != std::string::npos;
  const bool avx512 = line.find(" avx512f") != std::string::npos;
  EXPECT_TRUE(batch::runs_here(Width::kBaseline));
  EXPECT_EQ(batch::runs_here(Width::kAvx2), avx2);
  EXPECT_EQ(batch::runs_here(Width::kAvx512), avx2 && avx512);
}

}  // namespace
}  // namespace moody
