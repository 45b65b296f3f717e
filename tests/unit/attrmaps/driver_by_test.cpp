// The driver's BY-group and attribute-map steps, run as a whole step with a
// stand-in plot translator.
#include "module/attrmaps/attrmaps.h"
#include "module/entry/driver.h"
#include "module/entry/entry.h"
#include "module/grammar/grammar.h"
#include "support.h"

namespace qv::test {
namespace {

using host::Statement;
using host::StatementList;
using module::Opt;
using module::PlotContext;
using module::Stmt;

// Stands in for the SCATTER translator: GROUP=KIND under BY groups, and a
// range map of the RATTRMAP= data set for SIZE.
host::Status groupedScatter(const Statement& n, PlotContext* p, host::Stream*, int) {
  if (Stmt(n.statement) != Stmt::Scatter) return 0;
  host::Host& h = host::host();
  p->groupVarName = h.kdltxt("KIND", -1);
  EXPECT_EQ(p->attrVars->put("KIND", h.kdltxt("__ATTRVAR1__", -1)), 0);
  EXPECT_EQ(p->attrVarList->put("__ATTRVAR1__", h.kdltxt("KIND", -1)), 0);
  if (module::attrMapIdKnown(p->rAttrMapIds, "sizes")) {
    EXPECT_EQ(p->rAttrMapUsage->put("SIZE", h.kdltxt("sizes_SIZE", -1)), 0);
  }
  return 0;
}

Statement& add(StatementList& l, Stmt k) {
  Statement& n = l.append();
  n.statement = int(k);
  n.name = module::tavloGrammar().statements[int(k)].keyword;
  n.keyword = n.name;
  return n;
}

void setData(Statement& n, Opt o, host::DataSet* ds) {
  n.slot(o).kind = host::kSlotDataSet;
  n.slot(o).dataSet = ds;
}

class DriverBy : public testing::Test {
 protected:
  void SetUp() override {
    h.install();
    module::stepTranslators().plot = groupedScatter;
  }
  void TearDown() override { module::stepTranslators() = module::StepTranslators{}; }

  // The template the step compiled.
  const std::string& compiled() const { return h.compiledText; }

  TableHost h;
};

TEST_F(DriverBy, ValuesOfAllGroupsAndTheByColumns) {
  host::DataSet* pts = h.addTable("PTS", {chr("STATE"), chr("KIND"), num("SIZE")},
                                  {{"AK", "small", 1.0}, {"CA", "large", 2.0},
                                   {"CA", "small", 3.0}, {"WA", "heliport", 4.0}});
  host::DataSet* ranges = h.addTable("RANGES", {chr("ID"), num("MIN"), num("MAX")},
                                     {{"sizes", 0.0, 5.0}});
  h.setBy({"state"});
  EXPECT_EQ(h.xbyinit(pts), 0);
  h.program = [&](StatementList& l) {
    Statement& proc = add(l, Stmt::Tavlo);
    setData(proc, Opt::PlotData, pts);
    setData(proc, Opt::RAttrMap, ranges);
    add(l, Stmt::OpenStreetMap);
    add(l, Stmt::Scatter);
  };
  EXPECT_EQ(module::qortavlo(), 0);
  EXPECT_EQ(h.messages.size(), 0u);
  EXPECT_EQ(compiled(),
            "define statgraph tavlo;dynamic __BYLINE__;begingraph /;"
            "RangeAttrVar attrvar=sizes_SIZE var=SIZE attrmap=\"__RATTRMAP__SIZES\";"
            "RangeAttrMap name=\"__RATTRMAP__SIZES\";Range 0-5 /;EndRangeAttrMap;"
            "DiscreteAttrVar attrvar=__ATTRVAR1__ var=KIND attrmap=\"__ATTRMAP__\";"
            "DiscreteAttrMap name=\"__ATTRMAP__\" / autocycleattrs=1;Value \"small\";Value "
            "\"large\";Value \"heliport\";EndDiscreteAttrMap;"
            "EntryTitle __BYLINE__ / textattrs=(size=GraphLabelText:fontsize);"
            "layout overlaymap / pad=(top=5);endlayout;endgraph;end;");
  // The plot data carry the group variable and the BY variable.
  const auto& cols = h.factory.dataColumns["PLOTDATA"];
  EXPECT_NE(std::find(cols.begin(), cols.end(), "KIND"), cols.end());
  EXPECT_NE(std::find(cols.begin(), cols.end(), "STATE"), cols.end());
  // Everything the step made is released, the value lists too.
  EXPECT_EQ(h.factory.live(), 0u);
  EXPECT_EQ(h.liveBlocks(), 0u);
}

TEST_F(DriverBy, WithoutByGroupsNoMapsFromVariables) {
  host::DataSet* pts = h.addTable("PTS", {chr("KIND")}, {{"a"}});
  h.program = [&](StatementList& l) {
    setData(add(l, Stmt::Tavlo), Opt::PlotData, pts);
    add(l, Stmt::OpenStreetMap);
    add(l, Stmt::Scatter);
  };
  EXPECT_EQ(module::qortavlo(), 0);
  EXPECT_EQ(compiled().find("AttrMap"), std::string::npos);
  EXPECT_NE(compiled().find("endgraph;"), std::string::npos);
  EXPECT_EQ(h.factory.live(), 0u);
}

}  // namespace
}  // namespace qv::test
