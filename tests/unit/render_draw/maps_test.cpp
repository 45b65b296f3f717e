// Maps drawn whole and tested pixel by pixel where a color is certain, and
// map tiles under a program's regions (the program cases of tests/visual
// are run by visual_test.cpp; a tile server that cannot be reached is
// tests/warn/tiles_unreachable and tiles_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <set>
#include <tuple>

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

// --- Region outlines ----------------------------------------------------------

// The straight segments of an SVG path's data (M, l, h, v, z as the SVG
// writer writes them), each as its two ends in hundredths, the lesser end
// first, so that a segment drawn either way is one key.
using Segment = std::pair<std::pair<long, long>, std::pair<long, long>>;
std::vector<Segment> pathSegments(const std::string& d) {
  std::vector<Segment> out;
  long x = 0, y = 0, sx = 0, sy = 0;
  char cmd = 0;
  const char* p = d.c_str();
  auto number = [&p] {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    p = end;
    return std::lround(v * 100);
  };
  auto to = [&](long nx, long ny) {
    std::pair<long, long> a{x, y}, b{nx, ny};
    if (b < a) std::swap(a, b);
    out.push_back({a, b});
    x = nx;
    y = ny;
  };
  while (*p) {
    if (*p == ' ') {
      ++p;
    } else if (std::isalpha(static_cast<unsigned char>(*p))) {
      cmd = *p++;
      if (cmd == 'z') to(sx, sy);
    } else if (cmd == 'M') {
      x = sx = number();
      y = sy = number();
    } else if (cmd == 'l') {
      const long dx = number(), dy = number();
      to(x + dx, y + dy);
    } else if (cmd == 'h') {
      to(x + number(), y);
    } else if (cmd == 'v') {
      to(x, y + number());
    } else {
      ADD_FAILURE() << "unexpected path data at: " << p;
      break;
    }
  }
  return out;
}

// The segments of every <path> of `svg` whose attributes hold `attr`.
std::vector<Segment> segmentsOfPaths(const std::string& svg, const std::string& attr,
                                     size_t* last = nullptr) {
  std::vector<Segment> out;
  for (size_t at = svg.find("<path d=\""); at != std::string::npos;
       at = svg.find("<path d=\"", at + 1)) {
    const size_t end = svg.find("/>", at);
    const std::string tag = svg.substr(at, end - at);
    if (tag.find(attr) == std::string::npos) continue;
    const size_t d = at + 9;
    for (Segment& s : pathSegments(svg.substr(d, svg.find('"', d) - d))) out.push_back(s);
    if (last) *last = at;
  }
  return out;
}

