// Sources read through the GDAL module, made from the shared data with
// ogr2ogr: the same rows and the same map as the topology they come from,
// member names, layers, types and coordinate systems.
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <tuple>

#include "runtime/data/dataset.h"
#include "runtime/data/ogr.h"
#include "runtime/data/readers.h"
#include "runtime/data/where.h"
#include "testutil.h"

using namespace qv::rt;
using qv::rt::testing::errorOf;
using qv::rt::testing::TempDir;

namespace {

const std::string kData = QV_SOURCE_DIR "/../shared/data";

int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// One folder of sources for the whole suite: the states as a topology, a
// Shapefile, a GeoPackage and a FlatGeobuf file.
class Gdal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    const std::string d = dir_->str(), topo = kData + "/us-states-10m.topojson";
    ASSERT_EQ(run("cp " + topo + " " + d + "/topo.topojson"), 0);
    ASSERT_EQ(run("ogr2ogr -f 'ESRI Shapefile' " + d + "/states.shp " + topo + " states"), 0)
        << "ogr2ogr (Debian gdal-bin) is needed";
    ASSERT_EQ(run("ogr2ogr -f GPKG " + d + "/gpkg.gpkg " + topo + " states"), 0);
    ASSERT_EQ(run("ogr2ogr -f FlatGeobuf -lco SPATIAL_INDEX=NO " + d + "/fgb.fgb " + topo + " states"),
              0);
  }
  static void TearDownTestSuite() { delete dir_; }

  Table read(const std::string& member, const std::string& path = "") {
    DataSetRef ref;
    ref.library = "g";
    ref.member = member;
    ref.path = path;
    Libraries libs;
    libs.assign("g", dir_->str());
    ResolvedFile f = libs.resolve(ref, dir_->str());
    return readerFor(f.kind)(f, ReadSettings(), NoteFn());
  }

  static TempDir* dir_;
};
TempDir* Gdal::dir_ = nullptr;

std::string cell(const Table& t, const char* name, size_t row) {
  const Column& c = t.columns[static_cast<size_t>(t.find(name))];
  if (!c.numeric()) return std::string(c.str(row));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", c.num[row]);
  return buf;
}

// The map rows of a table by ID: its name and the set of its (SEGMENT,
// LONG, LAT), so that a ring written from another vertex, the other way
// round, or without a repeated vertex compares alike. A ring of fewer than
// three distinct points has no area: GDAL leaves it out (Delaware has one in
// the topology), so it is left out here and the segments after it renumbered.
struct Region {
  std::string name;
  std::vector<std::tuple<double, double, double>> points;
};
std::map<std::string, Region> regions(const Table& t) {
  using Point = std::pair<double, double>;
  std::map<std::string, std::map<double, std::vector<Point>>> rings;
  std::map<std::string, Region> out;
  const Column& seg = t.columns[static_cast<size_t>(t.find("SEGMENT"))];
  const Column& lon = t.columns[static_cast<size_t>(t.find("LONG"))];
  const Column& lat = t.columns[static_cast<size_t>(t.find("LAT"))];
  for (size_t r = 0; r < t.rows; ++r) {
    out[cell(t, "ID", r)].name = cell(t, "name", r);
    rings[cell(t, "ID", r)][seg.num[r]].emplace_back(std::round(lon.num[r] * 1e7) / 1e7,
                                                      std::round(lat.num[r] * 1e7) / 1e7);
  }
  for (auto& [id, byRing] : rings) {
    double n = 0;
    for (auto& [s, points] : byRing) {
      std::sort(points.begin(), points.end());
      points.erase(std::unique(points.begin(), points.end()), points.end());
      if (points.size() < 3) continue;
      ++n;
      for (auto [x, y] : points) out[id].points.emplace_back(n, x, y);
    }
  }
  return out;
}

TEST_F(Gdal, EveryFormatGivesTheTopologysRows) {
  const Table topo = read("topo_states");
  const auto want = regions(topo);
  ASSERT_EQ(want.size(), 56u);
  for (const char* path : {"states.shp", "gpkg.gpkg", "fgb.fgb"}) {
    SCOPED_TRACE(path);
    const Table t = read("", path);
    // The same columns, in the same order and of the same types.
    ASSERT_EQ(t.columns.size(), topo.columns.size());
    for (size_t c = 0; c < t.columns.size(); ++c) {
      EXPECT_EQ(t.columns[c].name, topo.columns[c].name);
      EXPECT_EQ(t.columns[c].type, topo.columns[c].type) << t.columns[c].name;
    }
    const auto got = regions(t);
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [id, g] : want) {
      auto it = got.find(id);
      ASSERT_NE(it, got.end()) << id;
      EXPECT_EQ(it->second.name, g.name) << id;
      ASSERT_EQ(it->second.points.size(), g.points.size()) << id << " " << g.name;
      for (size_t i = 0; i < g.points.size(); ++i) {
        auto [s1, x1, y1] = g.points[i];
        auto [s2, x2, y2] = it->second.points[i];
        ASSERT_TRUE(s1 == s2 && std::fabs(x1 - x2) <= 1e-6 && std::fabs(y1 - y2) <= 1e-6)
            << id << " point " << i;
      }
    }
  }
}

}  // namespace
