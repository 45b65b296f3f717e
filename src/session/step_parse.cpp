// The host's parse service: runs the module's grammar over the statements of
// the current step, opening the data sets they name.
#include <algorithm>

#include "common/error.h"
#include "runtime/data/where.h"
#include "runtime/parse/statement_parser.h"
#include "runtime/program/globals.h"
#include "runtime/program/statement.h"
#include "session/runtime_host.h"

namespace qv::rt {

namespace {

// The line of `text` that holds `column` (1-based), and a caret under the
// column: tabs show as blanks, a long line is cut around the place, and the
// caret counts UTF-8 characters.
std::vector<std::string> caretLines(std::string_view text, int column) {
  constexpr size_t kWidth = 100;
  size_t at = std::min(static_cast<size_t>(std::max(column, 1) - 1), text.size());
  const size_t lineStart = text.find_last_of("\r\n", at == 0 ? std::string_view::npos : at - 1);
  if (lineStart != std::string_view::npos && lineStart < at) {
    text.remove_prefix(lineStart + 1);
    at -= lineStart + 1;
  }
  text = text.substr(0, text.find_first_of("\r\n"));
  at = std::min(at, text.size());
  auto startOf = [&](size_t i) { return i >= text.size() || (text[i] & 0xC0) != 0x80; };
  size_t from = at > kWidth / 2 ? at - kWidth / 2 : 0;
  while (!startOf(from)) --from;
  size_t to = std::min(text.size(), from + kWidth);
  while (!startOf(to)) ++to;
  const std::string indent(7, ' ');  // under the text after "ERROR: "
  std::string shown = indent + (from > 0 ? "..." : ""), caret = indent + (from > 0 ? "   " : "");
  for (size_t i = from; i < to; ++i) {
    shown += text[i] == '\t' ? ' ' : text[i];
    if (i < at && startOf(i)) caret += ' ';
  }
  if (to < text.size()) shown += "...";
  return {shown, caret + "^"};
}

class StepParseEnv final : public ParseEnv {
 public:
  StepParseEnv(RuntimeHost& host, Log& log, const OptionValues& settings, const SourceText* source)
      : host_(host), log_(log), settings_(settings), source_(source) {}

  host::DataSet* openDataSet(const std::vector<Token>& toks, size_t& pos) override {
    // PLOTDATA= of the PROC statement (whose first word is the procedure's
    // name).
    const bool plotData = pos >= 2 && toks[pos - 1].kind == Tok::Equals &&
                          toks[pos - 2].kind == Tok::Name &&
                          sameNoCase(toks[pos - 2].text, "PLOTDATA") && !toks.empty() &&
                          sameNoCase(toks[0].text, "TAVLO");
    DataSetRef ref = parseDataSetRef(toks, pos, source_);
    try {
      return host_.openForStep(ref, plotData);
    } catch (const ExprError& e) {
      place_ = caretLines(e.text(), e.column());
      throw;
    }
  }
  int findVariable(host::DataSet* ds, std::string_view name) override {
    return ds ? ds->find(name) : -1;
  }
  std::vector<VarInfo> variables(host::DataSet* ds) override {
    std::vector<VarInfo> v;
    if (!ds) return v;
    for (int i = 0; i < ds->nvars(); ++i) {
      host::VarDesc d = ds->desc(i);
      v.push_back({d.name, d.type == host::kNumeric});
    }
    return v;
  }
  std::string dataSetName(host::DataSet* ds) override { return ds ? ds->name() : ""; }
  bool anyNames() override { return anyVarNames(settings_); }
  void error(int, int, const std::string& msg) override {
    log_.error(source_ && !source_->file.empty() ? source_->file + ": " + msg : msg);
    // An expression's error shows its text with a caret under the place.
    for (const std::string& line : place_) log_.line(line);
    place_.clear();
  }
  void hint(const std::string& text) override { log_.note(text); }
  void trace(const std::string& line) override { log_.line(line); }

