#include "runtime/data/where.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "common/ascii.h"

#include "common/error.h"

namespace qv::rt {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr int kMaxDepth = 200;       // nesting of parentheses and prefixes
constexpr int kMaxTreeDepth = 1000;  // height of the expression tree

enum class T {
  Num, Str, Missing, Name, NameLit,
  LParen, RParen, Comma, Plus, Minus, Star, Slash,
  Eq, Ne, Lt, Le, Gt, Ge, And, Or, Not, In, Is,
  End
};

struct Tok {
  T kind;
  int column;        // 1-based position in the text
  std::string text;  // as written (names, strings after undoing quotes)
  double num = 0;
};

enum class Op : uint8_t {
  Num, Str, Var, Neg, Add, Sub, Mul, Div, Eq, Ne, Lt, Le, Gt, Ge, In, IsMissing, And, Or, Not
};

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

[[noreturn]] void syntaxError(std::string_view text, int column, const std::string& what) {
  throw UserError("Syntax error in the WHERE selection \"" +
                  excerpt(text, static_cast<size_t>(std::max(column, 0))) + "\" at column " +
                  std::to_string(column) + ": " + what);
}

std::string describe(const Tok& t) {
  switch (t.kind) {
    case T::End: return "the end of the selection";
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

std::vector<Tok> lex(std::string_view s) {
  std::vector<Tok> out;
  size_t i = 0;
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
          syntaxError(s, static_cast<int>(k + 1), "expected the digits of an exponent.");
        while (k < s.size() && isDigit(s[k])) ++k;
        j = k;
      }
      if (j < s.size() && isNameStart(s[j]))
        syntaxError(s, static_cast<int>(j + 1), "expected an operator after the number.");
      Tok t{T::Num, static_cast<int>(start + 1), std::string(s.substr(start, j - start))};
      auto [p, ec] = std::from_chars(s.data() + start, s.data() + j, t.num);
      if (ec == std::errc::result_out_of_range) {
        t.num = std::strtod(t.text.c_str(), nullptr);
      } else if (ec != std::errc() || p != s.data() + j) {
        syntaxError(s, static_cast<int>(start + 1), "expected a number.");
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
          syntaxError(s, static_cast<int>(start + 1), "the quoted text that starts here is not closed.");
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
          syntaxError(s, static_cast<int>(start + 1),
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
      case '(': push(T::LParen, start, 1); continue;
      case ')': push(T::RParen, start, 1); continue;
      case ',': push(T::Comma, start, 1); continue;
      case '+': push(T::Plus, start, 1); continue;
      case '-': push(T::Minus, start, 1); continue;
      case '*': push(T::Star, start, 1); continue;
      case '/': push(T::Slash, start, 1); continue;
      case '=': push(T::Eq, start, 1); continue;
      case '&': push(T::And, start, 1); continue;
      case '|': push(T::Or, start, 1); continue;
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
    syntaxError(s, static_cast<int>(start + 1),
                "the character '" + std::string(s.substr(start, len)) + "' is not allowed here.");
  }
  out.push_back(Tok{T::End, static_cast<int>(s.size() + 1), ""});
  return out;
}

// --- WhereParser ------------------------------------------------------------------

class WhereParser {
 public:
  WhereParser(std::string_view text, std::vector<Tok> toks) : text_(text), toks_(std::move(toks)) {}

  int parse() {
    if (peek().kind == T::End) syntaxError(text_, peek().column, "the selection is empty.");
    int root = orExpr();
    if (peek().kind != T::End)
      fail("expected AND, OR, an operator or the end, found " + describe(peek()) + ".");
    return root;
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
  [[noreturn]] void fail(const std::string& what) const { syntaxError(text_, peek().column, what); }

  struct Depth {
    WhereParser& p;
    explicit Depth(WhereParser& parser) : p(parser) {
      if (++p.depth_ > kMaxDepth) p.fail("the selection is nested too deeply.");
    }
    ~Depth() { --p.depth_; }
  };

  int add(Node n) {
    for (int k : {n.a, n.b})
      if (k >= 0 && nodes[static_cast<size_t>(k)].depth + 1 > n.depth)
        n.depth = nodes[static_cast<size_t>(k)].depth + 1;
    if (n.depth > kMaxTreeDepth)
      syntaxError(text_, n.column, "the selection is too long; use IN ( ... ) for lists of values.");
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
    int left = andExpr();
    while (peek().kind == T::Or) {
      int col = take().column;
      left = binary(Op::Or, left, andExpr(), col);
    }
    return left;
  }

  int andExpr() {
    int left = notExpr();
    while (peek().kind == T::And) {
      int col = take().column;
      left = binary(Op::And, left, notExpr(), col);
    }
    return left;
  }

  int notExpr() {
    Depth d(*this);
    if (peek().kind == T::Not && peek(1).kind != T::In) {
      int col = take().column;
      return binary(Op::Not, notExpr(), -1, col);
    }
    return cmpExpr();
  }

  int cmpExpr() {
    int left = addExpr();
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
    return binary(op, left, addExpr(), col);
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
    if (peek().kind != T::LParen) fail("expected \"(\" and a list of values after IN, found " + describe(peek()) + ".");
    take();
    for (;;) {
      const Tok& v = peek();
      int col = v.column;
      bool negative = false;
      if (v.kind == T::Minus || v.kind == T::Plus) {
        negative = v.kind == T::Minus;
        take();
        if (peek().kind != T::Num) fail("expected a number after the sign, found " + describe(peek()) + ".");
      }
      const Tok& c = peek();
      if (c.kind == T::Num || c.kind == T::Missing) {
        if (n.argType == 2) syntaxError(text_, col, "a list of IN mixes numbers and texts.");
        n.argType = 1;
        double x = c.kind == T::Missing ? kMissing : c.num;
        n.nums.push_back(negative ? -x : x);
      } else if (c.kind == T::Str) {
        if (n.argType == 1) syntaxError(text_, col, "a list of IN mixes numbers and texts.");
        n.argType = 2;
        n.strs.push_back(c.text);
      } else {
        fail("expected a constant (number or quoted text) in the list of IN, found " + describe(c) + ".");
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
      fail("expected MISSING or NOT MISSING after IS, found " + describe(w) + ".");
    take();
    return add(std::move(n));
  }

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
    return primary();
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
      case T::NameLit:
        n.op = Op::Var;
        n.text = t.text;
        break;
      case T::LParen: {
        take();
        int inner = orExpr();
        if (peek().kind != T::RParen) fail("expected \")\", found " + describe(peek()) + ".");
        take();
        return inner;
      }
      default:
        fail("expected a variable, a constant or \"(\", found " + describe(t) + ".");
    }
    take();
    return add(std::move(n));
  }

  std::string_view text_;
  std::vector<Tok> toks_;
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
  WhereParser p(text, lex(text));
  int root = p.parse();
  return std::make_unique<WhereExpr>(std::string(text), std::move(p.nodes), root);
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
    std::string q = "\"";
    for (char ch : c.name) q += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    q += '"';
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

  static std::string number(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
  }

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
  bind(table, [&](std::string_view n) { return table.find(n); }, dataSet);
}

void WhereExpr::bind(const Table& table, const std::function<int(std::string_view)>& resolve,
                     const std::string& dataSet) {
  table_ = nullptr;
  bindNode(root_, table, resolve, dataSet);
  table_ = &table;
}

// Sets the types bottom-up and checks them; returns the node's type.
int WhereExpr::bindNode(int n, const Table& table,
                        const std::function<int(std::string_view)>& resolve,
                        const std::string& dataSet) {
  Node& x = nodes_[n];
  auto varName = [&](int k) -> const Node* {
    return k >= 0 && nodes_[k].op == Op::Var ? &nodes_[k] : nullptr;
  };
  auto mismatch = [&](int a, int b) -> UserError {
    const Node* v = varName(a);
    int other = b;
    if (!v) {
      v = varName(b);
      other = a;
    }
    if (v) {
      bool chr = v->type == 2;
      return UserError("Variable " + v->text + " in the WHERE selection of " + dataSet + " is " +
                       (chr ? "character" : "numeric") + ", but it is compared with " +
                       (chr ? "a number" : "a character value") + ".");
    }
    (void)other;
    return UserError("The WHERE selection of " + dataSet +
                     " compares a character value with a number at column " +
                     std::to_string(x.column) + ".");
  };
  switch (x.op) {
    case Op::Num:
    case Op::Str: return x.type;
    case Op::Var: {
      int c = resolve(x.text);
      if (c < 0 || static_cast<size_t>(c) >= table.columns.size())
        throw UserError("Variable " + x.text + " in the WHERE selection is not in data set " +
                        dataSet + ".");
      x.col = &table.columns[static_cast<size_t>(c)];
      x.type = x.col->numeric() ? 1 : 2;
      return x.type;
    }
    case Op::Neg:
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div: {
      for (int k : {x.a, x.b}) {
        if (k < 0) continue;
        if (bindNode(k, table, resolve, dataSet) != 1) {
          const Node* v = varName(k);
          throw UserError(v ? "Variable " + v->text + " in the WHERE selection of " + dataSet +
                                  " is character and cannot be used in arithmetic."
                            : "The WHERE selection of " + dataSet +
                                  " uses a character value in arithmetic at column " +
                                  std::to_string(x.column) + ".");
        }
      }
      x.type = 1;
      return 1;
    }
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      int ta = bindNode(x.a, table, resolve, dataSet);
      int tb = bindNode(x.b, table, resolve, dataSet);
      if (ta != tb) throw mismatch(x.a, x.b);
      x.type = 1;
      return 1;
    }
    case Op::In: {
      int ta = bindNode(x.a, table, resolve, dataSet);
      x.type = 1;
      if (ta != x.argType) {
        const Node* v = varName(x.a);
        bool chr = ta == 2;
        throw UserError(v ? "Variable " + v->text + " in the WHERE selection of " + dataSet +
                                " is " + (chr ? "character" : "numeric") +
                                ", but its IN list holds " + (chr ? "numbers." : "texts.")
                          : "The WHERE selection of " + dataSet +
                                " compares a character value with a number at column " +
                                std::to_string(x.column) + ".");
      }
      return 1;
    }
    case Op::IsMissing:
      x.argType = bindNode(x.a, table, resolve, dataSet);
      x.type = 1;
      return 1;
    case Op::And:
    case Op::Or:
      bindNode(x.a, table, resolve, dataSet);
      bindNode(x.b, table, resolve, dataSet);
      x.type = 1;
      return 1;
    case Op::Not:
      bindNode(x.a, table, resolve, dataSet);
      x.type = 1;
      return 1;
  }
  return 1;
}

double WhereExpr::num(int n, size_t row) const {
  const Node& x = nodes_[n];
  switch (x.op) {
    case Op::Num: return x.value;
    case Op::Var: return x.col->num[row];
    case Op::Neg: return -num(x.a, row);
    case Op::Add: return num(x.a, row) + num(x.b, row);
    case Op::Sub: return num(x.a, row) - num(x.b, row);
    case Op::Mul: return num(x.a, row) * num(x.b, row);
    case Op::Div: {
      double d = num(x.b, row);
      return d == 0 ? kMissing : num(x.a, row) / d;
    }
    default: return truth(n, row) ? 1.0 : 0.0;
  }
}

std::string_view WhereExpr::str(int n, size_t row) const {
  const Node& x = nodes_[n];
  return x.op == Op::Var ? x.col->str(row) : std::string_view(x.text);
}

bool WhereExpr::truth(int n, size_t row) const {
  const Node& x = nodes_[n];
  switch (x.op) {
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
      int c = nodes_[x.a].type == 2 ? compareBlankPadded(str(x.a, row), str(x.b, row))
                                    : cmpNum(num(x.a, row), num(x.b, row));
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
        std::string_view v = str(x.a, row);
        for (const auto& s : x.strs)
          if (compareBlankPadded(v, s) == 0) {
            found = true;
            break;
          }
      } else {
        double v = num(x.a, row);
        for (double d : x.nums)
          if (cmpNum(v, d) == 0) {
            found = true;
            break;
          }
      }
      return found != x.negated;
    }
    case Op::IsMissing: {
      bool missing = x.argType == 2 ? isBlank(str(x.a, row)) : std::isnan(num(x.a, row));
      return missing != x.negated;
    }
    case Op::And: return truth(x.a, row) && truth(x.b, row);
    case Op::Or: return truth(x.a, row) || truth(x.b, row);
    case Op::Not: return !truth(x.a, row);
    case Op::Str: return !isBlank(x.text);
    case Op::Var:
      if (x.type == 2) return !isBlank(x.col->str(row));
      [[fallthrough]];
    default: {
      double v = num(n, row);
      return !std::isnan(v) && v != 0;
    }
  }
}

bool WhereExpr::test(size_t row) const {
  if (!table_ || row >= table_->rows) return false;
  return truth(root_, row);
}

}  // namespace qv::rt
