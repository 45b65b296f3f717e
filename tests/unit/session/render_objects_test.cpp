#include "session/render_objects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "runtime/data/dataset.h"
#include "testutil.h"

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
    EXPECT_EQ(plotObject.setDataSet(plot.get(), "PLOTDATA"), 0);
    EXPECT_EQ(plotObject.addColumn("x"), 0);
    EXPECT_EQ(respObject.setDataSet(resp.get(), "RESPONSEDATA"), 0);
    EXPECT_EQ(plotSource.init(&plotObject, plot.get(), &manager), 0);
    EXPECT_EQ(respSource.init(&respObject, resp.get(), &manager), 0);
    EXPECT_EQ(collection.add(&plotSource), 0);
    EXPECT_EQ(collection.add(&respSource), 0);
    EXPECT_EQ(tmpl.compile("tavlo", "define statgraph tavlo;begingraph /;endgraph;end;"), 0);
    std::vector<host::DynamicValue> dyn = {{"__MAPID__", "state", nullptr},
                                           {"__MAP__", "", resp.get()}};
    return manager.build(&collection, &tmpl, "Tavlo", "Sales", dyn, nullptr, 0);
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

// The output settings of a test: images into the test's folder, numbered
// from `counter`.
GraphOutput outputTo(const std::string& dir, int* counter) {
  GraphOutput o;
  o.outDir = dir;
  o.graphsWritten = counter;
  return o;
}

bool isPng(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char sig[8] = {};
  in.read(sig, 8);
  return in.gcount() == 8 && std::string(sig + 1, 3) == "PNG";
}

TEST_F(RenderObjects, OneImageWithoutByNamedInTheLog) {
  int counter = 0;
  const std::string out = dir.str() + "/out";  // made when missing
  GraphManagerImpl manager(log, {}, '.', outputTo(out, &counter));
  CompiledTemplate tmpl(log);
  ASSERT_EQ(build(manager, tmpl), 0);
  // A file already there is replaced.
  std::filesystem::create_directories(out);
  std::ofstream(out + "/tavlo.png") << "not an image";
  EXPECT_EQ(manager.render(), 0);
  EXPECT_EQ(manager.renderings(), 1);
  EXPECT_EQ(counter, 1);
  EXPECT_TRUE(isPng(out + "/tavlo.png"));
  // Without data the map shows the whole world.
  EXPECT_EQ(log.text(),
            "NOTE: The map projection is Equal Earth (+proj=eqearth +lon_0=0), chosen for the "
            "extent of the data.\nNOTE: The map was written to " + out + "/tavlo.png (640 x 480).\n");
}

TEST_F(RenderObjects, NoImageWhenTheStepFailed) {
  int counter = 0;
  GraphOutput o = outputTo(dir.str(), &counter);
  o.stepFailed = [] { return true; };
  GraphManagerImpl manager(log, {}, '.', o);
  CompiledTemplate tmpl(log);
  ASSERT_EQ(build(manager, tmpl), 0);
  EXPECT_EQ(manager.render(), 0);
  EXPECT_EQ(counter, 0);
  EXPECT_FALSE(std::filesystem::exists(dir.str() + "/tavlo.png"));
  EXPECT_NE(log.text().find("No map was written because of the errors above."),
            std::string::npos);
}

TEST(TipFormats, NumericFormatsByNameTrimmedOthersRefused) {
  std::string text = "unchanged";
  EXPECT_TRUE(formatTipValue("DOLLAR10.2", 1234.5, '.', &text));
  EXPECT_EQ(text, "$1,234.50");
  EXPECT_TRUE(formatTipValue("comma10.", 1234567, '.', &text));
  EXPECT_EQ(text, "1,234,567");
  EXPECT_TRUE(formatTipValue("8.2", 3.14159, '.', &text));
  EXPECT_EQ(text, "3.14");
  EXPECT_TRUE(formatTipValue("PERCENT8.1", 0.097, '.', &text));
  EXPECT_EQ(text, "9.7%");
  EXPECT_TRUE(formatTipValue("8.2", std::nan(""), '-', &text));
  EXPECT_EQ(text, "-");
  text = "unchanged";
  EXPECT_FALSE(formatTipValue("$CHAR10.", 1, '.', &text));
  EXPECT_FALSE(formatTipValue("NOSUCH8.", 1, '.', &text));
  EXPECT_FALSE(formatTipValue("", 1, '.', &text));
  EXPECT_EQ(text, "unchanged");
}

TEST(ByTexts, ValuesNamesAndLineOfTheGroup) {
  const std::vector<ByValue> by = {{"Year", "$2,020.00"}, {"state", "CA"}};
  EXPECT_EQ(substituteByValues("Sales #BYVAL(year) in #byvalue( STATE ) (#BYNAME(state))", by),
            "Sales $2,020.00 in CA (state)");
  EXPECT_EQ(substituteByValues("#BYVAL2/#BYVAR1: #BYLINE", by), "CA/Year: Year=$2,020.00, state=CA");
  // References to no BY variable stay as written; a lone # too.
  EXPECT_EQ(substituteByValues("#BYVAL(county) #BYVAL3 #BYVAL( # 5", by),
            "#BYVAL(county) #BYVAL3 #BYVAL( # 5");
  EXPECT_EQ(substituteByValues("#BYLINE", {}), "");
}

