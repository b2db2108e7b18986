// Formatter throughput: single E25.15 fields, and whole report rows of an
// index and four reals into a growing string, as the report step writes them.

#include <benchmark/benchmark.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "io/field_edit.hpp"
#include "io/format.hpp"
#include "io/output_file.hpp"

namespace {

// Values like those of a run: full 53-bit mantissas, both signs, decimal
// exponents from -12 to +12, and a sprinkling of zeros.
std::vector<double> sample_values(std::size_t count) {
  std::mt19937_64 random(2024);
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-12, 12);
  std::vector<double> values(count);
  double scale[25];
  scale[12] = 1.0;
  for (int k = 1; k <= 12; ++k) {
    scale[12 + k] = scale[11 + k] * 10.0;
    scale[12 - k] = scale[13 - k] / 10.0;
  }
  for (std::size_t k = 0; k < count; ++k) {
    const double v = mantissa(random) * scale[exponent(random) + 12];
    values[k] = (k % 97 == 0) ? 0.0 : (random() & 1) ? -v : v;
  }
  return values;
}

// Random bit patterns over the whole finite range.
std::vector<double> random_bits(std::size_t count) {
  std::mt19937_64 random(7);
  std::vector<double> values;
  while (values.size() < count) {
    const std::uint64_t bits = random();
    if (((bits >> 52) & 0x7ff) != 0x7ff) values.push_back(std::bit_cast<double>(bits));
  }
  return values;
}

void edit(benchmark::State& state, const std::vector<double>& values, int w, int d,
          void (*editor)(double, int, int, char*)) {
  char field[32];
  std::size_t k = 0;
  for (auto _ : state) {
    editor(values[k], w, d, field);
    benchmark::DoNotOptimize(field);
    if (++k == values.size()) k = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_E25_15(benchmark::State& state) {
  edit(state, sample_values(1 << 16), 25, 15, moody::edit_real);
}
void BM_E20_9(benchmark::State& state) {
  edit(state, sample_values(1 << 16), 20, 9, moody::edit_real);
}
void BM_E25_15_AnyBits(benchmark::State& state) {
  edit(state, random_bits(1 << 16), 25, 15, moody::edit_real);
}
void BM_E25_15_Exact(benchmark::State& state) {
  edit(state, sample_values(1 << 12), 25, 15, moody::edit_real_exact);
}
BENCHMARK(BM_E25_15);
BENCHMARK(BM_E20_9);
BENCHMARK(BM_E25_15_AnyBits);
BENCHMARK(BM_E25_15_Exact);

// One statement "(I10,4(1P,E25.15))" per iteration; the string is emptied
// whenever it passes 1 MiB, as the output file's buffer would be.
void BM_ReportRow(benchmark::State& state) {
  const moody::Format row("(I10,4(1P,E25.15))");
  const std::vector<double> values = sample_values(1 << 16);
  std::string out;
  out.reserve(std::size_t{1} << 21);
  std::size_t k = 0;
  std::int32_t i = 1;
  for (auto _ : state) {
    row.write(out, {i, values[k], values[k + 1], values[k + 2], values[k + 3]});
    if (out.size() >= (std::size_t{1} << 20)) out.clear();
    k = (k + 4) & ((1 << 16) - 4);
    ++i;
  }
  benchmark::DoNotOptimize(out.data());
  state.SetItemsProcessed(state.iterations() * 5);  // fields
  state.SetBytesProcessed(state.iterations() * 112);
}
BENCHMARK(BM_ReportRow);

// The tables of a whole report for N = 10^6 nodes, in the report's order and
// formats, to saida.txt, u.dat and p.dat in the temporary folder: 34 million
// fields, about 700 MB.  One iteration per repetition; wall-clock time.
void BM_WholeReport(benchmark::State& state) {
  const std::int32_t n = static_cast<std::int32_t>(state.range(0));
  const std::vector<double> v = sample_values(static_cast<std::size_t>(n) + 8);
  const std::filesystem::path dir = std::filesystem::temp_directory_path();
  const moody::Format geometry("(I10,3(1P,E25.15))"), coefficients("(I10,4(1P,E25.15))"),
      table("(I10,1P,E20.9,1P,E25.15)"), plot("(1P,E20.9,1P,E25.15)");
  std::uintmax_t bytes = 0;
  for (auto _ : state) {
    moody::OutputFile saida((dir / "bench_saida.txt").string(), 5);
    moody::OutputFile u((dir / "bench_u.dat").string(), 7);
    moody::OutputFile p((dir / "bench_p.dat").string(), 8);
    for (std::int32_t i = 1; i <= n; ++i)
      saida.write(geometry, {i, v[i], v[i + 1], v[i + 2]});
    for (int set = 0; set < 2; ++set) {
      for (std::int32_t i = 1; i <= n; ++i) {
        saida.write(coefficients, {i, v[i], v[i + 1], v[i + 2], v[i + 3]});
      }
    }
    for (std::int32_t i = 1; i <= n; ++i) {
      saida.write(table, {i, v[i], v[i + 4]});
      u.write(plot, {v[i], v[i + 4]});
    }
    for (std::int32_t i = 1; i <= n; ++i) {
      saida.write(table, {i, v[i], v[i + 5]});
      p.write(plot, {v[i], v[i + 5]});
    }
    for (std::int32_t i = 1; i <= n; ++i)
      saida.write(table, {i, v[i], v[i + 6]});
    for (std::int32_t i = 2; i < n; ++i)
      saida.write(table, {i, v[i]});
    for (std::int32_t i = 1; i < n; ++i)
      saida.write(table, {i, v[i]});
    for (std::int32_t i = 1; i < n; ++i)
      saida.write(table, {i, v[i], v[i + 7]});
    saida.close();
    u.close();
    p.close();
    bytes = std::filesystem::file_size(dir / "bench_saida.txt") +
            std::filesystem::file_size(dir / "bench_u.dat") +
            std::filesystem::file_size(dir / "bench_p.dat");
  }
  for (const char* name : {"bench_saida.txt", "bench_u.dat", "bench_p.dat"}) {
    std::filesystem::remove(dir / name);
  }
  state.SetItemsProcessed(state.iterations() * 34 * static_cast<std::int64_t>(n));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}
BENCHMARK(BM_WholeReport)
    ->Arg(1000000)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
