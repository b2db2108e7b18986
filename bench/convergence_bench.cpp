// The cost of the convergence tool's measuring against the pass it measures:
// the residuals of a pass read the state once more, and the fault flags are
// cleared before and tested after every pass.
//
//   BM_Pass/N               outer_iteration alone, as the program runs it
//   BM_PassWithResiduals/N  one pass as the tool runs it: flags cleared,
//                           outer_iteration, flags tested, residuals measured
//   BM_Residuals/N          the residuals alone
//
// The case of flow_bench: a 2 m duct growing from 0.05 m at cd = 0.01, a
// water-like fluid, Uin = 1 m/s and dt = 10 s, which keeps every value
// finite and normal.

#include <benchmark/benchmark.h>

#include <cfenv>
#include <cmath>

#include "bench_case.hpp"
#include "control/fpe.hpp"
#include "flow/sweeps.hpp"
#include "residuals.hpp"

namespace {

using moody::SimulationState;
using moody::convergence::Meter;

void start(SimulationState& s, int N) {
  s = SimulationState{};
  moody::bench::start_case(s, N);
  for (int k = 0; k < 20; ++k)
    moody::outer_iteration(s);  // a flow under way
}

void per_node(benchmark::State& state, int N) {
  state.counters["per_node"] =
      benchmark::Counter(static_cast<double>(N), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

SimulationState& state_for(int N) {
  static SimulationState s;  // one state at a time; sized anew for each N
  start(s, N);
  return s;
}

void BM_Pass(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  SimulationState& s = state_for(N);
  for (auto _ : state) {
    moody::outer_iteration(s);
    benchmark::ClobberMemory();
  }
  per_node(state, N);
}

void BM_PassWithResiduals(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  SimulationState& s = state_for(N);
  moody::fpe::Masked masked;
  Meter meter(s);
  double sink = 0.0;
  for (auto _ : state) {
    std::feclearexcept(FE_ALL_EXCEPT);
    moody::outer_iteration(s);
    if (std::fetestexcept(FE_DIVBYZERO | FE_OVERFLOW | FE_INVALID) != 0) {
      state.SkipWithError("a pass raised a fault");
    }
    sink += meter.measure(s).outlet;
    benchmark::ClobberMemory();
  }
  benchmark::DoNotOptimize(sink);
  per_node(state, N);
}

void BM_Residuals(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  SimulationState& s = state_for(N);
  Meter meter(s);
  for (auto _ : state) {
    benchmark::DoNotOptimize(meter.measure(s));
    benchmark::ClobberMemory();
  }
  per_node(state, N);
}

BENCHMARK(BM_Pass)->Arg(52)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PassWithResiduals)->Arg(52)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Residuals)->Arg(52)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
