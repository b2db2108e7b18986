// Timing of runs in SIMD lanes: one pass of a batch of L runs of one grid,
// per node and per lane, beside the program's own pass (outer_iteration)
// on the same case.
//
//   batch_bench [benchmark flags]
//
// BM_SinglePass/N          outer_iteration, ns per node-pass (counter per_node_lane)
// BM_Batch/<width>/xV/L/N  Batch::pass with L lanes in groups of V vectors of
//                          the width, ns per node-pass per lane
// BM_BatchDefault/L/N      the same with the layout the batch picks for L
//
// The case is the benchmarks' own (bench_case.hpp); the lanes' dt run from
// 10 s up by 1 % a lane, which keeps every value normal.

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "batch.hpp"
#include "bench_case.hpp"
#include "flow/sweeps.hpp"

namespace {

using moody::SimulationState;
using moody::batch::Batch;
using moody::batch::Layout;

constexpr int kSizes[] = {102, 802, 10002};
constexpr int kLanes[] = {1, 4, 8, 16, 32};

void per_node_lane(benchmark::State& state, int N, int lanes) {
  state.counters["per_node_lane"] = benchmark::Counter(
      static_cast<double>(N) * lanes,
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

bool normal(double v) {
  return v == 0.0 || std::isnormal(v);
}

void single_pass(benchmark::State& state, int N) {
  static SimulationState s;
  s = SimulationState{};
  moody::bench::start_case(s, N);
  for (int k = 0; k < 20; ++k)
    moody::outer_iteration(s);
  for (auto _ : state) {
    moody::outer_iteration(s);
    benchmark::ClobberMemory();
  }
  if (!normal(s.u(N / 2)) || !normal(s.p(N))) state.SkipWithError("values left the normal range");
  per_node_lane(state, N, 1);
}

void batch_pass(benchmark::State& state, int N, int lanes, Layout layout) {
  SimulationState base;
  moody::bench::start_case(base, N);
  Batch b(base, lanes, layout);
  for (int k = 0; k < lanes; ++k)
    b.start(k, base.dt * (1.0 + 0.01 * k));
  for (int k = 0; k < 20; ++k)
    b.pass();
  for (auto _ : state) {
    benchmark::DoNotOptimize(b.pass());
    benchmark::ClobberMemory();
  }
  for (int k = 0; k < lanes; ++k) {
    if (!b.running(k) || !normal(b.value(moody::batch::Quantity::kU, k, N / 2)) ||
        !normal(b.value(moody::batch::Quantity::kP, k, N)))
      state.SkipWithError("a lane faulted or left the normal range");
  }
  per_node_lane(state, N, lanes);
}

void register_all() {
  for (int N : kSizes) {
    benchmark::RegisterBenchmark(("BM_SinglePass/" + std::to_string(N)).c_str(), single_pass, N)
        ->Unit(benchmark::kMicrosecond);
  }
  for (int N : kSizes) {
    for (int lanes : kLanes) {
      benchmark::RegisterBenchmark(
          ("BM_BatchDefault/" + std::to_string(lanes) + "/" + std::to_string(N)).c_str(),
          batch_pass, N, lanes, moody::batch::layout_for(lanes))
          ->Unit(benchmark::kMicrosecond);
    }
  }
  for (moody::batch::Width w : moody::batch::kWidths) {
    if (!moody::batch::runs_here(w)) continue;
    for (int vectors : {1, 2, 4}) {
      const Layout layout{.width = w, .vectors = vectors};
      for (int N : kSizes) {
        for (int lanes : kLanes) {
          if (2 * lanes < layout.group_lanes()) continue;  // mostly idle lanes
          benchmark::RegisterBenchmark(
              ("BM_Batch/" + std::string(moody::batch::name(w)) + "/x" + std::to_string(vectors) +
               "/" + std::to_string(lanes) + "/" + std::to_string(N))
                  .c_str(),
              batch_pass, N, lanes, layout)
              ->Unit(benchmark::kMicrosecond);
        }
      }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  register_all();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
