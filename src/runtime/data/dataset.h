// An opened data set: a shared, read-only table seen through the data set
// options, with a stack of further selections, sequential reading, sorted
// values and BY groups. The options apply in this order: the rows read
// (APPEND='s after the file's own, which TYPE= converted as read),
// COMPUTE=, then FIRSTOBS=, OBS= and WHERE=, SUMMARIZE=, and last KEEP=,
// DROP=, RENAME= and FORMAT=.
#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "module/host/host.h"
#include "runtime/data/derive.h"
#include "runtime/data/dsref.h"
#include "runtime/data/library.h"
#include "runtime/data/readers.h"
#include "runtime/data/table.h"
#include "runtime/data/where.h"

namespace qv::host {

// Ascending numbers: every number of a range, held as its two ends, or a
// list. A selection that keeps every row costs nothing per row.
class Positions {
 public:
  void setRange(size_t first, size_t count) {
    list_.clear();
    list_.shrink_to_fit();
    first_ = first;
    count_ = count;
    isList_ = false;
  }
  void setList(std::vector<size_t> list) {
    list_ = std::move(list);
    count_ = list_.size();
    isList_ = true;
  }
  size_t size() const { return count_; }
  size_t operator[](size_t i) const { return isList_ ? list_[i] : first_ + i; }
  // The first index whose number is not below `value`.
  size_t lowerBound(size_t value) const {
    if (isList_) {
      const auto at = std::lower_bound(list_.begin(), list_.end(), value);
      return static_cast<size_t>(at - list_.begin());
    }
    return value <= first_ ? 0 : std::min(value - first_, count_);
  }
  // Whether indexes lo..hi hold consecutive numbers (the first at *start).
  bool consecutive(size_t lo, size_t hi, size_t* start) const {
    if (lo >= hi) return false;
    *start = (*this)[lo];
    return !isList_ || list_[hi - 1] - list_[lo] == hi - 1 - lo;
  }

 private:
  std::vector<size_t> list_;
  size_t first_ = 0, count_ = 0;
  bool isList_ = false;
};

struct DataSet {
 public:
  // A view of `table` (the file `file`) through `options`. UserError when
  // an option names a variable the data set lacks or WHERE= is malformed.
  // A display format (from FORMAT= or the file's schema) that cannot be
  // used is reported through `warn` and left out.
  DataSet(std::shared_ptr<const rt::Table> table, rt::ResolvedFile file,
          const rt::DataSetOptions& options, const rt::NoteFn& warn = {});
  // The same over the rows TYPE= and APPEND= have made of the file (the
  // notes of that work in `notes`).
  DataSet(rt::Frame frame, rt::ResolvedFile file, const rt::DataSetOptions& options,
          const rt::NoteFn& warn, rt::DeriveNotes notes);
  ~DataSet();
  DataSet(const DataSet&) = delete;
  DataSet& operator=(const DataSet&) = delete;

  int64_t info(int item) const;

  int nvars() const { return static_cast<int>(vars_.size()); }
  int find(std::string_view name) const;  // case-insensitive; -1 when absent
  // The variable's description. Its display format is the one FORMAT= or
  // the file's schema gives it; a numeric variable without one is shown in
  // BEST12., and the description says so.
  VarDesc desc(int var) const;
  bool isNumeric(int var) const;
  // The column a variable shows (null for a bad number); whether it is the
  // file's own as read (not converted, computed, appended or summarized).
  const rt::Column* storedColumn(int var) const {
    const int c = column(var);
    return c < 0 ? nullptr : frame_.columns[static_cast<size_t>(c)];
  }
  bool asRead(int var) const {
    const int c = column(var);
    return c >= 0 && frame_.asRead[static_cast<size_t>(c)];
  }
  // The display format given by FORMAT= or the schema, as written ("" none).
  const std::string& formatText(int var) const { return formatTexts_[static_cast<size_t>(var)]; }

  const std::string& library() const { return file_.library; }
  const std::string& member() const { return file_.member; }
  const std::string& object() const { return file_.object; }
  std::string name() const;  // LIBRARY.MEMBER, for messages
  const rt::ResolvedFile& file() const { return file_; }
  const std::string& crs() const { return frame_.crs; }
  // The points each table row stands for, when the rows are cells a
  // database counted (aggregate.h); null: one each.
  const std::vector<double>* rowCounts() const {
    return frame_.table && !frame_.table->rowCounts.empty() ? &frame_.table->rowCounts : nullptr;
  }
  // What TYPE=, COMPUTE=, APPEND= and SUMMARIZE= did: values made missing,
  // and the counts of their work.
  const rt::DeriveNotes& deriveNotes() const { return notes_; }
  // The same file (and object) as `other`.
  bool sameAs(const DataSet& other) const;

  // Ascending values of a numeric variable over the current selection,
  // missing values left out, repeats dropped when `distinct`. False (and
  // `out` untouched) when `var` is not a numeric variable.
  bool sortValues(int var, bool distinct, std::vector<double>* out);

