#include "runtime/session/render_objects.h"

#include <gtest/gtest.h>

#include "../data/testutil.h"
#include "runtime/data/dataset.h"

namespace qv::rt {
namespace {

using testing::TempDir;

class RenderObjects : public ::testing::Test {
 protected:
  void SetUp() override {
    log.setStream(nullptr);
    log.setCapture(true);
    libs.assign("work", dir.str());
    dir.write("pts.csv",
              "year,state,x\n"
              "2020,AL,1\n"
              "2020,CA,2\n"
              "2020,CA,3\n"
              "2021,TX,4\n");
    dir.write("pts.schema.json",
              R"({"fields": [{"name": "year", "displayFormat": "DOLLAR10.2"}]})");
    dir.write("resp.csv", "state,sales\nAL,1\nCA,2\n");
  }

  std::unique_ptr<host::DataSet> open(const std::string& member) {
    DataSetRef r;
    r.member = member;
    OpenSettings s;
    s.programDir = dir.str();
    return openDataSet(r, libs, cache, s, NoteFn());
  }

  // A graph with the plot data and the response data as sources.
  host::Status build(GraphManagerImpl& manager, CompiledTemplate& tmpl) {
    plot = open("pts");
    resp = open("resp");
    plotObject.setDataSet(plot.get(), "PLOTDATA");
    plotObject.addColumn("x");
    respObject.setDataSet(resp.get(), "RESPONSEDATA");
    EXPECT_EQ(plotSource.init(&plotObject, plot.get(), &manager), 0);
    EXPECT_EQ(respSource.init(&respObject, resp.get(), &manager), 0);
    EXPECT_EQ(collection.add(&plotSource), 0);
    EXPECT_EQ(collection.add(&respSource), 0);
    EXPECT_EQ(tmpl.compile("tavlo", "define statgraph tavlo;begingraph /;endgraph;end;"), 0);
    std::vector<host::DynamicValue> dyn = {{"__MAPID__", "state", nullptr},
                                           {"__MAP__", "", resp.get()}};
    return manager.build(&collection, &tmpl, "Tavlo", "Sales", dyn, nullptr);
  }

  Log log;
  TempDir dir;
  Libraries libs;
  DataCache cache;
  std::unique_ptr<host::DataSet> plot, resp;
  DataObjectImpl plotObject, respObject;
  DataSourceImpl plotSource, respSource;
  DataCollectionImpl collection;
};

TEST_F(RenderObjects, OneRenderingWithoutBy) {
  GraphManagerImpl manager(log, {}, '.');
  CompiledTemplate tmpl(log);
  ASSERT_EQ(build(manager, tmpl), 0);
  EXPECT_EQ(manager.render(), 0);
  EXPECT_EQ(manager.renderings(), 1);
  EXPECT_EQ(log.text(),
            "NOTE: Graph Tavlo from template tavlo (\"Sales\"): data PLOTDATA (x; 4 "
            "observations), RESPONSEDATA (no columns; 2 observations); dynamic values "
            "__MAPID__=state, __MAP__=WORK.RESP.\n");
}

TEST_F(RenderObjects, OneRenderingPerByGroupWithFormattedValues) {
  GraphManagerImpl manager(log, {{"year", false}, {"state", false}}, '.');
  CompiledTemplate tmpl(log);
  ASSERT_EQ(build(manager, tmpl), 0);
  EXPECT_EQ(manager.render(), 0);
  EXPECT_EQ(manager.renderings(), 3);
  const std::string text = log.text();
  EXPECT_NE(text.find("for year=$2,020.00, state=AL: data PLOTDATA (x; 1 observation), "
                      "RESPONSEDATA (no columns; 2 observations)"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("for year=$2,020.00, state=CA: data PLOTDATA (x; 2 observations)"),
            std::string::npos);
  EXPECT_NE(text.find("for year=$2,021.00, state=TX: data PLOTDATA (x; 1 observation)"),
            std::string::npos);
}

TEST_F(RenderObjects, ByVariablesNowhereIsAnError) {
  GraphManagerImpl manager(log, {{"county", false}}, '.');
  CompiledTemplate tmpl(log);
  ASSERT_EQ(build(manager, tmpl), 0);
  EXPECT_LT(manager.render(), 0);
  EXPECT_EQ(log.errorCount(), 1);
  EXPECT_NE(log.text().find("BY variables county"), std::string::npos);
}

TEST_F(RenderObjects, NothingRendersBeforeABuild) {
  GraphManagerImpl manager(log, {}, '.');
  EXPECT_LT(manager.render(), 0);

  // A template that did not compile cannot be built into a graph.
  CompiledTemplate bad(log, [](std::string_view) {
    render::CompileResult r;
    r.error = "unknown statement Scatterplott";
    r.offset = 23;
    return r;
  });
  const std::string text =
      "define statgraph tavlo;Scatterplott x=a y=b;endgraph;end;and a long tail to cut";
  EXPECT_NE(bad.compile("tavlo", text), 0);
  EXPECT_EQ(log.text(),
            "ERROR: The graph template tavlo does not compile at character 24 "
            "(\"Scatterplott x=a y=b;endgraph;end;and a ...\"): unknown statement "
            "Scatterplott\n");
  EXPECT_NE(manager.build(&collection, &bad, "Tavlo", "", {}, nullptr), 0);
  EXPECT_LT(manager.render(), 0);
}

}  // namespace
}  // namespace qv::rt
