// The range attribute map written for a classified response: ranges,
// labels, colors, the attribute variable, and what is left out.
#include <algorithm>
#include <cstdlib>

#include "classify_fixture.h"

namespace qv::test {
namespace {

constexpr int kInterval = 2;
constexpr int kQuantile = 3;

const std::string kHead = "RangeAttrMap name=\"_clrrespmap_\";";
std::string tail(const std::string& var) {
  return "EndRangeAttrMap;RangeAttrVar attrvar=_CLRRESP_ var=" + var +
         " attrmap=\"_clrrespmap_\";";
}
std::string ramp(int classes, int c, const std::string& name = "TwoColorRamp") {
  return " RangeColor=GradientStepper(" + name + ":startcolor," + name + ":endcolor," +
         std::to_string(classes) + "," + std::to_string(c) + ");";
}

TEST_F(ClassifyTest, HalfOpenRangesThenAClosedLastOne) {
  struct Case {
    std::vector<double> values;
    int levelType, levels;
    std::string ranges;  // the map between its head and tail, ramps left out
    int classes;
  };
  const Case cases[] = {
      // Four distinct values: they are the breaks.
      {{0, 10, 20, 30, 10, kMissing}, kQuantile, 5,
       "Range 0-<10 / DiscreteLabel=\"0 - 10\"|Range 10-<20 / DiscreteLabel=\"10 - 20\"|"
       "Range 20-30 / DiscreteLabel=\"20 - 30\"|", 3},
      // One value makes one closed class.
      {{7, 7, 7}, kInterval, 4, "Range 7-7 / DiscreteLabel=\"7\"|", 1},
      // Negative breaks and an empty first class.
      {{-10, 10, 2}, kInterval, 4,
       "Range -10-<-10 / DiscreteLabel=\"-10 - -10\"|Range -10-<-5 / DiscreteLabel=\"-10 - -5\"|"
       "Range -5-<0 / DiscreteLabel=\"-5 - 0\"|Range 0-10 / DiscreteLabel=\"0 - 10\"|", 4},
      // An upside-down class is left out; the others keep their numbers.
      {{1000000, 1000001}, kInterval, 2, "|Range 0-1000001 / DiscreteLabel=\"0 - 1e+06\"|", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(stream.open(true), 0);
    respond(c.values);
    std::string want;
    int k = 0;
    for (size_t at = 0, bar; (bar = c.ranges.find('|', at)) != std::string::npos; at = bar + 1)
      if (++k, bar > at) want += c.ranges.substr(at, bar - at) + ramp(c.classes, k);
    EXPECT_EQ(classify(c.levelType, c.levels), kHead + want + tail("rate"));
    EXPECT_EQ(plot.numLevels, c.classes);
    // The response is left rewound for the plot translator, whichever
    // kind of breaks was made (equal intervals rewind once more on their own).
    EXPECT_GE(fake.valueSet(plot.respData)->rewinds, 1);
  }
}

TEST_F(ClassifyTest, BoundsReadBackAsTheBreaksAndZeroHasNoSign) {
  // Breaks that six significant digits would move: 2081015 would become
  // 2.08102e+06 and take 2081015 itself out of the class that begins there.
  const std::vector<double> values = {585501, 1334795, 2081015, 3051217, 0.1 + 0.2, 1e-7 / 3};
  respond(values);
  std::string out = classify(kQuantile, 9);  // six distinct values: they are the breaks
  std::vector<double> sorted = values;
  std::sort(sorted.begin(), sorted.end());
  size_t at = 0;
  for (size_t i = 0; i + 1 < sorted.size(); ++i) {
    at = out.find("Range ", at);
    ASSERT_NE(at, std::string::npos) << out;
    at += 6;
    char* end = nullptr;
    EXPECT_EQ(std::strtod(out.c_str() + at, &end), sorted[i]) << out;
    EXPECT_EQ(*end, '-');
    EXPECT_EQ(std::strtod(end + (end[1] == '<' ? 2 : 1), &end), sorted[i + 1]) << out;
  }
  EXPECT_NE(out.find("Range 1334795-<2081015 /"), std::string::npos) << out;
  EXPECT_NE(out.find("Range 2081015-3051217 /"), std::string::npos) << out;
  EXPECT_NE(out.find("Range 0.30000000000000004-<585501 /"), std::string::npos) << out;

  // Equal-interval breaks are the decimals their labels show: 3 * 0.1
  // added up is 0.30000000000000004, which would put 0.3 itself in the
  // class labelled "0.2 - 0.3".
  EXPECT_EQ(stream.open(true), 0);
  respond({0, 0.3, 0.5});
  out = classify(kInterval, 5);
  EXPECT_EQ(interval(5), (std::vector<double>{0, 0, 0.1, 0.2, 0.3, 0.5}));
  EXPECT_NE(out.find("Range 0.2-<0.3 / DiscreteLabel=\"0.2 - 0.3\""), std::string::npos) << out;
  EXPECT_NE(out.find("Range 0.3-0.5 / DiscreteLabel=\"0.3 - 0.5\""), std::string::npos) << out;
  respond({0.012, 0.301, 0.1});
  EXPECT_EQ(interval(5), (std::vector<double>{0.012, 0.06, 0.12, 0.18, 0.24, 0.301}));
  respond({-0.7, 1.3});
  EXPECT_EQ(interval(4), (std::vector<double>{-0.7, -0.5, 0, 0.5, 1.3}));
  respond({3e-9, 9.7e-8});
  EXPECT_EQ(interval(5), (std::vector<double>{3e-9, 1.6e-8, 3.2e-8, 4.8e-8, 6.4e-8, 9.7e-8}));

  // Negative zero is written 0, in the range and in the label, formatted
  // or not.
  EXPECT_EQ(stream.open(true), 0);
  respond({-0.0, 1, 2});
  EXPECT_EQ(classify(kQuantile, 5),
            kHead + "Range 0-<1 / DiscreteLabel=\"0 - 1\"" + ramp(2, 1) +
                "Range 1-2 / DiscreteLabel=\"1 - 2\"" + ramp(2, 2) + tail("rate"));
  EXPECT_EQ(stream.open(true), 0);
  respond({-0.0, -0.0});
  EXPECT_EQ(classify(kQuantile, 5),
            kHead + "Range 0-0 / DiscreteLabel=\"0\"" + ramp(1, 1) + tail("rate"));
  EXPECT_EQ(stream.open(true), 0);
  respond({-0.0, 3}, "rate", "F", 8, 0);
  out = classify(kQuantile, 1);
  EXPECT_EQ(out.find("-0"), std::string::npos) << out;
  EXPECT_NE(out.find("Range 0-3 / DiscreteLabel=\"0 - 3\""), std::string::npos) << out;
}

TEST_F(ClassifyTest, FewerDistinctValuesThanLevelsStoresTheClassesMade) {
  respond({1, 2, 3, 3});
  classify(kQuantile, 5);
  EXPECT_EQ(plot.numLevels, 2);
  // Default levels: 4 observations give 2 levels (floor(1 + 3.3 * 0.60)).
  respond({1, 2, 3, 4});
  classify(kQuantile, 0);
  EXPECT_EQ(plot.numLevels, 2);
}

TEST_F(ClassifyTest, ListedColorsTwoColorStepperAndRamps) {
  rt::ListImpl colors;
  plot.colorModelList = host::borrowed<host::List>(&colors);
  auto add = [&](const char* c) { EXPECT_EQ(colors.append(fake.kdltxt(c, -1)), 0); };
  add("CXFF0000");
  add("CX00FF00");
  add("CX0000FF");
  // Three colors for three classes are pinned by the end-to-end cases;
  // three colors for five classes: message 854/244, then the ramp.
  respond(range(1, 20));
  std::string out = classify(kQuantile, 5);
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].set, 854);
  EXPECT_EQ(fake.messages[0].number, 244);
  EXPECT_NE(out.find(ramp(5, 5) + "End"), std::string::npos) << out;

