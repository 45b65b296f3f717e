// The expression language of WHERE selections and COMPUTE= items: an
// expression over the variables of a data set. A WHERE selection keeps the
// observations for which it is true; a COMPUTE= item makes a column of its
// values.
//
//   operators   = ^= ~= < <= > >= and EQ NE LT LE GT GE, IN (list),
//               NOT IN (list), IS [NOT] MISSING (or NULL), AND OR NOT
//               (& | ^ ~), parentheses, + - * / ** and unary minus, and
//               || (concatenation; a single | is OR)
//   operands    numbers, 'text' or "text" (quotes inside written twice),
//               the missing value ".", variable names, name literals
//               'a b'n, dates '01jan2020'd, times '12:30't, date-times
//               '01jan2020:12:30'dt, and function calls (see kFunctions in
//               where.cpp): ROUND FLOOR CEIL ABS SQRT LOG LOG10 EXP MIN MAX
//               SUM COALESCE UPCASE LOWCASE STRIP SUBSTR CATS CATX PUT IFN
//               IFC
//
// From the loosest binding: OR, AND, NOT, comparisons (IN, IS MISSING),
// ||, + -, * /, unary minus, ** (right to left: -2**2 is -4).
//
// A missing number is lower than every number ("." = x is true when x is
// missing); a comparison is 1 when true, else 0. Arithmetic with a missing
// value, a division by zero, and a function given an argument it has no
// value for (SQRT of a negative number) give a missing value, and the
// evaluation says which happened (Scratch::events). Character values
// compare as if the shorter were padded with blanks. Comparing a character
// value with a number is an error found when the expression is bound to a
// data set.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "runtime/data/table.h"

namespace qv::rt {

// A variable of a WHERE selection as a column of a database table: its name
// there and how the database stores it, which decides whether the database
// compares its values as they are compared here.
struct SqlColumn {
  enum class Type : uint8_t {
    None,        // never compared there: text, dates, booleans, computed columns
    Integer,     // an integer of at most 32 bits
    BigInteger,  // a 64-bit integer (read here as the nearest double)
    Single,      // a 4-byte floating-point number (read here from its short text)
    Double,      // an 8-byte floating-point number, or a NUMERIC of undeclared precision
    Decimal,     // NUMERIC(precision, scale)
  };
  std::string name;
  Type type = Type::None;
  int precision = 0, scale = 0;  // Decimal
};

// What a database is asked to select: the rows that meet `sql` are exactly
// the rows that the parts of the selection it holds select here (a value
// read here as missing is NULL or NaN there). `whole` when it holds the
// whole selection; else it holds the comparisons of the top AND chain that
// can be written exactly, and the rows it gives must still be selected
// here. "" when nothing can be handed over.
struct SqlSelection {
  std::string sql;
  bool whole = false;
};

// An error in the text of a COMPUTE= item, with the text and the column
// (1-based) it is at, so that the place can be shown.
class ExprError : public UserError {
 public:
  ExprError(const std::string& message, std::string text, int column)
      : UserError(message), text_(std::move(text)), column_(column) {}
  const std::string& text() const { return text_; }
  int column() const { return column_; }

 private:
  std::string text_;
  int column_;
};

// A column of a data set by its name (case-insensitive); null when absent.
using ColumnLookup = std::function<const Column*(std::string_view)>;

// A name as an SQL identifier: in double quotes, a quote in it doubled.
std::string sqlIdentifier(std::string_view name);

class WhereExpr {
 public:
  struct Node;

  // What an evaluation noticed, in Scratch::events.
  static constexpr unsigned kMissingOperand = 1;  // arithmetic with a missing value
  static constexpr unsigned kDivisionByZero = 2;
  static constexpr unsigned kNoValue = 4;  // a function had no value for its argument,
                                           // or a result beyond the range of numbers

