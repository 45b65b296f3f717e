// BY-group value collection, attribute maps from variables, the map ID sets
// and name literals.
#include "module/attrmaps/attrmaps.h"
#include "module/template/bygroup.h"
#include "support.h"

namespace qv::test {
namespace {

using module::ByInfo;
using module::createAttrMapsFromVars;
using module::process_bygroup;

class FromVars : public MapsTest {
 protected:
  void TearDown() override {
    releaseValues();
    MapsTest::TearDown();
  }
  // Gives back what process_bygroup made, before the host goes.
  void releaseValues() {
    plot.valueLists->clear();
    plot.valueListObjects.clear();
    plot.missingTexts = {};
  }
  // Plot data under BY variable STATE; `vars` get generated attribute variables.
  void plotData(std::vector<TableColumn> cols, std::vector<std::vector<Cell>> rows,
                std::vector<std::string> vars) {
    plot.plotData = h.addTable("PTS", std::move(cols), std::move(rows));
    plot.byFlag = 1;
    h.setBy({"STATE"});
    EXPECT_EQ(h.xbyinit(plot.plotData), 0);
    for (size_t i = 0; i < vars.size(); ++i)
      EXPECT_EQ(plot.attrVars->put(vars[i], hs("__ATTRVAR" + std::to_string(i + 1) + "__")), 0);
    if (!vars.empty()) plot.groupVarName = hs(vars.front());
  }
  std::string maps() {
    clearText();
    EXPECT_EQ(createAttrMapsFromVars(&plot, out, 0), 0);
    return text();
  }
  std::vector<std::string> texts(const host::List* l) {
    std::vector<std::string> out;
    for (size_t i = 0; l && i < l->size(); ++i) {
      const auto* s = std::get_if<const host::HStr*>(&l->at(i));
      out.emplace_back(s ? h.kdlgstr(*s) : "?");
    }
    return out;
  }
  const host::List* values(std::string_view var) {
    const host::Value* v = plot.valueLists->get(var);
    const auto* p = v ? std::get_if<void*>(v) : nullptr;
    return p ? dynamic_cast<const host::List*>(static_cast<host::Object*>(*p)) : nullptr;
  }
  ByInfo info;
};

TEST_F(FromVars, EveryGroupIsReadInOrderFirstMet) {
  plotData({chr("STATE"), chr("KIND"), num("SIZE")},
           {{"A", "large", 3.0}, {"A", "small", 1.0}, {"B", "small", -0.0},
            {"C", "medium", 0.0}, {"C", "large", 2.5}},
           {"KIND", "SIZE"});
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_EQ(info.groups, 3);
  EXPECT_EQ(info.observations, 5);
  // A value met only in the last group is still listed.
  EXPECT_EQ(texts(values("KIND")), (std::vector<std::string>{"large", "small", "medium"}));
  // Unformatted numbers as the host shows them, left-justified; -0 is 0.
  EXPECT_EQ(texts(values("SIZE")), (std::vector<std::string>{"3", "1", "0", "2.5"}));
  // The BY groups are rewound for the rendering.
  Table* t = h.table(plot.plotData);
  EXPECT_EQ(t->group, 0);

  // The map of a text variable is pinned by the end-to-end BY case.
  EXPECT_NE(maps().find("DiscreteAttrVar attrvar=__ATTRVAR2__ var=SIZE attrmap=\"__ATTRMAP__1\";"
                        "DiscreteAttrMap name=\"__ATTRMAP__1\" / autocycleattrs=1;Value \"3\";"
                        "Value \"1\";Value \"0\";Value \"2.5\";EndDiscreteAttrMap;"),
            std::string::npos);
}

TEST_F(FromVars, FormattedValues) {
  plotData({chr("STATE"), num("CLASS", "3."), num("PRICE", "DOLLAR8.2"), chr("NOTE", "$3.")},
           {{"A", 1.1, 1.5, "abcdef"}, {"A", 1.2, 1.5, "abcxyz"}, {"B", 2.4, 10.0, "q\"&"}},
           {"CLASS", "PRICE", "NOTE"});
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 1), 0);
  // Values that format to the same text are collected once.
  EXPECT_EQ(texts(values("CLASS")), (std::vector<std::string>{"1", "2"}));
  EXPECT_EQ(texts(values("PRICE")), (std::vector<std::string>{"$1.50", "$10.00"}));
  EXPECT_EQ(texts(values("NOTE")), (std::vector<std::string>{"abc", "q\"&"}));
  // Values are escaped in the map.
  EXPECT_NE(maps().find("Value \"q(*ESC*){unicode '0022'x}(*ESC*){unicode '0026'x}\";"),
            std::string::npos);
}

