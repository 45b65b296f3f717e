// A data set reference as written in a program: a name, two-level name,
// name literal or quoted path, with optional data set options.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qv::rt {

struct DataSetRef;

// TYPE=(var CHAR [format] | NUM ...): one column converted as read.
struct TypeChange {
  std::string var;     // as the file names it
  bool toChar = false;  // CHAR (else NUM)
  std::string format;  // CHAR's numeric format as written ("" none)
};

// SUMMARIZE=(BY=(var ...) name=FUNC(column) ...).
struct SummaryItem {
  std::string name;    // the column made
  std::string func;    // COUNT, SUM, MEAN, MIN, MAX, MEDIAN (upper case)
  std::string column;  // "" for COUNT()
};
struct Summary {
  std::vector<std::string> by;
  std::vector<SummaryItem> items;
  bool given() const { return !items.empty(); }
};

struct DataSetOptions {
  std::vector<std::string> keep;                          // KEEP= names
  std::vector<std::string> drop;                          // DROP= names
  std::vector<std::pair<std::string, std::string>> rename;  // RENAME=(old=new)
  std::vector<std::pair<std::string, std::string>> format;  // FORMAT=(var fmt): variable, format as written
  std::string where;       // WHERE=( ... ) text between the parentheses
  int64_t obs = -1;        // OBS=: last observation to read (-1: none)
  int64_t firstobs = 1;    // FIRSTOBS=
  std::vector<TypeChange> type;     // TYPE=
  std::string compute;              // COMPUTE=( ... ) text between the parentheses
  Summary summarize;                // SUMMARIZE=
  std::vector<DataSetRef> append;   // APPEND=( ds ... ), each with its own options
  int line = 0, column = 0;
};

struct DataSetRef {
  std::string library;   // "" for a one-level name (WORK)
  std::string member;    // as written
  std::string path;      // a quoted file path (then library/member are empty)
  DataSetOptions options;
  int line = 0, column = 0;
  std::string text() const {  // as the user wrote the name
    if (!path.empty()) return "'" + path + "'";
    return library.empty() ? member : library + "." + member;
  }
};

}  // namespace qv::rt