  // Two colors, five classes: a stepper between them.
  colors.clear();
  add("CXFF0000");
  add("CX0000FF");
  EXPECT_EQ(stream.open(true), 0);
  out = classify(kQuantile, 5);
  EXPECT_EQ(fake.messages.size(), 1u);  // no new message
  EXPECT_NE(out.find(" RangeColor=GradientStepper(CXFF0000,CX0000FF,5,1);"), std::string::npos);
  EXPECT_NE(out.find(" RangeColor=GradientStepper(CXFF0000,CX0000FF,5,5);End"),
            std::string::npos);

  // Surplus colors are unused; a list of two with two classes is listed.
  EXPECT_EQ(stream.open(true), 0);
  respond({1, 2, 3});
  out = classify(kQuantile, 2);
  EXPECT_NE(out.find("RangeColor=CXFF0000;Range 2-3 / DiscreteLabel=\"2 - 3\" RangeColor=CX0000FF;"),
            std::string::npos)
      << out;

  // A named color ramp with four classes.
  plot.colorModelList = {};
  plot.colorModelName = fake.kdltxt("ThreeColorRamp", -1);
  EXPECT_EQ(stream.open(true), 0);
  respond(range(1, 8));
  out = classify(kQuantile, 4);
  for (int c = 1; c <= 4; ++c)
    EXPECT_NE(out.find(ramp(4, c, "ThreeColorRamp")), std::string::npos) << out;
}

TEST_F(ClassifyTest, FormattedLabels) {
  // DOLLAR8.2: values formatted, left-justified and cut to their content.
  respond({1.5, 2, 3.25, 4}, "price", "DOLLAR", 8, 2);
  std::string out = classify(kQuantile, 2);
  EXPECT_EQ(out, kHead + "Range 1.5-<3.25 / DiscreteLabel=\"$1.50 - $3.25\"" + ramp(2, 1) +
                     "Range 3.25-4 / DiscreteLabel=\"$3.25 - $4.00\"" + ramp(2, 2) +
                     tail("price"));
  // Width 0 takes the format's default width (and decimals likewise).
  EXPECT_EQ(stream.open(true), 0);
  respond({1234.5, 99999}, "amount", "COMMA", 0, 0);
  out = classify(kQuantile, 1);
  EXPECT_NE(out.find("DiscreteLabel=\"1,235 - 99,999\""), std::string::npos) << out;
  // One break: the formatted low value alone.
  EXPECT_EQ(stream.open(true), 0);
  respond({5, 5}, "price", "DOLLAR", 8, 2);
  out = classify(kQuantile, 3);
  EXPECT_NE(out.find("Range 5-5 / DiscreteLabel=\"$5.00\" RangeColor="), std::string::npos) << out;
  // A format the host does not know: plain numbers, both of them even for
  // one break.
  EXPECT_EQ(stream.open(true), 0);
  respond({5, 5}, "price", "NOSUCHFMT", 8, 2);
  out = classify(kQuantile, 3);
  EXPECT_NE(out.find("Range 5-5 / DiscreteLabel=\"5 - 5\" RangeColor="), std::string::npos) << out;
}

TEST_F(ClassifyTest, NothingWrittenWithoutValuesButStillRewound) {
  FakeHost::ValueSet* set = respond({kMissing, kMissing});
  EXPECT_EQ(classify(kQuantile, 5), "");
  EXPECT_EQ(set->rewinds, 1);
  EXPECT_EQ(plot.numLevels, 5);
  // Under BY groups the rewind goes to the start of the current group.
  set->byActive = true;
  classify(kInterval, 5);
  EXPECT_EQ(set->byRewinds, 1);
  // No response data: nothing, and no crash.
  plot.respData = nullptr;
  EXPECT_EQ(classify(kQuantile, 5), "");
  EXPECT_EQ(module::createCategorization(nullptr, &classes), 0);
  EXPECT_EQ(classes, 0);
}

TEST_F(ClassifyTest, VariableThatCannotBeDescribedWritesNothing) {
  respond({1, 2, 3});
  plot.responseVarNumber = 3;
  EXPECT_EQ(classify(kQuantile, 2), "");
  EXPECT_TRUE(fake.messages.empty());
}

}  // namespace
}  // namespace qv::test