TEST_F(FromVars, MissingValues) {
  h.setTextOption("MISSING", "X");
  plotData({chr("STATE"), num("N"), chr("C"), num("M")},
           {{"A", 1.0, "", kNaN}, {"A", kNaN, "c", kNaN}, {"B", kNaN, "", 4.0}}, {"N", "C"});
  EXPECT_EQ(plot.attrVars->put("M", hs("__ATTRVAR3__")), 0);
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_EQ(texts(values("N")), (std::vector<std::string>{"1", " "}));
  EXPECT_EQ(texts(values("C")), (std::vector<std::string>{" ", "c"}));
  // Each variable's missing value is written as its own format shows it: the
  // numbers' "X" does not stand in for a blank text.
  const std::string m = maps();
  EXPECT_NE(m.find("attrmap=\"__ATTRMAP__\";DiscreteAttrMap name=\"__ATTRMAP__\" / "
                   "autocycleattrs=1;Value \"1\";Value \"X\";EndDiscreteAttrMap;"),
            std::string::npos) << m;
  EXPECT_NE(m.find("autocycleattrs=1;Value \" \";Value \"c\";EndDiscreteAttrMap;"),
            std::string::npos) << m;
  EXPECT_NE(m.find("autocycleattrs=1;Value \"X\";Value \"4\";EndDiscreteAttrMap;"),
            std::string::npos) << m;
}

TEST_F(FromVars, BlankNumbersWithoutMissingText) {
  plotData({chr("STATE"), num("N")}, {{"A", kNaN}, {"A", 2.0}}, {"N"});
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_NE(maps().find("Value \".\";Value \"2\";"), std::string::npos);
}

TEST_F(FromVars, NameLiteralsAndSortExpressions) {
  anyNames();
  plotData({chr("STATE"), chr("my var"), chr("B")}, {{"A", "v", "w"}}, {"MY VAR", "B"});
  EXPECT_EQ(plot.attrVars->put("eval(sort('MY VAR'n, RETAIN=ALL))", hs("__ATTRVAR9__")), 0);
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_EQ(plot.valueLists->size(), 2u);  // the sort expression shares its variable's
  EXPECT_EQ(maps(),
            "DiscreteAttrVar attrvar=__ATTRVAR1__ var='MY VAR'n attrmap=\"__ATTRMAP__\";"
            "DiscreteAttrVar attrvar=__ATTRVAR9__ var=eval(sort('MY VAR'n, RETAIN=ALL)) "
            "attrmap=\"__ATTRMAP__\";"
            "DiscreteAttrMap name=\"__ATTRMAP__\" / autocycleattrs=1;Value \"v\";"
            "EndDiscreteAttrMap;"
            // Later maps quote their variable too.
            "DiscreteAttrVar attrvar=__ATTRVAR2__ var='B'n attrmap=\"__ATTRMAP__1\";"
            "DiscreteAttrMap name=\"__ATTRMAP__1\" / autocycleattrs=1;Value \"w\";"
            "EndDiscreteAttrMap;");
}

