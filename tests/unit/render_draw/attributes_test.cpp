// The renderer's reading of the template: colors, group values through
// attribute maps, color responses through range maps, dynamic texts; the
// hairline rasterizer; and drawing that goes on when the data lack what a
// layer names.
#include <gtest/gtest.h>

#include <cmath>

#include "common/error.h"
#include "pipeline.h"
#include "render/marks/draw.h"
#include "render/paint/raster.h"

namespace qv::render {
namespace {

std::unique_ptr<GraphModel> compile(const std::string& text) {
  CompileResult r = compileTemplate(text);
  EXPECT_TRUE(r.model) << r.error;
  return std::move(r.model);
}

uint32_t hex(const Rgba& c) { return qv::test::hexOf(c); }

// Colors from texts, names and hex; dynamic text escapes decoded, broken
// ones kept as written.
TEST(Colors, TextsAndEscapes) {
  const std::pair<const char*, uint32_t> colors[] = {
      {"CXff8000", 0xFF8000}, {" #00a0FF ", 0x00A0FF}, {"Dark Slate Grey", 0x2F4F4F}};
  Rgba c;
  for (const auto& [text, want] : colors) {
    ASSERT_TRUE(colorFromText(text, c)) << text;
    EXPECT_EQ(hex(c), want) << text;
  }
  for (const char* bad : {"", "CX12345", "#12345G", "blurple", "CXGGGGGG"})
    EXPECT_FALSE(colorFromText(bad, c)) << bad;

  EXPECT_EQ(decodeTextEscapes("50(*ESC*){unicode '0025'x} (*ESC*){unicode '0022'x}x"), "50% \"x");
  EXPECT_EQ(decodeTextEscapes("caf(*ESC*){unicode '00e9'x}"), "caf\xC3\xA9");
  for (const char* kept : {"(*ESC*){unicode '00zz'x}", "(*ESC*){unicode '0041'", "(*ESC*)"})
    EXPECT_EQ(decodeTextEscapes(kept), kept);
}

// A model and data for the attribute tests: one range map, one discrete map.
class Attributes : public ::testing::Test {
 protected:
  void SetUp() override {
    model = compile(
        "define statgraph tavlo;begingraph /;"
        "RangeAttrVar attrvar=R_V var=v attrmap=\"__RATTRMAP__R\";"
        "RangeAttrMap name=\"__RATTRMAP__R\";"
        "Range min-<10 / rangeColor=red;"
        "Range 10-20 / rangecolormodel=(CX000000 CXFFFFFF );"
        "Range 20<-max / RangeAltColor=blue;"
        "Range Missing / RangeColor=CX00FF00;"
        "EndRangeAttrMap;"
        "RangeAttrVar attrvar=_CLRRESP_ var=v attrmap=\"_clrrespmap_\";"
        "RangeAttrMap name=\"_clrrespmap_\";Range 0-<5 / RangeColor=CX111111;"
        "Range 5-1234567.4 / RangeColor=CX222222;EndRangeAttrMap;"
        "DiscreteAttrVar attrvar=D_K var=k attrmap=\"__ATTRMAP__D\";"
        "DiscreteAttrMap name=\"__ATTRMAP__D\" / ignoreCase=true;"
        "Value \"east\" / markerattrs=( color=CXFF0000);"
        "Value \"2\" / fillattrs=( color=CX00FF00);"
        "Value Other / fillattrs=( color=CX0000FF);"
        "EndDiscreteAttrMap;"
        "layout overlaymap;endlayout;endgraph;end;");
    ASSERT_TRUE(model);
    data.numbers("v", {2, 10, 15, 20, 25, NAN, 1234567.4})
        .texts("k", {"EAST", "west", "", "East", "north", "west", "2"})
        .numbers("n", {2, 2.0, 3, NAN, 1, 3, 2});
    req.data = {&data};
  }

