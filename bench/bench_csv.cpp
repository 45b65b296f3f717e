// Reading speed of the CSV reader: a generated 1,000,000-row file of two
// numeric and three text columns (some quoted cells, some non-ASCII UTF-8),
// and one of points ("lon,lat,k", numbers only), read with type inference
// and UTF-8 checking. Reports bytes per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "runtime/data/csv.h"

namespace {

const std::string& benchFile() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "qv_bench_1m.csv").string();
    std::mt19937_64 rng(42);
    const char* cities[] = {"Z\xC3\xBCrich", "S\xC3\xA3o Paulo", "Krak\xC3\xB3w", "Oslo",
                            "\"Washington, D.C.\"", "Austin", "Reykjav\xC3\xADk", "Lagos"};
    const char* kinds[] = {"alpha", "beta", "gamma", "\"quoted \"\"word\"\"\"", "delta"};
    std::string out = "id,value,name,city,kind\n";
    out.reserve(60u << 20);
    char num[64];
    for (int i = 0; i < 1000000; ++i) {
      double v = static_cast<double>(rng() % 10000000) / 1000.0 - 5000.0;
      std::snprintf(num, sizeof num, "%d,%.3f,", i, v);
      out += num;
      out += "Name ";
      out += std::to_string(rng() % 100000);
      out += ',';
      out += cities[rng() % 8];
      out += ',';
      out += kinds[rng() % 5];
      out += '\n';
    }
    std::ofstream(p, std::ios::binary) << out;
    return p;
  }();
  return path;
}

const std::string& pointsFile() {
  static const std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() / "qv_bench_points_1m.csv").string();
    std::mt19937_64 rng(7);
    std::string out = "lon,lat,k\n";
    char line[64];
    for (int i = 0; i < 1000000; ++i) {
      std::snprintf(line, sizeof line, "%.4f,%.4f,%d\n", -124 + 57e-6 * static_cast<double>(rng() % 1000000),
                    25 + 24e-6 * static_cast<double>(rng() % 1000000), static_cast<int>(rng() % 10));
      out += line;
    }
    std::ofstream(p, std::ios::binary) << out;
    return p;
  }();
  return path;
}

void BM_ReadNumericCsvFile(benchmark::State& state) {
  const std::string& path = pointsFile();
  for (auto _ : state) {
    qv::rt::Table t = qv::rt::readDelimitedFile(path, ',', qv::rt::VarNameRule::Strict, {});
    if (t.rows != 1000000 || !t.columns[2].numeric()) state.SkipWithError("unexpected table");
    benchmark::DoNotOptimize(t.columns[0].num.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(std::filesystem::file_size(path)) * state.iterations());
}
BENCHMARK(BM_ReadNumericCsvFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ReadCsvFile(benchmark::State& state) {
  const std::string& path = benchFile();
  size_t bytes = std::filesystem::file_size(path);
  for (auto _ : state) {
    qv::rt::Table t = qv::rt::readDelimitedFile(path, ',', qv::rt::VarNameRule::Strict, {});
    if (t.rows != 1000000 || !t.columns[1].numeric() || t.columns[3].numeric())
      state.SkipWithError("unexpected table");
    benchmark::DoNotOptimize(t.columns[0].num.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}
BENCHMARK(BM_ReadCsvFile)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The parse alone, from a buffer already in memory.
void BM_ParseCsvBuffer(benchmark::State& state) {
  const std::string& path = benchFile();
  qv::TextBuffer original = qv::readWholeFile(path);
  for (auto _ : state) {
    qv::rt::Table t = qv::rt::parseDelimited(original, path, qv::rt::CsvSettings(), {});
    benchmark::DoNotOptimize(t.columns[0].num.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(original.size()) * state.iterations());
}
BENCHMARK(BM_ParseCsvBuffer)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