// Five regions: 1, a square with a hole that region 5 fills, shares a
// border of four edges with 2 and its top edge with 4 (which has no
// response); 2 shares two edges with 3, which is two parts, one an island.
// Outlines are drawn after the fills, each border once in a look: the
// gray outlines are exactly the distinct edges of the regions with a
// response (coasts, the hole and the island kept), each drawn once; region
// 4's outline in its own red look stays whole (the border it shares with
// 1 drawn in both looks, the red one last, as before). With one look for
// both, every border of the five is drawn once.
TEST(RegionOutlines, SharedBordersOnceCoastsHolesAndPartsWhole) {
  qv::test::Pipeline p;
  p.write("m.csv",
          "id,segment,long,lat\n"
          "1,1,0,0\n1,1,0.8,0\n1,1,0.8,0.2\n1,1,0.8,0.4\n1,1,0.8,0.6\n1,1,0.8,0.8\n1,1,0,0.8\n"
          "1,2,0.2,0.2\n1,2,0.4,0.2\n1,2,0.4,0.4\n1,2,0.2,0.4\n"
          "2,1,0.8,0\n2,1,1.6,0\n2,1,1.6,0.2\n2,1,1.6,0.4\n2,1,1.6,0.8\n2,1,0.8,0.8\n2,1,0.8,0.6\n2,1,0.8,0.4\n2,1,0.8,0.2\n"
          "3,1,1.6,0\n3,1,2,0\n3,1,2,0.4\n3,1,1.6,0.4\n3,1,1.6,0.2\n"
          "3,2,2.4,0\n3,2,2.8,0\n3,2,2.8,0.4\n3,2,2.4,0.4\n"
          "4,1,0,0.8\n4,1,0.8,0.8\n4,1,0.8,1.2\n4,1,0,1.2\n"
          "5,1,0.2,0.2\n5,1,0.2,0.4\n5,1,0.4,0.4\n5,1,0.4,0.2\n");
  p.write("r.csv", "id,v\n1,1\n2,2\n3,3\n5,4\n");
  host::DataSet* map = p.open("WORK", "m");
  host::DataSet* resp = p.open("WORK", "r");
  auto layer = [](const std::string& empty) {
    return qv::test::graphTemplate(
        "", "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA "
            "mapid=id id=id colorResponse=v OutLineAttrs=(Color=CX808080 Thickness=3px) "
            "EmptyOutLineAttrs=(Color=" + empty + " Thickness=3px);endlayout;");
  };
  // The distinct edges of the fills of the regions `ids` (1-based, in the
  // order of the map data), and how many edges they have in all.
  auto fillEdges = [](const std::string& svg, std::initializer_list<int> ids, size_t* all) {
    std::set<Segment> edges;
    *all = 0;
    int region = 0;
    for (size_t at = svg.find("<g class=\"region\""); at != std::string::npos;
         at = svg.find("<g class=\"region\"", at + 1)) {
      ++region;
      if (std::find(ids.begin(), ids.end(), region) == ids.end()) continue;
      const size_t d = svg.find("<path d=\"", at) + 9;
      for (const Segment& s : pathSegments(svg.substr(d, svg.find('"', d) - d))) {
        edges.insert(s);
        ++*all;
      }
    }
    return edges;
  };
  auto distinct = [](const std::vector<Segment>& v) { return std::set<Segment>(v.begin(), v.end()); };

  p.output = "SVG";
  RenderResult r = p.draw(layer("CXFF0000"), {{"RESPONSEDATA", resp}}, map, {{"__MAPID__", "id"}});
  const std::string& svg = r.document;
  ASSERT_NE(svg.find("<svg"), std::string::npos);
  size_t grayAt = 0, redAt = 0, all = 0;
  const std::vector<Segment> gray = segmentsOfPaths(svg, "stroke=\"#808080\"", &grayAt);
  const std::vector<Segment> red = segmentsOfPaths(svg, "stroke=\"#ff0000\"", &redAt);
  const std::set<Segment> responded = fillEdges(svg, {1, 2, 3, 5}, &all);
  EXPECT_EQ(all, 33u);  // 11 + 9 + 5 + 4 + 4
  EXPECT_EQ(responded.size(), 23u);
  EXPECT_EQ(gray.size(), responded.size());
  EXPECT_EQ(distinct(gray), responded);
  size_t fourAll = 0;
  const std::set<Segment> four = fillEdges(svg, {4}, &fourAll);
  EXPECT_EQ(red.size(), 4u);
  EXPECT_EQ(distinct(red), four);
  EXPECT_GT(redAt, grayAt);
  EXPECT_GT(grayAt, svg.rfind("<g class=\"region\""));

  // The same in an image: the border of 1 and 4 is red, that of 1 and 2
  // gray, the island's coast gray.
  p.output = "";
  r = p.draw(layer("CXFF0000"), {{"RESPONSEDATA", resp}}, map, {{"__MAPID__", "id"}});
  ASSERT_TRUE(r.canvas);
  for (auto [lon, lat, rgb] : {std::tuple{0.6, 0.8, 0xFF0000u}, {0.8, 0.5, 0x808080u},
                               {2.8, 0.2, 0x808080u}, {0.4, 0.3, 0x808080u}}) {
    const Point px = r.projection.project(lon, lat);
    EXPECT_EQ(qv::test::rgbAt(*r.canvas, px.x, px.y), rgb) << lon << "," << lat;
  }

  // One look for both: every border once.
  p.output = "SVG";
  r = p.draw(layer("CX808080"), {{"RESPONSEDATA", resp}}, map, {{"__MAPID__", "id"}});
  const std::vector<Segment> once = segmentsOfPaths(r.document, "stroke=\"#808080\"");
  const std::set<Segment> every = fillEdges(r.document, {1, 2, 3, 4, 5}, &all);
  EXPECT_EQ(every.size(), 26u);
  EXPECT_EQ(once.size(), every.size());
  EXPECT_EQ(distinct(once), every);
}

