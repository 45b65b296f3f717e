#include "runtime/data/where.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/ascii.h"
#include "common/error.h"
#include "runtime/formats/formats.h"
#include "runtime/program/names.h"

namespace qv::rt {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr int kMaxDepth = 200;       // nesting of parentheses and prefixes
constexpr int kMaxTreeDepth = 1000;  // height of the expression tree

enum class T {
  Num, Str, Missing, Name, NameLit,
  LParen, RParen, Comma, Plus, Minus, Star, Slash, Pow, Concat,
  Eq, Ne, Lt, Le, Gt, Ge, And, Or, Not, In, Is,
  Format,  // the format of PUT( , format), as written
  End
};

struct Tok {
  T kind;
  int column;        // 1-based position in the text
  std::string text;  // as written (names, strings after undoing quotes)
  double num = 0;
};

enum class Op : uint8_t {
  Num, Str, Var, Neg, Add, Sub, Mul, Div, Eq, Ne, Lt, Le, Gt, Ge, In, IsMissing, And, Or, Not,
  Pow, Concat, Call
};

// The functions, in the order of kFunctions.
enum class Fn : uint8_t {
  Round, Floor, Ceil, Abs, Sqrt, Log, Log10, Exp, Min, Max, Sum, Coalesce,
  Upcase, Lowcase, Strip, Substr, Cats, Catx, Put, Ifn, Ifc
};

struct FnDesc {
  Fn fn;
  const char* name;
  int minArgs, maxArgs;  // maxArgs -1: any number
};

constexpr FnDesc kFunctions[] = {
    {Fn::Round, "ROUND", 1, 2},     {Fn::Floor, "FLOOR", 1, 1},   {Fn::Ceil, "CEIL", 1, 1},
    {Fn::Abs, "ABS", 1, 1},         {Fn::Sqrt, "SQRT", 1, 1},     {Fn::Log, "LOG", 1, 1},
    {Fn::Log10, "LOG10", 1, 1},     {Fn::Exp, "EXP", 1, 1},       {Fn::Min, "MIN", 1, -1},
    {Fn::Max, "MAX", 1, -1},        {Fn::Sum, "SUM", 1, -1},      {Fn::Coalesce, "COALESCE", 1, -1},
    {Fn::Upcase, "UPCASE", 1, 1},   {Fn::Lowcase, "LOWCASE", 1, 1}, {Fn::Strip, "STRIP", 1, 1},
    {Fn::Substr, "SUBSTR", 2, 3},   {Fn::Cats, "CATS", 1, -1},    {Fn::Catx, "CATX", 2, -1},
    {Fn::Put, "PUT", 2, 2},         {Fn::Ifn, "IFN", 3, 3},       {Fn::Ifc, "IFC", 3, 3},
};

constexpr bool functionsInOrder() {
  for (size_t i = 0; i < std::size(kFunctions); ++i)
    if (static_cast<size_t>(kFunctions[i].fn) != i) return false;
  return true;
}
static_assert(std::size(kFunctions) == static_cast<size_t>(Fn::Ifc) + 1,
              "every function has its entry");
static_assert(functionsInOrder(), "kFunctions follows the order of Fn");

const FnDesc* findFunction(std::string_view name) {
  for (const FnDesc& f : kFunctions)
    if (sameNoCase(name, f.name)) return &f;
  return nullptr;
}

int cmpNum(double x, double y) {
  bool xm = std::isnan(x), ym = std::isnan(y);
  if (xm || ym) return xm && ym ? 0 : (xm ? -1 : 1);
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool isBlank(std::string_view s) {
  for (char c : s)
    if (c != ' ') return false;
  return true;
}

}  // namespace

struct WhereExpr::Node {
  Op op = Op::Num;
  bool negated = false;  // NOT IN, IS NOT MISSING
  int a = -1, b = -1;
  int column = 0;        // where it stands in the text
  double value = 0;
  std::string text;      // a text constant, or a variable's name
  int type = 0;          // 1 numeric, 2 character: known for constants, set by bind
  int argType = 0;       // IN: the list's type; IS MISSING: the operand's type
  int depth = 1;         // height of the subtree
  const Column* col = nullptr;
  std::vector<double> nums;
  std::vector<std::string> strs;
  Fn fn = Fn::Round;           // Call: the function, its arguments
  std::vector<int> args;
  host::FormatDesc format;     // PUT: the format (text holds it as written)
  int formatWidth = 0, formatDecimals = 0, formatColumn = 0;
};

namespace {

using Node = WhereExpr::Node;

// A long text shown in a message: the part around `column` (1-based, 0:
// the start), cut at both ends with "...", never inside a UTF-8 character.
std::string excerpt(std::string_view text, size_t column = 0, size_t width = 120) {
  if (text.size() <= width) return std::string(text);
  size_t from = column > width / 2 ? column - width / 2 : 0;
  from = std::min(from, text.size() - width);
  size_t to = from + width;
  auto continuation = [&](size_t i) { return i < text.size() && (text[i] & 0xC0) == 0x80; };
  while (from > 0 && continuation(from)) --from;
  while (continuation(to)) ++to;
  return (from > 0 ? "..." : "") + std::string(text.substr(from, to - from)) +
         (to < text.size() ? "..." : "");
}

// Which language a text is in: a WHERE selection, or the items of COMPUTE=
// of data set `dataSet` (`item` the one being read, "" before its name).
struct Dialect {
  bool compute = false;
  std::string dataSet;
  std::string item;
  const char* noun() const { return compute ? "expression" : "selection"; }
};

[[noreturn]] void syntaxError(const Dialect& d, std::string_view text, int column,
                              const std::string& what) {
  if (d.compute)
    throw ExprError("Syntax error in COMPUTE= of " + d.dataSet +
                        (d.item.empty() ? "" : ", item " + d.item + ",") + " at column " +
                        std::to_string(column) + ": " + what,
                    std::string(text), column);
  throw UserError("Syntax error in the WHERE selection \"" +
                  excerpt(text, static_cast<size_t>(std::max(column, 0))) + "\" at column " +
                  std::to_string(column) + ": " + what);
}

std::string describe(const Tok& t, const Dialect& d) {
  switch (t.kind) {
    case T::End: return d.compute ? "the end of the items" : "the end of the selection";
    case T::Str: return "the text '" + excerpt(t.text, 0, 60) + "'";
    case T::Num: return "the number " + excerpt(t.text, 0, 60);
    case T::Name: return "the name " + excerpt(t.text, 0, 60);
    case T::NameLit: return "the name '" + excerpt(t.text, 0, 60) + "'n";
    default: return "\"" + excerpt(t.text, 0, 60) + "\"";
  }
}

// --- Literals of dates and times ------------------------------------------

int monthOf(std::string_view m) {
  static const char* names[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                "jul", "aug", "sep", "oct", "nov", "dec"};
  for (int i = 0; i < 12; ++i)
    if (sameNoCase(m, names[i])) return i + 1;
  return 0;
}

bool parseDate(std::string_view s, double* out) {
  size_t i = 0;
  int day = 0, nd = 0;
  while (i < s.size() && isDigit(s[i]) && nd < 2) day = day * 10 + (s[i++] - '0'), ++nd;
  if (nd == 0 || i + 3 > s.size()) return false;
  int month = monthOf(s.substr(i, 3));
  if (!month) return false;
  i += 3;
  int year = 0, ny = 0;
  while (i < s.size() && isDigit(s[i]) && ny < 4) year = year * 10 + (s[i++] - '0'), ++ny;
  if (i != s.size() || (ny != 2 && ny != 4)) return false;
  if (ny == 2) year += year < 26 ? 2000 : 1900;
  static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (day < 1 || day > mdays[month - 1] || (month == 2 && day == 29 && !leap)) return false;
  *out = static_cast<double>(daysFrom1960(year, month, day));
  return true;
}

bool parseTime(std::string_view s, double* out) {
  double parts[3] = {0, 0, 0};
  int n = 0;
  size_t i = 0;
  while (n < 3) {
    size_t j = i;
    while (j < s.size() && (isDigit(s[j]) || (n == 2 && s[j] == '.'))) ++j;
    if (j == i) return false;
    auto [p, ec] = std::from_chars(s.data() + i, s.data() + j, parts[n]);
    if (ec != std::errc() || p != s.data() + j) return false;
    ++n;
    i = j;
    if (i == s.size()) break;
    if (s[i] != ':') return false;
    ++i;
  }
  if (i != s.size() || n < 2 || parts[1] >= 60 || parts[2] >= 60) return false;
  *out = parts[0] * 3600 + parts[1] * 60 + parts[2];
  return true;
}

bool parseDateTime(std::string_view s, double* out) {
  size_t c = s.find_first_of(": ");
  if (c == std::string_view::npos) return false;
  double d, t;
  if (!parseDate(s.substr(0, c), &d) || !parseTime(s.substr(c + 1), &t)) return false;
  *out = d * 86400 + t;
  return true;
}

// --- Lexer -------------------------------------------------------------------

std::vector<Tok> lex(std::string_view s, const Dialect& d) {
  std::vector<Tok> out;
  size_t i = 0;
  // The parentheses open, and at which of those depths a PUT call's
  // arguments stand: the format after its comma is read as one word
  // (COMMA10.2, $8., Z5.).
  int depth = 0;
  std::vector<int> putDepths;
  bool formatNext = false;
  auto push = [&](T k, size_t start, size_t len) {
    out.push_back(Tok{k, static_cast<int>(start + 1), std::string(s.substr(start, len))});
    i = start + len;
  };
  while (i < s.size()) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
      ++i;
      continue;
    }
    size_t start = i;
    if (formatNext) {
      formatNext = false;
      size_t j = i;
      while (j < s.size() && (isNameChar(s[j]) || s[j] == '$' || s[j] == '.')) ++j;
      if (j > i) {
        push(T::Format, start, j - i);
        continue;
      }
    }
    if (isDigit(c) || (c == '.' && i + 1 < s.size() && isDigit(s[i + 1]))) {
      size_t j = i;
      while (j < s.size() && isDigit(s[j])) ++j;
      if (j < s.size() && s[j] == '.') {
        ++j;
        while (j < s.size() && isDigit(s[j])) ++j;
      }
      if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k >= s.size() || !isDigit(s[k]))
          syntaxError(d, s, static_cast<int>(k + 1), "expected the digits of an exponent.");
        while (k < s.size() && isDigit(s[k])) ++k;
        j = k;
      }
      if (j < s.size() && isNameStart(s[j]))
        syntaxError(d, s, static_cast<int>(j + 1), "expected an operator after the number.");
      Tok t{T::Num, static_cast<int>(start + 1), std::string(s.substr(start, j - start))};
      auto [p, ec] = std::from_chars(s.data() + start, s.data() + j, t.num);
      if (ec == std::errc::result_out_of_range) {
        t.num = std::strtod(t.text.c_str(), nullptr);
      } else if (ec != std::errc() || p != s.data() + j) {
        syntaxError(d, s, static_cast<int>(start + 1), "expected a number.");
      }
      out.push_back(std::move(t));
      i = j;
      continue;
    }
    if (c == '.') {
      // "." alone, or a special missing value such as .A or ._
      size_t len = 1;
      if (i + 1 < s.size() && isNameStart(s[i + 1]) && (i + 2 >= s.size() || !isNameChar(s[i + 2])))
        len = 2;
      push(T::Missing, start, len);
      continue;
    }
    if (c == '\'' || c == '"') {
      std::string text;
      size_t j = i + 1;
      for (;;) {
        if (j >= s.size())
          syntaxError(d, s, static_cast<int>(start + 1), "the quoted text that starts here is not closed.");
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            text += c;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        text += s[j++];
      }
      size_t k = j;
      while (k < s.size() && isNameChar(s[k])) ++k;
      std::string_view suffix = s.substr(j, k - j);
      Tok t{T::Str, static_cast<int>(start + 1), text};
      if (sameNoCase(suffix, "n")) {
        t.kind = T::NameLit;
        j = k;
      } else if (sameNoCase(suffix, "d") || sameNoCase(suffix, "t") || sameNoCase(suffix, "dt")) {
        bool ok = sameNoCase(suffix, "d")   ? parseDate(text, &t.num)
                  : sameNoCase(suffix, "t") ? parseTime(text, &t.num)
                                         : parseDateTime(text, &t.num);
        if (!ok)
          syntaxError(d, s, static_cast<int>(start + 1),
                      sameNoCase(suffix, "d")   ? "expected a date such as '01jan2020'd."
                      : sameNoCase(suffix, "t") ? "expected a time such as '12:30't."
                                             : "expected a date-time such as '01jan2020:12:30'dt.");
        t.kind = T::Num;
        t.text = std::string(s.substr(start, k - start));
        j = k;
      }
      out.push_back(std::move(t));
      i = j;
      continue;
    }
    if (isNameStart(c)) {
      size_t j = i;
      while (j < s.size() && isNameChar(s[j])) ++j;
      std::string_view w = s.substr(i, j - i);
      T k = T::Name;
      if (sameNoCase(w, "eq")) k = T::Eq;
      else if (sameNoCase(w, "ne")) k = T::Ne;
      else if (sameNoCase(w, "lt")) k = T::Lt;
      else if (sameNoCase(w, "le")) k = T::Le;
      else if (sameNoCase(w, "gt")) k = T::Gt;
      else if (sameNoCase(w, "ge")) k = T::Ge;
      else if (sameNoCase(w, "and")) k = T::And;
      else if (sameNoCase(w, "or")) k = T::Or;
      else if (sameNoCase(w, "not")) k = T::Not;
      else if (sameNoCase(w, "in")) k = T::In;
      else if (sameNoCase(w, "is")) k = T::Is;
      push(k, start, j - i);
      continue;
    }
    char n = i + 1 < s.size() ? s[i + 1] : '\0';
    switch (c) {
      case '(':
        ++depth;
        if (!out.empty() && out.back().kind == T::Name && sameNoCase(out.back().text, "put"))
          putDepths.push_back(depth);
        push(T::LParen, start, 1);
        continue;
      case ')':
        if (!putDepths.empty() && putDepths.back() == depth) putDepths.pop_back();
        --depth;
        push(T::RParen, start, 1);
        continue;
      case ',':
        formatNext = !putDepths.empty() && putDepths.back() == depth;
        push(T::Comma, start, 1);
        continue;
      case '+': push(T::Plus, start, 1); continue;
      case '-': push(T::Minus, start, 1); continue;
      case '*': push(n == '*' ? T::Pow : T::Star, start, n == '*' ? 2 : 1); continue;
      case '/': push(T::Slash, start, 1); continue;
      case '=': push(T::Eq, start, 1); continue;
      case '&': push(T::And, start, 1); continue;
      case '|': push(n == '|' ? T::Concat : T::Or, start, n == '|' ? 2 : 1); continue;
      case '<': push(n == '=' ? T::Le : T::Lt, start, n == '=' ? 2 : 1); continue;
      case '>': push(n == '=' ? T::Ge : T::Gt, start, n == '=' ? 2 : 1); continue;
      case '^':
      case '~':
      case '!': push(n == '=' ? T::Ne : T::Not, start, n == '=' ? 2 : 1); continue;
      default: break;
    }
    // Report the whole character, not one byte of it.
    size_t len = 1;
    while (start + len < s.size() && (static_cast<unsigned char>(s[start + len]) & 0xC0) == 0x80) ++len;
    syntaxError(d, s, static_cast<int>(start + 1),
                "the character '" + std::string(s.substr(start, len)) + "' is not allowed here.");
  }
  out.push_back(Tok{T::End, static_cast<int>(s.size() + 1), ""});
  return out;
}

