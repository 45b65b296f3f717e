#include "runtime/program/tokenizer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <system_error>

#include "common/ascii.h"

namespace qv::rt {

namespace {

// Length of the valid UTF-8 sequence starting at s[i], 0 when invalid
// (stray continuation byte, overlong form, surrogate, beyond U+10FFFF, cut off).
size_t utf8Length(const std::string& s, size_t i) {
  auto byte = [&](size_t k) -> unsigned {
    return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0u;
  };
  unsigned b0 = byte(0);
  auto cont = [&](size_t k) { return (byte(k) & 0xC0u) == 0x80u; };
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) return cont(1) ? 2 : 0;
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    unsigned b1 = byte(1);
    if (b0 == 0xE0 && b1 < 0xA0) return 0;  // overlong
    if (b0 == 0xED && b1 >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    unsigned b1 = byte(1);
    if (b0 == 0xF0 && b1 < 0x90) return 0;  // overlong
    if (b0 == 0xF4 && b1 >= 0x90) return 0;  // beyond U+10FFFF
    return 4;
  }
  return 0;
}

// Days from 1 January 1970 to the given proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool leapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

// Reads 1..maxDigits digits at s[i]; false when there are none.
bool readDigits(std::string_view s, size_t& i, size_t maxDigits, int* value, size_t* count) {
  size_t start = i;
  int v = 0;
  while (i < s.size() && isDigit(s[i]) && i - start < maxDigits) v = v * 10 + (s[i++] - '0');
  *count = i - start;
  *value = v;
  return *count > 0;
}

bool parseDatePart(std::string_view s, size_t& i, double* days) {
  int day = 0, year = 0;
  size_t n = 0;
  if (!readDigits(s, i, 2, &day, &n)) return false;
  if (i + 3 > s.size()) return false;
  static const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    if (lowerAscii(s[i]) == months[m][0] && lowerAscii(s[i + 1]) == months[m][1] &&
        lowerAscii(s[i + 2]) == months[m][2]) {
      month = m + 1;
      break;
    }
  }
  if (month == 0) return false;
  i += 3;
  if (!readDigits(s, i, 4, &year, &n)) return false;
  if (n == 2) {
    year += year < 20 ? 2000 : 1900;
  } else if (n != 4 || year < 1) {
    return false;
  }
  static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int maxDay = lengths[month - 1] + (month == 2 && leapYear(year) ? 1 : 0);
  if (day < 1 || day > maxDay) return false;
  *days = static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month),
                                            static_cast<unsigned>(day)) -
                              daysFromCivil(1960, 1, 1));
  return true;
}

bool parseTimePart(std::string_view s, size_t& i, double* seconds) {
  int h = 0, m = 0, sec = 0;
  size_t n = 0;
  if (!readDigits(s, i, 2, &h, &n)) return false;
  if (i >= s.size() || s[i] != ':') return false;
  ++i;
  if (!readDigits(s, i, 2, &m, &n) || n != 2 || m > 59) return false;
  double frac = 0;
  if (i < s.size() && s[i] == ':') {
    ++i;
    if (!readDigits(s, i, 2, &sec, &n) || n != 2 || sec > 59) return false;
    if (i < s.size() && s[i] == '.') {
      ++i;
      double scale = 0.1;
      while (i < s.size() && isDigit(s[i])) {
        frac += (s[i++] - '0') * scale;
        scale /= 10;
      }
    }
  }
  // Optional AM/PM after a blank or directly.
  size_t j = i;
  while (j < s.size() && s[j] == ' ') ++j;
  if (j + 2 <= s.size() && (lowerAscii(s[j + 1]) == 'm') && (lowerAscii(s[j]) == 'a' || lowerAscii(s[j]) == 'p')) {
    if (h < 1 || h > 12) return false;
    bool pm = lowerAscii(s[j]) == 'p';
    h = h % 12 + (pm ? 12 : 0);
    i = j + 2;
  } else if (h > 23) {
    return false;
  }
  *seconds = h * 3600.0 + m * 60.0 + sec + frac;
  return true;
}

}  // namespace

bool parseDateText(std::string_view text, double* days) {
  std::string_view s = trim(text);
  size_t i = 0;
  double d = 0;
  if (!parseDatePart(s, i, &d) || i != s.size()) return false;
  *days = d;
  return true;
}

bool parseTimeText(std::string_view text, double* seconds) {
  std::string_view s = trim(text);
  size_t i = 0;
  double t = 0;
  if (!parseTimePart(s, i, &t) || i != s.size()) return false;
  *seconds = t;
  return true;
}

bool parseDateTimeText(std::string_view text, double* seconds) {
  std::string_view s = trim(text);
  size_t i = 0;
  double d = 0, t = 0;
  if (!parseDatePart(s, i, &d)) return false;
  if (i >= s.size() || (s[i] != ':' && s[i] != ' ')) return false;
  ++i;
  if (!parseTimePart(s, i, &t) || i != s.size()) return false;
  *seconds = d * 86400.0 + t;
  return true;
}

