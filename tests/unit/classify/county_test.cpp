// Real data: county unemployment rates (3,218 counties) in five quantile
// and five equal-interval classes. The written ranges are read back and
// every rate of the file is placed by them.
#include <algorithm>
#include <cstdlib>

#include "classify_fixture.h"
#include "runtime/data/csv.h"

namespace qv::test {
namespace {

struct WrittenRange {
  double low, high;
  bool closed;
};

// The "Range low-<high /" and "Range low-high /" statements of a map.
std::vector<WrittenRange> writtenRanges(const std::string& text) {
  std::vector<WrittenRange> out;
  for (size_t at = text.find("Range "); at != std::string::npos;
       at = text.find("Range ", at + 1)) {
    if (at > 0 && text[at - 1] != ';') continue;  // "RangeAttrMap", "EndRangeAttrMap"
    const char* p = text.c_str() + at + 6;
    char* end = nullptr;
    WrittenRange r{};
    r.low = std::strtod(p, &end);
    EXPECT_EQ(*end, '-');
    r.closed = end[1] != '<';
    r.high = std::strtod(end + (r.closed ? 1 : 2), &end);
    EXPECT_EQ(std::string(end, 2), " /");
    out.push_back(r);
  }
  return out;
}

class CountyTest : public ClassifyTest {
 protected:
  void SetUp() override {
    ClassifyTest::SetUp();
    rt::Table t = rt::readDelimitedFile(QV_SOURCE_DIR "/examples/data/unemployment.tsv", '\t',
                                        rt::VarNameRule::Strict, [](const std::string&) {});
    int c = t.find("rate");
    ASSERT_GE(c, 0);
    rates = t.columns[static_cast<size_t>(c)].num;
    ASSERT_EQ(rates.size(), 3218u);
    respond(rates);
  }

  // Places every rate by the written ranges: each falls in exactly one.
  std::vector<int> countPerClass(const std::vector<WrittenRange>& ranges) {
    std::vector<int> counts(ranges.size(), 0);
    for (double v : rates) {
      int hits = 0;
      for (size_t i = 0; i < ranges.size(); ++i) {
        const WrittenRange& r = ranges[i];
        if (v >= r.low && (r.closed ? v <= r.high : v < r.high)) {
          ++counts[i];
          ++hits;
        }
      }
      EXPECT_EQ(hits, 1) << "rate " << v;
    }
    return counts;
  }

  std::vector<double> rates;
};

TEST_F(CountyTest, FiveQuantileClassesCoverEveryRate) {
  std::string out = classify(3, 5);
  std::vector<WrittenRange> ranges = writtenRanges(out);
  ASSERT_EQ(ranges.size(), 5u) << out;
  EXPECT_EQ(plot.numLevels, 5);

  // The breaks are the sorted rates at positions floor(i * 3218 / 5).
  std::vector<double> sorted = rates;
  std::sort(sorted.begin(), sorted.end());
  const size_t positions[] = {0, 643, 1287, 1930, 2574};
  for (size_t i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(ranges[i].low, sorted[positions[i]]);
  EXPECT_DOUBLE_EQ(ranges[4].high, sorted.back());
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(ranges[i].high, ranges[i + 1].low);
    EXPECT_FALSE(ranges[i].closed);
  }
  EXPECT_TRUE(ranges[4].closed);

  std::vector<int> counts = countPerClass(ranges);
  int total = 0;
  for (int n : counts) {
    total += n;
    // Quantile classes hold about a fifth each; repeated rates move the
    // boundaries by at most the size of a run.
    EXPECT_GT(n, 3218 / 5 - 150);
    EXPECT_LT(n, 3218 / 5 + 150);
  }
  EXPECT_EQ(total, 3218);
}

TEST_F(CountyTest, FiveIntervalClassesCoverEveryRate) {
  std::string out = classify(2, 5);
  std::vector<WrittenRange> ranges = writtenRanges(out);
  ASSERT_EQ(ranges.size(), 5u) << out;
  std::vector<double> sorted = rates;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_DOUBLE_EQ(ranges.front().low, sorted.front());
  EXPECT_DOUBLE_EQ(ranges.back().high, sorted.back());
  // Inner breaks are equally spaced on round values.
  const double width = ranges[2].low - ranges[1].low;
  for (size_t i = 2; i < 5; ++i) EXPECT_NEAR(ranges[i].low - ranges[i - 1].low, width, 1e-12);
  std::vector<int> counts = countPerClass(ranges);
  int total = 0;
  for (int n : counts) total += n;
  EXPECT_EQ(total, 3218);
}

}  // namespace
}  // namespace qv::test
