#include "runtime/data/ogr.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <mutex>
#include <new>
#include <optional>

#include "common/ascii.h"
#include "common/error.h"
#include "common/filebuf.h"
#include "common/remote_cancel.h"
#include "common/shown_name.h"
#include "runtime/data/csv.h"
#include "runtime/data/geodoc.h"
#include "runtime/data/ogr_api.h"
#include "runtime/data/where.h"

// Where the module is installed, relative to the command's folder (CMake
// passes it, "../lib/qortavlo" for the usual layout).
#ifndef QV_OGR_FROM_BINDIR
#error "QV_OGR_FROM_BINDIR must give the installed module's folder"
#endif

namespace qv::rt {

namespace fs = std::filesystem;

namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kModuleName = "qortavlo-ogr.so";

// The module is looked for where QORTAVLO_OGR_MODULE says, else beside the
// executable (the build folder), else where an installation puts it
// relative to the executable. Loaded once; a failure is kept and told again.
struct Module {
  const ogr::Api* api = nullptr;
  std::string error;
};

const Module& module() {
  static Module m;
  static std::once_flag once;
  std::call_once(once, [] {
    std::vector<std::string> places;
    if (const char* env = std::getenv("QORTAVLO_OGR_MODULE"); env && *env) {
      places.push_back(env);
    } else {
      std::error_code ec;
      const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
      if (!ec) {
        const fs::path bin = exe.parent_path();
        places.push_back((bin / kModuleName).string());
        places.push_back((bin / QV_OGR_FROM_BINDIR / kModuleName).lexically_normal().string());
      }
    }
    std::string tried;
    for (const auto& p : places) {
      std::error_code ec;
      if (!fs::exists(p, ec)) {
        tried += (tried.empty() ? "" : ", ") + p;
        continue;
      }
      void* h = ::dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!h) {
        m.error = "the GDAL reader " + p + " cannot be loaded (" + ::dlerror() + ")";
        return;
      }
      auto entry = reinterpret_cast<const ogr::Api* (*)()>(::dlsym(h, "qortavlo_ogr_api"));
      const ogr::Api* api = entry ? entry() : nullptr;
      if (!api || api->version != ogr::kApiVersion) {
        m.error = "the GDAL reader " + p + " does not belong to this qortavlo";
        return;
      }
      m.api = api;
      setRemoteCancel(api->cancelQueries);
      return;
    }
    m.error = "the GDAL reader " + std::string(kModuleName) + " is not installed (looked for " +
              tried + ")";
  });
  return m;
}

const ogr::Api& api(const std::string& what) {
  const Module& m = module();
  if (!m.api) throw UserError(what + " cannot be read: " + m.error + ".");
  return *m.api;
}

}  // namespace

std::string ogrVersion(std::string* error) {
  const Module& m = module();
  if (!m.api) {
    *error = m.error;
    return "";
  }
  return m.api->gdalVersion();
}