// --- WhereParser ------------------------------------------------------------------

class WhereParser {
 public:
  WhereParser(std::string_view text, std::vector<Tok> toks, Dialect& d)
      : text_(text), toks_(std::move(toks)), d_(d) {}

  int parse() {
    if (peek().kind == T::End) syntaxError(d_, text_, peek().column, "the selection is empty.");
    int root = orExpr();
    if (peek().kind != T::End)
      fail("expected AND, OR, an operator or the end, found " + describe(peek(), d_) + ".");
    return root;
  }

  // The items of COMPUTE=: each `name = expression`, then "," or the end.
  // Each item's nodes are handed to `item` and then cleared.
  template <class Item>
  void parseItems(const Item& item) {
    if (peek().kind == T::End) fail("expected an item such as rate = a / b.");
    for (;;) {
      const Tok& name = peek();
      if (name.kind != T::Name && name.kind != T::NameLit)
        fail("expected the name of the column to make, found " + describe(name, d_) + ".");
      if (name.kind == T::Name && !isValidName(name.text))
        fail("the name " + excerpt(name.text, 0, 60) + " is longer than 32 characters.");
      if (peek(1).kind != T::Eq) {
        take();
        fail("expected \"=\" after " + name.text + ", found " + describe(peek(), d_) + ".");
      }
      d_.item = name.text;
      take();
      take();
      if (peek().kind == T::Comma || peek().kind == T::End)
        fail("expected an expression after \"=\", found " + describe(peek(), d_) + ".");
      int root = orExpr();
      if (peek().kind != T::Comma && peek().kind != T::End)
        fail("expected an operator, \",\" and the next item, or the end, found " +
             describe(peek(), d_) + ".");
      item(d_.item, std::move(nodes), root);
      nodes.clear();
      if (take().kind == T::End) return;
      if (peek().kind == T::End) fail("expected another item after \",\".");
    }
  }

