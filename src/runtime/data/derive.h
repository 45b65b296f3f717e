// The columns and rows that the data set options TYPE=, COMPUTE= and
// SUMMARIZE= make from a table, and the rows APPEND= puts after them.
//
// A frame is what a data set's options work on: the table's columns as
// read, with those TYPE= converts and COMPUTE= makes in their places (the
// table's own columns are never copied), or the columns APPEND= and
// SUMMARIZE= build. Work over rows is done in blocks on all cores.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/data/dsref.h"
#include "runtime/data/table.h"

namespace qv::rt {

// Runs work(block, lo, hi) over rows 0..rows in blocks of rowBlockSize(),
// on all cores when there are several blocks.
size_t rowBlockCount(size_t rows);
void forRowBlocks(size_t rows, const std::function<void(size_t, size_t, size_t)>& work);

struct Frame {
  size_t rows = 0;
  std::vector<const Column*> columns;
  // Per column: whether it is the file's own as read (not converted, made
  // or united here), so that a type declared for the file reaches it.
  std::vector<bool> asRead;
  std::string crs;  // as Table::crs

  // Column index of `name` (case-insensitive), -1 when absent.
  int find(std::string_view name) const;
  const Column* column(std::string_view name) const {
    const int c = find(name);
    return c < 0 ? nullptr : columns[static_cast<size_t>(c)];
  }
  // Puts `made` in the place of column `name`, or after the others.
  void put(std::unique_ptr<Column> made);

  std::shared_ptr<const Table> table;          // the table as read (may be null)
  std::vector<std::shared_ptr<Column>> owned;  // the columns made here
};

// The display format a column carries (from a schema, or kept by a
// summary or APPEND=) as written: "COMMA12.2", "8.2" for the bare form; ""
// when none.
std::string formatTextOf(const Column& col);

// The frame of a table as read.
Frame frameOf(std::shared_ptr<const Table> table);

// What the options did, for the log: `data` notes tell of values that came
// out missing (told when the data set is opened), `work` notes count what
// was made (told with the step's counts).
struct DeriveNotes {
  std::vector<std::string> data;
  std::vector<std::string> work;
};

// TYPE=: converts the columns named (as the file names them) as read.
// UserError for a name the frame lacks or a format that cannot write numbers.
void convertTypes(Frame& frame, const std::vector<TypeChange>& types, const std::string& dataSet,
                  DeriveNotes& notes);

// COMPUTE=: evaluates its items in turn, each seeing the columns before it
// (ExprError for a malformed or ill-typed item).
void computeColumns(Frame& frame, const std::string& text, const std::string& dataSet,
                    DeriveNotes& notes);

// SUMMARIZE=: one row per value of the BY variables over `count` rows of
// `frame` (row i is rowAt(i)), sorted by them (missing lowest), with the
// items' values. UserError for a column the frame lacks or of the wrong
// type.
Frame summarizeRows(const Frame& frame, size_t count, const std::function<size_t(size_t)>& rowAt,
                    const Summary& summary, const std::string& dataSet, DeriveNotes& notes);

// A part of the rows APPEND= unites: a data set's name, its variables (the
// names it shows, their columns, labels and display formats) and its rows.
struct AppendPart {
  std::string dataSet;
  std::vector<std::string> names;
  std::vector<const Column*> columns;
  std::vector<std::string> labels;
  std::vector<std::string> formats;  // format text ("" none)
  // The names TYPE= would give the columns (as the file has them; "" for a
  // column the data set made), for the advice of a type clash.
  std::vector<std::string> typeNames;
  size_t count = 0;
  std::function<size_t(size_t)> rowAt;
};

// APPEND=: the rows of `parts` after those of `frame`, columns united by
// name (the frame's first, then new ones in the order met). UserError when
// a column is numeric in one data set and character in another.
Frame appendRows(const Frame& frame, const std::string& dataSet,
                 const std::vector<AppendPart>& parts, DeriveNotes& notes);

}  // namespace qv::rt
