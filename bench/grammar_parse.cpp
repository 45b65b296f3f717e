// Parse speed of the statement engine on the TAVLO grammar: one step of a
// PROC statement and N plot statements with a typical spread of options.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "module/grammar/grammar.h"
#include "runtime/parse/statement_parser.h"

namespace {

using qv::rt::Tok;
using qv::rt::Token;

struct Vars {
  std::vector<qv::rt::ParseEnv::VarInfo> vars;
};

class BenchEnv : public qv::rt::ParseEnv {
 public:
  Vars data{{{"lon", true}, {"lat", true}, {"pop", true}, {"kind", false},
             {"city", false}, {"a1", true}, {"a2", true}, {"a3", true}}};
  qv::host::DataSet* openDataSet(const std::vector<Token>&, size_t& pos) override {
    ++pos;
    return reinterpret_cast<qv::host::DataSet*>(&data);
  }
  int findVariable(qv::host::DataSet*, std::string_view name) override {
    for (size_t i = 0; i < data.vars.size(); ++i)
      if (data.vars[i].name == name) return static_cast<int>(i);
    return -1;
  }
  std::vector<VarInfo> variables(qv::host::DataSet*) override { return data.vars; }
  std::string dataSetName(qv::host::DataSet*) override { return "WORK.PTS"; }
  bool anyNames() override { return false; }
  void error(int, int, const std::string&) override {}
  void trace(const std::string&) override {}
};

class Builder {
 public:
  std::vector<Token> t;
  int col = 1;
  Builder& add(Tok k, std::string text, double num = 0, bool space = true) {
    Token x;
    x.kind = k;
    x.text = std::move(text);
    x.num = num;
    x.line = 1;
    x.column = col;
    x.spaceBefore = space;
    col += static_cast<int>(x.text.size()) + 1;
    t.push_back(std::move(x));
    return *this;
  }
  Builder& name(const std::string& n) { return add(Tok::Name, n); }
  Builder& eq() { return add(Tok::Equals, "=", 0, false); }
  Builder& opt(const std::string& n, const std::string& v) { return name(n).eq().name(v); }
};

std::vector<std::vector<Token>> step(int statements) {
  std::vector<std::vector<Token>> s;
  Builder proc;
  proc.name("PROC").name("TAVLO").name("PLOTDATA").eq().name("pts");
  s.push_back(proc.t);
  for (int i = 0; i < statements; ++i) {
    Builder b;
    b.name("SCATTER").opt("X", "lon").opt("Y", "lat").add(Tok::Slash, "/");
    b.opt("GROUP", "kind").name("TRANSPARENCY").eq().add(Tok::Number, "0.5", 0.5, false);
    b.name("MARKERATTRS").eq().add(Tok::LParen, "(", 0, false).opt("SYMBOL", "circle");
    b.name("SIZE").eq().add(Tok::Int, "5", 5, false).add(Tok::Name, "px", 0, false);
    b.add(Tok::RParen, ")", 0, false);
    b.name("TIP").eq().add(Tok::LParen, "(", 0, false).name("a1").add(Tok::Minus, "-", 0, false);
    b.add(Tok::Name, "a3", 0, false).name("city").add(Tok::RParen, ")", 0, false);
    std::string plotName = "s";
    plotName += std::to_string(i);
    b.name("NAME").eq().add(Tok::QString, plotName, 0, false);
    s.push_back(b.t);
  }
  return s;
}

void BM_ParseStep(benchmark::State& state) {
  auto statements = step(static_cast<int>(state.range(0)));
  BenchEnv env;
  for (auto _ : state) {
    qv::host::StatementList out;
    if (qv::rt::parseStatements(qv::module::tavloGrammar(), statements, env, 0, &out) ||
        out.errors)
      state.SkipWithError("parse errors");
    benchmark::DoNotOptimize(out.nodes.size());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseStep)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
