// Cost of formatting one value, the work done per observation when BY
// groups and attribute variables collect formatted values.
#include <benchmark/benchmark.h>

#include "runtime/formats/formats.h"

namespace {

void formatLoop(benchmark::State& state, const char* name, int width, int decimals) {
  qv::host::FormatDesc f;
  qv::rt::resolveFormat(name, &f);
  double v = 1234.5678;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qv::rt::formatNumber(f, width, decimals, v));
    v += 1.25;
  }
}

void BM_Best12(benchmark::State& s) { formatLoop(s, "BEST", 12, 0); }
void BM_Dollar10_2(benchmark::State& s) { formatLoop(s, "DOLLAR", 10, 2); }
void BM_Date9(benchmark::State& s) { formatLoop(s, "DATE", 9, 0); }
void BM_Datetime18(benchmark::State& s) { formatLoop(s, "DATETIME", 18, 0); }

void BM_ResolveFormat(benchmark::State& state) {
  qv::host::FormatDesc f;
  for (auto _ : state) benchmark::DoNotOptimize(qv::rt::resolveFormat("weekdate29.", &f));
}

BENCHMARK(BM_Best12);
BENCHMARK(BM_Dollar10_2);
BENCHMARK(BM_Date9);
BENCHMARK(BM_Datetime18);
BENCHMARK(BM_ResolveFormat);

}  // namespace

BENCHMARK_MAIN();
