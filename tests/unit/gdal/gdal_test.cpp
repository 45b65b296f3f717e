// Sources read through the GDAL module, made from the example data with
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

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::errorOf;
using qv::rt::testing::TempDir;

namespace {

const std::string kData = QV_SOURCE_DIR "/examples/data";

int run(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// One folder of sources for the whole suite: the states as a topology, a
// Shapefile, a GeoPackage and a FlatGeobuf file.
class Gdal : public ::testing::Test {
 protected:
  // Made by the first test; a failure fails every test (a failure in
  // SetUpTestSuite would only mark them skipped).
  void SetUp() override {
    static const bool made = [] {
      dir_ = new TempDir;
      const std::string d = dir_->str(), topo = kData + "/us-states-10m.topojson";
      return run("cp " + topo + " " + d + "/topo.topojson") == 0 &&
             run("ogr2ogr -f 'ESRI Shapefile' " + d + "/states.shp " + topo + " states") == 0 &&
             run("ogr2ogr -f GPKG " + d + "/gpkg.gpkg " + topo + " states") == 0 &&
             run("ogr2ogr -f FlatGeobuf -lco SPATIAL_INDEX=NO " + d + "/fgb.fgb " + topo +
                 " states") == 0 &&
             // The states in metres (Albers equal-area on the NAD83 datum).
             run("ogr2ogr -f GPKG -s_srs EPSG:4326 -t_srs EPSG:5070 " + d + "/albers.gpkg " + topo +
                 " states") == 0;
    }();
    ASSERT_TRUE(made) << "the sources could not be made from " << kData
                      << " (ogr2ogr of Debian's gdal-bin is needed)";
  }
  static void TearDownTestSuite() { delete dir_; }

  static ResolvedFile resolve(const std::string& member, const std::string& path = "") {
    DataSetRef ref;
    ref.library = "g";
    ref.member = member;
    ref.path = path;
    Libraries libs;
    libs.assign("g", dir_->str());
    return libs.resolve(ref, dir_->str());
  }
  static Table read(const std::string& member, const std::string& path = "") {
    ResolvedFile f = resolve(member, path);
    return readerFor(f.kind)(f, ReadSettings(), NoteFn());
  }

  static TempDir* dir_;
};
TempDir* Gdal::dir_ = nullptr;

std::string cell(const Table& t, const char* name, size_t row) {
  const Column& c = t.columns[static_cast<size_t>(t.find(name))];
  if (!c.numeric()) return std::string(c.str(row));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.15g", c.number(row));
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
    rings[cell(t, "ID", r)][seg.number(r)].emplace_back(std::round(lon.num[r] * 1e7) / 1e7,
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

// What a library folder's members are: the first extension wins, a
// Shapefile's own .dbf is no second file, a GeoPackage's layers and a
// folder's Shapefiles are members named as topology objects, a lone .dbf is
// a plain table; attributes keep their types; a layer's own system is kept.
TEST_F(Gdal, MembersLayersTypesAndSystems) {
  const std::string d = dir_->str(), topo = d + "/topo.topojson";
  EXPECT_EQ(resolve("states").kind, FileKind::Shp);
  EXPECT_TRUE(resolve("states").alsoMatched.empty());
  ASSERT_EQ(run("cp " + d + "/gpkg.gpkg " + d + "/both.gpkg"), 0);
  std::ofstream(d + "/both.csv") << "a\n1\n";
  ResolvedFile both = resolve("both");
  EXPECT_EQ(both.kind, FileKind::Csv);
  EXPECT_EQ(both.alsoMatched, (std::vector<std::string>{"both.csv", "both.gpkg"}));

  ASSERT_EQ(run("ogr2ogr -f GPKG " + d + "/multi.gpkg " + topo + " states"), 0);
  ASSERT_EQ(run("ogr2ogr -update -f GPKG " + d + "/multi.gpkg " + topo + " nation"), 0);
  EXPECT_EQ(resolve("multi").object, "states");
  EXPECT_EQ(resolve("multi_states").object, "states");
  EXPECT_EQ(resolve("multi_nation").object, "nation");
  EXPECT_EQ(read("multi_nation").find("name"), -1);
  EXPECT_NE(errorOf([&] { resolve("multi_rivers"); })
                .find("the GeoPackage multi.gpkg has no layer RIVERS (its layers: states nation)"),
            std::string::npos);

  ASSERT_EQ(run("mkdir " + d + "/shapes && ogr2ogr " + d + "/shapes/b.shp " + topo +
                " nation && ogr2ogr " + d + "/shapes/a.shp " + topo + " states"),
            0);
  EXPECT_EQ(std::filesystem::path(resolve("shapes").path).filename(), "a.shp");
  EXPECT_EQ(std::filesystem::path(resolve("shapes_b").path).filename(), "b.shp");

  // Points, a line and a polygon-free layer, with typed attributes.
  std::filesystem::create_directory(d + "/in");
  std::ofstream(d + "/in/typed.geojson") << R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "properties": {"n": 3, "r": 1.5, "s": "x", "d": "2020-01-31",
      "t": "2020-01-31T12:30:00"}, "geometry": {"type": "Point", "coordinates": [-80, 35]}},
    {"type": "Feature", "properties": {"n": null, "r": 2.5, "s": "yy", "d": null, "t": null},
      "geometry": {"type": "LineString", "coordinates": [[-81, 36], [-82, 37], [-83, 38]]}}]})";
  ASSERT_EQ(run("ogr2ogr -f GPKG " + d + "/typed.gpkg " + d + "/in/typed.geojson"), 0);
  const Table t = read("typed");
  ASSERT_EQ(t.rows, 5u);  // the point, the line's three vertices and its break
  std::string names;
  for (const Column& c : t.columns) names += c.name + (c.numeric() ? "#" : "$") + c.format + " ";
  EXPECT_EQ(names, "ID# n# r# s$ d#DATE t#DATETIME SEGMENT# LONG# LAT# ");
  EXPECT_EQ(cell(t, "ID", 0), "1");
  EXPECT_EQ(cell(t, "ID", 4), "2");
  EXPECT_EQ(cell(t, "d", 0), std::to_string(daysFrom1960(2020, 1, 31)));
  EXPECT_EQ(cell(t, "t", 0), std::to_string(daysFrom1960(2020, 1, 31) * 86400 + 45000));
  EXPECT_EQ(cell(t, "n", 1), "nan");
  EXPECT_EQ(cell(t, "LONG", 3), "-83");
  EXPECT_EQ(cell(t, "LONG", 4), "nan");
  EXPECT_EQ(cell(t, "s", 4), "yy");
  EXPECT_EQ(t.crs, "");

