// CHOROMAP and the attribute-map bindings of groups and color responses.
#include "plot_fixture.h"

namespace qv::test {
namespace {

using Choromap = PlotTest;

TEST_F(Choromap, RegionsWithoutResponse) {
  makeContext(false);
  cycling(1);
  Statement& c = add(Stmt::Choromap);
  EXPECT_EQ(run(c),
            "mapRegionLayer mapProvider=dataset / dataID=__MAP__ mapid=ID"
            " LegendLabel=\"Regions\" NAME=\"CHOROMAP\";");
  EXPECT_EQ(entry(plot.plotNames, "CHOROMAP"), "<Empty>");
  // A region layer never takes nor advances style elements.
  EXPECT_EQ(plot.graphDataCounter, 1);
  // The map's level of detail follows the 640 by 480 graph.
  EXPECT_EQ(h.find(map)->pushed, (std::vector<std::string>{"resolution<=3"}));
}

TEST_F(Choromap, NumericResponse) {
  cycling(1);
  Statement& c = add(Stmt::Choromap);
  var(c, Opt::Response, resp, "sales");
  number(c, Opt::NumLevels, 5);
  tips(c, resp, {"state"});
  var(c, Opt::Url, resp, "county");
  items(c, Opt::ColorModel, {{host::kSlotName, "white"}, {host::kSlotName, "blue"}});
  // The statement's text is pinned by the end-to-end CHOROMAP cases.
  run(c);
  // NUMLEVELS= alone asks for quantiles; nothing classified here (no
  // values), so the response stays continuous.
  EXPECT_EQ(plot.numLevels, 5);
  EXPECT_EQ(plot.levelType, module::Code::LevelQuantile);
  EXPECT_EQ(plot.responseVarNumber, 1);
  EXPECT_EQ(plot.groupVarNumber, 2);
  EXPECT_EQ(entry(plot.contLegends, "CHOROMAP"), "Sales");
  ASSERT_NE(plot.colorModelList, nullptr);
  ASSERT_EQ(plot.colorModelList->size(), 2u);
  EXPECT_EQ(h.kdlgstr(std::get<const host::HStr*>(plot.colorModelList->at(1))), "CX0000FF");
  EXPECT_EQ(columns(plot.respDataObject),
            (std::vector<std::string>{"ID", "sales", "state", "county"}));

  // The response recorded a group variable: plots after it take no defaults.
  Statement& s = add(Stmt::Scatter);
  xy(s);
  EXPECT_EQ(run(s).find("GraphData"), std::string::npos);
  EXPECT_EQ(plot.graphDataCounter, 1);

  // A second region layer starts its levels and colors afresh.
  Statement& d = add(Stmt::Choromap);
  var(d, Opt::Response, resp, "code");
  code(d, Opt::LevelType, module::Code::LevelNone);
  name(d, Opt::ColorModel, "ThreeColorRamp");
  std::string out = run(d);
  EXPECT_NE(out.find(" ColorModel=ThreeColorRamp dataID=RESPONSEDATA mapid=ID id=ID"
                     " ColorResponse=code "),
            std::string::npos);
  EXPECT_EQ(plot.numLevels, 0);
  EXPECT_EQ(plot.levelType, module::Code::LevelNone);
  EXPECT_EQ(plot.colorModelList->size(), 0u);
  EXPECT_EQ(h.kdlgstr(plot.colorModelName), "ThreeColorRamp");
  EXPECT_EQ(entry(plot.contLegends, "CHOROMAP1"), "code");
}

TEST_F(Choromap, GroupedResponsesAndKeys) {
  Statement& c = add(Stmt::Choromap);
  var(c, Opt::Response, resp, "state");
  number(c, Opt::NumLevels, 5);
  code(c, Opt::LevelType, 2);
  var(c, Opt::MapId, map, "county");
  EXPECT_NE(run(c).find(" mapid=county id=county colorGroup=state "), std::string::npos);
  EXPECT_EQ(count(246), 2);
  EXPECT_EQ(plot.levelType, 0);
  EXPECT_EQ(entry(plot.plotNames, "CHOROMAP"), "<Group>");
  EXPECT_EQ(h.kdlgstr(plot.legendTitle), "state");
  // A numeric DISCRETE response is a group too; the first title stays.
  Statement& d = add(Stmt::Choromap);
  var(d, Opt::Response, resp, "sales");
  d.setFlag(Flag::Discrete);
  EXPECT_NE(run(d).find(" colorGroup=sales "), std::string::npos);
  EXPECT_EQ(h.kdlgstr(plot.legendTitle), "state");

  // The response data must hold the key.
  host::DataSet* other = h.addDataSet("OTHER", {{"state", C}, {"sales"}});
  plot.respData = other;
  host::Status st = 0;
  run(d, &st);
  EXPECT_EQ(st, 1);
  EXPECT_EQ(args(228), (std::vector<std::string>{"ID=", "ID", "WORK", "OTHER"}));
}

TEST_F(Choromap, DiscreteAttributeMaps) {
  plot.dAttrMapUsable = 1;
  // As initAttrMapIDLookup enters them: as written and in capitals.
  for (const char* id : {"Roads", "ROADS", "RIVERS"}) EXPECT_EQ(plot.dAttrMapIds->put(id, 1.0), 0);
  Statement& s = add(Stmt::Scatter);
  xy(s);
  var(s, Opt::Group, pts, "kind");
  name(s, Opt::AttrId, "roads");
  EXPECT_NE(run(s).find(" subpixel=off Group=ROADS_KIND NAME="), std::string::npos);
  EXPECT_EQ(entry(plot.dAttrMapUsage, "KIND"), "ROADS_KIND");
  EXPECT_EQ(columns(plot.plotDataObject), (std::vector<std::string>{"lon", "lat", "kind"}));

  // The same variable under another map: 854/81, the plain column.
  name(s, Opt::AttrId, "Rivers");
  EXPECT_NE(run(s).find(" Group=kind NAME="), std::string::npos);
  EXPECT_EQ(args(81), (std::vector<std::string>{"Rivers"}));
  // Without a usable DATTRMAP= the ID is not looked at.
  h.messages.clear();
  plot.dAttrMapUsable = 0;
  run(s);
  EXPECT_TRUE(h.messages.empty());

  // A CHOROMAP color group through a map.
  plot.dAttrMapUsable = 1;
  Statement& c = add(Stmt::Choromap);
  var(c, Opt::Response, resp, "state");
  name(c, Opt::AttrId, "RIVERS");
  EXPECT_NE(run(c).find(" id=ID colorGroup=RIVERS_STATE LegendLabel="), std::string::npos);
  EXPECT_EQ(entry(plot.dAttrMapUsage, "STATE"), "RIVERS_STATE");
}

TEST_F(Choromap, GeneratedAttributeVariablesUnderBy) {
  plot.byFlag = 1;
  Statement& s = add(Stmt::Scatter);
  xy(s);
  var(s, Opt::Group, pts, "kind");
  EXPECT_NE(run(s).find(" Group=__ATTRVAR1__ NAME="), std::string::npos);
  EXPECT_NE(run(s).find(" Group=__ATTRVAR1__ NAME="), std::string::npos);
  var(s, Opt::Group, pts, "region");
  EXPECT_NE(run(s).find(" Group=__ATTRVAR2__ NAME="), std::string::npos);
  Statement& c = add(Stmt::Choromap);
  var(c, Opt::Response, resp, "state");
  EXPECT_NE(run(c).find(" colorGroup=__ATTRVAR3__ LegendLabel="), std::string::npos);
  EXPECT_EQ(entry(plot.attrVars, "KIND"), "__ATTRVAR1__");
  EXPECT_EQ(entry(plot.attrVars, "REGION"), "__ATTRVAR2__");
  EXPECT_EQ(entry(plot.attrVars, "STATE"), "__ATTRVAR3__");
  EXPECT_EQ(plot.attrVarCounter, 3);
  // The group columns are still read.
  EXPECT_EQ(columns(plot.plotDataObject),
            (std::vector<std::string>{"lon", "lat", "kind", "region"}));
  // The first grouping variable gives the legend title: its label.
  EXPECT_EQ(h.kdlgstr(plot.legendTitle), "kind");
}

TEST_F(Choromap, RangeAttributeMaps) {
  plot.rAttrMapUsable = 1;
  for (const char* id : {"heat", "HEAT", "COLD"}) EXPECT_EQ(plot.rAttrMapIds->put(id, 1.0), 0);
  Statement& s = add(Stmt::Scatter);
  xy(s);
  var(s, Opt::ColorResponse, pts, "pop");
  name(s, Opt::RAttrId, "Heat");
  EXPECT_NE(run(s).find(" colorResponse=HEAT_POP NAME=\"SCATTER\""), std::string::npos);
  EXPECT_EQ(entry(plot.rAttrMapUsage, "POP"), "HEAT_POP");
  EXPECT_EQ(entry(plot.contLegends, "SCATTER"), "Population");

  name(s, Opt::RAttrId, "cold");
  EXPECT_NE(run(s).find(" ColorResponse=pop NAME="), std::string::npos);
  EXPECT_EQ(args(123), (std::vector<std::string>{"pop"}));

  Statement& c = add(Stmt::Choromap);
  var(c, Opt::Response, resp, "sales");
  name(c, Opt::RAttrId, "cold");
  number(c, Opt::NumLevels, 4);
  EXPECT_NE(run(c).find(" id=ID colorResponse=COLD_SALES LegendLabel="), std::string::npos);
  EXPECT_EQ(entry(plot.contLegends, "CHOROMAP"), "Sales");
}

}  // namespace
}  // namespace qv::test
