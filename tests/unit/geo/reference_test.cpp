// The real map files: the TopoJSON objects read directly give the rows of
// the CSV files converted from them, and the library finds every object.
#include <gtest/gtest.h>

#include <cmath>

#include "common/error.h"
#include "runtime/data/csv.h"
#include "runtime/data/dataset.h"
#include "runtime/data/geojson.h"
#include "runtime/data/library.h"
#include "runtime/data/readers.h"
#include "runtime/data/topojson.h"

using namespace qv;
using namespace qv::rt;

namespace {

const std::string kData = std::string(QV_SOURCE_DIR) + "/examples/data/";

const Column& col(const Table& t, const char* name) {
  int i = t.find(name);
  if (i < 0) throw std::runtime_error(std::string("no column ") + name);
  return t.columns[static_cast<size_t>(i)];
}

// Same rows in the same order: ID, NAME, SEGMENT exactly, LONG/LAT within 1e-9.
void expectSameRows(const Table& topo, const Table& csv) {
  ASSERT_EQ(topo.rows, csv.rows);
  std::vector<std::string> names;
  for (const auto& c : topo.columns) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"ID", "name", "SEGMENT", "LONG", "LAT"}));
  const Column& id = col(topo, "ID");
  ASSERT_TRUE(id.numeric());  // "01" reads as a number, as in the CSV file
  const Column &cid = col(csv, "ID"), &name = col(topo, "NAME"), &cname = col(csv, "NAME");
  const Column &seg = col(topo, "SEGMENT"), &cseg = col(csv, "SEGMENT");
  const Column &lon = col(topo, "LONG"), &clon = col(csv, "LONG");
  const Column &lat = col(topo, "LAT"), &clat = col(csv, "LAT");
  ASSERT_FALSE(name.numeric());
  int bad = 0;
  for (size_t r = 0; r < topo.rows && bad < 5; ++r) {
    bool same = id.number(r) == cid.number(r) && name.str(r) == cname.str(r) &&
                seg.number(r) == cseg.number(r) && std::fabs(lon.num[r] - clon.num[r]) <= 1e-9 &&
                std::fabs(lat.num[r] - clat.num[r]) <= 1e-9;
    if (!same) {
      ++bad;
      ADD_FAILURE() << "row " << r + 1 << ": " << id.number(r) << " " << name.str(r) << " "
                    << seg.number(r) << " " << lon.num[r] << " " << lat.num[r] << " vs "
                    << cid.number(r) << " " << cname.str(r) << " " << cseg.number(r) << " "
                    << clon.num[r] << " " << clat.num[r];
    }
  }
  EXPECT_EQ(name.width, cname.width);
}

DataSetRef ref(const std::string& member) {
  DataSetRef r;
  r.library = "maps";
  r.member = member;
  return r;
}

}  // namespace

TEST(GeoReference, StatesAsTheConvertedCsv) {
  Table topo = readGeoDataFile(kData + "us-states-10m.topojson", "", VarNameRule::Strict, {});
  Table csv = readDelimitedFile(kData + "us_states.csv", ',', VarNameRule::Strict, {});
  expectSameRows(topo, csv);
}

TEST(GeoReference, CountiesAsTheConvertedCsv) {
  Table topo =
      readGeoDataFile(kData + "us-counties-10m.topojson", "counties", VarNameRule::Strict, {});
  Table csv = readDelimitedFile(kData + "us_counties.csv", ',', VarNameRule::Strict, {});
  expectSameRows(topo, csv);

  // The nation has no id: ID is an all-missing numeric column.
  Table nation =
      readGeoDataFile(kData + "us-counties-10m.topojson", "nation", VarNameRule::Strict, {});
  ASSERT_GT(nation.rows, 1000u);
  ASSERT_EQ(nation.columns.size(), 4u);
  EXPECT_TRUE(std::isnan(col(nation, "ID").number(0)));
}

TEST(GeoReference, ObjectsAsMembers) {
  Libraries libs;
  libs.assign("maps", kData);
  EXPECT_EQ(topoJsonObjectNamesOfFile(kData + "us-counties-10m.topojson"),
            (std::vector<std::string>{"counties", "states", "nation"}));
  EXPECT_TRUE(topoJsonObjectNamesOfFile(kData + "us_states.csv").empty());
  EXPECT_TRUE(topoJsonObjectNamesOfFile(kData + "nothere.topojson").empty());

  ResolvedFile own = libs.resolve(ref("us_states_10m"), "");
  EXPECT_EQ(own.member, "US_STATES_10M");
  EXPECT_EQ(own.object, "states");  // the first object
  ResolvedFile nation = libs.resolve(ref("US_Counties_10m_Nation"), "");
  EXPECT_EQ(nation.member, "US_COUNTIES_10M_NATION");
  EXPECT_EQ(nation.object, "nation");
  EXPECT_EQ(nation.kind, FileKind::TopoJson);
  std::string e;
  try {
    libs.resolve(ref("us_counties_10m_towns"), "");
  } catch (const UserError& x) {
    e = x.what();
  }
  EXPECT_NE(e.find("does not exist: the topology us-counties-10m.topojson has no object TOWNS "
                   "(its objects: counties states nation)"),
            std::string::npos)
      << e;
  DataSetRef quoted;
  quoted.path = kData + "us-counties-10m.topojson";
  EXPECT_EQ(libs.resolve(quoted, "").object, "counties");

  // The same object reached by either name is the same data set, read once.
  DataCache cache;
  OpenSettings s;
  auto a = openDataSet(ref("us_states_10m"), libs, cache, s, {});
  auto b = openDataSet(ref("us_states_10m_states"), libs, cache, s, {});
  auto c = openDataSet(ref("us_states_10m_nation"), libs, cache, s, {});
  EXPECT_TRUE(a->sameAs(*b));
  EXPECT_FALSE(a->sameAs(*c));
  EXPECT_EQ(a->storedColumn(0), b->storedColumn(0));  // the same table
  EXPECT_EQ(cache.parses(), 2);
  EXPECT_EQ(a->info(3), 14456);
  EXPECT_EQ(c->nvars(), 4);
}