Tokenizer::Tokenizer(std::string text, std::string file)
    : Tokenizer(std::make_shared<const SourceText>(SourceText{std::move(file), std::move(text)})) {}

Tokenizer::Tokenizer(std::shared_ptr<const SourceText> source)
    : src_(source ? std::move(source) : std::make_shared<const SourceText>()), text_(&src_->text) {
  // A byte order mark at the very start is not part of the program.
  if (text_->compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

int Tokenizer::peek(size_t ahead) const {
  size_t i = pos_ + ahead;
  return i < text_->size() ? static_cast<unsigned char>((*text_)[i]) : -1;
}

void Tokenizer::advance(size_t n) {
  for (size_t k = 0; k < n && pos_ < text_->size(); ++k) {
    if ((*text_)[pos_++] == '\n') {
      ++line_;
      column_ = 1;
    } else {
      ++column_;
    }
  }
}

void Tokenizer::fail(int line, int column, const std::string& what) const {
  throw UserError(Place{src_->file, line, column}, what);
}

bool Tokenizer::skipBlanks() {
  bool skipped = false;
  for (;;) {
    int c = peek();
    if (c < 0) return skipped;
    if (isBlank(c)) {
      advance();
    } else if (c == 0xC2 && peek(1) == 0xA0) {  // no-break space pasted from documents
      advance(2);
    } else if (c == '/' && peek(1) == '*') {
      int line = line_, column = column_;
      size_t end = text_->find("*/", pos_ + 2);
      if (end == std::string::npos) {
        advance(text_->size() - pos_);
        fail(line, column, "Comment starting here is not closed with */");
      }
      advance(end + 2 - pos_);
    } else if (c == '*' && atStatementStart_) {
      // A statement that begins with "*" is a comment up to its ";".
      size_t end = text_->find(';', pos_);
      advance(end == std::string::npos ? text_->size() - pos_ : end + 1 - pos_);
    } else {
      return skipped;
    }
    skipped = true;
  }
}

Token Tokenizer::next() {
  bool space = skipBlanks();
  Token t;
  t.spaceBefore = space;
  t.line = line_;
  t.column = column_;
  t.offset = static_cast<int>(pos_);
  size_t start = pos_;
  int c = peek();
  if (c < 0) {
    t.kind = Tok::Eof;
    return t;
  }
  atStatementStart_ = false;
  auto punct = [&](Tok kind, size_t n) {
    t.kind = kind;
    t.text = text_->substr(pos_, n);
    advance(n);
  };
  if (c == '\'' || c == '"') {
    t = scanQuoted(t);
  } else if (isDigit(c) || (c == '.' && isDigit(peek(1)))) {
    t = scanNumber(t);
  } else if (isNameStart(c)) {
    t = scanName(t);
  } else if (c == '$') {
    t = scanDollar(t);
  } else if (c >= 0x80) {
    t = scanNonAscii(t);
  } else {
    int c1 = peek(1);
    switch (c) {
      case ';': punct(Tok::End, 1); atStatementStart_ = true; break;
      case '.': punct(Tok::Missing, 1); break;
      case '%': punct(Tok::Percent, 1); break;
      case '(': punct(Tok::LParen, 1); break;
      case ')': punct(Tok::RParen, 1); break;
      case '-': punct(Tok::Minus, 1); break;
      case '/': punct(Tok::Slash, 1); break;
      case ':': punct(Tok::Colon, 1); break;
      case '=': punct(Tok::Equals, 1); break;
      case '+': punct(Tok::Plus, 1); break;
      case '*': punct(Tok::Star, 1); break;
      case ',': punct(Tok::Comma, 1); break;
      case '#': punct(Tok::Hash, 1); break;
      case '<': c1 == '=' ? punct(Tok::Le, 2) : punct(Tok::Lt, 1); break;
      case '>': c1 == '=' ? punct(Tok::Ge, 2) : punct(Tok::Gt, 1); break;
      case '^':
      case '~': c1 == '=' ? punct(Tok::Ne, 2) : punct(Tok::Not, 1); break;
      default: punct(Tok::Other, 1); break;
    }
  }
  t.length = static_cast<int>(pos_ - start);
  return t;
}

Token Tokenizer::scanQuoted(Token t) {
  const char q = static_cast<char>(peek());
  const std::string& s = *text_;
  size_t i = pos_ + 1;
  std::string content;
  for (;;) {
    size_t close = s.find(q, i);
    if (close == std::string::npos) {
      advance(s.size() - pos_);
      fail(t.line, t.column,
           std::string("Quoted string starting here is not closed with ") + q);
    }
    content.append(s, i, close - i);
    if (close + 1 < s.size() && s[close + 1] == q) {  // a doubled quote stands for one
      content += q;
      i = close + 2;
      continue;
    }
    i = close + 1;
    break;
  }
  advance(i - pos_);
  t.kind = Tok::QString;
  t.text = std::move(content);

  // A suffix letter right after the closing quote makes a literal.
  int c0 = lowerAscii(peek()), c1 = lowerAscii(peek(1));
  size_t suffix = 0;
  Tok kind = Tok::QString;
  if (c0 == 'd' && c1 == 't' && !isNameChar(peek(2))) {
    kind = Tok::DateTime, suffix = 2;
  } else if (c0 == 'd' && !isNameChar(c1)) {
    kind = Tok::Date, suffix = 1;
  } else if (c0 == 't' && !isNameChar(c1)) {
    kind = Tok::Time, suffix = 1;
  } else if (c0 == 'n' && !isNameChar(c1)) {
    kind = Tok::NameLit, suffix = 1;
  }
  if (suffix == 0) return t;
  advance(suffix);
  std::string written = s.substr(static_cast<size_t>(t.offset), pos_ - static_cast<size_t>(t.offset));
  bool ok = true;
  switch (kind) {
    case Tok::Date: ok = parseDateText(t.text, &t.num); break;
    case Tok::Time: ok = parseTimeText(t.text, &t.num); break;
    case Tok::DateTime: ok = parseDateTimeText(t.text, &t.num); break;
    case Tok::NameLit: ok = !trim(t.text).empty(); break;
    default: break;
  }
  if (!ok) {
    const char* what = kind == Tok::Date       ? "date"
                       : kind == Tok::Time     ? "time"
                       : kind == Tok::DateTime ? "datetime"
                                               : "name";
    fail(t.line, t.column, std::string("Invalid ") + what + " literal " + written);
  }
  t.kind = kind;
  return t;
}

Token Tokenizer::scanNumber(Token t) {
  const std::string& s = *text_;
  size_t i = pos_;
  bool isInt = true;
  while (i < s.size() && isDigit(s[i])) ++i;
  if (i < s.size() && s[i] == '.') {
    isInt = false;
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && isDigit(s[j])) {
      isInt = false;
      while (j < s.size() && isDigit(s[j])) ++j;
      i = j;
    }
  }
  t.kind = isInt ? Tok::Int : Tok::Number;
  t.text = s.substr(pos_, i - pos_);
  advance(i - pos_);

  double v = 0;
  const char* b = t.text.data();
  const char* e = b + t.text.size();
  auto r = std::from_chars(b, e, v);
  if (r.ec == std::errc::result_out_of_range) {
    // Too small to hold is zero; too large is an error.
    size_t ePos = t.text.find_first_of("eE");
    bool negExp = ePos != std::string::npos && ePos + 1 < t.text.size() && t.text[ePos + 1] == '-';
    if (!negExp) fail(t.line, t.column, "Number " + t.text + " is too large");
    v = 0;
  } else if (r.ec != std::errc() || !std::isfinite(v)) {
    fail(t.line, t.column, "Invalid number " + t.text);
  }
  t.num = v;
  return t;
}

Token Tokenizer::scanName(Token t) {
  const std::string& s = *text_;
  size_t i = pos_;
  while (i < s.size() && isNameChar(s[i])) ++i;
  t.kind = Tok::Name;
  if (i < s.size() && s[i] == '.') {
    int after = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : -1;
    if (isNameStart(after)) {
      // lib.member
      size_t j = i + 1;
      while (j < s.size() && isNameChar(s[j])) ++j;
      t.kind = Tok::Compound;
      i = j;
    } else {
      // A format name: NAME. or NAMEw. or NAMEw.d
      size_t j = i + 1;
      while (j < s.size() && isDigit(s[j])) ++j;
      t.kind = Tok::Format;
      i = j;
    }
  }
  t.text = s.substr(pos_, i - pos_);
  advance(i - pos_);
  return t;
}

Token Tokenizer::scanDollar(Token t) {
  const std::string& s = *text_;
  size_t i = pos_ + 1;
  while (i < s.size() && isNameChar(s[i])) ++i;
  int after = i + 1 < s.size() ? static_cast<unsigned char>(s[i + 1]) : -1;
  if (i < s.size() && s[i] == '.' && !isNameStart(after)) {
    // $CHAR10. $10. $w.d
    size_t j = i + 1;
    while (j < s.size() && isDigit(s[j])) ++j;
    t.kind = Tok::Format;
    t.text = s.substr(pos_, j - pos_);
    advance(j - pos_);
    return t;
  }
  t.kind = Tok::Dollar;
  t.text.assign(1, '$');
  advance(1);
  return t;
}

Token Tokenizer::scanNonAscii(Token t) {
  size_t n = utf8Length(*text_, pos_);
  if (n == 0) {
    static const char* hex = "0123456789ABCDEF";
    unsigned b = static_cast<unsigned>(peek());
    advance(1);
    fail(t.line, t.column,
         std::string("Invalid UTF-8 byte 0x") + hex[b >> 4] + hex[b & 15] + " in the program text");
  }
  t.kind = Tok::Other;
  t.text = text_->substr(pos_, n);
  advance(n);
  return t;
}

}  // namespace qv::rt
