#include "runtime/parse/statement_parser.h"

#include "runtime/program/names.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <set>

#include "common/ascii.h"
#include "common/error.h"
#include "common/global_options.h"
#include "runtime/formats/formats.h"
#include "runtime/program/statement.h"

namespace qv::rt {

namespace {

using host::EnumTable;
using host::Grammar;
using host::OperandDesc;
using host::OptionDesc;
using host::Slot;
using host::Statement;
using host::StatementDesc;
using host::ValueKind;
using host::VarSource;

// A syntax error that has been reported; the option or operand loop catches
// it and resumes at the next place where parsing can start again.
struct Fault {};

bool matchesName(std::string_view text, const char* name, const char* const aliases[3]) {
  if (name && sameNoCase(text, name)) return true;
  for (int i = 0; i < 3; ++i)
    if (aliases[i] && sameNoCase(text, aliases[i])) return true;
  return false;
}

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

const char* kindName(Tok k) {
  switch (k) {
    case Tok::End: return "End";
    case Tok::Name: return "Name";
    case Tok::QString: return "QString";
    case Tok::Int: return "Int";
    case Tok::Number: return "Number";
    case Tok::Compound: return "Compound";
    case Tok::Format: return "Format";
    case Tok::Date: return "Date";
    case Tok::Time: return "Time";
    case Tok::DateTime: return "DateTime";
    case Tok::Missing: return "Missing";
    case Tok::NameLit: return "NameLit";
    case Tok::Eof: return "Eof";
    default: return "Punct";
  }
}

// A format in its bare w.d form (8.2, 8.), which the tokenizer reads as
// a number.
bool isPlainFormat(const Token& t) {
  std::string name;
  int w = 0, d = 0;
  bool hw = false, hd = false;
  return t.kind == Tok::Number && parseFormatName(t.text, &name, &w, &d, &hw, &hd);
}

// The token as the user would recognise it in a message.
std::string shown(const Token& t) {
  switch (t.kind) {
    case Tok::QString: return "'" + t.text + "'";
    case Tok::NameLit: return "'" + t.text + "'n";
    case Tok::Int:
    case Tok::Number: return t.text.empty() ? num(t.num) : t.text;
    case Tok::End: return ";";
    default: return t.text.empty() ? std::string(kindName(t.kind)) : t.text;
  }
}

// Columns a token takes on its line (used to place "end of statement").
int width(const Token& t) {
  switch (t.kind) {
    case Tok::QString: return static_cast<int>(t.text.size()) + 2;
    case Tok::NameLit: return static_cast<int>(t.text.size()) + 3;
    default: return std::max<int>(1, static_cast<int>(shown(t).size()));
  }
}

std::string wordList(const EnumTable& t) {
  std::string s;
  for (int i = 0; i < t.count; ++i) {
    if (t.words[i].alias) continue;
    if (!s.empty()) s += ' ';
    s += t.words[i].word;
  }
  return s;
}

std::string enumExpect(const EnumTable& t) {
  std::string s = "one of: " + wordList(t);
  if (t.allowInt) {
    s += " or an integer";
    if (t.intBounded) s += " " + std::to_string(t.intMin) + " to " + std::to_string(t.intMax);
  }
  return s;
}

const host::EnumWord* findWord(const EnumTable* t, std::string_view w) {
  if (!t) return nullptr;
  for (int i = 0; i < t->count; ++i)
    if (sameNoCase(w, t->words[i].word)) return &t->words[i];
  return nullptr;
}

std::string rangeText(const OptionDesc& od, bool integer) {
  std::string s = integer ? "an integer" : "a number";
  if (od.hasMin && od.hasMax) s += " between " + num(od.min) + " and " + num(od.max);
  else if (od.hasMin) s += " of at least " + num(od.min);
  else if (od.hasMax) s += " of at most " + num(od.max);
  return s;
}

bool takesValue(ValueKind k) {
  return k != ValueKind::Flag && k != ValueKind::FlagOrVariable && k != ValueKind::FlagOrNumber;
}

std::string render(const Slot& s);

std::string renderList(const std::vector<Slot>& list, bool sides) {
  static const char* const kSides[] = {"LEFT", "RIGHT", "TOP", "BOTTOM"};
  std::string r = "(";
  for (size_t i = 0; i < list.size(); ++i) {
    if (!list[i].present()) continue;
    if (r.size() > 1) r += ' ';
    if (sides && i < 4) r += std::string(kSides[i]) + "=";
    r += render(list[i]);
  }
  return r + ")";
}

std::string render(const Slot& s) {
  static const char* const kUnits[] = {"", "PX", "IN", "CM", "MM", "PCT", "PT"};
  switch (s.kind) {
    case host::kSlotNumber:
      return num(s.number) + (s.unit > 0 && s.unit < 7 ? kUnits[s.unit] : "");
    case host::kSlotName:
      return s.isVariable() && s.var.number >= 0
                 ? s.text + " (variable " + std::to_string(s.var.number) + ")"
                 : s.text;
    case host::kSlotText: return "'" + s.text + "'";
    case host::kSlotEnum:
      return (s.text.empty() ? "" : s.text + " ") + "(code " + num(s.number) + ")";
    case host::kSlotList: return renderList(s.list, false);
    case host::kSlotSides: return renderList(s.list, true);
    case host::kSlotDataSet: return s.text;
    case host::kSlotGroup: {
      static const char* const kAttr[] = {"COLOR", "SIZE", "FAMILY", "WEIGHT", "STYLE",
                                          "THICKNESS", "PATTERN", "SYMBOL", "TRANSPARENCY"};
      std::string r = s.text;
      std::string o;
      for (size_t i = 0; i < s.attrs.size() && i < host::kAttrCount; ++i) {
        if (!s.attrs[i].present()) continue;
        o += (o.empty() ? "" : " ") + std::string(kAttr[i]) + "=" + render(s.attrs[i]);
      }
      return o.empty() ? r : r + "(" + o + ")";
    }
    default: return "";
  }
}

class StatementParser {
 public:
  StatementParser(const Grammar& g, ParseEnv& env, int trace, host::StatementList* out)
      : g_(g), env_(env), trace_(trace), out_(out), dsFailed_(g.optionCount, false) {}

  void run(const std::vector<std::vector<Token>>& statements) {
    bool first = true;
    for (const auto& st : statements) {
      size_t n = 0;
      while (n < st.size() && st[n].kind != Tok::End && st[n].kind != Tok::Eof) ++n;
      if (n == 0) continue;  // a null statement
      toks_ = &st;
      n_ = n;
      pos_ = 0;
      const Token& last = st[n - 1];
      endLine_ = last.line;
      endCol_ = last.column + width(last);
      joined_ = false;
      statement(first);
      first = false;
    }
  }

