// Range attribute maps from a RATTRMAP= data set.
#include "module/attrmaps/attrmaps.h"
#include "support.h"

namespace qv::test {
namespace {

using module::processRangeAttrMapDataSet;

class Range : public MapsTest {
 protected:
  void use(std::string var, std::string instance) {
    EXPECT_EQ(plot.rAttrMapUsage->put(var, hs(instance)), 0);
  }
  std::string run(host::DataSet* ds) {
    clearText();
    EXPECT_EQ(processRangeAttrMapDataSet(&h.factory, ds, &plot, out), 0);
    return text();
  }
  // One map R of the given rows over MIN, MAX (both character), used by POP.
  std::string ranges(std::vector<std::vector<Cell>> rows, bool withMax = true) {
    std::vector<TableColumn> cols = {chr("ID"), chr("MIN")};
    if (withMax) cols.push_back(chr("MAX"));
    for (auto& r : rows) r.emplace(r.begin(), std::in_place_type<std::string>, "R");
    if (!withMax)
      for (auto& r : rows) r.resize(2);
    plot.rAttrMapUsage->clear();
    use("POP", "R_POP");
    return run(h.addTable("RANGES", cols, rows));
  }
  static std::string map(std::string body) {
    return "RangeAttrVar attrvar=R_POP var=POP attrmap=\"__RATTRMAP__R\";"
           "RangeAttrMap name=\"__RATTRMAP__R\";" +
           body + "EndRangeAttrMap;";
  }
  static constexpr const char* kBinding =
      "RangeAttrVar attrvar=R_POP var=POP attrmap=\"__RATTRMAP__R\";";
};

TEST_F(Range, EndsAndExclusions) {
  EXPECT_EQ(ranges({{"_MIN_", "_MAXABS_"}, {"_negmax_", "-5.5"}, {"_NEGMAXABS_", "_max_"}}),
            map("Range min -maxabs  /;Range negmax --5.5 /;Range negmaxabs -max  /;"));
  host::DataSet* ds = h.addTable(
      "NUMS", {chr("ID"), num("MIN"), num("MAX"), chr("EXCLUDEMIN"), num("EXCLUDEMAX")},
      {{"R", 0.0, 10.0, "TRUE", 1.0}, {"R", -2.5, 1e6, "yes", 0.0}});
  EXPECT_EQ(run(ds), map("Range 0<-<10 /;Range -2.5-1e+06 /;"));
  // Numbers read back as the same values; zero has no sign. Character
  // numbers are written as given.
  ds = h.addTable("NUMS", {chr("ID"), num("MIN"), num("MAX")},
                  {{"R", -0.0, 2081015.0}, {"R", 0.1 + 0.2, 1.0 / 3}});
  EXPECT_EQ(run(ds),
            map("Range 0-2081015 /;Range 0.30000000000000004-0.3333333333333333 /;"));
  EXPECT_EQ(ranges({{"-0.0", "5."}, {".5", "-.25"}}), map("Range 0.0-5. /;Range .5--.25 /;"));
}

// Rows whose character ends are neither numbers nor keywords are the
// warning case module_rattrmap_rows and the end-to-end bad-rows case;
// missing numbers cannot be written in a CSV column of text.
TEST_F(Range, MissingNumbersDropTheirMapButKeepItsBindings) {
  host::DataSet* ds = h.addTable("NUMS", {chr("ID"), num("MIN"), num("MAX")},
                                 {{"R", kNaN, 1.0}, {"S", 1.0, kNaN}, {"R", 0.0, 1.0}});
  use("POP", "R_POP");
  use("AREA", "S_AREA");
  EXPECT_EQ(run(ds), std::string(kBinding) +
                         "RangeAttrVar attrvar=S_AREA var=AREA attrmap=\"__RATTRMAP__S\";");
  EXPECT_EQ(count(117), 1);
  EXPECT_EQ(count(121), 1);
}

TEST_F(Range, SpecialRowsNeedNoMax) {
  EXPECT_EQ(ranges({{"_OTHER_"}, {"_under_"}, {"_Over_"}}, false),
            map("Range Other /;Range Under /;Range Over /;"));
  // A range row without a MAX column drops its map.
  EXPECT_EQ(ranges({{"_OTHER_"}, {"1"}}, false), kBinding);
  EXPECT_EQ(count(125), 1);
  EXPECT_EQ(args(125), (std::vector<std::string>{"R", "2"}));
}

TEST_F(Range, ColorModels) {
  host::DataSet* ds = h.addTable(
      "RANGES",
      {chr("ID"), chr("MIN"), chr("MAX"), chr("COLORMODEL"), chr("COLORMODEL1"),
       chr("COLORMODEL2"), chr("COLORMODEL3"), chr("ALTCOLORMODEL"), chr("ALTCOLOR")},
      {{"R", "0", "1", "ThreeColorRamp", "red", "green", "", "TwoColorRamp", "black   "},
       {"R", "1", "2", "", "yellow", "", "blue", "", ""}});
  use("POP", "R_POP");
  // The list wins over COLORMODEL; it stops at the first blank entry; each
  // entry keeps its column's width.
  EXPECT_EQ(run(ds),
            map("Range 0-1 / rangecolormodel=(red    green ) rangeAltColorModel=TwoColorRamp "
                "RangeAltColor=black;"
                "Range 1-2 / rangecolormodel=(yellow );"));
  host::DataSet* alt = h.addTable(
      "ALT", {chr("ID"), chr("MIN"), chr("MAX"), chr("COLORMODEL"), chr("ALTCOLORMODEL01"),
              chr("ALTCOLORMODEL2"), chr("COLOR")},
      {{"R", "0", "1", "Ramp", "cx00ff00", "light blue", "dark red"}});
  EXPECT_EQ(run(alt), map("Range 0-1 / rangecolorModel=Ramp;"));
  EXPECT_TRUE(logHas("COLOR in observation 1"));
}

TEST_F(Range, OnlyUsedMapsAndFailures) {
  host::DataSet* ds = h.addTable("RANGES", {chr("ID"), chr("MIN"), chr("MAX")},
                                 {{"A", "0", "1"}, {"B", "0", "2"}, {"a", "1", "3"}});
  EXPECT_EQ(run(ds), "");
  EXPECT_EQ(h.nextCalls, 0);
  use("V", "a_v");
  EXPECT_EQ(run(ds),
            "RangeAttrVar attrvar=a_v var=V attrmap=\"__RATTRMAP__A\";"
            "RangeAttrMap name=\"__RATTRMAP__A\";Range 0-1 /;Range 1-3 /;EndRangeAttrMap;");
  anyNames();
  EXPECT_NE(run(ds).find("RangeAttrVar attrvar=a_v var='V'n attrmap=\"__RATTRMAP__A\";"),
            std::string::npos);

  const size_t live = h.factory.live();
  h.factory.failCreateAt(1);
  clearText();
  EXPECT_NE(processRangeAttrMapDataSet(&h.factory, ds, &plot, out), 0);
  EXPECT_EQ(text(), "");
  EXPECT_EQ(h.factory.live(), live);
}

}  // namespace
}  // namespace qv::test
