#include "table_host.h"

#include <cmath>

#include "common/ascii.h"
#include "runtime/formats/formats.h"

namespace qv::test {

host::Object* RecordingFactory::create(std::string_view ns, std::string_view cls,
                                       std::string_view arg) {
  ++made;
  if (made == failAt) return nullptr;
  return real.create(ns, cls, arg);
}

host::DataSet* TableHost::addTable(std::string member, std::vector<TableColumn> columns,
                                   std::vector<std::vector<Cell>> rows) {
  Table t;
  t.member = std::move(member);
  t.columns = std::move(columns);
  t.rows = std::move(rows);
  tables_.push_back(std::move(t));
  setRange(tables_.back());
  return reinterpret_cast<host::DataSet*>(&tables_.back());
}

Table* TableHost::table(host::DataSet* ds) {
  return recordOf(tables_, ds);
}

void TableHost::setBy(std::vector<std::string> names) {
  by_.clear();
  for (auto& n : names) by_.push_back({n, false});
}

host::Status TableHost::xoinfo(host::DataSet* ds, int item, int64_t* out) {
  Table* t = table(ds);
  if (!t) return host::kHostFailure;
  switch (item) {
    case 3: case 24: *out = static_cast<int64_t>(t->rows.size()); break;
    case 28: case 95: *out = 1; break;
    case 41: *out = -1; break;
    default: *out = 0; break;
  }
  return host::kOk;
}

host::Status TableHost::xvfind(host::DataSet* ds, std::string_view name, int* number) {
  Table* t = table(ds);
  for (size_t i = 0; t && i < t->columns.size(); ++i) {
    const std::string& v = t->columns[i].name;
    if (sameNoCase(v, name)) {
      *number = int(i);
      return host::kOk;
    }
  }
  return host::kHostFailure;
}

host::Status TableHost::xvname(host::DataSet* ds, int number, host::VarDesc* out) {
  Table* t = table(ds);
  if (!t || number < 0 || number >= int(t->columns.size())) return host::kHostFailure;
  const TableColumn& c = t->columns[size_t(number)];
  *out = host::VarDesc{};
  out->number = number;
  out->name = c.name;
  out->type = c.type;
  out->length = 8;
  if (c.type == host::kCharacter) {
    out->length = 1;
    for (auto& r : t->rows)
      if (auto* s = std::get_if<std::string>(&r[size_t(number)]))
        out->length = std::max(out->length, int(s->size()));
  }
  if (!c.format.empty()) {
    host::FormatDesc f;
    int w = 0, d = 0;
    if (rt::resolveFormatText(c.format, &f, &w, &d)) {
      out->format = f.name;
      out->formatWidth = w;
      out->formatDecimals = d;
    }
  }
  return host::kOk;
}

int TableHost::xvcount(host::DataSet* ds) {
  Table* t = table(ds);
  return t ? int(t->columns.size()) : 0;
}
std::string TableHost::dsLibrary(host::DataSet* ds) {
  Table* t = table(ds);
  return t ? t->library : "";
}
std::string TableHost::dsMember(host::DataSet* ds) {
  Table* t = table(ds);
  return t ? t->member : "";
}

void TableHost::setRange(Table& t) {
  t.lo = 0;
  t.hi = t.rows.size();
  if (t.byActive && t.group >= 0) {
    size_t g = size_t(t.group);
    if (g + 1 < t.groupStart.size()) {
      t.lo = t.groupStart[g];
      t.hi = t.groupStart[g + 1];
    } else {
      t.lo = t.hi = 0;
    }
  }
  t.cursor = t.lo;
  t.current = false;
}

host::Status TableHost::xrewind(host::DataSet* ds) {
  Table* t = table(ds);
  if (!t || failRewind) return host::kHostFailure;
  t->cursor = t->lo;
  t->current = false;
  return host::kOk;
}

bool TableHost::xnext(host::DataSet* ds) {
  Table* t = table(ds);
  if (!t || t->cursor >= t->hi) {
    if (t) t->current = false;
    return false;
  }
  t->row = t->cursor++;
  t->current = true;
  ++nextCalls;
  return true;
}

double TableHost::xgetnum(host::DataSet* ds, int number) {
  Table* t = table(ds);
  if (!t || !t->current || number < 0 || number >= int(t->columns.size())) return std::nan("");
  const Cell& c = t->rows[t->row][size_t(number)];
  const double* d = std::get_if<double>(&c);
  return d ? *d : std::nan("");
}

std::string_view TableHost::xgetchr(host::DataSet* ds, int number) {
  Table* t = table(ds);
  if (!t || !t->current || number < 0 || number >= int(t->columns.size())) return {};
  const Cell& c = t->rows[t->row][size_t(number)];
  const std::string* s = std::get_if<std::string>(&c);
  return s ? std::string_view(*s) : std::string_view();
}

host::Status TableHost::xbyinit(host::DataSet* ds) {
  Table* t = table(ds);
  if (!t) return host::kHostFailure;
  t->groupStart.clear();
  t->byActive = false;
  t->group = -1;
  if (by_.empty()) {
    setRange(*t);
    return host::kOk;
  }
  std::vector<int> cols;
  for (auto& b : by_) {
    int n = -1;
    if (xvfind(ds, b.name, &n) != host::kOk) return host::kUserError;
    cols.push_back(n);
  }
  for (size_t r = 0; r < t->rows.size(); ++r) {
    bool start = r == 0;
    for (int c : cols)
      if (r > 0 && t->rows[r][size_t(c)] != t->rows[r - 1][size_t(c)]) start = true;
    if (start) t->groupStart.push_back(r);
  }
  t->groupStart.push_back(t->rows.size());
  t->byActive = true;
  setRange(*t);
  return host::kOk;
}

bool TableHost::xbynext(host::DataSet* ds) {
  Table* t = table(ds);
  if (!t || !t->byActive) return false;
  long count = long(t->groupStart.size()) - 1;
  if (t->group + 1 < count) {
    ++t->group;
    setRange(*t);
    return true;
  }
  t->group = count;
  setRange(*t);
  return false;
}

host::Status TableHost::xbyrwnd(host::DataSet* ds, bool toFirst) {
  Table* t = table(ds);
  if (!t || !t->byActive) return host::kHostFailure;
  if (toFirst) t->group = t->groupStart.size() > 1 ? 0 : -1;
  setRange(*t);
  return host::kOk;
}

host::Status TableHost::xfrname(std::string_view name, host::FormatDesc* out) {
  return rt::resolveFormat(name, out) ? host::kOk : host::kHostFailure;
}

std::string TableHost::xfxpn(const host::FormatDesc& f, int width, int decimals, double value) {
  std::string missing = xoptcgt("MISSING");
  return rt::formatNumber(f, width, decimals, value, missing.empty() ? '.' : missing[0]);
}

std::string TableHost::xfxpc(const host::FormatDesc& f, int width, std::string_view value) {
  return rt::formatChar(f, width, value);
}

}  // namespace qv::test