 private:
  const Grammar& g_;
  ParseEnv& env_;
  int trace_;
  host::StatementList* out_;
  std::vector<bool> dsFailed_;  // by option id: a data set option that failed to open

  const std::vector<Token>* toks_ = nullptr;
  size_t n_ = 0;
  size_t pos_ = 0;
  int endLine_ = 0, endCol_ = 0;
  const StatementDesc* sd_ = nullptr;
  Statement* node_ = nullptr;
  const Statement* proc_ = nullptr;
  // The data set options of the statement itself (not of the PROC
  // statement), by VarSource: read before its operands, so that its
  // variables are looked up there; their tokens are skipped where the
  // options come.
  struct OwnDataSet {
    bool given = false;
    bool failed = false;  // could not be opened: reported already
  };
  OwnDataSet own_[host::kVarSourceCount];
  std::vector<std::pair<size_t, size_t>> ownTokens_;  // [from, to) of each such option
  const OptionDesc* groupOpt_ = nullptr;  // attribute group whose overrides are read
  // The statement's first error came at the start of a line that follows one
  // without ";": the statement is most likely two joined ones, and its later
  // errors only follow from that, so they are counted but not shown.
  bool joined_ = false;

  // --- tokens ---------------------------------------------------------------
  const Token* peek(size_t k = 0) const {
    return pos_ + k < n_ ? &(*toks_)[pos_ + k] : nullptr;
  }
  bool is(size_t k, Tok kind) const {
    const Token* t = peek(k);
    return t && t->kind == kind;
  }
  bool atEnd() const { return pos_ >= n_; }
  const Token& take() {
    const Token& t = (*toks_)[pos_++];
    if (trace_ & kTraceSyntax)
      env_.trace("SYN: token " + std::string(kindName(t.kind)) + " " + shown(t) + " at " +
                 std::to_string(t.line) + ":" + std::to_string(t.column));
    return t;
  }

  // --- messages ---------------------------------------------------------------
  void where(const Token* at, int* line, int* col) const {
    *line = at ? at->line : endLine_;
    *col = at ? at->column : endCol_;
  }
  std::string found(const Token* at) const {
    return at ? shown(*at) : std::string("the end of the statement");
  }
  void report(const Token* at, const std::string& text) {
    int line, col;
    where(at, &line, &col);
    emit(line, col,
         "Syntax error at line " + std::to_string(line) + ", column " + std::to_string(col) +
             ": " + text);
  }
  void emit(int line, int col, const std::string& msg) {
    ++out_->errors;
    if (joined_) return;
    env_.error(line, col, msg);
    if (int before = joinedLine(line, col)) {
      joined_ = true;
      env_.hint(missingSemicolonHint(before));
    }
  }
  // The line a ";" may be missing from when the error at (line, col) comes
  // at the start of a line, or after a statement keyword that starts a line
  // (skipped while looking for the next option); else 0.
  int joinedLine(int line, int col) const {
    if (!toks_) return 0;
    if (int before = lineBeforeJoin(*toks_, line, col)) return before;
    for (size_t k = 1; k < n_; ++k) {
      const Token& t = (*toks_)[k];
      if (t.line > line || (t.line == line && t.column > col)) break;
      const Token& prev = (*toks_)[k - 1];
      if (prev.line < t.line && t.kind == Tok::Name && findStatement(t.text)) return prev.line;
    }
    return 0;
  }
  [[noreturn]] void fail(const Token* at, const std::string& expected,
                         const std::string& foundText = "") {
    report(at, "expected " + expected + ", found " + (foundText.empty() ? found(at) : foundText));
    throw Fault{};
  }
  [[noreturn]] void failText(const Token* at, const std::string& text) {
    report(at, text);
    throw Fault{};
  }
  // An error in meaning (a variable or data set that is not there).
  void semanticError(int line, int col, const std::string& text) {
    emit(line, col, "Line " + std::to_string(line) + ", column " + std::to_string(col) + ": " + text);
  }
  // A semantic trace line; the text is only made when tracing.
  template <class Text>
  void sem(Text text) {
    if (trace_ & kTraceSemantic) env_.trace("SEM: " + text());
  }

  // How messages name an option: "TRANSPARENCY=", "NOFILL",
  // "COLOR= in MARKERATTRS=".
  std::string ref(const OptionDesc& od) const {
    std::string s =
        od.label ? od.label : std::string(od.name) + (od.kind != ValueKind::Flag ? "=" : "");
    if (groupOpt_ && &od != groupOpt_) s += " in " + std::string(groupOpt_->name) + "=";
    return s;
  }

  // --- statement level ----------------------------------------------------------
  // Slots a node of this statement needs: up to its highest option id
  // (reading past the end gives an absent slot; writing grows the record).
  static int slotCount(const StatementDesc& sd) {
    int n = 0;
    for (int i = 0; i < sd.operandCount; ++i) n = std::max(n, sd.operands[i].option + 1);
    for (int i = 0; i < sd.optionCount; ++i) n = std::max(n, sd.options[i] + 1);
    return n;
  }

  const StatementDesc* findStatement(std::string_view word) const {
    for (int i = 0; i < g_.statementCount; ++i)
      if (matchesName(word, g_.statements[i].keyword, g_.statements[i].aliases))
        return &g_.statements[i];
    return nullptr;
  }
  std::string statementNames() const {
    std::string s;
    for (int i = 0; i < g_.statementCount; ++i) {
      if (g_.statements[i].proc) continue;
      if (!s.empty()) s += ' ';
      s += g_.statements[i].keyword;
    }
    return s;
  }
  const OptionDesc* findOption(std::string_view word) const {
    for (int i = 0; i < sd_->optionCount; ++i) {
      const OptionDesc& od = g_.options[sd_->options[i]];
      if (matchesName(word, od.name, od.aliases)) return &od;
    }
    return nullptr;
  }