TEST_F(FromVars, VariablesOfOtherDataSetsAndFailures) {
  // A grouped region layer: its variable lives in the response data.
  plotData({chr("STATE"), chr("KIND")}, {{"A", "k"}}, {"KIND"});
  plot.respData = h.addTable("RESP", {chr("ID"), chr("ZONE")}, {{"1", "north"}, {"2", "south"}});
  EXPECT_EQ(plot.attrVars->put("ZONE", hs("__ATTRVAR2__")), 0);
  EXPECT_EQ(plot.attrVars->put("NOWHERE", hs("__ATTRVAR3__")), 0);
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_EQ(texts(values("ZONE")), (std::vector<std::string>{"north", "south"}));
  EXPECT_EQ(info.groups, 1);
  // A variable found nowhere is still bound, to an empty map.
  EXPECT_NE(maps().find("DiscreteAttrVar attrvar=__ATTRVAR3__ var=NOWHERE "
                        "attrmap=\"__ATTRMAP__2\";DiscreteAttrMap name=\"__ATTRMAP__2\" / "
                        "autocycleattrs=1;EndDiscreteAttrMap;"),
            std::string::npos);

  // Failing host calls stop the collection and keep what was collected.
  releaseValues();
  EXPECT_EQ(plot.valueLists->size(), 0u);
  h.failRewind = true;
  EXPECT_NE(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_EQ(texts(values("KIND")), std::vector<std::string>{});
  h.failRewind = false;
  releaseValues();
  h.factory.failCreateAt(2);  // a table it makes
  EXPECT_NE(process_bygroup(&h.factory, &plot, &info, 1), 0);
  EXPECT_EQ(h.table(plot.plotData)->group, 0);
}

TEST_F(FromVars, NothingWithoutValueLists) {
  EXPECT_EQ(maps(), "");
  EXPECT_EQ(process_bygroup(&h.factory, &plot, &info, 2), 0);
  EXPECT_EQ(process_bygroup(&h.factory, nullptr, nullptr, 1), 0);
}

TEST_F(FromVars, AttributeMapIdSets) {
  host::DataSet* ds = h.addTable("ATTRS", {chr("VALUE"), chr("id")},
                                 {{"a", "MyMap"}, {"b", "   "}, {"c", "other"}, {"d", "MYMAP"}});
  EXPECT_EQ(module::initAttrMapIDLookup(&h.factory, ds, &plot, plot.dAttrMapIds), 0);
  EXPECT_EQ(plot.dAttrMapIds->size(), 4u);  // MyMap MYMAP other OTHER
  EXPECT_TRUE(module::attrMapIdKnown(plot.dAttrMapIds, "MyMap"));
  EXPECT_TRUE(module::attrMapIdKnown(plot.dAttrMapIds, "mymap"));
  EXPECT_TRUE(module::attrMapIdKnown(plot.dAttrMapIds, "Other"));
  EXPECT_FALSE(module::attrMapIdKnown(plot.dAttrMapIds, ""));
  EXPECT_FALSE(module::attrMapIdKnown(plot.dAttrMapIds, "map"));
  const host::Value* one = plot.dAttrMapIds->get("MyMap");
  ASSERT_NE(one, nullptr);
  EXPECT_EQ(std::get<double>(*one), 1.0);
  // Positioned at the start again.
  EXPECT_TRUE(h.xnext(ds));
  EXPECT_EQ(h.xgetchr(ds, 0), "a");

  // Blank IDs everywhere: an empty set. No ID column: 1.
  host::DataSet* blank = h.addTable("BLANK", {chr("ID")}, {{""}, {" "}});
  EXPECT_EQ(module::initAttrMapIDLookup(&h.factory, blank, &plot, plot.rAttrMapIds), 0);
  EXPECT_EQ(plot.rAttrMapIds->size(), 0u);
  host::DataSet* none = h.addTable("NONE", {chr("VALUE")}, {{"x"}});
  EXPECT_NE(module::initAttrMapIDLookup(&h.factory, none, &plot, plot.rAttrMapIds), 0);
}

TEST_F(FromVars, NameLiteral) {
  EXPECT_EQ(module::nameLiteral("it's"), "'it''s'n");
  EXPECT_EQ(module::scriptVVNVar(out, hs("my var")), 0);
  EXPECT_EQ(module::scriptVVNVar(out, hs("")), 0);
  EXPECT_EQ(module::scriptVVNVar(out, nullptr), 0);
  EXPECT_EQ(text(), "'my var'n");
}

}  // namespace
}  // namespace qv::test