namespace {

ogr::OpenRequest requestFor(const std::string& source, FileKind kind) {
  ogr::OpenRequest r;
  r.source = source;
  switch (kind) {
    case FileKind::Shp: r.drivers = {"ESRI Shapefile"}; break;
    case FileKind::Dbf:
      // A quoted path reads the file it names: the .dbf, not a Shapefile
      // beside it.
      r.drivers = {"ESRI Shapefile"};
      r.tableAlone = true;
      break;
    case FileKind::Gpkg: r.drivers = {"GPKG"}; break;
    case FileKind::Fgb: r.drivers = {"FlatGeobuf"}; break;
    case FileKind::Gml:
      r.drivers = {"GML"};
      // Reading is no reason to write a schema file into the user's folder.
      r.openOptions = {"WRITE_GFS=NO"};
      break;
    case FileKind::Kml: r.drivers = {"LIBKML", "KML"}; break;
    case FileKind::Database:
      // Tables without geometry are members too.
      r.openOptions = {"LIST_ALL_TABLES=YES"};
      // A server that does not answer, or a statement that does not end,
      // does not hold the run for ever.
      if (isPostgresConnection(source)) {
        r.source = withConnectTimeout(source);
        r.openOptions.push_back("PRELUDE_STATEMENTS=" + statementTimeoutStatement());
      }
      break;
    default: break;
  }
  return r;
}

// GDAL's reason as the end of a sentence: one line, blanks runs made one
// (libpq indents and tabs its lines), a closing mark, and no password the
// connection string carries.
std::string reasonText(const std::string& reason, const std::string& source) {
  std::string r;
  for (char c : reason) {
    const bool blank = c == '\n' || c == '\r' || c == '\t' || c == ' ';
    if (!blank) r += c;
    else if (!r.empty() && r.back() != ' ') r += ' ';
  }
  while (!r.empty() && r.back() == ' ') r.pop_back();
  r = shownName(hidePasswords(r, source));
  if (r.empty() || (r.back() != '.' && r.back() != '?' && r.back() != '!')) r += '.';
  return r;
}

// Throws what the reader's failure means for `what` (a data set, a source)
// whose reading `action` ("read", "opened") failed: the host's memory
// message for memory, else a UserError naming it and the reason.
[[noreturn]] void fail(const std::string& what, const char* action, const ogr::Failure& f,
                       const std::string& source, bool vertices = true) {
  switch (f.fault) {
    case ogr::Fault::NoMemory: throw std::bad_alloc();
    case ogr::Fault::TooLarge: throw UserError(geo::tableTooLarge(what, f.bytes, vertices));
    case ogr::Fault::NotRegular:
      throw UserError(what + " cannot be " + action + ": " + shownName(f.text) + " is " +
                      notRegularFile(f.mode) + ", not a regular file.");
    case ogr::Fault::Reason: break;
  }
  throw UserError(what + " cannot be " + action + ": " + reasonText(f.text, source));
}

// The first bytes (at most `limit`) and the size of a file GDAL is to read,
// for a look at its header; nothing when it cannot be opened (GDAL then
// tells). UserError when it is no regular file.
struct FileStart {
  std::string bytes;
  uint64_t size = 0;
};

std::optional<FileStart> readStart(const std::string& path, size_t limit, const std::string& what) {
  const char* kind = nullptr;
  const int fd = openRegularFd(path, &kind);
  if (kind)
    throw UserError(what + " cannot be read: " + shownName(path) + " is " + kind +
                    ", not a regular file.");
  if (fd < 0) return std::nullopt;
  FileStart start;
  start.bytes.resize(limit);
  size_t got = 0;
  while (got < limit) {
    const ssize_t n = ::pread(fd, start.bytes.data() + got, limit - got, static_cast<off_t>(got));
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  start.bytes.resize(got);
  start.size = static_cast<uint64_t>(::lseek(fd, 0, SEEK_END));
  ::close(fd);
  return start;
}

// What is wrong with a .dbf file's header, as GDAL would find it without
// saying so ("" when nothing): its lengths must fit one another and the
// file. `name` is the file's name for the message.
std::string dbfFault(const FileStart& f, const std::string& name) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(f.bytes[i]); };
  if (f.bytes.size() < 32)
    return name + " is cut short (" + std::to_string(f.size) + " bytes; a dBase header takes 32).";
  const uint64_t records = byte(4) | byte(5) << 8 | byte(6) << 16 | uint64_t{byte(7)} << 24;
  const unsigned headerLength = byte(8) | byte(9) << 8, recordLength = byte(10) | byte(11) << 8;
  if (headerLength < 32)
    return name + "'s header is damaged: it gives its own length as " +
           std::to_string(headerLength) + " bytes, less than the 32 a dBase header takes.";
  if (f.size < headerLength)
    return name + " is cut short (" + std::to_string(f.size) + " bytes, its header says " +
           std::to_string(headerLength) + " before the first record).";
  // The field descriptors, up to the header's end mark: each field's width
  // (two bytes for texts, one with the decimals for numbers).
  uint64_t widths = 0;
  const size_t end = std::min<size_t>(headerLength, f.bytes.size());
  for (size_t at = 32; at + 32 <= end && byte(at) != 0x0D; at += 32) {
    const char type = f.bytes[at + 11];
    widths += type == 'N' || type == 'F' ? byte(at + 16) : byte(at + 16) | byte(at + 17) << 8;
  }
  if (recordLength == 0 || widths + 1 > recordLength)
    return name + "'s header is damaged: its records are " + std::to_string(recordLength) +
           " bytes long, too short for its fields (" + std::to_string(widths) +
           " bytes and the deletion mark).";
  const uint64_t said = headerLength + records * recordLength;
  if (f.size < said)
    return name + " is cut short (" + std::to_string(f.size) + " bytes, its header says " +
           std::to_string(said) + ").";
  return {};
}