  std::vector<Node> nodes;

 private:
  const Tok& peek(size_t k = 0) const {
    size_t i = pos_ + k;
    return i < toks_.size() ? toks_[i] : toks_.back();
  }
  const Tok& take() {
    const Tok& t = peek();
    if (pos_ < toks_.size() - 1) ++pos_;
    return t;
  }
  [[noreturn]] void fail(const std::string& what) const {
    syntaxError(d_, text_, peek().column, what);
  }

  struct Depth {
    WhereParser& p;
    explicit Depth(WhereParser& parser) : p(parser) {
      if (++p.depth_ > kMaxDepth)
        p.fail(std::string("the ") + p.d_.noun() + " is nested too deeply.");
    }
    ~Depth() { --p.depth_; }
  };

  int add(Node n) {
    auto deeper = [&](int k) {
      if (k >= 0 && nodes[static_cast<size_t>(k)].depth + 1 > n.depth)
        n.depth = nodes[static_cast<size_t>(k)].depth + 1;
    };
    deeper(n.a);
    deeper(n.b);
    for (int k : n.args) deeper(k);
    if (n.depth > kMaxTreeDepth)
      syntaxError(d_, text_, n.column,
                  d_.compute ? "the expression is too long."
                             : "the selection is too long; use IN ( ... ) for lists of values.");
    nodes.push_back(std::move(n));
    return static_cast<int>(nodes.size() - 1);
  }
  int binary(Op op, int a, int b, int column) {
    Node n;
    n.op = op;
    n.a = a;
    n.b = b;
    n.column = column;
    return add(std::move(n));
  }

  int orExpr() {
    Depth d(*this);
    return chain(T::Or, Op::Or, &WhereParser::andExpr);
  }

  // operand (tok operand)*, from left to right.
  int chain(T tok, Op op, int (WhereParser::*operand)()) {
    int left = (this->*operand)();
    while (peek().kind == tok) {
      int col = take().column;
      left = binary(op, left, (this->*operand)(), col);
    }
    return left;
  }

  int andExpr() { return chain(T::And, Op::And, &WhereParser::notExpr); }

  int notExpr() {
    Depth d(*this);
    if (peek().kind == T::Not && peek(1).kind != T::In) {
      int col = take().column;
      return binary(Op::Not, notExpr(), -1, col);
    }
    return cmpExpr();
  }

  int cmpExpr() {
    int left = concatExpr();
    const Tok& t = peek();
    Op op;
    switch (t.kind) {
      case T::Eq: op = Op::Eq; break;
      case T::Ne: op = Op::Ne; break;
      case T::Lt: op = Op::Lt; break;
      case T::Le: op = Op::Le; break;
      case T::Gt: op = Op::Gt; break;
      case T::Ge: op = Op::Ge; break;
      case T::In:
      case T::Not:
        if (t.kind == T::Not && peek(1).kind != T::In) return left;
        return inList(left);
      case T::Is: return isMissing(left);
      default: return left;
    }
    int col = take().column;
    return binary(op, left, concatExpr(), col);
  }

  int inList(int left) {
    Node n;
    n.op = Op::In;
    n.a = left;
    n.column = peek().column;
    if (peek().kind == T::Not) {
      n.negated = true;
      take();
    }
    take();  // IN
    if (peek().kind != T::LParen)
      fail("expected \"(\" and a list of values after IN, found " + describe(peek(), d_) + ".");
    take();
    for (;;) {
      const Tok& v = peek();
      int col = v.column;
      bool negative = false;
      if (v.kind == T::Minus || v.kind == T::Plus) {
        negative = v.kind == T::Minus;
        take();
        if (peek().kind != T::Num)
          fail("expected a number after the sign, found " + describe(peek(), d_) + ".");
      }
      const Tok& c = peek();
      if (c.kind == T::Num || c.kind == T::Missing) {
        if (n.argType == 2) syntaxError(d_, text_, col, "a list of IN mixes numbers and texts.");
        n.argType = 1;
        double x = c.kind == T::Missing ? kMissing : c.num;
        n.nums.push_back(negative ? -x : x);
      } else if (c.kind == T::Str) {
        if (n.argType == 1) syntaxError(d_, text_, col, "a list of IN mixes numbers and texts.");
        n.argType = 2;
        n.strs.push_back(c.text);
      } else {
        fail("expected a constant (number or quoted text) in the list of IN, found " +
             describe(c, d_) + ".");
      }
      take();
      if (peek().kind == T::Comma) take();
      if (peek().kind == T::RParen) {
        take();
        break;
      }
    }
    return add(std::move(n));
  }

