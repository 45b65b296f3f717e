// Class breaks: the nice scaling, equal intervals, quantiles, the sorted
// value reader and the default number of levels.
#include <algorithm>
#include <cfloat>
#include <limits>
#include <tuple>

#include "classify_fixture.h"

namespace qv::test {
namespace {

using module::calcMidpoints;
using module::getNumberOfBreaks;
using module::scale;

TEST(Scale, StepFactorTable) {
  double start = -1, width = -1;
  // A factor between table entries takes the next one up (raw 2.2 -> 2.5),
  // and a raw step of 10^k stays on 1.0.
  scale(0, 6.6, 4, &start, &width);
  EXPECT_DOUBLE_EQ(width, 2.5);
  scale(0, 0.3, 4, &start, &width);
  EXPECT_DOUBLE_EQ(width, 0.1);
  // Above 8 (and not within the tolerance of it) the factor is 10.
  scale(0, 8.5, 2, &start, &width);
  EXPECT_DOUBLE_EQ(width, 10);
  scale(0, 8.00005, 2, &start, &width);
  EXPECT_DOUBLE_EQ(width, 8.00005 * 8 / 8.00005);
  // h = -1 exactly: j = -2.
  scale(-7, 7, 4, &start, &width);
  EXPECT_DOUBLE_EQ(start, -10);
  // One class: the middle, width 0 (k of 0 counts as 1).
  calcMidpoints(2, 8, 1, &start, &width);
  EXPECT_EQ(start, 5);
  EXPECT_EQ(width, 0);
  calcMidpoints(2, 8, 0, &start, &width);
  EXPECT_EQ(start, 5);
  EXPECT_EQ(width, 0);
}

TEST(Scale, NegligibleRangesAreScaledFromZero) {
  double start = -1, width = -1;
  scale(1000000.3, 1000000.7, 2, &start, &width);  // low becomes 0
  EXPECT_NEAR(width, 1000000, 1e-6);
  EXPECT_EQ(start, 0);
  scale(-1000000.7, -1000000.3, 2, &start, &width);  // high becomes 0
  EXPECT_NEAR(width, 1000000, 1e-6);
  EXPECT_NEAR(start, -1000000, 1e-6);
  scale(0, 0, 2, &start, &width);  // high becomes 1
  EXPECT_DOUBLE_EQ(width, 1);
  EXPECT_EQ(start, 0);
}

TEST(Scale, DegenerateInputsGiveNoWidthAndNeverHang) {
  double start = -1, width = -1;
  scale(1, 5, 1, &start, &width);  // no step to make
  EXPECT_EQ(width, 0);
  scale(1, 5, -3, &start, &width);
  EXPECT_EQ(width, 0);
  const double inf = std::numeric_limits<double>::infinity();
  scale(-DBL_MAX, DBL_MAX, 5, &start, &width);  // the range overflows
  EXPECT_EQ(width, 0);
  scale(0, inf, 5, &start, &width);
  EXPECT_EQ(width, 0);
  scale(std::nan(""), 1, 5, &start, &width);
  EXPECT_EQ(width, 0);
  // A tiny positive step is normalised by repeated scaling, not forever.
  scale(0, 4.9e-324, 2, &start, &width);
  EXPECT_GT(width, 0);
}

TEST(NumberOfBreaks, SturgesRuleTruncated) {
  // No observations, or not a count: no levels.
  const std::pair<int, int> cases[] = {{1, 1}, {10, 4}, {100, 7}, {1000, 10}, {3218, 12}, {0, 0}, {-1, 0}};
  for (auto [n, levels] : cases)
    EXPECT_EQ(getNumberOfBreaks(n), levels) << n;
}

TEST_F(ClassifyTest, IntervalWorkedExamples) {
  struct Case {
    std::vector<double> values;
    int levels;
    std::string breaks;  // a zero break must be exactly zero to print as 0
  };
  const Case cases[] = {
      {{0, 10}, 2, "0,4,10"},
      {{3, 40, 97}, 5, "3,16,32,48,64,97"},
      {{0, 100, 50}, 5, "0,0,20,40,60,100"},
      {{-7, 13}, 4, "-7,-5,0,5,13"},
      {{-10, 10, 3}, 4, "-10,-10,-5,0,10"},
      // The mirror image is not mirrored: a negative h goes one further down
      // (second try h = -4.625, j = -5, start -80).
      {{-97, -3}, 5, "-97,-80,-64,-48,-32,-3"},
  };
  for (const Case& c : cases) {
    respond(c.values);
    EXPECT_EQ(gText(interval(c.levels)), c.breaks);
  }
  respond({1000000, 1000000.5, 1000001});
  EXPECT_EQ(interval(2), (std::vector<double>{1000000, 0, 1000001}));
}

TEST_F(ClassifyTest, IntervalDegenerateData) {
  respond({5, 5, kMissing, 5});
  EXPECT_EQ(gText(interval(4)), "5");  // one distinct value: one break
  respond({2, 9, kMissing});
  EXPECT_EQ(gText(interval(1)), "2,9");
  respond({kMissing, kMissing});
  EXPECT_TRUE(interval(3).empty());
  respond({});
  EXPECT_TRUE(interval(3).empty());
  plot.respData = nullptr;
  EXPECT_TRUE(interval(3).empty());
  // The largest double as the minimum, or its negative as the maximum.
  respond({DBL_MAX});
  EXPECT_TRUE(interval(3).empty());
  respond({-DBL_MAX, -DBL_MAX});
  EXPECT_TRUE(interval(3).empty());
  // A range too wide to scale gives no breaks rather than nonsense.
  respond({-DBL_MAX / 2, DBL_MAX / 2});
  EXPECT_TRUE(interval(3).empty());
}

TEST_F(ClassifyTest, DefaultLevelsCountMissingObservations) {
  std::vector<double> v = range(1, 100);
  for (int i = 0; i < 10; ++i) v[static_cast<size_t>(i)] = kMissing;
  FakeHost::ValueSet* set = respond(v);
  plot.numLevels = 0;
  EXPECT_EQ(interval(0).size(), 8u);  // 100 observations: 7 levels
  EXPECT_EQ(plot.numLevels, 7);
  plot.numLevels = 0;
  EXPECT_EQ(quantile(0).size(), 8u);
  EXPECT_EQ(plot.numLevels, 7);
  // A host that cannot count: the values read are counted (90 -> 7).
  set->countable = false;
  plot.numLevels = 0;
  EXPECT_EQ(interval(0).size(), 8u);
  EXPECT_EQ(plot.numLevels, 7);
  plot.numLevels = 0;
  EXPECT_EQ(quantile(0).size(), 8u);
  EXPECT_EQ(plot.numLevels, 7);
  // No observations at all: no levels and no breaks.
  set->countable = true;
  set->observations = 0;
  plot.numLevels = 0;
  EXPECT_TRUE(quantile(0).empty());
}

TEST_F(ClassifyTest, QuantileWorkedExamples) {
  const std::tuple<std::vector<double>, int, std::string> cases[] = {
      {{10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 4, "1,3,6,8,10"},
      {{1, 1, 1, 1, 1, 2, 3, 4, 5, 6}, 4, "1,1,2,4,6"},
      {{3, 2, 1}, 5, "1,2,3"},
      {{3, 2, 1, 2, 3}, 3, "1,2,3"},  // k equal to the distinct count
      {{7, 7, 7}, 4, "7"},
      {{4, 1, 9, 2}, 1, "1,9"},
      {{kMissing, 2, kMissing, 1, 3, kMissing, 4}, 2, "1,3,4"},
      // 7 values, 3 levels: step 7/3, positions are the floors 0, 2, 4.
      {{10, 20, 30, 40, 50, 60, 70}, 3, "10,30,50,70"},
      {{kMissing, kMissing}, 2, ""},
  };
  for (const auto& [values, levels, breaks] : cases) {
    respond(values);
    EXPECT_EQ(gText(quantile(levels)), breaks);
  }
  plot.respData = nullptr;
  EXPECT_TRUE(quantile(2).empty());
}

TEST_F(ClassifyTest, SortValuesReadsOnceAndDerivesDistinct) {
  FakeHost::ValueSet* set = respond({3, kMissing, 1, 3, 2, 1});
  std::vector<double> all{-1};  // values are appended after what is there
  EXPECT_EQ(module::sortValues(&plot, 0, 0, &all), 0);
  EXPECT_EQ(gText(all), "-1,1,1,2,3,3");
  std::vector<double> distinct;
  EXPECT_EQ(module::sortValues(&plot, 0, 1, &distinct), 0);
  EXPECT_EQ(gText(distinct), "1,2,3");
  EXPECT_EQ(set->sorts, 2);
  // A quantile classification asks the host for the values once.
  set->sorts = 0;
  quantile(2);
  EXPECT_EQ(set->sorts, 1);
}

TEST_F(ClassifyTest, SortValuesHostFailures) {
  FakeHost::ValueSet* set = respond({1, 2, 3});
  // A negative code: reported, nothing appended, the code handed back.
  set->sortStatus = -5;
  set->sortExtra = {9, 8};
  std::vector<double> v{42};
  EXPECT_EQ(module::sortValues(&plot, 0, 0, &v), -5);
  EXPECT_EQ(gText(v), "42");
  ASSERT_EQ(fake.serviceErrors.size(), 1u);
  EXPECT_EQ(fake.serviceErrors[0], -5);
  // A positive code: only reported; what the host handed back is kept, but
  // still in order and without missing values.
  set->sortStatus = 7;
  set->sortExtra = {9, kMissing, 8};
  v.clear();
  EXPECT_EQ(module::sortValues(&plot, 0, 0, &v), 0);
  EXPECT_EQ(gText(v), "8,9");
  EXPECT_EQ(fake.serviceErrors.back(), 7);
  // A variable the host does not have.
  set->sortStatus = 0;
  v.clear();
  EXPECT_EQ(module::sortValues(&plot, 4, 0, &v), 0);
  EXPECT_TRUE(v.empty());
}

TEST_F(ClassifyTest, HugeIntervalLevelCountIsRefusedAsMemoryExhaustion) {
  respond({0, 1});
  std::vector<double> b;
  EXPECT_EQ(module::getEqualIntervalRanges(&plot, 0, 2147483647, &b), host::kNoMemory);
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(fake.memMessages(), 1);
  // A large but sane count still works: one break per level boundary.
  EXPECT_EQ(module::getEqualIntervalRanges(&plot, 0, 1000, &b), 0);
  EXPECT_EQ(b.size(), 1001u);
}

}  // namespace
}  // namespace qv::test