  std::unique_ptr<GraphModel> model;
  qv::render::MemoryTable data{"PLOTDATA"};
  RenderRequest req;
  Layer layer;
};

TEST_F(Attributes, RangeMapBoundsKeywordsModelsAndMissing) {
  Env env(*model, req);
  ColorResponse c;
  std::string problem;
  ASSERT_TRUE(c.init(env, layer, "R_V", &data, &problem)) << problem;
  ASSERT_TRUE(c.ranged());
  EXPECT_EQ(hex(c.rowColor(0)), 0xFF0000u);  // min-<10
  EXPECT_EQ(hex(c.rowColor(1)), 0x000000u);  // 10: the bottom of the 10-20 model
  EXPECT_EQ(hex(c.rowColor(2)), 0x808080u);  // 15: its middle
  EXPECT_EQ(hex(c.rowColor(3)), 0xFFFFFFu);  // 20 is in the closed 10-20
  EXPECT_EQ(hex(c.rowColor(4)), 0x0000FFu);  // 20<-max by its alternate color
  EXPECT_EQ(hex(c.rowColor(5)), 0x00FF00u);  // missing
  EXPECT_EQ(hex(c.rowColor(6)), 0x0000FFu);  // the maximum itself
  std::vector<RangeClass> classes = c.classes();
  ASSERT_EQ(classes.size(), 4u);
  EXPECT_EQ(classes[0].label, "2 - 10");
  EXPECT_EQ(classes[2].label, "20 - 1234567.4");
  EXPECT_EQ(classes[3].label, "Missing");

  EXPECT_EQ(c.classOf(15), 1);
  EXPECT_EQ(c.classOf(NAN), 3);  // the Missing range

  // The classified response: bounds are taken exactly as written, with
  // nothing let in around them.
  ColorResponse k;
  ASSERT_TRUE(k.init(env, layer, "_CLRRESP_", &data, &problem));
  EXPECT_EQ(hex(k.rowColor(6)), 0x222222u);  // the maximum, on the closed end
  EXPECT_EQ(k.classOf(1234567.4), 1);
  EXPECT_EQ(k.classOf(std::nextafter(1234567.4, 2e6)), -1);
  EXPECT_EQ(hex(k.color(1234567.41)), hex(defaultStyle().missingColor));
  EXPECT_EQ(k.classOf(std::nextafter(5.0, 0.0)), 0);
  EXPECT_EQ(k.classOf(5), 1);  // the half-open first range stops below 5
  EXPECT_EQ(k.classOf(0), 0);
  EXPECT_EQ(k.classOf(-1e-300), -1);
  EXPECT_EQ(k.classOf(NAN), -1);  // no Missing range

  // A continuous response over the three-color ramp, and a character one.
  ColorResponse r;
  ASSERT_TRUE(r.init(env, layer, "n", &data, &problem));
  EXPECT_FALSE(r.ranged());
  EXPECT_EQ(hex(r.color(1)), hex(defaultStyle().threeColorRamp.front()));
  EXPECT_EQ(hex(r.color(3)), hex(defaultStyle().threeColorRamp.back()));
  EXPECT_FALSE(r.init(env, layer, "k", &data, &problem));
  EXPECT_NE(problem.find("k is not numeric"), std::string::npos);
}

TEST_F(Attributes, GroupsThroughADiscreteMapAndWithout) {
  Env env(*model, req);
  Grouping g;
  std::string problem;
  ASSERT_TRUE(g.init(env, "D_K", &data, false, &problem)) << problem;
  // Map values first (case ignored, "2" matched as text), then the rest,
  // which take the map's Other entry.
  ASSERT_EQ(g.entries().size(), 4u);
  EXPECT_EQ(g.entries()[0].label, "east");
  EXPECT_EQ(g.group(0), 0);
  EXPECT_EQ(g.group(3), 0);
  EXPECT_EQ(g.group(6), 1);
  EXPECT_EQ(g.group(2), -1);  // missing, and missing groups are left out
  EXPECT_EQ(g.entries()[2].label, "west");
  ASSERT_TRUE(g.entries()[2].attrs);
  EXPECT_TRUE(g.entries()[2].attrs->other);
  EXPECT_EQ(g.legendOrder(), (std::vector<int>{0, 1, 2, 3}));

  // A numeric group without a map: values in the order met, 2 and 2.0 one.
  Grouping n;
  ASSERT_TRUE(n.init(env, "n", &data, true, &problem));
  ASSERT_EQ(n.entries().size(), 4u);
  EXPECT_EQ(n.entries()[0].label, "2");
  EXPECT_EQ(n.entries()[2].label, ".");
  EXPECT_EQ(n.group(1), 0);
  EXPECT_EQ(n.entries()[3].graphData, 4);
  EXPECT_FALSE(n.init(env, "nosuch", &data, true, &problem));
  EXPECT_NE(problem.find("nosuch is not in the data PLOTDATA"), std::string::npos);
}

TEST(Hairlines, CoverPixelsOnceAlongLinesAndAtCorners) {
  Canvas c(20, 20);
  c.fill(rgbHex(0xFFFFFF));
  {
    PixelTarget t(c, Rect{0, 0, 20, 20});
    // A square through pixel centers, drawn in half-transparent black.
    Ring square = {{3.5, 3.5}, {15.5, 3.5}, {15.5, 15.5}, {3.5, 15.5}};
    drawHairlines(t, {square}, true, rgbHex(0x000000, 0.5), 1);
    // An open line across the bottom.
    Ring line = {{0, 18.5}, {20, 18.5}};
    drawHairlines(t, {line}, false, rgbHex(0x000000), 1);
  }
  // Edges and corners alike: every pixel of the outline blended once.
  for (auto [x, y] : {std::pair{3, 3}, {9, 3}, {15, 3}, {15, 9}, {15, 15}, {3, 15}, {3, 9}})
    EXPECT_EQ(qv::test::rgbAt(c, x, y), 0x7F7F7Fu) << x << "," << y;
  EXPECT_EQ(qv::test::rgbAt(c, 9, 9), 0xFFFFFFu);
  EXPECT_EQ(qv::test::rgbAt(c, 0, 18), 0x000000u);
  EXPECT_EQ(qv::test::rgbAt(c, 19, 18), 0x000000u);
  EXPECT_EQ(qv::test::rgbAt(c, 10, 17), 0xFFFFFFu);
}

TEST(Drawing, GoesOnWhenTheDataLackWhatALayerNames) {
  qv::test::Pipeline p;
  p.write("pts.csv", "lon,lat,name,kind\n-100,40,a,x\n-90,35,b,y\n");
  host::DataSet* pts = p.open("WORK", "pts");
  host::DataSet* map = p.open("EX", "us_states", "ID in (20, 29)");
  const std::string t = qv::test::graphTemplate(
      " opaque=false",
      "layout overlaymap;"
      "mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA mapid=ID id=id "
      "colorResponse=pop NAME=\"CHOROMAP\";"
      "ScatterPlot X=lon Y=latitude / dataID=PLOTDATA subpixel=off NAME=\"SCATTER\";"
      "TextPlot X=lon Y=lat text=label / dataID=PLOTDATA NAME=\"TEXT\";"
      "BubblePlot X=lon Y=lat SIZE=name / dataID=PLOTDATA NAME=\"BUBBLE\";"
      "SeriesPlot X=lon Y=lat / dataID=PLOTDATA Group=nosuch NAME=\"SERIES\";"
      "ContinuousLegend \"SCATTER\" / Location=Outside valign=bottom;"
      "endlayout;",
      "DiscreteLegend \"CHOROMAP\" \"SERIES\";");
  RenderResult r = p.draw(t, {{"PLOTDATA", pts}}, map, {}, 320, 240);
  ASSERT_TRUE(r.canvas);
  const std::vector<std::string> expected = {
      "The regions of CHOROMAP are drawn without their response: the data RESPONSEDATA was not "
      "handed to the renderer.",
      "The plot SCATTER is not drawn: its Y column latitude is not in the data WORK.PTS.",
      "The plot TEXT is not drawn: its text column label is not in the data WORK.PTS.",
      "The plot BUBBLE is not drawn: its SIZE column name is not a numeric column of WORK.PTS.",
      "The plot SERIES is drawn without its groups: its group column nosuch is not in the data "
      "WORK.PTS."};  // the gradient legend of SCATTER goes with its plot, which said why
  EXPECT_EQ(r.warnings, expected);
  // opaque=false: the image is transparent around the map.
  EXPECT_EQ(r.canvas->pixelRgba(1, 1), 0u);
  EXPECT_NE(r.canvas->pixelRgba(160, 120), 0u);

  // No map data for a region layer; an image size that cannot be made.
  RenderRequest bare;
  auto model = compile(qv::test::graphTemplate(
      "", "layout overlaymap;mapRegionLayer mapProvider=dataset / dataID=__MAP__ mapid=ID "
          "NAME=\"CHOROMAP\";endlayout;"));
  RenderResult none = renderGraph(*model, bare);
  ASSERT_EQ(none.warnings.size(), 1u);
  EXPECT_NE(none.warnings[0].find("no map data"), std::string::npos);
  bare.options.setNumber(qv::GlobalOpt::GraphWidth, 0);
  EXPECT_THROW(renderGraph(*model, bare), qv::UserError);
}

TEST(Drawing, PlotDataInWebMercatorMeters) {
  qv::test::Pipeline p;
  // The same two points in degrees and in web mercator meters.
  p.write("deg.csv", "x,y\n-100,40\n-90,30\n");
  p.write("m.csv",
          "x,y\n-11131949.08,4865942.28\n-10018754.17,3503549.84\n");
  const std::string t = qv::test::graphTemplate(
      "", "layout overlaymap;ScatterPlot X=x Y=y / dataID=PLOTDATA subpixel=off "
          "Markerattrs=( Symbol=SquareFilled Size=9px Color=CXFF0000) NAME=\"SCATTER\";endlayout;");
  RenderResult deg = p.draw(t, {{"PLOTDATA", p.open("WORK", "deg")}}, nullptr, {}, 200, 150);
  RenderResult m = p.draw(t, {{"PLOTDATA", p.open("WORK", "m")}}, nullptr,
                          {{"__PLOTCS__", "EPSG:3857"}}, 200, 150);
  ASSERT_TRUE(deg.canvas && m.canvas);
  EXPECT_TRUE(m.warnings.empty());
  for (auto [lon, lat] : {std::pair{-100.0, 40.0}, {-90.0, 30.0}}) {
    Point a = deg.projection.project(lon, lat), b = m.projection.project(lon, lat);
    EXPECT_NEAR(a.x, b.x, 0.01);
    EXPECT_NEAR(a.y, b.y, 0.01);
    EXPECT_EQ(qv::test::rgbAt(*m.canvas, b.x, b.y), 0xFF0000u);
  }
  // A system PROJ does not know: one warning naming it and the data, and
  // the plot is left out.
  RenderResult odd = p.draw(t, {{"PLOTDATA", p.open("WORK", "deg")}}, nullptr,
                            {{"__PLOTCS__", "EPSG:999999"}}, 200, 150);
  ASSERT_EQ(odd.warnings.size(), 1u);
  EXPECT_EQ(odd.warnings[0].rfind("The coordinate system EPSG:999999 of the data WORK.DEG is not "
                                  "known to PROJ (",
                                  0),
            0u)
      << odd.warnings[0];
  EXPECT_EQ(qv::test::rgbAt(*odd.canvas, 100, 75), qv::test::hexOf(defaultStyle().wallColor));
}

}  // namespace
}  // namespace qv::render
