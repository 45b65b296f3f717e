#include <cmath>

#include "runtime/data/csv.h"
#include "runtime/data/where.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::errorOf;

namespace {

// Rows: x, name, y
//   1  1  "Ann"  10
//   2  .  "Bob " 20
//   3  3  ""     .
//   4  -2 "ann"  40
const Table& table() {
  static Table t = [] {
    TextBuffer b = TextBuffer::fromText(
        "x,name,y,d\n1,Ann,10,21915\n.,Bob ,20,0\n3,,.,21916\n-2,ann,40,-1\n");
    return parseDelimited(b, "w.csv", CsvSettings(), NoteFn());
  }();
  return t;
}

// The 1-based rows selected by an expression, as a string like "124".
std::string rows(const std::string& expr) {
  auto w = parseWhere(expr);
  w->bind(table(), "WORK.W");
  std::string out;
  for (size_t r = 0; r < table().rows; ++r)
    if (w->test(r)) out += std::to_string(r + 1);
  return out;
}

std::string bindError(const std::string& expr) {
  return errorOf([&] {
    auto w = parseWhere(expr);
    w->bind(table(), "WORK.W");
  });
}

}  // namespace

TEST(Where, ComparisonsAndMissing) {
  EXPECT_EQ(rows("x = 1"), "1");
  EXPECT_EQ(rows("x eq 1"), "1");
  EXPECT_EQ(rows("x ^= 1"), "234");
  EXPECT_EQ(rows("x ~= 1"), "234");
  EXPECT_EQ(rows("x NE 1"), "234");
  EXPECT_EQ(rows("x < 2"), "124");  // missing is lower than any number
  EXPECT_EQ(rows("x lt -100"), "2");
  EXPECT_EQ(rows("x > .") , "134");
  EXPECT_EQ(rows("x = ."), "2");
  EXPECT_EQ(rows(". = x"), "2");
  EXPECT_EQ(rows("x is missing"), "2");
  EXPECT_EQ(rows("x IS NOT MISSING"), "134");
  EXPECT_EQ(rows("name is missing"), "3");
  EXPECT_EQ(rows("x + y > 0"), "14");      // missing + anything is missing
  EXPECT_EQ(rows("y / (x - 1) = ."), "123");  // division by zero gives missing
  EXPECT_EQ(rows("-x = 2"), "4");
  EXPECT_EQ(rows("x * 2 + 1 >= 7"), "3");
  EXPECT_EQ(rows("x ge 1e0 and x le 3.0"), "13");
  EXPECT_EQ(rows("d = '01jan2020'd"), "1");
  EXPECT_EQ(rows("d < '01jan1960'd"), "4");
  EXPECT_EQ(rows("d = '1JAN60'd"), "2");
  EXPECT_EQ(rows("'12:30't = 45000 and x = 1"), "1");
  EXPECT_EQ(rows("'02jan2020:00:00:01'dt = 21916 * 86400 + 1 and x = 1"), "1");
  EXPECT_EQ(rows("y"), "124");  // a bare number: true when neither 0 nor missing
}

TEST(Where, CharacterValues) {
  EXPECT_EQ(rows("name = 'Bob'"), "2");    // blanks pad the shorter value
  EXPECT_EQ(rows("name = 'Bob   '"), "2");
  EXPECT_EQ(rows("name = \"Ann\""), "1");  // case matters
  EXPECT_EQ(rows("name = ''"), "3");
  EXPECT_EQ(rows("name = ' '"), "3");
  EXPECT_EQ(rows("name < 'B'"), "13");     // "" < "Ann" < "B" < "Bob" < "ann"
  EXPECT_EQ(rows("name in ('ann' 'Bob')"), "24");
  EXPECT_EQ(rows("name not in ('ann', 'Bob')"), "13");
  EXPECT_EQ(rows("name = 'it''s'"), "");
  EXPECT_EQ(rows("'name'n = 'Ann'"), "1");
}

TEST(Where, InListsAndPrecedence) {
  EXPECT_EQ(rows("x in (1, 3)"), "13");
  EXPECT_EQ(rows("x in (1 -2 .)"), "124");
  EXPECT_EQ(rows("x not in (1,3)"), "24");
  EXPECT_EQ(rows("X IN(3)"), "3");
  // AND binds tighter than OR; NOT tighter than AND.
  EXPECT_EQ(rows("x = 1 or x = 3 and y = 10"), "1");
  EXPECT_EQ(rows("(x = 1 or x = 3) and y = 10"), "1");
  EXPECT_EQ(rows("x = 3 or x = 1 and y = 20"), "3");
  EXPECT_EQ(rows("not x = 1 and y > 0"), "24");
  EXPECT_EQ(rows("not (x = 1 and y > 0)"), "234");
  EXPECT_EQ(rows("^(x = 1) & ~(y = 20) | x = 1"), "134");
  EXPECT_EQ(rows("x + 2 * 3 = 7"), "1");   // * before +
  EXPECT_EQ(rows("(x + 2) * 3 = 9"), "1");
  EXPECT_EQ(rows("10 - 4 - 3 = x + 2"), "1");  // left to right
}

TEST(Where, Errors) {
  std::string e = bindError("'a' < x");
  EXPECT_NE(e.find("Variable x"), std::string::npos) << e;
  EXPECT_NE(bindError("name + 1 > 0").find("arithmetic"), std::string::npos);
  EXPECT_NE(bindError("x in ('a')").find("Variable x"), std::string::npos);

  struct Case {
    const char* text;
    int column;
  } syntax[] = {
      {"x = ", 5},      {"x = 1)", 6},   {"(x = 1", 7},       {"x in 1", 6},
      {"x in (1 'a')", 9}, {"x = 'abc", 5}, {"x is 3", 6},     {"x = 1 2", 7},
      {"", 1},          {"x # 1", 3},    {"d = '31feb2020'd", 5}, {"x = 1e", 7},
      {"x <> 1", 4},
  };
  for (const auto& c : syntax) {
    std::string m = errorOf([&] { parseWhere(c.text); });
    EXPECT_NE(m.find("column " + std::to_string(c.column) + ":"), std::string::npos)
        << c.text << " -> " << m;
  }
  EXPECT_NE(errorOf([&] { parseWhere("x = )"); }).find("expected a variable"), std::string::npos);

  // Deep nesting and very long chains are refused, not a stack overflow.
  EXPECT_NE(errorOf([&] { parseWhere(std::string(100000, '(') + "x"); }), "");
  EXPECT_NE(errorOf([&] { parseWhere(std::string(100000, '-') + "x"); }), "");
  std::string chain = "x";
  for (int i = 0; i < 5000; ++i) chain += "+1";
  EXPECT_NE(errorOf([&] { parseWhere(chain + " > 0"); }), "");

  // A long selection is shown cut around the place of the error.
  std::string longText = "name = '" + std::string(200000, 'a') + "' and x = )";
  std::string m = errorOf([&] { parseWhere(longText); });
  EXPECT_LT(m.size(), 400u) << m.substr(0, 400);
  EXPECT_NE(m.find("\"...aaa"), std::string::npos) << m;
  EXPECT_NE(m.find("' and x = )\" at column 200019:"), std::string::npos) << m;
}
