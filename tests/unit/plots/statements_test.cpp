// SCATTER, SERIES, BUBBLE, TEXT and the map layers: the options in their
// fixed order, names, registrations and the failures that end a statement.
#include "plot_fixture.h"

namespace qv::test {
namespace {

using Plots = PlotTest;

TEST_F(Plots, ScatterDefaultsNamesAndCycling) {
  Statement& s = add(Stmt::Scatter);
  xy(s);
  EXPECT_EQ(run(s), "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off NAME=\"SCATTER\";");
  EXPECT_EQ(entry(plot.plotNames, "SCATTER"), "<Empty>");
  EXPECT_EQ(columns(plot.plotDataObject), (std::vector<std::string>{"lon", "lat"}));

  // Names count per keyword; SERIES has its own count.
  EXPECT_NE(run(s).find(" NAME=\"SCATTER1\""), std::string::npos);
  Statement& series = add(Stmt::Series);
  xy(series);
  EXPECT_NE(run(series).find(" NAME=\"SERIES\""), std::string::npos);
  EXPECT_NE(run(s).find(" NAME=\"SCATTER2\""), std::string::npos);
  EXPECT_EQ(plot.plotNames->size(), 4u);
  // Columns are registered once.
  EXPECT_EQ(plot.plotColumns->size(), 2u);

  // Cycling: style elements by the counter, which moves on per plot.
  makeContext(true);
  cycling(1);
  EXPECT_EQ(run(s),
            "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off Markerattrs=GraphData1"
            " DataLabelAttrs=GraphData1 NAME=\"SCATTER\";");
  EXPECT_EQ(plot.graphDataCounter, 2);

  // A grouped plot takes no defaults and leaves the counter alone; so do
  // the plots after it.
  Statement& g = add(Stmt::Scatter);
  xy(g);
  var(g, Opt::Group, pts, "kind");
  EXPECT_EQ(run(g),
            "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off Group=kind"
            " NAME=\"SCATTER1\";");
  EXPECT_EQ(plot.graphDataCounter, 2);
  EXPECT_EQ(entry(plot.plotNames, "SCATTER1"), "<Group>");
  EXPECT_EQ(h.kdlgstr(plot.groupVarName), "kind");
  EXPECT_EQ(plot.groupVarNumber, 4);  // kind is variable 3 (from 0)
  EXPECT_EQ(h.kdlgstr(plot.legendTitle), "kind");
  EXPECT_EQ(run(s).find("GraphData"), std::string::npos);
  EXPECT_EQ(plot.graphDataCounter, 2);
}

TEST_F(Plots, ScatterOptionsInOrder) {
  Statement& s = add(Stmt::Scatter);
  xy(s);
  s.setFlag(Flag::NoMissingGroup);
  s.setFlag(Flag::DataLabel);
  var(s, Opt::DataLabel, pts, "name");
  var(s, Opt::Url, pts, "url");
  var(s, Opt::ColorResponse, pts, "pop");
  code(s, Opt::DataLabelPos, 7);
  number(s, Opt::Transparency, 0.25);
  text(s, Opt::LegendLabel, "50% \"big\" & small");
  text(s, Opt::Name, "Towns");
  items(s, Opt::ContributeOffsets, {{host::kSlotEnum, "TOP"}, {host::kSlotEnum, "LEFT"}});
  s.slot(Opt::ContributeOffsets).list[0].number = module::Code::OffsetTop;
  s.slot(Opt::ContributeOffsets).list[1].number = module::Code::OffsetLeft;
  items(s, Opt::ColorModel, {{host::kSlotName, "red"}, {host::kSlotText, "CX0000FF"}});
  EXPECT_EQ(run(s),
            "ScatterPlot X=lon Y=lat / dataID=PLOTDATA ColorModel=(CXFF0000 CX0000FF )"
            " subpixel=off includemissinggroup=false dataLabelPosition=TopRight"
            " DataTransparency=0.25 URL=url"
            " LegendLabel=\"50(*ESC*){unicode '0025'x} (*ESC*){unicode '0022'x}big"
            "(*ESC*){unicode '0022'x} (*ESC*){unicode '0026'x} small\""
            " ColorResponse=pop DataLabel=name name=\"Towns\""
            " contributeOffsets=( YMAX XMIN);");
  // A continuous color registers the response's label for a gradient legend.
  EXPECT_EQ(plot.plotNames->size(), 0u);
  EXPECT_EQ(entry(plot.contLegends, "Towns"), "Population");
  EXPECT_EQ(h.kdlgstr(plot.responseName), "pop");

  Statement& all = add(Stmt::Scatter);
  xy(all);
  code(all, Opt::ContributeOffsets, module::Code::OffsetsNone);
  EXPECT_NE(run(all).find(" contributeOffsets=None;"), std::string::npos);

  // A character color response ends the statement with 1.
  Statement& bad = add(Stmt::Scatter);
  xy(bad);
  var(bad, Opt::ColorResponse, pts, "kind");
  host::Status st = 0;
  run(bad, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(args(6), (std::vector<std::string>{"COLORRESPONSE"}));
}

TEST_F(Plots, TipsFormatsAndLabels) {
  Statement& s = add(Stmt::Scatter);
  xy(s);
  tips(s, pts, {"name", "pop"});
  items(s, Opt::TipFormat, {{host::kSlotName, "auto"}, {host::kSlotName, "DOLLAR8.2"},
                            {host::kSlotName, "BEST6."}});
  items(s, Opt::TipLabel, {{host::kSlotText, "Town \"x\""}, {host::kSlotName, "AUTO"}});
  EXPECT_EQ(run(s),
            "ScatterPlot X=lon Y=lat / dataID=PLOTDATA subpixel=off"
            " rolename=( _tipvar1_=  name _tipvar2_=  pop) tip=( _tipvar1_ _tipvar2_)"
            " tipformat=( _tipvar2_=DOLLAR8.2)"
            " tiplabel=( _tipvar1_=\"Town (*ESC*){unicode '0022'x}x(*ESC*){unicode '0022'x}\")"
            " NAME=\"SCATTER\";");
  EXPECT_EQ(h.messages.size(), 0u);
  // Tip columns join the plot data.
  EXPECT_EQ(columns(plot.plotDataObject),
            (std::vector<std::string>{"lon", "lat", "name", "pop"}));

  // Items that are neither formats nor AUTO are skipped with 854/94;
  // nothing qualifies: no list at all.
  Statement& t = add(Stmt::Scatter);
  xy(t);
  tips(t, pts, {"name"});
  items(t, Opt::TipFormat, {{host::kSlotName, "NOFORMAT"}});
  items(t, Opt::TipLabel, {{host::kSlotName, "LABEL"}});
  t.setFlag(Flag::TipNone);
  std::string out = run(t);
  EXPECT_NE(out.find(" subpixel=off tip=none rolename=("), std::string::npos);
  EXPECT_EQ(out.find("tipformat"), std::string::npos);
  EXPECT_EQ(out.find("tiplabel"), std::string::npos);
  EXPECT_EQ(count(94), 2);
  EXPECT_EQ(args(94), (std::vector<std::string>{"NOFORMAT"}));
}

TEST_F(Plots, BubbleSizeDisplayAndFill) {
  Statement& b = add(Stmt::Bubble);
  xy(b);
  var(b, Opt::Size, pts, "pop");
  number(b, Opt::BRadiusMin, 2);
  number(b, Opt::BRadiusMax, 10, module::Code::Px);
  b.setFlag(Flag::NoFill);
  attrNumber(group(b, Opt::FillAttrs), host::kAttrTransparency, 0.3);
  EXPECT_EQ(run(b),
            "BubblePlot X=lon Y=lat SIZE=pop / dataID=PLOTDATA Display=( Outline )"
            " FillAttrs=( Transparency=0.3) NAME=\"BUBBLE\""
            " bubbleradiusmin=2 bubbleradiusmax=10px;");

  // Cycling without a group: the outline default twice, data labels, fill.
  cycling(1);
  Statement& c = add(Stmt::Bubble);
  xy(c);
  var(c, Opt::Size, pts, "pop");
  c.setFlag(Flag::Fill);
  c.setFlag(Flag::Outline);
  host::Slot& fill = group(c, Opt::FillAttrs);
  attrText(fill, host::kAttrColor, "red");
  attrNumber(fill, host::kAttrTransparency, 0.5);
  EXPECT_EQ(run(c),
            "BubblePlot X=lon Y=lat SIZE=pop / dataID=PLOTDATA OutLineAttrs=GraphData1"
            " OutLineAttrs=GraphData1 DataLabelAttrs=GraphData1 Display=( Outline Fill )"
            " FillAttrs=GraphData1(Color=CXFF0000 Transparency=0.5) NAME=\"BUBBLE1\";");

  // A character SIZE= variable, or one the plot data lacks: 1012.
  Statement& bad = add(Stmt::Bubble);
  xy(bad);
  var(bad, Opt::Size, pts, "kind");
  host::Status st = 0;
  EXPECT_EQ(run(bad, &st), "BubblePlot X=lon Y=lat");
  EXPECT_EQ(st, 1012);
  EXPECT_EQ(args(230), (std::vector<std::string>{"kind"}));
  var(bad, Opt::Size, pts, "nosuch");
  bad.slot(Opt::Size).var.number = 40;
  run(bad, &st);
  EXPECT_EQ(st, 1012);
  EXPECT_EQ(args(221), (std::vector<std::string>{"41", "WORK", "PTS"}));
}

TEST_F(Plots, TextFailures) {
  Statement& t = add(Stmt::Text);
  xy(t);
  var(t, Opt::TextVar, pts, "name");
  host::Status st = 0;
  number(t, Opt::DiscreteOffset, 0.51);
  run(t, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(count(67), 1);
  number(t, Opt::DiscreteOffset, -0.5);
  EXPECT_NE(run(t).find(" discreteOffset=-0.5"), std::string::npos);

  // ROTATE= must be numeric.
  var(t, Opt::Rotate, pts, "kind");
  run(t, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(args(6), (std::vector<std::string>{"Rotate="}));
  var(t, Opt::Rotate, pts, "angle");
  EXPECT_NE(run(t).find(" Rotate=angle;"), std::string::npos);
  // Three TEXT statements without NAME=.
  EXPECT_EQ(entry(plot.plotNames, "TEXT2"), "<Empty>");
}

}  // namespace
}  // namespace qv::test
