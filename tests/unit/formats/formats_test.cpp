#include "runtime/formats/formats.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <tuple>

namespace qv::rt {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

host::FormatDesc fmt(const char* name) {
  host::FormatDesc f;
  EXPECT_TRUE(resolveFormat(name, &f)) << name;
  return f;
}

struct NumCase {
  const char* format;
  int width, decimals;
  double value;
  const char* expected;
};

void runCases(const NumCase* begin, const NumCase* end) {
  for (const NumCase* c = begin; c != end; ++c) {
    EXPECT_EQ(formatNumber(fmt(c->format), c->width, c->decimals, c->value), c->expected)
        << c->format << c->width << "." << c->decimals << " of " << c->value;
  }
}

double date(int y, int m, int d) { return double(daysFromCivil(y, m, d)); }

TEST(FormatNames, SplitsNameWidthAndDecimals) {
  struct Case {
    const char* text;
    const char* name;
    int width, decimals;
    bool hasWidth, hasDecimals;
  } cases[] = {
      {"DOLLAR8.2", "DOLLAR", 8, 2, true, true}, {"best6.", "BEST", 6, 0, true, false},
      {"$CHAR10.", "$CHAR", 10, 0, true, false}, {"DATE9.", "DATE", 9, 0, true, false},
      {"8.2", "", 8, 2, true, true},             {"F8.2", "F", 8, 2, true, true},
      {"BEST.", "BEST", 0, 0, false, false},     {"$10.", "$", 10, 0, true, false},
      {"$.", "$", 0, 0, false, false},           {"$", "$", 0, 0, false, false},
      {"date9", "DATE", 9, 0, true, false},      {" comma10. ", "COMMA", 10, 0, true, false},
      {"DOLLAR.2", "DOLLAR", 0, 2, false, true}, {"E8601DA10.", "E8601DA", 10, 0, true, false},
      {"12.", "", 12, 0, true, false},
  };
  for (const Case& c : cases) {
    std::string name = "?";
    int w = -1, d = -1;
    bool hw = false, hd = false;
    ASSERT_TRUE(parseFormatName(c.text, &name, &w, &d, &hw, &hd)) << c.text;
    EXPECT_EQ(name, c.name) << c.text;
    EXPECT_EQ(w, c.width) << c.text;
    EXPECT_EQ(d, c.decimals) << c.text;
    EXPECT_EQ(hw, c.hasWidth) << c.text;
    EXPECT_EQ(hd, c.hasDecimals) << c.text;
  }
  for (const char* bad : {"", ".", ".2", "8", "9A.", "BEST6.2.", "DATE 9.", "$CHAR10.2",
                          "BEST0.", "BEST123456.", "F8.123", "A-B.", "8.2x",
                          "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJ."}) {
    std::string name = "unchanged";
    int w = 0, d = 0;
    bool hw = false, hd = false;
    EXPECT_FALSE(parseFormatName(bad, &name, &w, &d, &hw, &hd)) << "'" << bad << "'";
    EXPECT_EQ(name, "unchanged") << bad;
  }
}

TEST(FormatNames, ResolvesKnownNamesOnly) {
  host::FormatDesc f;
  for (auto [text, name, character] : {std::tuple{"dollar8.2", "DOLLAR", false}, {"8.2", "F", false},
                                       {"$", "$", true}, {"$char20.", "$CHAR", true}}) {
    ASSERT_TRUE(resolveFormat(text, &f)) << text;
    EXPECT_EQ(f.name, name);
    EXPECT_EQ(f.character, character) << text;
  }
  for (const char* bad : {"NOSUCH8.", "", "CHAR10.", "$NOSUCH.", "DOLLARS", "BEST6.2.1"})
    EXPECT_FALSE(resolveFormat(bad, &f)) << bad;

  int w = -1, d = -1;
  ASSERT_TRUE(resolveFormatText("percent8.1", &f, &w, &d));
  EXPECT_EQ(f.name, "PERCENT");
  EXPECT_EQ(w, 8);
  EXPECT_EQ(d, 1);
  EXPECT_FALSE(resolveFormatText("DATE20.", &f, &w, &d));  // wider than the format allows
  EXPECT_FALSE(resolveFormatText("BEST40.", &f, &w, &d));
  EXPECT_FALSE(resolveFormatText("8.8", &f, &w, &d));      // no room for a digit
}

TEST(NumericFormats, StandardAndBest) {
  const NumCase cases[] = {
      // w.d rounds half away from zero on the written value.
      {"F", 5, 0, 2.5, "    3"},
      {"F", 5, 0, -2.5, "   -3"},
      {"F", 6, 2, 1.005, "  1.01"},
      {"F", 6, 2, 0.125, "  0.13"},
      {"F", 6, 2, -0.004, "  0.00"},  // no "-0.00"
      {"F", 8, 2, 1234.567, " 1234.57"},
      {"F", 3, 2, 0.5, ".50"},         // the leading zero goes first
      {"F", 4, 2, 12.345, "12.3"},     // then decimals
      {"F", 4, 2, 1234.5, "1235"},
      {"F", 4, 0, 123456, " 1E5"},      // then E notation
      {"F", 2, 0, -123456, "**"},      // finally stars
      {"F", 0, 0, 42, "          42"}, // default width 12
      {"BEST", 12, 0, 1234.5678, "   1234.5678"},
      {"BEST", 6, 0, 1234.5678, "1234.6"},
      {"BEST", 3, 0, 1234.5678, "1E3"},
      {"BEST", 12, 0, 1.0 / 3, "0.3333333333"},
      {"BEST", 12, 0, 0.1 + 0.2, "         0.3"},
      {"BEST", 12, 0, -42, "         -42"},
      {"BEST", 12, 0, 0, "           0"},
      {"BEST", 12, 0, -0.0, "           0"},
      {"BEST", 12, 0, 1e20, "        1E20"},
      {"BEST", 12, 0, 123456789012345678.0, "1.2345679E17"},
      {"BEST", 12, 0, 1e-10, "       1E-10"},
      {"BEST", 8, 0, 0.000123456789, "1.235E-4"},
      {"BEST", 4, 0, 0.123456, "0.12"},
      {"BEST", 3, 0, 0.0123, ".01"},
      {"BEST", 12, 0, 1.5e-7, "      1.5E-7"},
      {"BEST", 32, 0, 1e15, "                1000000000000000"},
      {"BEST", 3, 0, 1e-10, "  0"},
      {"BEST", 2, 0, 1e300, "**"},
      {"BEST", 12, 0, std::numeric_limits<double>::infinity(), "************"},
  };
  runCases(std::begin(cases), std::end(cases));
}

TEST(NumericFormats, SeparatorsCurrencyPercentScientificZeros) {
  const NumCase cases[] = {
      {"COMMA", 10, 0, 1234567, " 1,234,567"},
      {"COMMA", 12, 2, 1234567.891, "1,234,567.89"},
      {"COMMA", 10, 2, 1234567.891, " 1,234,568"},  // decimals dropped to fit
      {"COMMA", 7, 0, 1234567, "1234567"},          // separators dropped to fit
      {"COMMA", 6, 0, -1234, "-1,234"},
      {"DOLLAR", 8, 0, 1234, "  $1,234"},
      {"DOLLAR", 8, 0, -1234, " -$1,234"},
      {"DOLLAR", 10, 2, 1234.5, " $1,234.50"},
      {"DOLLAR", 10, 2, -0.001, "     $0.00"},
      {"DOLLAR", 5, 0, 1234, "$1234"},
      {"DOLLAR", 4, 0, 1234, "1234"},
      {"PERCENT", 5, 0, 0.123, "  12%"},
      {"PERCENT", 5, 0, -0.123, "(12%)"},
      {"PERCENT", 8, 1, 0.1234, "   12.3%"},
      {"PERCENT", 6, 0, 0.125, "   13%"},
      {"PERCENT", 4, 1, 12.5, "****"},
      {"E", 10, 0, 1234.5, " 1.235E+03"},
      {"E", 12, 0, 1234.5, " 1.23450E+03"},
      {"E", 10, 0, -0.00012345, "-1.235E-04"},
      {"E", 10, 0, 0, " 0.000E+00"},
      {"E", 10, 0, 9.9996, " 1.000E+01"},
      {"E", 10, 0, 1e123, " 1.00E+123"},
      {"Z", 5, 0, 12, "00012"},
      {"Z", 5, 0, -12, "-0012"},
      {"Z", 6, 2, 1.5, "001.50"},
      {"Z", 3, 0, 12345, "1E4"},
  };
  runCases(std::begin(cases), std::end(cases));
}

TEST(NumericFormats, MissingValuesAndOutOfRangeWidths) {
  EXPECT_EQ(formatNumber(fmt("BEST"), 6, 0, kNaN), "     .");
  EXPECT_EQ(formatNumber(fmt("DOLLAR"), 8, 2, kNaN), "       .");
  EXPECT_EQ(formatNumber(fmt("DATE"), 9, 0, kNaN), "        .");
  EXPECT_EQ(formatNumber(fmt("TIME"), 0, 0, kNaN, '-'), "       -");
  EXPECT_EQ(formatNumber(fmt("BEST"), 4, 0, kNaN, ' '), "    ");
  // Widths are brought into the format's range, never past it.
  EXPECT_EQ(formatNumber(fmt("BEST"), 100, 0, 1).size(), 32u);
  EXPECT_EQ(formatNumber(fmt("PERCENT"), 1, 0, 0.5), " 50%");
  EXPECT_EQ(formatNumber(fmt("F"), -3, -1, 7), "           7");
  EXPECT_EQ(formatNumber(fmt("F"), 4, 20, 1), "1.00");
  // A character format shows a number as BEST does; an unknown one too.
  EXPECT_EQ(formatNumber(fmt("$"), 0, 0, 2.5), "         2.5");
  host::FormatDesc unknown;
  unknown.name = "NOSUCH";
  EXPECT_EQ(formatNumber(unknown, 4, 0, 12), "  12");
  // Descriptions made by hand: any case, "" for the standard numeric format.
  host::FormatDesc byHand;
  byHand.name = "dollar";
  EXPECT_EQ(formatNumber(byHand, 8, 0, 1234), "  $1,234");
  byHand.name = "";
  EXPECT_EQ(formatNumber(byHand, 6, 2, 1.5), "  1.50");
}

TEST(CharacterFormats, CutOrPad) {
  EXPECT_EQ(formatChar(fmt("$"), 5, "ab"), "ab   ");
  EXPECT_EQ(formatChar(fmt("$CHAR"), 3, "abcdef"), "abc");
  EXPECT_EQ(formatChar(fmt("$CHAR"), 4, "  x"), "  x ");
  EXPECT_EQ(formatChar(fmt("$"), 0, "as it is "), "as it is ");
  EXPECT_EQ(formatChar(fmt("$"), 3, ""), "   ");
  // A cut never splits a UTF-8 character: "é" is two bytes.
  EXPECT_EQ(formatChar(fmt("$"), 2, "a\xC3\xA9z"), "a ");
  EXPECT_EQ(formatChar(fmt("$"), 3, "a\xC3\xA9z"), "a\xC3\xA9");
}

TEST(Calendar, DayNumbersRoundTrip) {
  EXPECT_EQ(daysFromCivil(1960, 1, 1), 0);
  EXPECT_EQ(daysFromCivil(1959, 12, 31), -1);
  EXPECT_EQ(daysFromCivil(1970, 1, 1), 3653);
  EXPECT_EQ(daysFromCivil(2020, 1, 1), 21915);
  EXPECT_EQ(daysFromCivil(2000, 3, 1) - daysFromCivil(2000, 2, 28), 2);  // 2000 is leap
  EXPECT_EQ(daysFromCivil(1900, 3, 1) - daysFromCivil(1900, 2, 28), 1);  // 1900 is not
  for (int64_t n = -800000; n <= 800000; n += 997) {
    int64_t y;
    int m, d;
    civilFromDays(n, &y, &m, &d);
    ASSERT_EQ(daysFromCivil(y, m, d), n) << n;
  }
}

TEST(DateFormats, Shapes) {
  const double d2020 = date(2020, 12, 31);
  const NumCase cases[] = {
      {"DATE", 9, 0, 0, "01JAN1960"},
      {"DATE", 9, 0, -1, "31DEC1959"},
      {"DATE", 9, 0, 0.99, "01JAN1960"},
      {"DATE", 9, 0, -0.5, "31DEC1959"},
      {"DATE", 9, 0, date(2020, 1, 1), "01JAN2020"},
      {"DATE", 7, 0, date(2020, 1, 1), "01JAN20"},
      {"DATE", 11, 0, date(2020, 1, 1), "01-JAN-2020"},
      {"DATE", 5, 0, date(2020, 1, 1), "01JAN"},
      {"DATE", 10, 0, date(2000, 2, 29), " 29FEB2000"},
      {"DATE", 9, 0, date(1582, 10, 4), "04OCT1582"},
      {"DATE", 9, 0, 1e12, "*********"},
      {"DDMMYY", 10, 0, d2020, "31/12/2020"},
      {"DDMMYY", 8, 0, d2020, "31/12/20"},
      {"DDMMYY", 6, 0, d2020, "311220"},
      {"DDMMYY", 5, 0, d2020, "31/12"},
      {"MMDDYY", 10, 0, d2020, "12/31/2020"},
      {"MMDDYY", 8, 0, d2020, "12/31/20"},
      {"YYMMDD", 10, 0, d2020, "2020-12-31"},
      {"YYMMDD", 8, 0, d2020, "20-12-31"},
      {"YYMMDD", 6, 0, d2020, "201231"},
      {"MONYY", 7, 0, d2020, "DEC2020"},
      {"MONYY", 5, 0, d2020, "DEC20"},
      {"YEAR", 4, 0, d2020, "2020"},
      {"YEAR", 2, 0, d2020, "20"},
      {"YEAR", 6, 0, date(1850, 6, 1), "  1850"},
      {"MONNAME", 9, 0, date(2020, 1, 15), "  January"},
      {"MONNAME", 3, 0, date(2020, 9, 15), "Sep"},
      {"WEEKDATE", 29, 0, date(2020, 1, 1), "   Wednesday, January 1, 2020"},
      {"WEEKDATE", 17, 0, date(2020, 1, 1), " Wed, Jan 1, 2020"},
      {"WEEKDATE", 15, 0, date(2020, 1, 1), " Wed, Jan 1, 20"},
      {"WEEKDATE", 9, 0, date(2020, 1, 1), "Wednesday"},
      {"WEEKDATE", 3, 0, date(2020, 1, 1), "Wed"},
      {"WEEKDATE", 29, 0, 0, "      Friday, January 1, 1960"},
      {"WEEKDATE", 29, 0, date(2000, 2, 29), "   Tuesday, February 29, 2000"},
      {"WORDDATE", 18, 0, date(2020, 1, 1), "   January 1, 2020"},
      {"DOWNAME", 9, 0, date(2020, 1, 5), "   Sunday"},
      {"WEEKDAY", 1, 0, date(2020, 1, 5), "1"},
      {"QTR", 1, 0, date(2020, 8, 5), "3"},
      {"YYQ", 6, 0, date(2020, 8, 5), "2020Q3"},
      {"DAY", 2, 0, date(2020, 8, 5), " 5"},
      {"MONTH", 2, 0, date(2020, 8, 5), " 8"},
  };
  runCases(std::begin(cases), std::end(cases));
}

TEST(DateFormats, TimesAndDatetimes) {
  const double noon30 = 12 * 3600 + 30 * 60;
  const double dt = date(2020, 1, 1) * 86400.0 + noon30;
  const NumCase cases[] = {
      {"TIME", 8, 0, noon30, "12:30:00"},
      {"TIME", 5, 0, noon30, "12:30"},
      {"TIME", 8, 0, 30 * 3600 + 5, "30:00:05"},  // hours past 24
      {"TIME", 8, 0, 100 * 3600, "  100:00"},
      {"TIME", 11, 2, noon30 + 15.257, "12:30:15.26"},
      {"TIME", 8, 0, noon30 + 59.5, "12:31:00"},
      {"TIME", 8, 0, -90, "-0:01:30"},
      {"TIME", 2, 0, noon30, "12"},
      {"TIME", 8, 0, 1e30, "********"},
      {"TOD", 8, 0, 9 * 3600 + 5 * 60 + 86400, "09:05:00"},
      {"HHMM", 5, 0, noon30 + 40, "12:31"},
      {"DATETIME", 16, 0, dt, "01JAN20:12:30:00"},
      {"DATETIME", 18, 0, dt, "01JAN2020:12:30:00"},
      {"DATETIME", 20, 0, dt, "  01JAN2020:12:30:00"},
      {"DATETIME", 13, 0, dt, "01JAN20:12:30"},
      {"DATETIME", 7, 0, dt, "01JAN20"},
      {"DATETIME", 21, 2, dt + 0.5, "01JAN2020:12:30:00.50"},
      {"DATETIME", 16, 0, 0, "01JAN60:00:00:00"},
      {"DATETIME", 16, 0, -1, "31DEC59:23:59:59"},
      {"DATETIME", 18, 0, date(2000, 2, 28) * 86400.0 + 86399.6, "29FEB2000:00:00:00"},
      {"DTDATE", 9, 0, dt, "01JAN2020"},
  };
  runCases(std::begin(cases), std::end(cases));
}

TEST(Literals, DatesTimesDatetimes) {
  double v = -1;
  struct DateCase {
    const char* text;
    double expected;
  } dates[] = {
      {"01jan2020", date(2020, 1, 1)}, {"1JAN2020", date(2020, 1, 1)},
      {"01jan20", date(1920, 1, 1)},   {"01jan19", date(2019, 1, 1)},
      {"15mar60", 74},                 {"31dec99", date(1999, 12, 31)},                 {"01jan1960", 0},
      {"31dec1959", -1},               {"29feb2000", date(2000, 2, 29)},
      {" 01Jan2020 ", date(2020, 1, 1)},
  };
  for (const DateCase& c : dates) {
    ASSERT_TRUE(parseDateLiteral(c.text, &v)) << c.text;
    EXPECT_EQ(v, c.expected) << c.text;
  }
  for (const char* bad : {"", "jan2020", "32jan2020", "29feb2019", "29feb1900", "01xyz2020",
                          "01jan202", "01jan20201", "001jan2020", "01jan2020x", "00jan2020",
                          "01jan0000"})
    EXPECT_FALSE(parseDateLiteral(bad, &v)) << bad;

  ASSERT_TRUE(parseTimeLiteral("12:30", &v));
  EXPECT_EQ(v, 45000);
  ASSERT_TRUE(parseTimeLiteral("12:30:15.5", &v));
  EXPECT_EQ(v, 45015.5);
  ASSERT_TRUE(parseTimeLiteral("30:00", &v));
  EXPECT_EQ(v, 108000);
  ASSERT_TRUE(parseTimeLiteral("9:05pm", &v));
  EXPECT_EQ(v, 21 * 3600 + 300);
  ASSERT_TRUE(parseTimeLiteral("12:00 AM", &v));
  EXPECT_EQ(v, 0);
  for (const char* bad : {"", "12", "12:", "12:60", "12:30:60", "12:3a", "13:00pm", ":30",
                          "12:30:15:10", "1e3:00"})
    EXPECT_FALSE(parseTimeLiteral(bad, &v)) << bad;

  ASSERT_TRUE(parseDateTimeLiteral("01jan2020:12:30", &v));
  EXPECT_EQ(v, date(2020, 1, 1) * 86400 + 45000);
  ASSERT_TRUE(parseDateTimeLiteral("31dec1959:23:59:59", &v));
  EXPECT_EQ(v, -1);
  for (const char* bad : {"01jan2020", "01jan2020:", "01jan2020:12", "31feb2020:00:00",
                          "01jan2020:12:30x"})
    EXPECT_FALSE(parseDateTimeLiteral(bad, &v)) << bad;
}

// Every numeric format fills exactly its field for any value, and the
// parsers answer any text without failing.
TEST(FormatInvariants, FieldWidthHoldsForAnyValue) {
  const char* names[] = {"F", "BEST", "COMMA", "DOLLAR", "PERCENT", "E", "Z", "DATE",
                         "DDMMYY", "MMDDYY", "YYMMDD", "MONYY", "YEAR", "MONNAME",
                         "WEEKDATE", "WORDDATE", "DAY", "MONTH", "QTR", "WEEKDAY", "DOWNAME",
                         "YYQ", "DTDATE", "DATETIME", "TIME", "TOD", "HHMM"};
  const double values[] = {0, -0.0, 1, -1, 0.5, -0.5, 1e-300, -1e-300, 5e-324, 1e300, -1e300,
                           123456789.987654321, -98765.4321, 86399.9999, 2.5e9, -2.5e11,
                           9007199254740993.0, std::numeric_limits<double>::infinity(),
                           -std::numeric_limits<double>::infinity(), kNaN};
  for (const char* name : names) {
    host::FormatDesc f = fmt(name);
    for (int w = 0; w <= 41; ++w) {
      int expected = w == 0 ? f.defaultWidth : std::min(std::max(w, f.minWidth), f.maxWidth);
      for (int d = 0; d <= 12; d += 3)
        for (double v : values)
          ASSERT_EQ(formatNumber(f, w, d, v).size(), size_t(expected))
              << name << w << "." << d << " of " << v;
    }
  }
}

TEST(FormatInvariants, NoNegativeZero) {
  // A value that shows as zero shows without a sign: never "-0", "-0.00",
  // "-$0.00" or "(0%)".
  const char* names[] = {"F", "BEST", "COMMA", "DOLLAR", "PERCENT", "E", "Z",
                         "TIME", "TOD", "HHMM", "DATETIME"};
  const double values[] = {-0.0, -1e-300, -5e-324, -1e-9, -0.0004, -0.004, -0.4};
  for (const char* name : names) {
    host::FormatDesc f = fmt(name);
    for (int w : {0, 3, 6, 8, 12})
      for (int d = 0; d <= 3; ++d)
        for (double v : values) {
          const std::string text = formatNumber(f, w, d, v);
          if (text.find_first_of("-(") == std::string::npos) continue;
          EXPECT_NE(text.find_first_of("123456789"), std::string::npos)
              << name << w << "." << d << " of " << v << ": \"" << text << '"';
        }
  }
}

TEST(FormatInvariants, ParsersRejectGarbage) {
  unsigned seed = 12345;
  auto next = [&] { return seed = seed * 1103515245u + 12345u; };
  const std::string alphabet = "0123456789.:$abcdejnmpABCDEFJ- \xC3\xA9\x80";
  for (int i = 0; i < 20000; ++i) {
    std::string s;
    int len = int(next() >> 16) % 14;
    for (int k = 0; k < len; ++k) s += alphabet[(next() >> 16) % alphabet.size()];
    std::string name;
    int w, d;
    bool hw, hd;
    double v;
    host::FormatDesc f;
    if (parseFormatName(s, &name, &w, &d, &hw, &hd)) {
      EXPECT_LE(name.size(), 32u);
      EXPECT_TRUE(w >= 0 && d >= 0 && d <= 31) << s;
    }
    resolveFormat(s, &f);
    if (parseDateLiteral(s, &v)) {
      EXPECT_EQ(v, std::floor(v)) << s;
    }
    parseTimeLiteral(s, &v);
    parseDateTimeLiteral(s, &v);
  }
}

}  // namespace
}  // namespace qv::rt