// --- Region layers of their own data -------------------------------------------

// County unemployment under the state borders of a region layer of its own
// data, 2 px black: points on the borders of Colorado and Wyoming and of
// Texas and Oklahoma are black, points inside counties are not.
TEST(RegionLayers, StateBordersOverCounties) {
  qv::test::Pipeline p;
  host::DataSet* counties = p.open("EX", "us_counties_10m_counties");
  host::DataSet* resp = p.open("EX", "unemployment");
  p.regionMaps = {{"__MAP__2", p.open("EX", "us_counties_10m_states")}};
  const std::string head =
      "RangeAttrMap name=\"_clrrespmap_\";"
      "Range MIN-<0.06 / DiscreteLabel=\"low\" RangeColor=CXFFFFCC;"
      "Range 0.06-MAX / DiscreteLabel=\"high\" RangeColor=CX41B6C4;"
      "EndRangeAttrMap;RangeAttrVar attrvar=_CLRRESP_ var=rate attrmap=\"_clrrespmap_\";"
      "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA mapid=ID "
      "id=id colorResponse=_CLRRESP_ NAME=\"CHOROMAP\";"
      "mapRegionLayer mapProvider=dataset / dataID=__MAP__2 mapid=ID "
      "OutLineAttrs=( Color=CX000000 Thickness=2) name=\"states\";";
  const std::string t = qv::test::graphTemplate("", head + "endlayout;");
  RenderResult r = p.draw(t, {{"RESPONSEDATA", resp}}, counties, {{"__MAPID__", "ID"}}, 800,
                          600, "", "ALBERSUSA");
  ASSERT_TRUE(r.canvas);
  const Canvas& c = *r.canvas;
  // The darkest pixel within one pixel of a point.
  auto darkest = [&](double lon, double lat) {
    const Point px = r.projection.project(lon, lat);
    uint32_t best = 0xFFFFFF;
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        const uint32_t v = qv::test::rgbAt(c, px.x + dx, px.y + dy);
        if (((v >> 16) & 0xFF) + ((v >> 8) & 0xFF) + (v & 0xFF) <
            ((best >> 16) & 0xFF) + ((best >> 8) & 0xFF) + (best & 0xFF))
          best = v;
      }
    return best;
  };
  for (auto [lon, lat] : {std::pair{-106.5, 41.0}, {-105.0, 41.0}, {-101.5, 36.5}, {-102.5, 36.5}})
    EXPECT_EQ(darkest(lon, lat), 0x000000u) << lon << "," << lat;
  for (auto [lon, lat] : {std::pair{-105.6, 39.1}, {-107.4, 43.1}, {-99.2, 31.4}, {-97.4, 35.6}}) {
    const Point px = r.projection.project(lon, lat);
    const uint32_t v = qv::test::rgbAt(c, px.x, px.y);
    EXPECT_TRUE((v >> 16) > 0x30 && ((v >> 8) & 0xFF) > 0x30 && (v & 0xFF) > 0x30)
        << lon << "," << lat << ": " << std::hex << v;
  }
}

