#include <gtest/gtest.h>

#include <algorithm>

#include "driver_host.h"
#include "module/entry/driver.h"
#include "module/entry/entry.h"
#include "module/grammar/grammar.h"

namespace qv::test {
namespace {

using host::Statement;
using host::StatementList;
using module::Opt;
using module::PlotContext;
using module::Stmt;

// What a translator saw when the statement loop called it.
struct Call {
  Stmt kind;
  PlotContext plot;  // the context as the translator got it
  bool nlDecOn;
};
std::vector<Call> g_calls;
host::Status g_plotResult = 0;

Call record(const Statement& n, PlotContext* p) {
  return Call{Stmt(n.statement), *p, host::host().xoptbgt("NLDECSEPARATOR")};
}
host::Status onPlot(const Statement& n, PlotContext* p, host::Stream*, int) {
  g_calls.push_back(record(n, p));
  return g_plotResult;
}
host::Status onLegend(const Statement& n, PlotContext* p, host::Stream*, int, int) {
  g_calls.push_back(record(n, p));
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
void setVar(Statement& n, Opt o, std::string name) {
  n.slot(o).kind = host::kSlotName;
  n.slot(o).var.name = name;
}
void setText(Statement& n, Opt o, std::string text) {
  n.slot(o).kind = host::kSlotText;
  n.slot(o).text = text;
}

class Driver : public testing::Test {
 protected:
  void SetUp() override {
    h.install();
    module::stepTranslators().plot = onPlot;
    module::stepTranslators().legend = onLegend;
    module::stepTranslators().gradLegend = onLegend;
    map = h.addDataSet("WORK", "MAP", {{"ID", 2}, {"LONG", 1}, {"LAT", 1}});
    resp = h.addDataSet("WORK", "RESP", {{"ID", 2}, {"SALES", 1}});
    pts = h.addDataSet("WORK", "PTS", {{"X", 1}, {"Y", 1}});
  }
  void TearDown() override {
    module::stepTranslators() = module::StepTranslators{};
    g_plotResult = 0;
  }

  // Runs one step; whatever the outcome, nothing may be left behind.
  host::Status run(std::function<void(StatementList&, Statement& proc)> body) {
    g_calls.clear();
    h.messages.clear();
    h.logLines.clear();
    h.program = [&](StatementList& l) { body(l, add(l, Stmt::Tavlo)); };
    host::Status code = module::qortavlo();
    EXPECT_EQ(h.exitCode, code);
    EXPECT_EQ(h.factory.live(), 0u);
    EXPECT_EQ(h.liveBlocks(), 0u);
    return code;
  }
  int count(int number, int set = 854) const {
    return int(std::count_if(h.messages.begin(), h.messages.end(), [&](auto& m) {
      return m.set == set && m.number == number;
    }));
  }
  std::vector<std::string> args(int number) const {
    for (auto& m : h.messages)
      if (m.set == 854 && m.number == number) return m.args;
    return {};
  }
  // A region layer over MAP shaded by SALES of RESP.
  void choropleth(StatementList& l, Statement& proc) {
    setData(proc, Opt::MapData, map);
    setData(proc, Opt::MapRespData, resp);
    setVar(add(l, Stmt::Choromap), Opt::Response, "SALES");
  }

  DriverHost h;
  host::DataSet *map, *resp, *pts;
};

TEST_F(Driver, ObservationCounts) {
  struct Case {
    std::map<int, int64_t> items;
    host::Status code;
    int message;  // 0: none
    int set = 854;
  };
  for (const Case& c : {Case{{{3, 0}}, 1012, 237},  // stored count
                        Case{{{35, 1}, {24, 4}}, 0, 0},
                        Case{{{95, 0}}, 112, 7, 855}}) {
    host::DataSet* ds = h.addDataSet("WORK", "P", {{"X", 1}}, 3, c.items);
    EXPECT_EQ(run([&](StatementList& l, Statement& p) {
                setData(p, Opt::PlotData, ds);
                add(l, Stmt::OpenStreetMap);
                add(l, Stmt::Scatter);
              }),
              c.code);
    if (c.message) {
      EXPECT_EQ(count(c.message, c.set), 1);
    }
    EXPECT_EQ(g_calls.size(), c.message ? 0u : 2u);
  }
}

TEST_F(Driver, StatementLoopSeesTheStepSettings) {
  h.setSetting(4429, "ANY");
  h.setSwitch("NLDECSEPARATOR", true);
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              choropleth(l, p);
              setData(p, Opt::PlotData, pts);
              p.setFlag(host::kFlagBy);
              add(l, Stmt::Scatter).setFlag(module::Flag::NoMissingGroup);
              add(l, Stmt::Scatter);
            }),
            0);
  ASSERT_EQ(g_calls.size(), 3u);
  const PlotContext& scatter = g_calls[1].plot;
  EXPECT_TRUE(module::plotFlag(scatter, host::kFlagAnyNames));
  EXPECT_TRUE(module::plotFlag(scatter, module::Flag::NoMissingGroup));
  EXPECT_FALSE(module::plotFlag(g_calls[2].plot, module::Flag::NoMissingGroup));
  EXPECT_EQ(scatter.byFlag, 1);
  EXPECT_EQ(scatter.cycleAttrs, 1);  // two plots of one kind
  EXPECT_EQ(scatter.graphDataCounter, 1);
  EXPECT_NE(scatter.categorization, nullptr);
  EXPECT_NE(scatter.respColumns, nullptr);
  EXPECT_EQ(scatter.mapColumns, nullptr);
  EXPECT_FALSE(g_calls[0].nlDecOn);
  EXPECT_TRUE(h.xoptbgt("NLDECSEPARATOR"));

