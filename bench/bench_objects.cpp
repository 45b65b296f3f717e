// Costs of the named objects on the paths a step uses most: interning host
// strings, keyed lookups in associative arrays and appends to memory streams.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "runtime/objects/objects.h"

namespace {

std::vector<std::string> keys(size_t n) {
  std::vector<std::string> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out.push_back("GraphData" + std::to_string(i) + "_name");
  return out;
}

// Interning texts that are already in the pool (the legends' case).
void BM_InternHit(benchmark::State& state) {
  auto ks = keys(static_cast<size_t>(state.range(0)));
  qv::rt::StringPool pool;
  for (const auto& k : ks) pool.intern(k);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(pool.intern(ks[i]));
    if (++i == ks.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InternHit)->Arg(1000)->Arg(100000);

// Interning new texts, then clearing at the end of a step.
void BM_InternFresh(benchmark::State& state) {
  auto ks = keys(static_cast<size_t>(state.range(0)));
  qv::rt::StringPool pool;
  for (auto _ : state) {
    for (const auto& k : ks) benchmark::DoNotOptimize(pool.intern(k));
    pool.clear();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ks.size()));
}
BENCHMARK(BM_InternFresh)->Arg(1000)->Arg(100000);

void BM_AssocPut(benchmark::State& state) {
  auto ks = keys(static_cast<size_t>(state.range(0)));
  qv::rt::AssocArrayImpl a;
  for (auto _ : state) {
    for (const auto& k : ks)
      if (a.put(k, 1.0)) state.SkipWithError("put");
    a.clear();
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(ks.size()));
}
BENCHMARK(BM_AssocPut)->Arg(1000)->Arg(100000);

void BM_AssocGet(benchmark::State& state) {
  auto ks = keys(static_cast<size_t>(state.range(0)));
  qv::rt::AssocArrayImpl a;
  for (const auto& k : ks)
    if (a.put(k, 1.0)) state.SkipWithError("put");
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.get(ks[i]));
    if (++i == ks.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AssocGet)->Arg(1000)->Arg(100000);

// A template written in small pieces, as the translators write it.
void BM_MemoryStreamWrite(benchmark::State& state) {
  const std::string piece = " markerattrs=(color=CX0000FF size=7)";
  for (auto _ : state) {
    qv::rt::MemoryStream s;
    if (s.open(true)) state.SkipWithError("open");
    for (int i = 0; i < 10000; ++i)
      if (s.write(piece)) state.SkipWithError("write");
    benchmark::DoNotOptimize(s.length());
  }
  state.SetBytesProcessed(state.iterations() * 10000 * static_cast<int64_t>(piece.size()));
}
BENCHMARK(BM_MemoryStreamWrite);

}  // namespace

BENCHMARK_MAIN();
