#include "runtime/data/derive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "common/ascii.h"
#include "common/cores.h"
#include "common/error.h"
#include "common/parallel_for.h"
#include "runtime/data/csv.h"
#include "runtime/data/where.h"
#include "runtime/formats/formats.h"

namespace qv::rt {

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

// Rows are worked on in blocks of this many, on all cores when there are
// several blocks.
constexpr size_t kBlockRows = size_t{1} << 16;

std::string plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A character column of `rows` values: text(row, out) writes the value of
// a row (trailing blanks are left out), in blocks on all cores.
template <class Text>
void fillText(Column& k, size_t rows, const Text& text) {
  const size_t blocks = rowBlockCount(rows);
  std::vector<std::string> arenas(blocks);
  std::vector<std::vector<uint64_t>> ends(blocks);
  std::vector<int> widths(blocks, 0);
  forRowBlocks(rows, [&](size_t b, size_t lo, size_t hi) {
    std::string& arena = arenas[b];
    std::vector<uint64_t>& end = ends[b];
    end.reserve(hi - lo);
    std::string value;
    for (size_t r = lo; r < hi; ++r) {
      value.clear();
      text(r, value);
      size_t n = value.size();
      while (n > 0 && value[n - 1] == ' ') --n;
      arena.append(value, 0, n);
      end.push_back(arena.size());
      widths[b] = std::max(widths[b], static_cast<int>(std::min<size_t>(n, INT32_MAX)));
    }
  });
  k.type = host::kCharacter;
  k.num.clear();
  k.offsets.assign(1, 0);
  k.offsets.reserve(rows + 1);
  size_t total = 0;
  for (const auto& a : arenas) total += a.size();
  k.arena.clear();
  k.arena.reserve(total);
  k.width = 1;
  for (size_t b = 0; b < blocks; ++b) {
    const uint64_t shift = k.arena.size();
    k.arena += arenas[b];
    for (uint64_t e : ends[b]) k.offsets.push_back(e + shift);
    k.width = std::max(k.width, widths[b]);
  }
}

}  // namespace

size_t rowBlockCount(size_t rows) { return (rows + kBlockRows - 1) / kBlockRows; }

void forRowBlocks(size_t rows, const std::function<void(size_t, size_t, size_t)>& work) {
  const size_t blocks = rowBlockCount(rows);
  parallelFor(blocks, blocks > 1 ? coreCount() : 1, [&](size_t b) {
    work(b, b * kBlockRows, std::min(rows, (b + 1) * kBlockRows));
  });
}

// --- Frame -------------------------------------------------------------------------

int Frame::find(std::string_view name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (sameNoCase(columns[i]->name, name)) return static_cast<int>(i);
  return -1;
}

void Frame::put(std::unique_ptr<Column> made) {
  std::shared_ptr<Column> k(std::move(made));
  const int at = find(k->name);
  if (at < 0) {
    columns.push_back(k.get());
    asRead.push_back(false);
  } else {
    columns[static_cast<size_t>(at)] = k.get();
    asRead[static_cast<size_t>(at)] = false;
  }
  owned.push_back(std::move(k));
}

std::string formatTextOf(const Column& col) {
  if (col.format.empty() && col.formatWidth <= 0) return {};
  std::string t = col.format;
  if (col.formatWidth > 0) t += std::to_string(col.formatWidth);
  t += '.';
  if (col.formatDecimals > 0) t += std::to_string(col.formatDecimals);
  return t;
}

Frame frameOf(std::shared_ptr<const Table> table) {
  Frame f;
  f.rows = table->rows;
  f.crs = table->crs;
  for (const Column& c : table->columns) f.columns.push_back(&c);
  f.asRead.assign(f.columns.size(), true);
  f.table = std::move(table);
  return f;
}

// --- TYPE= -------------------------------------------------------------------------