  h.setSetting(4429, "STRICT");
  g_plotResult = 1;  // a translator's failure ends the step with its code
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              choropleth(l, p);
              setData(p, Opt::PlotData, pts);
              p.setFlag(module::Flag::NoCycleAttrs);
              add(l, Stmt::Scatter);
            }),
            1);
  EXPECT_FALSE(module::plotFlag(g_calls[0].plot, host::kFlagAnyNames));
  EXPECT_EQ(g_calls[0].plot.cycleAttrs, 0);
  EXPECT_EQ(g_calls[0].plot.graphDataCounter, 0);
  EXPECT_TRUE(h.xoptbgt("NLDECSEPARATOR"));
  g_plotResult = 0;

  host::DataSet* pipe = h.addDataSet("WORK", "PIPE", {{"X", 1}}, 3, {{159, 1}});
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              setData(p, Opt::PlotData, pipe);
              add(l, Stmt::OpenStreetMap);
              add(l, Stmt::Scatter);
              add(l, Stmt::Series);
            }),
            1012);
  EXPECT_EQ(count(240), 1);
}

TEST_F(Driver, ParseOutcomesAndSettings) {
  h.parseErrors = 2;
  EXPECT_EQ(run([&](StatementList& l, Statement& p) { choropleth(l, p); }), 1012);
  h.parseErrors = 0;
  h.parseStatus = 112;
  EXPECT_EQ(run([](StatementList&, Statement&) {}), 112);
  h.parseStatus = 0;
  h.factory.made = 0;
  h.program = nullptr;
  EXPECT_EQ(module::qortavlo(), 0);  // nothing to do
  EXPECT_EQ(h.factory.made, 0);

  h.failStrings = true;  // PLOTCS= cannot be escaped
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              choropleth(l, p);
              setData(p, Opt::PlotData, pts);
              setText(p, Opt::PlotCs, "WGS84");
              add(l, Stmt::Scatter);
            }),
            1012);
  EXPECT_EQ(args(245), std::vector<std::string>{"PLOTCS"});
  h.failStrings = false;

  host::DataSet* noValue = h.addDataSet("WORK", "DA", {{"ID", 2}});
  host::DataSet* pipe = h.addDataSet("WORK", "RA", {{"ID", 2}, {"MIN", 1}}, 3, {{159, 1}});
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              choropleth(l, p);
              setData(p, Opt::DAttrMap, noValue);
              setData(p, Opt::RAttrMap, pipe);
            }),
            0);
  EXPECT_EQ(count(68), 1);
  EXPECT_EQ(args(134), std::vector<std::string>{"RATTRMAP"});
  EXPECT_EQ(g_calls.at(0).plot.dAttrMapUsable + g_calls.at(0).plot.rAttrMapUsable, 0);

  h.noVarNameRule = true;  // the host cannot say which names are allowed
  h.factory.made = 0;
  EXPECT_EQ(run([&](StatementList& l, Statement& p) { choropleth(l, p); }), 112);
  EXPECT_EQ(h.serviceErrors.size(), 1u);
  EXPECT_EQ(h.factory.made, 0);
}

// Every object the step makes is released, whichever of them fails.
TEST_F(Driver, NoObjectLeftOnAnyPath) {
  h.setSwitch("NLDECSEPARATOR", true);
  auto full = [&](StatementList& l, Statement& p) {
    choropleth(l, p);
    setData(p, Opt::PlotData, pts);
    p.setFlag(host::kFlagBy);
    add(l, Stmt::Scatter);
  };
  ASSERT_EQ(run(full), 0);
  const int objects = h.factory.made;
  ASSERT_GT(objects, 20);
  for (int n = 1; n <= objects; ++n) {
    h.factory.made = 0;
    h.factory.failAt = n;
    EXPECT_EQ(run(full), 112) << n;
    EXPECT_TRUE(h.xoptbgt("NLDECSEPARATOR"));
  }
}

