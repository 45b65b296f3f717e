// Test support: a tiny lexer that turns simple program text into the
// statement token lists the engine takes, and a fake environment with data
// sets given as variable lists.
#pragma once

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "module/grammar/grammar.h"
#include "runtime/common/error.h"
#include "runtime/grammar/engine.h"

namespace qv::test {

using rt::Tok;
using rt::Token;

// Statements split at ";" (outside quotes); no comments, no date literals.
inline std::vector<std::vector<Token>> lex(const std::string& src) {
  std::vector<std::vector<Token>> out(1);
  size_t i = 0;
  int line = 1, col = 1;
  bool space = true;
  auto adv = [&](size_t k) {
    for (; k > 0 && i < src.size(); --k, ++i) {
      if (src[i] == '\n') { ++line; col = 1; } else { ++col; }
    }
  };
  auto at = [&](size_t k) { return i + k < src.size() ? src[i + k] : '\0'; };
  auto isName = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
  while (i < src.size()) {
    char c = src[i];
    if (std::isspace(static_cast<unsigned char>(c))) { space = true; adv(1); continue; }
    Token t;
    t.line = line;
    t.column = col;
    t.spaceBefore = space;
    space = false;
    if (c == ';') { out.emplace_back(); adv(1); continue; }
    if (c == '\'' || c == '"') {
      adv(1);
      while (i < src.size()) {
        if (src[i] == c && at(1) == c) { t.text += c; adv(2); continue; }
        if (src[i] == c) break;
        t.text += src[i];
        adv(1);
      }
      adv(1);
      t.kind = Tok::QString;
      if ((at(0) == 'n' || at(0) == 'N') && !isName(at(1))) { t.kind = Tok::NameLit; adv(1); }
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      size_t s = i;
      bool real = false;
      while (std::isdigit(static_cast<unsigned char>(at(0)))) adv(1);
      if (at(0) == '.') {
        real = true;
        adv(1);
        while (std::isdigit(static_cast<unsigned char>(at(0)))) adv(1);
      }
      t.text = src.substr(s, i - s);
      t.kind = real ? Tok::Number : Tok::Int;
      t.num = std::stod(t.text);
    } else if (isName(c)) {
      size_t s = i;
      while (isName(at(0))) adv(1);
      t.kind = Tok::Name;
      if (at(0) == '.') {
        adv(1);
        if (std::isalpha(static_cast<unsigned char>(at(0))) || at(0) == '_') {
          t.kind = Tok::Compound;
          while (isName(at(0))) adv(1);
        } else {
          t.kind = Tok::Format;
          while (std::isdigit(static_cast<unsigned char>(at(0)))) adv(1);
        }
      }
      t.text = src.substr(s, i - s);
    } else {
      static const std::map<char, Tok> kPunct = {
          {'%', Tok::Percent}, {'(', Tok::LParen}, {')', Tok::RParen}, {'-', Tok::Minus},
          {'/', Tok::Slash},   {':', Tok::Colon},  {'=', Tok::Equals}, {'+', Tok::Plus},
          {',', Tok::Comma}};
      auto p = kPunct.find(c);
      t.kind = p == kPunct.end() ? Tok::Other : p->second;
      t.text = std::string(1, c);
      adv(1);
    }
    out.back().push_back(t);
  }
  if (out.back().empty()) out.pop_back();
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
  static std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  static FakeDataSet* of(host::DataSet* ds) { return reinterpret_cast<FakeDataSet*>(ds); }

  host::DataSet* openDataSet(const std::vector<Token>& toks, size_t& pos) override {
    const Token& t = toks[pos];
    if (t.kind != Tok::Name && t.kind != Tok::Compound && t.kind != Tok::QString)
      throw rt::UserError(rt::Place{"", t.line, t.column}, "expected a data set name");
    std::string member = upper(t.text);
    if (member.rfind("WORK.", 0) == 0) member = member.substr(5);
    auto it = sets.find(member);
    if (it == sets.end())
      throw rt::UserError("Data set WORK." + member + " does not exist.");
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
      if (upper(v[i].name) == upper(std::string(name))) return static_cast<int>(i);
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
