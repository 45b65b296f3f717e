#include <cmath>

#include "runtime/data/csv.h"
#include "runtime/data/where.h"
#include "runtime/formats/formats.h"
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

// COMPUTE= items: every operator and function of the expression language
// over the same rows, against values written here.
namespace {

// The item's value in each row, separated by blanks: numbers in their
// shortest form, "." missing, texts in brackets; each followed by what the
// evaluation noticed: M a missing value in arithmetic, Z a division by
// zero, V a function without a value.
std::string values(const std::string& expr) {
  auto items = parseCompute("v = " + expr, "WORK.W");
  EXPECT_EQ(items.size(), 1u);
  WhereExpr& e = *items[0].expr;
  e.bind(table(), "WORK.W");
  auto marks = [](unsigned ev) {
    return std::string(ev & WhereExpr::kMissingOperand ? "M" : "") +
           (ev & WhereExpr::kDivisionByZero ? "Z" : "") + (ev & WhereExpr::kNoValue ? "V" : "");
  };
  std::string out;
  WhereExpr::Scratch cx;
  for (size_t r = 0; r < table().rows; ++r) {
    if (r) out += ' ';
    if (e.numeric()) {
      const double v = e.number(r, cx);
      out += std::isnan(v) ? "." : plainNumberText(v);
    } else {
      out += "[" + std::string(e.chars(r, cx)) + "]";
    }
    out += marks(cx.events);
    cx.events = 0;
  }
  // A numeric item over a block of rows gives what it gives row by row.
  if (e.numeric()) {
    std::string block;
    double v[4];
    unsigned char ev[4];
    e.numbers(0, 4, v, ev, cx);
    for (size_t r = 0; r < 4; ++r) {
      block += (r ? " " : "") + (std::isnan(v[r]) ? std::string(".") : plainNumberText(v[r]));
      block += marks(ev[r]);
    }
    EXPECT_EQ(block, out) << expr;
  }
  return out;
}

}  // namespace

