#include "runtime/formats/formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/ascii.h"

namespace qv::rt {

namespace {

// ---------------------------------------------------------------------------
// The format table.

enum class Kind {
  Fixed, Best, Comma, Dollar, Percent, Sci, Zero, Char,
  Date, Ddmmyy, Mmddyy, Yymmdd, Monyy, Year, Monname, Weekdate, Worddate,
  Day, Month, Qtr, Weekday, Downame, Yyq, Dtdate,
  Datetime, Time, Tod, Hhmm
};

struct FormatInfo {
  const char* name;
  Kind kind;
  bool character;
  int defaultWidth, defaultDecimals, minWidth, maxWidth;
};

constexpr int kMaxCharWidth = 32767;

constexpr FormatInfo kFormats[] = {
    {"F", Kind::Fixed, false, 12, 0, 1, 32},
    {"BEST", Kind::Best, false, 12, 0, 1, 32},
    {"COMMA", Kind::Comma, false, 6, 0, 1, 32},
    {"DOLLAR", Kind::Dollar, false, 6, 0, 2, 32},
    {"PERCENT", Kind::Percent, false, 6, 0, 4, 32},
    {"E", Kind::Sci, false, 12, 0, 7, 32},
    {"Z", Kind::Zero, false, 1, 0, 1, 32},
    {"$", Kind::Char, true, 0, 0, 1, kMaxCharWidth},
    {"$CHAR", Kind::Char, true, 0, 0, 1, kMaxCharWidth},
    {"DATE", Kind::Date, false, 7, 0, 5, 11},
    {"DDMMYY", Kind::Ddmmyy, false, 8, 0, 2, 10},
    {"MMDDYY", Kind::Mmddyy, false, 8, 0, 2, 10},
    {"YYMMDD", Kind::Yymmdd, false, 8, 0, 2, 10},
    {"MONYY", Kind::Monyy, false, 5, 0, 5, 7},
    {"YEAR", Kind::Year, false, 4, 0, 2, 32},
    {"MONNAME", Kind::Monname, false, 9, 0, 1, 32},
    {"WEEKDATE", Kind::Weekdate, false, 29, 0, 3, 37},
    {"WORDDATE", Kind::Worddate, false, 18, 0, 3, 32},
    {"DAY", Kind::Day, false, 2, 0, 2, 32},
    {"MONTH", Kind::Month, false, 2, 0, 1, 32},
    {"QTR", Kind::Qtr, false, 1, 0, 1, 32},
    {"WEEKDAY", Kind::Weekday, false, 1, 0, 1, 32},
    {"DOWNAME", Kind::Downame, false, 9, 0, 1, 32},
    {"YYQ", Kind::Yyq, false, 4, 0, 4, 10},
    {"DTDATE", Kind::Dtdate, false, 7, 0, 5, 9},
    {"DATETIME", Kind::Datetime, false, 16, 0, 7, 40},
    {"TIME", Kind::Time, false, 8, 0, 2, 20},
    {"TOD", Kind::Tod, false, 8, 0, 2, 20},
    {"HHMM", Kind::Hhmm, false, 5, 0, 2, 20},
};

// The table entry of a name in any case; "" is the standard numeric format.
const FormatInfo* findFormat(std::string_view name) {
  if (name.empty()) name = "F";
  for (const FormatInfo& s : kFormats)
    if (sameNoCase(name, s.name)) return &s;
  return nullptr;
}
// A value read with a format may have spaces, tabs and line ends around it;
// a form feed or vertical tab is no blank there.
bool isValueBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isValueBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isValueBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Reads up to maxDigits decimal digits at s[*i]; false when there are none
// or more than maxDigits.
bool readInt(std::string_view s, size_t* i, int maxDigits, int64_t* out) {
  size_t start = *i;
  int64_t v = 0;
  while (*i < s.size() && isDigit(s[*i])) {
    if (int(*i - start) >= maxDigits) return false;
    v = v * 10 + (s[*i] - '0');
    ++*i;
  }
  if (*i == start) return false;
  *out = v;
  return true;
}

// ---------------------------------------------------------------------------
// Exact decimal digits of a double and rounding on them.
//
// Rounding works on the shortest decimal text that reads back as the same
// double, so 2.5 and 1.005 round up as written (half away from zero) instead
// of following the binary value.

struct Decimal {
  bool neg = false;
  std::string digits;  // significant digits, no leading or trailing zeros
  int point = 0;       // value = 0.digits x 10^point
  bool zero() const { return digits.empty(); }
};

Decimal toDecimal(double v) {
  Decimal d;
  d.neg = std::signbit(v);
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v),
                         std::chars_format::scientific);
  std::string_view s(buf, size_t(r.ptr - buf));
  size_t e = s.find('e');
  int exp = 0;
  std::from_chars(s.data() + e + 1 + (s[e + 1] == '+' ? 1 : 0), s.data() + s.size(), exp);
  for (size_t i = 0; i < e; ++i)
    if (isDigit(s[i])) d.digits += s[i];
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  size_t lead = 0;
  while (lead < d.digits.size() && d.digits[lead] == '0') ++lead;
  d.digits.erase(0, lead);
  d.point = exp + 1;
  if (d.digits.empty()) d.point = 0;
  return d;
}

