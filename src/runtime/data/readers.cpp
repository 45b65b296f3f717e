#include "runtime/data/readers.h"

#include <sys/stat.h>

#include "common/error.h"
#include "common/progress.h"
#include "runtime/data/csv.h"
#include "runtime/data/geojson.h"
#include "runtime/data/ogr.h"
#include "runtime/data/schema.h"

namespace qv::rt {

namespace {

Table readCsv(const ResolvedFile& f, const ReadSettings& s, const NoteFn& note) {
  return readDelimitedFile(f.path, ',', s.names, note);
}

Table readTsv(const ResolvedFile& f, const ReadSettings& s, const NoteFn& note) {
  return readDelimitedFile(f.path, '\t', s.names, note);
}

// GeoJSON, TopoJSON and .json files alike: the document's "type" decides.
// A .json file may also hold a list of records, read as a plain table.
Table readGeoData(const ResolvedFile& f, const ReadSettings& s, const NoteFn& note) {
  return readGeoDataFile(f.path, f.object, s.names, note, f.kind == FileKind::Json);
}

Table readGdal(const ResolvedFile& f, const ReadSettings& s, const NoteFn& note) {
  return readOgrTable(f, s.filter, s.names, note, s.warn);
}

}  // namespace

TableReader readerFor(FileKind kind) {
  switch (kind) {
    case FileKind::Csv: return readCsv;
    case FileKind::Tsv: return readTsv;
    case FileKind::GeoJson:
    case FileKind::TopoJson:
    case FileKind::Json: return readGeoData;
    default: return readGdal;
  }
}

namespace {

std::string stampOf(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return "-";
  return std::to_string(st.st_size) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

}  // namespace

std::shared_ptr<const Table> DataCache::load(const ResolvedFile& file,
                                             const ReadSettings& settings, const NoteFn& note) {
  std::string key = file.canonical + '\n' + file.object + '\n' +
                    (settings.names == VarNameRule::Any ? "A" : "S") + '\n' + settings.filter;
  auto it = entries_.find(key);
  if (it != entries_.end() && !file.regular) return it->second.table;
  std::string stamp;
  if (file.regular) {
    stamp = stampOf(file.path);
    if (file.kind == FileKind::Csv || file.kind == FileKind::Tsv) {
      stamp += '|';
      stamp += stampOf(findSidecar(file.path));
    }
    if (file.kind == FileKind::Shp) {  // its attributes are in the .dbf beside it
      stamp += '|';
      stamp += stampOf(file.path.substr(0, file.path.size() - 4) + ".dbf");
    }
  }
  if (it != entries_.end() && it->second.stamp == stamp) return it->second.table;
  // The progress line says what is read; a delimited file's reader counts
  // its bytes.
  const std::string name = file.library + "." + file.member;
  uint64_t bytes = 0;
  struct stat st {};
  if (file.regular && (file.kind == FileKind::Csv || file.kind == FileKind::Tsv) &&
      ::stat(file.path.c_str(), &st) == 0)
    bytes = static_cast<uint64_t>(st.st_size);
  const ProgressTask task(
      file.kind == FileKind::Database ? "waiting for the database: " + name : "reading " + name,
      bytes, bytes ? "MB" : "");
  auto table = std::make_shared<const Table>(readerFor(file.kind)(file, settings, note));
  ++parses_;
  entries_[key] = Entry{table, stamp};
  return table;
}

}  // namespace qv::rt