  // Sequential reading of the current selection (of the current BY group
  // when BY iteration is active): rewind, then next until it is false.
  void rewind();
  bool next();
  double num(int var) const;            // NaN for missing or a bad request
  std::string_view chr(int var) const;  // "" for a bad request
  int64_t observation() const;          // 1-based number in the file, 0 none

  // A further selection, an AND with those before it, for as long as the
  // data set is open.
  void pushWhere(std::string_view expr);
  size_t selectionCount() const { return pushed_.size(); }

  // BY groups over the observations selected by the data set options.
  // UserError when a variable is missing or the data are not sorted by
  // them. Then byNext moves from group to group; byRewind(true) goes to the
  // first group, byRewind(false) to the start of the current one.
  void setBy(const std::vector<ByVariable>& by);
  void clearBy();
  bool byActive() const { return byActive_; }
  bool byNext();
  void byRewind(bool toFirst);
  size_t groupCount() const { return byActive_ ? groupStart_.size() - 1 : 0; }
  int64_t currentGroup() const { return group_; }  // 0-based, -1 before the first
  const std::vector<ByVariable>& byVariables() const { return by_; }
  int byVarIndex(size_t k) const { return byVars_[k]; }  // variable number
  double byNum(size_t k) const;            // value of BY variable k in the group
  std::string_view byChr(size_t k) const;

  // Reading without the cursor, for several readers at once while nothing
  // changes the selection: the positions next() walks now, the table row
  // at a position of the selection, and a variable's value in a table row
  // (NaN or "" for a bad request, as num and chr give).
  struct Range {
    size_t lo = 0, hi = 0;
  };
  Range readingRange() const { return {lo_, hi_}; }
  size_t selectedCount() const { return sel_.size(); }  // positions of the whole selection
  size_t rowAt(size_t pos) const { return base_[sel_[pos]]; }
  // Whether positions lo..hi are consecutive table rows (the first at
  // *first), so a reader can take a column's values as they are stored.
  bool consecutiveRows(size_t lo, size_t hi, size_t* first) const;
  double numAt(int var, size_t row) const;
  std::string_view chrAt(int var, size_t row) const;

 private:
  size_t rowOf(int var) const;
  bool byRow(size_t k, size_t* row) const;
  void build(const rt::NoteFn& warn);  // the options after TYPE= and APPEND=
  void showVariables();    // vars_ and names_ from KEEP=, DROP=, RENAME=
  void select();           // base_ from the options
  void applyPushed();      // sel_ from base_ and the pushed selections
  void setRange();         // reading range from the BY group
  void setFormats(const rt::NoteFn& warn);
  int column(int var) const {
    return var >= 0 && static_cast<size_t>(var) < vars_.size() ? vars_[static_cast<size_t>(var)] : -1;
  }

  rt::Frame frame_;
  rt::ResolvedFile file_;
  rt::DataSetOptions options_;
  std::vector<int> vars_;           // visible variable -> table column
  std::vector<std::string> names_;  // visible names (after RENAME=)
  std::unordered_map<std::string, int> byName_;  // upper-case name -> index in names_
  struct Shown {                    // the display format of a visible variable
    std::string name;               // canonical name ("" none)
    int width = 0, decimals = 0;    // as written (0: the format's default)
  };
  std::vector<Shown> formats_;
  std::vector<std::string> formatTexts_;
  rt::DeriveNotes notes_;
  bool summarized_ = false;
  std::unique_ptr<rt::WhereExpr> where_;
  std::vector<std::unique_ptr<rt::WhereExpr>> pushed_;

  Positions base_;  // table rows selected by the options
  Positions sel_;   // positions in base_ kept by the pushed selections
  std::map<int, std::vector<double>> sorted_;  // per variable, for this selection

  size_t lo_ = 0, hi_ = 0;    // reading range in sel_
  size_t cursor_ = 0;         // next position to read
  bool current_ = false;
  size_t row_ = 0;            // current table row

  bool byActive_ = false;
  std::vector<ByVariable> by_;
  std::vector<int> byVars_;
  std::vector<size_t> groupStart_;  // positions in base_, plus the end
  int64_t group_ = -1;
};

}  // namespace qv::host

namespace qv::rt {

struct OpenSettings {
  std::string programDir;  // quoted paths are relative to it
  VarNameRule names = VarNameRule::Strict;
  NoteFn warn;             // receives the text of a WARNING (formats left out)
};

// The data set option that makes a character and a numeric identifier
// one type without losing a row, as the text of a NOTE ("" when there is
// none): TYPE=(var NUM) on the character side when its values are all
// digits, else TYPE=(var CHAR) on the numeric side, with the Z format that
// writes numbers as wide as the character side's when they have leading
// zeros. Only a column as its file holds it can be converted as read.
std::string joinTypeHint(const host::DataSet& text, int textVar, const host::DataSet& number,
                         int numberVar);

// Resolves, reads (through the cache) and opens a data set.
std::unique_ptr<host::DataSet> openDataSet(const DataSetRef& ref, const Libraries& libs,
                                           DataCache& cache, const OpenSettings& settings,
                                           const NoteFn& note);

}  // namespace qv::rt