// --- Rendering hand-off ---------------------------------------------------------

std::vector<std::string> names(const std::vector<host::DynamicValue>& values) {
  std::vector<std::string> out;
  for (auto& v : values) out.push_back(v.name + "=" + (v.dataSet ? "(data set)" : v.value));
  return out;
}

TEST_F(Driver, HandOffCarriesTemplateDataAndDynamicValues) {
  h.rendered = {};
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              choropleth(l, p);
              setData(p, Opt::PlotData, pts);
              setText(p, Opt::PlotCs, "WGS84");
              setText(p, Opt::MapCs, "EPSG \"4326\"");
              setText(p, Opt::Description, "Sales by state");
              setVar(l.nodes.back(), Opt::Id, "ID");
              add(l, Stmt::OpenStreetMap);
              add(l, Stmt::Scatter);
            }),
            0);
  const Rendered& r = h.rendered;
  EXPECT_EQ(r.compiledName, "tavlo");
  EXPECT_EQ(r.label, "Tavlo");
  EXPECT_EQ(r.description, "Sales by state");
  EXPECT_EQ(names(r.dynamics),
            (std::vector<std::string>{"__MAPID__=ID", "__ID__=ID", "__PLOTCS__=WGS84",
                                      "__MAPCS__=EPSG (*ESC*){unicode '0022'x}4326(*ESC*){unicode '0022'x}",
                                      "MapProvider=OpenStreetMapProvider", "__MAP__=(data set)"}));
  EXPECT_EQ(r.dynamics.back().dataSet, map);
  EXPECT_EQ(r.sources, (std::vector<std::string>{"PLOTDATA", "RESPONSEDATA"}));
  EXPECT_TRUE(r.finishedObjects);
  EXPECT_EQ(r.renders, 1);
  EXPECT_FALSE(r.byTexts);
}

// A missing renderer ends the step before any translator runs, and puts the
// output kind back on the way out.
TEST_F(Driver, RendererFolderMissing) {
  h.clearEnv("QOR_KDLG_CRENDER_PATH");
  h.rendered = {};
  h.outputFormat() = "PDF";
  EXPECT_EQ(run([&](StatementList& l, Statement& p) {
              choropleth(l, p);
              add(l, Stmt::OpenStreetMap);
            }),
            112);
  EXPECT_EQ(count(226), 1);
  EXPECT_TRUE(g_calls.empty());
  EXPECT_TRUE(h.rendered.text.empty());
  EXPECT_EQ(h.outputFormat(), "PDF");  // put back on this way out too
}

TEST_F(Driver, OutputSettingsHoldForTheStepOnly) {
  struct Case {
    const char* format;
    const char* during;
    int notes;
  };
  for (Case c : {Case{"PDF", "PNG", 1}, Case{"STATIC", "PNG", 0}, Case{"PNG", "PNG", 0}}) {
    h.outputFormat() = c.format;
    h.rendered = {};
    EXPECT_EQ(run([&](StatementList& l, Statement& p) { choropleth(l, p); }), 0);
    EXPECT_EQ(h.rendered.formatAtCompile, c.during);
    EXPECT_EQ(count(207), c.notes);
    EXPECT_EQ(h.outputFormat(), c.format);
  }
  h.outputFormat() = "PNG";
}

TEST_F(Driver, CompileAndRenderFailuresEndTheStep) {
  h.failCompile = true;
  h.rendered = {};
  EXPECT_EQ(run([&](StatementList& l, Statement& p) { choropleth(l, p); }), 112);
  EXPECT_EQ(count(212), 1);
  EXPECT_EQ(h.rendered.renders, 0);
  h.failCompile = false;

  h.renderResult = -7;
  h.serviceErrors.clear();
  EXPECT_EQ(run([&](StatementList& l, Statement& p) { choropleth(l, p); }), 112);
  EXPECT_EQ(h.serviceErrors, std::vector<host::Status>{-7});
  h.renderResult = 0;
}

// Memory that runs out anywhere ends the step with 1016 after the host's
// message, and gives back whatever was taken.
TEST_F(Driver, MemoryExhaustedAnywhere) {
  auto full = [&](StatementList& l, Statement& p) {
    choropleth(l, p);
    setText(p, Opt::MapCs, "a \"b\"");
  };
  const int before = h.allocCalls();
  ASSERT_EQ(run(full), 0);
  const int allocations = h.allocCalls() - before;
  ASSERT_GE(allocations, 3);
  for (int n = 1; n <= allocations; ++n) {
    const int messages = h.memMessages();
    h.failAllocAt(n);
    const host::Status code = run(full);
    EXPECT_TRUE(code == host::kNoMemory || code == 1012) << n;
    EXPECT_EQ(h.memMessages(), messages + 1) << n;
    h.failAllocAt(0);
  }
}

}  // namespace
}  // namespace qv::test