  ASSERT_EQ(run("ogr2ogr -f 'ESRI Shapefile' -nlt NONE " + d + "/facts.dbf " + d + "/in/typed.geojson"),
            0);
  const Table facts = read("facts");
  EXPECT_EQ(facts.rows, 2u);
  EXPECT_EQ(facts.find("ID"), -1);
  EXPECT_EQ(facts.find("LONG"), -1);

  // GML without its schema is scanned, and nothing is written beside it.
  ASSERT_EQ(run("ogr2ogr -f GML -dsco XSISCHEMA=OFF " + d + "/gml.gml " + topo + " states"), 0);
  EXPECT_EQ(read("gml").rows, read("states").rows);
  EXPECT_FALSE(std::filesystem::exists(d + "/gml.gfs"));

  const Table albers = read("albers");
  EXPECT_EQ(albers.crs, "EPSG:5070");
  EXPECT_GT(std::fabs(albers.columns[static_cast<size_t>(albers.find("LONG"))].num[0]), 1000);
}

// Passwords never reach the log, in every form libpq takes them;
// connection strings are told from folders.
TEST(GdalConnections, PasswordsHiddenAndStringsTold) {
  const struct {
    const char* connection;
    const char* shown;
  } strings[] = {
      {"PG:dbname=gis password=s3cret host=db", "PG:dbname=gis password=*** host=db"},
      {"PG:password='a b' user=me", "PG:password=*** user=me"},
      {"PG:host=db password = 'TopSecret9'", "PG:host=db password = ***"},
      {R"(PG:password='Top\'Secret9' user=me)", "PG:password=*** user=me"},
      {"PG:PASSWORD=UpperPw9x dbname=gis", "PG:PASSWORD=*** dbname=gis"},
      {"PG:host=db password MissEqPw9x dbname=gis", "PG:host=db password *** dbname=gis"},
      {"PG:password=dev pw dbname=gis", "PG:password=*** dbname=gis"},
      {"PG:sslpassword=KeyPw123 dbname=gis", "PG:sslpassword=*** dbname=gis"},
      {"postgresql://u:At@Pw9x:/@127.0.0.1:1/gis", "postgresql://***@127.0.0.1:1/gis"},
      {"PG:postgresql://me:s3cret@db/gis", "PG:postgresql://***@db/gis"},
      {"postgresql://db/gis?user=me&password=QueryPw1&sslmode=disable",
       "postgresql://db/gis?user=me&password=***&sslmode=disable"},
      {"PG:dbname=passwords user=password", "PG:dbname=passwords user=password"},
  };
  for (const auto& c : strings) EXPECT_EQ(hidePasswords(c.connection, c.connection), c.shown);
  // A database's reasons quote pieces of the password it stumbled on.
  EXPECT_EQ(hidePasswords(R"(could not translate host name "Pw9x" to address)",
                          "postgresql://u:At@Pw9x:/@127.0.0.1:1/gis"),
            R"(could not translate host name "***" to address)");
  EXPECT_EQ(hidePasswords(R"(missing "=" after "pw" in connection info string)",
                          "PG:password=dev pw dbname=gis"),
            R"(missing "=" after "***" in connection info string)");
  EXPECT_EQ(hidePasswords("no Top'Secret9 here", R"(PG:password='Top\'Secret9')"), "no *** here");
  EXPECT_EQ(hidePasswords(R"(password authentication failed for user "me")",
                          "PG:password=s3cret user=me"),
            R"(password authentication failed for user "me")");
  EXPECT_EQ(hidePasswords("the database postgresql://me:x@db/gis (library PG)"),
            "the database postgresql://***@db/gis (library PG)");

  EXPECT_TRUE(isConnectionString("PG:dbname=gis"));
  EXPECT_TRUE(isConnectionString("postgresql://db/gis"));
  EXPECT_FALSE(isConnectionString("C:/maps"));
  EXPECT_FALSE(isConnectionString("/data/maps"));
}

