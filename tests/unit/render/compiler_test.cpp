// The template compiler on whole templates as the procedure writes them, and
// on broken ones.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "render/compiler.h"

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

TEST(TemplateCompiler, ClassifiedChoropleth) {
  auto m = compileOk(kChoropleth);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->name, "tavlo");
  ASSERT_EQ(m->rangeMaps.size(), 1u);
  const RangeAttrMap& rm = m->rangeMaps[0];
  EXPECT_EQ(rm.name, "_clrrespmap_");
  ASSERT_EQ(rm.ranges.size(), 3u);
  EXPECT_EQ(rm.ranges[0].low.value, 0);
  EXPECT_EQ(rm.ranges[0].high.value, 10);
  EXPECT_FALSE(rm.ranges[0].excludeLow);
  EXPECT_TRUE(rm.ranges[0].excludeHigh);
  EXPECT_FALSE(rm.ranges[2].excludeHigh);
  EXPECT_EQ(rm.ranges[1].label, "10 - 20");
  ASSERT_TRUE(rm.ranges[1].color);
  const Value& st = *rm.ranges[1].color;
  EXPECT_EQ(st.kind, Value::Kind::Stepper);
  EXPECT_EQ(st.count, 3);
  EXPECT_EQ(st.index, 2);
  ASSERT_EQ(st.items.size(), 2u);
  EXPECT_EQ(st.items[0].kind, Value::Kind::StyleRef);
  EXPECT_EQ(st.items[1].text, "TwoColorRamp:endcolor");

  ASSERT_EQ(m->attrVars.size(), 1u);
  EXPECT_TRUE(m->attrVars[0].range);
  EXPECT_EQ(m->attrVars[0].name, "_CLRRESP_");
  EXPECT_EQ(m->attrVars[0].variable, "sales");
  EXPECT_EQ(m->attrVars[0].map, "_clrrespmap_");

  ASSERT_EQ(m->titles.size(), 1u);
  EXPECT_EQ(m->titles[0].segments[0].text, "Sales by state");
  ASSERT_EQ(m->footnotes.size(), 1u);
  EXPECT_TRUE(m->footnotes[0].footnote);
  const Value* pad = m->overlayOptions.find(Key::Pad);
  ASSERT_TRUE(pad);
  EXPECT_EQ(pad->find(Attr::Bottom)->number, 5);

  ASSERT_EQ(m->layers.size(), 2u);
  EXPECT_EQ(m->layers[0].kind, LayerKind::Map);
  EXPECT_EQ(m->layers[0].provider, "_OPENSTREETMAPPROVIDER_");
  const Layer& region = m->layers[1];
  EXPECT_EQ(region.kind, LayerKind::Region);
  EXPECT_EQ(region.provider, "dataset");
  EXPECT_EQ(region.dataId, "RESPONSEDATA");
  EXPECT_EQ(region.name, "CHOROMAP");
  EXPECT_EQ(region.legendLabel, "Regions");
  EXPECT_EQ(region.column(Role::MapId)->column, "state");
  EXPECT_EQ(region.column(Role::Id)->column, "state");
  EXPECT_EQ(region.column(Role::ColorResponse)->column, "_CLRRESP_");
  const Value* outline = region.options.find(Key::EmptyOutlineAttrs);
  ASSERT_TRUE(outline);
  EXPECT_EQ(outline->find(Attr::Thickness)->unit, Unit::Px);
  EXPECT_EQ(*outline->find(Attr::Color)->rgb, (Rgb{0, 0, 0}));

  ASSERT_EQ(m->globalLegends.size(), 1u);
  EXPECT_EQ(m->globalLegends[0].plots, std::vector<std::string>{"CHOROMAP"});
  EXPECT_EQ(m->globalLegends[0].title, "Sales");
  EXPECT_EQ(m->layer("choromap"), &m->layers[1]);
}