void convertTypes(Frame& frame, const std::vector<TypeChange>& types, const std::string& dataSet,
                  DeriveNotes& notes) {
  for (const TypeChange& t : types) {
    const Column* from = frame.column(t.var);
    if (!from) throw UserError("Variable " + t.var + " in TYPE= is not in data set " + dataSet + ".");
    host::FormatDesc f;
    int width = 0, decimals = 0;
    if (!t.format.empty() &&
        (!resolveFormatText(t.format, &f, &width, &decimals) || f.character))
      throw UserError("The format " + t.format + " in TYPE= for variable " + t.var + " of " +
                      dataSet + " is not a numeric format; CHAR writes numbers with one, as " +
                      "TYPE=(" + t.var + " CHAR Z5.) does.");
    if (from->numeric() != t.toChar) continue;  // already of that type
    auto k = std::make_unique<Column>();
    k->name = from->name;
    k->label = from->label;
    const size_t rows = frame.rows;
    if (t.toChar) {
      fillText(*k, rows, [&](size_t r, std::string& out) {
        const double v = from->number(r);
        if (std::isnan(v)) return;
        out = t.format.empty() ? plainNumberText(v)
                               : std::string(trimBlanks(formatNumber(f, width, decimals, v, ' ')));
      });
    } else {
      k->type = host::kNumeric;
      k->width = 8;
      k->num.resize(rows);
      const size_t blocks = rowBlockCount(rows);
      std::vector<size_t> bad(blocks, 0), firstBad(blocks, SIZE_MAX);
      forRowBlocks(rows, [&](size_t b, size_t lo, size_t hi) {
        for (size_t r = lo; r < hi; ++r) {
          double v;
          if (!cellNumber(from->str(r), &v)) {
            v = kMissing;
            if (bad[b]++ == 0) firstBad[b] = r;
          }
          k->num[r] = v;
        }
      });
      size_t count = 0, first = SIZE_MAX;
      for (size_t b = 0; b < blocks; ++b) {
        count += bad[b];
        first = std::min(first, firstBad[b]);
      }
      if (count)
        notes.data.push_back("TYPE=(" + t.var + " NUM) made " + plural(count, "value", "values") +
                             " of " + t.var + " in " + dataSet +
                             " missing: they are no numbers (the first is '" +
                             std::string(cutUtf8(from->str(first), 40)) + "' in row " +
                             std::to_string(first + 1) + ").");
    }
    notes.work.push_back("TYPE= read " + t.var + " of " + dataSet + " as " +
                         (t.toChar ? "text" : "numbers") + ".");
    frame.put(std::move(k));
  }
}

// --- COMPUTE= ----------------------------------------------------------------------

void computeColumns(Frame& frame, const std::string& text, const std::string& dataSet,
                    DeriveNotes& notes) {
  std::vector<ComputeItem> items = parseCompute(text, dataSet);
  std::string made;
  for (ComputeItem& item : items) {
    const WhereExpr& e = *item.expr;
    item.expr->bind([&](std::string_view n) { return frame.column(n); }, frame.rows, dataSet);
    auto k = std::make_unique<Column>();
    k->name = item.name;
    const size_t rows = frame.rows, blocks = rowBlockCount(rows);
    // Rows per block that came out missing: any way, a missing operand, a
    // division by zero, a function without a value.
    std::vector<std::array<size_t, 4>> events(blocks, std::array<size_t, 4>{});
    auto tell = [&](size_t b, unsigned ev) {
      if (!ev) return;
      std::array<size_t, 4>& n = events[b];
      ++n[0];
      n[1] += (ev & WhereExpr::kMissingOperand) != 0;
      n[2] += (ev & WhereExpr::kDivisionByZero) != 0;
      n[3] += (ev & WhereExpr::kNoValue) != 0;
    };
    if (e.numeric()) {
      k->type = host::kNumeric;
      k->width = 8;
      k->num.resize(rows);
      double* out = k->num.data();
      forRowBlocks(rows, [&](size_t b, size_t lo, size_t hi) {
        WhereExpr::Scratch cx;
        unsigned char ev[WhereExpr::kBlock];
        for (size_t r = lo; r < hi; r += WhereExpr::kBlock) {
          const size_t n = std::min(WhereExpr::kBlock, hi - r);
          e.numbers(r, n, out + r, ev, cx);
          for (size_t i = 0; i < n; ++i) tell(b, ev[i]);
        }
      });
    } else {
      std::vector<WhereExpr::Scratch> scratch(blocks);
      fillText(*k, rows, [&](size_t r, std::string& value) {
        const size_t b = r / kBlockRows;
        WhereExpr::Scratch& cx = scratch[b];
        value.assign(e.chars(r, cx));
        if (cx.events) {
          tell(b, cx.events);
          cx.events = 0;
        }
      });
    }
    std::array<size_t, 4> n{};
    for (const auto& b : events)
      for (size_t i = 0; i < 4; ++i) n[i] += b[i];
    if (n[0]) {
      std::string why;
      auto add = [&](size_t count, const char* what) {
        if (count) why += (why.empty() ? "" : ", ") + std::string(what) + " in " + std::to_string(count);
      };
      add(n[1], "a missing value in arithmetic");
      add(n[2], "a division by zero");
      add(n[3], "a function without a value for its argument");
      notes.data.push_back("COMPUTE= gave " + item.name + " of " + dataSet + " a missing value in " +
                           plural(n[0], "row", "rows") + ": " + why + ".");
    }
    made += (made.empty() ? "" : ", ") + item.name;
    frame.put(std::move(k));
  }
  notes.work.push_back("COMPUTE= made " + made + " in " + plural(frame.rows, "row", "rows") +
                       " of " + dataSet + ".");
}