// Adds one to a string of decimal digits ("199" -> "200", "99" -> "100").
void incrementDigits(std::string* s) {
  for (size_t i = s->size(); i-- > 0;) {
    if ((*s)[i] != '9') {
      ++(*s)[i];
      return;
    }
    (*s)[i] = '0';
  }
  s->insert(s->begin(), '1');
}

struct Fixed {
  std::string intPart;  // at least "0"
  std::string frac;     // exactly `decimals` digits
  bool zero = true;     // the rounded value is 0
};

// The value rounded half away from zero to `decimals` places.
Fixed roundFixed(const Decimal& d, int decimals) {
  Fixed f;
  std::string head;  // the magnitude scaled by 10^decimals, as an integer
  long keep = long(d.point) + decimals;
  if (!d.zero() && keep >= 0) {
    for (long i = 0; i < keep; ++i)
      head += size_t(i) < d.digits.size() ? d.digits[size_t(i)] : '0';
    if (size_t(keep) < d.digits.size() && d.digits[size_t(keep)] >= '5')
      incrementDigits(&head);
  }
  size_t lead = 0;
  while (lead < head.size() && head[lead] == '0') ++lead;
  head.erase(0, lead);
  f.zero = head.empty();
  if (head.size() <= size_t(decimals)) head.insert(0, size_t(decimals) + 1 - head.size(), '0');
  f.intPart = head.substr(0, head.size() - size_t(decimals));
  f.frac = head.substr(head.size() - size_t(decimals));
  return f;
}

