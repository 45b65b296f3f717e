// A BY step's value collection: 1,000,000 plot observations in 1,000 BY
// groups, read through the runtime host from a generated CSV file, with one
// group variable (KIND, text, 40 values) and one attribute variable (SIZE,
// a number shown with DOLLAR10.2, 5,000 values). Reports the time of one
// collection; the target is at most one second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "module/entry/entry.h"
#include "module/template/bygroup.h"
#include "runtime/log/log.h"
#include "session/runtime_host.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kGroups = 1000;

const std::string& benchFolder() {
  static const std::string dir = [] {
    std::filesystem::path d = std::filesystem::temp_directory_path() / "qv_bench_bygroup";
    std::filesystem::create_directories(d);
    std::mt19937_64 rng(7);
    std::string out = "state,kind,size\n";
    out.reserve(24u << 20);
    char line[96];
    for (int i = 0; i < kRows; ++i) {
      const int group = i / (kRows / kGroups);
      std::snprintf(line, sizeof line, "%d,kind%02d,%.2f\n", group,
                    static_cast<int>(rng() % 40), static_cast<double>(rng() % 5000) / 4.0);
      out += line;
    }
    std::ofstream(d / "pts.csv", std::ios::binary) << out;
    std::ofstream(d / "pts.schema.json")
        << R"({"fields": [{"name": "size", "type": "number", "displayFormat": "DOLLAR10.2"}]})";
    return d.string();
  }();
  return dir;
}

void BM_CollectByGroups(benchmark::State& state) {
  qv::rt::Log log;
  log.setStream(nullptr);
  qv::rt::SessionState session(log);
  session.programDir = benchFolder();
  qv::rt::RuntimeHost host(session);
  qv::rt::Step step;
  step.by = {{"state", false}};
  host.beginStep(step);
  qv::module::mcn_main(static_cast<qv::host::Host*>(&host), nullptr);

  qv::rt::DataSetRef ref;
  ref.path = "pts.csv";
  qv::host::DataSet* ds = host.openForStep(ref);
  if (host.xbyinit(ds) != 0) state.SkipWithError("BY groups");
  qv::host::ObjectFactory* factory = host.xobinit();

  qv::module::PlotContext plot;
  plot.plotData = ds;
  plot.byFlag = 1;
  auto table = [&] {
    return dynamic_cast<qv::host::AssocArray*>(factory->create("collection", "associativearray"));
  };
  plot.attrVars = table();
  plot.valueLists = table();
  if (plot.attrVars->put("KIND", host.kdltxt("__ATTRVAR1__", -1)) != 0 ||
      plot.attrVars->put("SIZE", host.kdltxt("__ATTRVAR2__", -1)) != 0)
    state.SkipWithError("attribute variables");

  qv::module::ByInfo info;
  for (auto _ : state) {
    const qv::host::Status st = qv::module::process_bygroup(factory, &plot, &info, 1);
    state.PauseTiming();
    if (st != 0) state.SkipWithError("collection");
    if (info.groups != kGroups || info.observations != kRows) state.SkipWithError("counts");
    const auto* kinds = std::get_if<void*>(&plot.valueLists->valueAt(0));
    const auto* list = kinds ? dynamic_cast<qv::host::List*>(static_cast<qv::host::Object*>(*kinds))
                             : nullptr;
    if (!list || list->size() != 40) state.SkipWithError("values");
    // Give back the lists, so that the next run collects afresh (a variable
    // already in valueLists is skipped).
    plot.valueLists->clear();
    plot.valueListObjects.clear();
    plot.missingTexts = {};
    state.ResumeTiming();
  }
  state.SetItemsProcessed(static_cast<int64_t>(kRows) * state.iterations());
  if (host.endStep() != 0) state.SkipWithError("end of step");
  qv::module::mcn_main(nullptr, nullptr);
}
BENCHMARK(BM_CollectByGroups)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