  int isMissing(int left) {
    Node n;
    n.op = Op::IsMissing;
    n.a = left;
    n.column = take().column;  // IS
    if (peek().kind == T::Not) {
      n.negated = true;
      take();
    }
    const Tok& w = peek();
    if (w.kind != T::Name || !(sameNoCase(w.text, "missing") || sameNoCase(w.text, "null")))
      fail("expected MISSING or NOT MISSING after IS, found " + describe(w, d_) + ".");
    take();
    return add(std::move(n));
  }

  int concatExpr() { return chain(T::Concat, Op::Concat, &WhereParser::addExpr); }

  int addExpr() {
    int left = mulExpr();
    while (peek().kind == T::Plus || peek().kind == T::Minus) {
      const Tok& t = take();
      Op op = t.kind == T::Plus ? Op::Add : Op::Sub;
      int col = t.column;
      left = binary(op, left, mulExpr(), col);
    }
    return left;
  }

  int mulExpr() {
    int left = unary();
    while (peek().kind == T::Star || peek().kind == T::Slash) {
      const Tok& t = take();
      Op op = t.kind == T::Star ? Op::Mul : Op::Div;
      int col = t.column;
      left = binary(op, left, unary(), col);
    }
    return left;
  }

  int unary() {
    Depth d(*this);
    if (peek().kind == T::Minus) {
      int col = take().column;
      return binary(Op::Neg, unary(), -1, col);
    }
    if (peek().kind == T::Plus) {
      take();
      return unary();
    }
    return power();
  }

  // a ** b, from right to left; the exponent may carry a sign.
  int power() {
    int base = primary();
    if (peek().kind != T::Pow) return base;
    int col = take().column;
    return binary(Op::Pow, base, unary(), col);
  }

  // NAME( arguments ): PUT's second argument is a format.
  int call(const FnDesc& f) {
    Node n;
    n.op = Op::Call;
    n.fn = f.fn;
    n.column = take().column;  // the name
    take();                    // (
    for (;;) {
      if (peek().kind == T::RParen && n.args.empty()) break;
      if (f.fn == Fn::Put && n.args.size() == 1) {
        const Tok& t = peek();
        if (t.kind != T::Format && t.kind != T::Str)
          fail("expected a format such as COMMA10. or Z5. as the second argument of PUT, found " +
               describe(t, d_) + ".");
        n.text = t.text;
        n.formatColumn = t.column;
        take();
      } else {
        n.args.push_back(orExpr());
      }
      if (peek().kind != T::Comma) break;
      take();
    }
    if (peek().kind != T::RParen)
      fail("expected \",\" or \")\" in the arguments of " + std::string(f.name) + ", found " +
           describe(peek(), d_) + ".");
    const int given = static_cast<int>(n.args.size()) + (n.text.empty() ? 0 : 1);
    if (given < f.minArgs || (f.maxArgs >= 0 && given > f.maxArgs)) {
      std::string want = f.minArgs == f.maxArgs ? std::to_string(f.minArgs)
                         : f.maxArgs < 0        ? "at least " + std::to_string(f.minArgs)
                                                : std::to_string(f.minArgs) + " or " +
                                               std::to_string(f.maxArgs);
      syntaxError(d_, text_, n.column,
                  std::string(f.name) + " takes " + want +
                      (want == "1" ? " argument" : " arguments") + ", not " +
                      std::to_string(given) + ".");
    }
    take();
    return add(std::move(n));
  }

  int primary() {
    const Tok& t = peek();
    Node n;
    n.column = t.column;
    switch (t.kind) {
      case T::Num:
        n.op = Op::Num;
        n.value = t.num;
        n.type = 1;
        break;
      case T::Missing:
        n.op = Op::Num;
        n.value = kMissing;
        n.type = 1;
        break;
      case T::Str:
        n.op = Op::Str;
        n.text = t.text;
        n.type = 2;
        break;
      case T::Name:
        if (peek(1).kind == T::LParen) {
          if (const FnDesc* f = findFunction(t.text)) return call(*f);
          // A WHERE selection reads on as it always did (and fails at "(").
          if (d_.compute)
            fail("there is no function " + excerpt(t.text, 0, 60) +
                 "; the functions are ROUND, FLOOR, CEIL, ABS, SQRT, LOG, LOG10, EXP, MIN, MAX, "
                 "SUM, COALESCE, UPCASE, LOWCASE, STRIP, SUBSTR, CATS, CATX, PUT, IFN and IFC.");
        }
        [[fallthrough]];
      case T::NameLit:
        n.op = Op::Var;
        n.text = t.text;
        break;
      case T::LParen: {
        take();
        int inner = orExpr();
        if (peek().kind != T::RParen) fail("expected \")\", found " + describe(peek(), d_) + ".");
        take();
        return inner;
      }
      default:
        fail("expected a variable, a constant or \"(\", found " + describe(t, d_) + ".");
    }
    take();
    return add(std::move(n));
  }

  std::string_view text_;
  std::vector<Tok> toks_;
  Dialect& d_;
  size_t pos_ = 0;
  int depth_ = 0;
};

}  // namespace

int64_t daysFrom1960(int year, int month, int day) {
  auto civil = [](int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
  };
  return civil(year, month, day) - civil(1960, 1, 1);
}

WhereExpr::WhereExpr(std::string text, std::vector<Node> nodes, int root)
    : text_(std::move(text)), nodes_(std::move(nodes)), root_(root) {}

WhereExpr::~WhereExpr() = default;

std::unique_ptr<WhereExpr> parseWhere(std::string_view text) {
  Dialect d;
  WhereParser p(text, lex(text, d), d);
  int root = p.parse();
  return std::make_unique<WhereExpr>(std::string(text), std::move(p.nodes), root);
}

std::vector<ComputeItem> parseCompute(std::string_view text, const std::string& dataSet) {
  Dialect d;
  d.compute = true;
  d.dataSet = dataSet;
  WhereParser p(text, lex(text, d), d);
  std::vector<ComputeItem> items;
  p.parseItems([&](const std::string& name, std::vector<WhereExpr::Node> nodes, int root) {
    auto expr = std::make_unique<WhereExpr>(std::string(text), std::move(nodes), root);
    expr->setItem(name);
    items.push_back(ComputeItem{name, std::move(expr)});
  });
  return items;
}

namespace {

// Writes a selection, or part of it, as a PostgreSQL condition that gives
// exactly the rows it selects here. A missing value here is NULL there, or
// NaN in a floating-point or NUMERIC column (read here as missing, while
// PostgreSQL sorts NaN above every number). A number is written as its
// shortest text that reads back as the same double.
//
// A comparison of a column with numbers is exact where the database
// compares the value it holds as this side compares the value it reads:
//   Integer      always (every value is a double exactly);
//   BigInteger   with numbers below 2^53 in size (beyond, two values read
//                as one double may compare differently there);
//   Decimal      of at most 15 digits: the value and the number's shortest
//                text round to the same double exactly when they are equal,
//                as no two such decimals round to one double; with more
//                digits the column is compared as a double (CAST, rounded
//                as the value is rounded when read), where its range fits;
//   Double       compared as a double: a no-op for double precision, and a
//                NUMERIC of undeclared precision rounds as when read;
//   Single       never: its value is read from its shortest text (0.1),
//                not as the float it holds (0.100000001490116...).
// Anything else (arithmetic, two columns, text, missing values written as
// ".") is left to this side.
class PostgresWriter {
 public:
  PostgresWriter(const std::vector<WhereExpr::Node>& nodes,
                 const std::function<SqlColumn(std::string_view)>& column)
      : nodes_(nodes), column_(column) {}

