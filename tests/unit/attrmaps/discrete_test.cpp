// Discrete attribute maps from a DATTRMAP= data set.
#include "module/attrmaps/attrmaps.h"
#include "support.h"

namespace qv::test {
namespace {

using module::processAttrMapDataSet;

class Discrete : public MapsTest {
 protected:
  void use(std::string var, std::string instance) {
    EXPECT_EQ(plot.dAttrMapUsage->put(var, hs(instance)), 0);
  }
  std::string run(host::DataSet* ds) {
    clearText();
    EXPECT_EQ(processAttrMapDataSet(&h.factory, ds, &plot, out), 0);
    return text();
  }
};

TEST_F(Discrete, WorkedExample) {
  host::DataSet* ds = h.addTable(
      "ATTRS",
      {chr("ID"), chr("VALUE"), chr("MARKERCOLOR"), chr("MARKERSYMBOL"), chr("LINESTYLEELEMENT"),
       chr("FILLCOLOR"), num("FILLTRANSPARENCY")},
      {{"MYID", "A", "red", "circle", "GraphData2", "", kNaN},
       {"MYID", "B", "", "", "", "blue", 0.5}});
  use("GRP", "MYID_GRP");
  EXPECT_EQ(run(ds),
            "DiscreteAttrVar attrvar=MYID_GRP var=GRP attrmap=\"__ATTRMAP__MYID\";"
            "DiscreteAttrMap name=\"__ATTRMAP__MYID\" /; Value \"A\" / markerattrs=( "
            "color=CXFF0000 symbol=circle) lineattrs=GraphData2;Value \"B\" / fillattrs=( "
            "color=CX0000FF transparency=0.5);EndDiscreteAttrMap;");
}

TEST_F(Discrete, OnlyMapsThePlotsUseAreWrittenWithAllTheirBindings) {
  host::DataSet* pts = h.addTable("PTS", {chr("KIND"), num("CLASS")}, {{"a", 1.0}});
  plot.plotData = pts;
  host::DataSet* ds = h.addTable("ATTRS", {chr("ID"), chr("VALUE"), chr("MARKERSYMBOL")},
                                 {{"unused", "x", "star"},
                                  {"a", "", "circle"},
                                  {"A", "y", "square"},
                                  {"other", "z", "plus"}});
  // Two plots use map A with different group variables (one numeric).
  use("KIND", "A_KIND");
  use("CLASS", "a_class");
  EXPECT_EQ(run(ds),
            "DiscreteAttrVar attrvar=A_KIND var=KIND attrmap=\"__ATTRMAP__A\";"
            "DiscreteAttrVar attrvar=a_class var=CLASS attrmap=\"__ATTRMAP__A\";"
            "DiscreteAttrMap name=\"__ATTRMAP__A\" /; "
            // The last bound variable is numeric: a blank value is the missing number.
            "Value \".\" / markerattrs=( symbol=circle);"
            "Value \"y\" / markerattrs=( symbol=square);EndDiscreteAttrMap;");

  // A blank value for a character group variable.
  plot.dAttrMapUsage->clear();
  use("KIND", "A_KIND");
  EXPECT_NE(run(ds).find("Value \" \" / markerattrs=( symbol=circle);"), std::string::npos);
}

// Style elements, attribute groups and values left out (bad sizes,
// colors and words that would break the template) are pinned by the
// end-to-end case module_dattrmap_values.
TEST_F(Discrete, NumericValues) {
  // Keywords, escapes and a quote as the MISSING= text are pinned by the
  // end-to-end case; a numeric VALUE column is written with %g.
  h.setTextOption("MISSING", ".");
  host::DataSet* numeric = h.addTable("NUMS", {chr("ID"), num("VALUE"), chr("NOCASE")},
                                      {{"K", 2.5, "tru"}, {"K", kNaN, ""}});
  use("G", "K_G");
  EXPECT_EQ(run(numeric),
            "DiscreteAttrVar attrvar=K_G var=G attrmap=\"__ATTRMAP__K\";"
            "DiscreteAttrMap name=\"__ATTRMAP__K\" /; Value \"2.5\" /;Value \".\" /;"
            "EndDiscreteAttrMap;");
}

TEST_F(Discrete, NameLiteralsUnderAnyNames) {
  anyNames();
  host::DataSet* ds = h.addTable("ATTRS", {chr("ID"), chr("VALUE")}, {{"M", "v"}});
  use("MY VAR", "M_MY_VAR");
  use("IT'S", "M_IT'S");
  use("eval(sort('X'n, RETAIN=ALL))", "M_eval(sort('X'n, RETAIN=ALL))");
  EXPECT_EQ(run(ds),
            "DiscreteAttrVar attrvar=M_MY_VAR var='MY VAR'n attrmap=\"__ATTRMAP__M\";"
            "DiscreteAttrVar attrvar=M_IT'S var='IT''S'n attrmap=\"__ATTRMAP__M\";"
            "DiscreteAttrVar attrvar=M_eval(sort('X'n, RETAIN=ALL)) var=eval(sort('X'n, "
            "RETAIN=ALL)) attrmap=\"__ATTRMAP__M\";"
            "DiscreteAttrMap name=\"__ATTRMAP__M\" /; Value \"v\" /;EndDiscreteAttrMap;");
}

TEST_F(Discrete, NothingIsReadWithoutUsesAndFailuresWriteNothing) {
  host::DataSet* ds = h.addTable("ATTRS", {chr("ID"), chr("VALUE")}, {{"M", "v"}});
  EXPECT_EQ(run(ds), "");
  EXPECT_EQ(h.nextCalls, 0);

  use("G", "M_G");
  const size_t live = h.factory.live();
  h.factory.failCreateAt(2);  // the second lookup array
  clearText();
  EXPECT_NE(processAttrMapDataSet(&h.factory, ds, &plot, out), 0);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(h.factory.live(), live);

  h.failRewind = true;
  EXPECT_NE(processAttrMapDataSet(&h.factory, ds, &plot, out), 0);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(h.factory.live(), live);

  // The host cannot make texts: the memory path, nothing written.
  h.failRewind = false;
  h.failStrings = true;
  EXPECT_EQ(processAttrMapDataSet(&h.factory, ds, &plot, out), host::kNoMemory);
  EXPECT_EQ(text(), "");
}

}  // namespace
}  // namespace qv::test