  void statement(bool first) {
    sd_ = nullptr;
    node_ = nullptr;
    const Token* t = peek();
    bool procWord = false;
    if (t->kind == Tok::Name && sameNoCase(t->text, "PROC")) {
      if (!first) {
        report(t, "PROC may only begin the step");
        return;
      }
      take();
      procWord = true;
      t = peek();
    }
    if (!t || t->kind != Tok::Name) {
      report(t, "expected " + std::string(procWord ? "a procedure name" : "a statement name") +
                    ", found " + found(t));
      return;
    }
    const StatementDesc* sd = findStatement(t->text);
    if (!sd || (procWord && !sd->proc)) {
      if (procWord)
        report(t, "unknown procedure " + upper(t->text));
      else
        report(t, "unknown statement " + upper(t->text) + "; expected one of: " + statementNames());
      return;
    }
    if (sd->proc && !first) {
      report(t, "the " + std::string(sd->keyword) + " statement may only begin the step");
      return;
    }
    if (first && !sd->proc) {
      for (int i = 0; i < g_.statementCount; ++i)
        if (g_.statements[i].proc)
          report(t, "expected the PROC " + std::string(g_.statements[i].keyword) +
                        " statement first, found " + upper(t->text));
    }
    sd_ = sd;
    Statement& node = out_->append();
    node_ = &node;
    node.keyword = upper(t->text);
    node.statement = static_cast<int>(sd - g_.statements);
    node.name = sd->keyword;
    node.line = t->line;
    node.column = t->column;
    node.slots.resize(slotCount(*sd));
    if (sd->proc) proc_ = &node;
    if (trace_ & kTraceSyntax)
      env_.trace("SYN: statement " + node.keyword + " (" + sd->keyword + ") at line " +
                 std::to_string(t->line) + ", column " + std::to_string(t->column));
    sem([&] { return "start statement " + std::string(sd->keyword); });
    take();
    for (OwnDataSet& o : own_) o = OwnDataSet{};
    ownTokens_.clear();
    if (!sd->proc) ownDataSets();
    operands();
    options();
    sem([&] { return "end statement " + std::string(sd->keyword); });
  }

  // --- leading operands ---------------------------------------------------------
  int matchOperand(const std::vector<bool>& given) const {
    const Token* t = peek();
    for (int i = 0; i < sd_->operandCount; ++i) {
      const OperandDesc& op = sd_->operands[i];
      const OptionDesc& od = g_.options[op.option];
      if (op.keyed) {
        if (t->kind == Tok::Name && matchesName(t->text, od.name, od.aliases) &&
            is(1, Tok::Equals))
          return i;
        continue;
      }
      if (given[i] && !op.repeat) continue;
      if (od.kind == ValueKind::Variable &&
          (t->kind == Tok::NameLit || (t->kind == Tok::Name && !is(1, Tok::Equals))))
        return i;
      if (od.kind == ValueKind::Text && t->kind == Tok::QString) return i;
    }
    return -1;
  }

  std::string operandExpect(const std::vector<bool>& given) const {
    std::vector<std::string> items;
    for (int i = 0; i < sd_->operandCount; ++i) {
      const OperandDesc& op = sd_->operands[i];
      const OptionDesc& od = g_.options[op.option];
      if (op.keyed) items.push_back(std::string(od.name) + "=");
      else if (!given[i] || op.repeat) items.push_back(od.label ? od.label : od.name);
    }
    if (sd_->slash && sd_->optionCount > 0) items.push_back("\"/\"");
    if (items.empty()) return "the end of the statement";
    if (items.size() == 1) return items[0];
    std::string s = "one of:";
    for (auto& i : items) s += " " + i;
    return s;
  }

  void operands() {
    std::vector<bool> given(sd_->operandCount, false), tried(sd_->operandCount, false);
    while (!atEnd()) {
      const Token* t = peek();
      if (sd_->slash && t->kind == Tok::Slash) break;
      size_t start = pos_;
      int which = matchOperand(given);
      if (which < 0) {
        if (!sd_->slash) break;  // the options follow directly
        const OptionDesc* od = t->kind == Tok::Name ? findOption(t->text) : nullptr;
        if (od)
          report(t, "expected \"/\" before the option " + upper(t->text) +
                        (takesValue(od->kind) ? "=" : ""));
        else
          report(t, "expected " + operandExpect(given) + ", found " + found(t));
        resync(start, start, [&](size_t i) { return operandStart(i); });
        continue;
      }
      tried[which] = true;
      try {
        operand(sd_->operands[which]);
        given[which] = true;
      } catch (const Fault&) {
        resync(start, pos_, [&](size_t i) { return operandStart(i); });
      }
    }
    for (int i = 0; i < sd_->operandCount; ++i) {
      const OperandDesc& op = sd_->operands[i];
      if (op.required && !given[i] && !tried[i]) {
        const OptionDesc& od = g_.options[op.option];
        report(peek(), std::string(sd_->keyword) + " requires " +
                           (od.label ? od.label : std::string(od.name) + "="));
      }
    }
  }

  void operand(const OperandDesc& op) {
    const OptionDesc& od = g_.options[op.option];
    Slot& s = node_->slot(od.id);
    if (op.keyed) {
      take();
      value(od, s);
      return;
    }
    const Token& t = take();
    if (od.kind == ValueKind::Variable) {
      s = Slot{};
      variable(od, s, t);
    } else if (op.repeat) {
      s.kind = host::kSlotList;
      Slot e;
      e.kind = host::kSlotText;
      e.text = t.text;
      e.line = t.line;
      e.column = t.column;
      s.list.push_back(e);
      if (s.list.size() == 1) {
        s.line = t.line;
        s.column = t.column;
      }
    } else {
      s = Slot{};
      s.kind = host::kSlotText;
      s.text = t.text;
      s.line = t.line;
      s.column = t.column;
    }
    sem([&] {
      return "set " + std::string(od.label ? od.label : od.name) + " " + render(s);
    });
  }

  bool operandStart(size_t i) const {
    const Token& t = (*toks_)[i];
    if (t.kind == Tok::Slash) return true;
    if (t.kind != Tok::Name || i + 1 >= n_ || (*toks_)[i + 1].kind != Tok::Equals) return false;
    for (int k = 0; k < sd_->operandCount; ++k) {
      const OptionDesc& od = g_.options[sd_->operands[k].option];
      if (sd_->operands[k].keyed && matchesName(t.text, od.name, od.aliases)) return true;
    }
    return false;
  }

  // --- options ------------------------------------------------------------------
  void options() {
    if (atEnd()) return;
    if (sd_->slash) {
      const Token& slash = take();  // the operand loop stops only at "/"
      if (sd_->optionCount == 0) {
        report(&slash, std::string(sd_->keyword) + " takes no options");
        pos_ = n_;
        return;
      }
    } else if (sd_->optionCount == 0) {
      report(peek(), "expected the end of the statement, found " + found(peek()));
      pos_ = n_;
      return;
    }
    while (!atEnd()) {
      size_t start = pos_;
      if (skipOwnDataSet()) continue;
      const Token* t = peek();
      const OptionDesc* od = t->kind == Tok::Name ? findOption(t->text) : nullptr;
      if (!od) {
        if (t->kind == Tok::Name)
          report(t, "unknown option " + upper(t->text) + (is(1, Tok::Equals) ? "=" : "") +
                        " for the " + sd_->keyword + " statement");
        else
          report(t, "expected an option of the " + std::string(sd_->keyword) +
                        " statement, found " + found(t));
        resync(start, start, [&](size_t i) { return optionStart(i); });
        continue;
      }
      try {
        take();
        value(*od, node_->slot(od->id));
      } catch (const Fault&) {
        groupOpt_ = nullptr;
        resync(start, pos_, [&](size_t i) { return optionStart(i); });
      }
    }
  }

