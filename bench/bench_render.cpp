// Drawing speed of the renderer's shared path: every county of the example
// map data (3,231 regions, 68,000 vertices) projected, clipped, thinned and
// filled on a 640x480 image, at the whole-country view and zoomed into one
// state (most geometry then lies outside and is clipped away); and the PNG
// encoding of the finished image.
#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

#include "render/geo/geometry.h"
#include "render/paint/canvas.h"
#include "runtime/data/csv.h"

namespace {

using qv::render::LonLatRing;

struct Region {
  std::vector<LonLatRing> rings;
};

// The example data next to this file's folder (the build passes full paths).
std::string exampleData(const char* name) {
  std::string here = __FILE__;
  std::string root = here.substr(0, here.rfind("/bench/"));
  return root + "/examples/data/" + name;
}

const std::vector<Region>& counties() {
  static const std::vector<Region> regions = [] {
    qv::rt::Table t = qv::rt::readDelimitedFile(exampleData("us_counties.csv"), ',',
                                                qv::rt::VarNameRule::Strict, {});
    int id = t.find("ID"), seg = t.find("SEGMENT"), lon = t.find("LONG"), lat = t.find("LAT");
    std::map<std::pair<double, double>, LonLatRing> rings;
    for (size_t r = 0; r < t.rows; ++r)
      rings[{t.columns[id].num[r], t.columns[seg].num[r]}].push_back(
          {t.columns[lon].num[r], t.columns[lat].num[r]});
    std::vector<Region> out;
    double last = -1;
    for (auto& [key, ring] : rings) {
      if (out.empty() || key.first != last) out.emplace_back();
      last = key.first;
      out.back().rings.push_back(std::move(ring));
    }
    return out;
  }();
  return regions;
}

void drawAll(qv::render::Canvas& c, const qv::render::Projection& proj, const qv::render::Rect& area) {
  const auto& style = qv::render::defaultStyle();
  c.fill(style.background);
  auto opt = qv::render::geometryFor(area);
  qv::render::Painter& pen = c.painter();
  int n = 0;
  for (const Region& r : counties()) {
    if (qv::render::regionPath(pen, proj, r.rings, opt))
      qv::render::fillAndStroke(pen, qv::render::graphData(style, 1 + n++ % 12).fill,
                                style.regionOutline, style.regionOutlineWidth);
  }
}

qv::render::Projection viewOf(double lon0, double lat0, double lon1, double lat1,
                              const qv::render::Rect& area) {
  qv::render::Extent e;
  e.add(lon0, lat0);
  e.add(lon1, lat1);
  return qv::render::Projection::fit(e, area, 8);
}

void BM_DrawCountiesWholeCountry(benchmark::State& state) {
  qv::render::Rect area{0, 0, 640, 480};
  auto proj = viewOf(-125, 24, -66, 50, area);  // the lower 48 states
  qv::render::Canvas c(640, 480);
  for (auto _ : state) drawAll(c, proj, area);
  state.SetItemsProcessed(int64_t(counties().size()) * state.iterations());
}
BENCHMARK(BM_DrawCountiesWholeCountry)->Unit(benchmark::kMillisecond);

void BM_DrawCountiesZoomedIn(benchmark::State& state) {
  qv::render::Rect area{0, 0, 640, 480};
  auto proj = viewOf(-109.06, 36.99, -102.04, 41.0, area);  // Colorado
  qv::render::Canvas c(640, 480);
  for (auto _ : state) drawAll(c, proj, area);
  state.SetItemsProcessed(int64_t(counties().size()) * state.iterations());
}
BENCHMARK(BM_DrawCountiesZoomedIn)->Unit(benchmark::kMillisecond);

void BM_EncodePng(benchmark::State& state) {
  qv::render::Rect area{0, 0, 640, 480};
  qv::render::Canvas c(640, 480);
  drawAll(c, viewOf(-125, 24, -66, 50, area), area);
  size_t bytes = 0;
  for (auto _ : state) bytes = c.pngBytes().size();
  state.counters["png_bytes"] = double(bytes);
}
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
