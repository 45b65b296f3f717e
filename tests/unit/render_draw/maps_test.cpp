// Maps drawn whole and tested pixel by pixel where a color is certain, and
// map tiles under a program's regions (the program cases of tests/visual
// are run by visual_test.cpp; a tile server that cannot be reached is
// tests/warn/tiles_unreachable and tiles_test.cpp).
#include <gtest/gtest.h>

#include <set>

#include "pipeline.h"
#include "program_run.h"
#include "render/graph/style.h"
#include "tile_server.h"
#include "visual.h"

namespace qv::render {
namespace {

using qv::test::ProgramRun;

// Group B comes first in the data, group A only on the second day, first
// in that day's rows. With BY groups the template binds the group to an
// attribute map that lists the values in the order first met over all the
// groups, so B keeps its color on both days.
TEST(MapPixels, GroupColorsStayTheSameInEveryByGroup) {
  qv::test::Pipeline p;
  p.write("days.csv",
          "day,kind,lon,lat\n"
          "1,B,-100,40\n1,B,-95,40\n"
          "2,A,-100,35\n2,B,-95,35\n2,B,-90,35\n");
  host::DataSet* map = p.open("EX", "us_states", "ID < 60 and ID not in (2, 15)");
  const std::string t = qv::test::graphTemplate(
      "",
      "DiscreteAttrVar attrvar=__ATTRVAR1__ var=kind attrmap=\"__ATTRMAP__\";"
      "DiscreteAttrMap name=\"__ATTRMAP__\" / autocycleattrs=1;Value \"B\";Value \"A\";"
      "EndDiscreteAttrMap;"
      "EntryTitle __BYLINE__ / textattrs=(size=GraphLabelText:fontsize);"
      "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=__MAP__ mapid=ID "
      "NAME=\"CHOROMAP\";ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off "
      "Group=__ATTRVAR1__ Markerattrs=( Symbol=SquareFilled Size=16px) name=\"kinds\";"
      "endlayout;",
      "DiscreteLegend \"kinds\";", "", "__BYLINE__");
  const Style& st = defaultStyle();
  const uint32_t b = qv::test::hexOf(graphData(st, 1).contrast);
  const uint32_t a = qv::test::hexOf(graphData(st, 2).contrast);
  for (int day : {1, 2}) {
    host::DataSet* pts = p.open("WORK", "days", "day = " + std::to_string(day));
    RenderResult r = p.draw(t, {{"PLOTDATA", pts}}, map,
                            {{"__BYLINE__", "day=" + std::to_string(day)}});
    ASSERT_TRUE(r.canvas);
    EXPECT_TRUE(r.warnings.empty());
    const double lat = day == 1 ? 40 : 35;
    const Point pb = r.projection.project(-95, lat);
    EXPECT_EQ(qv::test::rgbAt(*r.canvas, pb.x, pb.y), b) << "day " << day;
    if (day == 2) {
      const Point pa = r.projection.project(-100, lat);
      EXPECT_EQ(qv::test::rgbAt(*r.canvas, pa.x, pa.y), a);
      EXPECT_TRUE(qv::test::matchesReference(*r.canvas, "by_groups"));
    }
  }
}

// --- Pixels ---------------------------------------------------------------

// A point inside a state, far from its borders.
struct Inside {
  const char* state;
  double lon, lat;
};

TEST(MapPixels, ClassColorsMissingColorAndBackground) {
  qv::test::Pipeline p;
  host::DataSet* map = p.open("EX", "us_states", "ID < 60 and ID not in (2, 15)");
  host::DataSet* resp = p.open("EX", "population_engineers_hurricanes", "id ne 49");
  // Classes as a COLORMODEL= of five colors gives them.
  const std::string t = qv::test::graphTemplate(
      " BackgroundColor=CXFFF8E7",
      "RangeAttrMap name=\"_clrrespmap_\";"
      "Range 585501-<1700000 / DiscreteLabel=\"1\" RangeColor=CXFFFFCC;"
      "Range 1700000-<3500000 / DiscreteLabel=\"2\" RangeColor=CXA1DAB4;"
      "Range 3500000-<5800000 / DiscreteLabel=\"3\" RangeColor=CX41B6C4;"
      "Range 5800000-<8500000 / DiscreteLabel=\"4\" RangeColor=CX2C7FB8;"
      "Range 8500000-3.925e+07 / DiscreteLabel=\"5\" RangeColor=CX253494;"
      "EndRangeAttrMap;RangeAttrVar attrvar=_CLRRESP_ var=population attrmap=\"_clrrespmap_\";"
      "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA mapid=ID "
      "id=id colorResponse=_CLRRESP_ NAME=\"CHOROMAP\";endlayout;",
      "DiscreteLegend \"CHOROMAP\";");
  RenderResult r = p.draw(t, {{"RESPONSEDATA", resp}}, map, {{"__MAPID__", "ID"}});
  ASSERT_TRUE(r.canvas);
  EXPECT_TRUE(r.warnings.empty());
  const Canvas& c = *r.canvas;
  const std::vector<std::pair<Inside, uint32_t>> expected = {
      {{"Montana", -109.6, 47.0}, 0xFFFFCC},  {{"Kansas", -98.4, 38.5}, 0xA1DAB4},
      {{"Nevada", -116.9, 39.3}, 0xA1DAB4},   {{"Colorado", -105.5, 39.0}, 0x41B6C4},
      {{"Missouri", -92.5, 38.4}, 0x2C7FB8},
      // Texas is in the last class, whose bound the template rounds down.
      {{"Texas", -99.0, 31.5}, 0x253494},
      {{"Utah", -111.6, 39.3}, qv::test::hexOf(defaultStyle().missingColor)}};
  for (const auto& [in, color] : expected) {
    Point px = r.projection.project(in.lon, in.lat);
    EXPECT_EQ(qv::test::rgbAt(c, px.x, px.y), color) << in.state;
  }
  // The background fills the frame around the map.
  for (auto [x, y] : {std::pair{0, 0}, {c.width() - 1, 0}, {0, c.height() - 1},
                      {c.width() - 1, c.height() - 1}, {c.width() / 2, 2}})
    EXPECT_EQ(qv::test::rgbAt(c, x, y), 0xFFF8E7u) << x << "," << y;
  EXPECT_GT(r.mapArea.width, c.width() * 0.8);
}

// Map data without a SEGMENT column: the rows of one identifier are one
// ring, and two identifiers two regions.
TEST(MapPixels, RowsWithoutSegmentAreOneRingPerRegion) {
  qv::test::Pipeline p;
  p.write("m.csv", "id,long,lat\n1,-60,45\n1,-20,45\n1,-20,50\n1,-60,50\n"
                   "2,-60,55\n2,-20,55\n2,-40,60\n");
  const std::string t = qv::test::graphTemplate(
      "", "layout overlaymap;mapRegionLayer mapProvider=dataset / mapid=id;endlayout;");
  RenderResult r = p.draw(t, {}, p.open("WORK", "m"), {{"__MAPID__", "id"}});
  ASSERT_TRUE(r.canvas);
  const uint32_t fill = qv::test::hexOf(defaultStyle().emptyRegionFill);
  for (auto [lon, lat] : {std::pair{-40.0, 47.5}, {-40.0, 57.0}}) {
    const Point px = r.projection.project(lon, lat);
    EXPECT_EQ(qv::test::rgbAt(*r.canvas, px.x, px.y), fill) << lon << "," << lat;
  }
}

// --- Tiles ------------------------------------------------------------------

// How many pixels of the image have one of the test tiles' colors.
long tilePixels(const Canvas& c) {
  std::set<uint32_t> colors;
  for (int z = 0; z < 5; ++z)
    for (int x = 0; x < 8; ++x) colors.insert(qv::test::hexOf(qv::test::tileColor(z, x, 0)));
  long n = 0;
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) n += colors.count(c.pixelRgba(x, y) >> 8);
  return n;
}

const char* kTileProgram = R"P(
OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240 TILEURL='%URL%';
PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID in (8, 20, 31, 40, 56)));
  OPENSTREETMAP;
  CHOROMAP / MAPID=ID;