// A server that does not answer ends the step after 30 seconds, unless the
// connection string or the environment says otherwise.
TEST(GdalConnections, ConnectTimeOut) {
  ::unsetenv("PGCONNECT_TIMEOUT");
  ::unsetenv("PGSERVICE");
  EXPECT_EQ(withConnectTimeout("PG:dbname=gis"), "PG:connect_timeout=30 dbname=gis");
  EXPECT_EQ(withConnectTimeout("PG:dbname=gis connect_timeout = 5"), "PG:dbname=gis connect_timeout = 5");
  EXPECT_EQ(withConnectTimeout("PG:service=maps"), "PG:service=maps");
  EXPECT_EQ(withConnectTimeout("postgresql://db/gis"), "postgresql://db/gis?connect_timeout=30");
  EXPECT_EQ(withConnectTimeout("PG:postgres://db/gis?sslmode=disable"),
            "PG:postgres://db/gis?sslmode=disable&connect_timeout=30");
  EXPECT_EQ(withConnectTimeout("postgresql://db/gis?connect_timeout=2"), "postgresql://db/gis?connect_timeout=2");
  EXPECT_EQ(withConnectTimeout("MYSQL:gis"), "MYSQL:gis");
  ::setenv("PGCONNECT_TIMEOUT", "4", 1);
  EXPECT_EQ(withConnectTimeout("PG:dbname=gis"), "PG:dbname=gis");
  ::unsetenv("PGCONNECT_TIMEOUT");
}

