#include "runtime/program/globals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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

struct OptionInfo {
  const char* name;
  OptionId id;
  bool isSwitch;
};

const OptionInfo kOptions[] = {
    {"VARNAMES", OptionId::VarNames, false},
    {"MISSING", OptionId::Missing, false},
    {"NLDECSEPARATOR", OptionId::NlDecSeparator, true},
    {"NONLDECSEPARATOR", OptionId::NlDecSeparator, true},
    {"DEBUG", OptionId::Debug, false},
    {"GRAPHWIDTH", OptionId::GraphWidth, false},
    {"GRAPHHEIGHT", OptionId::GraphHeight, false},
    {"GRAPHFORMAT", OptionId::GraphFormat, false},
    {"TILEURL", OptionId::TileUrl, false},
    {"MAPPROJECTION", OptionId::MapProjection, false},
    {"LABELOVERLAP", OptionId::LabelOverlap, false},
    {"COLORNAMES", OptionId::ColorNames, false},
    {"BYLINE", OptionId::ByLine, true},
    {"NOBYLINE", OptionId::ByLine, true},
    {"OUTPUT", OptionId::Output, false},
    {"GRAPHDPI", OptionId::GraphDpi, false},
    {"THREADS", OptionId::Threads, false},
};

const OptionInfo* findOption(std::string_view name) {
  for (const OptionInfo& o : kOptions)
    if (sameNoCase(name, o.name)) return &o;
  return nullptr;
}

const char* const kProjectionNames[] = {"AUTO", "MERCATOR", "EQUALEARTH", "ALBERSUSA"};

// The projection name `text` spells (any letter case), or null.
const char* projectionName(std::string_view text) {
  for (const char* name : kProjectionNames)
    if (sameNoCase(text, name)) return name;
  return nullptr;
}

// MAPPROJECTION= as kept: surrounding blanks dropped, an empty text is
// AUTO, the projection names in upper case; a PROJ definition as written.
std::string projectionSetting(std::string_view text) {
  const char* blanks = " \t\r\n";
  size_t b = text.find_first_not_of(blanks);
  if (b == std::string_view::npos) return "AUTO";
  text = text.substr(b, text.find_last_not_of(blanks) - b + 1);
  if (const char* name = projectionName(text)) return name;
  return std::string(text);
}

