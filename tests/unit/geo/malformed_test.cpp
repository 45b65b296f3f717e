// Malformed GeoJSON and TopoJSON: one UserError naming the file and the
// place, never a crash or another exception.
#include <gtest/gtest.h>

#include <chrono>

#include "runtime/common/error.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/geojson.h"
#include "runtime/data/topojson.h"
#include "testutil.h"

using namespace qv::rt;
using qv::rt::testing::mutate;

namespace {

std::string errorOf(const std::string& text, const std::string& object = "") {
  try {
    parseGeoData(text, "bad.json", object, VarNameRule::Strict, {});
  } catch (const UserError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("other exception: ") + e.what();
  }
  return "no error";
}

std::string fc(const std::string& geometry) {
  return R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "geometry": {"type": "Point", "coordinates": [0, 0]}},
    {"type": "Feature", "geometry": )" + geometry + "}]}";
}

std::string topo(const std::string& geometries) {
  return R"({"type": "Topology", "transform": {"scale": [1, 1], "translate": [0, 0]},
    "arcs": [[[0, 0], [1, 0]], [[1, 0], [0, 1]]],
    "objects": {"o": {"type": "GeometryCollection", "geometries": [)" + geometries + "]}}}";
}

struct Case {
  std::string text;
  std::string object;
  std::vector<std::string> expect;  // fragments of the message
};

}  // namespace