  // The conjuncts of node n (negated when `neg`) that can be written
  // exactly go to `terms`; `whole` is cleared when one cannot.
  void conjuncts(int n, bool neg, std::vector<std::string>& terms, bool& whole) const {
    const WhereExpr::Node& x = nodes_[static_cast<size_t>(n)];
    if ((x.op == Op::And && !neg) || (x.op == Op::Or && neg)) {
      conjuncts(x.a, neg, terms, whole);
      conjuncts(x.b, neg, terms, whole);
    } else if (x.op == Op::Not) {
      conjuncts(x.a, !neg, terms, whole);
    } else if (std::string t = exact(n, neg); !t.empty()) {
      terms.push_back(std::move(t));
    } else {
      whole = false;
    }
  }

 private:
  // Node n (negated when `neg`) exactly, or "".
  std::string exact(int n, bool neg) const {
    const WhereExpr::Node& x = nodes_[static_cast<size_t>(n)];
    switch (x.op) {
      case Op::And:
      case Op::Or: {
        const std::string a = exact(x.a, neg), b = a.empty() ? "" : exact(x.b, neg);
        if (b.empty()) return {};
        const bool both = (x.op == Op::And) != neg;
        return "(" + a + (both ? " AND " : " OR ") + b + ")";
      }
      case Op::Not: return exact(x.a, !neg);
      case Op::Eq:
      case Op::Ne:
      case Op::Lt:
      case Op::Le:
      case Op::Gt:
      case Op::Ge: return comparison(x, neg);
      case Op::In: return inList(x, x.negated != neg);
      case Op::IsMissing: return missing(x.a, x.negated != neg);
      default: return {};
    }
  }

  // A column as the database is to compare it with `numbers`: its
  // expression, and whether it may hold NaN. False when it cannot be.
  bool operand(int k, const std::vector<double>& numbers, std::string* expr, bool* nan) const {
    if (k < 0 || nodes_[static_cast<size_t>(k)].op != Op::Var) return false;
    const SqlColumn c = column_(nodes_[static_cast<size_t>(k)].text);
    if (c.name.empty()) return false;
    const std::string q = sqlIdentifier(c.name);
    constexpr double k2to53 = 9007199254740992.0;
    bool asDouble = false;
    switch (c.type) {
      case SqlColumn::Type::Integer: *nan = false; break;
      case SqlColumn::Type::BigInteger:
        for (double v : numbers)
          if (std::fabs(v) >= k2to53) return false;
        *nan = false;
        break;
      case SqlColumn::Type::Decimal:
        if (c.precision > 15) {
          if (c.precision - c.scale > 308 || c.scale > 323) return false;  // beyond a double
          asDouble = true;
        }
        *nan = true;
        break;
      case SqlColumn::Type::Double:
        asDouble = true;
        *nan = true;
        break;
      default: return false;
    }
    *expr = asDouble ? "CAST(" + q + " AS double precision)" : q;
    return true;
  }

  static std::string number(double v) { return plainNumberText(v); }

  // The finite number node k stands for (a number with minus signs).
  bool constant(int k, double* v) const {
    double sign = 1;
    for (; k >= 0 && nodes_[static_cast<size_t>(k)].op == Op::Neg; k = nodes_[static_cast<size_t>(k)].a)
      sign = -sign;
    if (k < 0 || nodes_[static_cast<size_t>(k)].op != Op::Num) return false;
    *v = sign * nodes_[static_cast<size_t>(k)].value;
    return std::isfinite(*v);
  }

  std::string comparison(const WhereExpr::Node& x, bool neg) const {
    Op op = x.op;
    if (neg) {  // the complement: a missing value is lower than every number
      static constexpr std::pair<Op, Op> kComplement[] = {
          {Op::Eq, Op::Ne}, {Op::Ne, Op::Eq}, {Op::Lt, Op::Ge},
          {Op::Ge, Op::Lt}, {Op::Le, Op::Gt}, {Op::Gt, Op::Le}};
      for (const auto& [from, to] : kComplement)
        if (op == from) {
          op = to;
          break;
        }
    }
    int col = x.a;
    double v = 0;
    if (!constant(x.b, &v)) {  // the number first: turn the comparison round
      col = x.b;
      if (!constant(x.a, &v)) return {};
      static constexpr std::pair<Op, Op> kTurned[] = {
          {Op::Lt, Op::Gt}, {Op::Gt, Op::Lt}, {Op::Le, Op::Ge}, {Op::Ge, Op::Le}};
      for (const auto& [from, to] : kTurned)
        if (op == from) {
          op = to;
          break;
        }
    }
    std::string c;
    bool nan = false;
    if (!operand(col, {v}, &c, &nan)) return {};
    const std::string s = number(v);
    switch (op) {
      case Op::Eq: return c + " = " + s;
      case Op::Ne: return "(" + c + " <> " + s + " OR " + c + " IS NULL)";
      case Op::Lt:
      case Op::Le:
        return "(" + c + (op == Op::Lt ? " < " : " <= ") + s + " OR " + c + " IS NULL" +
               (nan ? " OR " + c + " = 'NaN'" : "") + ")";
      case Op::Gt:
      case Op::Ge: {
        const std::string t = c + (op == Op::Gt ? " > " : " >= ") + s;
        return nan ? "(" + t + " AND " + c + " <> 'NaN')" : t;
      }
      default: return {};
    }
  }

  // IN (list), or NOT IN when `out`; "." in the list stands for missing.
  std::string inList(const WhereExpr::Node& x, bool out) const {
    if (x.argType != 1) return {};
    std::vector<double> numbers;
    bool withMissing = false;
    for (double d : x.nums) {
      if (std::isnan(d)) withMissing = true;
      else if (std::isfinite(d)) numbers.push_back(d);
      else return {};
    }
    std::string c;
    bool nan = false;
    if (!operand(x.a, numbers, &c, &nan)) return {};
    if (numbers.empty()) return withMissing ? missing(x.a, out) : std::string();
    std::string list;
    for (double d : numbers) list += (list.empty() ? "" : ", ") + number(d);
    const std::string t = c + (out ? " NOT IN (" : " IN (") + list + ")";
    if (!withMissing) return out ? "(" + t + " OR " + c + " IS NULL)" : t;
    return out ? (nan ? "(" + t + " AND " + c + " <> 'NaN')" : t)
               : "(" + t + " OR " + c + " IS NULL" + (nan ? " OR " + c + " = 'NaN'" : "") + ")";
  }

  // IS MISSING, or IS NOT MISSING when `out`.
  std::string missing(int k, bool out) const {
    std::string c;
    bool nan = false;
    if (!operand(k, {}, &c, &nan)) return {};
    if (out) return nan ? "(" + c + " IS NOT NULL AND " + c + " <> 'NaN')" : c + " IS NOT NULL";
    return nan ? "(" + c + " IS NULL OR " + c + " = 'NaN')" : c + " IS NULL";
  }

