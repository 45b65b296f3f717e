#include "runtime/program/globals.h"

#include <set>

#include "common/cores.h"
#include "runtime/formats/formats.h"
#include "runtime/program/cursor.h"

namespace qv::rt {

// --- LIBRARY ---------------------------------------------------------------

LibraryAssignment parseLibrary(const Statement& st) {
  Cursor c(st.tokens, 1, st.source.get());
  const std::string word = upper(st.keyword());
  if (c.atEnd()) c.fail(word + " statement needs a library name and a quoted folder");
  const Token& name = c.take();
  if (name.kind != Tok::Name || !isValidName(name.text))
    c.failAt(name, "Invalid library name " + describeToken(name) +
                       ": a name of letters, digits and underscores (at most 32) is expected");
  if (c.atEnd()) c.fail(word + " " + name.text + " needs a quoted folder");
  const Token& dir = c.take();
  if (dir.kind != Tok::QString)
    c.failAt(dir, "The folder of library " + name.text + " must be a quoted string, not " +
                      describeToken(dir));
  if (dir.text.empty()) c.failAt(dir, "The folder of library " + name.text + " is empty");
  if (!c.atEnd()) c.fail("Unexpected " + describeToken(c.peek()) + " after the folder in the " + word + " statement");
  return LibraryAssignment{name.text, dir.text, st.line, st.column};
}

// --- OPTIONS ---------------------------------------------------------------

namespace {

// Number of UTF-8 characters, counting each lead byte.
size_t charCount(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

bool wordOrQuoted(const Token& t) { return t.kind == Tok::Name || t.kind == Tok::QString; }
bool isNumber(const Token& t) { return t.kind == Tok::Int || t.kind == Tok::Number; }

// The value of option `d` that starts at `v` (already taken; a unit word
// or the rest of a list is taken from `c`). `bad` throws.
template <class Bad>
OptionValue optionValue(const GlobalOptionDef& d, const Token& v, Cursor& c, const Bad& bad) {
  OptionValue out;
  const auto inRange = [&](double n) { return n >= d.min && n <= d.max; };
  const auto word = [&](std::string_view text) {
    const int i = optionWordIndex(d, text);
    if (i >= 0) out.text = optionWord(d, i);
    return i >= 0;
  };
  switch (d.form) {
    case OptForm::Switch:
      break;
    case OptForm::Word:
      if (!wordOrQuoted(v) || !word(v.text)) bad();
      break;
    case OptForm::Name:
      if (!wordOrQuoted(v) || !isValidName(v.text)) bad();
      out.text = upper(v.text);
      break;
    case OptForm::Text:
      if (!wordOrQuoted(v)) bad();
      out.text = v.text;
      break;
    case OptForm::Quoted:
    case OptForm::WordOrQuoted: {
      // A word may be written bare or quoted; any other value is quoted.
      if (wordOrQuoted(v) && word(v.text)) break;
      if (v.kind != Tok::QString) bad();
      std::string text = v.text, why;
      if (d.check && !d.check(d, text, &why)) bad(why);
      if (word(text)) break;
      if (text.empty()) bad();
      out.text = std::move(text);
      break;
    }
    case OptForm::Char:
      // A quoted character, or one written bare: MISSING=. or MISSING=-
      if (v.kind != Tok::NameLit && v.kind != Tok::Date && v.kind != Tok::Time &&
          v.kind != Tok::DateTime)
        out.text = v.text;
      if (charCount(out.text) != 1) bad();
      break;
    case OptForm::Integer:
      if (v.kind != Tok::Int || !inRange(v.num)) bad();
      // The unit may be written: 800px.
      if (*d.unit && c.isWord(d.unit) && !c.peek().spaceBefore) c.take();
      out.number = v.num;
      break;
    case OptForm::Number:
      if (!isNumber(v) || !inRange(v.num)) bad();
      out.number = v.num;
      break;
    case OptForm::WordOrNumber:
      if (wordOrQuoted(v) && word(v.text)) break;
      if (!isNumber(v) || !inRange(v.num)) bad();
      out.number = v.num;
      break;
    case OptForm::Numbers: {
      if (v.kind != Tok::LParen) bad();
      while (!c.is(Tok::RParen)) {
        if (c.atEnd()) bad();
        const bool minus = c.is(Tok::Minus);
        if (minus || c.is(Tok::Plus)) c.take();
        const Token& n = c.take();
        const double value = minus ? -n.num : n.num;
        if (!isNumber(n) || !inRange(value)) bad();
        out.numbers.push_back(value);
      }
      c.take();
      if (out.numbers.size() != static_cast<size_t>(d.count)) bad();
      if (std::string why; d.checkNumbers && !d.checkNumbers(out.numbers, &why)) bad(why);
      break;
    }
  }
  return out;
}

}  // namespace

std::vector<OptionSetting> parseOptions(const Statement& st,
                                        std::span<const GlobalOptionDef> table) {
  std::vector<OptionSetting> out;
  Cursor c(st.tokens, 1, st.source.get());
  while (!c.atEnd()) {
    const Token& word = c.take();
    if (word.kind != Tok::Name) c.failAt(word, "Expected an option name, found " + describeToken(word));
    const GlobalOptionDef* d = findGlobalOption(word.text, table);
    if (!d) c.failAt(word, "Unknown option " + upper(word.text));
    OptionSetting o;
    o.def = d;
    if (d->form == OptForm::Switch) {
      const std::string name = sameNoCase(word.text, d->name) ? d->name : d->noName;
      if (c.is(Tok::Equals)) c.fail("Option " + name + " takes no value");
      o.value.on = name == d->name;
      out.push_back(std::move(o));
      continue;
    }
    const std::string name = d->name;
    if (!c.is(Tok::Equals)) c.fail("Option " + name + " needs a value (" + name + "=...)");
    c.take();
    if (c.atEnd()) c.fail("Option " + name + "= needs a value");
    const Token& v = c.take();
    // A sign is its own token: the message shows it with its number (-1).
    std::string spelled = tokenSpelling(v);
    if ((v.kind == Tok::Minus || v.kind == Tok::Plus) && !c.atEnd() && !c.peek().spaceBefore)
      spelled += tokenSpelling(c.peek());
    o.value = optionValue(*d, v, c, [&](const std::string& why = "") {
      c.failAt(v, "Invalid value " + spelled + " for option " + name + ": " +
                      (why.empty() ? optionExpected(*d) + " is expected" : why));
    });
    out.push_back(std::move(o));
  }
  return out;
}

void applyOptions(OptionValues& values, const std::vector<OptionSetting>& list) {
  for (const OptionSetting& o : list) values.set(o.def->id, o.value);
}

bool anyVarNames(const OptionValues& values) {
  return values.text(GlobalOpt::VarNames) == "ANY";
}

unsigned threadsAllowed(int threads) {
  return threads > 0 ? static_cast<unsigned>(threads) : coreCount();
}

// --- BY --------------------------------------------------------------------

std::vector<host::ByVariable> parseBy(const Statement& st) {
  std::vector<host::ByVariable> vars;
  std::set<std::string> seen;
  Cursor c(st.tokens, 1, st.source.get());
  bool descending = false;
  const Token* descWord = nullptr;
  while (!c.atEnd()) {
    const Token& t = c.take();
    if (t.kind == Tok::Name && sameNoCase(t.text, "DESCENDING")) {
      if (descending) c.failAt(t, "DESCENDING is written twice before one BY variable");
      descending = true;
      descWord = &t;
      continue;
    }
    if (t.kind == Tok::Name && sameNoCase(t.text, "NOTSORTED"))
      c.failAt(t, "The BY option NOTSORTED is not supported");
    if (t.kind == Tok::Name) {
      if (!isValidName(t.text)) c.failAt(t, "BY variable name " + t.text + " is longer than 32 characters");
    } else if (t.kind != Tok::NameLit) {
      c.failAt(t, "Expected a BY variable name, found " + describeToken(t));
    }
    if (!seen.insert(upper(t.text)).second)
      c.failAt(t, "Variable " + t.text + " is named twice in the BY statement");
    vars.push_back(host::ByVariable{t.text, descending});
    descending = false;
  }
  if (descending) c.failAt(*descWord, "DESCENDING must be followed by a BY variable");
  if (vars.empty()) c.fail("The BY statement needs at least one variable");
  return vars;
}

// --- Data set references ---------------------------------------------------

namespace {

void checkMemberName(Cursor& c, const Token& t, const std::string& name) {
  if (!isValidName(name))
    c.failAt(t, "Invalid data set name " + tokenSpelling(t) +
                    ": names have letters, digits and underscores, at most 32");
}

// Names of a KEEP= or DROP= list: up to the next "option=" or ")".
std::vector<std::string> readNameList(Cursor& c, const std::string& option) {
  std::vector<std::string> names;
  while (!c.atEnd() && !c.is(Tok::RParen)) {
    if (c.is(Tok::Name) && c.is(Tok::Equals, 1)) break;  // the next option
    const Token& t = c.take();
    if (t.kind == Tok::Name) {
      if (!isValidName(t.text)) c.failAt(t, "Variable name " + t.text + " in " + option + "= is longer than 32 characters");
    } else if (t.kind != Tok::NameLit) {
      c.failAt(t, "Expected a variable name in " + option + "=, found " + describeToken(t));
    }
    names.push_back(t.text);
  }
  if (names.empty()) c.fail(option + "= needs at least one variable name");
  return names;
}

const Token& takeVariable(Cursor& c, const std::string& option) {
  if (c.atEnd()) c.fail(option + "= is not complete");
  const Token& t = c.take();
  if ((t.kind == Tok::Name && isValidName(t.text)) || t.kind == Tok::NameLit) return t;
  c.failAt(t, "Expected a variable name in " + option + "=, found " + describeToken(t));
}

int64_t takeCount(Cursor& c, const std::string& option, int64_t min) {
  if (c.atEnd()) c.fail(option + "= needs a value");
  const Token& t = c.take();
  if (option == "OBS" && t.kind == Tok::Name && sameNoCase(t.text, "MAX")) return -1;
  if (t.kind != Tok::Int || t.num < static_cast<double>(min) || t.num > 9.0e18)
    c.failAt(t, "Invalid value " + tokenSpelling(t) + " for data set option " + option +
                    "=: a whole number of at least " + std::to_string(min) + " is expected");
  return static_cast<int64_t>(t.num);
}

// A format word of FORMAT=: a named format (COMMA12., $CHAR10., BEST.) or
// the bare w.d form (8.2, 3.0, 8.), which the tokenizer reads as a number.
bool isFormatToken(const Token& t) {
  if (t.kind != Tok::Format && t.kind != Tok::Number) return false;
  std::string name;
  int w = 0, d = 0;
  bool hw = false, hd = false;
  return parseFormatName(t.text, &name, &w, &d, &hw, &hd);
}

// A list in parentheses of variables in groups, each group closed by a word
// that applies to the variables written before it (FORMAT=(a b COMMA12.),
// TYPE=(a b NUM)). `closes(t, vars)` says whether token t closes a group
// after `vars` and then takes what it holds; `form` is how the option is
// written, `expected` what a token may be, `need` what a group lacks
// without its word, `kind` what the word gives (format, type).
template <class Closes>
void readGroups(Cursor& c, const std::string& option, const std::string& form,
                const std::string& expected, const std::string& need, const std::string& kind,
                const Closes& closes) {
  if (!c.is(Tok::LParen)) c.fail(option + "= needs a list in parentheses: " + form);
  const Token& open = c.take();
  std::vector<std::string> vars;
  bool any = false;
  while (!c.is(Tok::RParen)) {
    if (c.atEnd()) c.failAt(open, option + "= is not closed with ')'");
    const Token& t = c.take();
    if (closes(t, vars)) {
      vars.clear();
      any = true;
      continue;
    }
    if (t.kind == Tok::Name) {
      if (!isValidName(t.text))
        c.failAt(t, "Variable name " + t.text + " in " + option + "= is longer than 32 characters");
    } else if (t.kind != Tok::NameLit) {
      c.failAt(t, "Expected " + expected + " in " + option + "=, found " + describeToken(t));
    }
    vars.push_back(t.text);
  }
  c.take();
  if (!vars.empty()) {
    std::string names;
    for (const std::string& v : vars) names += (names.empty() ? "" : " ") + v;
    c.failAt(open, option + "= needs " + need + " after " + names);
  }
  if (!any) c.failAt(open, option + "= needs at least one variable and " + kind);
}

// FORMAT=(var ... fmt var ... fmt). Whether a format is known is decided
// when the data set is opened, where the variable's data set can be named.
std::vector<std::pair<std::string, std::string>> readFormatList(Cursor& c) {
  std::vector<std::pair<std::string, std::string>> out;
  readGroups(c, "FORMAT", "FORMAT=(var fmt ...)", "a variable name or a format",
             "a format (like COMMA12. or 8.2)", "format",
             [&](const Token& t, std::vector<std::string>& vars) {
               if (t.kind != Tok::Format && t.kind != Tok::Number) return false;
               if (!isFormatToken(t)) c.failAt(t, "Invalid format " + t.text + " in FORMAT=");
               if (vars.empty())
                 c.failAt(t, "The format " + t.text + " in FORMAT= follows no variable");
               for (std::string& v : vars) out.emplace_back(std::move(v), t.text);
               return true;
             });
  return out;
}

}  // namespace

DataSetRef parseDataSetRef(const Statement& st, size_t& pos) {
  return parseDataSetRef(st.tokens, pos, st.source.get());
}

namespace {

// APPEND= names data sets with options of their own, which may append in
// turn: deeper than this is refused rather than read on the stack.
constexpr int kMaxAppendDepth = 16;

// The text between the parentheses of WHERE=( ... ) or COMPUTE=( ... ), cut
// out of the source (rebuilt from the tokens without it). `what` is what
// the option needs ("an expression"), `form` how it is written.
std::string readParenText(Cursor& c, const std::vector<Token>& toks, const SourceText* source,
                          const std::string& option, const std::string& what,
                          const std::string& form) {
  if (!c.is(Tok::LParen)) c.fail(option + "= needs " + what + " in parentheses: " + form);
  const Token& open = c.take();
  size_t first = c.pos();
  int depth = 1;
  while (!c.atEnd()) {
    if (c.is(Tok::LParen)) ++depth;
    if (c.is(Tok::RParen) && --depth == 0) break;
    c.take();
  }
  if (depth != 0) c.failAt(open, option + "= is not closed with ')'");
  if (c.pos() == first) c.failAt(open, option + "= needs " + what);
  std::string text = sourceTextOf(toks, first, c.pos(), source);
  c.take();
  return text;
}

// TYPE=(var ... CHAR [format] var ... NUM): CHAR and NUM are names of
// variables where no variable precedes them.
std::vector<TypeChange> readTypeList(Cursor& c) {
  std::vector<TypeChange> out;
  readGroups(c, "TYPE", "TYPE=(var NUM) or TYPE=(var CHAR [format])",
             "a variable name, CHAR or NUM", "CHAR or NUM", "type",
             [&](const Token& t, std::vector<std::string>& vars) {
               const bool toChar = t.kind == Tok::Name && sameNoCase(t.text, "CHAR");
               if (vars.empty() || !(toChar || (t.kind == Tok::Name && sameNoCase(t.text, "NUM"))))
                 return false;
               std::string format;
               if (toChar && isFormatToken(c.peek())) format = c.take().text;
               for (std::string& v : vars) out.push_back(TypeChange{std::move(v), toChar, format});
               return true;
             });
  std::set<std::string> seen;
  for (const TypeChange& t : out)
    if (!seen.insert(upper(t.var)).second)
      c.fail("Variable " + t.var + " is given two types in TYPE=");
  return out;
}

// SUMMARIZE=(BY=(var ...) name=FUNC(column) ...); BY= may name one
// variable without parentheses, or be left out (one row for all).
Summary readSummary(Cursor& c) {
  if (!c.is(Tok::LParen))
    c.fail("SUMMARIZE= needs a list in parentheses: SUMMARIZE=(BY=(var) n=COUNT())");
  const Token& open = c.take();
  Summary s;
  std::set<std::string> names;
  bool byGiven = false;
  while (!c.is(Tok::RParen)) {
    if (c.atEnd()) c.failAt(open, "SUMMARIZE= is not closed with ')'");
    const Token& name = c.take();
    if (name.kind != Tok::Name && name.kind != Tok::NameLit)
      c.failAt(name, "Expected BY= or name=FUNC(column) in SUMMARIZE=, found " + describeToken(name));
    if (!c.is(Tok::Equals))
      c.fail("Expected '=' after " + name.text + " in SUMMARIZE= (name=FUNC(column))");
    c.take();
    if (name.kind == Tok::Name && sameNoCase(name.text, "BY")) {
      if (byGiven) c.failAt(name, "BY= is given twice in SUMMARIZE=");
      byGiven = true;
      if (c.is(Tok::LParen)) {
        const Token& byOpen = c.take();
        while (!c.is(Tok::RParen)) {
          if (c.atEnd()) c.failAt(byOpen, "BY= in SUMMARIZE= is not closed with ')'");
          s.by.push_back(takeVariable(c, "BY").text);
        }
        c.take();
        if (s.by.empty()) c.failAt(byOpen, "BY= in SUMMARIZE= needs at least one variable");
      } else {
        s.by.push_back(takeVariable(c, "BY").text);
      }
      continue;
    }
    if (name.kind == Tok::Name && !isValidName(name.text))
      c.failAt(name, "Variable name " + name.text + " in SUMMARIZE= is longer than 32 characters");
    if (!names.insert(upper(name.text)).second)
      c.failAt(name, "SUMMARIZE= makes " + name.text + " twice");
    const Token& fn = c.take();
    static const char* kFunctions[] = {"COUNT", "SUM", "MEAN", "MIN", "MAX", "MEDIAN"};
    bool known = false;
    for (const char* f : kFunctions) known = known || (fn.kind == Tok::Name && sameNoCase(fn.text, f));
    if (!known)
      c.failAt(fn, "Expected COUNT, SUM, MEAN, MIN, MAX or MEDIAN after " + name.text +
                       "= in SUMMARIZE=, found " + describeToken(fn));
    SummaryItem item{name.text, upper(fn.text), ""};
    if (!c.is(Tok::LParen)) c.fail(item.func + " in SUMMARIZE= needs its column in parentheses");
    c.take();
    if (!c.is(Tok::RParen)) item.column = takeVariable(c, "SUMMARIZE").text;
    if (!c.is(Tok::RParen)) c.fail("Expected ')' after the column of " + item.func + " in SUMMARIZE=");
    c.take();
    if (item.column.empty() && item.func != "COUNT")
      c.failAt(fn, item.func + " in SUMMARIZE= needs a column: " + name.text + "=" + item.func +
                       "(column)");
    s.items.push_back(std::move(item));
  }
  c.take();
  if (s.items.empty()) c.failAt(open, "SUMMARIZE= needs at least one name=FUNC(column)");
  for (const std::string& b : s.by)
    if (names.count(upper(b)))
      c.failAt(open, "SUMMARIZE= makes " + b + ", which is a BY variable");
  return s;
}

DataSetRef parseRef(const std::vector<Token>& toks, size_t& pos, const SourceText* source,
                    int depth) {
  Cursor c(toks, pos, source);
  DataSetRef ref;
  if (c.atEnd()) c.fail("Expected a data set name");
  const Token& name = c.take();
  ref.line = name.line;
  ref.column = name.column;
  switch (name.kind) {
    case Tok::Name:
      checkMemberName(c, name, name.text);
      ref.member = name.text;
      break;
    case Tok::NameLit:
      ref.member = name.text;
      break;
    case Tok::Compound: {
      size_t dot = name.text.find('.');
      ref.library = name.text.substr(0, dot);
      ref.member = name.text.substr(dot + 1);
      checkMemberName(c, name, ref.library);
      checkMemberName(c, name, ref.member);
      break;
    }
    case Tok::Format:
      // "name." is the one-level name; other format-like words are no names.
      if (name.text.back() != '.' || name.text[0] == '$')
        c.failAt(name, "Invalid data set name " + name.text);
      ref.member = name.text.substr(0, name.text.size() - 1);
      checkMemberName(c, name, ref.member);
      break;
    case Tok::QString:
      if (name.text.empty()) c.failAt(name, "The data set path is empty");
      ref.path = name.text;
      break;
    default:
      c.failAt(name, "Expected a data set name, found " + describeToken(name));
  }

  if (c.is(Tok::LParen)) {
    const Token& open = c.take();
    DataSetOptions& o = ref.options;
    o.line = open.line;
    o.column = open.column;
    std::set<std::string> given;
    for (;;) {
      if (c.atEnd())
        c.failAt(open, "Data set options of " + ref.text() + " are not closed with ')'");
      if (c.is(Tok::RParen)) {
        c.take();
        break;
      }
      const Token& word = c.take();
      if (word.kind != Tok::Name)
        c.failAt(word, "Expected a data set option, found " + describeToken(word));
      std::string opt = upper(word.text);
      static const char* known[] = {"KEEP",    "DROP", "RENAME",    "WHERE", "OBS", "FIRSTOBS",
                                    "FORMAT",  "TYPE", "COMPUTE", "SUMMARIZE", "APPEND"};
      bool isKnown = false;
      for (const char* k : known) isKnown = isKnown || opt == k;
      if (!isKnown) c.failAt(word, "Unknown data set option " + opt);
      if (!given.insert(opt).second) c.failAt(word, "Data set option " + opt + "= is given twice");
      if (!c.is(Tok::Equals)) c.fail("Data set option " + opt + " needs '='");
      c.take();
      if (opt == "KEEP") {
        o.keep = readNameList(c, opt);
      } else if (opt == "DROP") {
        o.drop = readNameList(c, opt);
      } else if (opt == "RENAME") {
        if (!c.is(Tok::LParen)) c.fail("RENAME= needs a list in parentheses: RENAME=(old=new)");
        c.take();
        while (!c.is(Tok::RParen)) {
          if (c.atEnd()) c.fail("RENAME= is not closed with ')'");
          const Token& from = takeVariable(c, opt);
          if (!c.is(Tok::Equals)) c.fail("Expected '=' after " + from.text + " in RENAME=");
          c.take();
          const Token& to = takeVariable(c, opt);
          o.rename.emplace_back(from.text, to.text);
        }
        c.take();
        if (o.rename.empty()) c.failAt(word, "RENAME= needs at least one old=new pair");
      } else if (opt == "FORMAT") {
        o.format = readFormatList(c);
      } else if (opt == "WHERE") {
        o.where = readParenText(c, toks, source, opt, "an expression", "WHERE=(...)");
      } else if (opt == "COMPUTE") {
        o.compute = readParenText(c, toks, source, opt, "items",
                                  "COMPUTE=(name = expression, ...)");
      } else if (opt == "TYPE") {
        o.type = readTypeList(c);
      } else if (opt == "SUMMARIZE") {
        o.summarize = readSummary(c);
      } else if (opt == "APPEND") {
        if (!c.is(Tok::LParen)) c.fail("APPEND= needs data sets in parentheses: APPEND=(ds ...)");
        const Token& aopen = c.take();
        if (depth >= kMaxAppendDepth)
          c.failAt(aopen, "APPEND= is nested more than " + std::to_string(kMaxAppendDepth) +
                              " deep");
        while (!c.is(Tok::RParen)) {
          if (c.atEnd()) c.failAt(aopen, "APPEND= is not closed with ')'");
          size_t p = c.pos();
          o.append.push_back(parseRef(toks, p, source, depth + 1));
          c.seek(p);
        }
        c.take();
        if (o.append.empty()) c.failAt(aopen, "APPEND= needs at least one data set");
      } else if (opt == "OBS") {
        o.obs = takeCount(c, opt, 0);
      } else {
        o.firstobs = takeCount(c, opt, 1);
      }
    }
  }
  pos = c.pos();
  return ref;
}

}  // namespace

DataSetRef parseDataSetRef(const std::vector<Token>& toks, size_t& pos, const SourceText* source) {
  return parseRef(toks, pos, source, 0);
}

}  // namespace qv::rt
