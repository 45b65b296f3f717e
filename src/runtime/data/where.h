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

  // A condition in SQL that every selected observation meets, for a
  // database to filter by before the rows are read ("" when none can be
  // given). It is made of the comparisons of a numeric column with numbers
  // that stand in the top AND chain; `numericColumn` gives the source's
  // own name of a numeric column ("" when the name is none). A missing value, lower than every
  // number here, is NULL there: "x < 5" is written so that NULL passes.
  // The selection itself is still applied to the rows read.
  std::string sqlCondition(
      const std::function<std::string(std::string_view)>& numericColumn) const;

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