  const std::vector<WhereExpr::Node>& nodes_;
  const std::function<SqlColumn(std::string_view)>& column_;
};

}  // namespace

SqlSelection WhereExpr::postgresCondition(
    const std::function<SqlColumn(std::string_view)>& column) const {
  std::vector<std::string> terms;
  SqlSelection r;
  r.whole = true;
  PostgresWriter(nodes_, column).conjuncts(root_, false, terms, r.whole);
  for (const auto& t : terms) r.sql += (r.sql.empty() ? "" : " AND ") + t;
  if (r.sql.empty()) r.whole = false;
  return r;
}

void WhereExpr::bind(const Table& table, const std::string& dataSet) {
  bind(
      [&](std::string_view n) -> const Column* {
        const int c = table.find(n);
        return c < 0 ? nullptr : &table.columns[static_cast<size_t>(c)];
      },
      table.rows, dataSet);
}

void WhereExpr::bind(const ColumnLookup& resolve, size_t rows, const std::string& dataSet) {
  bound_ = false;
  bindNode(root_, resolve, dataSet);
  rows_ = rows;
  bound_ = true;
}

bool WhereExpr::numeric() const { return nodes_[static_cast<size_t>(root_)].type != 2; }

void WhereExpr::fail(const std::string& message, int column) const {
  if (item_.empty()) throw UserError(message);
  throw ExprError(message, text_, column);
}

// Sets the types bottom-up and checks them; returns the node's type. The
// messages of a WHERE selection name no column where they name a variable.
int WhereExpr::bindNode(int n, const ColumnLookup& resolve, const std::string& dataSet) {
  Node& x = nodes_[static_cast<size_t>(n)];
  const bool compute = !item_.empty();
  const std::string in = compute ? "COMPUTE= item " + item_ : "the WHERE selection";
  const std::string In = compute ? "COMPUTE= item " + item_ : "The WHERE selection";
  auto at = [&](int column) {
    return compute ? " (column " + std::to_string(column) + " of COMPUTE=)" : std::string();
  };
  auto varName = [&](int k) -> const Node* {
    return k >= 0 && nodes_[static_cast<size_t>(k)].op == Op::Var ? &nodes_[static_cast<size_t>(k)]
                                                                   : nullptr;
  };
  auto mismatch = [&](int a, int b) {
    const Node* v = varName(a);
    if (!v) v = varName(b);
    if (v) {
      bool chr = v->type == 2;
      fail("Variable " + v->text + " in " + in + " of " + dataSet + " is " +
               (chr ? "character" : "numeric") + ", but it is compared with " +
               (chr ? "a number" : "a character value") + at(v->column) + ".",
           v->column);
    }
    fail(In + " of " + dataSet + " compares a character value with a number at column " +
             std::to_string(x.column) + ".",
         x.column);
  };
  auto needNumber = [&](int k, const std::string& what) {
    if (bindNode(k, resolve, dataSet) == 1) return;
    const Node* v = varName(k);
    const int column = nodes_[static_cast<size_t>(k)].column;
    if (v)
      fail("Variable " + v->text + " in " + in + " of " + dataSet + " is character and cannot be " +
               what + at(column) + ".",
           column);
    fail(In + " of " + dataSet + " uses a character value in " +
             (what == "used in arithmetic" ? std::string("arithmetic") : what) + " at column " +
             std::to_string(x.column) + ".",
         x.column);
  };
  switch (x.op) {
    case Op::Num:
    case Op::Str: return x.type;
    case Op::Var: {
      x.col = resolve(x.text);
      if (!x.col)
        fail("Variable " + x.text + " in " + in + " is not in data set " + dataSet + at(x.column) +
                 ".",
             x.column);
      x.type = x.col->numeric() ? 1 : 2;
      return x.type;
    }
    case Op::Neg:
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Pow:
      for (int k : {x.a, x.b})
        if (k >= 0) needNumber(k, "used in arithmetic");
      x.type = 1;
      return 1;
    case Op::Concat:
      bindNode(x.a, resolve, dataSet);
      bindNode(x.b, resolve, dataSet);
      x.type = 2;
      return 2;
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      int ta = bindNode(x.a, resolve, dataSet);
      int tb = bindNode(x.b, resolve, dataSet);
      if (ta != tb) mismatch(x.a, x.b);
      x.type = 1;
      return 1;
    }
    case Op::In: {
      int ta = bindNode(x.a, resolve, dataSet);
      x.type = 1;
      if (ta != x.argType) {
        const Node* v = varName(x.a);
        bool chr = ta == 2;
        if (v)
          fail("Variable " + v->text + " in " + in + " of " + dataSet + " is " +
                   (chr ? "character" : "numeric") + ", but its IN list holds " +
                   (chr ? "numbers" : "texts") + at(x.column) + ".",
               x.column);
        fail(In + " of " + dataSet + " compares a character value with a number at column " +
                 std::to_string(x.column) + ".",
             x.column);
      }
      return 1;
    }
    case Op::IsMissing:
      x.argType = bindNode(x.a, resolve, dataSet);
      x.type = 1;
      return 1;
    case Op::And:
    case Op::Or:
      bindNode(x.a, resolve, dataSet);
      bindNode(x.b, resolve, dataSet);
      x.type = 1;
      return 1;
    case Op::Not:
      bindNode(x.a, resolve, dataSet);
      x.type = 1;
      return 1;
    case Op::Call: return bindCall(x, resolve, dataSet);
  }
  return 1;
}

// The types of a function's arguments and of its value.
int WhereExpr::bindCall(Node& x, const ColumnLookup& resolve, const std::string& dataSet) {
  const char* name = kFunctions[static_cast<size_t>(x.fn)].name;
  const bool compute = !item_.empty();
  const std::string in = compute ? "COMPUTE= item " + item_ : "the WHERE selection";
  const std::string of = compute ? " of COMPUTE=" : "";
  std::vector<int> types;
  for (int k : x.args) types.push_back(bindNode(k, resolve, dataSet));
  // Argument i must be of type `want` (1 numeric, 2 character).
  auto need = [&](size_t i, int want) {
    if (types[i] == want) return;
    const int column = nodes_[static_cast<size_t>(x.args[i])].column;
    fail("Argument " + std::to_string(i + 1) + " of " + name + " in " + in + " of " + dataSet +
             " must be " + (want == 1 ? "a number" : "a character value") + " (column " +
             std::to_string(column) + of + ").",
         column);
  };
  switch (x.fn) {
    case Fn::Round:
    case Fn::Floor:
    case Fn::Ceil:
    case Fn::Abs:
    case Fn::Sqrt:
    case Fn::Log:
    case Fn::Log10:
    case Fn::Exp:
    case Fn::Min:
    case Fn::Max:
    case Fn::Sum:
      for (size_t i = 0; i < types.size(); ++i) need(i, 1);
      x.type = 1;
      break;
    case Fn::Coalesce:
      for (size_t i = 1; i < types.size(); ++i) need(i, types[0]);
      x.type = types[0];
      break;
    case Fn::Upcase:
    case Fn::Lowcase:
    case Fn::Strip:
      need(0, 2);
      x.type = 2;
      break;
    case Fn::Substr:
      need(0, 2);
      for (size_t i = 1; i < types.size(); ++i) need(i, 1);
      x.type = 2;
      break;
    case Fn::Cats:
      x.type = 2;
      break;
    case Fn::Catx:
      need(0, 2);
      x.type = 2;
      break;
    case Fn::Put: {
      const bool number = types[0] == 1;
      std::string why;
      if (!resolveFormatText(x.text, &x.format, &x.formatWidth, &x.formatDecimals))
        why = "is not a known format";
      else if (x.format.character && number)
        why = "is a character format and the value is a number";
      else if (!x.format.character && !number)
        why = "is a numeric format and the value is character";
      if (!why.empty())
        fail("The format " + excerpt(x.text, 0, 60) + " of PUT in " + in + " of " + dataSet + " " +
                 why + " (column " + std::to_string(x.formatColumn) + of + ").",
             x.formatColumn);
      x.type = 2;
      break;
    }
    case Fn::Ifn:
      need(1, 1);
      need(2, 1);
      x.type = 1;
      break;
    case Fn::Ifc:
      need(1, 2);
      need(2, 2);
      x.type = 2;
      break;
  }
  return x.type;
}

