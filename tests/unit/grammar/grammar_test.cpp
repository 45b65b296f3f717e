#include <gtest/gtest.h>

#include <set>

#include "fake_host.h"
#include "module/entry/entry.h"
#include "support.h"

namespace qv::test {
namespace {

using module::Opt;

// The fake host, recording how the step's parse was asked for.
class ParseHost : public FakeHost {
 public:
  int parsedWith = -1;
  const host::Grammar* grammar = nullptr;
  host::Status xsproc(const host::Grammar& g, int trace, host::StatementList* out) override {
    grammar = &g;
    parsedWith = trace;
    out->append().keyword = "TAVLO";
    return host::kOk;
  }
};

TEST(GrammarTables, AreSoundAndKeepHostFlagsFree) {
  const host::Grammar& g = module::tavloGrammar();
  EXPECT_EQ(rt::checkGrammar(g), "");
  EXPECT_EQ(g.optionCount, static_cast<int>(Opt::Count));
  // Every switch has its own flag, except FILL and BACKFILL, which share one.
  std::set<int> flags;
  for (int i = 0; i < g.optionCount; ++i) {
    int f = g.options[i].flag;
    if (f < 0 || i == static_cast<int>(Opt::BackFill)) continue;
    EXPECT_TRUE(flags.insert(f).second) << g.options[i].name;
  }
  EXPECT_EQ(g.options[static_cast<int>(Opt::BackFill)].flag, module::Flag::Fill);

  // A broken table is refused before any parsing.
  host::Grammar broken = g;
  host::OptionDesc opts[2] = {g.options[0], g.options[1]};
  opts[1].id = 5;
  broken.options = opts;
  broken.optionCount = 2;
  EXPECT_NE(rt::checkGrammar(broken).find("has id 5"), std::string::npos);
  FakeEnv env;
  host::StatementList out;
  EXPECT_EQ(rt::parseStatements(broken, lex("PROC TAVLO;"), env, 0, &out), host::kHostFailure);
  host::OptionDesc flagged = g.options[static_cast<int>(Opt::NoAutoLegend)].setsFlag(55);
  opts[1] = flagged;
  opts[1].id = 1;
  EXPECT_NE(rt::checkGrammar(broken).find("kept for the host"), std::string::npos);
}

TEST(StatementList, FlagBitsSlotsAndLinks) {
  host::StatementList list;
  host::Statement& a = list.append();
  a.setFlag(0);
  a.setFlag(9);
  a.setFlag(64);
  a.setFlag(255);
  EXPECT_TRUE(a.flag(0) && a.flag(9) && a.flag(64) && a.flag(255));
  EXPECT_FALSE(a.flag(8));
  a.setFlag(-1);
  a.setFlag(256);  // out of range: ignored
  EXPECT_FALSE(a.flag(256));

  // The driver's prescan writes a position into a GRADLEGEND slot.
  EXPECT_FALSE(a.has(Opt::LegendPosition));
  a.slot(Opt::LegendPosition).setEnum(module::Code::Bottom);
  EXPECT_EQ(a.slot(Opt::LegendPosition).kind, host::kSlotEnum);
  EXPECT_EQ(a.slot(Opt::LegendPosition).number, 5);
  EXPECT_FALSE(std::as_const(a).slot(10000).present());

  for (int i = 0; i < 100; ++i) list.append().line = i;
  host::StatementList moved = std::move(list);
  int n = 0;
  for (const host::Statement* s = moved.first(); s; s = s->next) ++n;
  EXPECT_EQ(n, 101);
  EXPECT_EQ(moved.first()->next->line, 0);
}

TEST(ParseCallbacks, DebugTraceAndHostParse) {
  ParseHost h;
  h.install();
  module::ParseWork w;
  h.setTextOption("DEBUG", "syn,sem");
  EXPECT_EQ(module::xinit(w), host::kOk);
  EXPECT_EQ(w.traceFlags, 3);
  h.setTextOption("DEBUG", "SYN");
  EXPECT_EQ(module::xinit(w), 0);
  EXPECT_EQ(w.traceFlags, 2);
  h.setTextOption("DEBUG", "");
  EXPECT_EQ(module::xinit(w), 0);
  EXPECT_EQ(w.traceFlags, 0);

  EXPECT_EQ(module::tavlog(w), &module::tavloGrammar());
  host::StatementList out;
  EXPECT_EQ(module::xsparse(w, 1, &out), host::kOk);
  EXPECT_EQ(h.parsedWith, 1);
  EXPECT_EQ(h.grammar, &module::tavloGrammar());
  EXPECT_EQ(out.size(), 1u);

  module::v_global_gcb_anchor = nullptr;
  module::ParseWork none;
  EXPECT_EQ(module::xsparse(none, 0, &out), host::kUserError);
}

}  // namespace
}  // namespace qv::test
