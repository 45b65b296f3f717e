// TITLE and FOOTNOTE statements and the store of titles and footnotes.
#include <cmath>

#include "runtime/program/cursor.h"
#include "runtime/program/globals.h"

namespace qv::rt {

namespace {

// Splits TITLE12 into its kind and number text; false when it is neither.
bool splitTitleKeyword(std::string_view keyword, char* kind, std::string_view* digits) {
  std::string_view base;
  if (keyword.size() >= 5 && sameNoCase(keyword.substr(0, 5), "TITLE")) {
    base = keyword.substr(0, 5);
    *kind = 'T';
  } else if (keyword.size() >= 8 && sameNoCase(keyword.substr(0, 8), "FOOTNOTE")) {
    base = keyword.substr(0, 8);
    *kind = 'F';
  } else {
    return false;
  }
  *digits = keyword.substr(base.size());
  for (char c : *digits)
    if (c < '0' || c > '9') return false;
  return true;
}

// The unit letter of a title size unit word, 0 when it is none.
char unitLetter(const Token& t) {
  if (t.kind == Tok::Percent) return 'P';
  if (t.kind != Tok::Name) return 0;
  if (sameNoCase(t.text, "PT")) return 'T';
  if (sameNoCase(t.text, "CM")) return 'C';
  if (sameNoCase(t.text, "IN")) return 'I';
  if (sameNoCase(t.text, "PCT")) return 'P';
  return 0;
}

class TitleParser {
 public:
  TitleParser(const Statement& st, std::string word) : c_(st.tokens, 1, st.source.get()), word_(std::move(word)) {}

  host::TitleEntry parse(int number) {
    host::TitleEntry e;
    e.number = number;
    bool styled = false;  // any attribute other than text segments
    while (!c_.atEnd()) {
      const Token& t = c_.take();
      if (t.kind == Tok::QString) {
        host::TitleAttr a;
        a.kind = 'T';
        a.offset = static_cast<int>(e.text.size());
        a.length = static_cast<int>(t.text.size());
        e.text += t.text;
        e.attrs.push_back(std::move(a));
        continue;
      }
      if (t.kind != Tok::Name)
        c_.failAt(t, "Unexpected " + describeToken(t) + " in the " + word_ +
                         " statement: texts are written in quotes");
      std::string opt = upper(t.text);
      styled = true;
      if (opt == "BOLD" || opt == "ITALIC") {
        if (c_.is(Tok::Equals)) c_.fail(opt + " takes no value");
        e.attrs.push_back(attr(opt == "BOLD" ? 'E' : 'P'));
        continue;
      }
      static const char* valued[] = {"COLOR", "C", "BCOLOR", "FONT", "F", "HEIGHT", "H",
                                     "JUSTIFY", "J", "BOX", "BOXPAD", "SPACE"};
      bool known = false;
      for (const char* v : valued) known = known || opt == v;
      if (!known)
        c_.failAt(t, "Unknown " + word_ + " option " + opt + " (texts are written in quotes)");
      if (!c_.is(Tok::Equals)) c_.fail(opt + " needs a value (" + opt + "=...)");
      c_.take();
      if (c_.atEnd()) c_.fail(opt + "= needs a value");
      if (opt == "COLOR" || opt == "C") {
        e.attrs.push_back(attr('C', colorValue(opt)));
      } else if (opt == "BCOLOR") {
        e.attrs.push_back(attr('O', colorValue(opt)));
      } else if (opt == "FONT" || opt == "F") {
        e.attrs.push_back(attr('F', fontValue(opt)));
      } else if (opt == "JUSTIFY" || opt == "J") {
        const Token& v = c_.take();
        std::string j = v.kind == Tok::Name ? upper(v.text) : std::string();
        if (j == "LEFT" || j == "L") j = "L";
        else if (j == "CENTER" || j == "CENTRE" || j == "C") j = "C";
        else if (j == "RIGHT" || j == "R") j = "R";
        else c_.failAt(v, "Invalid value " + tokenSpelling(v) + " for " + opt + "=: LEFT, CENTER or RIGHT is expected");
        e.attrs.push_back(attr('J', j));
      } else if (opt == "BOX") {
        const Token& v = c_.take();
        if (v.kind != Tok::Int || v.num > 2147483647.0)
          c_.failAt(v, "Invalid value " + tokenSpelling(v) + " for BOX=: a whole number of 0 or more is expected");
        host::TitleAttr a = attr('B');
        a.number = v.num;
        e.attrs.push_back(std::move(a));
      } else {
        char kind = (opt == "HEIGHT" || opt == "H") ? 'H' : opt == "BOXPAD" ? 'W' : 'S';
        sizeValue(opt, kind, e);
      }
    }
    if (!styled) e.attrs.clear();
    return e;
  }

 private:
  static host::TitleAttr attr(char kind, std::string text = {}) {
    host::TitleAttr a;
    a.kind = kind;
    a.text = std::move(text);
    return a;
  }

