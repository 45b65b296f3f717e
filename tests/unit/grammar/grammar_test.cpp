#include <gtest/gtest.h>

#include <set>

#include "module/entry/entry.h"
#include "support.h"

namespace qv::test {
namespace {

using module::Opt;

// A host that answers only what the parse callbacks use.
class ParseHost : public host::Host {
 public:
  std::string debug;
  int parsedWith = -1;
  const host::Grammar* grammar = nullptr;
  host::Status xsproc(const host::Grammar& g, int trace, host::StatementList* out) override {
    grammar = &g;
    parsedWith = trace;
    out->append().keyword = "TAVLO";
    return host::kOk;
  }
  std::string xoptcgt(std::string_view o) override { return o == "DEBUG" ? debug : ""; }

  bool xjsymgc(std::string_view, std::string*) override { return false; }
  bool xoptbgt(std::string_view) override { return false; }
  void xoptbst(std::string_view, bool) override {}
  host::Status xyrcgef(int, std::string*) override { return 0; }
  host::Status xoinfo(host::DataSet*, int, int64_t*) override { return 0; }
  host::Status xvfind(host::DataSet*, std::string_view, int*) override { return 1; }
  host::Status xvname(host::DataSet*, int, host::VarDesc*) override { return 1; }
  int xvcount(host::DataSet*) override { return 0; }
  std::string dsLibrary(host::DataSet*) override { return ""; }
  std::string dsMember(host::DataSet*) override { return ""; }
  std::string dsObject(host::DataSet*) override { return ""; }
  host::Status xsortvals(host::DataSet*, int, bool, std::vector<double>*) override { return 0; }
  host::Status xrewind(host::DataSet*) override { return 0; }
  bool xnext(host::DataSet*) override { return false; }
  double xgetnum(host::DataSet*, int) override { return 0; }
  std::string_view xgetchr(host::DataSet*, int) override { return {}; }
  host::Status xselpush(host::DataSet*, std::string_view) override { return 0; }
  host::Status xselpop(host::DataSet*) override { return 0; }
  const std::vector<host::ByVariable>& xbyvars() override { return by_; }
  host::Status xbyinit(host::DataSet*) override { return 0; }
  bool xbynext(host::DataSet*) override { return false; }
  host::Status xbyrwnd(host::DataSet*, bool) override { return 0; }
  host::Status xfrname(std::string_view, host::FormatDesc*) override { return 1; }
  std::string xfxpn(const host::FormatDesc&, int, int, double) override { return ""; }
  std::string xfxpc(const host::FormatDesc&, int, std::string_view) override { return ""; }
  void xpmlog(int, int, std::initializer_list<host::Arg>) override {}
  std::string xpmstr(int, int) override { return ""; }
  void xpslog(std::string_view) override {}
  void xprrlog(host::Status) override {}
  void xexit(host::Status) override {}
  void* vmalcp(size_t) override { return nullptr; }
  void vmfree(void*) override {}
  void xmemmsg() override {}
  host::ObjectFactory* xobinit() override { return nullptr; }
  const host::HStr* kdltxt(const char*, long) override { return nullptr; }
  std::string_view kdlgstr(const host::HStr*) override { return {}; }
  int ggtitleMax(char) override { return 0; }
  const host::TitleEntry* ggtitle(char, int) override { return nullptr; }
  bool& crenderCheck() override { return check_; }
  std::string& outputFormat() override { return format_; }
  host::Status wzosvar(std::string_view, std::string*) override { return 1; }
  void** sessionSlot(std::string_view, bool, void (*)(void*)) override { return nullptr; }
  bool colorRegistry(std::string_view, uint8_t*) override { return false; }

 private:
  std::vector<host::ByVariable> by_;
  bool check_ = false;
  std::string format_ = "PNG";
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
  EXPECT_EQ(a.header[0], 0x80u | (0x40u << 8));
  EXPECT_EQ(a.header[1], 0x80u);
  EXPECT_EQ(a.header[3], 0x01ull << 56);
  EXPECT_TRUE(a.flag(9));
  EXPECT_FALSE(a.flag(8));
  a.clearFlag(9);
  EXPECT_FALSE(a.flag(9));
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
  void* saved = module::v_global_gcb_anchor;
  module::v_global_gcb_anchor = &h;
  module::ParseWork w;
  h.debug = "syn,sem";
  EXPECT_EQ(module::xinit(w), host::kOk);
  EXPECT_EQ(w.traceFlags, 3);
  h.debug = "SYN";
  EXPECT_EQ(module::xinit(w), 0);
  EXPECT_EQ(w.traceFlags, 2);
  h.debug = "";
  EXPECT_EQ(module::xinit(w), 0);
  EXPECT_EQ(w.traceFlags, 0);

  EXPECT_EQ(module::tavlog(w), &module::tavloGrammar());
  host::StatementList out;
  EXPECT_EQ(module::xsparse(w, 1, &out), host::kOk);
  EXPECT_EQ(h.parsedWith, 1);
  EXPECT_EQ(h.grammar, &module::tavloGrammar());
  EXPECT_EQ(w.tokenHandler, &h);
  EXPECT_EQ(w.semanticHandler, &h);
  EXPECT_EQ(w.trackHandler, &h);
  EXPECT_EQ(out.size(), 1u);

  module::v_global_gcb_anchor = nullptr;
  module::ParseWork none;
  EXPECT_EQ(module::xsparse(none, 0, &out), host::kUserError);
  module::v_global_gcb_anchor = saved;
}

}  // namespace
}  // namespace qv::test
