// Reading speed of the map-data readers.
//
// - The US counties topology (842 kB, 9,869 arcs, 3,231 features, 68,313
//   vertex rows) read from the file into a table, every vertex converted.
// - The JSON parse alone of the same file by the two parsers at hand, simdjson
//   (which the readers use) and nlohmann-json, each walking every number.
// - A generated GeoJSON FeatureCollection of 1,000,000 vertices.
//
// The data are read from examples/data of the source tree.
#include <benchmark/benchmark.h>
#include <simdjson.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>

#include "common/filebuf.h"
#include "runtime/data/geojson.h"

namespace {

std::string dataFile(const char* name) {
  return (std::filesystem::path(__FILE__).parent_path().parent_path() / "examples" / "data" / name)
      .string();
}

const std::string& countiesText() {
  static const std::string text = [] {
    std::ifstream in(dataFile("us-counties-10m.topojson"), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }();
  return text;
}

void BM_ReadCountiesTopoJson(benchmark::State& state) {
  const std::string path = dataFile("us-counties-10m.topojson");
  for (auto _ : state) {
    qv::rt::Table t = qv::rt::readGeoDataFile(path, "counties", qv::rt::VarNameRule::Strict, {});
    if (t.rows != 68313) state.SkipWithError("unexpected table");
    benchmark::DoNotOptimize(t.columns.back().num.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(countiesText().size()) * state.iterations());
}
BENCHMARK(BM_ReadCountiesTopoJson)->Unit(benchmark::kMillisecond)->MinTime(2.0);

double sumNumbers(simdjson::dom::element e) {
  double s = 0;
  switch (e.type()) {
    case simdjson::dom::element_type::ARRAY: {
      simdjson::dom::array a = e.get_array().value_unsafe();
      for (auto c : a) s += sumNumbers(c);
      break;
    }
    case simdjson::dom::element_type::OBJECT: {
      simdjson::dom::object o = e.get_object().value_unsafe();
      for (auto kv : o) s += sumNumbers(kv.value);
      break;
    }
    case simdjson::dom::element_type::INT64:
    case simdjson::dom::element_type::UINT64:
    case simdjson::dom::element_type::DOUBLE: s += e.get_double().value_unsafe(); break;
    default: break;
  }
  return s;
}

double sumNumbers(const nlohmann::json& j) {
  if (j.is_number()) return j.get<double>();
  double s = 0;
  if (j.is_structured())
    for (const auto& c : j) s += sumNumbers(c);
  return s;
}

void BM_ParseCountiesSimdjson(benchmark::State& state) {
  const std::string& text = countiesText();
  simdjson::dom::parser parser;
  for (auto _ : state) {
    simdjson::dom::element root;
    if (parser.parse(text.data(), text.size(), true).get(root)) state.SkipWithError("parse");
    benchmark::DoNotOptimize(sumNumbers(root));
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}
BENCHMARK(BM_ParseCountiesSimdjson)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ParseCountiesNlohmann(benchmark::State& state) {
  const std::string& text = countiesText();
  for (auto _ : state) {
    nlohmann::json j = nlohmann::json::parse(text);
    benchmark::DoNotOptimize(sumNumbers(j));
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}
BENCHMARK(BM_ParseCountiesNlohmann)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// 20,000 polygon features of 50 vertices with two properties.
const std::string& bigGeoJson() {
  static const std::string text = [] {
    std::mt19937_64 rng(5);
    std::string out = "{\"type\": \"FeatureCollection\", \"features\": [\n";
    char num[64];
    for (int f = 0; f < 20000; ++f) {
      if (f) out += ",\n";
      out += "{\"type\": \"Feature\", \"id\": \"" + std::to_string(10000 + f) +
             "\", \"properties\": {\"name\": \"Region " + std::to_string(f) +
             "\", \"value\": " + std::to_string(rng() % 1000) +
             "}, \"geometry\": {\"type\": \"Polygon\", \"coordinates\": [[";
      double x0 = static_cast<double>(rng() % 360000) / 1000 - 180;
      double y0 = static_cast<double>(rng() % 170000) / 1000 - 85;
      for (int v = 0; v < 50; ++v) {
        double x = v == 49 ? x0 : x0 + static_cast<double>(rng() % 1000) / 1e4;
        double y = v == 49 ? y0 : y0 + static_cast<double>(rng() % 1000) / 1e4;
        std::snprintf(num, sizeof num, "%s[%.6f, %.6f]", v ? ", " : "", x, y);
        out += num;
      }
      out += "]]}}";
    }
    out += "\n]}\n";
    return out;
  }();
  return text;
}

void BM_ParseLargeGeoJson(benchmark::State& state) {
  const std::string& text = bigGeoJson();
  for (auto _ : state) {
    qv::rt::Table t = qv::rt::parseGeoData(text, "big.geojson", "", qv::rt::VarNameRule::Strict, {});
    if (t.rows != 1000000) state.SkipWithError("unexpected table");
    benchmark::DoNotOptimize(t.columns.back().num.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size()) * state.iterations());
}
BENCHMARK(BM_ParseLargeGeoJson)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