TEST(TemplateCompiler, GroupedScatterWithTipsAndStyles) {
  const std::string t =
      "define statgraph tavlo;dynamic __BYLINE__;dynamic TITLE1;"
      "begingraph / opaque=false dataColors=( CXFF0000 CX00ff00 ) dataContrastColors=( CX000000 ) "
      "dataSymbols=( circle triangle ) dataLinePatterns=( 1 20 ) BackgroundColor=CXFFFFF0 "
      "dataColors=( CX0000FF );"
      "EntryTitle TITLE1;"
      "EntryTitle __BYLINE__ / textattrs=(size=GraphLabelText:fontsize);"
      "layout overlaymap / pad=(top=5);"
      "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off includemissinggroup=false "
      "rolename=( _tipvar1_=  city _tipvar2_=  'pop ''20'n) tip=( _tipvar1_ _tipvar2_) "
      "tipformat=( _tipvar2_=COMMA10.) "
      "tiplabel=( _tipvar1_=\"City (*ESC*){unicode '0026'x} town\") Group=kind "
      "Markerattrs=GraphData1( Color=CX0000FF Symbol=circle Size=5px) "
      "dataLabelPosition=TopRight "
      "DataLabelAttrs=( Color=CX112233 Family=\"Arial\" Size=8pt Weight=bold Style=italic ) "
      "DataTransparency=0.25 URL=link LegendLabel=\"Cities\" DataLabel=city name=\"pts\" "
      "contributeOffsets=( YMAX XMIN);"
      "SeriesPlot X=lon Y=lat / dataID=PLOTDATA smoothconnect=false break=true "
      "Markerattrs=GraphData2 Lineattrs=GraphData2( Pattern=20 Thickness=2pt) "
      "DataLabelAttrs=GraphData2 NAME=\"SERIES\";"
      "endlayout;"
      "layout GlobalLegend;"
      "DiscreteLegend \"pts\" \"SERIES\" / valign=bottom Title=\"Kinds\" "
      "TitleAttrs=( Size=12pt Weight=bold) ValueAttrs=GraphValueText AutoItemSize=true;"
      "endlayout;endgraph;end;";
  auto m = compileOk(t);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->dynamics, (std::vector<std::string>{"__BYLINE__", "TITLE1"}));
  const GraphOptions& g = m->graph;
  EXPECT_FALSE(g.opaque);
  // A repeated list option replaces the earlier one, as statements in order do.
  EXPECT_EQ(g.dataColors, (std::vector<Rgb>{{0, 0, 255}}));
  EXPECT_EQ(g.dataContrastColors, (std::vector<Rgb>{{0, 0, 0}}));
  EXPECT_EQ(g.dataSymbols, (std::vector<std::string>{"circle", "triangle"}));
  EXPECT_EQ(g.dataLinePatterns, (std::vector<int>{1, 20}));
  EXPECT_EQ(*g.backgroundColor, (Rgb{255, 255, 240}));
  ASSERT_EQ(m->titles.size(), 2u);
  EXPECT_TRUE(m->titles[0].segments[0].dynamic);
  EXPECT_EQ(m->titles[1].segments[0].text, "__BYLINE__");
  EXPECT_EQ(m->titles[1].options.find(Key::TextAttrs)->find(Attr::Size)->text,
            "GraphLabelText:fontsize");

  ASSERT_EQ(m->layers.size(), 2u);
  const Layer& sc = m->layers[0];
  EXPECT_EQ(sc.kind, LayerKind::Scatter);
  EXPECT_EQ(sc.dataId, "PLOTDATA");
  EXPECT_EQ(sc.name, "pts");
  EXPECT_EQ(sc.column(Role::X)->column, "lon");
  EXPECT_EQ(sc.column(Role::Group)->column, "kind");
  EXPECT_EQ(sc.column(Role::Url)->column, "link");
  EXPECT_EQ(sc.column(Role::DataLabel)->column, "city");
  ASSERT_EQ(sc.tips.size(), 2u);
  EXPECT_EQ(sc.tips[0].column, "city");
  EXPECT_EQ(sc.tips[0].label, "City & town");
  EXPECT_EQ(sc.tips[1].column, "pop '20");
  EXPECT_EQ(sc.tips[1].format, "COMMA10.");
  const Value* marker = sc.options.find(Key::MarkerAttrs);
  EXPECT_EQ(marker->graphData, 1);
  EXPECT_EQ(marker->find(Attr::Size)->number, 5);
  EXPECT_EQ(marker->find(Attr::Symbol)->text, "circle");
  const Value* label = sc.options.find(Key::DataLabelAttrs);
  EXPECT_EQ(label->find(Attr::Family)->text, "Arial");
  EXPECT_EQ(label->find(Attr::Weight)->text, "bold");
  EXPECT_EQ(sc.options.find(Key::DataLabelPosition)->text, "TopRight");
  const Value* offsets = sc.options.find(Key::ContributeOffsets);
  ASSERT_EQ(offsets->items.size(), 2u);
  EXPECT_EQ(offsets->items[0].text, "YMAX");

  const Layer& se = m->layers[1];
  EXPECT_EQ(se.name, "SERIES");
  const Value* line = se.options.find(Key::LineAttrs);
  EXPECT_EQ(line->graphData, 2);
  EXPECT_EQ(line->find(Attr::Pattern)->number, 20);
  EXPECT_EQ(line->find(Attr::Thickness)->unit, Unit::Pt);
  EXPECT_FALSE(se.options.find(Key::DataLabelAttrs)->hasOverrides);

  const Legend& lg = m->globalLegends.at(0);
  EXPECT_EQ(lg.plots, (std::vector<std::string>{"pts", "SERIES"}));
  EXPECT_EQ(lg.title, "Kinds");
  EXPECT_EQ(lg.options.find(Key::ValueAttrs)->styleElement, "GraphValueText");
}

