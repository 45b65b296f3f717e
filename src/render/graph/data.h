// The data a rendering draws from: named tables whose columns hold numbers
// or texts, one value per row, with the display text of every value (the
// value in its column's display format). The host hands its data sets in
// through this interface; tests use MemoryTable.
#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qv::render {

// The most bytes of one text (label, legend entry, title segment) laid out
// for display; a longer one is cut there, at a character boundary.
inline constexpr size_t kMaxDisplayBytes = 4096;

// The numbers of a column: held by the column, or a view of values that
// outlive it (a data set's own storage, taken without a copy).
class Numbers {
 public:
  Numbers() = default;
  Numbers(std::vector<double> values) : own_(std::move(values)) {}  // NOLINT: a column's values
  static Numbers view(const double* values, size_t n) {
    Numbers v;
    v.view_ = values;
    v.viewSize_ = n;
    return v;
  }
  size_t size() const { return view_ ? viewSize_ : own_.size(); }
  bool empty() const { return size() == 0; }
  const double* data() const { return view_ ? view_ : own_.data(); }
  const double& operator[](size_t i) const { return data()[i]; }
  const double* begin() const { return data(); }
  const double* end() const { return data() + size(); }
  // The values as the column's own, for changing them (a view is copied).
  std::vector<double>& own() {
    if (view_) {
      own_.assign(view_, view_ + viewSize_);
      view_ = nullptr;
      viewSize_ = 0;
    }
    return own_;
  }

 private:
  std::vector<double> own_;
  const double* view_ = nullptr;
  size_t viewSize_ = 0;
};

struct DataColumn {
  std::string name;
  std::string label;  // the variable's label, or its name
  bool numeric = true;
  Numbers num;                          // numeric: one per row, NaN when missing
  std::vector<std::string_view> chr;    // character: one per row, trailing blanks dropped
  // The display text of a number (the host's format); unset: shortest %g form.
  std::function<std::string(double)> formatNumber;
  // The name of that format (PERCENT, BEST, ...); "" when there is none.
  std::string format;
  // The display text of a character value; unset: the value itself.
  std::function<std::string(std::string_view)> formatText;
  // Null when num or chr hold a value per row. A column asked for with
  // DataTable::runColumn may instead hold one value per run of rows that
  // share it: then this lists the first row of each run and, last, the
  // number of rows, and a row's value is that of its run (slot).
  std::shared_ptr<const std::vector<size_t>> runs;

  size_t size() const {
    if (runs) return runs->back();
    return numeric ? num.size() : chr.size();
  }
  // Where the value of a row is held: the row, or its run.
  size_t slot(size_t row) const {
    if (!runs) return row;
    const std::vector<size_t>& r = *runs;
    return static_cast<size_t>(std::upper_bound(r.begin(), r.end() - 1, row) - r.begin()) - 1;
  }
  // The first row after `row` that may hold another value.
  size_t runEnd(size_t row) const { return runs ? (*runs)[slot(row) + 1] : row + 1; }
  // Missing: a NaN number or an empty text.
  bool missing(size_t row) const;
  // The number of a row (NaN for a character column or a row out of range).
  double number(size_t row) const;
  // The display text of a row, trailing and leading blanks dropped; "" for a
  // missing character value, "." for a missing number. At most
  // kMaxDisplayBytes long.
  std::string text(size_t row) const;
  // The display text of a number as text() shows the number of a row.
  std::string valueText(double v) const;
};

// The text of a number in at most 12 significant digits, without trailing
// zeros ("3", "0.25", "1e+20").
std::string shortNumber(double v);

class DataTable {
 public:
  virtual ~DataTable() = default;
  virtual std::string_view name() const = 0;
  // The name for messages (the data set's LIBRARY.MEMBER); the name by
  // default.
  virtual std::string displayName() const { return std::string(name()); }
  virtual size_t rows() const = 0;
  // Where the table's first row lies in the data it was read from: a BY
  // group's rows come after those of the groups before it. 0 by default.
  virtual size_t firstRow() const { return 0; }
  // The coordinate system the data declares for its coordinates (a PROJ
  // definition), used when the program names none; "" for degrees.
  virtual std::string coordinateSystem() const { return {}; }
  // The column called `name` (letter case ignored), read on first use; null
  // when the table has no such column.
  virtual const DataColumn* column(std::string_view name) = 0;
  // The same, for a reader that handles runs (DataColumn::runs): a column
  // whose values come in runs may come so, without a value per row.
  virtual const DataColumn* runColumn(std::string_view name) { return column(name); }
};

// A table built in memory, column by column (every column must have the
// same number of rows).
class MemoryTable final : public DataTable {
 public:
  explicit MemoryTable(std::string name) : name_(std::move(name)) {}
  std::string_view name() const override { return name_; }
  size_t rows() const override { return rows_; }
  const DataColumn* column(std::string_view name) override;

  MemoryTable& numbers(std::string name, std::vector<double> values, std::string label = "");
  MemoryTable& texts(std::string name, const std::vector<std::string>& values,
                     std::string label = "");

 private:
  std::string name_;
  size_t rows_ = 0;
  std::deque<std::string> storage_;  // the character values the views point into
  std::deque<DataColumn> columns_;  // stable addresses
};

}  // namespace qv::render
