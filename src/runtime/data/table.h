// The in-memory form of a data set file: columns of numbers or texts.
//
// A table is built once by a reader and then shared read-only by every data
// set opened on the same file. Numeric columns hold doubles (NaN is missing);
// character columns hold all their values in one arena with an offset table,
// trailing blanks left out. A column of map rows whose value stays the same
// over runs of rows (a feature's identifier and properties, a ring's
// SEGMENT) holds one value per run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.h"
#include "module/host/host.h"
#include "runtime/program/names.h"

namespace qv::rt {

// Receives the text of a NOTE (without the "NOTE: " prefix).
using NoteFn = std::function<void(const std::string&)>;

// The variable-name rule of the session (VARNAMES=).
enum class VarNameRule { Strict, Any };


struct Column {
  std::string name;
  std::string label;
  std::string format;        // upper case, without width ("" when none)
  int formatWidth = 0;
  int formatDecimals = 0;
  int type = host::kNumeric;
  int width = 8;             // bytes: 8 for numeric, longest value for character

  std::vector<double> num;        // numeric values, one per row (or run)
  std::string arena;              // character values, back to back
  std::vector<uint64_t> offsets;  // values + 1 entries into the arena
  // Null when the column holds a value per row. Else the column holds one
  // value per run of rows: the first row of each run in order, and last
  // the number of rows (runs are never empty). Shared by the columns with
  // the same runs.
  std::shared_ptr<const std::vector<size_t>> runs;

  bool numeric() const { return type == host::kNumeric; }
  // Where the value of a row is held: the row, or its run.
  size_t slot(size_t row) const {
    if (!runs) return row;
    const std::vector<size_t>& r = *runs;
    return static_cast<size_t>(std::upper_bound(r.begin(), r.end() - 1, row) - r.begin()) - 1;
  }
  double number(size_t row) const { return num[slot(row)]; }
  std::string_view str(size_t row) const {
    const size_t v = slot(row);
    return std::string_view(arena.data() + offsets[v],
                            static_cast<size_t>(offsets[v + 1] - offsets[v]));
  }
  // The numbers of rows first .. first+count-1 into `out`.
  void numbers(size_t first, size_t count, double* out) const;
};

struct Table {
  std::string source;  // the file it was read from, for messages
  // The coordinate system of LONG and LAT (a PROJ definition) when the
  // source declares one other than longitude and latitude; else "".
  std::string crs;
  size_t rows = 0;
  std::vector<Column> columns;

  // Column index of `name` (case-insensitive), -1 when absent.
  int find(std::string_view name) const;
};

// --- Name helpers shared by the readers and the data set views ------------

// Makes the variable names of a file's header: under Strict, invalid names
// become valid ones; under Any they are kept (at most 32 bytes). Empty names
// become VARn and repeats get a number. Each change is reported by `note`.
std::vector<std::string> makeVariableNames(const std::vector<std::string>& header,
                                           VarNameRule rule, const std::string& file,
                                           const NoteFn& note);

// Compares two character values as if the shorter were padded with blanks.
int compareBlankPadded(std::string_view a, std::string_view b);

}  // namespace qv::rt
