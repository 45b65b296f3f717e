// GeoJSON and small TopoJSON texts: geometry kinds, segments, IDs, property
// types and names.
#include <gtest/gtest.h>

#include <cmath>

#include "common/error.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/geojson.h"
#include "runtime/data/topojson.h"

using namespace qv;
using namespace qv::rt;

namespace {

const Column& col(const Table& t, const char* name) {
  int i = t.find(name);
  if (i < 0) throw std::runtime_error(std::string("no column ") + name);
  return t.columns[static_cast<size_t>(i)];
}

std::vector<std::string> names(const Table& t) {
  std::vector<std::string> n;
  for (const auto& c : t.columns) n.push_back(c.name);
  return n;
}

// "ID SEGMENT LONG LAT" of each row, numbers with %g.
std::vector<std::string> rows(const Table& t) {
  const Column& id = col(t, "ID");
  std::vector<std::string> out;
  for (size_t r = 0; r < t.rows; ++r) {
    char buf[96];
    std::snprintf(buf, sizeof buf, " %g %g %g", col(t, "SEGMENT").number(r), col(t, "LONG").number(r),
                  col(t, "LAT").number(r));
    std::string idText = id.numeric() ? (std::isnan(id.number(r)) ? "." : std::to_string(
                                                                           static_cast<int>(id.number(r))))
                                      : std::string(id.str(r));
    out.push_back(idText + buf);
  }
  return out;
}

}  // namespace

TEST(GeoJson, GeometryKindsAndSegments) {
  const char* text = R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "id": "pt", "geometry": {"type": "Point", "coordinates": [1, 2, 99]}},
    {"type": "Feature", "id": "mp", "geometry": {"type": "MultiPoint", "coordinates": [[1, 1], [2, 2]]}},
    {"type": "Feature", "id": "ls", "geometry": {"type": "LineString", "coordinates": [[0, 0], [1.5, -2e1]]}},
    {"type": "Feature", "id": "ml", "properties": {"name": "Ouse"}, "geometry": {"type": "MultiLineString",
      "coordinates": [[[0, 0], [1, 1]], [[5, 5], [6, 6], [7, 7]]]}},
    {"type": "Feature", "id": "hole", "geometry": {"type": "Polygon", "coordinates": [
      [[0, 0], [4, 0], [4, 4], [0, 0]], [[1, 1], [2, 1], [2, 2], [1, 1]]]}},
    {"type": "Feature", "id": "mpoly", "geometry": {"type": "MultiPolygon", "coordinates": [
      [[[0, 0], [1, 0], [1, 1], [0, 0]]], [], [[[5, 5], [6, 5], [6, 6], [5, 5]]]]}},
    {"type": "Feature", "id": "none", "geometry": null, "properties": {"only": "here"}},
    {"type": "Feature", "id": "gc", "geometry": {"type": "GeometryCollection", "geometries": [
      {"type": "Point", "coordinates": [9, 9]},
      {"type": "GeometryCollection", "geometries": [{"type": "LineString", "coordinates": [[1, 2], [3, 4]]}]},
      {"type": "LineString", "coordinates": []}]}}
  ]})";
  Table t = parseGeoJson(text, "kinds.geojson", VarNameRule::Strict, {});
  EXPECT_EQ(rows(t), (std::vector<std::string>{
                         "pt 1 1 2",
                         "mp 1 1 1", "mp 2 2 2",
                         "ls 1 0 0", "ls 1 1.5 -20", "ls 1 nan nan",
                         "ml 1 0 0", "ml 1 1 1", "ml 1 nan nan",
                         "ml 2 5 5", "ml 2 6 6", "ml 2 7 7", "ml 2 nan nan",
                         "hole 1 0 0", "hole 1 4 0", "hole 1 4 4", "hole 1 0 0",
                         "hole 2 1 1", "hole 2 2 1", "hole 2 2 2", "hole 2 1 1",
                         "mpoly 1 0 0", "mpoly 1 1 0", "mpoly 1 1 1", "mpoly 1 0 0",
                         "mpoly 2 5 5", "mpoly 2 6 5", "mpoly 2 6 6", "mpoly 2 5 5",
                         "gc 1 9 9", "gc 2 1 2", "gc 2 3 4", "gc 2 nan nan"}));
  // A property seen only on a feature without rows is still a column.
  // The point's third number is its ALT; positions of two numbers have none.
  EXPECT_EQ(names(t),
            (std::vector<std::string>{"ID", "name", "only", "SEGMENT", "LONG", "LAT", "ALT"}));
  EXPECT_EQ(col(t, "ALT").num[0], 99);
  for (size_t r = 1; r < t.rows; ++r) EXPECT_TRUE(std::isnan(col(t, "ALT").number(r))) << r;
  EXPECT_TRUE(col(t, "only").numeric());
  // The row that ends a line part carries the feature's properties, so a
  // line plot grouped by one breaks there instead of starting a group.
  for (size_t r = 6; r <= 12; ++r) EXPECT_EQ(col(t, "name").str(r), "Ouse") << r;
  EXPECT_EQ(col(t, "name").str(5), "");

  // A single Feature, and a bare geometry (no ID).
  Table f = parseGeoJson(R"({"type": "Feature", "id": 7, "properties": null,
    "geometry": {"type": "Point", "coordinates": [3, 4]}})", "f.json", VarNameRule::Strict, {});
  EXPECT_EQ(rows(f), (std::vector<std::string>{"7 1 3 4"}));
  Table g = parseGeoJson(R"({"coordinates": [[1, 2], [3, 4]], "type": "LineString"})", "g.json",
                         VarNameRule::Strict, {});
  EXPECT_EQ(rows(g), (std::vector<std::string>{". 1 1 2", ". 1 3 4", ". 1 nan nan"}));
}