  // The VarSource whose data set option `od` is (0 for another option).
  int dataSetSource(const OptionDesc& od) const {
    if (od.kind != ValueKind::DataSet) return 0;
    for (int v = 1; v < host::kVarSourceCount; ++v)
      if (g_.dataSetOption[v] == od.id) return v;
    return 0;
  }

  // Reads the statement's own data set options (after "/" when options
  // follow one), each where it is written, and goes back to the operands.
  void ownDataSets() {
    const size_t back = pos_;
    size_t i = pos_;
    if (sd_->slash) {
      while (i < n_ && (*toks_)[i].kind != Tok::Slash) ++i;
      ++i;
    }
    int depth = 0;
    for (; i + 1 < n_; ++i) {
      const Token& t = (*toks_)[i];
      if (t.kind == Tok::LParen) ++depth;
      else if (t.kind == Tok::RParen && depth > 0) --depth;
      if (depth > 0 || t.kind != Tok::Name || (*toks_)[i + 1].kind != Tok::Equals) continue;
      const OptionDesc* od = findOption(t.text);
      const int source = od ? dataSetSource(*od) : 0;
      if (source == 0) continue;
      // The PROC statement's failure to open the same option is its own.
      const bool procFailed = dsFailed_[od->id];
      pos_ = i + 1;
      try {
        value(*od, node_->slot(od->id));
      } catch (const Fault&) {
        resync(i, pos_, [&](size_t k) { return optionStart(k); });
      }
      own_[source].given = true;
      own_[source].failed = dsFailed_[od->id];
      dsFailed_[od->id] = procFailed;
      ownTokens_.emplace_back(i, std::max(pos_, i + 1));
      i = std::max(pos_, i + 1) - 1;
    }
    pos_ = back;
  }

  // Past an option that ownDataSets read: true when pos_ moved.
  bool skipOwnDataSet() {
    for (const auto& [from, to] : ownTokens_)
      if (pos_ == from) {
        pos_ = to;
        return true;
      }
    return false;
  }

  // Where parsing can start again: an option of this statement, or any
  // NAME= (so that an unknown option after an error is reported too).
  bool optionStart(size_t i) const {
    const Token& t = (*toks_)[i];
    if (t.kind != Tok::Name) return false;
    if (i + 1 < n_ && (*toks_)[i + 1].kind == Tok::Equals) return true;
    const OptionDesc* od = findOption(t.text);
    return od && !takesValue(od->kind);
  }

  // Moves to the first token at or after max(errPos, start + 1) that can
  // start the next option (or operand), outside the parentheses opened since `start`;
  // when parentheses never close, to the first such token at any depth; else
  // to the end of the statement.
  template <class Pred>
  void resync(size_t start, size_t errPos, Pred canStart) {
    size_t from = std::max(errPos, start + 1);
    int depth = 0;
    auto step = [&](size_t i) {
      Tok k = (*toks_)[i].kind;
      if (k == Tok::LParen) ++depth;
      else if (k == Tok::RParen && depth > 0) --depth;
    };
    for (size_t i = start; i < from && i < n_; ++i) step(i);
    for (size_t i = from; i < n_; ++i) {
      if (depth == 0 && canStart(i)) {
        pos_ = i;
        return;
      }
      step(i);
    }
    for (size_t i = from; depth > 0 && i < n_; ++i) {
      if (canStart(i)) {
        pos_ = i;
        return;
      }
    }
    pos_ = n_;
  }

  void setFlag(const OptionDesc& od) {
    if (od.flag < 0) return;
    node_->setFlag(od.flag);
    sem([&] {
      return "set flag " + std::string(od.name) + " (" + std::to_string(od.flag) + ")";
    });
  }

  void expectEquals(const OptionDesc& od) {
    if (!is(0, Tok::Equals)) fail(peek(), "\"=\" after " + std::string(od.name));
    take();
  }

  void place(Slot& s, const Token* t) {
    s.line = t ? t->line : endLine_;
    s.column = t ? t->column : endCol_;
  }

  // The value of one option (or override) after its name.
  void value(const OptionDesc& od, Slot& s) {
    switch (od.kind) {
      case ValueKind::Flag:
        if (is(0, Tok::Equals)) failText(peek(), ref(od) + " takes no value");
        setFlag(od);
        return;
      case ValueKind::FlagOrVariable:
        setFlag(od);
        if (!is(0, Tok::Equals)) return;
        take();
        s = Slot{};
        variableToken(od, s);
        break;
      case ValueKind::FlagOrNumber:
        setFlag(od);
        if (!is(0, Tok::Equals)) return;
        take();
        s = Slot{};
        number(od, s, false);
        break;
      default:
        expectEquals(od);
        s = Slot{};
        place(s, peek());
        typed(od, s);
        break;
    }
    sem([&] { return "set " + ref(od) + render(s); });
  }

