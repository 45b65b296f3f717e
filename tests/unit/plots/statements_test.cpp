// SCATTER, SERIES, BUBBLE and TEXT: names, registrations and the failures
// that end a statement. The end-to-end plot cases pin the rest (the options
// in their order, wrongly typed variables among them).
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

// The options in their order, tips, and BUBBLE's display are pinned by the
// end-to-end case module_plot_options; here what a statement registers.
TEST_F(Plots, ContinuousColorRegistersItsLegend) {
  Statement& s = add(Stmt::Scatter);
  xy(s);
  var(s, Opt::ColorResponse, pts, "pop");
  text(s, Opt::Name, "Towns");
  run(s);
  // A continuous color registers the response's label for a gradient legend.
  EXPECT_EQ(plot.plotNames->size(), 0u);
  EXPECT_EQ(entry(plot.contLegends, "Towns"), "Population");
  EXPECT_EQ(h.kdlgstr(plot.responseName), "pop");
}

TEST_F(Plots, BubbleWithoutItsSizeVariable) {
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