TEST(TemplateCompiler, TextAndBubblePlotsWithGradientLegend) {
  const std::string t =
      "define statgraph tavlo;begingraph /;layout overlaymap;"
      "TextPlot X=lon Y=lat text=name / dataID=PLOTDATA OutLineAttrs=GraphData1 "
      "OutLineAttrs=( Color=CX000000 Thickness=1px) TextAttrs=( Color=CXFF0000 Size=10pt ) "
      "Splitpolicy=splitalways SplitChar=\",\" SplitCharDrop=false SplitJustify=Center "
      "strip=true Display=( Outline Fill ) DataTransparency=0.5 "
      "FillAttrs=(Color=CXFFFF00 Transparency=0.5) LegendLabel=\"Place\" NAME=\"TEXT\" "
      "Rotate=angle pad=( left=2 bottom=3px) contributeOffsets=All backlight=auto "
      "position=TopLeft splitwidth=10 SizeResponse=pop SizeMin=5pt SizeMax=20% "
      "SizeMaxResponse=1000 splitpolicy=splitalways SplitChar=\",\" SplitCharDrop=false "
      "SplitJustify=Center Display=( Outline Fill);"
      "BubblePlot X=lon Y=lat SIZE=pop / dataID=PLOTDATA ColorModel=(CXFF0000 CX0000FF ) "
      "discreteOffset=-0.5 tip=none OutLineAttrs=GraphData3 OutLineAttrs=GraphData3 "
      "dataLabelPosition=Center Display=( Outline ) FillAttrs=GraphData3 ColorResponse=rate "
      "NAME=\"BUBBLE\" bubbleradiusmin=2 bubbleradiusmax=1e-05px;"
      "ContinuousLegend \"BUBBLE\" / Location=Outside valign=bottom orient=horizontal "
      "title=\"Rate\" extractscale=true Integer=true Border=true;"
      "endlayout;endgraph;end;";
  auto m = compileOk(t);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->layers.size(), 2u);
  const Layer& tx = m->layers[0];
  EXPECT_EQ(tx.kind, LayerKind::Text);
  EXPECT_EQ(tx.column(Role::Text)->column, "name");
  EXPECT_EQ(tx.column(Role::Rotate)->column, "angle");
  EXPECT_EQ(tx.column(Role::SizeResponse)->column, "pop");
  EXPECT_EQ(tx.options.find(Key::SplitChar)->text, ",");
  EXPECT_EQ(tx.options.find(Key::SizeMax)->unit, Unit::Percent);
  EXPECT_EQ(tx.options.find(Key::Backlight)->text, "auto");
  EXPECT_EQ(tx.options.find(Key::Pad)->find(Attr::Bottom)->unit, Unit::Px);
  int displays = 0;
  for (const Option& o : tx.options.items) displays += o.key == Key::Display;
  EXPECT_EQ(displays, 2);

  const Layer& bu = m->layers[1];
  EXPECT_EQ(bu.column(Role::Size)->column, "pop");
  EXPECT_EQ(bu.column(Role::ColorResponse)->column, "rate");
  EXPECT_TRUE(bu.tipNone);
  EXPECT_EQ(bu.options.find(Key::ColorModel)->items.size(), 2u);
  EXPECT_EQ(bu.options.find(Key::DiscreteOffset)->number, -0.5);
  EXPECT_DOUBLE_EQ(bu.options.find(Key::BubbleRadiusMax)->number, 1e-05);

  ASSERT_EQ(m->overlayLegends.size(), 1u);
  const Legend& cl = m->overlayLegends[0];
  EXPECT_TRUE(cl.continuous);
  EXPECT_EQ(cl.plots[0], "BUBBLE");
  EXPECT_EQ(cl.title, "Rate");
  EXPECT_TRUE(cl.options.find(Key::Border)->flag);
}