  void typed(const OptionDesc& od, Slot& s) {
    const Token* t = peek();
    switch (od.kind) {
      case ValueKind::Name:
        if (!t || t->kind != Tok::Name) fail(t, "a name for " + ref(od));
        s.kind = host::kSlotName;
        s.text = take().text;
        return;
      case ValueKind::Text:
        if (!t || t->kind != Tok::QString) fail(t, "a quoted text for " + ref(od));
        s.kind = host::kSlotText;
        s.text = take().text;
        return;
      case ValueKind::NameOrText:
        nameOrText(od, s);
        return;
      case ValueKind::Number:
        number(od, s, false);
        return;
      case ValueKind::Int:
        number(od, s, true);
        return;
      case ValueKind::Variable:
        variableToken(od, s);
        return;
      case ValueKind::DataSet:
        dataSet(od, s);
        return;
      case ValueKind::Enum:
        enumValue(od, *od.codes, s);
        return;
      case ValueKind::AttrGroup:
        attrGroup(od, s);
        return;
      case ValueKind::NameOrTextList:
        list(od, s, [&](Slot& e) { nameOrText(od, e); }, "a name or quoted text");
        return;
      case ValueKind::EnumList:
        list(od, s, [&](Slot& e) { enumValue(od, *od.codes, e); }, enumExpect(*od.codes));
        return;
      case ValueKind::NameOrNameList:
        if (t && t->kind == Tok::LParen) {
          list(od, s, [&](Slot& e) { nameOrText(od, e); }, "a name or quoted text");
        } else {
          if (!t || t->kind != Tok::Name) fail(t, "a name or \"(\" for " + ref(od));
          s.kind = host::kSlotName;
          s.text = take().text;
        }
        return;
      case ValueKind::LabelList:
        list(od, s, [&](Slot& e) { nameOrText(od, e); }, "a quoted text or name");
        return;
      case ValueKind::NumberList:
        list(od, s, [&](Slot& e) { number(od, e, false); }, "a number");
        return;
      case ValueKind::FormatList:
        list(od, s, [&](Slot& e) {
          const Token* f = peek();
          if (!f || !(f->kind == Tok::Format || f->kind == Tok::Name || isPlainFormat(*f)))
            fail(f, "a format name for " + ref(od));
          place(e, f);
          e.kind = host::kSlotName;
          e.text = take().text;
        }, "a format name");
        return;
      case ValueKind::TipList:
        if (t && t->kind == Tok::Name && sameNoCase(t->text, "NONE")) {
          take();
          setFlag(od);
          return;
        }
        if (!t || t->kind != Tok::LParen) fail(t, "NONE or a ( variable list ) for " + ref(od));
        variableList(od, s);
        return;
      case ValueKind::Pad:
        pad(od, s);
        return;
      case ValueKind::EnumOrEnumList:
        if (t && t->kind == Tok::LParen)
          list(od, s, [&](Slot& e) { enumValue(od, *od.codes2, e); }, enumExpect(*od.codes2));
        else
          enumValue(od, *od.codes, s);
        return;
      case ValueKind::EnumOrVariable:
        if (t && t->kind == Tok::Name && findWord(od.codes, t->text)) {
          enumValue(od, *od.codes, s);
        } else if (t && (t->kind == Tok::Name || t->kind == Tok::NameLit)) {
          variableToken(od, s);
        } else {
          fail(t, enumExpect(*od.codes) + " or a variable for " + ref(od));
        }
        return;
      case ValueKind::NumberOrVariable:
        if (t && (t->kind == Tok::Name || t->kind == Tok::NameLit))
          variableToken(od, s);
        else
          number(od, s, false);
        return;
      case ValueKind::NumberOrDate:
        if (t && (t->kind == Tok::Date || t->kind == Tok::Time || t->kind == Tok::DateTime)) {
          s.kind = host::kSlotNumber;
          s.number = take().num;
          s.text = t->text;
          return;
        }
        number(od, s, false);
        return;
      default:
        fail(t, "a value for " + ref(od));
    }
  }

  void nameOrText(const OptionDesc& od, Slot& s) {
    const Token* t = peek();
    if (!t || (t->kind != Tok::Name && t->kind != Tok::QString))
      fail(t, "a name or quoted text for " + ref(od));
    place(s, t);
    s.kind = t->kind == Tok::Name ? host::kSlotName : host::kSlotText;
    s.text = take().text;
  }

  // A number or integer with its sign, range check and unit.
  void number(const OptionDesc& od, Slot& s, bool integer) {
    const Token* t = peek();
    bool neg = false;
    std::string sign;
    if (t && (t->kind == Tok::Minus || t->kind == Tok::Plus) &&
        (is(1, Tok::Int) || (!integer && is(1, Tok::Number)))) {
      neg = t->kind == Tok::Minus;
      sign = t->text.empty() ? (neg ? "-" : "+") : t->text;
      take();
      t = peek();
    }
    if (!t || !(t->kind == Tok::Int || (!integer && t->kind == Tok::Number)))
      fail(t, rangeText(od, integer) + " for " + ref(od));
    double v = neg ? -t->num : t->num;
    std::string text = sign + shown(*t);
    if ((od.hasMin && v < od.min) || (od.hasMax && v > od.max))
      fail(t, rangeText(od, integer) + " for " + ref(od), text);
    if (!s.present()) place(s, t);
    take();
    s.kind = host::kSlotNumber;
    s.number = v;
    s.text = text;
    unit(od, s, text);
  }

  // A name or "%" written right after a number that takes no unit.
  void noUnit(const OptionDesc& od, const std::string& numText) {
    const Token* u = peek();
    if (u && !u->spaceBefore && (u->kind == Tok::Name || u->kind == Tok::Percent))
      failText(u, ref(od) + " takes no unit, found " + shown(*u) + " after " + numText);
  }

  void unit(const OptionDesc& od, Slot& s, const std::string& numText) {
    if (!od.unit) return noUnit(od, numText);
    const Token* u = peek();
    if (!u) return;
    if (u->kind == Tok::Percent) {
      take();
      s.unit = g_.percentUnit;
      return;
    }
    if (u->kind != Tok::Name) return;
    if (const host::EnumWord* w = findWord(g_.units, u->text)) {
      take();
      s.unit = w->code;
    } else if (!u->spaceBefore) {
      fail(u, "a unit (" + wordList(*g_.units) + " or %) after " + numText);
    }
  }

  void enumValue(const OptionDesc& od, const EnumTable& codes, Slot& s) {
    const Token* t = peek();
    if (t && t->kind == Tok::Name) {
      if (const host::EnumWord* w = findWord(&codes, t->text)) {
        place(s, t);
        take();
        s.setEnum(w->code);
        s.text = upper(t->text);
        return;
      }
    }
    if (codes.allowInt) {
      bool neg = t && t->kind == Tok::Minus && is(1, Tok::Int);
      const Token* n = neg ? peek(1) : t;
      if (n && n->kind == Tok::Int) {
        double v = neg ? -n->num : n->num;
        std::string text = (neg ? "-" : "") + shown(*n);
        if (codes.intBounded && (v < codes.intMin || v > codes.intMax))
          fail(t, enumExpect(codes) + " for " + ref(od), text);
        place(s, t);
        if (neg) take();
        take();
        s.setEnum(static_cast<int>(v));
        s.text = text;
        noUnit(od, text);
        return;
      }
    }
    fail(t, enumExpect(codes) + " for " + ref(od));
  }

  template <class Entry>
  void list(const OptionDesc& od, Slot& s, Entry entry, const std::string& entryExpect) {
    const Token* t = peek();
    if (!t || t->kind != Tok::LParen) fail(t, "\"(\" for " + ref(od));
    place(s, t);
    take();
    s.kind = host::kSlotList;
    for (;;) {
      t = peek();
      if (t && t->kind == Tok::RParen) {
        if (s.list.empty()) fail(t, entryExpect + " for " + ref(od));
        take();
        return;
      }
      if (!t) fail(t, s.list.empty() ? entryExpect + " for " + ref(od)
                                     : "\")\" to close " + ref(od));
      Slot e;
      entry(e);
      s.list.push_back(std::move(e));
    }
  }

  void pad(const OptionDesc& od, Slot& s) {
    const Token* t = peek();
    if (!t || t->kind != Tok::LParen) {
      number(od, s, false);
      return;
    }
    take();
    s.kind = host::kSlotSides;
    s.list.assign(4, Slot{});
    bool any = false;
    for (;;) {
      t = peek();
      if (t && t->kind == Tok::RParen && any) {
        take();
        return;
      }
      const host::EnumWord* w =
          t && t->kind == Tok::Name && is(1, Tok::Equals) ? findWord(od.codes, t->text) : nullptr;
      if (!w || w->code < 1 || w->code > 4) {
        std::string sides;
        for (int i = 0; i < od.codes->count; ++i)
          sides += std::string(sides.empty() ? "" : " ") + od.codes->words[i].word + "=";
        fail(t, "one of: " + sides + (any ? " or \")\"" : "") + " in " + ref(od));
      }
      take();
      take();  // "="
      Slot& side = s.list[w->code - 1];
      side = Slot{};
      number(od, side, false);
      any = true;
    }
  }

