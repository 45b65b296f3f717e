// SCATTER, SERIES, BUBBLE and TEXT: the options in their fixed order,
// names, registrations and the failures that end a statement. The
// end-to-end plot cases pin the rest (wrongly typed variables among them).
#include "plot_fixture.h"

namespace qv::test {
namespace {

using Plots = PlotTest;

// Style cycling, and grouped plots taking no defaults, are pinned by the
// end-to-end attribute cases.
TEST_F(Plots, ScatterNamesAndColumns) {
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
}

TEST_F(Plots, TipsFormatsAndLabels) {
  Statement& s = add(Stmt::Scatter);
  xy(s);
  tips(s, pts, {"name", "pop"});
  items(s, Opt::TipFormat, {{host::kSlotName, "auto"}, {host::kSlotName, "DOLLAR8.2"},
                            {host::kSlotName, "BEST6."}});
  items(s, Opt::TipLabel, {{host::kSlotText, "Town \"x\""}, {host::kSlotName, "AUTO"}});
  // Tips with AUTO items are pinned by the end-to-end plot cases; here a
  // surplus format is dropped and the quotes of a label escaped.
  EXPECT_NE(run(s).find(" tip=( _tipvar1_ _tipvar2_) tipformat=( _tipvar2_=DOLLAR8.2) tiplabel=("
                        " _tipvar1_=\"Town (*ESC*){unicode '0022'x}x(*ESC*){unicode '0022'x}\")"),
            std::string::npos);
  EXPECT_EQ(h.messages.size(), 0u);

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

  // A SIZE= variable the plot data lacks: 1012.
  Statement& bad = add(Stmt::Bubble);
  xy(bad);
  host::Status st = 0;
  var(bad, Opt::Size, pts, "nosuch");
  bad.slot(Opt::Size).var.number = 40;
  run(bad, &st);
  EXPECT_EQ(st, 1012);
  EXPECT_EQ(args(221), (std::vector<std::string>{"41", "WORK", "PTS"}));
}

}  // namespace
}  // namespace qv::test