 private:
  RuntimeHost& host_;
  Log& log_;
  const OptionValues& settings_;
  const SourceText* source_;
  std::vector<std::string> place_;
};

}  // namespace

host::Status RuntimeHost::xsproc(const host::Grammar& grammar, int trace,
                                 host::StatementList* out) {
  if (!step_ || !out) return host::kHostFailure;
  std::vector<std::vector<Token>> statements;
  statements.reserve(step_->statements.size());
  for (const Statement& st : step_->statements) statements.push_back(st.tokens);
  const SourceText* source =
      step_->statements.empty() ? nullptr : step_->statements.front().source.get();
  StepParseEnv env(*this, s_.log, s_.settings, source);
  host::Status status = parseStatements(grammar, statements, env, trace, out);
  if (status != 0 || out->empty()) return status;

  // The BY statement is the host's: mark the PROC node, and refuse data in
  // the wrong order, or BY variables that no data set has, before anything
  // is drawn.
  if (!by_.empty()) {
    host::Statement* proc = out->first();
    proc->setFlag(host::kFlagBy);
    checkBy(grammar, *proc, out);
  }
  return status;
}

// The plot data must carry the BY variables; the map and response data are
// checked when they do. The BY groups are read from one data set, so some
// data set of the step must have them all.
void RuntimeHost::checkBy(const host::Grammar& grammar, const host::Statement& proc,
                          host::StatementList* out) {
  std::vector<host::DataSet*> sets;  // the plot data first
  host::DataSet* plotData = nullptr;
  for (host::VarSource source :
       {host::VarSource::PlotData, host::VarSource::MapData, host::VarSource::MapRespData}) {
    int opt = grammar.dataSetOption[static_cast<int>(source)];
    host::DataSet* ds = opt >= 0 ? proc.slot(opt).dataSet : nullptr;
    if (!ds || !known(ds)) continue;
    if (source == host::VarSource::PlotData) plotData = ds;
    if (std::find(sets.begin(), sets.end(), ds) == sets.end()) sets.push_back(ds);
  }
  if (sets.empty()) return;  // nothing could be opened: reported already
  auto fail = [&](const std::string& text, int line) {
    s_.log.error(text);
    ++out->errors;
    if (line > 0) s_.log.note(missingSemicolonHint(line));
  };

  std::string names;
  std::vector<std::string> seen;  // one data set may be opened for two options
  for (host::DataSet* ds : sets) {
    if (std::find(seen.begin(), seen.end(), ds->name()) != seen.end()) continue;
    seen.push_back(ds->name());
    names += (names.empty() ? "" : ", ") + ds->name();
  }
  bool missing = false;
  for (const host::ByVariable& v : by_) {
    bool found = false;
    for (host::DataSet* ds : sets) found = found || ds->find(v.name) >= 0;
    if (found) continue;
    missing = true;
    // "BY a\nRUN;" reads RUN as a second BY variable.
    int line = 0;
    if (const Statement* st = step_->byStatement ? &*step_->byStatement : nullptr)
      for (const Token& t : st->tokens)
        if (&t != &st->tokens.front() && sameNoCase(t.text, v.name))
          line = lineBeforeJoin(st->tokens, t.line, t.column);
    fail("BY variable " + v.name + " is not in " +
             (seen.size() == 1 ? "the data set " : "any data set of the step (") + names +
             (seen.size() == 1 ? "." : ")."),
         line);
  }
  if (missing) return;

  std::string list;
  for (const host::ByVariable& v : by_) list += (list.empty() ? "" : " ") + v.name;
  bool anyHasAll = false;
  for (host::DataSet* ds : sets) {
    const bool plot = ds == plotData;
    bool hasAll = true;
    for (const host::ByVariable& v : by_) hasAll = hasAll && ds->find(v.name) >= 0;
    anyHasAll = anyHasAll || hasAll;
    if (!plot && !hasAll) continue;
    try {
      ds->setBy(by_);
      if (!plot) ds->clearBy();
    } catch (const UserError& e) {
      fail(e.what(), 0);
    }
  }
  if (!anyHasAll)
    fail("No data set of the step has all the BY variables " + list + " (" + names +
             "); the BY groups are read from one data set.",
         0);
}

}  // namespace qv::rt