namespace {

bool isMissingNumber(double v) { return std::isnan(v); }

// A result: missing, with the event that made it, when it is no finite
// number.
inline double checked(double r, unsigned* events) {
  if (std::isfinite(r)) return r;
  *events |= WhereExpr::kNoValue;
  return kMissing;
}

// a op b for an arithmetic operator: missing, with the event, where it has
// no value (a missing operand, a division by zero, no finite result).
inline double arithmetic(Op op, double a, double b, unsigned* events) {
  if (isMissingNumber(a) || isMissingNumber(b)) {
    *events |= WhereExpr::kMissingOperand;
    return kMissing;
  }
  switch (op) {
    case Op::Add: return checked(a + b, events);
    case Op::Sub: return checked(a - b, events);
    case Op::Mul: return checked(a * b, events);
    case Op::Div:
      if (b == 0) break;
      return checked(a / b, events);
    default:
      if (a == 0 && b < 0) break;  // 0 ** -1 is 1 / 0
      return checked(std::pow(a, b), events);
  }
  *events |= WhereExpr::kDivisionByZero;
  return kMissing;
}

// x rounded to the nearest multiple of `unit`, halves away from zero. A
// quotient within a few units in the last place of a half counts as one
// (2.675 to 0.01 is 2.68, as written); a unit whose inverse is a whole
// number divides by it, so that 0.1 and 0.01 give the shortest numbers.
double roundTo(double x, double unit) {
  const double q = x / unit;
  double r = std::round(q);
  const double half = std::floor(std::fabs(q)) + 0.5;
  if (std::fabs(std::fabs(q) - half) <= 1e-12 * std::max(1.0, std::fabs(q)))
    r = std::copysign(std::floor(std::fabs(q)) + 1, q);
  const double inverse = 1 / unit;
  if (unit < 1 && std::fabs(inverse - std::round(inverse)) <= 1e-9 * inverse)
    return r / std::round(inverse);
  return r * unit;
}

// The byte offset of UTF-8 character `n` (0-based) of `s`, or its size.
size_t charOffset(std::string_view s, double n) {
  size_t i = 0;
  for (double k = 0; k < n && i < s.size(); ++k) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return i;
}

}  // namespace

double WhereExpr::num(int n, size_t row, Scratch& cx) const {
  const Node& x = nodes_[static_cast<size_t>(n)];
  switch (x.op) {
    case Op::Num: return x.value;
    case Op::Var: return x.col->number(row);
    case Op::Neg: {
      const double v = num(x.a, row, cx);
      if (isMissingNumber(v)) cx.events |= kMissingOperand;
      return -v;
    }
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Pow: {
      const double a = num(x.a, row, cx);
      return arithmetic(x.op, a, num(x.b, row, cx), &cx.events);
    }
    case Op::Call:
      if (x.type == 1) return call(x, row, cx);
      return kMissing;
    default: return truth(n, row, cx) ? 1.0 : 0.0;
  }
}

// The value of a function whose value is a number.
double WhereExpr::call(const Node& x, size_t row, Scratch& cx) const {
  const std::vector<int>& args = x.args;
  auto arg = [&](size_t i) { return num(args[i], row, cx); };
  // One argument: missing (told) when it is.
  auto one = [&](double* v) {
    *v = arg(0);
    if (!isMissingNumber(*v)) return true;
    cx.events |= kMissingOperand;
    return false;
  };
  double v = 0;
  switch (x.fn) {
    case Fn::Round: {
      if (!one(&v)) return kMissing;
      const double unit = args.size() > 1 ? arg(1) : 1.0;
      if (isMissingNumber(unit)) {
        cx.events |= kMissingOperand;
        return kMissing;
      }
      if (!(unit > 0)) {
        cx.events |= kNoValue;
        return kMissing;
      }
      return checked(roundTo(v, unit), &cx.events);
    }
    case Fn::Floor: return one(&v) ? std::floor(v) : kMissing;
    case Fn::Ceil: return one(&v) ? std::ceil(v) : kMissing;
    case Fn::Abs: return one(&v) ? std::fabs(v) : kMissing;
    case Fn::Sqrt:
    case Fn::Log:
    case Fn::Log10: {
      if (!one(&v)) return kMissing;
      if (x.fn == Fn::Sqrt ? v < 0 : v <= 0) {
        cx.events |= kNoValue;
        return kMissing;
      }
      return x.fn == Fn::Sqrt ? std::sqrt(v) : x.fn == Fn::Log ? std::log(v) : std::log10(v);
    }
    case Fn::Exp: return one(&v) ? checked(std::exp(v), &cx.events) : kMissing;
    case Fn::Min:
    case Fn::Max:
    case Fn::Sum: {
      double r = kMissing;
      for (size_t i = 0; i < args.size(); ++i) {
        const double a = arg(i);
        if (isMissingNumber(a)) continue;
        if (isMissingNumber(r)) r = a;
        else if (x.fn == Fn::Min) r = std::min(r, a);
        else if (x.fn == Fn::Max) r = std::max(r, a);
        else r += a;
      }
      return isMissingNumber(r) ? r : checked(r, &cx.events);
    }
    case Fn::Coalesce:
      for (size_t i = 0; i < args.size(); ++i)
        if (const double a = arg(i); !isMissingNumber(a)) return a;
      return kMissing;
    case Fn::Ifn: return truth(args[0], row, cx) ? arg(1) : arg(2);
    default: return kMissing;
  }
}

std::string_view WhereExpr::str(int n, size_t row, Scratch& cx) const {
  const Node& x = nodes_[static_cast<size_t>(n)];
  switch (x.op) {
    case Op::Var: return x.col->str(row);
    case Op::Concat:
    case Op::Call: return callText(n, row, cx);
    default: return x.text;
  }
}

