// The template compiler on whole templates as the procedure writes them, and
// on broken ones.
#include <gtest/gtest.h>


#include "render/graph/compiler.h"

namespace qv::render {
namespace {

std::unique_ptr<GraphModel> compileOk(const std::string& text) {
  CompileResult r = compileTemplate(text);
  EXPECT_TRUE(r.model) << r.error;
  EXPECT_TRUE(r.error.empty());
  return std::move(r.model);
}

// A classified choropleth over a street map, one title, one footnote and the
// automatic key legend.
const std::string kChoropleth =
    "define statgraph tavlo;begingraph /;"
    "RangeAttrMap name=\"_clrrespmap_\";"
    "Range 0-<10 / DiscreteLabel=\"0 - 10\" "
    "RangeColor=GradientStepper(TwoColorRamp:startcolor,TwoColorRamp:endcolor,3,1);"
    "Range 10-<20 / DiscreteLabel=\"10 - 20\" "
    "RangeColor=GradientStepper(TwoColorRamp:startcolor,TwoColorRamp:endcolor,3,2);"
    "Range 20-30 / DiscreteLabel=\"20 - 30\" "
    "RangeColor=GradientStepper(TwoColorRamp:startcolor,TwoColorRamp:endcolor,3,3);"
    "EndRangeAttrMap;"
    "RangeAttrVar attrvar=_CLRRESP_ var=sales attrmap=\"_clrrespmap_\";"
    "EntryTitle \"Sales by state\";"
    "layout overlaymap / pad=(top=5 bottom=5);"
    "MapLayer mapProvider=_OPENSTREETMAPPROVIDER_;"
    "mapRegionLayer mapProvider=dataset / dataID=RESPONSEDATA mapid=state id=state "
    "colorResponse=_CLRRESP_ OutLineAttrs=( Color=CX000000 Thickness=1px) "
    "EmptyOutLineAttrs=( Color=CX000000 Thickness=1px) LegendLabel=\"Regions\" "
    "NAME=\"CHOROMAP\";"
    "endlayout;"
    "EntryFootnote \"Source: census\";"
    "layout GlobalLegend;DiscreteLegend \"CHOROMAP\"/ title=\"Sales\";endlayout;"
    "endgraph;end;";

// What the compiler decides rather than copies: a repeated list option
// replaces the earlier one while other repeated options are all kept, tips
// join their roles, formats and labels, the escapes decode, blocks keep
// their style element and typed attributes, and column roles follow the
// option.
TEST(TemplateCompiler, PlotsLegendsAndTheirOptions) {
  const std::string t =
      "define statgraph tavlo;dynamic TITLE1;"
      "begingraph / opaque=false dataColors=( CXFF0000 CX00ff00 ) dataColors=( CX0000FF );"
      "EntryTitle TITLE1;layout overlaymap / pad=(top=5);"
      "ScatterPlot X=lon Y=lat / dataID=PLOTDATA "
      "rolename=( _tipvar1_=  city _tipvar2_=  'pop ''20'n) tip=( _tipvar1_ _tipvar2_) "
      "tipformat=( _tipvar2_=COMMA10.) "
      "tiplabel=( _tipvar1_=\"City (*ESC*){unicode '0026'x} town\") Group=kind "
      "Markerattrs=GraphData1( Color=CX0000FF Symbol=circle Size=5px) URL=link name=\"pts\";"
      "TextPlot X=lon Y=lat text=name / dataID=PLOTDATA Rotate=angle Display=( Outline ) "
      "TextAttrs=(Size=GraphLabelText:fontsize) Display=( Outline Fill) NAME=\"TEXT\";"
      "BubblePlot X=lon Y=lat SIZE=pop / dataID=PLOTDATA tip=none "
      "bubbleradiusmax=1e-05px NAME=\"B\";"
      "ContinuousLegend \"B\" / title=\"Rate\" Border=true;"
      "endlayout;endgraph;end;";
  auto m = compileOk(t);
  ASSERT_TRUE(m);
  EXPECT_FALSE(m->graph.opaque);
  EXPECT_EQ(m->graph.dataColors, (std::vector<Rgb>{{0, 0, 255}}));
  EXPECT_TRUE(m->titles.at(0).segments.at(0).dynamic);
  EXPECT_EQ(m->overlayOptions.find(Key::Pad)->find(Attr::Top)->number, 5);
  ASSERT_EQ(m->layers.size(), 3u);

  const Layer& sc = m->layers[0];
  ASSERT_EQ(sc.tips.size(), 2u);
  EXPECT_EQ(sc.tips[0].label, "City & town");
  EXPECT_EQ(sc.tips[1].column, "pop '20");
  EXPECT_EQ(sc.tips[1].format, "COMMA10.");
  EXPECT_EQ(sc.column(Role::Group)->column, "kind");
  EXPECT_EQ(sc.column(Role::Url)->column, "link");
  const Value* marker = sc.options.find(Key::MarkerAttrs);
  EXPECT_EQ(marker->graphData, 1);
  EXPECT_EQ(marker->find(Attr::Size)->unit, Unit::Px);
  EXPECT_EQ(marker->find(Attr::Symbol)->text, "circle");

  const Layer& tx = *m->layer("text");
  EXPECT_EQ(tx.column(Role::Rotate)->column, "angle");
  EXPECT_EQ(tx.options.find(Key::Display)->items.size(), 1u);
  EXPECT_EQ(tx.options.last(Key::Display)->items.size(), 2u);
  EXPECT_EQ(tx.options.find(Key::TextAttrs)->find(Attr::Size)->kind, Value::Kind::StyleRef);

  const Layer& bu = m->layers[2];
  EXPECT_TRUE(bu.tipNone);
  EXPECT_EQ(bu.column(Role::Size)->column, "pop");
  EXPECT_DOUBLE_EQ(get<double>(bu, Key::BubbleRadiusMax, 0), 1e-05);

  ASSERT_EQ(m->overlayLegends.size(), 1u);
  EXPECT_TRUE(m->overlayLegends[0].continuous);
  EXPECT_EQ(m->overlayLegends[0].title, "Rate");
  EXPECT_TRUE(get<bool>(m->overlayLegends[0], Key::Border, false));
}

// Attribute variables (a name literal, an expression and its column),
// discrete maps with odd values, ranges with open bounds, exclusions and
// steppers, and title segments where only the three escapes decode.
TEST(TemplateCompiler, AttributeMapsRangesAndTitles) {
  const std::string t =
      "proc template;\ndefine statgraph tavlo;\nbegingraph /;\n"
      "DiscreteAttrVar attrvar=__ATTRVAR1__ var='my var'n attrmap=\"__ATTRMAP__\";"
      "DiscreteAttrVar attrvar=__ATTRVAR2__ var=eval(sort('my var'n, RETAIN=ALL)) "
      "attrmap=\"__ATTRMAP__\";"
      "DiscreteAttrMap name=\"__ATTRMAP__MYID\" / discreteLegendEntryPolicy=attrmap "
      "ignoreCase=true;"
      "Value \"A\" / markerattrs=( color=CXFF0000 symbol=circle) lineattrs=GraphData2;"
      "Value \" \" \".\" /;"
      "Value Other / textattrs=GraphData1( style=ITALIC);EndDiscreteAttrMap;"
      "RangeAttrMap name=\"__RATTRMAP__R1\";Range min -100 / rangeColor=blue;"
      "Range 100<-max  / rangeColor=red ;Range 0<-<10 / rangecolormodel=(red green );"
      "Range -10-<-5 / RangeColor=GradientStepper(TwoColorRamp:startcolor,CX0000FF,3,2);"
      "Range 1e-05-2.5e+06 / RangeColor=CX00FF00;Range Missing / RangeAltColor=gray;"
      "EndRangeAttrMap;"
      "EntryTitle halign=left textattrs=( family=\"Arial\") \"Hello\" textattrs=() "
      "\"50(*ESC*){unicode '0025'x} (*ESC*){unicode '0022'x}off(*ESC*){unicode '0041'x}\" / "
      "halign=center borderattrs=(thickness=2) pad=1pct halignCenter=Graph;\n"
      "layout GlobalLegend;\n   ;\nendlayout;\n"
      "EntryFootnote \"Note\" / pad=(bottom=2pt);\nendgraph;\nend;\nrun;\n";
  auto m = compileOk(t);
  ASSERT_TRUE(m);
  EXPECT_TRUE(m->hasGlobalLegend);
  EXPECT_TRUE(m->globalLegends.empty());
  ASSERT_EQ(m->attrVars.size(), 2u);
  EXPECT_EQ(m->attrVars[0].variable, "my var");
  EXPECT_EQ(m->attrVars[1].expression, "eval(sort('my var'n, RETAIN=ALL))");
  EXPECT_EQ(m->attrVars[1].variable, "my var");

  const DiscreteAttrMap& d = *m->discreteMap("__attrmap__myid");
  EXPECT_TRUE(d.showAll && d.ignoreCase);
  ASSERT_EQ(d.values.size(), 3u);
  EXPECT_EQ(*d.values[0].options.find(Key::MarkerAttrs)->find(Attr::Color)->rgb, (Rgb{255, 0, 0}));
  EXPECT_EQ(d.values[0].options.find(Key::LineAttrs)->graphData, 2);
  EXPECT_EQ(d.values[1].values, (std::vector<std::string>{" ", "."}));
  EXPECT_TRUE(d.values[2].other);
  EXPECT_EQ(d.values[2].options.find(Key::TextAttrs)->find(Attr::Style)->text, "italic");

  const RangeAttrMap& r = *m->rangeMap("__RATTRMAP__R1");
  ASSERT_EQ(r.ranges.size(), 6u);
  EXPECT_EQ(r.ranges[0].low.kind, RangeBound::Kind::Min);
  EXPECT_EQ(r.ranges[0].high.value, 100);
  EXPECT_FALSE(r.ranges[0].color->rgb);
  EXPECT_TRUE(r.ranges[1].excludeLow);
  EXPECT_EQ(r.ranges[1].high.kind, RangeBound::Kind::Max);
  EXPECT_TRUE(r.ranges[2].excludeLow && r.ranges[2].excludeHigh);
  EXPECT_EQ(r.ranges[2].colorModel->items.size(), 2u);
  EXPECT_EQ(r.ranges[3].low.value, -10);
  EXPECT_TRUE(r.ranges[3].excludeHigh);
  const Value& st = *r.ranges[3].color;
  EXPECT_EQ(st.kind, Value::Kind::Stepper);
  EXPECT_EQ(st.index, 2);
  EXPECT_EQ(st.items.at(0).kind, Value::Kind::StyleRef);
  EXPECT_EQ(*st.items.at(1).rgb, (Rgb{0, 0, 255}));
  EXPECT_DOUBLE_EQ(r.ranges[4].low.value, 1e-05);
  EXPECT_DOUBLE_EQ(r.ranges[4].high.value, 2.5e+06);
  EXPECT_EQ(r.ranges[5].special, RangeEntry::Special::Missing);

  const TextEntry& title = m->titles.at(0);
  ASSERT_EQ(title.segments.size(), 2u);
  EXPECT_EQ(title.segments[0].options.find(Key::Halign)->text, "left");
  EXPECT_EQ(title.segments[1].text, "50% \"off(*ESC*){unicode '0041'x}");
  EXPECT_TRUE(title.segments[1].options.find(Key::TextAttrs)->attrs.empty());
  EXPECT_EQ(title.options.find(Key::BorderAttrs)->find(Attr::Thickness)->number, 2);
  EXPECT_EQ(title.options.find(Key::Pad)->unit, Unit::Percent);
  EXPECT_EQ(m->footnotes.at(0).options.find(Key::Pad)->find(Attr::Bottom)->unit, Unit::Pt);
}

struct Broken {
  std::string text;
  std::string offending;  // must appear in the message
  size_t offset;
};

std::string wrap(const std::string& overlay) {
  return "define statgraph tavlo;begingraph /;layout overlaymap;" + overlay +
         "endlayout;endgraph;end;";
}

constexpr size_t kOverlayAt = 54;  // where wrap() puts its argument

TEST(TemplateCompiler, BrokenTextsNameTheTextAndPlace) {
  const std::string sc = "ScatterPlot X=x Y=y / dataID=PLOTDATA";
  std::vector<Broken> cases = {
      {wrap("BarChart X=x;"), "unknown statement \"BarChart\"", kOverlayAt},
      {wrap(sc + " Colr=CXFF0000;"), "unknown option \"Colr\" of ScatterPlot",
       kOverlayAt + sc.size() + 1},
      {wrap("ScatterPlot X=x Y=y subpixel=off;"), "\"subpixel\" of ScatterPlot before \"/\"",
       kOverlayAt + 20},
      {wrap(sc + " Markerattrs=( Colour=CX000000);"),
       "unknown option \"Colour\" in Markerattrs=( )", kOverlayAt + sc.size() + 15},
      {wrap(sc + " subpixel=maybe;"), "subpixel= expects on or off, found \"maybe\"",
       kOverlayAt + sc.size() + 10},
      {wrap(sc + " DataTransparency=0.5x;"), "found \"0.5x\"", kOverlayAt + sc.size() + 18},
      {wrap(sc + " Markerattrs=( Color=red);"), "Color= expects a color CXrrggbb, found \"red\"",
       kOverlayAt + sc.size() + 21},
      {wrap(sc + " contributeOffsets=( XMIN YMAX;"), "unclosed list of contributeOffsets=",
       kOverlayAt + sc.size() + 30},
      {wrap(sc + " LegendLabel=\"abc;endlayout;"), "unterminated string \"abc;endlayout;",
       kOverlayAt + sc.size() + 13},
      {wrap(sc + " rolename=( _tipvar1_=city) tip=( _tipvar2_);"), "role \"_tipvar2_\"",
       kOverlayAt + sc.size() + 34},
      {wrap("ScatterPlot X=x / dataID=PLOTDATA;"), "ScatterPlot lacks Y=", kOverlayAt},
      {wrap(sc + " URL='my col;"), "unterminated name literal", kOverlayAt + sc.size() + 5},
      {wrap(sc + ");"), "unbalanced \")\"", kOverlayAt + sc.size()},
      // Layouts out of balance.
      {"define statgraph tavlo;begingraph /;layout overlaymap;endgraph;end;",
       "endgraph while layout overlaymap opened at byte 36 is still open", 54},
      {"define statgraph tavlo;begingraph /;endlayout;endgraph;end;",
       "endlayout without an open layout", 36},
      {"define statgraph tavlo;begingraph /;layout overlaymap;",
       "ends inside layout overlaymap opened at byte 36", 54},
      {"define statgraph tavlo;begingraph /;layout overlaymap;layout overlaymap;",
       "layout is not allowed inside layout overlaymap", 54},
      {"define statgraph tavlo;begingraph /;ScatterPlot X=x Y=y;endgraph;end;",
       "ScatterPlot is not allowed outside a layout", 36},
      {"define statgraph tavlo;begingraph /;endgraph;end;end;", "text after end: \"end\"", 49},
      {"define statgraph tavlo;begingraph /;endgraph;end;junk", "text after end", 49},
      {"define statgraph tavlo;begingraph /;EntryTitle TITLE3;endgraph;end;",
       "\"TITLE3\" in EntryTitle is neither", 47},
      {"define statgraph tavlo;begingraph /;RangeAttrMap name=\"m\";Range 1-2-3 /;",
       "malformed range \"1-2-3\"", 67},
      {"define statgraph tavlo;begingraph /;RangeAttrMap name=\"m\";Range 0-<1 / "
       "RangeColor=GradientStepper(a,b,3,4);",
       "step 4 of 3 is out of range", 104},
      {"define statgraph tavlo;begingraph / dataColors=( CXFF0000 ;",
       "unclosed list of dataColors=", 58},
      {"", "define statgraph is missing", 0},
      {"define statgraph tavlo;begingraph /;endgraph", "endgraph is not ended by \";\"", 44},
  };
  for (const Broken& b : cases) {
    CompileResult r = compileTemplate(b.text);
    EXPECT_FALSE(r.model) << b.text;
    EXPECT_NE(r.error.find(b.offending), std::string::npos) << r.error;
    EXPECT_EQ(r.offset, b.offset) << r.error;
    EXPECT_NE(r.error.find("at byte " + std::to_string(b.offset)), std::string::npos) << r.error;
  }
  // The message quotes the statement in which the fault lies.
  CompileResult r = compileTemplate(wrap(sc + " Colr=CXFF0000;"));
  EXPECT_NE(r.error.find("in the statement: " + sc + " Colr=CXFF0000;"), std::string::npos)
      << r.error;
}

TEST(TemplateCompiler, EveryTruncationFails) {
  for (const std::string* t : {&kChoropleth}) {
    for (size_t n = 0; n < t->size(); ++n) {
      CompileResult r = compileTemplate(std::string_view(*t).substr(0, n));
      ASSERT_FALSE(r.model) << "prefix of " << n << " bytes compiled";
      EXPECT_LE(r.offset, n);
      EXPECT_FALSE(r.error.empty());
    }
  }
}

// Deep nesting is refused, not followed (random and mutated templates are
// the fuzz corpus, replayed by every test run).
TEST(TemplateCompiler, DeepNestingIsRefused) {
  std::string deep(100000, '(');
  EXPECT_FALSE(compileTemplate(wrap("ScatterPlot X=x Y=y / Markerattrs=" + deep)).model);
  CompileResult r = compileTemplate(
      "define statgraph tavlo;begingraph /;DiscreteAttrVar attrvar=a var=eval" + deep);
  EXPECT_NE(r.error.find("nested too deeply"), std::string::npos) << r.error;
}

}  // namespace
}  // namespace qv::render