// What PostgreSQL is asked to select: exactly what the selection selects
// here, where the column's type lets it compare alike. A missing value is
// lower than every number here, NULL there, or NaN (which PostgreSQL sorts
// above every number) in a floating-point or NUMERIC column.
TEST(GdalConnections, DatabaseConditions) {
  using Type = SqlColumn::Type;
  const auto column = [](std::string_view n) -> SqlColumn {
    const struct {
      const char* name;
      Type type;
      int precision, scale;
    } columns[] = {{"i", Type::Integer, 0, 0},    {"big", Type::BigInteger, 0, 0},
                   {"d", Type::Double, 0, 0},     {"n", Type::Decimal, 10, 3},
                   {"wide", Type::Decimal, 40, 30}, {"huge", Type::Decimal, 1000, 0},
                   {"r", Type::Single, 0, 0},     {"name", Type::None, 0, 0}};
    for (const auto& c : columns)
      if (qv::sameNoCase(n, c.name)) return {c.name, c.type, c.precision, c.scale};
    return {};
  };
  const struct {
    const char* where;
    const char* sql;
    bool whole;
  } cases[] = {
      {"I > 5 and name = 'x'", R"("i" > 5)", false},
      {"i < 5", R"(("i" < 5 OR "i" IS NULL))", true},
      {"5 < i", R"("i" > 5)", true},
      {"n = 0.1", R"("n" = 0.1)", true},
      {"n <= 0.3", R"(("n" <= 0.3 OR "n" IS NULL OR "n" = 'NaN'))", true},
      {"n in (0.1 0.2 0.3)", R"("n" IN (0.1, 0.2, 0.3))", true},
      {"n > -2.5", R"(("n" > -2.5 AND "n" <> 'NaN'))", true},
      {"d >= 1e20",
       R"((CAST("d" AS double precision) >= 1e+20 AND CAST("d" AS double precision) <> 'NaN'))", true},
      {"wide = 0.1", R"(CAST("wide" AS double precision) = 0.1)", true},
      {"huge = 1", "", false},
      {"r = 0.1", "", false},
      {"big = 9007199254740993", "", false},
      {"big >= -3", R"("big" >= -3)", true},
      {"i ne 5", R"(("i" <> 5 OR "i" IS NULL))", true},
      {"not (i > 5)", R"(("i" <= 5 OR "i" IS NULL))", true},
      {"i > 5 or n = 1", R"(("i" > 5 OR "n" = 1))", true},
      {"i > 5 or name = 'x'", "", false},
      {"i in (1, .)", R"(("i" IN (1) OR "i" IS NULL))", true},
      {"n not in (1, 2)", R"(("n" NOT IN (1, 2) OR "n" IS NULL))", true},
      {"n not in (1, .)", R"(("n" NOT IN (1) AND "n" <> 'NaN'))", true},
      {"n is missing", R"(("n" IS NULL OR "n" = 'NaN'))", true},
      {"not (i is missing or i = 2)", R"("i" IS NOT NULL AND ("i" <> 2 OR "i" IS NULL))", true},
      {"i + 1 > 5", "", false},
      {"i = .", "", false},
  };
  for (const auto& c : cases) {
    const SqlSelection s = parseWhere(c.where)->postgresCondition(column);
    EXPECT_EQ(s.sql, c.sql) << c.where;
    EXPECT_EQ(s.whole, c.whole) << c.where;
  }
}

}  // namespace
