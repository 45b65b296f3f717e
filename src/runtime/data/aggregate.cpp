#include "runtime/data/aggregate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <numeric>

#include "common/ascii.h"
#include "common/error.h"
#include "common/progress.h"
#include "common/shown_name.h"
#include "runtime/data/connection.h"
#include "runtime/data/ogr.h"
#include "runtime/data/where.h"

namespace qv::rt {

namespace {

// Web Mercator's latitudes end here; beyond, a point is binned at the edge.
constexpr double kMercatorLimit = 85.0511287798066;

// The table in SQL: a GDAL layer named "schema.table" is that table of that
// schema.
std::string tableSql(const std::string& layer) {
  const size_t dot = layer.find('.');
  if (dot == std::string::npos) return sqlIdentifier(layer);
  return sqlIdentifier(layer.substr(0, dot)) + "." + sqlIdentifier(layer.substr(dot + 1));
}

std::string number(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

// A column the query reads: its name in the table made of the answer, its
// expression in SQL, and what it holds.
struct Part {
  std::string name, sql;
  bool numeric = true;
  bool nan = false;  // a floating-point column, which may hold NaN
};

// The field `name` of the table (letter case ignored; not one of two that
// differ only in it, nor a name the table would change), or null.
const ogr::Field* fieldNamed(const DatabaseTable& t, std::string_view name) {
  const ogr::Field* found = nullptr;
  for (const ogr::Field& f : t.fields) {
    if (!sameNoCase(f.name, name)) continue;
    if (found) return nullptr;
    found = &f;
  }
  return found && isValidName(found->name) ? found : nullptr;
}

bool numericField(const ogr::Field& f) {
  return (f.kind == ogr::FieldKind::Integer && f.bits != 1) || f.kind == ogr::FieldKind::Real;
}

// A coordinate column: a numeric field, or LONG and LAT of a point geometry.
std::optional<Part> coordinate(const DatabaseTable& t, const std::string& name, bool second) {
  if (!t.pointColumn.empty() && sameNoCase(name, second ? "LAT" : "LONG"))
    return Part{second ? "LAT" : "LONG",
                std::string(second ? "ST_Y(" : "ST_X(") + sqlIdentifier(t.pointColumn) + ")", true,
                false};
  const ogr::Field* f = fieldNamed(t, name);
  if (!f || !numericField(*f)) return std::nullopt;
  return Part{f->name, sqlIdentifier(f->name), true, f->kind == ogr::FieldKind::Real};
}

// A column the cells are kept apart by (BY, GROUP=): a number or a text.
std::optional<Part> key(const DatabaseTable& t, const std::string& name) {
  const ogr::Field* f = fieldNamed(t, name);
  if (!f) return std::nullopt;
  if (numericField(*f)) {
    const bool nan = f->kind == ogr::FieldKind::Real;
    // NaN is missing here, as NULL is: one value, sorted with NULL.
    const std::string q = sqlIdentifier(f->name);
    return Part{f->name, nan ? "NULLIF(" + q + ", 'NaN')" : q, true, nan};
  }
  if (f->kind != ogr::FieldKind::String) return std::nullopt;
  return Part{f->name, sqlIdentifier(f->name), false, false};
}

// Whether two rows of the answer hold the same values of keys [0, n).
bool sameKeys(const ogr::LayerData& d, size_t n, size_t a, size_t b) {
  for (size_t k = 0; k < n; ++k) {
    const ogr::Field& f = d.fields[k];
    if (f.kind == ogr::FieldKind::String) {
      if (f.texts[a] != f.texts[b]) return false;
    } else if (!(f.numbers[a] == f.numbers[b] ||
                 (std::isnan(f.numbers[a]) && std::isnan(f.numbers[b])))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<Aggregated> aggregateInDatabase(const ResolvedFile& file,
                                              const DataSetOptions& options,
                                              const AggregateRequest& req, std::string* whyNot) {
  whyNot->clear();
  if (file.kind != FileKind::Database || !isPostgresConnection(file.path)) return std::nullopt;
  if (!options.keep.empty() || !options.drop.empty() || !options.rename.empty() ||
      !options.format.empty() || options.obs >= 0 || options.firstobs != 1 ||
      !options.type.empty() || !trimBlanks(options.compute).empty() ||
      options.summarize.given() || !options.append.empty()) {
    *whyNot = "it has data set options other than WHERE=";
    return std::nullopt;
  }
  const DatabaseTable t = databaseTable(file);
  if (t.driver != "PostgreSQL") return std::nullopt;
  const std::optional<Part> x = coordinate(t, req.x, false), y = coordinate(t, req.y, true);
  if (!x || !y) {
    *whyNot = "X= and Y= are not numeric columns of the table";
    return std::nullopt;
  }
  // The keys: the BY variables, then GROUP= unless it is one of them.
  std::vector<Part> keys;
  std::vector<bool> descending;
  for (const host::ByVariable& b : req.by) {
    const std::optional<Part> k = key(t, b.name);
    if (!k) {
      *whyNot = "the BY variable " + b.name + " is not a number or text column of the table";
      return std::nullopt;
    }
    keys.push_back(*k);
    descending.push_back(b.descending);
  }
  const size_t byKeys = keys.size();
  if (!req.group.empty() &&
      std::none_of(keys.begin(), keys.end(),
                   [&](const Part& p) { return sameNoCase(p.name, req.group); })) {
    const std::optional<Part> k = key(t, req.group);
    if (!k) {
      *whyNot = "GROUP=" + req.group + " is not a number or text column of the table";
      return std::nullopt;
    }
    keys.push_back(*k);
  }
  std::string condition;
  if (!trimBlanks(options.where).empty()) {
    const SqlSelection s = databaseSelection(file, options, t);
    if (!s.whole || s.sql.empty()) {
      *whyNot = "WHERE= cannot be handed to the database whole";
      return std::nullopt;
    }
    condition = s.sql;
  }

  // Named as a failed read names it: these queries read the data set.
  const std::string what = "Data set " + file.library + "." + file.member + " (" +
                           shownName(hidePasswords(file.path, file.path)) + ", layer " +
                           shownName(file.object) + ")";
  const std::string from = " FROM " + tableSql(file.object);
  const ProgressTask task("waiting for the database: " + file.library + "." + file.member);
  auto ask = [&](const std::string& sql) {
    if (req.debug) req.debug(sql);
    return databaseQuery(file, sql, what);
  };
  // A coordinate that is a number: not NULL, NaN or infinite.
  const std::string valid = x->sql + " > -1e308 AND " + x->sql + " < 1e308 AND " + y->sql +
                            " > -1e308 AND " + y->sql + " < 1e308";

  // The points (rows with coordinates) and their extent.
  const std::string where =
      " WHERE " + (condition.empty() ? valid : "(" + condition + ") AND " + valid);
  const ogr::LayerData extent =
      ask("SELECT count(*) AS n, min(" + x->sql + ") AS x0, max(" + x->sql + ") AS x1, min(" +
          y->sql + ") AS y0, max(" + y->sql + ") AS y1" + from + where);
  if (extent.fids.size() != 1 || extent.fields.size() != 5 ||
      extent.fields[0].numbers.size() != 1)
    throw UserError(what + " cannot be read: the database's answer to the extent query is not "
                           "one row of five numbers.");
  auto at = [&](size_t i) {
    const ogr::Field& f = extent.fields[i];
    return f.numbers.empty() ? NAN : f.numbers[0];
  };
  Aggregated out;
  out.rows = static_cast<uint64_t>(std::max(0.0, at(0)));
  if (!req.always && out.rows <= req.pixels) return std::nullopt;

  double x0 = at(1), y0 = at(3);
  const double x1 = at(2);
  double y1 = at(4);
  // Degrees, when the extent is within the globe: then MAPEXTENT= is the
  // box shown, and under tiles the latitudes are binned as Mercator
  // stretches them.
  const bool degrees = x0 >= -180 && x1 <= 180 && y0 >= -90 && y1 <= 90;
  auto mercator = [](double lat) {
    lat = std::clamp(lat, -kMercatorLimit, kMercatorLimit) * M_PI / 180;
    return std::log(std::tan(M_PI / 4 + lat / 2));
  };
  std::string ySql = y->sql;
  if (degrees && req.mercator) {
    y0 = mercator(y0);
    y1 = mercator(y1);
    ySql = "ln(tan(pi() / 4 + radians(GREATEST(" + number(-kMercatorLimit) + ", LEAST(" +
           number(kMercatorLimit) + ", " + y->sql + "))) / 2))";
  }
  double spanX = x1 - x0, spanY = y1 - y0;
  // Cell numbers from 0 to n - 1 over the extent; with a box shown, from
  // the box's corner, a box's width either side of it kept apart (beyond,
  // the cells lie off the map).
  bool window = false;
  const std::vector<double>& w = req.window;
  if (degrees && w.size() == 4 && w[2] > w[0] && w[3] > w[1]) {
    window = true;
    x0 = w[0];
    spanX = w[2] - w[0];
    y0 = req.mercator ? mercator(w[1]) : w[1];
    spanY = (req.mercator ? mercator(w[3]) : w[3]) - y0;
  }

  std::string sql = "SELECT ";
  for (size_t k = 0; k < keys.size(); ++k) sql += keys[k].sql + " AS k" + std::to_string(k) + ", ";
  sql += "count(*) AS n, sum(" + x->sql + ") AS x, sum(" + y->sql + ") AS y" + from + where;
  std::string cells;
  if (std::isfinite(x0) && std::isfinite(y0)) {
    // Cells of `width` x `height` over the extent (one when it is a point),
    // numbered row by row in one integer (a key that hashes fast); with a
    // box shown, cells from a box's size before it to one after.
    const int64_t w = std::max(1, req.width), h = std::max(1, req.height);
    auto cell = [&](const std::string& v, double lo, double span, int64_t n) {
      // A hair less than n / span, so that the far edge falls in cell n - 1.
      const double k = span > 0 ? static_cast<double>(n) / span * (1 - 1e-9) : 0;
      const std::string c = "floor((" + v + " - " + number(lo) + ") * " + number(k) + ")";
      if (!window) return c;
      return "(GREATEST(" + std::to_string(-n) + ", LEAST(" + c + ", " + std::to_string(2 * n - 1) +
             ")) + " + std::to_string(n) + ")";
    };
    cells = "(" + cell(x->sql, x0, spanX, w) + " * " + std::to_string(window ? 3 * h : h) + " + " +
            cell(ySql, y0, spanY, h) + ")::int8";
  }
  std::string groupBy, orderBy;
  for (size_t i = 0; i < keys.size(); ++i) {
    groupBy += (groupBy.empty() ? "" : ", ") + keys[i].sql;
    if (i >= byKeys) continue;
    // The order the BY groups are read in: missing first, texts by their
    // bytes.
    orderBy += (orderBy.empty() ? "" : ", ") + keys[i].sql +
               (keys[i].numeric ? "" : " COLLATE \"C\"") +
               (descending[i] ? " DESC NULLS LAST" : " NULLS FIRST");
  }
  if (!cells.empty()) {
    groupBy += (groupBy.empty() ? "" : ", ") + cells;
    orderBy += (orderBy.empty() ? "" : ", ") + cells;
  }
  for (size_t i = byKeys; i < keys.size(); ++i)
    orderBy += (orderBy.empty() ? "" : ", ") + keys[i].sql +
               (keys[i].numeric ? "" : " COLLATE \"C\"") + " NULLS FIRST";
  if (!groupBy.empty()) sql += " GROUP BY " + groupBy;
  if (!orderBy.empty()) sql += " ORDER BY " + orderBy;
  ogr::LayerData d;
  if (std::isfinite(x0) && std::isfinite(y0)) d = ask(sql);
  const size_t n = d.fids.size();
  if (n > 0 && d.fields.size() != keys.size() + 3)
    throw UserError(what + " cannot be read: the database's answer to the cells query has " +
                    std::to_string(d.fields.size()) + " columns.");

  // Within each BY group, the first cell of every GROUP= value comes first,
  // in the order of the values: a plot's groups take their looks in the
  // order they first come (the database keeps no order of its rows).
  std::vector<size_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  if (keys.size() > byKeys && n > 0) {
    const ogr::Field& g = d.fields[byKeys];
    const bool text = g.kind == ogr::FieldKind::String;
    auto less = [&](size_t a, size_t b) {
      if (text) return g.texts[a] < g.texts[b];
      const double u = g.numbers[a], v = g.numbers[b];
      return std::isnan(u) ? !std::isnan(v) : (!std::isnan(v) && u < v);
    };
    std::vector<size_t> sorted;
    sorted.reserve(n);
    for (size_t lo = 0; lo < n;) {
      size_t hi = lo + 1;
      while (hi < n && sameKeys(d, byKeys, lo, hi)) ++hi;
      std::vector<size_t> firsts;
      for (size_t r = lo; r < hi; ++r) {
        bool seen = false;
        for (size_t f : firsts) {
          if (!less(f, r) && !less(r, f)) {
            seen = true;
            break;
          }
        }
        if (!seen) firsts.push_back(r);
      }
      std::sort(firsts.begin(), firsts.end(), less);
      sorted.insert(sorted.end(), firsts.begin(), firsts.end());
      for (size_t r = lo; r < hi; ++r)
        if (std::find(firsts.begin(), firsts.end(), r) == firsts.end()) sorted.push_back(r);
      lo = hi;
    }
    order = std::move(sorted);
  }

  auto table = std::make_shared<Table>();
  table->source = shownName(hidePasswords(file.path, file.path));
  table->rows = n;
  auto numbers = [&](const ogr::Field& f) {
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = f.numbers.empty() ? NAN : f.numbers[order[i]];
    return v;
  };
  for (size_t k = 0; k < keys.size(); ++k) {
    Column c;
    c.name = keys[k].name;
    if (keys[k].numeric) {
      c.num = n ? numbers(d.fields[k]) : std::vector<double>();
    } else {
      c.type = host::kCharacter;
      c.width = 1;
      c.offsets.push_back(0);
      for (size_t i = 0; i < n; ++i) {
        std::string_view v = d.fields[k].texts[order[i]];
        while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
        c.width = std::max(c.width, static_cast<int>(std::min<size_t>(v.size(), 32767)));
        c.arena.append(v);
        c.offsets.push_back(c.arena.size());
      }
    }
    table->columns.push_back(std::move(c));
  }
  if (n) table->rowCounts = numbers(d.fields[keys.size()]);
  // Each cell at the mean of its points (sums are what shards add up).
  for (int i = 0; i < 2; ++i) {
    Column c;
    c.name = i == 0 ? x->name : y->name;
    if (n) {
      c.num = numbers(d.fields[keys.size() + 1 + static_cast<size_t>(i)]);
      for (size_t r = 0; r < n; ++r) c.num[r] /= table->rowCounts[r];
    }
    table->columns.push_back(std::move(c));
  }
  out.table = std::move(table);
  return out;
}

}  // namespace qv::rt