  void attrGroup(const OptionDesc& od, Slot& s) {
    const Token* t = peek();
    s.kind = host::kSlotGroup;
    s.attrs.assign(host::kAttrCount, Slot{});
    if (t && (t->kind == Tok::Name || t->kind == Tok::QString)) {
      s.text = take().text;
      t = peek();
      if (!t || t->kind != Tok::LParen) return;
    }
    if (!t || t->kind != Tok::LParen) fail(t, "a style element name or \"(\" for " + ref(od));
    take();
    const host::GroupDesc& gd = g_.groups[od.group];
    std::string names;
    for (int i = 0; i < gd.count; ++i)
      names += std::string(names.empty() ? "" : " ") + gd.overrides[i].name + "=";
    groupOpt_ = &od;
    int count = 0;
    for (;;) {
      t = peek();
      if (t && t->kind == Tok::RParen && count > 0) {
        take();
        break;
      }
      const OptionDesc* ov = nullptr;
      if (t && t->kind == Tok::Name)
        for (int i = 0; i < gd.count && !ov; ++i)
          if (matchesName(t->text, gd.overrides[i].name, gd.overrides[i].aliases))
            ov = &gd.overrides[i];
      if (!ov) {
        if (count > 0 && t && t->kind == Tok::Name && findOption(t->text))
          fail(t, "\")\" to close " + std::string(od.name) + "=");
        if (t && t->kind == Tok::Name && is(1, Tok::Equals))
          failText(t, "unknown attribute " + upper(t->text) + "= in " + od.name +
                          "=; expected one of: " + names);
        fail(t, "one of: " + names + (count > 0 ? " or \")\"" : "") + " in " + od.name + "=");
      }
      take();
      value(*ov, s.attrs[ov->id]);
      ++count;
    }
    groupOpt_ = nullptr;
  }

  // --- variables and data sets --------------------------------------------------

  // The data set that variables of `src` are read from. *skip when it cannot
  // be known (no PROC statement, or its data set failed to open: reported
  // already); *wanted names the option(s) that would give it.
  host::DataSet* dataSetFor(VarSource src, bool* skip, std::string* wanted) {
    *skip = false;
    if (src == VarSource::Statement) src = sd_->source;
    // A statement's own map data holds its map and response variables.
    if ((src == VarSource::MapData || src == VarSource::MapRespData) &&
        own_[static_cast<int>(VarSource::MapData)].given) {
      const int id = g_.dataSetOption[static_cast<int>(VarSource::MapData)];
      *wanted = std::string(g_.options[id].name) + "=";
      *skip = own_[static_cast<int>(VarSource::MapData)].failed;
      const Slot& own = node_->slot(id);
      return !*skip && own.kind == host::kSlotDataSet ? own.dataSet : nullptr;
    }
    if (!proc_) {
      *skip = true;
      return nullptr;
    }
    auto slotOf = [&](VarSource v) -> const Slot* {
      int id = g_.dataSetOption[static_cast<int>(v)];
      return id < 0 ? nullptr : &proc_->slot(id);
    };
    auto failed = [&](VarSource v) {
      int id = g_.dataSetOption[static_cast<int>(v)];
      return id >= 0 && dsFailed_[id];
    };
    auto optName = [&](VarSource v) {
      int id = g_.dataSetOption[static_cast<int>(v)];
      return id < 0 ? std::string("?") : std::string(g_.options[id].name) + "=";
    };
    *wanted = optName(src);
    if (src == VarSource::MapRespData) {
      if (failed(src)) {
        *skip = true;
        return nullptr;
      }
      const Slot* r = slotOf(src);
      if (r && r->kind == host::kSlotDataSet) return r->dataSet;
      src = VarSource::MapData;
      *wanted += " or " + optName(src);
    }
    if (failed(src)) {
      *skip = true;
      return nullptr;
    }
    const Slot* s = slotOf(src);
    return s && s->kind == host::kSlotDataSet ? s->dataSet : nullptr;
  }

  VarSource effectiveSource(VarSource src) const {
    if (src == VarSource::Statement) src = sd_->source;
    if (src == VarSource::MapRespData && own_[static_cast<int>(VarSource::MapData)].given)
      return VarSource::MapData;
    if (src == VarSource::MapRespData && proc_) {
      int id = g_.dataSetOption[static_cast<int>(src)];
      if (id < 0 || proc_->slot(id).kind != host::kSlotDataSet) return VarSource::MapData;
    }
    return src;
  }

  std::string needsDataSet(const OptionDesc& od, const std::string& wanted) const {
    std::string who = od.label ? od.label : std::string(od.name) + "=";
    if (!who.empty()) who[0] = upperAscii(who[0]);
    return who + " of " + sd_->keyword + " requires the " + wanted + " data set.";
  }

  void variableToken(const OptionDesc& od, Slot& s) {
    const Token* t = peek();
    if (!t || (t->kind != Tok::Name && t->kind != Tok::NameLit))
      fail(t, "a variable name for " + ref(od));
    take();
    variable(od, s, *t);
  }

  // Checks a variable name as written; false when it cannot be a name.
  bool nameAllowed(const Token& t) {
    if (t.kind != Tok::NameLit || env_.anyNames() || isValidName(t.text)) return true;
    report(&t, "the name literal " + shown(t) +
                   " is not a valid variable name; such names need OPTIONS " +
                   globalOption(GlobalOpt::VarNames).name + "=ANY");
    return false;
  }

  void variable(const OptionDesc& od, Slot& s, const Token& t) {
    place(s, &t);
    s.kind = host::kSlotName;
    s.text = t.text;
    s.var = host::VarRef{};
    s.var.name = t.text;
    s.var.literal = t.kind == Tok::NameLit;
    s.var.source = effectiveSource(od.source);
    if (!nameAllowed(t)) return;
    bool skip;
    std::string wanted;
    host::DataSet* ds = dataSetFor(od.source, &skip, &wanted);
    if (skip) return;
    if (!ds) {
      semanticError(t.line, t.column, needsDataSet(od, wanted));
      return;
    }
    int number = env_.findVariable(ds, t.text);
    std::string searched = env_.dataSetName(ds);
    if (number < 0 && od.orMapData && s.var.source == VarSource::MapRespData) {
      // Not in the response data: the map data's, when it has one so named.
      host::DataSet* map = dataSetFor(VarSource::MapData, &skip, &wanted);
      if (map && map != ds) {
        searched += " or " + env_.dataSetName(map);
        if ((number = env_.findVariable(map, t.text)) >= 0) {
          ds = map;
          s.var.source = VarSource::MapData;
        }
      }
    }
    s.var.dataSet = ds;
    if (number < 0) {
      semanticError(t.line, t.column,
                    "Variable " + t.text + " not found in data set " + searched + ".");
      return;
    }
    s.var.number = number;
  }