// --- SUMMARIZE= --------------------------------------------------------------------

namespace {

// The bytes that stand for a row's BY values: equal exactly when the
// values are (every missing number alike, -0 as 0).
void appendKey(const std::vector<const Column*>& by, size_t row, std::string& key) {
  for (const Column* c : by) {
    if (c->numeric()) {
      double v = c->number(row);
      if (std::isnan(v)) v = kMissing;
      if (v == 0) v = 0;
      char b[sizeof v];
      std::memcpy(b, &v, sizeof v);
      key.append(b, sizeof v);
    } else {
      const std::string_view s = c->str(row);
      const uint64_t n = s.size();
      char b[sizeof n];
      std::memcpy(b, &n, sizeof n);
      key.append(b, sizeof n);
      key.append(s);
    }
  }
}

// Negative when row a sorts before row b by the BY values: missing numbers
// lowest, texts bytewise (as BY groups are ordered).
int compareRows(const std::vector<const Column*>& by, size_t a, size_t b) {
  for (const Column* c : by) {
    int r;
    if (c->numeric()) {
      const double x = c->number(a), y = c->number(b);
      const bool xm = std::isnan(x), ym = std::isnan(y);
      r = (xm || ym) ? (xm == ym ? 0 : (xm ? -1 : 1)) : (x < y ? -1 : (x > y ? 1 : 0));
    } else {
      r = c->str(a).compare(c->str(b));
    }
    if (r != 0) return r;
  }
  return 0;
}

}  // namespace