// Number of UTF-8 characters, counting each lead byte.
size_t charCount(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

std::string outputKindName(std::string_view text) {
  for (const char* kind : kOutputKinds)
    if (sameNoCase(text, kind)) return kind;
  return "";
}

std::vector<OptionSetting> parseOptions(const Statement& st) {
  std::vector<OptionSetting> out;
  Cursor c(st.tokens, 1, st.source.get());
  while (!c.atEnd()) {
    const Token& word = c.take();
    if (word.kind != Tok::Name) c.failAt(word, "Expected an option name, found " + describeToken(word));
    const OptionInfo* info = findOption(word.text);
    if (!info) c.failAt(word, "Unknown option " + upper(word.text));
    OptionSetting o;
    o.id = info->id;
    o.name = info->name;
    o.line = word.line;
    o.column = word.column;
    if (info->isSwitch) {
      if (c.is(Tok::Equals)) c.fail("Option " + o.name + " takes no value");
      o.on = o.name == "NLDECSEPARATOR" || o.name == "BYLINE";
      out.push_back(std::move(o));
      continue;
    }
    if (!c.is(Tok::Equals)) c.fail("Option " + o.name + " needs a value (" + o.name + "=...)");
    c.take();
    if (c.atEnd()) c.fail("Option " + o.name + "= needs a value");
    const Token& v = c.take();
    auto bad = [&](const std::string& expected) {
      c.failAt(v, "Invalid value " + tokenSpelling(v) + " for option " + o.name + ": " + expected);
    };
    switch (o.id) {
      case OptionId::VarNames:
        if (v.kind != Tok::Name && v.kind != Tok::QString) bad("ANY or STRICT is expected");
        if (sameNoCase(v.text, "ANY")) o.text = "ANY";
        else if (sameNoCase(v.text, "STRICT")) o.text = "STRICT";
        else bad("ANY or STRICT is expected");
        break;
      case OptionId::Missing:
        // A quoted character, or one written bare: MISSING=. or MISSING=-
        if (v.kind != Tok::NameLit && v.kind != Tok::Date && v.kind != Tok::Time &&
            v.kind != Tok::DateTime)
          o.text = v.text;
        if (charCount(o.text) != 1) bad("one character is expected");
        break;
      case OptionId::Debug:
        if (v.kind != Tok::QString && v.kind != Tok::Name) bad("a quoted text is expected");
        o.text = v.text;
        break;
      case OptionId::GraphWidth:
      case OptionId::GraphHeight: {
        if (v.kind != Tok::Int || v.num < 1 || v.num > 32767)
          bad("a whole number of pixels from 1 to 32767 is expected");
        // The unit may be written: 800px.
        if (c.isWord("PX") && !c.peek().spaceBefore) c.take();
        o.number = static_cast<int64_t>(v.num);
        break;
      }
      case OptionId::GraphFormat:
        if ((v.kind != Tok::Name && v.kind != Tok::QString) || !isValidName(v.text))
          bad("a format name such as PNG is expected");
        o.text = upper(v.text);
        break;
      case OptionId::TileUrl:
        if (v.kind != Tok::QString || v.text.empty()) bad("a quoted URL template is expected");
        for (const char* part : {"{z}", "{x}", "{y}"})
          if (v.text.find(part) == std::string::npos)
            bad(std::string("the URL template must contain ") + part);
        o.text = v.text;
        break;
      case OptionId::MapProjection:
        // A name (AUTO, MERCATOR, ...) may be written bare; a PROJ
        // definition is quoted. Whether PROJ knows it is the renderer's
        // question.
        if (v.kind != Tok::QString && !(v.kind == Tok::Name && projectionName(v.text)))
          bad("AUTO, MERCATOR, EQUALEARTH, ALBERSUSA or a quoted PROJ definition "
              "such as 'EPSG:3035' is expected");
        o.text = projectionSetting(v.text);
        break;
      case OptionId::LabelOverlap:
        if (v.kind != Tok::Name && v.kind != Tok::QString) bad("SHOW, HIDE or MOVE is expected");
        o.text = upper(v.text);
        if (o.text != "SHOW" && o.text != "HIDE" && o.text != "MOVE")
          bad("SHOW, HIDE or MOVE is expected");
        break;
      case OptionId::ColorNames:
        // CSS, bare or quoted, turns on the CSS color names; any other
        // quoted text is a file.
        if (sameNoCase(v.text, "CSS") && (v.kind == Tok::Name || v.kind == Tok::QString)) {
          o.text = "CSS";
          break;
        }
        if (v.kind != Tok::QString || v.text.empty())
          bad("CSS or a quoted file path is expected");
        o.text = v.text;
        break;
      case OptionId::Output:
        if (v.kind == Tok::Name || v.kind == Tok::QString) o.text = outputKindName(v.text);
        if (o.text.empty()) bad("PNG, SVG, PDF or HTML is expected");
        break;
      case OptionId::GraphDpi: {
        char range[64];
        std::snprintf(range, sizeof range, "a number from %g to %g is expected", kMinGraphDpi,
                      kMaxGraphDpi);
        if ((v.kind != Tok::Int && v.kind != Tok::Number) || !(v.num >= kMinGraphDpi) ||
            v.num > kMaxGraphDpi)
          bad(range);
        o.value = v.num;
        break;
      }
      case OptionId::Threads:
        if (v.kind != Tok::Int || !(v.num >= 1) || v.num > kMaxThreads)
          bad("a whole number from 1 to " + std::to_string(kMaxThreads) + " is expected");
        o.number = static_cast<int64_t>(v.num);
        break;
      case OptionId::NlDecSeparator:
      case OptionId::ByLine:
        break;
    }
    out.push_back(std::move(o));
  }
  return out;
}

void applyOption(Settings& s, const OptionSetting& o) {
  switch (o.id) {
    case OptionId::VarNames: s.varNamesAny = o.text == "ANY"; break;
    case OptionId::Missing: s.missing = o.text; break;
    case OptionId::NlDecSeparator: s.nlDecSeparator = o.on; break;
    case OptionId::Debug: s.debug = o.text; break;
    case OptionId::GraphWidth: s.graphWidth = static_cast<int>(o.number); break;
    case OptionId::GraphHeight: s.graphHeight = static_cast<int>(o.number); break;
    case OptionId::GraphFormat: s.graphFormat = o.text; break;
    case OptionId::TileUrl: s.tileUrl = o.text; break;
    case OptionId::MapProjection: s.mapProjection = o.text; break;
    case OptionId::LabelOverlap: s.labelOverlap = o.text; break;
    case OptionId::ColorNames: s.colorNames = o.text; break;
    case OptionId::ByLine: s.byLine = o.on; break;
    case OptionId::Output: s.output = o.text; break;
    case OptionId::GraphDpi: s.graphDpi = o.value; break;
    case OptionId::Threads: s.threads = static_cast<int>(o.number); break;
  }
}

void applyOptions(Settings& s, const std::vector<OptionSetting>& list) {
  for (const OptionSetting& o : list) applyOption(s, o);
}

std::optional<bool> settingSwitch(const Settings& s, std::string_view name) {
  if (sameNoCase(name, "NLDECSEPARATOR")) return s.nlDecSeparator;
  if (sameNoCase(name, "NONLDECSEPARATOR")) return !s.nlDecSeparator;
  if (sameNoCase(name, "VARNAMES")) return s.varNamesAny;
  if (sameNoCase(name, "BYLINE")) return s.byLine;
  if (sameNoCase(name, "NOBYLINE")) return !s.byLine;
  return std::nullopt;
}

bool setSettingSwitch(Settings& s, std::string_view name, bool on) {
  if (sameNoCase(name, "NLDECSEPARATOR")) s.nlDecSeparator = on;
  else if (sameNoCase(name, "NONLDECSEPARATOR")) s.nlDecSeparator = !on;
  else if (sameNoCase(name, "VARNAMES")) s.varNamesAny = on;
  else if (sameNoCase(name, "BYLINE")) s.byLine = on;
  else if (sameNoCase(name, "NOBYLINE")) s.byLine = !on;
  else return false;
  return true;
}

std::optional<std::string> settingText(const Settings& s, std::string_view name) {
  const OptionInfo* info = findOption(name);
  if (!info) return std::nullopt;
  switch (info->id) {
    case OptionId::VarNames: return std::string(s.varNamesAny ? "ANY" : "STRICT");
    case OptionId::Missing: return s.missing;
    case OptionId::NlDecSeparator:
      return std::string(s.nlDecSeparator ? "NLDECSEPARATOR" : "NONLDECSEPARATOR");
    case OptionId::Debug: return s.debug;
    case OptionId::GraphWidth: return std::to_string(s.graphWidth);
    case OptionId::GraphHeight: return std::to_string(s.graphHeight);
    case OptionId::GraphFormat: return s.graphFormat;
    case OptionId::TileUrl: return s.tileUrl;
    case OptionId::MapProjection: return s.mapProjection;
    case OptionId::LabelOverlap: return s.labelOverlap;
    case OptionId::ColorNames: return s.colorNames;
    case OptionId::ByLine: return std::string(s.byLine ? "BYLINE" : "NOBYLINE");
    case OptionId::Output: return s.output;
    case OptionId::GraphDpi: {
      char text[32];
      std::snprintf(text, sizeof text, "%g", s.graphDpi);
      return std::string(text);
    }
    case OptionId::Threads:
      return std::to_string(threadsAllowed(s.threads));
  }
  return std::nullopt;
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

// FORMAT=(var ... fmt var ... fmt): each format applies to the variables
// written before it. Whether a format is known is decided when the data set
// is opened, where the variable's data set can be named.
std::vector<std::pair<std::string, std::string>> readFormatList(Cursor& c) {
  if (!c.is(Tok::LParen)) c.fail("FORMAT= needs a list in parentheses: FORMAT=(var fmt ...)");
  const Token& open = c.take();
  std::vector<std::pair<std::string, std::string>> out;
  std::vector<std::string> vars;
  while (!c.is(Tok::RParen)) {
    if (c.atEnd()) c.failAt(open, "FORMAT= is not closed with ')'");
    const Token& t = c.take();
    if (t.kind == Tok::Format || t.kind == Tok::Number) {
      if (!isFormatToken(t)) c.failAt(t, "Invalid format " + t.text + " in FORMAT=");
      if (vars.empty()) c.failAt(t, "The format " + t.text + " in FORMAT= follows no variable");
      for (std::string& v : vars) out.emplace_back(std::move(v), t.text);
      vars.clear();
      continue;
    }
    if (t.kind == Tok::Name) {
      if (!isValidName(t.text))
        c.failAt(t, "Variable name " + t.text + " in FORMAT= is longer than 32 characters");
    } else if (t.kind != Tok::NameLit) {
      c.failAt(t, "Expected a variable name or a format in FORMAT=, found " + describeToken(t));
    }
    vars.push_back(t.text);
  }
  c.take();
  if (!vars.empty()) {
    std::string names;
    for (const std::string& v : vars) names += (names.empty() ? "" : " ") + v;
    c.failAt(open, "FORMAT= needs a format (like COMMA12. or 8.2) after " + names);
  }
  if (out.empty()) c.failAt(open, "FORMAT= needs at least one variable and format");
  return out;
}

}  // namespace

DataSetRef parseDataSetRef(const Statement& st, size_t& pos) {
  return parseDataSetRef(st.tokens, pos, st.source.get());
}

DataSetRef parseDataSetRef(const std::vector<Token>& toks, size_t& pos, const SourceText* source) {
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
      static const char* known[] = {"KEEP", "DROP", "RENAME", "WHERE", "OBS", "FIRSTOBS", "FORMAT"};
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
        if (!c.is(Tok::LParen)) c.fail("WHERE= needs an expression in parentheses: WHERE=(...)");
        const Token& wopen = c.take();
        size_t first = c.pos();
        int depth = 1;
        while (!c.atEnd()) {
          if (c.is(Tok::LParen)) ++depth;
          if (c.is(Tok::RParen) && --depth == 0) break;
          c.take();
        }
        if (depth != 0) c.failAt(wopen, "WHERE= is not closed with ')'");
        if (c.pos() == first) c.failAt(wopen, "WHERE= needs an expression");
        o.where = sourceTextOf(toks, first, c.pos(), source);
        c.take();
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

}  // namespace qv::rt