  // What one thread evaluates with: the texts the expression makes, and
  // the events noticed since they were last cleared.
  struct Scratch {
    std::vector<std::string> text;
    unsigned events = 0;
    std::vector<std::vector<double>> block;  // per node: values of a block of rows
  };

  WhereExpr(std::string text, std::vector<Node> nodes, int root);
  ~WhereExpr();
  WhereExpr(const WhereExpr&) = delete;
  WhereExpr& operator=(const WhereExpr&) = delete;

  const std::string& text() const { return text_; }
  // Makes this the expression of COMPUTE= item `name`: its messages name
  // the item and the column, and come as ExprError.
  void setItem(std::string name) { item_ = std::move(name); }

  // Binds the variable names to columns of `rows` rows: `resolve` gives a
  // name's column. `dataSet` names the data set in messages. Unknown
  // variables and type mismatches: UserError.
  void bind(const ColumnLookup& resolve, size_t rows, const std::string& dataSet);
  // Binds by the table's own column names.
  void bind(const Table& table, const std::string& dataSet);

  // Whether the value is a number (else a text). Only after bind.
  bool numeric() const;

  // True when the observation (row) is selected. Only after bind.
  bool test(size_t row, Scratch& scratch) const;
  bool test(size_t row) const;
  // The value of the expression for a row (NaN for missing); its text
  // (trailing blanks kept as made) when it is not numeric.
  double number(size_t row, Scratch& scratch) const;
  std::string_view chars(size_t row, Scratch& scratch) const;
  // The values of a numeric expression for rows lo .. lo+count-1 (at most
  // kBlock), and what was noticed for each: `events` gets the bits of its
  // row. The same values and events as number() gives row by row, made an
  // operation at a time over the rows where the expression is arithmetic.
  static constexpr size_t kBlock = 1024;
  void numbers(size_t lo, size_t count, double* out, unsigned char* events,
               Scratch& scratch) const;

  // The selection in PostgreSQL's SQL, for the database to select the rows
  // before they are read: see SqlSelection. `column` describes a variable
  // of the selection as a column of the table (Type::None: not to be
  // compared there).
  SqlSelection postgresCondition(
      const std::function<SqlColumn(std::string_view)>& column) const;

 private:
  double num(int n, size_t row, Scratch& cx) const;
  void numBlock(int n, size_t lo, size_t count, double* out, unsigned char* events,
                Scratch& cx) const;
  std::string_view str(int n, size_t row, Scratch& cx) const;
  bool truth(int n, size_t row, Scratch& cx) const;
  double call(const Node& x, size_t row, Scratch& cx) const;
  std::string_view callText(int n, size_t row, Scratch& cx) const;
  int bindNode(int n, const ColumnLookup& resolve, const std::string& dataSet);
  int bindCall(Node& x, const ColumnLookup& resolve, const std::string& dataSet);
  [[noreturn]] void fail(const std::string& message, int column) const;

  std::string text_;
  std::vector<Node> nodes_;
  int root_;
  size_t rows_ = 0;
  bool bound_ = false;
  // A COMPUTE= item: its name for messages ("" in a WHERE selection), whose
  // errors name the column and carry the text (ExprError).
  std::string item_;
};

// Parses the text of a WHERE selection (what stands between the parentheses
// of WHERE=( ... )). Syntax errors: UserError giving the column in the text
// and what was expected.
std::unique_ptr<WhereExpr> parseWhere(std::string_view text);

// One item of COMPUTE=: the column it makes and its expression.
struct ComputeItem {
  std::string name;
  std::unique_ptr<WhereExpr> expr;
};

// Parses the text of COMPUTE=( ... ): items `name = expression` separated by
// commas. `dataSet` names the data set in messages. Syntax errors: ExprError
// (columns count in the whole text).
std::vector<ComputeItem> parseCompute(std::string_view text, const std::string& dataSet);

// Days from 1 January 1960 to a date (proleptic Gregorian calendar).
int64_t daysFrom1960(int year, int month, int day);

}  // namespace qv::rt
