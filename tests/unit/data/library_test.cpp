#include "runtime/data/dataset.h"
#include "runtime/data/library.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::errorOf;
using qv::rt::testing::TempDir;

namespace {

DataSetRef ref(const std::string& lib, const std::string& member) {
  DataSetRef r;
  r.library = lib;
  r.member = member;
  return r;
}

DataSetRef pathRef(const std::string& path) {
  DataSetRef r;
  r.path = path;
  return r;
}

}  // namespace

TEST(Libraries, AssignAndLookup) {
  TempDir dir;
  Libraries libs;
  libs.assign("maps", dir.str());
  ASSERT_NE(libs.lookup("MAPS"), nullptr);
  EXPECT_NE(libs.lookup("Maps"), nullptr);
  EXPECT_EQ(libs.lookup("other"), nullptr);

  std::string e = errorOf([&] { libs.assign("geo", dir.str() + "/missing"); });
  EXPECT_NE(e.find("GEO"), std::string::npos) << e;
  EXPECT_NE(e.find(dir.str() + "/missing"), std::string::npos) << e;
  std::string file = dir.write("f.csv", "a\n1\n");
  EXPECT_NE(errorOf([&] { libs.assign("geo", file); }).find("not a folder"), std::string::npos);
  EXPECT_NE(errorOf([&] { libs.assign("1bad", dir.str()); }), "");
}

TEST(Libraries, MemberResolution) {
  TempDir dir;
  dir.write("us-states-10m.topojson", "{}");
  dir.write("Sales 2020.TSV", "a\n1\n");
  dir.write("sales_2020.json", "{}");
  dir.write("rates.json", "{}");
  dir.write("rates.csv", "a\n1\n");
  dir.write("rates.schema.json", "{\"fields\": []}");
  Libraries libs;
  libs.assign("work", dir.str());

  ResolvedFile topo = libs.resolve(ref("", "US_States_10M"), dir.str());
  EXPECT_EQ(topo.library, "WORK");
  EXPECT_EQ(topo.member, "US_STATES_10M");
  EXPECT_EQ(topo.kind, FileKind::TopoJson);
  EXPECT_EQ(memberNameOf("us-states-10m"), "US_STATES_10M");

  ResolvedFile sales = libs.resolve(ref("Work", "sales_2020"), dir.str());
  EXPECT_EQ(sales.kind, FileKind::Tsv);  // .tsv comes before .json
  EXPECT_NE(sales.path.find("Sales 2020.TSV"), std::string::npos);

  ResolvedFile rates = libs.resolve(ref("", "rates"), dir.str());
  EXPECT_EQ(rates.kind, FileKind::Csv);
  // The sidecar is not a data set of its own.
  EXPECT_NE(errorOf([&] { libs.resolve(ref("", "rates_schema"), dir.str()); }), "");

  std::string e = errorOf([&] { libs.resolve(ref("work", "nothere"), dir.str()); });
  EXPECT_NE(e.find("work.nothere"), std::string::npos) << e;
  EXPECT_NE(e.find(dir.str()), std::string::npos) << e;
  e = errorOf([&] { libs.resolve(ref("nolib", "x"), dir.str()); });
  EXPECT_NE(e.find("NOLIB"), std::string::npos) << e;
}

TEST(Libraries, QuotedPaths) {
  TempDir dir;
  std::filesystem::create_directories(dir.str() + "/sub");
  dir.write("sub/my-data.csv", "a\n1\n");
  Libraries libs;
  ResolvedFile f = libs.resolve(pathRef("sub/my-data.csv"), dir.str());
  EXPECT_EQ(f.library, "WORK");
  EXPECT_EQ(f.member, "MY_DATA");
  ResolvedFile g = libs.resolve(pathRef(dir.str() + "/sub/../sub/my-data.csv"), "/nowhere");
  EXPECT_EQ(f.canonical, g.canonical);
  EXPECT_NE(errorOf([&] { libs.resolve(pathRef("sub/none.csv"), dir.str()); }).find("'sub/none.csv'"),
            std::string::npos);
  EXPECT_NE(errorOf([&] { libs.resolve(pathRef("sub"), dir.str()); }), "");
  dir.write("x.xlsx", "");
  EXPECT_NE(errorOf([&] { libs.resolve(pathRef("x.xlsx"), dir.str()); }).find("not known"),
            std::string::npos);
}

TEST(Libraries, OpeningThroughTheCache) {
  TempDir dir;
  dir.write("a.csv", "x,y\n1,u\n2,v\n");
  dir.write("shapes.geojson", "{}");
  Libraries libs;
  libs.assign("work", dir.str());
  libs.assign("other", dir.str());
  DataCache cache;
  OpenSettings s;
  s.programDir = dir.str();
  auto d1 = openDataSet(ref("", "a"), libs, cache, s, NoteFn());
  auto d2 = openDataSet(ref("other", "A"), libs, cache, s, NoteFn());
  auto d3 = openDataSet(pathRef("a.csv"), libs, cache, s, NoteFn());
  EXPECT_EQ(cache.parses(), 1);  // one file, parsed once
  EXPECT_EQ(d1->storedColumn(0), d2->storedColumn(0));  // the same table
  EXPECT_TRUE(d1->sameAs(*d2));
  EXPECT_TRUE(d1->sameAs(*d3));
  EXPECT_EQ(d2->library(), "OTHER");
  EXPECT_EQ(d2->member(), "A");
  EXPECT_EQ(d2->object(), "");
  EXPECT_EQ(d1->info(159), 0);

  // A changed file is read again.
  dir.write("a.csv", "x,y\n1,u\n2,v\n3,w\n");
  std::filesystem::last_write_time(dir.str() + "/a.csv",
                                   std::filesystem::file_time_type::clock::now() +
                                       std::chrono::seconds(5));
  auto d4 = openDataSet(ref("", "a"), libs, cache, s, NoteFn());
  EXPECT_EQ(cache.parses(), 2);
  EXPECT_EQ(d4->info(3), 3);
  // So is one whose sidecar appeared.
  dir.write("a.schema.json", R"({"fields": [{"name": "x", "title": "Ex"}]})");
  auto d5 = openDataSet(ref("", "a"), libs, cache, s, NoteFn());
  EXPECT_EQ(cache.parses(), 3);
  EXPECT_EQ(d5->desc(0).label, "Ex");

  std::string e = errorOf([&] { openDataSet(ref("", "shapes"), libs, cache, s, NoteFn()); });
  // "{}" is JSON but no GeoJSON object.
  EXPECT_NE(e.find("shapes.geojson: a GeoJSON object has no \"type\""), std::string::npos) << e;
}