  void dataSet(const OptionDesc& od, Slot& s) {
    const Token* t = peek();
    if (!t) fail(t, "a data set name for " + ref(od));
    size_t p = pos_;
    host::DataSet* ds = nullptr;
    std::string problem;
    try {
      ds = env_.openDataSet(*toks_, p);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception& e) {
      problem = e.what();
    }
    if (problem.empty() && (p <= pos_ || p > n_)) problem = "expected a data set name";
    if (problem.empty() && !ds) problem = "the data set could not be opened";
    if (!problem.empty()) {
      dsFailed_[od.id] = true;
      semanticError(t->line, t->column, "Cannot open the " + ref(od) + " data set: " + problem);
      throw Fault{};
    }
    while (pos_ < p) take();
    s.kind = host::kSlotDataSet;
    s.dataSet = ds;
    s.text = env_.dataSetName(ds);
    dsFailed_[od.id] = false;
  }

  // TIP=( variable list ): every item is expanded to the variables it names,
  // each an entry of the list in the order given.
  void variableList(const OptionDesc& od, Slot& s) {
    const Token* open = peek();
    place(s, open);
    take();
    s.kind = host::kSlotList;
    bool skip;
    std::string wanted;
    host::DataSet* ds = dataSetFor(od.source, &skip, &wanted);
    if (!ds && !skip) semanticError(open->line, open->column, needsDataSet(od, wanted));
    VarSource src = effectiveSource(od.source);
    std::vector<ParseEnv::VarInfo> vars;
    if (ds) vars = env_.variables(ds);
    auto index = [&](std::string_view name) -> int {
      for (size_t i = 0; i < vars.size(); ++i)
        if (sameNoCase(vars[i].name, name)) return static_cast<int>(i);
      return -1;
    };
    auto add = [&](int i, const Token& at) {
      Slot e;
      place(e, &at);
      e.kind = host::kSlotName;
      e.text = vars[i].name;
      e.var.name = vars[i].name;
      e.var.number = i;  // variables() lists them in data set order
      e.var.source = src;
      e.var.dataSet = ds;
      s.list.push_back(std::move(e));
    };
    auto missing = [&](const Token& at, const std::string& name) {
      semanticError(at.line, at.column,
                    "Variable " + name + " not found in data set " + env_.dataSetName(ds) + ".");
    };
    auto varToken = [&]() -> const Token& {
      const Token* t = peek();
      if (!t || (t->kind != Tok::Name && t->kind != Tok::NameLit))
        fail(t, "a variable name in " + ref(od));
      return take();
    };
    // kind: 0 any, 1 numeric only, 2 character only
    auto positional = [&](const Token& a, const Token& b, int kind) {
      if (!ds) return;
      int ia = index(a.text), ib = index(b.text);
      if (ia < 0) return missing(a, a.text);
      if (ib < 0) return missing(b, b.text);
      if (ia > ib) {
        semanticError(a.line, a.column,
                      "Variable " + a.text + " comes after " + b.text + " in data set " +
                          env_.dataSetName(ds) + ".");
        return;
      }
      for (int i = ia; i <= ib; ++i)
        if (kind == 0 || (kind == 1) == vars[i].numeric) add(i, a);
    };
    const Token* t = peek();
    size_t items = 0;
    for (;;) {
      t = peek();
      if (!t) fail(t, items ? "\")\" to close " + ref(od) : "a variable for " + ref(od));
      if (t->kind == Tok::RParen) {
        if (!items) fail(t, "a variable for " + ref(od));
        take();
        return;
      }
      ++items;
      if (t->kind == Tok::Name &&
          (sameNoCase(t->text, "_ALL_") || sameNoCase(t->text, "_NUMERIC_") ||
           sameNoCase(t->text, "_CHARACTER_") || sameNoCase(t->text, "_CHAR_"))) {
        const Token& w = take();
        int kind = sameNoCase(w.text, "_ALL_") ? 0 : sameNoCase(w.text, "_NUMERIC_") ? 1 : 2;
        for (size_t i = 0; i < vars.size(); ++i)
          if (kind == 0 || (kind == 1) == vars[i].numeric) add(static_cast<int>(i), w);
        continue;
      }
      const Token& a = varToken();
      if (!nameAllowed(a)) continue;
      if (is(0, Tok::Colon)) {  // prefix a:
        take();
        if (!ds) continue;
        size_t before = s.list.size();
        for (size_t i = 0; i < vars.size(); ++i)
          if (startsWithNoCase(vars[i].name, a.text)) add(static_cast<int>(i), a);
        if (s.list.size() == before)
          semanticError(a.line, a.column,
                        "No variable of data set " + env_.dataSetName(ds) + " begins with " +
                            a.text + ".");
        continue;
      }
      if (!is(0, Tok::Minus)) {  // one variable
        Slot e;
        if (ds || skip) {
          variable(od, e, a);
        } else {  // no data set: reported once above
          place(e, &a);
          e.kind = host::kSlotName;
          e.text = e.var.name = a.text;
          e.var.literal = a.kind == Tok::NameLit;
          e.var.source = src;
        }
        s.list.push_back(std::move(e));
        continue;
      }
      take();  // "-"
      if (is(0, Tok::Minus)) {  // a--b
        take();
        const Token& b = varToken();
        positional(a, b, 0);
        continue;
      }
      const Token* k = peek();
      if (k && k->kind == Tok::Name && is(1, Tok::Minus) &&
          (sameNoCase(k->text, "NUMERIC") || sameNoCase(k->text, "CHARACTER") ||
           sameNoCase(k->text, "CHAR"))) {
        int kind = sameNoCase(k->text, "NUMERIC") ? 1 : 2;
        take();
        take();
        const Token& b = varToken();
        positional(a, b, kind);
        continue;
      }
      const Token& b = varToken();
      numbered(a, b, ds, vars, add, missing);
    }
  }