RUN;
)P";

std::string tileProgram(const std::string& url) {
  std::string p = kTileProgram;
  p.replace(p.find("%URL%"), 5, url);
  return p;
}

TEST(MapTiles, LocalFolderUnderTheRegions) {
  qv::test::TempDir tiles;
  // Test tiles of zooms 3 to 6 over the United States.
  qv::test::writeTilesOver(tiles.path(), 3, 6, -130, 55, -60, 20);
  ProgramRun run(tileProgram("file://" + tiles.path() + "/{z}/{x}/{y}.png"));
  ASSERT_TRUE(run.status() == 0 && run.wrote("tavlo.png")) << run.log();
  EXPECT_EQ(run.log().find("WARNING"), std::string::npos) << run.log();
  Canvas img = run.image();
  // Tiles around the regions, regions over the tiles.
  EXPECT_GT(tilePixels(img), 320 * 240 / 8);
  EXPECT_GT(qv::test::pixelsOf(img, qv::test::hexOf(defaultStyle().emptyRegionFill)), 320 * 240 / 8);
  EXPECT_TRUE(qv::test::matchesReference(img, "tiles_regions"));
}

// A provider that has no tiles is asked once per step, not once per BY group.
TEST(MapTiles, NotAskedAgainForLaterByGroups) {
  qv::test::TileServer server(
      [](const std::string&) { return qv::test::HttpAnswer{404, "text/plain", "none"}; });
  const std::string url = server.base() + "/{z}/{x}/{y}.png";
  const std::string regions =
      "id,segment,long,lat\n1,1,-100,40\n1,1,-99,40\n1,1,-99,41\n"
      "2,1,10,50\n2,1,11,50\n2,1,11,51\n3,1,140,-30\n3,1,141,-30\n3,1,141,-29\n";
  ProgramRun first("OPTIONS TILEURL='" + url + "';\nPROC TAVLO MAPDATA=m(WHERE=(id=1));\n"
                   "OSM; CHOROMAP / MAPID=id;\nRUN;\n",
                   {{"m.csv", regions}});
  const int one = server.requests();
  EXPECT_GT(one, 0);
  ProgramRun all("OPTIONS TILEURL='" + url + "';\nPROC TAVLO MAPDATA=m;\nBY id;\n"
                 "OSM; CHOROMAP / MAPID=id;\nRUN;\n",
                 {{"m.csv", regions}});
  EXPECT_EQ(server.requests(), 2 * one);
  EXPECT_TRUE(all.wrote("tavlo2.png")) << all.log();
  size_t warnings = 0;
  for (size_t at = 0; (at = all.log().find("WARNING: Map tiles", at)) != std::string::npos; ++at)
    ++warnings;
  EXPECT_EQ(warnings, 1u) << all.log();
}

}  // namespace
}  // namespace qv::render