TEST(GeoJson, IdsAndPropertyTypes) {
  const char* text = R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "id": "01", "properties": {"fips": "01", "pop": 12.50, "mixed": 1,
      "flag": true, "tags": {"a": [1, "x"]}, "empty": null, "note": "  padded  "},
     "geometry": {"type": "Point", "coordinates": [0, 0]}},
    {"type": "Feature", "properties": {"id": 2, "fips": ".", "pop": "", "mixed": "two"},
     "geometry": {"type": "Point", "coordinates": [0, 1]}},
    {"type": "Feature", "properties": {"ID": "x3", "fips": " 3 ", "pop": -1e3, "mixed": 3},
     "geometry": {"type": "Point", "coordinates": [0, 2]}},
    {"type": "Feature", "properties": {"fips": "0x10", "mixed": 4}, "geometry": null}
  ]})";
  Table t = parseGeoJson(text, "props.geojson", VarNameRule::Strict, {});
  ASSERT_EQ(t.rows, 3u);
  EXPECT_EQ(names(t), (std::vector<std::string>{"ID", "fips", "pop", "mixed", "flag", "tags",
                                                 "empty", "note", "id2", "ID3", "SEGMENT", "LONG",
                                                 "LAT"}));
  // ID: the feature's id, else the id property, else the ID property.
  const Column& id = col(t, "ID");
  ASSERT_FALSE(id.numeric());
  EXPECT_EQ(id.str(0), "01");
  EXPECT_EQ(id.str(1), "2");
  EXPECT_EQ(id.str(2), "x3");
  // Numeric when every value present reads as a number, texts included;
  // the feature without rows does not count ("0x10").
  const Column& fips = col(t, "fips");
  ASSERT_TRUE(fips.numeric());
  EXPECT_EQ(fips.number(0), 1);
  EXPECT_TRUE(std::isnan(fips.number(1)));
  EXPECT_EQ(fips.number(2), 3);
  const Column& pop = col(t, "pop");
  ASSERT_TRUE(pop.numeric());
  EXPECT_EQ(pop.number(0), 12.5);
  EXPECT_TRUE(std::isnan(pop.number(1)));
  EXPECT_EQ(pop.number(2), -1000);
  const Column& mixed = col(t, "mixed");
  ASSERT_FALSE(mixed.numeric());
  EXPECT_EQ(mixed.str(0), "1");
  EXPECT_EQ(mixed.str(1), "two");
  EXPECT_EQ(mixed.width, 3);
  EXPECT_EQ(col(t, "flag").str(0), "true");
  EXPECT_EQ(col(t, "flag").str(1), "");
  EXPECT_EQ(col(t, "tags").str(0), R"({"a":[1,"x"]})");
  EXPECT_TRUE(col(t, "empty").numeric());
  EXPECT_EQ(col(t, "note").str(0), "  padded");

  // Texts throughout with numbers as written: "01" and 1 read alike.
  Table same = parseGeoJson(R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "id": "01", "geometry": {"type": "Point", "coordinates": [0, 0]}},
    {"type": "Feature", "id": 2.0, "geometry": {"type": "Point", "coordinates": [0, 0]}}]})",
                            "n.geojson", VarNameRule::Strict, {});
  ASSERT_TRUE(col(same, "ID").numeric());
  EXPECT_EQ(col(same, "ID").num, (std::vector<double>{1, 2}));
}

