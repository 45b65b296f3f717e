#include "module/template/assembly.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"
#include "module/grammar/grammar.h"
#include "runtime/objects/objects.h"

namespace qv::test {
namespace {

using host::Statement;
using module::Stmt;

const std::string kQuote = "(*ESC*){unicode '0022'x}";
const std::string kAmp = "(*ESC*){unicode '0026'x}";

// A stream whose writes fail once `failAfter` bytes have been taken.
class ShortStream final : public host::Stream {
 public:
  std::string_view className() const override { return "stream_memory"; }
  host::Status open(bool) override { return 0; }
  using host::Stream::write;
  host::Status write(const char*, size_t n) override {
    if (taken + n > failAfter) return host::kHostFailure;
    taken += n;
    return 0;
  }
  int64_t length() const override { return 0; }
  int64_t read(char*, size_t) const override { return 0; }
  host::Status close() override { return 0; }
  size_t taken = 0, failAfter = 0;
};

class Assembly : public testing::Test {
 protected:
  void SetUp() override {
    h.install();
    for (auto& s : streams) EXPECT_EQ(s.open(true), 0);
    Statement& proc = list.append();
    proc.statement = int(Stmt::Tavlo);
  }

  FakeHost h;
  rt::MemoryStream streams[module::kTemplateStreamCount];
  host::StatementList list;
};

TEST_F(Assembly, FailuresEndWithTheServiceCode) {
  module::AssemblyInput in;
  for (int i = 0; i < module::kTemplateStreamCount; ++i) in.streams[i] = &streams[i];
  in.statements = &list;
  // No memory for the copy buffer is a case of the command's tests.
  ShortStream main;
  main.failAfter = 40;  // the frame runs out part way
  in.streams[module::kMainStream] = &main;
  EXPECT_EQ(module::assembleTemplate(in), host::kHostFailure);
  EXPECT_EQ(h.serviceErrors, std::vector<host::Status>{host::kHostFailure});
  EXPECT_EQ(h.liveBlocks(), 0u);

  in.streams[module::kPlotsStream] = nullptr;
  EXPECT_NE(module::assembleTemplate(in), 0);
}

class AutoLegend : public testing::Test {
 protected:
  void SetUp() override {
    h.install();
    plot.plotNames = &names;
    plot.contLegends = &continuous;
    EXPECT_EQ(key.open(true), 0);
    EXPECT_EQ(grad.open(true), 0);
  }
  void name(const char* plotName, const char* mark) {
    EXPECT_EQ(names.put(plotName, h.kdltxt(mark, -1)), 0);
  }
  host::Status write() { return module::writeAutoLegend(plot, &key, &grad); }

  FakeHost h;
  module::PlotContext plot;
  rt::AssocArrayImpl names, continuous;
  rt::MemoryStream key, grad;
};

// Every plot named without a response is pinned by the end-to-end goldens.
TEST_F(AutoLegend, FirstGroupedPlotAndFirstContinuousOne) {
  plot.responseName = h.kdltxt("sales", -1);
  plot.legendTitle = h.kdltxt("Sales & \"Costs\"", -1);
  name("SERIES", "<Empty>");
  name("CHOROMAP", "<Group>");
  name("SCATTER", "<Group>");
  EXPECT_EQ(continuous.put("BUBBLE", h.kdltxt("Rate %", -1)), 0);
  EXPECT_EQ(continuous.put("CHOROMAP", h.kdltxt("Other", -1)), 0);
  EXPECT_EQ(write(), 0);
  EXPECT_EQ(key.text(), "DiscreteLegend \"CHOROMAP\"/ title=\"Sales " + kAmp + " " + kQuote +
                            "Costs" + kQuote + "\";");
  EXPECT_EQ(grad.text(),
            "ContinuousLegend \"BUBBLE\" / Location=Outside valign=bottom title=\"Rate "
            "(*ESC*){unicode '0025'x}\";");

  // A response without a grouped plot writes the end alone; a continuous
  // plot without a title text gets none.
  names.clear();
  continuous.clear();
  name("SERIES", "<Empty>");
  EXPECT_EQ(continuous.put("TEXT", std::string()), 0);
  EXPECT_EQ(key.open(true), 0);
  EXPECT_EQ(grad.open(true), 0);
  EXPECT_EQ(write(), 0);
  EXPECT_EQ(key.text(), ";");
  EXPECT_EQ(grad.text(), "ContinuousLegend \"TEXT\" / Location=Outside valign=bottom;");
  // No response and no names: nothing.
  plot.responseName = nullptr;
  names.clear();
  EXPECT_EQ(key.open(true), 0);
  EXPECT_EQ(write(), 0);
  EXPECT_EQ(key.text(), "");
}

}  // namespace
}  // namespace qv::test
