// Every region lands in the class its value belongs to: the templates the
// command writes for classified maps are drawn, and the class the renderer
// gave each region is compared with classes computed here from the data
// files alone (quantile breaks at the sorted values' positions
// floor(i * N / k), half-open classes, the last one closed).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "pipeline.h"
#include "program_run.h"
#include "runtime/data/csv.h"
#include "support.h"

namespace qv::test {
namespace {

// Column `value` of a delimited file by the whole-number identifier in
// column `id`; missing values are left out.
std::map<long, double> valuesById(const std::string& path, char sep, const std::string& id,
                                  const std::string& value) {
  const rt::Table t = rt::readDelimitedFile(path, sep, rt::VarNameRule::Strict, [](const std::string&) {});
  const int i = t.find(id), v = t.find(value);
  std::map<long, double> out;
  EXPECT_TRUE(i >= 0 && v >= 0) << path;
  if (i < 0 || v < 0) return out;
  for (size_t r = 0; r < t.rows; ++r)
    if (!std::isnan(t.columns[v].num[r])) out[long(t.columns[i].num[r])] = t.columns[v].num[r];
  return out;
}

// Quantile breaks of `values` in `k` classes (fewer distinct values than
// classes do not occur in these data).
std::vector<double> quantileBreaks(std::vector<double> values, int k) {
  std::sort(values.begin(), values.end());
  const double step = double(values.size()) / k;
  std::vector<double> b = {values.front()};
  for (int i = 1; i < k; ++i) b.push_back(values[static_cast<size_t>(std::floor(i * step))]);
  b.push_back(values.back());
  return b;
}

// The class of `v`: the first whose range holds it; -1 for none.
int classOf(const std::vector<double>& breaks, double v) {
  const size_t last = breaks.size() - 2;
  for (size_t c = 0; c <= last; ++c)
    if (v >= breaks[c] && (c == last ? v <= breaks[c + 1] : v < breaks[c + 1]))
      return static_cast<int>(c);
  return -1;
}

// The bounds of the "Range" statements of a template, as numbers.
std::vector<double> writtenBounds(const std::string& tpl) {
  std::vector<double> out;
  for (size_t at = tpl.find("Range "); at != std::string::npos; at = tpl.find("Range ", at + 1)) {
    if (at > 0 && isAlpha(tpl[at - 1])) continue;
    char* end = nullptr;
    const double low = std::strtod(tpl.c_str() + at + 6, &end);
    if (out.empty()) out.push_back(low);
    EXPECT_EQ(low, out.back()) << "ranges do not meet at " << tpl.substr(at, 40);
    out.push_back(std::strtod(end + (end[1] == '<' ? 2 : 1), nullptr));
  }
  return out;
}

// The class of every region that the renderer reports, against the class
// computed from `values` with `breaks`: regions without a value have none.
// Returns the number of regions per class.
std::vector<int> checkRegions(const render::RenderResult& r, const std::map<long, double>& values,
                              const std::vector<double>& breaks) {
  std::vector<int> counts(breaks.size() - 1, 0);
  EXPECT_EQ(r.regionClasses.size(), 1u);
  if (r.regionClasses.empty()) return counts;
  int wrong = 0;
  for (const auto& [key, got] : r.regionClasses[0].regions) {
    auto it = values.find(std::strtol(key.c_str(), nullptr, 10));
    const int want = it == values.end() ? -1 : classOf(breaks, it->second);
    if (got != want && ++wrong <= 10)
      ADD_FAILURE() << "region " << key << " with "
                    << (it == values.end() ? std::string("no value") : std::to_string(it->second))
                    << " is in class " << got << ", expected " << want;
    if (want >= 0) ++counts[static_cast<size_t>(want)];
  }
  EXPECT_EQ(wrong, 0);
  return counts;
}

TEST(RegionClasses, StatePopulationQuantilesThroughTheCommand) {
  // The population without its schema file: no declared display format.
  const std::string csv =
      readFile(QV_SOURCE_DIR "/examples/data/population_engineers_hurricanes.csv");
  ProgramRun run(
      "OPTIONS GRAPHWIDTH=1280 GRAPHHEIGHT=800;\n"
      "PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID < 60 and ID not in (2, 15)))\n"
      "           MAPRESPDATA=pop TMPLOUT='states.tpl';\n"
      "  CHOROMAP population / MAPID=ID ID=id NUMLEVELS=5 LEVELTYPE=QUANTILE\n"
      "                        COLORMODEL=(CXF7FBFF CX08306B);\n"
      "RUN;\n",
      {{"pop.csv", csv}});
  ASSERT_EQ(run.status(), 0) << run.log();
  ASSERT_TRUE(run.wrote("tavlo.png"));
  const std::string tpl = readFile(run.dir() + "/states.tpl");

  const std::map<long, double> pop = valuesById(run.dir() + "/pop.csv", ',', "id", "population");
  std::vector<double> all;
  for (const auto& [id, v] : pop) all.push_back(v);
  const std::vector<double> breaks = quantileBreaks(all, 5);
  EXPECT_EQ(breaks, (std::vector<double>{585501, 1334795, 3051217, 5540545, 8944469, 39250017}));
  EXPECT_EQ(writtenBounds(tpl), breaks) << tpl;
  // Neither the bounds nor the legend's labels are in exponent form.
  EXPECT_EQ(tpl.find("e+"), std::string::npos) << tpl;
  EXPECT_NE(tpl.find("Range 1334795-<3051217 /"), std::string::npos) << tpl;

  Pipeline p;
  p.write("pop.csv", csv);
  render::RenderResult r =
      p.draw(tpl, {{"RESPONSEDATA", p.open("WORK", "pop")}},
             p.open("EX", "us_states", "ID < 60 and ID not in (2, 15)"),
             {{"__MAPID__", "ID"}, {"__ID__", "id"}}, 1280, 800);
  ASSERT_EQ(r.regionClasses.size(), 1u);
  EXPECT_EQ(r.regionClasses[0].regions.size(), 49u);  // 48 states and DC
  const std::vector<int> counts = checkRegions(r, pop, breaks);
  EXPECT_EQ(counts, (std::vector<int>{9, 9, 10, 10, 11}));
  // The states on the breaks open their classes (New Hampshire the second,
  // Utah the third, Colorado the fourth, New Jersey the last); New Mexico
  // lies inside the second, Maine just below it.
  std::map<std::string, int> cls(r.regionClasses[0].regions.begin(),
                                 r.regionClasses[0].regions.end());
  EXPECT_EQ(cls["33"], 1);
  EXPECT_EQ(cls["49"], 2);
  EXPECT_EQ(cls["8"], 3);
  EXPECT_EQ(cls["34"], 4);
  EXPECT_EQ(cls["35"], 1);
  EXPECT_EQ(cls["23"], 0);
}

}  // namespace
}  // namespace qv::test