// Days (or seconds) since 1 January 1960 from an ISO date, date-time or time.
double isoValue(const std::string& t, ogr::FieldKind kind) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, ss = 0;
  if (kind == ogr::FieldKind::Time) {
    if (std::sscanf(t.c_str(), "%d:%d:%d", &hh, &mm, &ss) != 3) return kMissing;
    return hh * 3600.0 + mm * 60.0 + ss;
  }
  if (std::sscanf(t.c_str(), "%d-%d-%d", &y, &m, &d) != 3) return kMissing;
  const double days = static_cast<double>(daysFrom1960(y, m, d));
  if (kind == ogr::FieldKind::Date) return days;
  if (t.size() > 10) std::sscanf(t.c_str() + 11, "%d:%d:%d", &hh, &mm, &ss);
  return days * 86400 + hh * 3600.0 + mm * 60.0 + ss;
}

// Fills column `k` with a field's values, each repeated over its feature's
// rows (`rowsOf`, features without rows left out), or with `runs` (the runs
// of the features' rows) once per feature with rows.
template <class RowsOf>
void fillColumn(Column& k, const ogr::Field& f, size_t nf, size_t rows, const RowsOf& rowsOf,
                const std::shared_ptr<const std::vector<size_t>>& runs) {
  using ogr::FieldKind;
  if (runs) rows = runs->size() - 1;
  k.runs = runs;
  auto copies = [&](size_t i) -> size_t { return runs ? rowsOf(i) > 0 : rowsOf(i); };
  const bool dated = f.kind == FieldKind::Date || f.kind == FieldKind::DateTime ||
                     f.kind == FieldKind::Time;
  if (f.kind == FieldKind::Integer || f.kind == FieldKind::Real || dated) {
    k.type = host::kNumeric;
    k.width = 8;
    k.num.reserve(rows);
    for (size_t i = 0; i < nf; ++i) {
      const double v = dated ? isoValue(f.texts[i], f.kind) : f.numbers[i];
      k.num.insert(k.num.end(), copies(i), v);
    }
    if (f.kind == FieldKind::Date) k.format = "DATE", k.formatWidth = 9;
    if (f.kind == FieldKind::DateTime) k.format = "DATETIME", k.formatWidth = 19;
    if (f.kind == FieldKind::Time) k.format = "TIME", k.formatWidth = 8;
    return;
  }
  k.type = host::kCharacter;
  k.width = 1;
  k.offsets.reserve(rows + 1);
  k.offsets.push_back(0);
  for (size_t i = 0; i < nf; ++i) {
    std::string_view t = f.texts[i];
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    k.width = std::max(k.width, static_cast<int>(std::min<size_t>(t.size(), 32767)));
    for (size_t r = copies(i); r > 0; --r) {
      k.arena.append(t);
      k.offsets.push_back(k.arena.size());
    }
  }
}

