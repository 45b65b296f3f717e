// Reading attribute map data sets, shared by the discrete and range map
// writers: columns found by name without regard to case, cells of the
// current observation, and the small text rules both writers follow.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii.h"
#include "module/step/step.h"

namespace qv::module::attrmap {

// One column of an attribute map data set.
struct Column {
  int number = -1;  // -1: the data set has no such column
  bool character = false;
  int width = 0;     // bytes of a character column
  std::string name;  // as the data set spells it
  bool exists() const { return number >= 0; }
};

// An attribute map data set being read. Columns are entered under their
// upper-cased names in two host associative arrays (place and width).
struct MapData {
  host::ObjectFactory* factory = nullptr;
  host::DataSet* ds = nullptr;
  host::AssocArray* place = nullptr;  // upper-cased name -> column number
  host::AssocArray* width = nullptr;  // upper-cased name -> column width
  std::vector<host::VarDesc> vars;
  int64_t observation = 0;  // of the row being read, from 1
};

// Makes the arrays and lists the columns. On failure everything made so far
// is released and the failing status returned.
host::Status openMapData(host::ObjectFactory* factory, host::DataSet* ds, MapData* md);
void closeMapData(MapData* md);

// The column named `upperName` (given in capital letters).
Column findColumn(const MapData& md, std::string_view upperName);

// The cell of `c` in the current observation as text without trailing
// blanks: "" for an absent column. A numeric cell gives its "%g" text when
// `numbersAsText` is set (a missing value gives ""), otherwise "".
std::string cellText(const MapData& md, const Column& c, bool numbersAsText = false);

// The cell of a character column padded with blanks to the column's width.
std::string cellPadded(const MapData& md, const Column& c);

// True and the value when `c` is numeric and the cell is not missing.
bool cellNumber(const MapData& md, const Column& c, double* out);

// Whether a value that goes into the template as written (a style element,
// symbol, pattern, color or color model name) is one word the template can
// hold. When it is not, a warning names the column and the observation and
// the caller leaves the value out.
bool templateWord(const MapData& md, const Column& c, std::string_view value);

std::string formatG(double v);  // "%g"
// The text of a host list or table value (a string or a host string).
std::string_view valueText(const host::Value& v);
// The escaped form (CleanChars) of a text; false when the host could not
// make it (the memory message has then been written).
bool escaped(std::string_view text, std::string* out);

// Whether `instance` is the map instance name formed from a map ID and a
// variable name ("%*s_%*s"): compared without regard to letter case, with a
// blank and an underscore counted equal (names with blanks are written with
// underscores in instance names).
bool sameInstance(std::string_view expected, std::string_view instance);

// Whether variable `name` is character: looked up in the plot data, then the
// response data, then the map data. False (numeric) when it is in none.
bool characterVariable(const PlotContext& plot, std::string_view name);

// Calls `bind(var, instance)` for each plot variable that `usage` (variable
// name -> map instance name) binds to map `key`.
template <class F>
void eachBinding(const host::AssocArray& usage, const std::string& key, F&& bind) {
  for (size_t i = 0; i < usage.size(); ++i) {
    const std::string_view var = usage.keyAt(i);
    const std::string_view instance = valueText(usage.valueAt(i));
    if (sameInstance(key + "_" + std::string(var), instance)) bind(var, instance);
  }
}

// Reads the data set from its first row, counting observations, and calls
// `row(key)` with each row's map key (its `id` cell, upper-cased). Answers
// kNoMemory as soon as `row` answers false (memory exhausted), else the
// status of rewinding the data set.
template <class F>
host::Status eachRow(MapData* md, const Column& id, F&& row) {
  host::Host& h = host::host();
  host::Status st = h.xrewind(md->ds);
  while (st == host::kOk && h.xnext(md->ds)) {
    ++md->observation;
    if (!row(qv::upper(cellText(*md, id, true)))) return host::kNoMemory;
  }
  return st;
}

// Appends `text` to the template stream.
host::Status put(host::Stream* out, std::string_view text);

}  // namespace qv::module::attrmap
