// Malformed GeoJSON and TopoJSON: one UserError naming the file and the
// place, never a crash or another exception.
#include <gtest/gtest.h>

#include "common/error.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/geojson.h"
#include "runtime/data/topojson.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;

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

std::string topo(const std::string& geometries) {
  return R"({"type": "Topology", "transform": {"scale": [1, 1], "translate": [0, 0]},
    "arcs": [[[0, 0], [1, 0]], [[1, 0], [0, 1]]],
    "objects": {"o": {"type": "GeometryCollection", "geometries": [)" + geometries + "]}}}";
}

}  // namespace

// Malformed files read through the command are the bad-input case
// runtime_geo_malformed; an object name the reader is handed but the
// topology lacks can only be asked for here.
TEST(GeoMalformed, OneErrorNamingThePlace) {
  const std::string missing =
      errorOf(topo(R"({"type": "Point", "coordinates": [0, 0]})"), "towns");
  EXPECT_NE(missing.find("bad.json, at objects: the topology has no object \"towns\" (its objects: o)"),
            std::string::npos)
      << missing;

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
  // expand to 20 million vertices is refused once it has made 100 vertices
  // per byte, the bound the message names: a fifth of the full expansion
  // at most, however loaded the machine.
  std::string arc = "[0, 0]", refs = "0";
  for (int i = 1; i < 2000; ++i) arc += ",[1,0]";
  for (int i = 1; i < 10000; ++i) refs += ",0";
  const std::string bomb = R"({"type": "Topology", "transform": {"scale": [1, 1], "translate": [0, 0]},
    "arcs": [[)" + arc + R"(]], "objects": {"o": {"type": "MultiLineString", "arcs": [[)" + refs +
                           "]]}}}";
  std::string e = errorOf(bomb);
  EXPECT_NE(e.find("bad.json expands to more than " + std::to_string(bomb.size() * 100) +
                   " vertices"),
            std::string::npos)
      << e;
  EXPECT_LT(bomb.size() * 100, 2000u * 10000u / 5);
}