Table ogrTable(ogr::LayerData& d, const std::string& file, VarNameRule rule, const NoteFn& note) {
  const size_t nf = d.fids.size();
  // Rows per feature: a plain table has one; a map layer one per point
  // and one more after each line part.
  std::vector<size_t> rowCount(nf, 1);
  if (d.hasGeometry) {
    for (size_t f = 0; f < nf; ++f) {
      size_t n = 0;
      for (uint64_t p = d.firstPart[f]; p < d.firstPart[f + 1]; ++p)
        n += d.firstPoint[p + 1] - d.firstPoint[p] + (d.partKind[p] == ogr::PartKind::Line);
      rowCount[f] = n;
    }
  }
  size_t rows = 0;
  for (size_t n : rowCount) rows += n;
  auto rowsOf = [&](size_t f) { return rowCount[f]; };
  // A map layer's attributes are held once per feature with rows.
  std::shared_ptr<std::vector<size_t>> runs;
  if (d.hasGeometry) {
    runs = std::make_shared<std::vector<size_t>>();
    size_t row = 0;
    for (size_t f = 0; f < nf; row += rowCount[f++])
      if (rowCount[f] > 0) runs->push_back(row);
    runs->push_back(rows);
  }

  // ID: the "id" (or "ID") attribute, else the feature id.
  int idField = -1;
  if (d.hasGeometry)
    for (size_t i = 0; i < d.fields.size() && idField < 0; ++i)
      if (d.fields[i].name == "id" || d.fields[i].name == "ID") idField = static_cast<int>(i);

  std::vector<std::string> header;
  if (d.hasGeometry) header = {"ID", "SEGMENT", "LONG", "LAT"};
  std::vector<size_t> kept;
  for (size_t i = 0; i < d.fields.size(); ++i) {
    if (static_cast<int>(i) == idField) continue;
    kept.push_back(i);
    header.push_back(d.fields[i].name);
  }
  if (d.hasZ) header.push_back("ALT");
  std::vector<std::string> names = makeVariableNames(header, rule, file, note);

  Table t;
  t.source = file;
  t.crs = d.crs;
  t.rows = rows;
  const size_t lead = d.hasGeometry ? 1 : 0;
  t.columns.resize(lead + kept.size());
  if (d.hasGeometry) {
    ogr::Field id;
    if (idField >= 0) {
      id = std::move(d.fields[static_cast<size_t>(idField)]);
      // A text id that always reads as a number is numeric, as in GeoJSON.
      if (id.kind == ogr::FieldKind::String) {
        std::vector<double> numbers(nf);
        bool numeric = true;
        for (size_t f = 0; f < nf && numeric; ++f)
          numeric = trimBlanks(id.texts[f]).empty() ? (numbers[f] = kMissing, true)
                                           : cellNumber(id.texts[f], &numbers[f]);
        if (numeric) id.kind = ogr::FieldKind::Real, id.numbers = std::move(numbers);
      } else if (id.kind != ogr::FieldKind::Integer && id.kind != ogr::FieldKind::Real) {
        id.kind = ogr::FieldKind::String;
      }
    } else {
      id.kind = ogr::FieldKind::Integer;
      id.numbers.assign(d.fids.begin(), d.fids.end());
    }
    fillColumn(t.columns[0], id, nf, rows, rowsOf, runs);
    t.columns[0].format.clear();
    t.columns[0].name = names[0];
  }
  const size_t firstField = d.hasGeometry ? 4 : 0;
  for (size_t i = 0; i < kept.size(); ++i) {
    Column& k = t.columns[lead + i];
    fillColumn(k, d.fields[kept[i]], nf, rows, rowsOf, runs);
    k.name = names[firstField + i];
    std::vector<double>().swap(d.fields[kept[i]].numbers);
    std::vector<std::string>().swap(d.fields[kept[i]].texts);
  }
  if (!d.hasGeometry) return t;

  // SEGMENT holds one number per part with rows.
  Column seg, lon, lat, alt;
  seg.name = names[1];
  lon.name = names[2];
  lat.name = names[3];
  auto segmentRuns = std::make_shared<std::vector<size_t>>();
  for (Column* c : {&lon, &lat}) c->num.reserve(rows);
  if (d.hasZ) alt.num.reserve(rows);
  for (size_t f = 0; f < nf; ++f) {
    double segment = 0;
    for (uint64_t p = d.firstPart[f]; p < d.firstPart[f + 1]; ++p) {
      ++segment;
      const bool line = d.partKind[p] == ogr::PartKind::Line;
      if (d.firstPoint[p] == d.firstPoint[p + 1] && !line) continue;
      segmentRuns->push_back(lon.num.size());
      seg.num.push_back(segment);
      for (uint64_t i = d.firstPoint[p]; i < d.firstPoint[p + 1]; ++i) {
        lon.num.push_back(d.x[i]);
        lat.num.push_back(d.y[i]);
        if (d.hasZ) alt.num.push_back(d.z[i]);
      }
      if (line) {
        for (Column* c : {&lon, &lat}) c->num.push_back(kMissing);
        if (d.hasZ) alt.num.push_back(kMissing);
      }
    }
  }
  segmentRuns->push_back(lon.num.size());
  seg.runs = std::move(segmentRuns);
  t.columns.push_back(std::move(seg));
  t.columns.push_back(std::move(lon));
  t.columns.push_back(std::move(lat));
  if (d.hasZ) {
    alt.name = names.back();
    t.columns.push_back(std::move(alt));
  }
  return t;
}

}  // namespace

std::vector<std::string> ogrLayerNames(const std::string& source, FileKind kind,
                                       const std::string& what) {
  const ogr::Api& a = api(what);
  std::vector<std::string> names;
  ogr::Failure failure;
  if (!a.layers(requestFor(source, kind), &names, &failure)) fail(what, "opened", failure, source);
  return names;
}

