#include "session/plot_use.h"

#include <optional>
#include <vector>

#include "common/ascii.h"
#include "module/grammar/grammar.h"

namespace qv::rt {

namespace {

using module::Opt;
using module::Stmt;

bool named(const char* name, const char* const* aliases, std::string_view word) {
  if (name && sameNoCase(name, word)) return true;
  for (int i = 0; i < 3; ++i)
    if (aliases[i] && sameNoCase(aliases[i], word)) return true;
  return false;
}

// The statement a keyword begins, Stmt::Count for none.
Stmt kindOf(const host::Grammar& g, std::string_view word) {
  for (int k = 0; k < g.statementCount; ++k)
    if (named(g.statements[k].keyword, g.statements[k].aliases, word)) return static_cast<Stmt>(k);
  return Stmt::Count;
}

// The options a statement writes at the top level (not inside parentheses):
// each word followed by "=", with its value when that is one word, and each
// word standing alone (a flag, or an operand).
struct Written {
  std::string name;
  std::optional<std::string> value;
};

std::vector<Written> optionsOf(const Statement& st) {
  std::vector<Written> out;
  const std::vector<Token>& t = st.tokens;
  int depth = 0;
  for (size_t i = 1; i < t.size(); ++i) {
    if (t[i].kind == Tok::LParen) ++depth;
    if (t[i].kind == Tok::RParen) --depth;
    if (depth != 0 || t[i].kind != Tok::Name) continue;
    Written w{t[i].text, std::nullopt};
    if (i + 1 < t.size() && t[i + 1].kind == Tok::Equals) {
      if (i + 2 < t.size() && (t[i + 2].kind == Tok::Name || t[i + 2].kind == Tok::NameLit))
        w.value = t[i + 2].text;
      i += 1;  // the value is looked at as the next token, a word only when it is one
      if (i + 1 < t.size() && t[i + 1].kind != Tok::LParen) ++i;
    }
    out.push_back(std::move(w));
  }
  return out;
}

bool isOption(const host::Grammar& g, Opt id, std::string_view word) {
  const host::OptionDesc& d = g.options[static_cast<int>(id)];
  return named(d.name, d.aliases, word);
}

}  // namespace

PlotDataUse plotDataUse(const Step& step) {
  PlotDataUse use;
  const host::Grammar& g = module::tavloGrammar();
  const Statement* scatter = nullptr;
  int plots = 0;
  for (size_t i = 0; i < step.statements.size(); ++i) {
    const Statement& st = step.statements[i];
    if (i == 0) {
      for (const Written& w : optionsOf(st))
        if (isOption(g, Opt::PlotCs, w.name)) use.plotCs = true;
      continue;
    }
    const Stmt kind = kindOf(g, st.keyword());
    if (kind == Stmt::OpenStreetMap || kind == Stmt::EsriMap) use.tiles = true;
    if (kind == Stmt::Count || !module::isPlotStatement(kind)) continue;
    ++plots;
    if (kind == Stmt::Scatter) scatter = &st;
    else use.why = "the step draws its plot data with a " +
                   std::string(module::statementInfo(kind).keyword) + " statement";
  }
  if (plots == 0) return use;
  if (plots > 1 && use.why.empty()) use.why = "the step has several SCATTER statements";
  if (!use.why.empty()) return use;
  for (const Written& w : optionsOf(*scatter)) {
    for (Opt perRow : {Opt::Tip, Opt::Url, Opt::DataLabel, Opt::ColorResponse, Opt::RAttrId}) {
      if (!isOption(g, perRow, w.name)) continue;
      use.why = "its SCATTER has " + upper(g.options[static_cast<int>(perRow)].name) + "=";
      return use;
    }
    if (isOption(g, Opt::X, w.name) && w.value) use.x = *w.value;
    if (isOption(g, Opt::Y, w.name) && w.value) use.y = *w.value;
    if (isOption(g, Opt::Group, w.name) && w.value) use.group = *w.value;
  }
  if (use.x.empty() || use.y.empty()) {
    use.why = "the SCATTER's X= and Y= are not plain names";
    return use;
  }
  use.countable = true;
  return use;
}

}  // namespace qv::rt
