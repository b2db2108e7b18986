// Timing of the flow solver: the whole outer iteration and the tridiagonal
// solver alone, per node.
//
//   flow_bench [benchmark flags]   the benchmarks
//   flow_bench --whole-run N       one run without input and report (size,
//                                  grid, a few passes, inventory), for
//                                  measuring the peak memory of a run
//
// The case is the benchmarks' own (bench_case.hpp).

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_case.hpp"
#include "flow/coef.hpp"
#include "flow/solver.hpp"
#include "flow/sweeps.hpp"

namespace {

using moody::SimulationState;

void start(SimulationState& s, int N) {
  moody::bench::start_case(s, N);
}

// Nodes whose velocity or pressure is not a normal number (or zero): such
// values would time the slow paths of the arithmetic, not the solver.
int abnormal(const SimulationState& s) {
  int count = 0;
  for (int i = 1; i <= s.N; ++i) {
    for (double v : {s.u(i), s.p(i)}) {
      if (v != 0.0 && !std::isnormal(v)) ++count;
    }
  }
  return count;
}

void per_node(benchmark::State& state, int N) {
  state.counters["per_node"] =
      benchmark::Counter(static_cast<double>(N), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

template <void (*pass)(SimulationState&)>
void BM_Iteration(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  static SimulationState s;  // one state at a time; sized anew for each N
  s = SimulationState{};
  start(s, N);
  pass(s);  // the work buffer is obtained here, not timed
  for (auto _ : state) {
    pass(s);
    benchmark::ClobberMemory();
  }
  if (abnormal(s) != 0) state.SkipWithError("the iteration left the range of normal numbers");
  per_node(state, N);
}
// The driver's outer iteration (four sweeps), and the plain steps one by one.
BENCHMARK(BM_Iteration<moody::outer_iteration>)
    ->Name("BM_OuterIteration")
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Iteration<moody::plain_outer_iteration>)
    ->Name("BM_PlainOuterIteration")
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMicrosecond);

// A diagonally dominant system like the momentum rows.
void BM_Tdma(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  moody::Array1 aP, aW, aE, bP, phi;
  for (moody::Array1* a : {&aP, &aW, &aE, &bP, &phi})
    a->size_to(N);
  for (int i = 1; i <= N; ++i) {
    aW(i) = 1.0 + 1.0e-6 * i;
    aE(i) = 0.5;
    aP(i) = aW(i) + aE(i) + 2.0;
    bP(i) = std::sin(0.001 * i);
  }
  moody::tdma(N, aP, aW, aE, bP, phi);
  for (auto _ : state) {
    moody::tdma(N, aP, aW, aE, bP, phi);
    benchmark::ClobberMemory();
  }
  state.counters["per_node"] =
      benchmark::Counter(static_cast<double>(N), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}
BENCHMARK(BM_Tdma)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// The bound below any implementation of these recurrences: the forward
// recurrence alone, d = aP - P*aW, P = aE/d, Q = (Q*aW + bP)/d, whose
// division waits on the one before.  An outer iteration runs it twice.
void BM_DivisionChain(benchmark::State& state) {
  const int N = static_cast<int>(state.range(0));
  moody::Array1 aP, aW, aE, bP, P, Q;
  for (moody::Array1* a : {&aP, &aW, &aE, &bP, &P, &Q})
    a->size_to(N);
  for (int i = 1; i <= N; ++i) {
    aW(i) = 1.0 + 1.0e-6 * i;
    aE(i) = 0.5;
    aP(i) = aW(i) + aE(i) + 2.0;
    bP(i) = std::sin(0.001 * i);
  }
  for (auto _ : state) {
    double p = aE(1) / aP(1), q = bP(1) / aP(1);
    for (int i = 2; i <= N; ++i) {
      const double d = aP(i) - p * aW(i);
      p = aE(i) / d;
      q = (q * aW(i) + bP(i)) / d;
      P(i) = p;
      Q(i) = q;
    }
    benchmark::ClobberMemory();
  }
  per_node(state, N);
}
BENCHMARK(BM_DivisionChain)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMicrosecond);

int whole_run(int N) {
  static SimulationState s;
  start(s, N);
  for (s.it = 1; s.it <= 5; ++s.it)
    moody::outer_iteration(s);
  moody::inventory(s);
  std::printf("N = %d, u(N) = %.17g, p(N) = %.17g\n", N, s.u(N), s.p(N));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--whole-run") == 0) {
    return whole_run(std::atoi(argv[2]));
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
