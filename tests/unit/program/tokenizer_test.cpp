#include <gtest/gtest.h>


#include "runtime/program/statement.h"
#include "runtime/program/tokenizer.h"

using namespace qv;
using namespace qv::rt;

namespace {

std::vector<Token> lex(const std::string& text) {
  Tokenizer tz(text, "t.qv");
  std::vector<Token> out;
  for (Token t = tz.next(); t.kind != Tok::Eof; t = tz.next()) out.push_back(t);
  return out;
}

}  // namespace

TEST(Tokenizer, NamesNumbersAndFormats) {
  auto t = lex("abc lib.member DOLLAR8.2 BEST6. best. $CHAR10. $10. 42 1.5 .5 1e5 2.5E-3 1e-3 . x");
  std::vector<Tok> kinds = {Tok::Name,   Tok::Compound, Tok::Format, Tok::Format, Tok::Format,
                            Tok::Format, Tok::Format,   Tok::Int,    Tok::Number, Tok::Number,
                            Tok::Number, Tok::Number,   Tok::Number, Tok::Missing, Tok::Name};
  ASSERT_EQ(t.size(), kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(t[i].kind, kinds[i]) << i << " " << t[i].text;
  EXPECT_EQ(t[1].text, "lib.member");
  EXPECT_EQ(t[2].text, "DOLLAR8.2");
  EXPECT_EQ(t[4].text, "best.");
  EXPECT_EQ(t[5].text, "$CHAR10.");
  EXPECT_EQ(t[6].text, "$10.");
  EXPECT_EQ(t[7].num, 42);
  EXPECT_DOUBLE_EQ(t[9].num, 0.5);
  EXPECT_DOUBLE_EQ(t[11].num, 2.5e-3);
  EXPECT_DOUBLE_EQ(t[12].num, 1e-3);
  // Blanks around the point break a two-level name; "$" alone is punctuation.
  auto u = lex("lib .member $ x best.;");
  ASSERT_EQ(u.size(), 7u);
  EXPECT_EQ(u[0].kind, Tok::Name);
  EXPECT_EQ(u[1].kind, Tok::Missing);
  EXPECT_EQ(u[2].kind, Tok::Name);
  EXPECT_EQ(u[3].kind, Tok::Dollar);
  EXPECT_EQ(u[5].kind, Tok::Format);
  EXPECT_EQ(u[5].text, "best.");
}

TEST(Tokenizer, NumberFollowedByUnit) {
  auto t = lex("14pt 5PCT 2MM 3e");
  ASSERT_EQ(t.size(), 8u);
  EXPECT_EQ(t[0].kind, Tok::Int);
  EXPECT_EQ(t[1].kind, Tok::Name);
  EXPECT_EQ(t[1].text, "pt");
  EXPECT_FALSE(t[1].spaceBefore);
  EXPECT_TRUE(t[2].spaceBefore);
  EXPECT_EQ(t[5].text, "MM");
  EXPECT_EQ(t[6].kind, Tok::Int);  // "3e" has no exponent digits
  EXPECT_EQ(t[7].text, "e");
}

TEST(Tokenizer, StringsAndLiterals) {
  auto t = lex("'It''s' \"a\"\"b\" 'my var'n \"x\"N '01jan2020'd '12:30't '01jan2020:12:30'dt 'two\nlines' 'ab'cd");
  ASSERT_EQ(t.size(), 10u);
  EXPECT_EQ(t[0].kind, Tok::QString);
  EXPECT_EQ(t[0].text, "It's");
  EXPECT_EQ(t[1].text, "a\"b");
  EXPECT_EQ(t[2].kind, Tok::NameLit);
  EXPECT_EQ(t[2].text, "my var");
  EXPECT_EQ(t[3].kind, Tok::NameLit);
  EXPECT_EQ(t[4].kind, Tok::Date);
  EXPECT_EQ(t[4].num, 21915);  // days from 1 Jan 1960 to 1 Jan 2020
  EXPECT_EQ(t[5].kind, Tok::Time);
  EXPECT_EQ(t[5].num, 45000);
  EXPECT_EQ(t[6].kind, Tok::DateTime);
  EXPECT_EQ(t[6].num, 21915 * 86400.0 + 45000);
  EXPECT_EQ(t[7].text, "two\nlines");
  EXPECT_EQ(t[8].kind, Tok::QString);  // "cd" is no literal suffix
  EXPECT_EQ(t[9].kind, Tok::Name);
  EXPECT_FALSE(t[9].spaceBefore);

  double v = 0;
  EXPECT_TRUE(parseDateText("1jan1960", &v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(parseDateText("31dec59", &v));  // two-digit years from 20 are 19xx
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(parseDateText("29FEB2000", &v));
  EXPECT_TRUE(parseDateText("01jan19", &v));
  EXPECT_EQ(v, 21550);
  EXPECT_FALSE(parseDateText("29feb2100", &v));
  EXPECT_FALSE(parseDateText("32jan2020", &v));
  EXPECT_FALSE(parseDateText("01foo2020", &v));
  EXPECT_TRUE(parseTimeText("1:02:03.5 pm", &v));
  EXPECT_DOUBLE_EQ(v, 13 * 3600 + 123.5);
  EXPECT_FALSE(parseTimeText("24:00", &v));
  EXPECT_FALSE(parseTimeText("12:60", &v));
}

TEST(Tokenizer, PunctuationPlacesAndOffsets) {
  std::string src = "a<=b >= c ^= ~= ^ ~ # % ( ) - / : = + * , < > ; @\n  x";
  auto t = lex(src);
  std::vector<Tok> kinds = {Tok::Name,   Tok::Le,    Tok::Name,   Tok::Ge,    Tok::Name,  Tok::Ne,
                            Tok::Ne,     Tok::Not,   Tok::Not,    Tok::Hash,  Tok::Percent,
                            Tok::LParen, Tok::RParen, Tok::Minus, Tok::Slash, Tok::Colon,
                            Tok::Equals, Tok::Plus,  Tok::Star,   Tok::Comma, Tok::Lt,    Tok::Gt,
                            Tok::End,    Tok::Other, Tok::Name};
  ASSERT_EQ(t.size(), kinds.size());
  for (size_t i = 0; i < kinds.size(); ++i) EXPECT_EQ(t[i].kind, kinds[i]) << i;
  for (const Token& k : t) EXPECT_EQ(src.substr(k.offset, k.length), k.text);
  EXPECT_EQ(t[1].column, 2);
  EXPECT_FALSE(t[1].spaceBefore);
  EXPECT_EQ(t.back().line, 2);
  EXPECT_EQ(t.back().column, 3);
}

TEST(Tokenizer, Comments) {
  auto t = lex("* a statement comment, don't stop at the quote;\nx /* block ; 'x */ y; *z; w*v;");
  ASSERT_EQ(t.size(), 7u);
  EXPECT_EQ(t[0].text, "x");
  EXPECT_EQ(t[0].line, 2);
  EXPECT_EQ(t[1].text, "y");
  EXPECT_TRUE(t[1].spaceBefore);
  EXPECT_EQ(t[3].text, "w");  // "*z;" was a comment; "*" inside a statement is not
  EXPECT_EQ(t[4].kind, Tok::Star);
}

// Bad tokens and the reading on behind them are shown by the bad-input case
// runtime_program_reader_errors.
TEST(Tokenizer, Utf8OutsideAndInsideQuotes) {
  // Valid UTF-8 outside quotes is a character token; inside quotes anything goes.
  auto t = lex("\xC3\xA9 '\xff'");
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].kind, Tok::Other);
  EXPECT_EQ(t[0].text, "\xC3\xA9");
  EXPECT_EQ(t[1].text, "\xff");
}

TEST(Tokenizer, StatementReader) {
  StatementReader r("  ;; * c ;\n proc x a=1;\nrun ;title 'a;b'", "p.qv");
  Statement s;
  ASSERT_TRUE(r.next(s));
  EXPECT_EQ(s.tokens.size(), 5u);
  EXPECT_EQ(s.line, 2);
  EXPECT_EQ(s.column, 2);
  EXPECT_EQ(s.sourceText(2, 5), "a=1");
  ASSERT_TRUE(r.next(s));
  EXPECT_EQ(s.keyword(), "run");
  ASSERT_TRUE(r.next(s));  // the last statement lacks its ";"
  EXPECT_EQ(s.tokens[1].text, "a;b");
  EXPECT_FALSE(r.next(s));
  EXPECT_FALSE(r.next(s));
}
