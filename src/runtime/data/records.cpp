// A JSON file that holds a list of records (objects) read as a table:
//   [{"zip": "02134", "rate": 4.1}, {"zip": "10001", "rate": 3.8, "note": null}]
// gives one row per record.
//
// Types are what the JSON says, not what a text looks like: a column of
// numbers (and nulls) is numeric; a text stays character, so "02134" keeps
// its leading zero. true and false are the texts "true" and "false", arrays
// and objects their JSON text. A column that holds both numbers and texts
// is character, its numbers written out as numbers, and a NOTE names it: no
// value is lost. null, and a key a record lacks, is a missing value; a key
// repeated within one record counts once (the first).
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/error.h"
#include "runtime/data/geodoc.h"

namespace qv::rt::geo {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

using Kind = CellKind;

// The values one key has, by record; a record without the key has none.
// Texts live in one arena shared by all columns.
struct RecordColumn {
  std::string key;
  struct Value {
    size_t row;
    Kind kind;
    double number;  // when kind is Number
    uint64_t offset, length;
  };
  std::vector<Value> values;
  bool hasNumber = false, hasText = false, hasOther = false;
  uint64_t chars = 0;
};

void addValue(RecordColumn& c, size_t row, const element& v, std::string& arena) {
  RecordColumn::Value val{row, Kind::Missing, kMissing, arena.size(), 0};
  val.kind = appendCell(v, arena, &val.number);
  // Trailing blanks are not kept in character values.
  while (arena.size() > val.offset && arena.back() == ' ') arena.pop_back();
  val.length = arena.size() - val.offset;
  c.hasNumber |= val.kind == Kind::Number;
  c.hasText |= val.kind == Kind::Text;
  c.hasOther |= val.kind == Kind::Other;
  c.chars += val.length;
  c.values.push_back(val);
}

}  // namespace

Table recordsTable(const element& list, const std::string& file, VarNameRule rule,
                   const NoteFn& note) {
  JsonPath path;
  array items = arrayOf(file, path, list, "the file");
  if (items.size() == 0)
    fail(file, path, "the list holds no records (a table needs at least one object).");

  std::vector<RecordColumn> cols;
  std::unordered_map<std::string_view, size_t> byKey;  // keys live as long as the document
  std::string arena;
  size_t rows = 0;
  eachItem(path, items, [&](const element& item) {
    object rec;
    if (item.get_object().get(rec))
      fail(file, path, std::string("a record must be an object, not ") + typeName(item) + ".");
    for (auto kv : rec) {
      auto [it, added] = byKey.try_emplace(kv.key, cols.size());
      if (added) {
        cols.emplace_back();
        cols.back().key = std::string(kv.key);
      }
      RecordColumn& c = cols[it->second];
      if (!c.values.empty() && c.values.back().row == rows) continue;  // repeated: the first counts
      addValue(c, rows, kv.value, arena);
    }
    ++rows;
  });
  if (cols.empty())
    fail(file, path, "the records have no keys, so the table would have no columns.");

  // The memory the table will take, before it is made.
  uint64_t bytes = 0;
  for (const RecordColumn& c : cols)
    bytes += (c.hasText || c.hasOther) ? c.chars + (rows + 1) * uint64_t{8} : rows * uint64_t{8};
  if (bytes > kMaxTableBytes)
    fail(file, path, "the records would take " + std::to_string(bytes >> 20) +
                         " MiB as a table; that is more than this reader takes.");

  std::vector<std::string> header;
  header.reserve(cols.size());
  for (const RecordColumn& c : cols) header.push_back(c.key);
  std::vector<std::string> names = makeVariableNames(header, rule, file, note);

  Table t;
  t.source = file;
  t.rows = rows;
  t.columns.resize(cols.size());
  for (size_t i = 0; i < cols.size(); ++i) {
    const RecordColumn& c = cols[i];
    Column& k = t.columns[i];
    k.name = names[i];
    if (!c.hasText && !c.hasOther) {
      k.type = host::kNumeric;
      k.width = 8;
      k.num.assign(rows, kMissing);
      for (const auto& v : c.values) k.num[v.row] = v.number;
      continue;
    }
    if (c.hasNumber && c.hasText && note)
      note("Column " + k.name + " of " + file +
           " holds both numbers and texts; it is read as character.");
    k.type = host::kCharacter;
    k.width = 1;
    k.arena.reserve(c.chars);
    k.offsets.reserve(rows + 1);
    k.offsets.push_back(0);
    size_t next = 0;
    for (size_t r = 0; r < rows; ++r) {
      if (next < c.values.size() && c.values[next].row == r) {
        const auto& v = c.values[next++];
        k.arena.append(arena, v.offset, v.length);
        if (v.length > static_cast<uint64_t>(k.width))
          k.width = static_cast<int>(std::min<uint64_t>(v.length, std::numeric_limits<int>::max()));
      }
      k.offsets.push_back(k.arena.size());
    }
  }
  return t;
}

}  // namespace qv::rt::geo
