#include "runtime/data/readers.h"

#include <sys/stat.h>

#include "runtime/common/error.h"
#include "runtime/data/csv.h"

namespace qv::rt {

namespace {

Table readCsv(const ResolvedFile& f, const ReadSettings& s, const NoteFn& note) {
  return readDelimitedFile(f.path, ',', s.names, note);
}

Table readTsv(const ResolvedFile& f, const ReadSettings& s, const NoteFn& note) {
  return readDelimitedFile(f.path, '\t', s.names, note);
}

Table readJsonFamily(const ResolvedFile& f, const ReadSettings&, const NoteFn&) {
  throw UserError("Data set " + (f.written.empty() ? f.path : f.written) + " (" + f.path +
                  ") is a GeoJSON/TopoJSON file; these are not read yet.");
}

}  // namespace

TableReader readerFor(FileKind kind) {
  switch (kind) {
    case FileKind::Csv: return readCsv;
    case FileKind::Tsv: return readTsv;
    case FileKind::GeoJson:
    case FileKind::TopoJson:
    case FileKind::Json: return readJsonFamily;
  }
  return readJsonFamily;
}

std::shared_ptr<const Table> DataCache::load(const ResolvedFile& file,
                                             const ReadSettings& settings, const NoteFn& note) {
  std::string key = file.canonical + '\n' + file.object + '\n' +
                    (settings.names == VarNameRule::Any ? "A" : "S");
  int64_t size = -1, mtime = 0;
  struct stat st {};
  if (file.regular && ::stat(file.path.c_str(), &st) == 0) {
    size = static_cast<int64_t>(st.st_size);
    mtime = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  }
  auto it = entries_.find(key);
  if (it != entries_.end() && (!file.regular || (it->second.size == size && it->second.mtimeNs == mtime)))
    return it->second.table;
  auto table = std::make_shared<const Table>(readerFor(file.kind)(file, settings, note));
  ++parses_;
  entries_[key] = Entry{table, size, mtime};
  return table;
}

}  // namespace qv::rt