TEST(TemplateCompiler, TitlesWithSegmentsAndAttributeMaps) {
  const std::string t =
      "define statgraph tavlo;begingraph /;"
      "DiscreteAttrVar attrvar=__ATTRVAR1__ var='my var'n attrmap=\"__ATTRMAP__\";"
      "DiscreteAttrVar attrvar=__ATTRVAR2__ var=eval(sort('my var'n, RETAIN=ALL)) "
      "attrmap=\"__ATTRMAP__\";"
      "DiscreteAttrMap name=\"__ATTRMAP__\" / autocycleattrs=1;Value \"East\";Value \" \";"
      "EndDiscreteAttrMap;"
      "DiscreteAttrMap name=\"__ATTRMAP__MYID\" / discreteLegendEntryPolicy=attrmap "
      "ignoreCase=true;"
      "Value \"A\" / markerattrs=( color=CXFF0000 symbol=circle) lineattrs=GraphData2;"
      "Value \"B\" / fillattrs=( color=CX0000FF transparency=0.5);"
      "Value \" \" \".\" /;"
      "Value Other / textattrs=GraphData1( color=CX000000 family=\"Arial\" style=ITALIC "
      "weight=bold);EndDiscreteAttrMap;"
      "RangeAttrVar attrvar=R1_POP var=POP attrmap=\"__RATTRMAP__R1\";"
      "RangeAttrMap name=\"__RATTRMAP__R1\";Range min -100 / rangeColor=blue;"
      "Range 100<-max  / rangeColor=red ;Range 0<-<10 / rangecolormodel=(red green ) "
      "RangeAltColor=gray;Range -10-<-5 / rangeColorModel=ThreeColorRamp;"
      "Range 1e-05-2.5e+06 / RangeColor=CX00FF00;Range Missing / RangeAltColor=gray;"
      "EndRangeAttrMap;"
      "EntryTitle halign=left textattrs=( family=\"Arial\" color=CXFF0000 weight=bold "
      "size=12pt) \"Hello\" textattrs=() \"50(*ESC*){unicode '0025'x} (*ESC*){unicode "
      "'0022'x}off(*ESC*){unicode '0041'x}\" / halign=center "
      "textattrs=(size=GraphLabelText:fontsize) backgroundcolor=CXEEEEEE opaque=true "
      "border=true borderattrs=(thickness=2) pad=1pct halignCenter=Graph;"
      "layout overlaymap / pad=(top=5 bottom=5);endlayout;"
      "EntryFootnote \"Note\" / pad=(bottom=2pt);"
      "endgraph;end;";
  auto m = compileOk(t);
  ASSERT_TRUE(m);
  ASSERT_EQ(m->attrVars.size(), 3u);
  EXPECT_EQ(m->attrVars[0].variable, "my var");
  EXPECT_EQ(m->attrVars[1].expression, "eval(sort('my var'n, RETAIN=ALL))");
  EXPECT_EQ(m->attrVars[1].variable, "my var");

  ASSERT_EQ(m->discreteMaps.size(), 2u);
  EXPECT_TRUE(m->discreteMaps[0].autoCycle);
  EXPECT_EQ(m->discreteMaps[0].values.size(), 2u);
  const DiscreteAttrMap& d = *m->discreteMap("__attrmap__myid");
  EXPECT_TRUE(d.showAll);
  EXPECT_TRUE(d.ignoreCase);
  ASSERT_EQ(d.values.size(), 4u);
  EXPECT_EQ(*d.values[0].options.find(Key::MarkerAttrs)->find(Attr::Color)->rgb, (Rgb{255, 0, 0}));
  EXPECT_EQ(d.values[0].options.find(Key::LineAttrs)->graphData, 2);
  EXPECT_EQ(d.values[2].values, (std::vector<std::string>{" ", "."}));
  EXPECT_TRUE(d.values[3].other);
  EXPECT_EQ(d.values[3].options.find(Key::TextAttrs)->find(Attr::Style)->text, "italic");

  const RangeAttrMap& r = *m->rangeMap("__RATTRMAP__R1");
  ASSERT_EQ(r.ranges.size(), 6u);
  EXPECT_EQ(r.ranges[0].low.kind, RangeBound::Kind::Min);
  EXPECT_EQ(r.ranges[0].high.value, 100);
  EXPECT_EQ(r.ranges[0].color->text, "blue");
  EXPECT_FALSE(r.ranges[0].color->rgb);
  EXPECT_TRUE(r.ranges[1].excludeLow);
  EXPECT_EQ(r.ranges[1].high.kind, RangeBound::Kind::Max);
  EXPECT_TRUE(r.ranges[2].excludeLow && r.ranges[2].excludeHigh);
  EXPECT_EQ(r.ranges[2].colorModel->items.size(), 2u);
  EXPECT_EQ(r.ranges[2].altColor->text, "gray");
  EXPECT_EQ(r.ranges[3].low.value, -10);
  EXPECT_EQ(r.ranges[3].high.value, -5);
  EXPECT_EQ(r.ranges[3].colorModel->text, "ThreeColorRamp");
  EXPECT_DOUBLE_EQ(r.ranges[4].low.value, 1e-05);
  EXPECT_DOUBLE_EQ(r.ranges[4].high.value, 2.5e+06);
  EXPECT_EQ(*r.ranges[4].color->rgb, (Rgb{0, 255, 0}));
  EXPECT_EQ(r.ranges[5].special, RangeEntry::Special::Missing);

  ASSERT_EQ(m->titles.size(), 1u);
  const TextEntry& title = m->titles[0];
  ASSERT_EQ(title.segments.size(), 2u);
  EXPECT_EQ(title.segments[0].options.find(Key::Halign)->text, "left");
  EXPECT_EQ(title.segments[0].options.find(Key::TextAttrs)->find(Attr::Family)->text, "Arial");
  // Only the three escapes are decoded; other text stays as it is.
  EXPECT_EQ(title.segments[1].text, "50% \"off(*ESC*){unicode '0041'x}");
  EXPECT_TRUE(title.segments[1].options.find(Key::TextAttrs)->attrs.empty());
  EXPECT_EQ(title.options.find(Key::HalignCenter)->text, "Graph");
  EXPECT_EQ(title.options.find(Key::BorderAttrs)->find(Attr::Thickness)->number, 2);
  EXPECT_EQ(title.options.find(Key::Pad)->unit, Unit::Percent);
  EXPECT_EQ(m->footnotes.at(0).options.find(Key::Pad)->find(Attr::Bottom)->unit, Unit::Pt);
  EXPECT_TRUE(m->layers.empty());
}