Frame summarizeRows(const Frame& frame, size_t count, const std::function<size_t(size_t)>& rowAt,
                    const Summary& summary, const std::string& dataSet, DeriveNotes& notes) {
  std::vector<const Column*> by;
  for (const std::string& b : summary.by) {
    const Column* c = frame.column(b);
    if (!c)
      throw UserError("BY variable " + b + " of SUMMARIZE= is not in data set " + dataSet + ".");
    by.push_back(c);
  }
  std::vector<const Column*> of;
  for (const SummaryItem& item : summary.items) {
    const Column* c = nullptr;
    if (!item.column.empty()) {
      c = frame.column(item.column);
      if (!c)
        throw UserError("Variable " + item.column + " in " + item.name + "=" + item.func +
                        "() of SUMMARIZE= is not in data set " + dataSet + ".");
      if (item.func != "COUNT" && !c->numeric())
        throw UserError("Variable " + item.column + " in " + item.name + "=" + item.func +
                        "() of SUMMARIZE= for " + dataSet +
                        " is character; only COUNT takes a character variable.");
    }
    of.push_back(c);
  }

  // Groups: each block numbers the keys it meets, then the blocks' numbers
  // are made one.
  const size_t blocks = rowBlockCount(count);
  std::vector<uint32_t> group(count);
  std::vector<std::unordered_map<std::string, uint32_t>> local(blocks);
  std::vector<std::vector<size_t>> firstRow(blocks);  // per local group: its first row
  forRowBlocks(count, [&](size_t b, size_t lo, size_t hi) {
    std::string key;
    auto& keys = local[b];
    for (size_t i = lo; i < hi; ++i) {
      key.clear();
      const size_t row = rowAt(i);
      appendKey(by, row, key);
      auto [it, added] = keys.emplace(key, static_cast<uint32_t>(keys.size()));
      if (added) firstRow[b].push_back(row);
      group[i] = it->second;
    }
  });
  std::unordered_map<std::string, uint32_t> global;
  std::vector<size_t> sample;  // per group: a row of it
  std::vector<std::vector<uint32_t>> toGlobal(blocks);
  for (size_t b = 0; b < blocks; ++b) {
    toGlobal[b].resize(local[b].size());
    for (const auto& [key, id] : local[b]) {
      auto [it, added] = global.emplace(key, static_cast<uint32_t>(global.size()));
      if (added) sample.push_back(firstRow[b][id]);
      toGlobal[b][id] = it->second;
    }
    local[b].clear();
  }
  forRowBlocks(count, [&](size_t b, size_t lo, size_t hi) {
    for (size_t i = lo; i < hi; ++i) group[i] = toGlobal[b][group[i]];
  });
  size_t groups = global.size();
  global.clear();
  if (by.empty() && groups == 0) {  // no rows: one row of counts 0
    groups = 1;
    sample.push_back(SIZE_MAX);
  }
  // The groups in BY order.
  std::vector<uint32_t> order(groups);
  for (uint32_t g = 0; g < groups; ++g) order[g] = g;
  std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return compareRows(by, sample[a], sample[b]) < 0;
  });
  std::vector<uint32_t> rank(groups);
  for (uint32_t i = 0; i < groups; ++i) rank[order[i]] = i;

  Frame out;
  out.rows = groups;
  out.crs = frame.crs;
  for (const Column* c : by) {
    auto k = std::make_unique<Column>();
    k->name = c->name;
    k->label = c->label;
    k->format = c->format;
    k->formatWidth = c->formatWidth;
    k->formatDecimals = c->formatDecimals;
    if (c->numeric()) {
      k->num.resize(groups);
      for (size_t g = 0; g < groups; ++g) k->num[g] = c->number(sample[order[g]]);
    } else {
      fillText(*k, groups, [&](size_t g, std::string& v) { v.assign(c->str(sample[order[g]])); });
    }
    out.put(std::move(k));
  }
  for (size_t j = 0; j < summary.items.size(); ++j) {
    const SummaryItem& item = summary.items[j];
    const Column* c = of[j];
    auto k = std::make_unique<Column>();
    k->name = item.name;
    k->num.assign(groups, kMissing);
    std::vector<double>& v = k->num;
    const bool present = c != nullptr;
    auto value = [&](size_t i) { return c->number(rowAt(i)); };
    auto has = [&](size_t i) {
      const size_t row = rowAt(i);
      return c->numeric() ? !std::isnan(c->number(row)) : !trimBlanks(c->str(row)).empty();
    };
    if (item.func == "COUNT") {
      std::fill(v.begin(), v.end(), 0.0);
      for (size_t i = 0; i < count; ++i)
        if (!present || has(i)) v[rank[group[i]]] += 1;
    } else if (item.func == "MEDIAN") {
      // The values of each group together, then the middle one (or the
      // mean of the middle two).
      std::vector<size_t> start(groups + 1, 0);
      for (size_t i = 0; i < count; ++i)
        if (!std::isnan(value(i))) ++start[rank[group[i]] + 1];
      for (size_t g = 0; g < groups; ++g) start[g + 1] += start[g];
      std::vector<double> values(start[groups]);
      std::vector<size_t> at(start.begin(), start.end() - 1);
      for (size_t i = 0; i < count; ++i)
        if (const double x = value(i); !std::isnan(x)) values[at[rank[group[i]]]++] = x;
      parallelFor(groups, groups > 1024 ? coreCount() : 1, [&](size_t g) {
        double* lo = values.data() + start[g];
        const size_t n = start[g + 1] - start[g];
        if (n == 0) return;
        std::nth_element(lo, lo + n / 2, lo + n);
        double m = lo[n / 2];
        if (n % 2 == 0) m = (m + *std::max_element(lo, lo + n / 2)) / 2;
        v[g] = m;
      });
    } else {
      std::vector<double> n(item.func == "MEAN" ? groups : 0, 0.0);
      for (size_t i = 0; i < count; ++i) {
        const double x = value(i);
        if (std::isnan(x)) continue;
        const uint32_t g = rank[group[i]];
        double& s = v[g];
        if (item.func == "MIN") s = std::isnan(s) ? x : std::min(s, x);
        else if (item.func == "MAX") s = std::isnan(s) ? x : std::max(s, x);
        else s = std::isnan(s) ? x : s + x;
        if (!n.empty()) n[g] += 1;
      }
      for (size_t g = 0; g < n.size(); ++g)
        if (n[g] > 0) v[g] /= n[g];
      for (double& x : v)
        if (!std::isfinite(x)) x = kMissing;
    }
    out.put(std::move(k));
  }
  std::string byText;
  for (const Column* c : by) byText += (byText.empty() ? "" : " ") + c->name;
  notes.work.push_back("SUMMARIZE= made " + plural(groups, "row", "rows") + " of " + dataSet +
                       " from " + plural(count, "row", "rows") +
                       (by.empty() ? "." : ", one per value of " + byText + "."));
  return out;
}

// --- APPEND= -----------------------------------------------------------------------