namespace qv::test {
namespace {

// What the renderer makes of a written map, framed as the assembly frames it.
std::unique_ptr<render::GraphModel> compiled(const std::string& map) {
  render::CompileResult r =
      render::compileTemplate("define statgraph tavlo;begingraph /;" + map + "endgraph;end;");
  EXPECT_TRUE(r.model) << r.error << "\n" << map;
  return std::move(r.model);
}

TEST_F(ClassifyTest, WrittenMapsCompile) {
  // Negative breaks, an empty class and the closed last range.
  respond({-10, 10, 2});
  auto m = compiled(classify(kInterval, 4));
  ASSERT_TRUE(m);
  ASSERT_EQ(m->rangeMaps.size(), 1u);
  const render::RangeAttrMap& rm = m->rangeMaps[0];
  ASSERT_EQ(rm.ranges.size(), 4u);
  EXPECT_EQ(rm.ranges[1].low.value, -10);
  EXPECT_EQ(rm.ranges[1].high.value, -5);
  EXPECT_TRUE(rm.ranges[1].excludeHigh);
  EXPECT_FALSE(rm.ranges[3].excludeHigh);
  EXPECT_EQ(rm.ranges[1].label, "-10 - -5");

  // Escaped formatted labels come back as the formatted text; a name
  // literal with a quote in it stays one name.
  EXPECT_EQ(stream.open(true), 0);
  module::setPlotFlag(plot, 55);
  respond({0.097, 0.12, 0.2}, "jobless 'rate'", "PERCENT", 8, 1);
  m = compiled(classify(kQuantile, 2));
  ASSERT_TRUE(m);
  ASSERT_EQ(m->rangeMaps.size(), 1u);
  EXPECT_EQ(m->rangeMaps[0].ranges[0].label, "9.7% - 12.0%");

  // Listed colors and a one-value class.
  EXPECT_EQ(stream.open(true), 0);
  rt::ListImpl colors;
  EXPECT_EQ(colors.append(fake.kdltxt("CX112233", -1)), 0);
  plot.colorModelList = host::borrowed<host::List>(&colors);
  respond({4, 4});
  EXPECT_TRUE(compiled(classify(kQuantile, 3)));
}

}  // namespace
}  // namespace qv::test
