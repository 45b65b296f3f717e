// Classifying 10,000,000 numeric responses into five quantile and five
// equal-interval classes: the whole createCategorization, with the host's
// sort of the values (done afresh on every run, as for a new data set)
// included. Also times the host's sort alone, to show the module's share.
// Then natural breaks: 1,000,000 and 100,000 values into seven classes,
// timed in CPU seconds. Prints the best and the median of several runs.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "fake_host.h"
#include "module/classify/classify.h"
#include "module/grammar/grammar.h"
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

// The same in CPU seconds of the process.
template <class F>
Figures cpuRuns(F&& run) {
  std::vector<double> t;
  for (int i = 0; i < kRuns; ++i) {
    std::clock_t start = std::clock();
    run();
    t.push_back(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
  }
  std::sort(t.begin(), t.end());
  return {t.front(), t[t.size() / 2]};
}

// Rates with three decimals (many repeats, as real data has) and about
// one value in a hundred missing.
qv::test::FakeHost::ValueSet rates(size_t count, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::lognormal_distribution<double> rate(-2.8, 0.45);
  std::uniform_int_distribution<int> hundred(0, 99);
  qv::test::FakeHost::ValueSet set;
  qv::test::FakeHost::ValueVar var;
  var.desc.name = "rate";
  var.values.reserve(count);
  for (size_t i = 0; i < count; ++i)
    var.values.push_back(hundred(rng) == 0 ? std::nan("") : std::round(rate(rng) * 1000) / 1000);
  set.vars.push_back(std::move(var));
  return set;
}

// Natural breaks of `count` values into seven classes, the whole
// classification with the host's sort.
Figures jenks(qv::test::FakeHost& host, size_t count, bool distinctValues) {
  qv::test::FakeHost::ValueSet set = rates(count, 7);
  if (distinctValues) {
    // Every value its own: the programme runs over all of them.
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> u(0, 1);
    for (double& v : set.vars[0].values) v = u(rng);
  }
  qv::module::PlotContext plot;
  plot.respData = host.addValueSet(std::move(set));
  qv::rt::MemoryStream stream;
  plot.categorization = &stream;
  return cpuRuns([&] {
    if (stream.open(true) != 0) std::puts("stream not opened");
    plot.levelType = qv::module::Code::LevelJenks;
    plot.numLevels = 7;
    int32_t classes = 0;
    if (qv::module::createCategorization(&plot, &classes) != 0) std::puts("stream not written");
    if (classes != 7) std::puts("not seven classes");
  });
}

}  // namespace

int main() {
  qv::test::FakeHost host;
  host.install();
  qv::module::PlotContext plot;
  plot.respData = host.addValueSet(rates(kValues, 42));
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

  // Natural breaks, in CPU seconds: rates with repeats, and values all
  // distinct (the programme's worst case).
  for (bool distinct : {false, true}) {
    for (size_t n : {size_t{1000000}, size_t{100000}}) {
      const Figures f = jenks(host, n, distinct);
      std::printf("jenks, 7 classes, %7zu %s: CPU best %.3f s, median %.3f s\n", n,
                  distinct ? "distinct values" : "rates          ", f.best, f.median);
    }
  }
  return 0;
}