TEST(GeoMalformed, OneErrorNamingThePlace) {
  const std::string deep = std::string(300, '[') + std::string(300, ']');
  const Case cases[] = {
      // Invalid JSON: the byte, line and column.
      {"{\"type\": \"FeatureCollection\",\n \"features\": [{\"type\": \"Fea", "",
       {"bad.json, line 2, column 24", "not valid (byte 53)", "missing closing quote"}},
      {"{\"type\": \"Feature\" \"geometry\": null}", "", {"line 1, column 20", "byte 19"}},
      {"", "", {"bad.json is empty"}},
      {"  \n ", "", {"bad.json is empty"}},
      {"{\"type\": \"Feature\", \"id\": \"\xFF\"}", "", {"0xFF", "UTF-8", "column 28"}},
      {deep, "", {"nested more than 256", "byte 256"}},
      {"{\"type\": \"Point\", \"coordinates\": [1e400, 0]}", "", {"too large", "column 35"}},
      // Wrong types, with the JSON path.
      {"[1, 2]", "", {"bad.json: the file holds an array"}},
      {"{\"type\": \"FeatureCollection\"}", "", {"needs a \"features\" list"}},
      {"{\"type\": \"FeatureCollection\", \"features\": {}}", "",
       {"at features:", "must be an array, not an object"}},
      {fc("{\"type\": \"Point\", \"coordinates\": [1, \"2\"]}"), "",
       {"at features[1].geometry.coordinates[1]:", "must be a number, not a text"}},
      {fc("{\"type\": \"Point\", \"coordinates\": [1]}"), "", {"needs two numbers"}},
      {fc("{\"type\": \"Point\"}"), "", {"at features[1].geometry:", "has no \"coordinates\""}},
      {R"({"type": "FeatureCollection", "features": [{"type": "Feature", "id": [1], "geometry": null}]})",
       "", {"at features[0].id:", "text or a number"}},
      {R"({"type": "Feature", "properties": 5, "geometry": null})", "",
       {"at properties:", "must be an object"}},
      {R"({"type": "FeatureCollection", "features": [{"type": "Point", "coordinates": [0, 0]}]})",
       "", {"at features[0]:", "not a bare Point"}},
      // Rings, lines and types.
      {fc("{\"type\": \"MultiPolygon\", \"coordinates\": [[[[0,0],[1,0],[1,1],[0,0]]], [[[0,0]]]]}"),
       "", {"at features[1].geometry.coordinates[1][0]:", "1 position;"}},
      {fc("{\"type\": \"LineString\", \"coordinates\": [[0, 0]]}"), "", {"a LineString has 1"}},
      {fc("{\"type\": \"Circle\", \"coordinates\": [0, 0]}"), "",
       {"at features[1].geometry.type:", "unknown geometry type \"Circle\""}},
      {fc("{\"coordinates\": [0, 0]}"), "", {"at features[1].geometry:", "has no \"type\""}},
      {"{\"type\": \"Sphere\"}", "", {"unknown GeoJSON object type \"Sphere\""}},
      // TopoJSON: arcs, objects, transform.
      {topo(R"({"type": "Polygon", "arcs": [[0, 1]]}, {"type": "LineString", "arcs": [0, 2]})"),
       "", {"at objects.o.geometries[1].arcs[1]:", "arc index 2 is out of range", "has 2 arcs"}},
      {topo(R"({"type": "LineString", "arcs": [-3]})"), "", {"arc index -3 is out of range"}},
      {topo(R"({"type": "LineString", "arcs": [18446744073709551615]})"), "", {"out of range"}},
      {topo(R"({"type": "LineString", "arcs": [0.5]})"), "", {"must be a whole number"}},
      {topo(R"({"type": "Polygon", "arcs": [[]]})"), "",
       {"at objects.o.geometries[0].arcs[0]:", "lists no arcs"}},
      {topo(R"({"type": "Polygon", "arcs": [[0, 1]]}, {"type": "Hexagon", "arcs": []})"), "",
       {"at objects.o.geometries[1].type:", "unknown geometry type \"Hexagon\""}},
      {topo(R"({"type": "Point", "coordinates": [0, 0]})"), "towns",
       {"at objects:", "no object \"towns\" (its objects: o)"}},
      {R"({"type": "Topology", "objects": {}})", "", {"the topology has no objects"}},
      {R"({"type": "Topology", "arcs": []})", "", {"a topology needs \"objects\""}},
      {R"({"type": "Topology", "arcs": [[[0, 0], [1, "x"]]], "objects": {}})", "",
       {"at arcs[0][1][1]:", "must be a number"}},
      {R"({"type": "Topology", "arcs": [[]], "objects": {}})", "",
       {"at arcs[0]:", "no positions"}},
      {R"({"type": "Topology", "transform": {"scale": [1]}, "objects": {}})", "",
       {"at transform.scale:", "two numbers"}},
      {R"({"type": "Topology", "objects": {"o": {"type": "Polygon"}}})", "",
       {"at objects.o:", "has no \"arcs\""}},
  };
  for (const Case& c : cases) {
    std::string e = errorOf(c.text, c.object);
    EXPECT_NE(e.find("bad.json"), std::string::npos) << c.text << "\n -> " << e;
    for (const auto& want : c.expect)
      EXPECT_NE(e.find(want), std::string::npos) << c.text << "\n -> " << e << "\n lacks: " << want;
  }

  // Collections nested without end are refused, not followed.
  std::string nested = "{\"type\": \"Point\", \"coordinates\": [0, 0]}";
  for (int i = 0; i < 40; ++i)
    nested = "{\"type\": \"GeometryCollection\", \"geometries\": [" + nested + "]}";
  EXPECT_NE(errorOf(nested).find("nested more than 32"), std::string::npos);

  // A table too large for memory is refused with a clear error.
  geo::RowBuilder rows("big.topojson", 10);
  geo::JsonPath path;
  rows.startFeature(nullptr, nullptr, path);
  rows.reserve(10);
  for (int i = 0; i < 10; ++i) rows.vertex(i, i);
  try {
    rows.vertex(0, 0);
    ADD_FAILURE() << "no error past the limit";
  } catch (const UserError& e) {
    EXPECT_NE(std::string(e.what()).find("big.topojson has more than 10 vertices"),
              std::string::npos);
  }
  EXPECT_THROW(rows.reserve(1), UserError);

  // One arc of 2,000 points used 10,000 times: a 40 KB file that would
  // expand to 20 million vertices is refused quickly.
  std::string arc = "[0, 0]", refs = "0";
  for (int i = 1; i < 2000; ++i) arc += ",[1,0]";
  for (int i = 1; i < 10000; ++i) refs += ",0";
  const std::string bomb = R"({"type": "Topology", "transform": {"scale": [1, 1], "translate": [0, 0]},
    "arcs": [[)" + arc + R"(]], "objects": {"o": {"type": "MultiLineString", "arcs": [[)" + refs +
                           "]]}}}";
  const auto start = std::chrono::steady_clock::now();
  std::string e = errorOf(bomb);
  EXPECT_NE(e.find("bad.json expands to more than " + std::to_string(bomb.size() * 100) +
                   " vertices"),
            std::string::npos)
      << e;
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
}

TEST(GeoMalformed, MutatedFilesGiveUserErrorsOnly) {
  std::mt19937 rng(2024);
  const std::string alphabet = "{}[],:\"-.0123456789eE truefalsnul~\\\xC3\xA9\xFF";
  const std::string seeds[] = {
      R"({"type": "FeatureCollection", "features": [{"type": "Feature", "id": "01",
        "properties": {"name": "A", "v": 1.5}, "geometry": {"type": "MultiPolygon",
        "coordinates": [[[[0, 0], [1, 0], [1, 1], [0, 0]], [[0.2, 0.2], [0.4, 0.2], [0.4, 0.4], [0.2, 0.2]]]]}},
        {"type": "Feature", "geometry": {"type": "GeometryCollection", "geometries": [
        {"type": "Point", "coordinates": [5, 5]}, {"type": "LineString", "coordinates": [[1, 2], [3, 4]]}]}}]})",
      R"({"type": "Topology", "transform": {"scale": [0.1, 0.1], "translate": [-5, 40]},
        "arcs": [[[0, 0], [10, 0], [0, 10]], [[10, 10], [-10, -10]], [[3, 3], [1, 1], [1, -1]]],
        "objects": {"a": {"type": "GeometryCollection", "geometries": [
        {"type": "Polygon", "arcs": [[0, 1]], "id": 1, "properties": {"n": "x"}},
        {"type": "MultiLineString", "arcs": [[2], [-3, -2]], "id": "b"},
        {"type": "MultiPoint", "coordinates": [[1, 2], [3, 4]]}]}}})",
  };
  int ok = 0, failed = 0;
  for (int i = 0; i < 6000; ++i) {
    std::string in = mutate(seeds[i % 2], rng, alphabet);
    try {
      Table t = parseGeoData(in, "fuzz.json", "", VarNameRule::Strict, {});
      for (const auto& c : t.columns) {
        if (c.numeric()) {
          ASSERT_EQ(c.num.size(), t.rows);
        } else {
          ASSERT_EQ(c.offsets.size(), t.rows + 1);
          ASSERT_EQ(c.offsets.back(), c.arena.size());
        }
      }
      ++ok;
    } catch (const UserError& e) {
      ASSERT_NE(std::string(e.what()).find("fuzz.json"), std::string::npos) << e.what();
      ++failed;
    } catch (const std::exception& e) {
      ADD_FAILURE() << "input " << in << " threw " << e.what();
    }
    (void)topoJsonObjectNames(in);  // never throws
  }
  EXPECT_GT(ok, 100);
  EXPECT_GT(failed, 100);
}