TEST(TemplateCompiler, TemplateFileFormAndEmptyStatements) {
  // The TMPLOUT= form: wrapped, one statement a line, indented.
  const std::string t =
      "proc template;\n"
      "define statgraph tavlo;\n"
      "begingraph /;\n"
      "layout overlaymap;\n"
      "   ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off NAME=\"SCATTER\";\n"
      "endlayout;\n"
      "layout GlobalLegend;\n"
      "   ;\n"
      "endlayout;\n"
      "endgraph;\n"
      "end;\n"
      "run;\n";
  auto m = compileOk(t);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->layers.at(0).name, "SCATTER");
  EXPECT_TRUE(m->hasGlobalLegend);
  EXPECT_TRUE(m->globalLegends.empty());

  // The minimal template of a step with one plot.
  auto m2 = compileOk(
      "define statgraph tavlo;begingraph /;layout overlaymap;"
      "ScatterPlot X=x Y=y / dataID=PLOTDATA subpixel=off NAME=\"SCATTER\";"
      "endlayout;endgraph;end;");
  ASSERT_TRUE(m2);
  EXPECT_EQ(m2->layers.size(), 1u);
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

TEST(TemplateCompiler, HostileInputEndsInAnAnswer) {
  std::mt19937 rng(12345);
  const std::string alphabet = "();=/\"' \n-<.,:%&abcXYZ019";
  // Mutations of a good template, and plain random bytes.
  for (int i = 0; i < 20000; ++i) {
    std::string t = kChoropleth;
    int edits = 1 + static_cast<int>(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      size_t at = rng() % t.size();
      switch (rng() % 3) {
        case 0: t[at] = alphabet[rng() % alphabet.size()]; break;
        case 1: t.erase(at, 1 + rng() % 8); break;
        default: t.insert(at, 1, static_cast<char>(rng() % 256)); break;
      }
      if (t.empty()) t = "x";
    }
    CompileResult r = compileTemplate(t);
    EXPECT_TRUE(r.model ? r.error.empty() : !r.error.empty());
    EXPECT_LE(r.offset, t.size());
  }
  for (int i = 0; i < 2000; ++i) {
    std::string t(rng() % 200, '\0');
    for (char& c : t) c = static_cast<char>(rng() % 256);
    EXPECT_FALSE(compileTemplate(t).model);
  }
  // Deep nesting is refused, not followed.
  std::string deep(100000, '(');
  EXPECT_FALSE(compileTemplate(wrap("ScatterPlot X=x Y=y / Markerattrs=" + deep)).model);
  CompileResult r = compileTemplate(
      "define statgraph tavlo;begingraph /;DiscreteAttrVar attrvar=a var=eval" + deep);
  EXPECT_NE(r.error.find("nested too deeply"), std::string::npos) << r.error;
}

// Every template the end-to-end cases keep as a golden file compiles.
TEST(TemplateCompiler, GoldenTemplatesCompile) {
  namespace fs = std::filesystem;
  fs::path cases = fs::path(QV_SOURCE_DIR) / "tests" / "e2e" / "cases";
  int seen = 0;
  if (fs::is_directory(cases)) {
    for (const auto& c : fs::directory_iterator(cases)) {
      fs::path golden = c.path() / "golden";
      if (!fs::is_directory(golden)) continue;
      for (const auto& f : fs::directory_iterator(golden)) {
        std::ifstream in(f.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string text = ss.str();
        if (text.rfind("proc template;", 0) != 0) continue;  // not a template file
        ++seen;
        CompileResult r = compileTemplate(text);
        EXPECT_TRUE(r.model) << f.path() << ": " << r.error;
      }
    }
  }
  if (seen == 0) GTEST_SKIP() << "no golden template files yet";
}

}  // namespace
}  // namespace qv::render