TEST_F(RenderObjects, DisplayTextsOfLabelsInTheVariablesFormats) {
  // What data labels, TEXT labels and group legends show: the format FORMAT=
  // gives, the schema's (the bare w.d form too), else BEST12.
  dir.write("lab.csv",
            "name,big,ratio,share,code\n"
            "a,1334795,0.125,-0,7\n"
            "b,-0,-0.001,123456789012345,8\n"
            "c,.,2,0.1,\n");
  dir.write("lab.schema.json", R"({"fields": [{"name": "ratio", "displayFormat": "8.2"},
                                              {"name": "code", "displayFormat": "Z3."}]})");
  DataSetRef r;
  r.member = "lab";
  r.options.format = {{"big", "COMMA12."}, {"code", "4.1"}};
  OpenSettings s;
  s.programDir = dir.str();
  auto ds = openDataSet(r, libs, cache, s, NoteFn());
  DataSetTable table("PLOTDATA", ds.get(), '.');
  auto texts = [&](const char* var) {
    std::string out;
    const render::DataColumn* c = table.column(var);
    if (!c) return std::string("(none)");
    for (size_t row = 0; row < table.rows(); ++row) out += (row ? "|" : "") + c->text(row);
    return out;
  };
  EXPECT_EQ(texts("big"), "1,334,795|0|.");
  EXPECT_EQ(texts("ratio"), "0.13|0.00|2.00");
  EXPECT_EQ(texts("share"), "0|1.2345679E14|0.1");
  EXPECT_EQ(texts("code"), "7.0|8.0|.");
  EXPECT_EQ(texts("name"), "a|b|c");
}

TEST_F(RenderObjects, RunsOfMapColumnsGiveEveryRowItsValue) {
  // A map file's properties and SEGMENT are held by runs of rows, and the
  // region layer reads them so: over a window that starts and ends inside
  // a feature, every row must show what the column of a value per row shows.
  dir.write("parts.geojson", R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "properties": {"name": "Ab", "pop": 7}, "geometry": {"type": "MultiPolygon",
      "coordinates": [[[[0, 0], [1, 0], [1, 1], [0, 0]]], [[[5, 5], [6, 5], [6, 6], [5, 5]]]]}},
    {"type": "Feature", "properties": {"name": "Cd"},
     "geometry": {"type": "Polygon", "coordinates": [[[0, 0], [2, 2], [2, 0], [0, 0]]]}},
    {"type": "Feature", "properties": {"name": "Ef", "pop": 3},
     "geometry": {"type": "Polygon", "coordinates": [[[0, 0], [3, 3], [3, 0], [0, 0]]]}}]})");
  DataSetRef r;
  r.member = "parts";
  r.options.firstobs = 7;
  r.options.obs = 14;
  OpenSettings s;
  s.programDir = dir.str();
  auto ds = openDataSet(r, libs, cache, s, NoteFn());
  DataSetTable table("__MAP__", ds.get(), '.');
  ASSERT_EQ(table.rows(), 8u);
  auto texts = [&](const render::DataColumn* c) {
    std::string out;
    for (size_t row = 0; row < table.rows(); ++row) out += (row ? "|" : "") + c->text(row);
    return out;
  };
  for (const char* var : {"name", "pop", "SEGMENT"}) {
    const render::DataColumn* runs = table.runColumn(var);
    ASSERT_TRUE(runs && runs->runs) << var;
    EXPECT_EQ(runs->size(), 8u);
    EXPECT_EQ(texts(runs), texts(table.column(var))) << var;
  }
  EXPECT_EQ(texts(table.runColumn("name")), "Ab|Ab|Cd|Cd|Cd|Cd|Ef|Ef");
  EXPECT_EQ(texts(table.runColumn("pop")), "7|7|.|.|.|.|3|3");
  EXPECT_EQ(texts(table.runColumn("SEGMENT")), "2|2|1|1|1|1|1|1");
}

TEST_F(RenderObjects, ByVariablesNowhereIsAnError) {
  int counter = 0;
  GraphManagerImpl manager(log, {{"county", false}}, '.', outputTo(dir.str(), &counter));
  CompiledTemplate tmpl(log);
  ASSERT_EQ(build(manager, tmpl), 0);
  // The program's fault, not the host's: the ERROR alone fails the step.
  EXPECT_EQ(manager.render(), 0);
  EXPECT_EQ(log.errorCount(), 1);
  EXPECT_NE(log.text().find("BY variables county"), std::string::npos);
  EXPECT_EQ(counter, 0);
  EXPECT_TRUE(manager.written().empty());
}

TEST_F(RenderObjects, NothingRendersBeforeABuild) {
  int counter = 0;
  GraphManagerImpl manager(log, {}, '.', outputTo(dir.str(), &counter));
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
  EXPECT_NE(manager.build(&collection, &bad, "Tavlo", "", {}, nullptr, 0), 0);
  EXPECT_LT(manager.render(), 0);
}

}  // namespace
}  // namespace qv::rt