TEST(Compute, OperatorsAndFunctions) {
  struct Case {
    const char* expr;
    const char* want;
  } cases[] = {
      // Arithmetic: a missing operand gives missing and is told; so is a
      // division by zero; ** binds tighter than unary minus, from the right.
      {"x + y", "11 .M .M 38"},
      {"x - y", "-9 .M .M -42"},
      {"x * y", "10 .M .M -80"},
      {"y / (x + 3)", "2.5 .M .M 40"},
      {"10 / (x - 3)", "-5 .M .Z -2"},
      {"x ** 2", "1 .M 9 4"},
      {"-x ** 2", "-1 .M -9 -4"},
      {"2 ** 3 ** 2", "512 512 512 512"},
      {"2 ** -1", "0.5 0.5 0.5 0.5"},
      {"0 ** -1", ".Z .Z .Z .Z"},
      {"(-8) ** (1/3)", ".V .V .V .V"},
      {"1e308 * 10", ".V .V .V .V"},
      {"-x", "-1 .M -3 2"},
      {"x + 2 * 3", "7 .M 9 4"},
      // Comparisons give 1 or 0, a missing value lowest; logic likewise.
      {"x > 1", "0 0 1 0"},
      {"x < 1", "0 1 0 1"},
      {"x = .", "0 1 0 0"},
      {"x ^= 1", "0 1 1 1"},
      {"x ge 1 and y le 10", "1 0 1 0"},
      {"name = 'Bob'", "0 1 0 0"},
      {"name < 'B'", "1 0 1 0"},
      {"x in (1, 3)", "1 0 1 0"},
      {"name not in ('Ann')", "0 1 1 1"},
      {"name is missing", "0 0 1 0"},
      {"y is not missing", "1 1 0 1"},
      {"x and y", "1 0 0 1"},
      {"x | y", "1 1 1 1"},
      {"not x", "0 1 0 0"},
      // || joins texts (numbers in their plain form, missing as nothing);
      // a single | is OR.
      {"name || '-' || x", "[Ann-1] [Bob-] [-3] [ann--2]"},
      {"x || y", "[110] [20] [3] [-240]"},
      // Functions of numbers.
      {"round(x / 3, 0.01)", "0.33 .M 1 -0.67"},
      {"round(x * 2.5)", "3 .M 8 -5"},
      {"round(2.675, 0.01)", "2.68 2.68 2.68 2.68"},
      {"round(y, 25)", "0 25 .M 50"},
      {"round(x, 0)", ".V .M .V .V"},
      {"floor(x / 2)", "0 .M 1 -1"},
      {"ceil(x / 2)", "1 .M 2 -1"},
      {"abs(x)", "1 .M 3 2"},
      {"sqrt(x * x * 4)", "2 .M 6 4"},
      {"sqrt(x - 2)", ".V .M 1 .V"},
      {"round(log(x), 0.001)", "0 .M 1.099 .MV"},  // ROUND is given a missing value
      {"round(log10(y), 0.01)", "1 1.3 .M 1.6"},
      {"log10(x - 1)", ".V .M 0.3010299956639812 .V"},
      {"round(exp(x), 0.01)", "2.72 .M 20.09 0.14"},
      {"exp(1000)", ".V .V .V .V"},
      {"min(x, y, 0)", "0 0 0 -2"},
      {"max(x, y)", "10 20 3 40"},
      {"sum(x, y)", "11 20 3 38"},
      {"sum(., x)", "1 . 3 -2"},
      {"coalesce(x, y, 0)", "1 20 3 -2"},
      // Functions of texts.
      {"coalesce(name, 'none')", "[Ann] [Bob] [none] [ann]"},
      {"upcase(name)", "[ANN] [BOB] [] [ANN]"},
      {"lowcase(name) || '.'", "[ann.] [bob.] [.] [ann.]"},
      {"'<' || strip('  a b  ') || '>'", "[<a b>] [<a b>] [<a b>] [<a b>]"},
      {"substr(name, 2)", "[nn] [ob] [] [nn]"},
      {"substr(name, 1, 2)", "[An] [Bo] [] [an]"},
      {"substr('h\xC3\xA9llo', 2, 2)", "[\xC3\xA9l] [\xC3\xA9l] [\xC3\xA9l] [\xC3\xA9l]"},
      {"substr(name, 0)", "[]V []V []V []V"},
      {"substr(name, x)", "[Ann] []M [] []V"},
      {"cats(' a ', x, name)", "[a1Ann] [aBob] [a3] [a-2ann]"},
      {"catx('-', name, x)", "[Ann-1] [Bob] [3] [ann--2]"},
      {"put(x, Z3.)", "[001] [] [003] [-02]"},
      {"put(d, date9.)", "[01JAN2020] [01JAN1960] [02JAN2020] [31DEC1959]"},
      {"put(y * 1000, comma8.)", "[10,000] [20,000] []M [40,000]"},
      {"put(name, $2.)", "[An] [Bo] [] [an]"},
      {"put(x, 'best4.')", "[1] [] [3] [-2]"},
      // IFN and IFC evaluate the branch they take: the division by zero of
      // row 3 is never made.
      {"ifn(x > 0, x, -x)", "1 .M 3 2"},
      {"ifn(y = ., 0, 10 / (x - 3))", "-5 .M 0 -2"},
      {"ifc(x > 2, 'big', 'small')", "[small] [small] [big] [small]"},
  };
  for (const Case& c : cases) EXPECT_EQ(values(c.expr), c.want) << c.expr;
}

TEST(Compute, ItemsSeeTheOnesBefore) {
  auto items = parseCompute("a = x * 2, 'b c'n = a + 1,\n  label = put(a, 4.1)", "WORK.W");
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].name, "a");
  EXPECT_EQ(items[1].name, "b c");
  EXPECT_EQ(items[2].name, "label");
}

