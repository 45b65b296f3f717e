// The visual cases of tests/visual: every folder with a program is run as
// the command runs it, and the scenes below draw with the renderer's pieces;
// each drawing is compared with its folder's reference (see visual.h;
// QORTAVLO_REBASELINE=1 rewrites them).
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "program_run.h"
#include "render/geo/geometry.h"
#include "render/paint/markers.h"
#include "render/paint/text.h"
#include "render/tiles/tiles.h"
#include "runtime/data/csv.h"
#include "support.h"
#include "visual.h"

namespace qv::render {
namespace {

// Each case folder with a prog.tav: the program runs cleanly (status 0, no
// warning) and draws its reference.
TEST(Visual, ProgramCases) {
  namespace fs = std::filesystem;
  int cases = 0;
  for (const auto& dir : fs::directory_iterator(fs::path(QV_SOURCE_DIR) / "tests" / "visual")) {
    const fs::path prog = dir.path() / "prog.tav";
    if (!fs::exists(prog)) continue;
    ++cases;
    const std::string name = dir.path().filename().string();
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& f : fs::directory_iterator(dir.path())) {
      const std::string n = f.path().filename().string();
      if (n != "prog.tav" && n != "expected.png" && n != "tolerance")
        files.emplace_back(n, qv::test::readFile(f.path().string()));
    }
    qv::test::ProgramRun run(qv::test::readFile(prog.string()), files);
    EXPECT_EQ(run.status(), 0) << name << "\n" << run.log();
    EXPECT_EQ(run.log().find("WARNING"), std::string::npos) << name << "\n" << run.log();
    ASSERT_TRUE(run.wrote("tavlo.png")) << name << "\n" << run.log();
    EXPECT_TRUE(qv::test::matchesReference(run.image(), name));
  }
  EXPECT_GE(cases, 5);
}

// The rings of one state from the example map data (one ring per SEGMENT).
std::vector<LonLatRing> stateRings(const std::string& name) {
  rt::Table t = rt::readDelimitedFile(std::string(QV_SOURCE_DIR) + "/examples/data/us_states.csv",
                                      ',', rt::VarNameRule::Strict, [](const std::string&) {});
  int cName = t.find("NAME"), cSeg = t.find("SEGMENT"), cLon = t.find("LONG"), cLat = t.find("LAT");
  EXPECT_TRUE(cName >= 0 && cSeg >= 0 && cLon >= 0 && cLat >= 0);
  std::map<double, LonLatRing> bySegment;
  for (size_t r = 0; r < t.rows; ++r) {
    if (t.columns[cName].str(r) != name) continue;
    bySegment[t.columns[cSeg].num[r]].push_back({t.columns[cLon].num[r], t.columns[cLat].num[r]});
  }
  std::vector<LonLatRing> rings;
  for (auto& [seg, ring] : bySegment) rings.push_back(std::move(ring));
  return rings;
}

Extent extentOf(const std::vector<LonLatRing>& rings) {
  Extent e;
  for (const auto& r : rings)
    for (const LonLat& p : r) e.add(p.lon, p.lat);
  return e;
}

void frame(Painter& pen, const Rect& area) {
  StateGuard g(pen);
  pen.rectangle(area.x + 0.5, area.y + 0.5, area.width - 1, area.height - 1);
  setLineStyle(pen, rgbHex(0x333333), 1, 1);
  pen.stroke();
}

TEST(Visual, RegionWithHoleClippedToThePlotArea) {
  const Style& st = defaultStyle();
  std::vector<LonLatRing> rings = stateRings("Colorado");
  ASSERT_EQ(rings.size(), 1u);
  // A hole: the outline shrunk around the middle of the state.
  Extent e = extentOf(rings);
  double cx = (e.minLon + e.maxLon) / 2, cy = (e.minLat + e.maxLat) / 2;
  LonLatRing hole;
  for (const LonLat& p : rings[0]) hole.push_back({cx + (p.lon - cx) * 0.4, cy + (p.lat - cy) * 0.4});
  rings.push_back(hole);

  Canvas c(320, 240);
  c.fill(st.background);
  Rect area{10, 10, 300, 220};
  // Fit to the eastern part only, so the west of the state is clipped.
  Extent view;
  view.add(-106.5, e.minLat);
  view.add(e.maxLon, e.maxLat);
  Projection proj = Projection::fit(view, area, 12);
  {
    StateGuard g(c.painter());
    cairo_rectangle(c.cr(), area.x, area.y, area.width, area.height);
    cairo_clip(c.cr());
    setSourceColor(c.cr(), st.wallColor);
    cairo_paint(c.cr());
    ASSERT_TRUE(regionPath(c.painter(), proj, rings, geometryFor(area, 4)));
    DataStyle d = graphData(st, 1);
    fillAndStroke(c.painter(), d.fill, st.regionOutline, 1.5);
  }
  frame(c.painter(), area);
  EXPECT_TRUE(qv::test::matchesReference(c, "region_hole"));
}

TEST(Visual, RegionOfManyPartsFillsTogether) {
  const Style& st = defaultStyle();
  std::vector<LonLatRing> rings = stateRings("Michigan");
  ASSERT_GT(rings.size(), 5u);
  Canvas c(240, 240);
  c.fill(st.background);
  Rect area{0, 0, 240, 240};
  Projection proj = Projection::fit(extentOf(rings), area, 8);
  ASSERT_TRUE(regionPath(c.painter(), proj, rings, geometryFor(area)));
  fillAndStroke(c.painter(), graphData(st, 3).fill, st.regionOutline, st.regionOutlineWidth);
  EXPECT_TRUE(qv::test::matchesReference(c, "region_parts"));
}

TEST(Visual, LinePatterns) {
  const Style& st = defaultStyle();
  Canvas c(380, 300);
  c.fill(st.background);
  Rect clip{0, 0, 360, 300};  // the zigzags run past it on the right
  FontStyle f = st.graphValueText;
  for (size_t i = 0; i < kLinePatternCodes.size(); ++i) {
    int code = kLinePatternCodes[i];
    double y = 14 + 21.5 * i;
    LabelStyle ls;
    ls.font = f;
    ls.position = TextPosition::Right;
    ls.pad = 0;
    drawLabel(c.painter(), {6, y}, std::to_string(code) + " " + linePatternName(code), ls);
    StateGuard g(c.painter());
    setLineStyle(c.painter(), graphData(st, int(i) + 1).contrast, 1, code);
    cairo_move_to(c.cr(), 165, y - 4);
    cairo_line_to(c.cr(), 235, y - 4);
    cairo_stroke(c.cr());
    Polyline zig;
    for (int k = 0; k <= 8; ++k) zig.push_back({245 + 16.0 * k, y + ((k % 2) ? -5.0 : 4.0)});
    appendPolylines(c.painter(), clipPolyline(zig, clip));
    setLineStyle(c.painter(), rgbHex(0x222222), 2.5, code);
    cairo_stroke(c.cr());
  }
  EXPECT_TRUE(qv::test::matchesReference(c, "line_patterns"));
}

TEST(Visual, MarkerSymbols) {
  const Style& st = defaultStyle();
  Canvas c(400, 250);
  c.fill(st.background);
  LabelStyle ls;
  ls.font = st.graphDataText;
  ls.font.sizePt = 6.5;
  ls.position = TextPosition::Bottom;
  ls.pad = 11;
  for (int i = 0; i < kMarkerSymbolCount; ++i) {
    Point at{40.0 + 80 * (i % 5), 22.0 + 48 * (i / 5)};
    MarkerStyle m;
    m.symbol = static_cast<MarkerSymbol>(i);
    m.size = 14;
    m.color = graphData(st, i + 1).contrast;
    m.lineWidth = 1.5;
    if (i % 4 == 3) m.outline = rgbHex(0x000000);  // some filled ones get an edge
    drawMarker(c.painter(), m, at);
    drawLabel(c.painter(), at, markerSymbolName(m.symbol), ls);
  }
  EXPECT_TRUE(qv::test::matchesReference(c, "markers"));
}

TEST(Visual, TextPositionsRotationAndBacklight) {
  const Style& st = defaultStyle();
  Canvas c(440, 240);
  c.fill(st.background);
  const TextPosition all[9] = {TextPosition::TopLeft,    TextPosition::Top,    TextPosition::TopRight,
                               TextPosition::Left,       TextPosition::Center, TextPosition::Right,
                               TextPosition::BottomLeft, TextPosition::Bottom, TextPosition::BottomRight};
  for (int i = 0; i < 9; ++i) {
    Point at{72.0 + 76 * (i % 3), 45.0 + 75 * (i / 3)};
    LabelStyle ls;
    ls.font = st.graphDataText;
    ls.position = all[i];
    drawLabel(c.painter(), at, lower(textPositionName(all[i])), ls);
    MarkerStyle dot;
    dot.symbol = MarkerSymbol::CircleFilled;
    dot.size = 4;
    dot.color = rgbHex(0xD55E00);
    drawMarker(c.painter(), dot, at);
  }
  // A dark field with rotated, backlit and split labels.
  cairo_rectangle(c.cr(), 290, 0, 150, 240);
  setSourceColor(c.cr(), rgbHex(0x1F3F5F));
  cairo_fill(c.cr());
  LabelStyle ls;
  ls.font = st.graphDataText;
  ls.font.sizePt = 10;
  ls.font.bold = true;
  ls.backlight = 1;
  drawLabel(c.painter(), {360, 40}, "Backlit", ls);
  ls.rotateDeg = 30;
  ls.font.italic = true;
  ls.backlight = 0.5;
  ls.font.color = rgbHex(0xFFFFFF);
  drawLabel(c.painter(), {360, 100}, "Rotated 30", ls);
  ls.rotateDeg = 90;
  ls.font.italic = false;
  ls.backlight = 0;
  ls.font.family = "DejaVu Serif";
  drawLabel(c.painter(), {420, 150}, "Upright", ls);
  ls.rotateDeg = 0;
  ls.font.family = "DejaVu Sans";
  ls.font.color = rgbHex(0x000000);
  ls.backlight = 0.8;
  ls.split = TextSplit{SplitPolicy::SplitAlways, "/", true, 0};
  ls.justify = Justify::Left;
  drawLabel(c.painter(), {360, 190}, "Split/into three/lines", ls);
  EXPECT_TRUE(qv::test::matchesReference(c, "text_labels"));
}

TEST(Visual, TilesFromALocalFolder) {
  qv::test::TempDir dir;
  qv::test::writeTileFolder(dir.path(), 3);
  TileProvider p = streetMapProvider("file://" + dir.path() + "/{z}/{x}/{y}.png");
  Canvas c(640, 480);
  c.fill(rgbHex(0xFFFFFF));
  Rect area{0, 0, 640, 480};
  Extent e;  // the Atlantic: a fractional zoom near 2.5, drawn with zoom 2 tiles
  e.add(-100, -20);
  e.add(40, 70);
  Projection proj = Projection::fit(e, area, 0);
  TileDrawResult r = drawTiles(c.painter(), proj, area, p, TileFetchOptions{});
  EXPECT_NEAR(proj.zoom(), 2.5, 0.1);
  EXPECT_EQ(r.zoom, 2);
  EXPECT_EQ(r.warning, "");
  EXPECT_EQ(r.drawn, 9);
  // Markers on the equator: at 90 W and 0 on tile corners, at 45 W halfway
  // along a tile's edge.
  MarkerStyle m;
  m.symbol = MarkerSymbol::Plus;
  m.size = 24;
  m.lineWidth = 3;
  m.color = rgbHex(0xFFFFFF);
  for (double lon : {-90.0, -45.0, 0.0}) drawMarker(c.painter(), m, proj.project(lon, 0));
  drawAttribution(c.painter(), area, p.attribution, defaultStyle().attributionText);
  EXPECT_TRUE(qv::test::matchesReference(c, "tiles_local"));
}

}  // namespace
}  // namespace qv::render
