// Classifying 10,000,000 numeric responses into five quantile and five
// equal-interval classes: the whole createCategorization, with the host's
// sort of the values (done afresh on every run, as for a new data set)
// included. Also times the host's sort alone, to show the module's share.
// Prints the best and the median of several runs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "fake_host.h"
#include "module/classify/classify.h"
#include "runtime/objects/objects.h"

namespace {

constexpr size_t kValues = 10000000;
constexpr int kRuns = 5;

struct Figures {
  double best, median;
};

template <class F>
Figures timeRuns(F&& run) {
  std::vector<double> t;
  for (int i = 0; i < kRuns; ++i) {
    auto start = std::chrono::steady_clock::now();
    run();
    t.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return {t.front(), t[t.size() / 2]};
}

}  // namespace

int main() {
  // Rates with three decimals (many repeats, as real data has) and about
  // one value in a hundred missing.
  std::mt19937_64 rng(42);
  std::lognormal_distribution<double> rate(-2.8, 0.45);
  std::uniform_int_distribution<int> hundred(0, 99);
  qv::test::FakeHost::ValueSet set;
  qv::test::FakeHost::ValueVar var;
  var.desc.name = "rate";
  var.values.reserve(kValues);
  for (size_t i = 0; i < kValues; ++i)
    var.values.push_back(hundred(rng) == 0 ? std::nan("") : std::round(rate(rng) * 1000) / 1000);
  set.vars.push_back(std::move(var));

  qv::test::FakeHost host;
  host.install();
  qv::module::PlotContext plot;
  plot.respData = host.addValueSet(std::move(set));
  qv::rt::MemoryStream stream;
  plot.categorization = &stream;

  auto classify = [&](int levelType) {
    if (stream.open(true) != 0) std::puts("stream not opened");
    plot.levelType = levelType;
    plot.numLevels = 5;
    int32_t classes = 0;
    if (qv::module::createCategorization(&plot, &classes) != 0) std::puts("stream not written");
    if (classes == 0 || stream.length() == 0) std::puts("nothing written");
  };
  std::vector<double> sorted;
  Figures sort = timeRuns([&] {
    if (host.xsortvals(plot.respData, 0, false, &sorted) != 0) std::puts("sort failed");
  });
  Figures quantile = timeRuns([&] { classify(3); });
  Figures interval = timeRuns([&] { classify(2); });

  std::printf("values: %zu (about 1%% missing)\n", kValues);
  std::printf("host sort alone:        best %.3f s, median %.3f s\n", sort.best, sort.median);
  std::printf("quantile, 5 classes:    best %.3f s, median %.3f s\n", quantile.best,
              quantile.median);
  std::printf("interval, 5 classes:    best %.3f s, median %.3f s\n", interval.best,
              interval.median);
  return 0;
}