Frame appendRows(const Frame& frame, const std::string& dataSet,
                 const std::vector<AppendPart>& parts, DeriveNotes& notes) {
  // The frame as the first part.
  AppendPart own;
  own.dataSet = dataSet;
  own.columns = frame.columns;
  for (const Column* c : frame.columns) {
    own.names.push_back(c->name);
    own.labels.push_back(c->label);
    own.formats.push_back(formatTextOf(*c));
  }
  for (size_t c = 0; c < frame.columns.size(); ++c)
    own.typeNames.push_back(frame.asRead[c] ? frame.columns[c]->name : std::string());
  own.count = frame.rows;
  own.rowAt = [](size_t i) { return i; };
  std::vector<const AppendPart*> all{&own};
  for (const AppendPart& p : parts) all.push_back(&p);

  // The united columns: their names, and per part the column of each.
  struct United {
    std::string name, label, format;
    std::vector<int> in;  // per part: its variable, -1 when it has none
    bool numeric = true;
    size_t typedBy = 0;   // the part that gave the type
  };
  std::vector<United> united;
  std::unordered_map<std::string, size_t> byName;
  size_t total = 0;
  for (size_t p = 0; p < all.size(); ++p) {
    const AppendPart& part = *all[p];
    total += part.count;
    for (size_t v = 0; v < part.names.size(); ++v) {
      auto [it, added] = byName.emplace(upper(part.names[v]), united.size());
      if (added) {
        United u;
        u.name = part.names[v];
        u.label = part.labels[v];
        u.format = part.formats[v];
        u.in.assign(all.size(), -1);
        u.numeric = part.columns[v]->numeric();
        u.typedBy = p;
        united.push_back(std::move(u));
      }
      United& u = united[it->second];
      const bool numeric = part.columns[v]->numeric();
      if (numeric != u.numeric) {
        // TYPE= converts the later data set's column, when it is the file's.
        const std::string& typeName = part.typeNames[v];
        throw UserError("APPEND= cannot unite variable " + u.name + ": it is " +
                        (u.numeric ? "numeric" : "character") + " in " +
                        all[u.typedBy]->dataSet + " and " + (numeric ? "numeric" : "character") +
                        " in " + part.dataSet +
                        (typeName.empty()
                             ? "."
                             : "; TYPE=(" + typeName + " " + (u.numeric ? "NUM" : "CHAR") +
                                   ") among the options of " + part.dataSet + " makes it " +
                                   (u.numeric ? "numeric" : "character") + "."));
      }
      if (u.in[p] < 0) u.in[p] = static_cast<int>(v);
      if (u.label.empty()) u.label = part.labels[v];
      if (u.format.empty()) u.format = part.formats[v];
    }
  }

  Frame out;
  out.rows = total;
  out.crs = frame.crs;
  std::vector<size_t> startOf(all.size() + 1, 0);
  for (size_t p = 0; p < all.size(); ++p) startOf[p + 1] = startOf[p] + all[p]->count;
  // Row r of the whole: its part and that part's row.
  auto locate = [&](size_t r, size_t* part) {
    *part = static_cast<size_t>(std::upper_bound(startOf.begin(), startOf.end(), r) -
                                startOf.begin()) - 1;
    return all[*part]->rowAt(r - startOf[*part]);
  };
  for (const United& u : united) {
    auto k = std::make_unique<Column>();
    k->name = u.name;
    k->label = u.label;
    std::string fname;
    int w = 0, d = 0;
    bool hw = false, hd = false;
    if (!u.format.empty() && parseFormatName(u.format, &fname, &w, &d, &hw, &hd)) {
      k->format = fname;
      k->formatWidth = w;
      k->formatDecimals = d;
    }
    if (u.numeric) {
      k->num.resize(total);
      forRowBlocks(total, [&](size_t, size_t lo, size_t hi) {
        for (size_t r = lo; r < hi; ++r) {
          size_t p;
          const size_t row = locate(r, &p);
          k->num[r] = u.in[p] < 0 ? kMissing : all[p]->columns[static_cast<size_t>(u.in[p])]->number(row);
        }
      });
    } else {
      fillText(*k, total, [&](size_t r, std::string& v) {
        size_t p;
        const size_t row = locate(r, &p);
        if (u.in[p] >= 0) v.assign(all[p]->columns[static_cast<size_t>(u.in[p])]->str(row));
      });
    }
    out.put(std::move(k));
  }
  for (const AppendPart& p : parts)
    notes.work.push_back("APPEND= added " + plural(p.count, "row", "rows") + " of " + p.dataSet +
                         " to " + dataSet + ".");
  return out;
}

}  // namespace qv::rt