std::string databaseCondition(const ResolvedFile& file, const DataSetOptions& options) {
  if (file.kind != FileKind::Database || trimBlanks(options.where).empty() ||
      !options.rename.empty() || options.firstobs != 1 || options.obs >= 0)
    return {};
  std::unique_ptr<WhereExpr> expr;
  try {
    expr = parseWhere(options.where);
  } catch (const UserError&) {
    return {};  // told when the data set is opened
  }
  const std::string what = "Data set " + file.library + "." + file.member;
  std::vector<ogr::Field> fields;
  std::string driver;
  ogr::Failure failure;
  if (!api(what).fields(requestFor(file.path, file.kind), file.object, &fields, &driver, &failure))
    fail(what, "read", failure, file.path);
  if (driver != "PostgreSQL") return {};
  // The columns TYPE= converts and COMPUTE= makes are not the database's:
  // a condition on them is evaluated on the rows read.
  std::vector<std::string> made;
  for (const TypeChange& t : options.type) made.push_back(t.var);
  if (!trimBlanks(options.compute).empty()) {
    try {
      for (const ComputeItem& item : parseCompute(options.compute, what)) made.push_back(item.name);
    } catch (const UserError&) {
      return {};  // told when the data set is opened
    }
  }
  // Only a field that keeps its name in the table: not one the map rows'
  // columns rename, nor one of two that differ only in letter case.
  return expr
      ->postgresCondition([&](std::string_view name) -> SqlColumn {
        for (const char* own : {"ID", "SEGMENT", "LONG", "LAT", "ALT"})
          if (sameNoCase(name, own)) return {};
        for (const std::string& m : made)
          if (sameNoCase(name, m)) return {};
        const ogr::Field* found = nullptr;
        for (const auto& f : fields) {
          if (!sameNoCase(f.name, name)) continue;
          if (found) return {};
          found = &f;
        }
        if (!found || !isValidName(found->name)) return {};
        SqlColumn c;
        c.name = found->name;
        if (found->kind == ogr::FieldKind::Integer && found->bits != 1)
          c.type = found->bits == 64 ? SqlColumn::Type::BigInteger : SqlColumn::Type::Integer;
        else if (found->kind == ogr::FieldKind::Real && found->bits == 32)
          c.type = SqlColumn::Type::Single;
        else if (found->kind == ogr::FieldKind::Real && found->width > 0)
          c.type = SqlColumn::Type::Decimal, c.precision = found->width, c.scale = found->precision;
        else if (found->kind == ogr::FieldKind::Real)
          c.type = SqlColumn::Type::Double;
        return c;
      })
      .sql;
}

Table readOgrTable(const ResolvedFile& file, const std::string& filter, VarNameRule names,
                   const NoteFn& note, const NoteFn& warn) {
  const std::string shown = shownName(hidePasswords(file.path, file.path));
  const std::string what = "Data set " + file.library + "." + file.member + " (" + shown +
                           (file.object.empty() ? "" : ", layer " + shownName(file.object)) + ")";
  // GDAL reads a Shapefile without its .dbf as one without attributes;
  // that would lose the names and the ids quietly.
  std::string dbf = file.kind == FileKind::Dbf ? file.path : "";
  if (file.kind == FileKind::Shp) {
    const std::string stem = file.path.substr(0, file.path.size() - 4);
    std::error_code ec;
    for (const char* ext : {".dbf", ".DBF"})
      if (dbf.empty() && fs::exists(stem + ext, ec)) dbf = stem + ext;
    if (dbf.empty())
      throw UserError(what + " cannot be read: the Shapefile has no " +
                      shownName(fs::path(stem).filename().string()) +
                      ".dbf beside it, which holds its attributes.");
    // The header gives the file's length (bytes 24-27, big-endian, in
    // 16-bit words): a file cut short says so rather than failing mid-way.
    if (const auto shp = readStart(file.path, 28, what)) {
      const auto byte = [&](size_t i) { return uint64_t{static_cast<unsigned char>(shp->bytes[i])}; };
      const bool whole = shp->bytes.size() == 28;
      const uint64_t said =
          whole ? 2 * (byte(24) << 24 | byte(25) << 16 | byte(26) << 8 | byte(27)) : 0;
      if (!whole || shp->size < said)
        throw UserError(what + " cannot be read: the .shp file is cut short (" +
                        std::to_string(shp->size) + " bytes" +
                        (said ? ", its header says " + std::to_string(said) : "") + ").");
    }
  }
  // A .dbf whose lengths do not fit would be read as no table (or, beside a
  // Shapefile, as none of its attributes) with a reason about another file.
  if (!dbf.empty()) {
    if (const auto start = readStart(dbf, 65536, what))
      if (std::string fault = dbfFault(*start, shownName(fs::path(dbf).filename().string()));
          !fault.empty())
        throw UserError(what + " cannot be read: " + fault);
  }
  const ogr::Api& a = api(what);
  ogr::LayerData data;
  ogr::Failure failure;
  if (!a.read(requestFor(file.path, file.kind), file.object, filter,
              {geo::kMaxVertices, geo::kMaxTableBytes}, &data, &failure))
    fail(what, "read", failure, file.path, data.hasGeometry);
  if (!data.unreadSystemFile.empty() && warn)
    warn("The coordinate system in " + shownName(data.unreadSystemFile) + " is not understood; " +
         file.library + "." + file.member + " is read as longitude and latitude.");
  return ogrTable(data, shown, names, note);
}

}  // namespace qv::rt