std::string groupThousands(const std::string& digits) {
  std::string out;
  size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string stars(int width) { return std::string(size_t(width), '*'); }

// Right-justifies s in width; false when it is too long.
bool fitRight(const std::string& s, int width, std::string* out) {
  if (s.size() > size_t(width)) return false;
  *out = std::string(size_t(width) - s.size(), ' ') + s;
  return true;
}

// Mantissa of d rounded to m significant digits and the exponent of its
// first digit (value = m.mmm x 10^exp).
void roundMantissa(const Decimal& d, int m, std::string* mant, int* exp) {
  *mant = d.digits.substr(0, size_t(m));
  while (mant->size() < size_t(m)) *mant += '0';
  *exp = d.point - 1;
  if (size_t(m) < d.digits.size() && d.digits[size_t(m)] >= '5') {
    incrementDigits(mant);
    if (mant->size() > size_t(m)) {  // 9.99 -> 10.0
      mant->pop_back();
      ++*exp;
    }
  }
}

// Digits shown from the first non-zero one on ("0.0120" -> 3, "1000" -> 4).
int significantDigits(std::string_view t) {
  int count = 0;
  bool started = false;
  for (char c : t) {
    if (!isDigit(c)) continue;
    if (c != '0') started = true;
    if (started) ++count;
  }
  return count;
}

// The shortest representation that shows the most of the value in `width`
// characters: plain decimals when they show as many significant digits as
// E notation ("1.2345E10", "1.2E-7"), else E notation. Empty when nothing
// fits.
std::string bestText(const Decimal& d, int width) {
  if (d.zero()) return width >= 1 ? "0" : "";
  const int sign = d.neg ? 1 : 0;
  const int n = int(d.digits.size());
  const int room = width - sign;

  // Plain decimals.
  std::string fixedText;
  int fixedSig = -1;
  bool zeroFits = false;  // the value rounds to 0 in the room there is
  {
    int decimals;
    bool leadingZero = true;
    if (d.point >= 1) {
      decimals = room - d.point >= 2 ? room - d.point - 1 : 0;
    } else {
      // "0.0012" while a significant digit shows after "0.", else ".0012".
      int need = n - d.point;  // decimals for every digit
      if (room - 2 > -d.point) {
        decimals = std::min(need, room - 2);
      } else {
        decimals = room - 1;
        leadingZero = false;
      }
    }
    for (; decimals >= 0; --decimals) {
      Fixed f = roundFixed(d, decimals);
      while (!f.frac.empty() && f.frac.back() == '0') f.frac.pop_back();
      std::string t = f.intPart;
      if (!leadingZero && t == "0" && !f.frac.empty()) t.clear();
      if (!f.frac.empty()) {
        t += '.';
        t += f.frac;
      }
      if (int(t.size()) <= room) {
        if (!f.zero) {
          fixedText = t;
          fixedSig = significantDigits(t);
        } else {
          zeroFits = true;
        }
        break;
      }
    }
  }

  // E notation.
  std::string sciText;
  int sciSig = -1;
  for (int m = std::min(n, 17); m >= 1; --m) {
    std::string mant;
    int exp;
    roundMantissa(d, m, &mant, &exp);
    while (mant.size() > 1 && mant.back() == '0') mant.pop_back();
    std::string t = mant.substr(0, 1);
    if (mant.size() > 1) {
      t += '.';
      t += mant.substr(1);
    }
    t += 'E';
    t += std::to_string(exp);
    if (int(t.size()) <= room) {
      sciText = t;
      sciSig = int(mant.size());
      break;
    }
  }

  std::string body;
  if (fixedSig >= 0 && sciSig >= 0) {
    // On a tie tiny values read better in E notation, as %g does.
    if (fixedSig > sciSig || (fixedSig == sciSig && d.point >= -3))
      body = fixedText;
    else
      body = sciText;
  } else if (fixedSig >= 0) {
    body = fixedText;
  } else if (sciSig >= 0) {
    body = sciText;
  } else if (zeroFits) {
    return "0";  // too small to show in so few characters
  } else {
    return "";
  }
  return (d.neg ? "-" : "") + body;
}

std::string formatBest(const Decimal& d, int width) {
  std::string text = bestText(d, width);
  std::string out;
  if (!text.empty() && fitRight(text, width, &out)) return out;
  return stars(width);
}

// Sign, digits, optional point and fraction of a rounded value.
std::string plainText(const Decimal& d, const Fixed& f, bool group, bool leadingZero) {
  std::string t = (d.neg && !f.zero) ? "-" : "";
  std::string ip = group ? groupThousands(f.intPart) : f.intPart;
  if (!leadingZero && ip == "0" && !f.frac.empty()) ip.clear();
  t += ip;
  if (!f.frac.empty()) {
    t += '.';
    t += f.frac;
  }
  return t;
}

// w.d, COMMA and DOLLAR: the asked decimals, then fewer, then (COMMA and
// DOLLAR) without separators and sign, then BEST.
std::string formatDecimal(Kind kind, const Decimal& d, int width, int decimals) {
  std::string out;
  const bool dollar = kind == Kind::Dollar;
  const bool grouped = kind == Kind::Comma || dollar;
  auto attempt = [&](bool group, bool withDollar) {
    for (int dec = decimals; dec >= 0; --dec) {
      Fixed f = roundFixed(d, dec);
      for (bool lead : {true, false}) {
        std::string t = plainText(d, f, group, lead);
        if (withDollar) {
          size_t at = (t.size() && t[0] == '-') ? 1 : 0;
          std::string u(t, 0, at);
          u += '$';
          u.append(t, at, std::string::npos);
          t = u;
        }
        if (fitRight(t, width, &out)) return true;
        if (f.intPart != "0" || f.frac.empty()) break;
      }
    }
    return false;
  };
  if (attempt(grouped, dollar)) return out;
  if (grouped && attempt(false, dollar)) return out;
  if (dollar && attempt(false, false)) return out;
  return formatBest(d, width);
}

std::string formatZero(const Decimal& d, int width, int decimals) {
  for (int dec = decimals; dec >= 0; --dec) {
    Fixed f = roundFixed(d, dec);
    bool neg = d.neg && !f.zero;
    std::string body = f.intPart;
    if (dec > 0) {
      body += '.';
      body += f.frac;
    }
    int room = width - (neg ? 1 : 0);
    if (int(body.size()) <= room)
      return (neg ? "-" : "") + std::string(size_t(room) - body.size(), '0') + body;
  }
  return formatBest(d, width);
}

std::string formatPercent(Decimal d, int width, int decimals) {
  if (!d.zero()) d.point += 2;  // times 100, exactly
  std::string out;
  for (int dec = decimals; dec >= 0; --dec) {
    Fixed f = roundFixed(d, dec);
    std::string t = f.intPart;
    if (dec > 0) {
      t += '.';
      t += f.frac;
    }
    t += "%";
    if (d.neg && !f.zero) t = "(" + t + ")";
    if (fitRight(t, width, &out)) return out;
  }
  return stars(width);
}

// Ew.d: a blank or "-", one digit, the point and decimals, then "E+nn".
std::string formatSci(const Decimal& d, int width, int decimals) {
  int dec = decimals > 0 ? std::min(decimals, width - 7) : width - 7;
  for (; dec >= 0; --dec) {
    std::string mant;
    int exp = 0;
    if (d.zero()) {
      mant = std::string(size_t(dec) + 1, '0');
    } else {
      roundMantissa(d, dec + 1, &mant, &exp);
    }
    std::string t = (d.neg && !d.zero()) ? "-" : " ";
    t += mant.substr(0, 1);
    if (dec > 0) {
      t += '.';
      t += mant.substr(1);
    }
    char e[16];
    std::snprintf(e, sizeof e, "E%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
    t += e;
    std::string out;
    if (fitRight(t, width, &out)) return out;
  }
  return stars(width);
}

// ---------------------------------------------------------------------------
// Calendar.

constexpr const char* kMonthAbbr[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr const char* kMonthName[] = {"January", "February", "March", "April",
                                      "May", "June", "July", "August",
                                      "September", "October", "November", "December"};
constexpr const char* kDayName[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                                    "Thursday", "Friday", "Saturday"};

bool leapYear(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int64_t y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leapYear(y) ? 29 : kDays[m - 1];
}

// Dates shown by the formats: years 1 to 9999.
const int64_t kFirstDay = daysFromCivil(1, 1, 1);
const int64_t kLastDay = daysFromCivil(9999, 12, 31);

struct Civil {
  int64_t year;
  int month, day;
  int weekday;  // 0 = Sunday
};

// The calendar day holding `days` (fractions belong to their day); false
// when it is out of the years shown.
bool toCivil(double days, Civil* c) {
  if (!std::isfinite(days)) return false;
  double fl = std::floor(days);
  if (fl < double(kFirstDay) || fl > double(kLastDay)) return false;
  int64_t n = int64_t(fl);
  civilFromDays(n, &c->year, &c->month, &c->day);
  c->weekday = int(((n + 5) % 7 + 7) % 7);  // 1 January 1960 was a Friday
  return true;
}

std::string two(int64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "%02lld", static_cast<long long>(v % 100));
  return b;
}

std::string four(int64_t v) {
  char b[24];
  std::snprintf(b, sizeof b, "%04lld", static_cast<long long>(v));
  return b;
}

std::string num(int64_t v) { return std::to_string(v); }

std::string rightOrStars(const std::string& s, int width) {
  std::string out;
  return fitRight(s, width, &out) ? out : stars(width);
}

// The first candidate that fits, right-justified.
std::string firstFit(std::initializer_list<std::string> candidates, int width) {
  std::string out;
  for (const std::string& c : candidates)
    if (!c.empty() && fitRight(c, width, &out)) return out;
  return stars(width);
}

std::string dayMonthYear(Kind kind, const Civil& c, int width) {
  const char sep = kind == Kind::Yymmdd ? '-' : '/';
  std::string dd = two(c.day), mm = two(c.month), yy = two(c.year);
  std::string a, b;  // first two components in the format's order
  switch (kind) {
    case Kind::Ddmmyy: a = dd; b = mm; break;
    case Kind::Mmddyy: a = mm; b = dd; break;
    default: a = yy; b = mm; break;
  }
  std::string s;
  if (width <= 3) {
    s = a;
  } else if (width == 4) {
    s = a + b;
  } else if (width == 5) {
    s = a + sep + b;
  } else if (width <= 7) {
    s = kind == Kind::Yymmdd ? yy + mm + dd : a + b + yy;
  } else if (width <= 9) {
    s = kind == Kind::Yymmdd ? yy + sep + mm + sep + dd : a + sep + b + sep + yy;
  } else {
    std::string y4 = four(c.year);
    s = kind == Kind::Yymmdd ? y4 + sep + mm + sep + dd : a + sep + b + sep + y4;
  }
  return rightOrStars(s, width);
}

std::string formatDate(Kind kind, double v, int width) {
  Civil c;
  double days = kind == Kind::Dtdate ? v / 86400.0 : v;
  if (!toCivil(days, &c)) return stars(width);
  const std::string mon = kMonthAbbr[c.month - 1];
  const std::string month = kMonthName[c.month - 1];
  const std::string wday = kDayName[c.weekday];
  const std::string dd = two(c.day);
  switch (kind) {
    case Kind::Date:
    case Kind::Dtdate:
      if (width >= 11) return rightOrStars(dd + "-" + mon + "-" + four(c.year), width);
      if (width >= 9) return rightOrStars(dd + mon + four(c.year), width);
      if (width >= 7) return rightOrStars(dd + mon + two(c.year), width);
      return rightOrStars(dd + mon, width);
    case Kind::Ddmmyy:
    case Kind::Mmddyy:
    case Kind::Yymmdd:
      return dayMonthYear(kind, c, width);
    case Kind::Monyy:
      return rightOrStars(mon + (width >= 7 ? four(c.year) : two(c.year)), width);
    case Kind::Year:
      return rightOrStars(width >= 4 ? num(c.year) : two(c.year), width);
    case Kind::Monname:
      return rightOrStars(month.substr(0, size_t(width)), width);
    case Kind::Downame:
      return rightOrStars(wday.substr(0, size_t(width)), width);
    case Kind::Weekdate: {
      std::string d = num(c.day), y = num(c.year);
      return firstFit({wday + ", " + month + " " + d + ", " + y,
                       wday + ", " + month.substr(0, 3) + " " + d + ", " + y,
                       wday.substr(0, 3) + ", " + month.substr(0, 3) + " " + d + ", " + y,
                       wday.substr(0, 3) + ", " + month.substr(0, 3) + " " + d + ", " + two(c.year),
                       wday, wday.substr(0, 3)},
                      width);
    }
    case Kind::Worddate: {
      std::string d = num(c.day), y = num(c.year);
      return firstFit({month + " " + d + ", " + y, month.substr(0, 3) + " " + d + ", " + y,
                       month, month.substr(0, 3)},
                      width);
    }
    case Kind::Day: return rightOrStars(num(c.day), width);
    case Kind::Month: return rightOrStars(num(c.month), width);
    case Kind::Qtr: return rightOrStars(num((c.month - 1) / 3 + 1), width);
    case Kind::Weekday: return rightOrStars(num(c.weekday + 1), width);
    case Kind::Yyq:
      return rightOrStars((width >= 6 ? four(c.year) : two(c.year)) + "Q" +
                              num((c.month - 1) / 3 + 1),
                          width);
    default:
      return stars(width);
  }
}

// Seconds rounded half away from zero to `decimals` places, as a count of
// 10^-decimals units; false when too large to show.
bool timeUnits(double secs, int decimals, int64_t* units) {
  double scaled = std::fabs(secs) * std::pow(10.0, decimals);
  if (!std::isfinite(scaled) || scaled >= 9e15) return false;
  Fixed f = roundFixed(toDecimal(std::fabs(secs)), decimals);
  int64_t v = 0;
  std::from_chars(f.intPart.data(), f.intPart.data() + f.intPart.size(), v);
  for (char ch : f.frac) v = v * 10 + (ch - '0');
  *units = v;
  return true;
}

int64_t pow10i(int d) {
  int64_t p = 1;
  while (d-- > 0) p *= 10;
  return p;
}

// "hh:mm:ss.fff" parts of a count of units.
struct Clock {
  int64_t hours;
  int minutes, seconds;
  std::string frac;  // decimals digits
};

Clock toClock(int64_t units, int decimals) {
  int64_t scale = pow10i(decimals);
  int64_t whole = units / scale;
  Clock c;
  c.hours = whole / 3600;
  c.minutes = int(whole / 60 % 60);
  c.seconds = int(whole % 60);
  if (decimals > 0) {
    std::string f = std::to_string(units % scale);
    c.frac = std::string(size_t(decimals) - f.size(), '0') + f;
  }
  return c;
}

std::string formatTime(Kind kind, double v, int width, int decimals) {
  if (kind == Kind::Tod && std::isfinite(v)) {
    v = std::fmod(v, 86400.0);
    if (v < 0) v += 86400.0;
  }
  decimals = std::min(decimals, 9);
  if (kind == Kind::Hhmm) {
    // Hours and minutes, the minutes rounded to the nearest.
    int64_t mins;
    if (!timeUnits(v / 60.0, 0, &mins)) return stars(width);
    std::string s = (v < 0 && mins > 0 ? "-" : "") + num(mins / 60) + ":" + two(mins % 60);
    return rightOrStars(s, width);
  }
  int64_t units;
  if (!timeUnits(v, decimals, &units)) return stars(width);
  Clock c = toClock(units, decimals);
  // The sign goes only on a text that shows more than zero: a shorter form
  // may drop the digits that made the value non-zero.
  auto sign = [&](std::string t) {
    return v < 0 && t.find_first_of("123456789") != std::string::npos ? "-" + t : t;
  };
  std::string h = kind == Kind::Tod ? two(c.hours) : num(c.hours);
  std::string hm = h + ":" + two(c.minutes);
  std::string hms = hm + ":" + two(c.seconds);
  return firstFit({decimals > 0 ? sign(hms + "." + c.frac) : std::string(), sign(hms),
                   sign(hm), sign(h)},
                  width);
}

std::string formatDateTime(double v, int width, int decimals) {
  decimals = std::min(decimals, 9);
  if (!std::isfinite(v) || std::fabs(v) > 1e15) return stars(width);
  // Round to the shown precision first: the carry may reach the next day.
  double secs = std::fmod(v, 86400.0);
  if (secs < 0) secs += 86400.0;
  double day = std::round((v - secs) / 86400.0);
  int64_t units;
  if (!timeUnits(secs, decimals, &units)) return stars(width);
  int64_t perDay = 86400 * pow10i(decimals);
  if (units >= perDay) {
    units -= perDay;
    day += 1;
  }
  Civil c;
  if (!toCivil(day, &c)) return stars(width);
  Clock k = toClock(units, decimals);
  std::string d2 = two(c.day) + kMonthAbbr[c.month - 1] + two(c.year);
  std::string d4 = two(c.day) + kMonthAbbr[c.month - 1] + four(c.year);
  std::string hm = ":" + two(k.hours) + ":" + two(k.minutes);
  std::string hms = hm + ":" + two(k.seconds);
  std::string frac = decimals > 0 ? "." + k.frac : "";
  return firstFit({frac.empty() ? "" : d4 + hms + frac, d4 + hms,
                   frac.empty() ? "" : d2 + hms + frac, d2 + hms, d2 + hm,
                   d2 + ":" + two(k.hours), d2},
                  width);
}

int clampInt(int v, int lo, int hi) { return v < lo ? lo : (v > hi ? hi : v); }

}  // namespace

// ---------------------------------------------------------------------------
// Calendar arithmetic (days since 1 January 1960).

int64_t daysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 3653;  // 1960-01-01 is day -3653 of 1970
}