TEST(GeoJson, PropertyNames) {
  const char* text = R"({"type": "Feature", "id": "a",
    "properties": {"id": "a", "long": 1, "Name Here": "x", "": 2,
      "a_very_long_property_name_that_goes_on_and_on": 3},
    "geometry": {"type": "Point", "coordinates": [5, 6]}})";
  std::vector<std::string> notes;
  NoteFn note = [&](const std::string& s) { notes.push_back(s); };
  // The id property only repeats ID: it is not a column of its own.
  Table t = parseGeoJson(text, "n.geojson", VarNameRule::Strict, note);
  EXPECT_EQ(names(t), (std::vector<std::string>{"ID", "long2", "Name_Here", "VAR7",
                                                 "a_very_long_property_name_that_g", "SEGMENT",
                                                 "LONG", "LAT"}));
  EXPECT_EQ(col(t, "LONG").num[0], 5);
  EXPECT_EQ(col(t, "long2").num[0], 1);
  ASSERT_EQ(notes.size(), 4u);
  EXPECT_EQ(notes[0], "Property name 'long' in n.geojson is the name of another variable; it is read as long2.");
  EXPECT_EQ(notes[1], "Property name 'Name Here' in n.geojson is not a valid name; it is read as Name_Here.");
  EXPECT_EQ(notes[2], "A property of n.geojson has no name; it is read as VAR7.");

  notes.clear();
  Table any = parseGeoJson(text, "n.geojson", VarNameRule::Any, note);
  EXPECT_EQ(any.columns[2].name, "Name Here");
  EXPECT_NE(notes.back().find("longer than 32 bytes"), std::string::npos);
}

TEST(TopoJson, DecodingRules) {
  // Quantized: delta-encoded arcs, scale 0.5 and translate 10/20; index -3
  // is arc 2 reversed; a ring of 3 positions padded to 4; a Point not
  // delta-encoded; a nested collection is one feature.
  const char* text = R"({"type": "Topology",
    "transform": {"scale": [0.5, 0.5], "translate": [10, 20]},
    "arcs": [[[0, 0], [2, 0], [0, 2]], [[2, 2], [-2, -2]], [[4, 4], [2, 0]]],
    "objects": {
      "first": {"type": "GeometryCollection", "geometries": [
        {"type": "Polygon", "arcs": [[0, 1]], "id": "tri"},
        {"type": "LineString", "arcs": [-3], "properties": {"k": 1}},
        {"type": "Polygon", "arcs": [[2]], "id": "flat"},
        {"type": "Point", "coordinates": [2, 4], "id": "pt"},
        {"type": null, "id": "nothing"},
        {"type": "GeometryCollection", "id": "nest", "geometries": [
          {"type": "MultiPoint", "coordinates": [[0, 0], [1, 1]]},
          {"type": "MultiLineString", "arcs": [[0], [-3]]}]}]},
      "second": {"type": "Point", "coordinates": [0, 0]}}})";
  const std::string fixed = text;
  Table t = parseTopoJson(fixed, "t.topojson", "", VarNameRule::Strict, {});
  EXPECT_EQ(rows(t), (std::vector<std::string>{
                         "tri 1 10 20", "tri 1 11 20", "tri 1 11 21", "tri 1 10 20",
                         " 1 13 22", " 1 12 22", " 1 nan nan",
                         "flat 1 12 22", "flat 1 13 22", "flat 1 12 22", "flat 1 12 22",
                         "pt 1 11 22",
                         "nest 1 10 20", "nest 2 10.5 20.5",
                         "nest 3 10 20", "nest 3 11 20", "nest 3 11 21",
                         "nest 3 nan nan", "nest 4 13 22", "nest 4 12 22", "nest 4 nan nan"}));
  EXPECT_EQ(names(t), (std::vector<std::string>{"ID", "k", "SEGMENT", "LONG", "LAT"}));
  EXPECT_EQ(topoJsonObjectNames(fixed), (std::vector<std::string>{"first", "second"}));
  Table second = parseTopoJson(fixed, "t.topojson", "Second", VarNameRule::Strict, {});
  EXPECT_EQ(rows(second), (std::vector<std::string>{". 1 10 20"}));
  EXPECT_TRUE(topoJsonObjectNames(R"({"type": "FeatureCollection", "features": []})").empty());
  // GeoJSON and TopoJSON are told apart by their "type".
  EXPECT_EQ(parseGeoData(fixed, "t.json", "second", VarNameRule::Strict, {}).rows, 1u);

  // Without a transform, positions are absolute and kept as written.
  Table raw = parseTopoJson(R"({"type": "Topology", "objects": {"o": {"type": "LineString",
    "arcs": [0]}}, "arcs": [[[0.1234567891, 1], [2, 3]]]})", "r.topojson", "", VarNameRule::Strict, {});
  EXPECT_EQ(col(raw, "LONG").num[0], 0.1234567891);
  EXPECT_EQ(col(raw, "LONG").num[1], 2);

  // A fine quantization keeps more decimals than 6.
  Table fine = parseTopoJson(R"({"type": "Topology", "transform": {"scale": [1e-8, 1e-8],
    "translate": [0, 0]}, "objects": {"o": {"type": "Point", "coordinates": [123456789, 1]}}})",
                             "f.topojson", "", VarNameRule::Strict, {});
  EXPECT_DOUBLE_EQ(col(fine, "LONG").num[0], 1.23456789);
  EXPECT_DOUBLE_EQ(col(fine, "LAT").num[0], 1e-8);
}