// The value of || or of a function whose value is a text, made in the
// node's own buffer of the scratch.
std::string_view WhereExpr::callText(int n, size_t row, Scratch& cx) const {
  const Node& x = nodes_[static_cast<size_t>(n)];
  if (cx.text.size() < nodes_.size()) cx.text.resize(nodes_.size());
  std::string& out = cx.text[static_cast<size_t>(n)];
  // An operand as text: a number in its plain form, missing as nothing.
  auto text = [&](int k) -> std::string_view {
    if (nodes_[static_cast<size_t>(k)].type == 2) return str(k, row, cx);
    std::string& b = cx.text[static_cast<size_t>(k)];
    b = plainNumberText(num(k, row, cx));
    return b;
  };
  if (x.op == Op::Concat) {
    const std::string_view a = text(x.a);
    const std::string_view b = text(x.b);
    out.assign(a);
    out.append(b);
    return out;
  }
  const std::vector<int>& args = x.args;
  switch (x.fn) {
    case Fn::Upcase:
    case Fn::Lowcase: {
      out.assign(str(args[0], row, cx));
      for (char& c : out) c = x.fn == Fn::Upcase ? upperAscii(c) : lowerAscii(c);
      return out;
    }
    case Fn::Strip: return trimBlanks(str(args[0], row, cx));
    case Fn::Substr: {
      const std::string_view s = str(args[0], row, cx);
      const double from = num(args[1], row, cx);
      const double length = args.size() > 2 ? num(args[2], row, cx) : kMissing;
      if (isMissingNumber(from) || (args.size() > 2 && isMissingNumber(length))) {
        cx.events |= kMissingOperand;
        return {};
      }
      if (from < 1 || length < 0) {
        cx.events |= kNoValue;
        return {};
      }
      const size_t a = charOffset(s, std::floor(from) - 1);
      const size_t b = args.size() > 2 ? a + charOffset(s.substr(a), std::floor(length)) : s.size();
      return s.substr(a, b - a);
    }
    case Fn::Cats:
    case Fn::Catx: {
      std::string joined;
      const std::string_view separator = x.fn == Fn::Catx ? str(args[0], row, cx) : "";
      bool first = true;
      for (size_t i = x.fn == Fn::Catx ? 1 : 0; i < args.size(); ++i) {
        const std::string_view v = trimBlanks(text(args[i]));
        if (x.fn == Fn::Catx && v.empty()) continue;
        if (!first) joined.append(separator);
        joined.append(v);
        first = false;
      }
      out = std::move(joined);
      return out;
    }
    case Fn::Put: {
      // The text without the blanks the format pads with.
      if (nodes_[static_cast<size_t>(args[0])].type == 2) {
        out = formatChar(x.format, x.formatWidth, str(args[0], row, cx));
        return trimBlanks(out);
      }
      const double v = num(args[0], row, cx);
      if (isMissingNumber(v)) return {};
      out = formatNumber(x.format, x.formatWidth, x.formatDecimals, v, ' ');
      return trimBlanks(out);
    }
    case Fn::Coalesce:
      for (int k : args)
        if (const std::string_view v = str(k, row, cx); !trimBlanks(v).empty()) return v;
      return {};
    case Fn::Ifc: return truth(args[0], row, cx) ? str(args[1], row, cx) : str(args[2], row, cx);
    default: return {};
  }
}

bool WhereExpr::truth(int n, size_t row, Scratch& cx) const {
  const Node& x = nodes_[static_cast<size_t>(n)];
  switch (x.op) {
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      int c = nodes_[static_cast<size_t>(x.a)].type == 2
                  ? compareBlankPadded(str(x.a, row, cx), str(x.b, row, cx))
                  : cmpNum(num(x.a, row, cx), num(x.b, row, cx));
      switch (x.op) {
        case Op::Eq: return c == 0;
        case Op::Ne: return c != 0;
        case Op::Lt: return c < 0;
        case Op::Le: return c <= 0;
        case Op::Gt: return c > 0;
        default: return c >= 0;
      }
    }
    case Op::In: {
      bool found = false;
      if (x.argType == 2) {
        std::string_view v = str(x.a, row, cx);
        for (const auto& s : x.strs)
          if (compareBlankPadded(v, s) == 0) {
            found = true;
            break;
          }
      } else {
        double v = num(x.a, row, cx);
        for (double d : x.nums)
          if (cmpNum(v, d) == 0) {
            found = true;
            break;
          }
      }
      return found != x.negated;
    }
    case Op::IsMissing: {
      bool missing = x.argType == 2 ? isBlank(str(x.a, row, cx)) : std::isnan(num(x.a, row, cx));
      return missing != x.negated;
    }
    case Op::And: return truth(x.a, row, cx) && truth(x.b, row, cx);
    case Op::Or: return truth(x.a, row, cx) || truth(x.b, row, cx);
    case Op::Not: return !truth(x.a, row, cx);
    default: {
      if (x.type == 2) return !isBlank(str(n, row, cx));
      double v = num(n, row, cx);
      return !std::isnan(v) && v != 0;
    }
  }
}

bool WhereExpr::test(size_t row, Scratch& scratch) const {
  if (!bound_ || row >= rows_) return false;
  return truth(root_, row, scratch);
}

bool WhereExpr::test(size_t row) const {
  Scratch scratch;
  return test(row, scratch);
}

double WhereExpr::number(size_t row, Scratch& scratch) const {
  if (!bound_ || row >= rows_) return kMissing;
  return num(root_, row, scratch);
}

void WhereExpr::numbers(size_t lo, size_t count, double* out, unsigned char* events,
                        Scratch& scratch) const {
  count = std::min({count, kBlock, lo < rows_ ? rows_ - lo : 0});
  std::fill(events, events + count, 0);
  if (bound_ && count) numBlock(root_, lo, count, out, events, scratch);
}

// Node n over a block of rows: arithmetic an operation at a time (its
// operands are evaluated for every row, as row by row); anything else row
// by row, so that a condition still decides which branch is evaluated.
void WhereExpr::numBlock(int n, size_t lo, size_t count, double* out, unsigned char* events,
                         Scratch& cx) const {
  const Node& x = nodes_[static_cast<size_t>(n)];
  switch (x.op) {
    case Op::Num: std::fill(out, out + count, x.value); return;
    case Op::Var: x.col->numbers(lo, count, out); return;
    case Op::Neg:
      numBlock(x.a, lo, count, out, events, cx);
      for (size_t i = 0; i < count; ++i) {
        if (isMissingNumber(out[i])) events[i] |= kMissingOperand;
        out[i] = -out[i];
      }
      return;
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Pow: {
      if (cx.block.size() < nodes_.size()) cx.block.resize(nodes_.size());
      std::vector<double>& right = cx.block[static_cast<size_t>(n)];
      right.resize(kBlock);
      numBlock(x.a, lo, count, out, events, cx);
      numBlock(x.b, lo, count, right.data(), events, cx);
      const double* b = right.data();
      for (size_t i = 0; i < count; ++i) {
        unsigned ev = 0;
        out[i] = arithmetic(x.op, out[i], b[i], &ev);
        events[i] |= static_cast<unsigned char>(ev);
      }
      return;
    }
    default:
      for (size_t i = 0; i < count; ++i) {
        cx.events = 0;
        out[i] = num(n, lo + i, cx);
        events[i] |= static_cast<unsigned char>(cx.events);
      }
      cx.events = 0;
  }
}

std::string_view WhereExpr::chars(size_t row, Scratch& scratch) const {
  if (!bound_ || row >= rows_) return {};
  return str(root_, row, scratch);
}

std::string sqlIdentifier(std::string_view name) {
  std::string q = "\"";
  for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
  return q + "\"";
}

}  // namespace qv::rt
