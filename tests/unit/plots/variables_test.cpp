// processVariable and setResolution.
#include "plot_fixture.h"


#include "runtime/objects/objects.h"

namespace qv::test {
namespace {

using Variables = PlotTest;

TEST_F(Variables, ColumnsRegisteredOnce) {
  plot.varData = pts;
  plot.varColumns = plot.plotColumns;
  rt::MemoryStream out;
  EXPECT_EQ(out.open(true), 0);
  using module::processVariable;
  EXPECT_EQ(processVariable(&out, " X=", "year", -1, &plot), 0);
  EXPECT_EQ(processVariable(&out, " X=", "day", -1, &plot), 0);
  EXPECT_EQ(processVariable(&out, " Y=", "day", -1, &plot), 0);
  EXPECT_EQ(out.text(), " X=year X=day Y=day");
  // " " registers without writing; the column list holds each variable once.
  EXPECT_EQ(processVariable(&out, " ", {}, 0, &plot), 0);
  EXPECT_EQ(processVariable(&out, " ", "lon", -1, &plot), 0);
  EXPECT_EQ(out.text(), " X=year X=day Y=day");
  EXPECT_EQ(plot.plotColumns->size(), 3u);
  EXPECT_EQ(columns(plot.plotDataObject), (std::vector<std::string>{"year", "day", "lon"}));
}

TEST_F(Variables, LookupFailuresAndNameLiterals) {
  plot.varData = pts;
  rt::MemoryStream out;
  EXPECT_EQ(out.open(true), 0);
  using module::processVariable;
  EXPECT_EQ(processVariable(&out, " ColorResponse=", "nosuch", -1, &plot), 1);
  EXPECT_EQ(args(228), (std::vector<std::string>{"COLORRESPO", "nosuch", "WORK", "PTS"}));
  EXPECT_EQ(processVariable(&out, " X=", {}, 99, &plot), 1);
  EXPECT_EQ(args(229), (std::vector<std::string>{"100", "WORK", "PTS"}));
  EXPECT_EQ(out.text(), "");

  // Under VARNAMES=ANY names are written as name literals.
  module::setPlotFlag(plot, host::kFlagAnyNames);
  EXPECT_EQ(processVariable(&out, " text=", "O'Brien", -1, &plot), 0);
  EXPECT_EQ(out.text(), " text='O''Brien'n");

  // Through a statement: the header copy carries the switch.
  anyNames = true;
  Statement& s = add(Stmt::Scatter);
  xy(s);
  EXPECT_EQ(run(s).substr(0, 30), "ScatterPlot X='lon'n Y='lat'n ");
}

TEST_F(Variables, MapResolution) {
  using module::setResolution;
  TestDataSet* m = h.find(map);
  setResolution(&plot, -1);
  EXPECT_EQ(m->pushed, (std::vector<std::string>{"resolution<=3"}));
  // The largest graph size decides the level; beyond the table, none.
  m->pushed.clear();
  h.setTextOption("GRAPHWIDTH", "1000");
  setResolution(&plot, -1);
  EXPECT_EQ(m->pushed, (std::vector<std::string>{"resolution<=5"}));
  m->pushed.clear();
  h.setTextOption("GRAPHHEIGHT", "40000");
  setResolution(&plot, -1);
  EXPECT_TRUE(m->pushed.empty());

  // With a DENSITY variable: by density; a map already selected is left alone.
  host::DataSet* dens = h.addDataSet("DENS", {{"ID", C}, {"DENSITY"}});
  plot.mapData = dens;
  setResolution(&plot, 2);
  EXPECT_EQ(h.find(dens)->pushed, (std::vector<std::string>{"density<=2"}));
  h.find(dens)->selected = 1;
  setResolution(&plot, 4);
  EXPECT_EQ(count(225), 1);
  EXPECT_EQ(h.find(dens)->pushed.size(), 1u);
  // Neither variable: nothing, no message.
  host::DataSet* plain = h.addDataSet("PLAIN", {{"ID", C}});
  plot.mapData = plain;
  setResolution(&plot, 3);
  setResolution(&plot, -1);
  EXPECT_TRUE(h.find(plain)->pushed.empty());
  EXPECT_EQ(h.messages.size(), 1u);
}

}  // namespace
}  // namespace qv::test