// A collection of many features is read a batch of features at a time:
// every row keeps its own feature's values and segment across the batches,
// and a fault in a later batch is named at its place in the file.
TEST(GeoJson, LargeCollectionsReadInBatches) {
  constexpr int kFeatures = 3000, kRing = 40;
  auto collection = [&](int broken) {
    std::string text = R"({"type": "FeatureCollection", "bbox": [0, 0, 1, 1], "features": [)";
    for (int f = 0; f < kFeatures; ++f) {
      const std::string n = std::to_string(f);
      text += std::string(f ? ",\n" : "") + R"({"type": "Feature", "properties": {"n": )" + n +
              R"(, "name": "f)" + n + R"("}, "geometry": {"type": "MultiPolygon", "coordinates": [)";
      for (int part = 0; part < 2; ++part) {
        text += part ? ",[[" : "[[";
        const int positions = f == broken ? 3 : kRing;
        for (int i = 0; i < positions; ++i)
          text += (i ? ",[" : "[") + n + "," + std::to_string(i + 1 < kRing ? i : 0) + "]";
        text += "]]";
      }
      text += "]}}";
    }
    return text + "]}";
  };
  const std::string text = collection(-1);
  ASSERT_GT(text.size(), size_t{2} << 20);  // more than two batches
  Table t = parseGeoJson(text, "big.geojson", VarNameRule::Strict, {});
  ASSERT_EQ(t.rows, size_t{kFeatures} * 2 * kRing);
  const Column &n = col(t, "n"), &name = col(t, "name"), &seg = col(t, "SEGMENT");
  const Column &lon = col(t, "LONG"), &lat = col(t, "LAT"), &id = col(t, "ID");
  size_t wrong = 0;
  for (size_t r = 0; r < t.rows; ++r) {
    const size_t f = r / (2 * kRing), i = r % kRing;
    const bool right = n.number(r) == double(f) && name.str(r) == "f" + std::to_string(f) &&
                       seg.number(r) == double(r % (2 * kRing) / kRing + 1) &&
                       lon.number(r) == double(f) && lat.number(r) == double(i + 1 < kRing ? i : 0) &&
                       std::isnan(id.number(r));
    if (!right && wrong++ < 3) ADD_FAILURE() << "row " << r;
  }
  EXPECT_EQ(wrong, 0u);

  try {
    parseGeoJson(collection(2500), "big.geojson", VarNameRule::Strict, {});
    ADD_FAILURE() << "a ring of 3 positions was read";
  } catch (const UserError& e) {
    EXPECT_EQ(std::string(e.what()),
              "big.geojson, at features[2500].geometry.coordinates[0][0]: a polygon ring has 3 "
              "positions; it needs at least 4.");
  }
}