  // a1-a5: the variables a1, a2, ..., a5, each of which must exist.
  template <class Add, class Missing>
  void numbered(const Token& a, const Token& b, host::DataSet* ds,
                const std::vector<ParseEnv::VarInfo>& vars, Add add, Missing missing) {
    auto split = [](const std::string& s, std::string* prefix, std::string* digits) {
      size_t i = s.size();
      while (i > 0 && isDigit(s[i - 1])) --i;
      *prefix = s.substr(0, i);
      *digits = s.substr(i);
    };
    std::string pa, da, pb, db;
    split(a.text, &pa, &da);
    split(b.text, &pb, &db);
    bool ok = !da.empty() && !db.empty() && da.size() <= 9 && db.size() <= 9 && sameNoCase(pa, pb) &&
              std::stol(da) <= std::stol(db);
    if (!ok) {
      report(&a, a.text + "-" + b.text + " is not a numbered range such as X1-X5");
      return;
    }
    if (!ds) return;
    long lo = std::stol(da), hi = std::stol(db);
    bool zeros = da.size() > 1 && da[0] == '0';
    for (long k = lo; k <= hi; ++k) {
      std::string digits = std::to_string(k);
      if (zeros && digits.size() < da.size()) digits.insert(0, da.size() - digits.size(), '0');
      std::string name = pa + digits;
      int i = -1;
      for (size_t j = 0; j < vars.size(); ++j)
        if (sameNoCase(vars[j].name, name)) i = static_cast<int>(j);
      if (i < 0) {
        missing(a, name);  // one message; the rest of the range is not looked at
        return;
      }
      add(i, a);
    }
  }
};

bool flagKind(ValueKind k) {
  return k == ValueKind::Flag || k == ValueKind::FlagOrVariable ||
         k == ValueKind::FlagOrNumber || k == ValueKind::TipList;
}

std::string checkOption(const Grammar& g, const OptionDesc& od, const std::string& what) {
  if (!od.name) return what + ": no name";
  const std::string me = what + " " + od.name;
  if (flagKind(od.kind)) {
    if (od.flag < 0 || od.flag >= 256) return me + ": flag number out of range";
    if (od.flag == host::kFlagBy || od.flag == host::kFlagOpaque || od.flag == host::kFlagAnyNames)
      return me + ": flag " + std::to_string(od.flag) + " is kept for the host";
  }
  switch (od.kind) {
    case ValueKind::Enum:
    case ValueKind::EnumList:
    case ValueKind::EnumOrVariable:
      if (!od.codes || !od.codes->words || od.codes->count <= 0) return me + ": no code table";
      break;
    case ValueKind::EnumOrEnumList:
      if (!od.codes || !od.codes->words || od.codes->count <= 0 || !od.codes2 ||
          !od.codes2->words || od.codes2->count <= 0)
        return me + ": no code tables";
      break;
    case ValueKind::Pad:
      if (!od.codes || !od.codes->words) return me + ": no side table";
      for (int i = 0; i < od.codes->count; ++i)
        if (od.codes->words[i].code < 1 || od.codes->words[i].code > 4)
          return me + ": side code out of range";
      break;
    case ValueKind::AttrGroup:
      if (od.group < 0 || od.group >= g.groupCount) return me + ": no attribute group";
      break;
    default:
      break;
  }
  return "";
}

}  // namespace

std::string checkGrammar(const Grammar& g) {
  if (!g.statements || g.statementCount <= 0) return "no statements";
  if (!g.options || g.optionCount <= 0) return "no options";
  if (!g.units || !g.units->words) return "no unit table";
  for (int i = 0; i < g.optionCount; ++i) {
    const OptionDesc& od = g.options[i];
    if (od.id != i) return "option " + std::to_string(i) + " has id " + std::to_string(od.id);
    std::string e = checkOption(g, od, "option");
    if (!e.empty()) return e;
  }
  for (int i = 0; i < g.groupCount; ++i) {
    const host::GroupDesc& gd = g.groups[i];
    if (!gd.overrides || gd.count <= 0) return "attribute group " + std::to_string(i) + " is empty";
    std::set<std::string> names;
    for (int k = 0; k < gd.count; ++k) {
      const OptionDesc& ov = gd.overrides[k];
      std::string e = checkOption(g, ov, "attribute");
      if (!e.empty()) return e;
      if (ov.id < 0 || ov.id >= host::kAttrCount)
        return std::string("attribute ") + ov.name + ": bad index";
      if (ov.kind == ValueKind::AttrGroup || ov.kind == ValueKind::DataSet || flagKind(ov.kind))
        return std::string("attribute ") + ov.name + ": kind not allowed in a group";
      if (!names.insert(upper(ov.name)).second)
        return std::string("attribute ") + ov.name + " twice in a group";
    }
  }
  for (int v = 1; v < host::kVarSourceCount; ++v) {
    int id = g.dataSetOption[v];
    if (id < -1 || id >= g.optionCount) return "data set option out of range";
    if (id >= 0 && g.options[id].kind != ValueKind::DataSet)
      return std::string("data set option ") + g.options[id].name + " is not a data set";
  }
  int procs = 0;
  std::set<std::string> keywords;
  for (int i = 0; i < g.statementCount; ++i) {
    const StatementDesc& sd = g.statements[i];
    if (!sd.keyword) return "statement without keyword";
    if (sd.proc) ++procs;
    for (const char* k : {sd.keyword, sd.aliases[0], sd.aliases[1], sd.aliases[2]})
      if (k && !keywords.insert(upper(k)).second)
        return std::string("statement keyword ") + k + " twice";
    std::set<std::string> names, operandNames;
    for (int k = 0; k < sd.operandCount; ++k) {
      int id = sd.operands[k].option;
      if (id < 0 || id >= g.optionCount) return std::string(sd.keyword) + ": operand out of range";
      const OptionDesc& od = g.options[id];
      if (!sd.operands[k].keyed && od.kind != ValueKind::Variable && od.kind != ValueKind::Text)
        return std::string(sd.keyword) + ": positional operand must be a variable or a text";
      if (sd.operands[k].keyed && !operandNames.insert(upper(od.name)).second)
        return std::string(sd.keyword) + ": operand " + od.name + " twice";
    }
    for (int k = 0; k < sd.optionCount; ++k) {
      int id = sd.options[k];
      if (id < 0 || id >= g.optionCount) return std::string(sd.keyword) + ": option out of range";
      const OptionDesc& od = g.options[id];
      for (const char* n : {od.name, od.aliases[0], od.aliases[1], od.aliases[2]})
        if (n && !names.insert(upper(n)).second)
          return std::string(sd.keyword) + ": option name " + n + " twice";
    }
  }
  if (procs != 1) return "there must be exactly one PROC statement";
  return "";
}

host::Status parseStatements(const host::Grammar& grammar,
                             const std::vector<std::vector<Token>>& statements,
                             ParseEnv& env, int trace, host::StatementList* out) {
  if (!out) return host::kHostFailure;
  out->clear();
  if (!checkGrammar(grammar).empty()) return host::kHostFailure;
  StatementParser p(grammar, env, trace, out);
  p.run(statements);
  return host::kOk;
}

}  // namespace qv::rt