// A backdrop layer far larger than the map data changes neither the fit
// nor the projection: the map stays fitted to the step's map data.
TEST(RegionLayers, ABackdropLeavesTheFitToTheMapData) {
  qv::test::Pipeline p;
  p.write("m.csv", "id,long,lat\n1,0,0\n1,1,0\n1,1,1\n1,0,1\n");
  p.write("world.csv", "id,long,lat\n1,-20,-20\n1,20,-20\n1,20,20\n1,-20,20\n");
  host::DataSet* map = p.open("WORK", "m");
  const std::string region =
      "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=__MAP__ mapid=id;";
  RenderResult a = p.draw(qv::test::graphTemplate("", region + "endlayout;"), {}, map);
  p.regionMaps = {{"__MAP__2", p.open("WORK", "world")}};
  RenderResult b = p.draw(
      qv::test::graphTemplate("", region +
                                      "mapRegionLayer mapProvider=dataset / dataID=__MAP__2 "
                                      "mapid=id FillAttrs=(Color=CXFF0000 Transparency=0.5);"
                                      "endlayout;"),
      {}, map);
  ASSERT_TRUE(a.canvas && b.canvas);
  for (auto [lon, lat] : {std::pair{0.0, 0.0}, {1.0, 1.0}}) {
    const Point pa = a.projection.project(lon, lat), pb = b.projection.project(lon, lat);
    EXPECT_NEAR(pa.x, pb.x, 0.01);
    EXPECT_NEAR(pa.y, pb.y, 0.01);
  }
  // The backdrop reaches the frame's corners, half transparent.
  const uint32_t corner = qv::test::rgbAt(*b.canvas, b.mapArea.x + 2, b.mapArea.y + 2);
  EXPECT_GT(corner >> 16, ((corner >> 8) & 0xFF) + 0x40) << std::hex << corner;
}

// --- Pages of small multiples ------------------------------------------------------

// BYPANELS=4 over 26 groups: one image of 26 panels in rows of four, each
// in its frame (the columns of the first and last panel counted down the
// page), each square in the color of its class among the classes the
// panels share: a value's color is the same in every panel.
TEST(PanelPages, TwentySixGroupsOnOnePage) {
  std::string csv = "id,long,lat,grp\n";
  for (int g = 0; g < 26; ++g) {
    const std::string id = std::to_string(g + 1), grp(1, char('A' + g));
    for (auto [x, y] : {std::pair{0, 0}, {1, 0}, {1, 1}, {0, 1}})
      csv += id + "," + std::to_string(x) + "," + std::to_string(y) + "," + grp + "\n";
  }
  ProgramRun run(
      "OPTIONS BYPANELS=4 GRAPHWIDTH=240 GRAPHHEIGHT=180;\n"
      "PROC TAVLO MAPDATA=squares; BY grp;\n"
      "  CHOROMAP id / MAPID=id BREAKS=(1 14 27) COLORMODEL=(CXFF0000 CX0000FF);\n"
      "RUN;\n",
      {{"squares.csv", csv}});
  ASSERT_TRUE(run.wrote("tavlo.png")) << run.log();
  EXPECT_FALSE(run.wrote("tavlo1.png"));
  const Canvas img = run.image();
  EXPECT_EQ(img.width(), 960);
  // Runs of frame pixels down the middle of a column: two per panel.
  auto frames = [&](int x) {
    int runs = 0;
    bool in = false;
    for (int y = 0; y < img.height(); ++y) {
      const bool frame = qv::test::rgbAt(img, x, y) == 0xA0A0A0;
      runs += frame && !in;
      in = frame;
    }
    return runs / 2;
  };
  EXPECT_EQ(frames(120), 7);
  EXPECT_EQ(frames(840), 6);
  // Groups A to M (values 1 to 13) red, N to Z blue, row by row.
  long red = 0, blue = 0;
  for (int g = 0; g < 26; ++g) {
    const int x = 240 * (g % 4) + 120;
    int y = -1;
    for (int k = 0, yy = 1; yy < img.height(); ++yy)  // the g/4-th frame top in the column
      if (qv::test::rgbAt(img, x, yy) == 0xA0A0A0 && qv::test::rgbAt(img, x, yy - 1) != 0xA0A0A0 &&
          k++ == 2 * (g / 4)) {
        y = yy;
        break;
      }
    ASSERT_GE(y, 0) << g;
    const uint32_t c = qv::test::rgbAt(img, x, y + 90);
    EXPECT_EQ(c, g < 13 ? 0xFF0000u : 0x0000FFu) << char('A' + g);
    red += c == 0xFF0000;
    blue += c == 0x0000FF;
  }
  EXPECT_EQ(red, 13);
  EXPECT_EQ(blue, 13);
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