void civilFromDays(int64_t z, int64_t* year, int* month, int* day) {
  z += 719468 - 3653;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int d = int(doy - (153 * mp + 2) / 5 + 1);
  const int m = int(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (m <= 2);
  *month = m;
  *day = d;
}

// ---------------------------------------------------------------------------
// Names.

bool parseFormatName(std::string_view text, std::string* name, int* width,
                     int* decimals, bool* hasWidth, bool* hasDecimals) {
  std::string_view s = trim(text);
  size_t i = 0;
  std::string n;
  if (i < s.size() && s[i] == '$') n += s[i++];
  size_t idStart = i;
  while (i < s.size() && isNameChar(s[i])) ++i;
  // Trailing digits of the word are the width.
  size_t nameEnd = i;
  while (nameEnd > idStart && isDigit(s[nameEnd - 1])) --nameEnd;
  // A word that starts with a digit is all width ("8.2"); a name never
  // starts with one.
  if (nameEnd > idStart && isDigit(s[idStart])) return false;
  for (size_t k = idStart; k < nameEnd; ++k) n += upperAscii(s[k]);
  if (n.size() > 32) return false;

  int64_t w = 0, d = 0;
  bool hw = false, hd = false;
  if (nameEnd < i) {
    size_t k = nameEnd;
    if (!readInt(s.substr(0, i), &k, 5, &w) || w < 1 || w > kMaxCharWidth) return false;
    hw = true;
  }
  bool dot = false;
  if (i < s.size() && s[i] == '.') {
    dot = true;
    ++i;
    if (i < s.size() && isDigit(s[i])) {
      if (!readInt(s, &i, 2, &d) || d > 31) return false;
      hd = true;
    }
  }
  if (i != s.size()) return false;
  if (n.empty() && !hw) return false;       // "", ".", ".2"
  if (n.empty() && !dot) return false;      // a bare integer is no format
  if (!n.empty() && n[0] == '$' && hd) return false;  // "$CHAR10.2"
  *name = n;
  *width = int(w);
  *decimals = int(d);
  *hasWidth = hw;
  *hasDecimals = hd;
  return true;
}

bool resolveFormat(std::string_view text, host::FormatDesc* out) {
  std::string n;
  int w, d;
  bool hw, hd;
  if (!parseFormatName(text, &n, &w, &d, &hw, &hd)) return false;
  const FormatInfo* s = findFormat(n);
  if (!s) return false;
  out->name = s->name;
  out->character = s->character;
  out->defaultWidth = s->defaultWidth;
  out->defaultDecimals = s->defaultDecimals;
  out->minWidth = s->minWidth;
  out->maxWidth = s->maxWidth;
  return true;
}

bool resolveFormatText(std::string_view text, host::FormatDesc* out, int* width,
                       int* decimals) {
  std::string n;
  int w, d;
  bool hw, hd;
  host::FormatDesc f;
  if (!parseFormatName(text, &n, &w, &d, &hw, &hd) || !resolveFormat(text, &f))
    return false;
  if (hw && (w < f.minWidth || w > f.maxWidth)) return false;
  if (hd && hw && d >= w && !f.character) return false;
  *out = f;
  *width = w;
  *decimals = d;
  return true;
}

// ---------------------------------------------------------------------------
// Values.

std::string plainNumberText(double v) {
  if (std::isnan(v)) return {};
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string formatNumber(const host::FormatDesc& f, int width, int decimals, double v,
                         char missingChar) {
  // An unknown or character format shows the number as BEST does.
  const FormatInfo* s = findFormat(f.name);
  if (s && s->character) s = nullptr;
  const Kind kind = s ? s->kind : Kind::Best;
  const int lo = s ? s->minWidth : 1, hi = s ? s->maxWidth : 32;
  if (width <= 0) width = s ? s->defaultWidth : 12;
  width = clampInt(width, lo, hi);
  if (decimals <= 0) decimals = s ? s->defaultDecimals : 0;
  decimals = clampInt(decimals, 0, std::min(31, width - 1));

  if (std::isnan(v)) {
    std::string out(size_t(width), ' ');
    out.back() = missingChar ? missingChar : '.';
    return out;
  }
  switch (kind) {
    case Kind::Datetime:
      return formatDateTime(v, width, decimals);
    case Kind::Time:
    case Kind::Tod:
    case Kind::Hhmm:
      return formatTime(kind, v, width, decimals);
    case Kind::Date: case Kind::Ddmmyy: case Kind::Mmddyy: case Kind::Yymmdd:
    case Kind::Monyy: case Kind::Year: case Kind::Monname: case Kind::Weekdate:
    case Kind::Worddate: case Kind::Day: case Kind::Month: case Kind::Qtr:
    case Kind::Weekday: case Kind::Downame: case Kind::Yyq: case Kind::Dtdate:
      return formatDate(kind, v, width);
    default:
      break;
  }
  if (!std::isfinite(v)) return stars(width);
  const Decimal d = toDecimal(v);
  switch (kind) {
    case Kind::Fixed:
    case Kind::Comma:
    case Kind::Dollar:
      return formatDecimal(kind, d, width, decimals);
    case Kind::Percent:
      return formatPercent(d, width, decimals);
    case Kind::Sci:
      return formatSci(d, width, decimals);
    case Kind::Zero:
      return formatZero(d, width, decimals);
    default:
      return formatBest(d, width);
  }
}

std::string formatChar(const host::FormatDesc& f, int width, std::string_view v) {
  if (width <= 0) width = f.character ? f.defaultWidth : 0;
  if (width <= 0) return std::string(v);
  width = std::min(width, kMaxCharWidth);
  size_t w = size_t(width);
  size_t cut = std::min(v.size(), w);
  if (cut < v.size())
    while (cut > 0 && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80) --cut;
  std::string out(v.substr(0, cut));
  out.append(w - cut, ' ');
  return out;
}

// ---------------------------------------------------------------------------
// Literals.

namespace {

// "ddMMMyy" or "ddMMMyyyy" at s[*i]; the day number on success.
bool readDate(std::string_view s, size_t* i, int64_t* days) {
  int64_t day, year;
  if (!readInt(s, i, 2, &day)) return false;
  if (*i + 3 > s.size()) return false;
  char mon[4] = {upperAscii(s[*i]), upperAscii(s[*i + 1]), upperAscii(s[*i + 2]), 0};
  int month = 0;
  for (int m = 0; m < 12; ++m)
    if (std::strcmp(mon, kMonthAbbr[m]) == 0) month = m + 1;
  if (month == 0) return false;
  *i += 3;
  size_t start = *i;
  if (!readInt(s, i, 4, &year)) return false;
  size_t len = *i - start;
  if (len == 2) {
    year = year < 20 ? 2000 + year : 1900 + year;
  } else if (len != 4 || year < 1) {
    return false;
  }
  if (day < 1 || day > daysInMonth(year, month)) return false;
  *days = daysFromCivil(year, month, int(day));
  return true;
}

// "h:mm", "h:mm:ss", "h:mm:ss.fff", each optionally followed by AM or PM.
bool readTime(std::string_view s, size_t* i, double* seconds) {
  int64_t h, m, sec = 0;
  double frac = 0;
  if (!readInt(s, i, 9, &h)) return false;
  if (*i >= s.size() || s[*i] != ':') return false;
  ++*i;
  if (!readInt(s, i, 2, &m) || m > 59) return false;
  if (*i < s.size() && s[*i] == ':') {
    ++*i;
    if (!readInt(s, i, 2, &sec) || sec > 59) return false;
    if (*i < s.size() && s[*i] == '.') {
      size_t start = *i;
      ++*i;
      while (*i < s.size() && isDigit(s[*i])) ++*i;
      // "0.fff" read without regard to the locale.
      std::string f = "0" + std::string(s.substr(start, *i - start));
      std::from_chars(f.data(), f.data() + f.size(), frac);
    }
  }
  size_t k = *i;
  while (k < s.size() && s[k] == ' ') ++k;
  if (k + 2 <= s.size() && upperAscii(s[k + 1]) == 'M' &&
      (upperAscii(s[k]) == 'A' || upperAscii(s[k]) == 'P')) {
    if (h < 1 || h > 12) return false;
    bool pm = upperAscii(s[k]) == 'P';
    h = h % 12 + (pm ? 12 : 0);
    *i = k + 2;
  }
  *seconds = double(h) * 3600.0 + double(m) * 60.0 + double(sec) + frac;
  return true;
}

}  // namespace

bool parseDateLiteral(std::string_view text, double* days) {
  std::string_view s = trim(text);
  size_t i = 0;
  int64_t d;
  if (!readDate(s, &i, &d) || i != s.size()) return false;
  *days = double(d);
  return true;
}

bool parseTimeLiteral(std::string_view text, double* seconds) {
  std::string_view s = trim(text);
  size_t i = 0;
  double t;
  if (!readTime(s, &i, &t) || i != s.size()) return false;
  *seconds = t;
  return true;
}

bool parseDateTimeLiteral(std::string_view text, double* seconds) {
  std::string_view s = trim(text);
  size_t i = 0;
  int64_t d;
  double t;
  if (!readDate(s, &i, &d)) return false;
  if (i >= s.size() || (s[i] != ':' && s[i] != ' ')) return false;
  ++i;
  while (i < s.size() && s[i] == ' ') ++i;
  if (!readTime(s, &i, &t) || i != s.size()) return false;
  *seconds = double(d) * 86400.0 + t;
  return true;
}

}  // namespace qv::rt