TEST(Compute, ErrorsNameTheItemAndTheColumn) {
  struct Case {
    const char* text;
    const char* message;
    int column;
  } cases[] = {
      {"", "expected an item such as rate = a / b", 1},
      {"rate = ", "item rate, at column 8: expected an expression", 8},
      {"rate = 1 +", "item rate, at column 11: expected a variable", 11},
      {"rate x", "expected \"=\" after rate, found the name x", 6},
      {"1 = x", "expected the name of the column to make, found the number 1", 1},
      {"a = 1, ", "expected another item after \",\"", 8},
      {"a = 1 b = 2", "expected an operator, \",\" and the next item, or the end, found the name b", 7},
      {"a = nope(x)", "there is no function nope", 5},
      {"a = round(1, 2, 3)", "ROUND takes 1 or 2 arguments, not 3", 5},
      {"a = substr('x')", "SUBSTR takes 2 or 3 arguments, not 1", 5},
      {"a = put(x)", "PUT takes 2 arguments, not 1", 5},
      {"a = min(x y)", "expected \",\" or \")\" in the arguments of MIN, found the name y", 11},
      {"a = put(x, )", "expected a format such as COMMA10. or Z5.", 12},
      {"a = 'open", "the quoted text that starts here is not closed", 5},
      {"a = x # 1", "the character '#' is not allowed here", 7},
      {"a = sqrt(name)", "Argument 1 of SQRT in COMPUTE= item a of WORK.W must be a number", 10},
      {"a = upcase(x)", "Argument 1 of UPCASE in COMPUTE= item a of WORK.W must be a character value", 12},
      {"a = ifn(x, name, 1)", "Argument 2 of IFN", 12},
      {"a = coalesce(x, name)", "Argument 2 of COALESCE", 17},
      {"a = put(x, $5.)", "The format $5. of PUT in COMPUTE= item a of WORK.W is a character format", 12},
      {"a = put(name, nope9.)", "The format nope9. of PUT in COMPUTE= item a of WORK.W is not a known format", 15},
      {"a = 1, b = name + 1",
       "Variable name in COMPUTE= item b of WORK.W is character and cannot be used in arithmetic "
       "(column 12 of COMPUTE=)",
       12},
      {"a = x = 'a'", "Variable x in COMPUTE= item a of WORK.W is numeric, but it is compared with a "
                      "character value (column 5 of COMPUTE=)",
       5},
      {"a = zz", "Variable zz in COMPUTE= item a is not in data set WORK.W (column 5 of COMPUTE=)", 5},
  };
  for (const Case& c : cases) {
    std::string message;
    int column = -1;
    try {
      for (ComputeItem& item : parseCompute(c.text, "WORK.W")) item.expr->bind(table(), "WORK.W");
    } catch (const ExprError& e) {
      message = e.what();
      column = e.column();
      EXPECT_EQ(e.text(), c.text);
    }
    EXPECT_NE(message.find(c.message), std::string::npos) << c.text << " -> " << message;
    EXPECT_NE(message.find("WORK.W"), std::string::npos) << message;
    EXPECT_EQ(column, c.column) << c.text << " -> " << message;
  }
  // Deep nesting is refused, not a stack overflow.
  EXPECT_NE(errorOf([&] { parseCompute("a = " + std::string(100000, '(') + "x", "WORK.W"); }), "");
  std::string calls = "a = ";
  for (int i = 0; i < 50000; ++i) calls += "abs(";
  EXPECT_NE(errorOf([&] { parseCompute(calls + "x", "WORK.W"); }), "");
}

TEST(Compute, WhereSelectionsKnowTheNewOperators) {
  // The functions and || select as they compute; a name before "(" that
  // is no function reads on as a variable, as it always did.
  EXPECT_EQ(rows("upcase(name) = 'ANN'"), "14");
  EXPECT_EQ(rows("name || 'x' = 'Bobx'"), "2");
  EXPECT_EQ(rows("x ** 2 > 4 | y = 10"), "13");
  EXPECT_EQ(rows("sum(x, y) > 15"), "24");
  std::string m = errorOf([&] { parseWhere("nope(x) = 1"); });
  EXPECT_NE(m.find("Syntax error in the WHERE selection \"nope(x) = 1\" at column 5: expected AND, OR"),
            std::string::npos)
      << m;
}
