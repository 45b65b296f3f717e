// WHERE selections: an expression over the variables of a data set that
// keeps the observations for which it is true.
//
//   operators   = ^= ~= < <= > >= and EQ NE LT LE GT GE, IN (list),
//               NOT IN (list), IS [NOT] MISSING (or NULL), AND OR NOT
//               (& | ^ ~), parentheses, + - * / and unary minus
//   operands    numbers, 'text' or "text" (quotes inside written twice),
//               the missing value ".", variable names, name literals
//               'a b'n, dates '01jan2020'd, times '12:30't, date-times
//               '01jan2020:12:30'dt
//
// A missing number is lower than every number ("." = x is true when x is
// missing); arithmetic with a missing value gives a missing value. Character
// values compare as if the shorter were padded with blanks. Comparing a
// character value with a number is an error found when the expression is
// bound to a data set.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

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

class WhereExpr {
 public:
  struct Node;

  WhereExpr(std::string text, std::vector<Node> nodes, int root);
  ~WhereExpr();
  WhereExpr(const WhereExpr&) = delete;
  WhereExpr& operator=(const WhereExpr&) = delete;

  const std::string& text() const { return text_; }

  // Binds the variable names to columns of `table`: `resolve` gives a
  // name's column or -1. `dataSet` names the data set in messages. Unknown
  // variables and type mismatches: UserError.
  void bind(const Table& table, const std::function<int(std::string_view)>& resolve,
            const std::string& dataSet);
  // Binds by the table's own column names.
  void bind(const Table& table, const std::string& dataSet);

  // True when the observation (table row) is selected. Only after bind.
  bool test(size_t row) const;

  // The selection in PostgreSQL's SQL, for the database to select the rows
  // before they are read: see SqlSelection. `column` describes a variable
  // of the selection as a column of the table (Type::None: not to be
  // compared there).
  SqlSelection postgresCondition(
      const std::function<SqlColumn(std::string_view)>& column) const;

 private:
  double num(int n, size_t row) const;
  std::string_view str(int n, size_t row) const;
  bool truth(int n, size_t row) const;
  int bindNode(int n, const Table& table, const std::function<int(std::string_view)>& resolve,
               const std::string& dataSet);

  std::string text_;
  std::vector<Node> nodes_;
  int root_;
  const Table* table_ = nullptr;
};

// Parses the text of a WHERE selection (what stands between the parentheses
// of WHERE=( ... )). Syntax errors: UserError giving the column in the text
// and what was expected.
std::unique_ptr<WhereExpr> parseWhere(std::string_view text);

// Days from 1 January 1960 to a date (proleptic Gregorian calendar).
int64_t daysFrom1960(int year, int month, int day);

}  // namespace qv::rt
