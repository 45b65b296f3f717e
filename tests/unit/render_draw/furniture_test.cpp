// Map furniture drawn by whole programs: the scale bar measured against two
// cities of the same image, the north arrow on a polar map, the graticule
// with the globe's outline on a world map, MAPEXTENT=, furniture stacked
// in one corner with the tile credits, and the rules they are laid out by.
#include <geodesic.h>
#include <gtest/gtest.h>
#include <proj.h>

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "pipeline.h"
#include "program_run.h"
#include "render/geo/ground.h"
#include "render/marks/furniture.h"

namespace qv::render {
namespace {

using qv::test::ProgramRun;

// --- Reading an SVG map -------------------------------------------------------

// The elements of the first mark of class `kind` (its <g> to the first
// </g>: marks hold no groups); "" when there is none.
std::string mark(const std::string& svg, const std::string& kind, size_t nth = 0) {
  size_t at = 0;
  for (size_t i = 0; i <= nth; ++i) {
    at = svg.find("<g class=\"" + kind + "\">", i == 0 ? 0 : at + 1);
    if (at == std::string::npos) return "";
  }
  return svg.substr(at, svg.find("</g>", at) - at);
}

// Every <path> element of `svg` (the whole tag).
std::vector<std::string> paths(const std::string& svg) {
  std::vector<std::string> out;
  for (size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1))
    out.push_back(svg.substr(at, svg.find("/>", at) - at));
  return out;
}

// The vertices of a path's d= (M, and the relative l, h, v, c the SVG
// writer uses; of a curve its end point).
std::vector<Point> vertices(const std::string& path) {
  const size_t d = path.find(" d=\"");
  const std::string text = path.substr(d + 4, path.find('"', d + 4) - d - 4);
  std::vector<Point> pts;
  Point cur;
  char command = 0;
  const char* p = text.c_str();
  auto number = [&] {
    char* end = nullptr;
    const double v = std::strtod(p, &end);
    p = end;
    return v;
  };
  while (*p) {
    if (std::isalpha(static_cast<unsigned char>(*p))) command = *p++;
    if (command == 'z' || command == 'Z') continue;
    if (*p == ' ') {
      ++p;
      continue;
    }
    switch (command) {
      case 'M': cur = {number(), 0}; cur.y = number(); break;
      case 'l': cur.x += number(); cur.y += number(); break;
      case 'h': cur.x += number(); break;
      case 'v': cur.y += number(); break;
      case 'c': {
        double x = 0, y = 0;
        for (int i = 0; i < 3; ++i) x = number(), y = number();
        cur = {cur.x + x, cur.y + y};
        break;
      }
      default: return pts;
    }
    pts.push_back(cur);
  }
  return pts;
}

Rect boundsOf(const std::vector<Point>& pts) {
  double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (const Point& p : pts) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  return {x0, y0, x1 - x0, y1 - y0};
}

Point centreOf(const Rect& r) { return {r.x + r.width / 2, r.y + r.height / 2}; }

// The centres of the markers filled with `fill` ("#ff0000").
std::vector<Point> markers(const std::string& svg, const std::string& fill) {
  std::vector<Point> out;
  for (size_t i = 0;; ++i) {
    const std::string m = mark(svg, "marker", i);
    if (m.empty()) break;
    for (const std::string& p : paths(m))
      if (p.find("fill=\"" + fill + "\"") != std::string::npos)
        out.push_back(centreOf(boundsOf(vertices(p))));
  }
  return out;
}

// The texts of the <text> elements of `svg`, with their x and y.
struct SvgText {
  std::string text;
  double x = 0, y = 0;
};
std::vector<SvgText> texts(const std::string& svg) {
  std::vector<SvgText> out;
  for (size_t at = svg.find("<text"); at != std::string::npos; at = svg.find("<text", at + 1)) {
    SvgText t;
    t.x = std::atof(svg.c_str() + svg.find(" x=\"", at) + 4);
    t.y = std::atof(svg.c_str() + svg.find(" y=\"", at) + 4);
    const size_t open = svg.find('>', at) + 1;
    t.text = svg.substr(open, svg.find("</text>", open) - open);
    out.push_back(t);
  }
  return out;
}

// The map frame: the first grey rectangle drawn.
Rect frameOf(const std::string& svg) {
  for (const std::string& p : paths(svg))
    if (p.find("stroke=\"#a0a0a0\"") != std::string::npos) return boundsOf(vertices(p));
  return {};
}

double kmBetween(LonLat a, LonLat b) {
  geod_geodesic g;
  geod_init(&g, 6378137, 1 / 298.257223563);
  double s12 = 0;
  geod_inverse(&g, a.lat, a.lon, b.lat, b.lon, &s12, nullptr, nullptr);
  return s12 / 1000;
}

const char* kCities = "name,lon,lat\nDenver,-104.9903,39.7392\nGrand Junction,-108.5506,39.0639\n";

// --- The scale bar ---------------------------------------------------------------------

TEST(ScaleBar, LengthAgreesWithTheDistanceOfTwoCitiesOnTheMap) {
  for (const char* units : {"KM", "MI"}) {
    ProgramRun run(std::string("OPTIONS OUTPUT=SVG SCALEBAR=BOTTOMLEFT GRATICULE=AUTO SCALEUNITS=") +
                       units + ";\n"
                       "PROC TAVLO MAPDATA=ex.us_states_10m_states(WHERE=(ID=8)) PLOTDATA=cities;\n"
                       "  CHOROMAP / MAPID=ID;\n"
                       "  SCATTER X=lon Y=lat / MARKERATTRS=(SYMBOL=circlefilled COLOR=red);\n"
                       "RUN;\n",
                   {{"cities.csv", kCities}});
    ASSERT_TRUE(run.wrote("tavlo.svg")) << run.log();
    EXPECT_NE(run.log().find("Albers equal-area conic"), std::string::npos) << run.log();
    const std::string svg = qv::test::readFile(run.out() + "/tavlo.svg");
    const std::string bar = mark(svg, "scalebar");
    ASSERT_FALSE(bar.empty());
    // The bar is the black outlined rectangle; its label its length.
    double barPixels = 0;
    for (const std::string& p : paths(bar))
      if (p.find("stroke=\"#000000\"") != std::string::npos)
        barPixels = boundsOf(vertices(p)).width;
    const std::vector<SvgText> label = texts(bar);
    ASSERT_EQ(label.size(), 1u);
    const double length = std::atof(label[0].text.c_str());
    const std::string unit = label[0].text.substr(label[0].text.find(' ') + 1);
    const double km = length * (unit == "mi" ? 1.609344 : unit == "m" ? 0.001 : 1);
    EXPECT_EQ(unit, std::string(units) == "MI" ? "mi" : "km");
    // A round length about a quarter of the map's width.
    const double lead = length / std::pow(10.0, std::floor(std::log10(length)));
    EXPECT_TRUE(lead == 1 || lead == 2 || lead == 5) << label[0].text;
    const Rect frame = frameOf(svg);
    EXPECT_GT(barPixels, frame.width / 10);
    EXPECT_LE(barPixels, frame.width / 4 + 1);
    // Against Denver and Grand Junction in the same image.
    const std::vector<Point> cities = markers(svg, "#ff0000");
    ASSERT_EQ(cities.size(), 2u);
    const double pixels = std::hypot(cities[0].x - cities[1].x, cities[0].y - cities[1].y);
    const double apart = kmBetween({-104.9903, 39.7392}, {-108.5506, 39.0639});
    EXPECT_NEAR((barPixels / km) / (pixels / apart), 1, 0.03)
        << label[0].text << " is " << barPixels << " px; " << apart << " km are " << pixels;
    // Meridians are labelled along the bottom of the frame.
    int meridians = 0;
    for (const SvgText& t : texts(mark(svg, "graticule", 1)))
      if (t.text.find("\u00B0W") != std::string::npos) {
        ++meridians;
        EXPECT_GT(t.y, frame.bottom() - 8) << t.text;
        EXPECT_LT(t.y, frame.bottom()) << t.text;
      }
    EXPECT_GE(meridians, 3);
  }
}

// --- A world map ------------------------------------------------------------------------

TEST(Graticule, WorldMapHasTheGlobesOutlineAndNoScaleBar) {
  const std::string step =
      "PROC TAVLO MAPDATA=ex.world_countries_50m_countries; CHOROMAP / MAPID=ID; RUN;\n";
  ProgramRun run("OPTIONS SCALEBAR=BOTTOMLEFT NORTHARROW=TOPRIGHT GRATICULE=AUTO;\n" + step +
                 "OPTIONS OUTPUT=SVG;\n" + step);
  ASSERT_TRUE(run.wrote("tavlo.png") && run.wrote("tavlo1.svg")) << run.log();
  EXPECT_NE(run.log().find("Equal Earth"), std::string::npos);
  EXPECT_NE(run.log().find("NOTE: No scale bar is drawn: the scale of the map varies"),
            std::string::npos)
      << run.log();
  EXPECT_NE(run.log().find("NOTE: No north arrow is drawn: its corner of the map lies off the "
                           "globe."),
            std::string::npos);
  const std::string svg = qv::test::readFile(run.out() + "/tavlo1.svg");
  EXPECT_EQ(svg.find("class=\"scalebar\""), std::string::npos);
  EXPECT_EQ(svg.find("class=\"northarrow\""), std::string::npos);
  // The lines beneath the regions, the outline and labels over them.
  const size_t lines = svg.find("<g class=\"graticule\">");
  const size_t labels = svg.find("<g class=\"graticule\">", lines + 1);
  ASSERT_NE(labels, std::string::npos);
  EXPECT_LT(lines, svg.find("class=\"region\""));
  EXPECT_GT(labels, svg.rfind("class=\"region\""));
  // The outline is Equal Earth's: as PROJ has it, twice as wide as high.
  const std::vector<std::string> above = paths(mark(svg, "graticule", 1));
  ASSERT_FALSE(above.empty());
  const Rect globe = boundsOf(vertices(above[0]));
  PJ* ee = proj_create(nullptr, "+proj=eqearth +lon_0=0");
  ASSERT_TRUE(ee);
  auto planar = [&](double lon, double lat) {
    return proj_trans(ee, PJ_FWD, proj_coord(proj_torad(lon), proj_torad(lat), 0, 0)).xy;
  };
  const double halfWidth = planar(180, 0).x, halfHeight = planar(0, 90).y;
  EXPECT_NEAR(globe.width / globe.height, halfWidth / halfHeight, 0.01 * halfWidth / halfHeight);
  // Meridian labels below it.
  int meridians = 0;
  for (const SvgText& t : texts(mark(svg, "graticule", 1)))
    if (t.text.find("\u00B0E") != std::string::npos || t.text.find("\u00B0W") != std::string::npos) {
      ++meridians;
      EXPECT_GT(t.y, globe.bottom()) << t.text;
    }
  EXPECT_GE(meridians, 4);
  // The South Pacific has the wall color; the frame's corners, outside the
  // globe, the graph's background.
  const Canvas img = run.image();
  const auto at = planar(-140, -40);
  const Point pacific{globe.x + globe.width / 2 + at.x / halfWidth * globe.width / 2,
                      globe.y + globe.height / 2 - at.y / halfHeight * globe.height / 2};
  proj_destroy(ee);
  const uint32_t wall = qv::test::hexOf(defaultStyle().wallColor);
  EXPECT_EQ(qv::test::rgbAt(img, pacific.x, pacific.y), wall);
  const Rect frame = frameOf(svg);
  for (Point corner : {Point{frame.x + 3, frame.y + 3}, Point{frame.right() - 3, frame.y + 3},
                       Point{frame.x + 3, frame.bottom() - 3},
                       Point{frame.right() - 3, frame.bottom() - 3}})
    EXPECT_EQ(qv::test::rgbAt(img, corner.x, corner.y), 0xFFFFFFu) << corner.x << "," << corner.y;
}

// --- The north arrow ---------------------------------------------------------------------

TEST(NorthArrow, PointsToThePoleOnAPolarMap) {
  std::string points = "lon,lat,plon,plat\n";
  for (int i = 0; i < 12; ++i)
    points += std::to_string(-180 + 30 * i) + "," + std::to_string(62 + 6 * (i % 3)) + ",,\n";
  points += "0,80,0,90\n";
  for (const char* corner : {"TOPRIGHT", "BOTTOMLEFT"}) {
    ProgramRun run(std::string("OPTIONS OUTPUT=SVG NORTHARROW=") + corner +
                       ";\n"
                       "PROC TAVLO MAPDATA=land PLOTDATA=points;\n"
                       "  CHOROMAP / MAPID=id;\n"
                       "  SCATTER X=lon Y=lat;\n"
                       "  SCATTER X=plon Y=plat / MARKERATTRS=(SYMBOL=circlefilled COLOR=red);\n"
                       "RUN;\n",
                   {{"points.csv", points},
                    {"land.csv", "id,segment,long,lat\n1,1,-60,65\n1,1,-20,65\n1,1,-20,80\n"
                                 "1,1,-60,80\n"}});
    ASSERT_TRUE(run.wrote("tavlo.svg")) << run.log();
    EXPECT_NE(run.log().find("polar"), std::string::npos) << run.log();
    const std::string svg = qv::test::readFile(run.out() + "/tavlo.svg");
    const std::vector<Point> pole = markers(svg, "#ff0000");
    ASSERT_EQ(pole.size(), 1u);
    // The arrow's black half: its tip, a corner of its base and the notch.
    const std::vector<std::string> arrow = paths(mark(svg, "northarrow"));
    ASSERT_EQ(arrow.size(), 3u);
    const std::vector<Point> half = vertices(arrow[2]);
    ASSERT_EQ(half.size(), 3u);
    const Point tip = half[0], notch = half[2];
    const double pointing = std::atan2(tip.y - notch.y, tip.x - notch.x);
    const double toPole = std::atan2(pole[0].y - notch.y, pole[0].x - notch.x);
    EXPECT_NEAR(std::remainder(pointing - toPole, 2 * M_PI), 0, 0.02) << corner;
    // In its corner.
    const Rect frame = frameOf(svg);
    const bool right = std::string(corner) == "TOPRIGHT";
    EXPECT_LT(std::fabs(notch.x - (right ? frame.right() : frame.x)), 60) << corner;
  }
}

// --- MAPEXTENT= -------------------------------------------------------------------------

TEST(MapExtent, ColoradoFillsTheFrameWithItsNeighboursCutThere) {
  ProgramRun run(
      "OPTIONS MAPEXTENT=(-109.06 36.99 -102.04 41.0);\n"
      "PROC TAVLO MAPDATA=ex.us_states_10m_states MAPRESPDATA=colorado NOAUTOLEGEND;\n"
      "  STYLEATTRS DATACOLORS=(CXFF0000);\n"
      "  CHOROMAP name / MAPID=ID ID=id;\n"
      "RUN;\n",
      {{"colorado.csv", "id,name\n8,Colorado\n"}});
  ASSERT_TRUE(run.wrote("tavlo.png")) << run.log();
  EXPECT_NE(run.log().find("chosen for MAPEXTENT=."), std::string::npos) << run.log();
  const Canvas img = run.image();
  // The frame, along the middle row and column.
  std::vector<int> columns, rows;
  for (int x = 0; x < img.width(); ++x)
    if (qv::test::rgbAt(img, x, img.height() / 3) == 0xA0A0A0) columns.push_back(x);
  for (int y = 0; y < img.height(); ++y)
    if (qv::test::rgbAt(img, img.width() / 2, y) == 0xA0A0A0) rows.push_back(y);
  ASSERT_GE(columns.size(), 2u);
  ASSERT_GE(rows.size(), 2u);
  const Rect area{columns.front() + 1.0, rows[0] + 1.0, columns.back() - columns.front() - 1.0,
                  rows[1] - rows[0] - 1.0};
  Rect red;
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (qv::test::rgbAt(img, x, y) == 0xFF0000) {
        x0 = std::min(x0, double(x)), x1 = std::max(x1, double(x));
        y0 = std::min(y0, double(y)), y1 = std::max(y1, double(y));
      }
  red = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
  EXPECT_TRUE(red.width >= 0.97 * area.width || red.height >= 0.97 * area.height)
      << red.width << " x " << red.height << " in " << area.width << " x " << area.height;
  EXPECT_GE(red.x, area.x - 1);
  EXPECT_LE(red.right(), area.right() + 1);
  // Its neighbours in the corners, up to the frame.
  const uint32_t neighbour = qv::test::hexOf(defaultStyle().missingColor);
  for (Point corner : {Point{area.x + 1, area.y + 1}, Point{area.right() - 2, area.y + 1},
                       Point{area.x + 1, area.bottom() - 2},
                       Point{area.right() - 2, area.bottom() - 2}})
    EXPECT_EQ(qv::test::rgbAt(img, corner.x, corner.y), neighbour) << corner.x << "," << corner.y;
}

// --- One corner ------------------------------------------------------------------------

TEST(Corners, ScaleBarNorthArrowAndTileCreditsStackInOneCorner) {
  qv::test::TempDir tiles;
  qv::test::writeTilesOver(tiles.path(), 0, 8, -112, 43, -99, 35);
  ProgramRun run("OPTIONS OUTPUT=SVG GRAPHWIDTH=480 GRAPHHEIGHT=360 TILEURL='file://" +
                 tiles.path() +
                 "/{z}/{x}/{y}.png' SCALEBAR=BOTTOMRIGHT NORTHARROW=BOTTOMRIGHT GRATICULE=1;\n"
                 "PROC TAVLO MAPDATA=ex.us_states_10m_states(WHERE=(ID=8));\n"
                 "  OPENSTREETMAP;\n  CHOROMAP / MAPID=ID;\nRUN;\n");
  ASSERT_TRUE(run.wrote("tavlo.svg")) << run.log();
  const std::string svg = qv::test::readFile(run.out() + "/tavlo.svg");
  ASSERT_NE(svg.find("OpenStreetMap contributors"), std::string::npos);
  // The light boxes of the credits, the bar and the arrow.
  std::vector<Rect> boxes;
  for (const std::string& p : paths(svg))
    if (p.find("fill=\"#ffffff\" fill-opacity=\".75\"") != std::string::npos)
      boxes.push_back(boundsOf(vertices(p)));
  ASSERT_EQ(boxes.size(), 3u);
  for (size_t i = 0; i < boxes.size(); ++i)
    for (size_t k = i + 1; k < boxes.size(); ++k)
      EXPECT_TRUE(boxes[i].bottom() <= boxes[k].y || boxes[k].bottom() <= boxes[i].y)
          << i << " and " << k << " overlap";
  // Stacked up from the corner: the credits, the bar, the arrow.
  EXPECT_GT(boxes[0].y, boxes[1].y);
  EXPECT_GT(boxes[1].y, boxes[2].y);
  const Rect frame = frameOf(svg);
  for (const Rect& b : boxes) EXPECT_GT(b.x, frame.x + frame.width / 2);
  // No graticule label under them.
  for (const SvgText& t : texts(mark(svg, "graticule", 1)))
    for (const Rect& b : boxes)
      EXPECT_FALSE(b.contains({t.x, t.y})) << t.text;
}

// --- The rules ---------------------------------------------------------------------------

TEST(Furniture, RoundLengthsLabelsAndPlaces) {
  EXPECT_EQ(roundLength(0.8), 0.5);
  EXPECT_EQ(roundLength(1), 1);
  EXPECT_EQ(roundLength(3.7), 2);
  EXPECT_EQ(roundLength(7), 5);
  EXPECT_EQ(roundLength(12345), 10000);
  EXPECT_EQ(scaleLabel(0.5, false), "500 m");
  EXPECT_EQ(scaleLabel(0.002, false), "2 m");
  EXPECT_EQ(scaleLabel(20, false), "20 km");
  EXPECT_EQ(scaleLabel(2000, false), "2000 km");
  EXPECT_EQ(scaleLabel(0.2, true), "0.2 mi");
  EXPECT_EQ(scaleLabel(0.05, true), "0.05 mi");
  EXPECT_EQ(degreeLabel(-105, true), "105\u00B0W");
  EXPECT_EQ(degreeLabel(190, true), "170\u00B0W");
  EXPECT_EQ(degreeLabel(-180, true), "180\u00B0");
  EXPECT_EQ(degreeLabel(0, true), "0\u00B0");
  EXPECT_EQ(degreeLabel(40.5, false), "40.5\u00B0N");
  EXPECT_EQ(degreeLabel(-0.25, false), "0.25\u00B0S");
  EXPECT_EQ(graticuleStep(360), 30);
  EXPECT_EQ(graticuleStep(9), 1);
  EXPECT_EQ(graticuleStep(0.1), 0.01);
  EXPECT_EQ(graticuleStep(5000), 90);
  // Lengths on WGS 84: a degree at the equator.
  EXPECT_NEAR(metresPerDegreeLat(0), 110574.3, 0.5);
  EXPECT_NEAR(metresPerDegreeLon(0), 111319.5, 0.5);
  EXPECT_NEAR(metresPerDegreeLon(60), 55800.0, 5);
  // A corner's blocks stack away from it past whatever is there.
  const Rect area{0, 0, 400, 300};
  const Rect first = cornerPlace(area, Corner::BottomRight, {100, 20}, 6, {});
  EXPECT_EQ(first.right(), 394);
  EXPECT_EQ(first.bottom(), 294);
  const Rect second = cornerPlace(area, Corner::BottomRight, {40, 40}, 6, {first});
  EXPECT_LE(second.bottom(), first.y);
  const Rect top = cornerPlace(area, Corner::TopLeft, {40, 40}, 6, {Rect{0, 0, 80, 30}});
  EXPECT_EQ(top.x, 6);
  EXPECT_GE(top.y, 30);
}

}  // namespace
}  // namespace qv::render
