// Test support: program text as the statement token lists the engine
// takes, and a fake environment with data sets given as variable lists.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/ascii.h"
#include "common/error.h"
#include "module/grammar/grammar.h"
#include "runtime/parse/statement_parser.h"
#include "runtime/program/statement.h"

namespace qv::test {

using rt::Tok;
using rt::Token;

// The token lists of the statements of `src`, as the program reader makes
// them.
inline std::vector<std::vector<Token>> lex(const std::string& src) {
  std::vector<std::vector<Token>> out;
  rt::StatementReader reader(src, "");
  for (rt::Statement st; reader.next(st);) out.push_back(st.tokens);
  return out;
}

struct FakeDataSet {
  std::string name;
  std::vector<rt::ParseEnv::VarInfo> vars;
};

class FakeEnv : public rt::ParseEnv {
 public:
  struct Error {
    int line, column;
    std::string msg;
  };
  std::map<std::string, FakeDataSet> sets;  // by upper-case member name
  bool any = false;
  std::vector<Error> errors;
  std::vector<std::string> traces;

  // Variables separated by blanks; a leading "$" marks a character one.
  void add(const std::string& member, const std::string& vars) {
    FakeDataSet& d = sets[upper(member)];
    d.name = "WORK." + upper(member);
    size_t i = 0;
    while (i < vars.size()) {
      size_t e = vars.find(' ', i);
      if (e == std::string::npos) e = vars.size();
      std::string v = vars.substr(i, e - i);
      if (!v.empty()) d.vars.push_back({v[0] == '$' ? v.substr(1) : v, v[0] != '$'});
      i = e + 1;
    }
  }
  static FakeDataSet* of(host::DataSet* ds) { return reinterpret_cast<FakeDataSet*>(ds); }

  host::DataSet* openDataSet(const std::vector<Token>& toks, size_t& pos) override {
    const Token& t = toks[pos];
    if (t.kind != Tok::Name && t.kind != Tok::Compound && t.kind != Tok::QString)
      throw qv::UserError(qv::Place{"", t.line, t.column}, "expected a data set name");
    std::string member = upper(t.text);
    if (member.rfind("WORK.", 0) == 0) member = member.substr(5);
    auto it = sets.find(member);
    if (it == sets.end())
      throw qv::UserError("Data set WORK." + member + " does not exist.");
    ++pos;
    if (pos < toks.size() && toks[pos].kind == Tok::LParen) {  // data set options
      int depth = 0;
      do {
        if (toks[pos].kind == Tok::LParen) ++depth;
        if (toks[pos].kind == Tok::RParen) --depth;
        ++pos;
      } while (pos < toks.size() && depth > 0);
    }
    return reinterpret_cast<host::DataSet*>(&it->second);
  }
  int findVariable(host::DataSet* ds, std::string_view name) override {
    auto& v = of(ds)->vars;
    for (size_t i = 0; i < v.size(); ++i)
      if (sameNoCase(v[i].name, name)) return static_cast<int>(i);
    return -1;
  }
  std::vector<VarInfo> variables(host::DataSet* ds) override { return of(ds)->vars; }
  std::string dataSetName(host::DataSet* ds) override { return of(ds)->name; }
  bool anyNames() override { return any; }
  void error(int line, int col, const std::string& msg) override {
    errors.push_back({line, col, msg});
  }
  void trace(const std::string& line) override { traces.push_back(line); }

  std::string allErrors() const {
    std::string s;
    for (auto& e : errors) s += e.msg + "\n";
    return s;
  }
};

}  // namespace qv::test
