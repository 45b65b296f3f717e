// Maps that leave the middle latitudes: the projection chosen for where the
// data lie, world maps with countries across the antimeridian and around a
// pole, the United States with Alaska and Hawaii as insets, line features
// read whole, and a frame that holds every marker (data in other coordinate
// systems are the render_mapcs_* cases).
#include <gtest/gtest.h>
#include <proj.h>

#include <cmath>

#include "pipeline.h"
#include "render/geo/equal_area.h"
#include "render/geo/map_projection.h"
#include "render/graph/style.h"
#include "visual.h"

namespace qv::render {
namespace {

WrapExtent extentOf(std::initializer_list<LonLat> pts) {
  WrapExtent e;
  for (const LonLat& p : pts) e.add(p.lon, p.lat);
  return e;
}

TEST(ChooseProjection, AutoFollowsWhereTheDataLie) {
  struct Case {
    const char* what;
    WrapExtent extent;
    bool tiles;
    const char* setting;
    const char* expect;  // in the note
    bool warns;
  };
  const Case cases[] = {
      {"world", extentOf({{-180, -90}, {180, 83}}), false, "AUTO", "+proj=eqearth +lon_0=0", false},
      {"tall but narrow", extentOf({{-80, -55}, {-30, 70}}), false, "", "+proj=eqearth", false},
      // Russia crosses the antimeridian: centred in Siberia, not on 0.
      {"Russia", extentOf({{27, 41}, {180, 82}, {-180, 65}, {-169, 66}}), false, "auto",
       "+proj=aea +lat_1=47.83 +lat_2=75.17 +lat_0=61.5 +lon_0=109", false},
      {"Pacific islands", extentOf({{150, -20}, {-150, 10}}), false, "AUTO",
       "+lon_0=-180", false},
      {"Antarctica", extentOf({{-180, -90}, {-90, -65}, {0, -70}, {90, -66}, {180, -60}}), false,
       "AUTO", "+proj=laea +lat_0=-90 +lon_0=0", false},
      {"beyond 60 north", extentOf({{-30, 62}, {40, 80}}), false, "AUTO",
       "+proj=laea +lat_0=90 +lon_0=5", false},
      {"reaching the pole", extentOf({{-20, 50}, {20, 90}}), false, "AUTO",
       "+proj=laea +lat_0=90", false},
      {"about the equator", extentOf({{-80, -5}, {-35, 8}}), false, "AUTO",
       "+proj=laea +lat_0=1.5 +lon_0=-57.5", false},
      {"lower 48", extentOf({{-125, 24}, {-66, 50}}), false, "AUTO",
       "+proj=aea +lat_1=28.33 +lat_2=45.67 +lat_0=37 +lon_0=-95.5", false},
      {"tiles", extentOf({{-125, 24}, {-66, 50}}), true, "AUTO", "Web Mercator", false},
      {"tiles beside another", extentOf({{-125, 24}, {-66, 50}}), true, "EQUALEARTH",
       "Web Mercator", true},
      {"named", extentOf({{100, 0}, {140, 40}}), false, "EqualEarth",
       "Equal Earth (+proj=eqearth +lon_0=120)", false},
      {"Mercator", extentOf({{100, 0}, {140, 40}}), false, "MERCATOR", "Mercator", false},
      {"a definition", extentOf({{100, 0}, {140, 40}}), false, "EPSG:3035", "EPSG:3035", false},
      {"unknown", extentOf({{-125, 24}, {-66, 50}}), false, "+proj=nosuch", "+proj=aea", true},
  };
  for (const Case& c : cases) {
    ProjectionChoice p = chooseProjection(c.setting, c.extent, c.tiles);
    ASSERT_TRUE(p.projection) << c.what;
    EXPECT_NE(p.note.find(c.expect), std::string::npos) << c.what << ": " << p.note;
    EXPECT_EQ(!p.warnings.empty(), c.warns) << c.what;
    EXPECT_EQ(p.projection->isWebMercator(), c.tiles || std::string(c.setting) == "MERCATOR")
        << c.what;
  }
}

// The projections a map chooses itself are computed here: they must give
// PROJ's positions, to a micrometre, over the whole globe, and nothing
// where PROJ gives nothing.
TEST(ChooseProjection, OwnEqualAreaFormulasGiveProjsPositions) {
  const char* definitions[] = {
      "+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=37.5 +lon_0=-96",
      "+proj=aea +lat_1=-0.09 +lat_2=57.06 +lat_0=28.49 +lon_0=-139.98",
      "+proj=aea +lat_1=-40 +lat_2=-10 +lat_0=-25 +lon_0=135",
      "+proj=laea +lat_0=90 +lon_0=0", "+proj=laea +lat_0=-90 +lon_0=40",
      "+proj=laea +lat_0=0 +lon_0=-57.5", "+proj=laea +lat_0=52 +lon_0=10",
      "+proj=eqearth +lon_0=0", "+proj=eqearth +lon_0=150",
  };
  PJ_CONTEXT* ctx = proj_context_create();
  for (const char* def : definitions) {
    auto own = EqualArea::fromProjString(def);
    ASSERT_TRUE(own) << def;
    PJ* pj = proj_create(ctx, (std::string(def) + " +ellps=WGS84").c_str());
    ASSERT_TRUE(pj) << def;
    // The grid, with a position beyond the poles, once as a batch.
    std::vector<Point> batch;
    for (double lat = -90; lat <= 90; lat += 2.5)
      for (double lon = -180; lon <= 180; lon += 3.75) batch.push_back({lon, lat});
    batch.push_back({10, 91});
    own->forward(batch.data(), batch.size());
    EXPECT_TRUE(std::isinf(batch.back().x)) << def;
    size_t at = 0;
    for (double lat = -90; lat <= 90; lat += 2.5)
      for (double lon = -180; lon <= 180; lon += 3.75) {
        PJ_COORD c = proj_coord(proj_torad(lon), proj_torad(lat), 0, 0);
        const PJ_COORD e = proj_trans(pj, PJ_FWD, c);
        const Point p = own->forward(lon, lat);
        // A batch gives the very bits of one position at a time.
        const Point b = batch[at++];
        auto same = [](double u, double v) { return u == v || (std::isnan(u) && std::isnan(v)); };
        ASSERT_TRUE(same(b.x, p.x) && same(b.y, p.y)) << def << " " << lon << " " << lat;
        const bool projHas = std::isfinite(e.xy.x) && std::isfinite(e.xy.y);
        ASSERT_EQ(std::isfinite(p.x) && std::isfinite(p.y), projHas) << def << " " << lon << " " << lat;
        if (!projHas) continue;
        // A micrometre, or a part in 10^12 far out; at a pole a square root
        // of a rounding difference shows: a metre.
        const double far = 1e-12 * std::hypot(e.xy.x, e.xy.y);
        const double tolerance = std::fabs(lat) == 90 ? 1 : std::max(1e-6, far);
        ASSERT_NEAR(p.x, e.xy.x, tolerance) << def << " " << lon << " " << lat;
        ASSERT_NEAR(p.y, e.xy.y, tolerance) << def << " " << lon << " " << lat;
      }
    proj_destroy(pj);
  }
  proj_context_destroy(ctx);
  // Texts it does not take whole are left to PROJ.
  for (const char* other : {"+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=37.5 +lon_0=-96 +x_0=5",
                            "+proj=laea +lat_0=52 +lon_0=10 +ellps=GRS80", "+proj=merc +lon_0=0",
                            "+proj=eqearth +lon_0=abc", "EPSG:3035"})
    EXPECT_FALSE(EqualArea::fromProjString(other)) << other;
}

// --- World maps ------------------------------------------------------------------

// Countries marked 1 are drawn red, the others in the missing color.
const char* kMarkTemplate =
    "RangeAttrMap name=\"m\";Range 0.5-1.5 / RangeColor=CXFF0000;EndRangeAttrMap;"
    "RangeAttrVar attrvar=_M_ var=mark attrmap=\"m\";"
    "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA mapid=ID "
    "id=id colorResponse=_M_;endlayout;";

struct Place {
  const char* name;
  double lon, lat;
};

// Russia (Chukotka on both sides of 180), Fiji, Antarctica, the United
// Kingdom and Mali (both on both sides of Greenwich).
const Place kMarkedPlaces[] = {
    {"Chukotka west of 180", 172, 66.5}, {"Chukotka east of 180", -174.5, 66.2},
    {"Siberia", 100, 62},                {"Fiji, Viti Levu", 178.0, -17.8},
    {"Antarctica", 45, -75},             {"Antarctica, far side", -120, -80},
    {"England", -1.5, 52.8},             {"East Anglia", 0.8, 52.4},
    {"western Mali", -7.5, 13.5},        {"eastern Mali", 1.0, 17.0},
};
const Place kSea[] = {
    {"North Atlantic", -30, 40},  {"Pacific", -150, 0},   {"Tasman Sea", 160, -35},
    {"Southern Ocean", 0, -60},   {"North Pacific", -160, 45},
};
// Unmarked land where a band of a marked country would show.
const Place kOtherLand[] = {
    {"Canada", -100, 60}, {"Greenland", -40, 72}, {"United States", -100, 40},
    {"Brazil", -50, -10}, {"Australia", 135, -25},
};

// Whether a pixel has the marked color (small islands take a touch of
// their outline).
bool marked(const Canvas& c, Point px) {
  const uint32_t v = qv::test::rgbAt(c, px.x, px.y);
  return (v >> 16) > 0xE0 && ((v >> 8) & 0xFF) < 0x30 && (v & 0xFF) < 0x30;
}

void expectWorldPixels(const RenderResult& r, const std::string& what) {
  const Canvas& c = *r.canvas;
  const uint32_t wall = qv::test::hexOf(defaultStyle().wallColor);
  for (const Place& p : kMarkedPlaces) {
    const Point px = r.projection.project(p.lon, p.lat);
    ASSERT_TRUE(r.mapArea.contains(px)) << what << ": " << p.name;
    EXPECT_TRUE(marked(c, px)) << what << ": " << p.name;
  }
  for (const Place& p : kSea) {
    const Point px = r.projection.project(p.lon, p.lat);
    EXPECT_EQ(qv::test::rgbAt(c, px.x, px.y), wall) << what << ": " << p.name;
  }
  for (const Place& p : kOtherLand) {
    const Point px = r.projection.project(p.lon, p.lat);
    EXPECT_FALSE(marked(c, px)) << what << ": " << p.name;
    EXPECT_NE(qv::test::rgbAt(c, px.x, px.y), wall) << what << ": " << p.name;
  }
}

// Where the map cuts a marked country (Chukotka, Wrangel Island and Fiji
// at the antimeridian, Antarctica along the pole) its fill runs to the
// map's edge with no outline along the cut: the pixels on the edge and just
// inside it keep the red of the fill (blended with the wall, never darkened
// by the grey outline). A true coast that meets the cut darkens a few
// places; an outline along the cut would darken them all.
struct CutCheck {
  int places = 0;    // along the cut, well inside a marked country
  int darkened = 0;  // of them, with a darker pixel on or at the cut
};
CutCheck outlineAlongTheCuts(const RenderResult& r, bool pole) {
  const Canvas& c = *r.canvas;
  CutCheck out;
  auto at = [](Point p, Point d, double k) { return Point{p.x + k * d.x, p.y + k * d.y}; };
  auto from = [](Point a, Point b) { return Point{b.x - a.x, b.y - a.y}; };  // a to b
  // `edge` on the cut, `along` its direction and `in` towards the map.
  auto check = [&](Point edge, Point along, Point in) {
    const double a = std::hypot(along.x, along.y);
    if (!(a > 0)) return;
    along = {along.x / a, along.y / a};
    // Perpendicular to the cut, on the side of the map.
    Point normal{-along.y, along.x};
    if (normal.x * in.x + normal.y * in.y < 0) normal = {-normal.x, -normal.y};
    const Point deep = at(edge, normal, 4);
    if (!marked(c, deep) || !marked(c, at(deep, along, 3)) || !marked(c, at(deep, along, -3)))
      return;
    ++out.places;
    for (double k : {0.0, 0.7, 1.4}) {
      const Point p = at(edge, normal, k);
      if ((qv::test::rgbAt(c, p.x, p.y) >> 16) < 0xE8) {
        ++out.darkened;
        break;
      }
    }
  };
  for (double lat = -85; lat <= 85; lat += 0.01)
    for (double lon : {180 - 1e-7, -180 + 1e-7}) {
      const Point e = r.projection.project(lon, lat);
      check(e, from(r.projection.project(lon, lat - 0.05), r.projection.project(lon, lat + 0.05)),
            from(e, r.projection.project(lon < 0 ? -179 : 179, lat)));
    }
  if (pole)
    for (double lon = -170; lon <= 170; lon += 0.5) {
      const Point e = r.projection.project(lon, -90);
      check(e, from(e, r.projection.project(lon + 1, -90)), Point{0, -1});
    }
  return out;
}

TEST(WorldMaps, EqualEarthMercatorAndPolarKeepEveryCountryWholeAndInPlace) {
  qv::test::Pipeline p;
  p.write("marks.csv", "id,mark\n643,1\n242,1\n10,1\n826,1\n466,1\n124,0\n304,0\n840,0\n");
  host::DataSet* world = p.open("EX", "world_countries_50m_countries");
  host::DataSet* marks = p.open("WORK", "marks");
  const std::string t = qv::test::graphTemplate("", kMarkTemplate);
  struct Run {
    const char* setting;
    const char* reference;
  };
  for (const Run& run : {Run{"AUTO", "world_equal_earth"}, Run{"MERCATOR", "world_mercator"}}) {
    RenderResult r = p.draw(t, {{"RESPONSEDATA", marks}}, world, {{"__MAPID__", "ID"}}, 1600, 1000,
                            "", run.setting);
    ASSERT_TRUE(r.canvas);
    // The five features without an id are left out, with a warning.
    ASSERT_EQ(r.warnings.size(), 1u) << run.setting;
    EXPECT_NE(r.warnings[0].find("have no ID and are not drawn"), std::string::npos);
    expectWorldPixels(r, run.setting);
    // Drawn with an outline along the cuts, nearly every place is darkened
    // (1166 of 1186 in Equal Earth, 596 of 596 in Mercator); the coasts
    // that meet the cut darken about a tenth.
    const CutCheck cut = outlineAlongTheCuts(r, std::string(run.setting) == "AUTO");
    EXPECT_GT(cut.places, 500) << run.setting;
    EXPECT_LT(cut.darkened * 4, cut.places) << run.setting << ": " << cut.darkened << " of "
                                            << cut.places << " places along the cuts darkened";
    EXPECT_TRUE(qv::test::matchesReference(*r.canvas, run.reference));
  }

  // Outlines too wide for hairlines are stroked as paths, as in every other
  // output: they leave the cuts alone too.
  const std::string wide = qv::test::graphTemplate(
      "", std::string(kMarkTemplate).replace(std::string(kMarkTemplate).find("colorResponse=_M_"),
                                             17, "colorResponse=_M_ outlineattrs=(thickness=3)"));
  {
    RenderResult r = p.draw(wide, {{"RESPONSEDATA", marks}}, world, {{"__MAPID__", "ID"}}, 1600,
                            1000, "", "AUTO");
    ASSERT_TRUE(r.canvas);
    const CutCheck cut = outlineAlongTheCuts(r, true);
    EXPECT_GT(cut.places, 500);
    EXPECT_LT(cut.darkened * 4, cut.places) << cut.darkened << " of " << cut.places;
  }

  // Antarctica alone lies beyond 60 degrees south: a polar map.
  host::DataSet* south = p.open("EX", "world_countries_50m_countries", "ID = 10");
  RenderResult r = p.draw(t, {{"RESPONSEDATA", marks}}, south, {{"__MAPID__", "ID"}}, 1600, 1000);
  ASSERT_TRUE(r.canvas);
  ASSERT_EQ(r.notes.size(), 1u);
  EXPECT_NE(r.notes[0].find("+proj=laea +lat_0=-90"), std::string::npos) << r.notes[0];
  const uint32_t wall = qv::test::hexOf(defaultStyle().wallColor);
  for (const Place& in : {Place{"0 E", 0, -80}, Place{"90 E", 90, -75}, Place{"90 W", -90, -80},
                          Place{"near the pole", 150, -89}, Place{"Wilkes Land", 150, -70}}) {
    const Point px = r.projection.project(in.lon, in.lat);
    ASSERT_TRUE(r.mapArea.contains(px)) << in.name;
    EXPECT_TRUE(marked(*r.canvas, px)) << in.name;
  }
  for (const Place& out : {Place{"Weddell Sea", -40, -70}, Place{"Ross Sea", 180, -75},
                           Place{"Amundsen Sea", -110, -71}}) {
    const Point px = r.projection.project(out.lon, out.lat);
    ASSERT_TRUE(r.mapArea.contains(px)) << out.name;
    EXPECT_EQ(qv::test::rgbAt(*r.canvas, px.x, px.y), wall) << out.name;
  }
  EXPECT_TRUE(qv::test::matchesReference(*r.canvas, "world_polar_south"));

  // Islands on both sides of the antimeridian alone stay in one piece: the
  // map is centred on 180, where both sides of it meet.
  host::DataSet* pacific =
      p.open("EX", "world_countries_50m_countries", "ID in (242, 548, 776, 882)");
  RenderResult pr = p.draw(t, {{"RESPONSEDATA", marks}}, pacific, {{"__MAPID__", "ID"}}, 800, 600);
  ASSERT_TRUE(pr.canvas);
  const Point west = pr.projection.project(179.99, -17), east = pr.projection.project(-179.99, -17);
  EXPECT_LT(std::hypot(west.x - east.x, west.y - east.y), 3);
  EXPECT_TRUE(pr.mapArea.contains(west));
  EXPECT_TRUE(marked(*pr.canvas, pr.projection.project(178.0, -17.8)));  // Viti Levu
}

// --- The United States ----------------------------------------------------------

TEST(UsMaps, AlbersUsaPutsAlaskaAndHawaiiBelowTheLower48) {
  qv::test::Pipeline p;
  host::DataSet* states = p.open("EX", "us_states");  // Puerto Rico too
  const std::string t = qv::test::graphTemplate(
      "", "layout overlaymap;mapRegionLayer mapProvider=dataset / mapid=ID;endlayout;");
  RenderResult r = p.draw(t, {}, states, {{"__MAPID__", "ID"}}, 960, 600, "", "albersusa");
  ASSERT_TRUE(r.canvas);
  // The territories lie outside the three areas: left out, counted and
  // named.
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_NE(r.notes[0].find("ALBERSUSA"), std::string::npos);
  EXPECT_NE(r.notes[1].find("rows lie outside the lower 48 states, Alaska and Hawaii and are "
                            "not drawn: American Samoa ("),
            std::string::npos)
      << r.notes[1];
  EXPECT_NE(r.notes[1].find(", Puerto Rico (105), "), std::string::npos) << r.notes[1];
  auto at = [&](double lon, double lat) { return r.projection.project(lon, lat); };
  const Point washington = at(-124.5, 48), maine = at(-67, 45), texas = at(-97.4, 26);
  const Point california = at(-118, 34), anchorage = at(-150, 61.2), attu = at(173, 52.9);
  const Point interior = at(-152, 64.5);
  const Point honolulu = at(-157.9, 21.3), hilo = at(-155.1, 19.7);
  EXPECT_GT(maine.x - washington.x, 0.75 * r.mapArea.width);
  for (const Point& q : {anchorage, attu, honolulu, hilo}) {
    EXPECT_TRUE(r.mapArea.contains(q)) << q.x << "," << q.y;
    EXPECT_GT(q.y, california.y);  // below the south-western states
    EXPECT_LT(q.x, texas.x);
  }
  EXPECT_LT(anchorage.x, honolulu.x);
  EXPECT_EQ(qv::test::rgbAt(*r.canvas, interior.x, interior.y),
            qv::test::hexOf(defaultStyle().emptyRegionFill));
}

// --- Lines and the frame -----------------------------------------------------------

TEST(LineFeatures, TubeLinePiecesAreNotJoined) {
  qv::test::Pipeline p;
  host::DataSet* lines = p.open("EX", "london_tube_lines", "id = 'Metropolitan'");
  const std::string t = qv::test::graphTemplate(
      "", "layout overlaymap;SeriesPlot X=LONG Y=LAT / dataID=PLOTDATA break=true "
          "lineattrs=(color=CXFF0000 thickness=3);endlayout;");
  RenderResult r = p.draw(t, {{"PLOTDATA", lines}}, nullptr, {}, 800, 600);
  ASSERT_TRUE(r.canvas);
  // The line's pieces in pixels, as the data give them.
  std::vector<std::vector<Point>> pieces(1);
  lines->rewind();
  const int lon = lines->find("LONG"), lat = lines->find("LAT");
  ASSERT_GE(lon, 0);
  while (lines->next()) {
    const double x = lines->num(lon), y = lines->num(lat);
    if (!std::isfinite(x)) {
      if (!pieces.back().empty()) pieces.emplace_back();
      continue;
    }
    pieces.back().push_back(r.projection.project(x, y));
  }
  if (pieces.back().empty()) pieces.pop_back();
  ASSERT_GT(pieces.size(), 2u);
  // Between the end of a piece and the start of the next, where no piece
  // passes, no connector may be drawn.
  int checked = 0;
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    const Point a = pieces[i].back(), b = pieces[i + 1].front();
    const Point mid{(a.x + b.x) / 2, (a.y + b.y) / 2};
    double nearest = 1e300;
    for (const auto& piece : pieces)
      for (const Point& q : piece) nearest = std::min(nearest, std::hypot(q.x - mid.x, q.y - mid.y));
    if (nearest < 12) continue;
    ++checked;
    EXPECT_NE(qv::test::rgbAt(*r.canvas, mid.x, mid.y), 0xFF0000u) << "between pieces " << i;
  }
  EXPECT_GT(checked, 0);
}

TEST(Frame, MarkersAndLabelsAtTheEdgesStayInside) {
  qv::test::Pipeline p;
  p.write("corners.csv", "lon,lat,name\n-120,30,A long label on the west\n-70,30,East\n"
                         "-95,49,North\n-95,25,South\n");
  host::DataSet* pts = p.open("WORK", "corners");
  const std::string t = qv::test::graphTemplate(
      "", "layout overlaymap;ScatterPlot X=lon Y=lat / dataID=PLOTDATA datalabel=name "
          "markerattrs=(symbol=squarefilled size=30px color=CX0000FF);endlayout;");
  RenderResult r = p.draw(t, {{"PLOTDATA", pts}}, nullptr, {}, 500, 300);
  ASSERT_TRUE(r.canvas);
  // Every marker is drawn whole: its blue fill reaches 10 pixels from its
  // point on every side, and the point is further than that from the frame.
  for (auto [lon, lat] : {std::pair{-120.0, 30.0}, {-70, 30}, {-95, 49}, {-95, 25}}) {
    const Point c = r.projection.project(lon, lat);
    for (auto [dx, dy] : {std::pair{-10, 0}, {10, 0}, {0, -10}, {0, 10}})
      EXPECT_EQ(qv::test::rgbAt(*r.canvas, c.x + dx, c.y + dy), 0x0000FFu)
          << lon << "," << lat << " at " << c.x << "," << c.y;
    EXPECT_TRUE(r.mapArea.inflated(-14).contains(c)) << lon << "," << lat;
  }
  // The labels go to the right of their points; the one on the east stays
  // inside too: no text reaches the frame's right edge.
  const int edge = static_cast<int>(r.mapArea.right()) - 3;
  for (int y = static_cast<int>(r.mapArea.y) + 2; y < r.mapArea.bottom() - 2; ++y) {
    const uint32_t c = qv::test::rgbAt(*r.canvas, edge, y);
    EXPECT_FALSE((c >> 16) < 128 && ((c >> 8) & 0xFF) < 128 && (c & 0xFF) < 128) << "row " << y;
  }
}

}  // namespace
}  // namespace qv::render
