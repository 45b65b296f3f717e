// Natural breaks against the optimum found another way: every partition of
// small inputs tried, and Fisher's quadratic programme over real data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "module/classify/jenks.h"

namespace qv::test {
namespace {

using module::jenksClassStarts;

double ssq(const std::vector<double>& v, size_t from, size_t to) {
  double mean = 0;
  for (size_t i = from; i < to; ++i) mean += v[i];
  mean /= static_cast<double>(to - from);
  double s = 0;
  for (size_t i = from; i < to; ++i) s += (v[i] - mean) * (v[i] - mean);
  return s;
}

// Within-class sum of squares of the classes that half-open ranges from
// the starts give the sorted values; every value must fall in a class.
double classSsq(const std::vector<double>& v, const std::vector<double>& starts) {
  EXPECT_TRUE(std::is_sorted(starts.begin(), starts.end()));
  EXPECT_EQ(starts.front(), v.front());
  double total = 0;
  size_t from = 0;
  for (size_t c = 0; c < starts.size(); ++c) {
    const double next = c + 1 < starts.size() ? starts[c + 1] : INFINITY;
    size_t to = from;
    while (to < v.size() && v[to] < next) ++to;
    EXPECT_GT(to, from) << "class " << c << " is empty";
    total += ssq(v, from, to);
    from = to;
  }
  EXPECT_EQ(from, v.size());
  return total;
}

// The least sum over every way of cutting the sorted values into k runs,
// equal values allowed on both sides of a cut.
double bruteForce(const std::vector<double>& v, size_t from, size_t k) {
  if (k == 1) return ssq(v, from, v.size());
  double best = INFINITY;
  for (size_t cut = from + 1; cut + k - 1 <= v.size(); ++cut)
    best = std::min(best, ssq(v, from, cut) + bruteForce(v, cut, k - 1));
  return best;
}

// Fisher's programme in its plain quadratic form over every value.
double fisherOptimum(const std::vector<double>& v, size_t k) {
  const size_t n = v.size();
  std::vector<std::vector<double>> d(k + 1, std::vector<double>(n + 1, INFINITY));
  d[0][0] = 0;
  for (size_t q = 1; q <= k; ++q)
    for (size_t i = q; i <= n; ++i) {
      double s = 0, s2 = 0;
      for (size_t j = i; j-- > q - 1;) {  // last class holds values j..i-1
        s += v[j];
        s2 += v[j] * v[j];
        const double w = static_cast<double>(i - j);
        d[q][i] = std::min(d[q][i], d[q - 1][j] + std::max(0.0, s2 - s * s / w));
      }
    }
  return d[k][n];
}

TEST(Jenks, OptimalOnRandomSmallInputs) {
  std::mt19937 rng(20261207);
  for (int round = 0; round < 600; ++round) {
    const size_t n = 1 + rng() % 11;
    // Few distinct values in many rounds, so that ties and inputs with
    // fewer distinct values than classes are common.
    const int spread = round % 3 == 0 ? 3 : 1000;
    std::vector<double> v(n);
    for (double& x : v) x = static_cast<double>(static_cast<int>(rng() % spread) - spread / 3) / 7;
    std::sort(v.begin(), v.end());
    const int k = 1 + static_cast<int>(rng() % 6);
    const std::vector<double> starts = jenksClassStarts(v.data(), v.size(), k);
    size_t distinct = 1;
    for (size_t i = 1; i < n; ++i) distinct += v[i] != v[i - 1];
    ASSERT_EQ(starts.size(), std::min<size_t>(k, distinct)) << "round " << round;
    const double got = classSsq(v, starts);
    const double want = bruteForce(v, 0, starts.size());
    EXPECT_NEAR(got, want, 1e-9 * (1 + want)) << "round " << round << ", k " << k;
  }
  EXPECT_TRUE(jenksClassStarts(nullptr, 0, 3).empty());
  const double one[] = {4};
  EXPECT_EQ(jenksClassStarts(one, 1, 5), std::vector<double>{4});
}

TEST(Jenks, CountyUnemploymentAgainstFishersProgramme) {
  std::ifstream in(std::string(QV_SOURCE_DIR) + "/examples/data/unemployment.tsv");
  ASSERT_TRUE(in) << "examples/data/unemployment.tsv";
  std::string line;
  std::getline(in, line);  // header
  std::vector<double> v;
  while (std::getline(in, line)) v.push_back(std::stod(line.substr(line.find('\t') + 1)));
  ASSERT_GT(v.size(), 3000u);
  std::sort(v.begin(), v.end());
  for (int k : {2, 5, 7}) {
    const std::vector<double> starts = jenksClassStarts(v.data(), v.size(), k);
    ASSERT_EQ(starts.size(), static_cast<size_t>(k));
    const double want = fisherOptimum(v, static_cast<size_t>(k));
    EXPECT_NEAR(classSsq(v, starts), want, 1e-9 * want) << k << " classes";
  }
}

}  // namespace
}  // namespace qv::test