  // A color: a name, a quoted text, or #RRGGBB written bare.
  std::string colorValue(const std::string& opt) {
    const Token& v = c_.take();
    if (v.kind == Tok::Name || (v.kind == Tok::QString && !v.text.empty())) return v.text;
    if (v.kind == Tok::Hash) {
      std::string s = "#";
      while ((c_.is(Tok::Name) || c_.is(Tok::Int) || c_.is(Tok::Number)) && !c_.peek().spaceBefore)
        s += c_.take().text;
      if (s.size() > 1) return s;
    }
    c_.failAt(v, "Invalid value " + tokenSpelling(v) + " for " + opt + "=: a color name or a quoted color is expected");
  }

  // A font: a quoted text, or a name with "/bold" "/italic" style words.
  std::string fontValue(const std::string& opt) {
    const Token& v = c_.take();
    if (v.kind == Tok::QString && !v.text.empty()) return v.text;
    if (v.kind != Tok::Name)
      c_.failAt(v, "Invalid value " + tokenSpelling(v) + " for " + opt + "=: a font name is expected");
    std::string s = v.text;
    while (c_.is(Tok::Slash) && c_.is(Tok::Name, 1)) {
      c_.take();
      s += "/" + c_.take().text;
    }
    return s;
  }

  // A number of 0 or more (HEIGHT: above 0) with an optional unit, giving
  // the attribute and its unit record.
  void sizeValue(const std::string& opt, char kind, host::TitleEntry& e) {
    const Token& v = c_.take();
    bool positive = kind == 'H';
    if ((v.kind != Tok::Int && v.kind != Tok::Number) || !std::isfinite(v.num) || v.num < 0 ||
        (positive && v.num == 0))
      c_.failAt(v, "Invalid value " + tokenSpelling(v) + " for " + opt + "=: " +
                       (positive ? "a number above 0" : "a number of 0 or more") + " is expected");
    host::TitleAttr a = attr(kind);
    a.number = v.num;
    e.attrs.push_back(std::move(a));
    char unit = ' ';
    if (!c_.atEnd() && !c_.is(Tok::Equals, 1)) {
      const Token& u = c_.peek();
      char letter = unitLetter(u);
      if (letter) {
        unit = letter;
        c_.take();
      } else if (u.kind == Tok::Name && !u.spaceBefore) {
        c_.failAt(u, "Unknown unit " + upper(u.text) + " for " + opt + "=: PT, CM, IN or PCT is expected");
      }
    }
    e.attrs.push_back(attr('I', std::string(1, unit)));
  }

  Cursor c_;
  std::string word_;
};

}  // namespace

bool isTitleKeyword(std::string_view keyword, char* kind) {
  char k = 0;
  std::string_view digits;
  if (!splitTitleKeyword(keyword, &k, &digits)) return false;
  if (kind) *kind = k;
  return true;
}

TitleStatement parseTitle(const Statement& st) {
  TitleStatement out;
  std::string_view digits;
  Cursor c(st.tokens, 0, st.source.get());
  if (st.tokens.empty() || st.tokens[0].kind != Tok::Name ||
      !splitTitleKeyword(st.tokens[0].text, &out.kind, &digits))
    c.fail("Expected a TITLE or FOOTNOTE statement");
  const std::string word = out.kind == 'T' ? "TITLE" : "FOOTNOTE";
  int n = 1;
  if (!digits.empty()) {
    n = 0;
    for (char d : digits) {
      n = n * 10 + (d - '0');
      if (n > TitleStore::kMax) break;
    }
  }
  if (n < 1 || n > TitleStore::kMax)
    c.fail(upper(st.tokens[0].text) + ": " + word + " numbers go from 1 to 10");
  out.number = n;
  out.line = st.line;
  out.column = st.column;
  if (st.tokens.size() == 1) {
    out.clear = true;
    return out;
  }
  out.entry = TitleParser(st, word).parse(n);
  return out;
}

TitleStore::Slots* TitleStore::slots(char kind) {
  return kind == 'T' ? &titles_ : kind == 'F' ? &footnotes_ : nullptr;
}

const TitleStore::Slots* TitleStore::slots(char kind) const {
  return kind == 'T' ? &titles_ : kind == 'F' ? &footnotes_ : nullptr;
}

void TitleStore::apply(const TitleStatement& st) {
  if (st.clear) {
    clear(st.kind, st.number);
  } else {
    host::TitleEntry e = st.entry;
    e.number = st.number;
    set(st.kind, std::move(e));
  }
}

void TitleStore::set(char kind, host::TitleEntry e) {
  Slots* s = slots(kind);
  if (!s || e.number < 1 || e.number > kMax) return;
  int n = e.number;
  clear(kind, n + 1);
  (*s)[static_cast<size_t>(n - 1)] = std::move(e);
}

void TitleStore::clear(char kind, int from) {
  Slots* s = slots(kind);
  if (!s) return;
  for (int i = std::max(from, 1); i <= kMax; ++i) (*s)[static_cast<size_t>(i - 1)].reset();
}

int TitleStore::highest(char kind) const {
  const Slots* s = slots(kind);
  if (!s) return 0;
  for (int i = kMax; i >= 1; --i)
    if ((*s)[static_cast<size_t>(i - 1)]) return i;
  return 0;
}

const host::TitleEntry* TitleStore::get(char kind, int number) const {
  const Slots* s = slots(kind);
  if (!s || number < 1 || number > kMax) return nullptr;
  const auto& slot = (*s)[static_cast<size_t>(number - 1)];
  return slot ? &*slot : nullptr;
}

}  // namespace qv::rt
