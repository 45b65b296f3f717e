#include "runtime/data/library.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/ascii.h"

#include "runtime/common/error.h"
#include "runtime/data/table.h"
#include "runtime/data/topojson.h"

namespace qv::rt {

namespace fs = std::filesystem;

namespace {

struct Extension {
  const char* ext;
  FileKind kind;
};

// In the order a member name looks for them.
constexpr Extension kExtensions[] = {
    {".csv", FileKind::Csv},         {".tsv", FileKind::Tsv},   {".geojson", FileKind::GeoJson},
    {".topojson", FileKind::TopoJson}, {".json", FileKind::Json},
};

void finish(ResolvedFile& r) {
  std::error_code ec;
  fs::path c = fs::canonical(r.path, ec);
  r.canonical = ec ? fs::absolute(r.path, ec).lexically_normal().string() : c.string();
  struct stat st {};
  r.regular = ::stat(r.path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

// A TopoJSON file (or a .json one holding a topology) read through its own
// member name gives its first object; name it, so that the data set is the
// same as the one reached as FILE_OBJECT. Only regular files are looked
// into (a pipe can be read once).
void nameFirstObject(ResolvedFile& r) {
  if (!r.regular || (r.kind != FileKind::TopoJson && r.kind != FileKind::Json)) return;
  std::vector<std::string> objects = topoJsonObjectNamesOfFile(r.path);
  if (!objects.empty()) r.object = objects.front();
}

}  // namespace

const char* fileKindName(FileKind k) {
  switch (k) {
    case FileKind::Csv: return "CSV";
    case FileKind::Tsv: return "TSV";
    case FileKind::GeoJson: return "GeoJSON";
    case FileKind::TopoJson: return "TopoJSON";
    case FileKind::Json: return "JSON";
  }
  return "";
}

std::string severalFilesWarning(const ResolvedFile& r) {
  if (r.alsoMatched.size() < 2) return {};
  std::string used = fs::path(r.path).filename().string();
  std::string w = "The data set name " + r.library + "." + r.member + " matches " +
                  std::to_string(r.alsoMatched.size()) + " files in the folder " + r.folder + ": ";
  for (size_t i = 0; i < r.alsoMatched.size(); ++i) w += (i ? ", " : "") + r.alsoMatched[i];
  return w + ". " + used + " is read.";
}

std::string memberNameOf(std::string_view stem) {
  std::string r;
  r.reserve(stem.size());
  for (char c : stem) {
    r += isNameChar(c) ? c : '_';
  }
  return upper(r);
}

void Libraries::assign(std::string_view name, const std::string& dir) {
  if (!isValidName(name))
    throw UserError("Library name '" + std::string(name) + "' is not a valid name.");
  std::string key = upper(name);
  std::error_code ec;
  if (dir.empty() || !fs::is_directory(dir, ec))
    throw UserError("Library " + key + " cannot be assigned: the folder '" + dir +
                    (fs::exists(dir, ec) ? "' is not a folder." : "' does not exist."));
  fs::path abs = fs::absolute(dir, ec);
  dirs_[key] = ec ? dir : abs.lexically_normal().string();
}

const std::string* Libraries::lookup(std::string_view name) const {
  auto it = dirs_.find(upper(name));
  return it == dirs_.end() ? nullptr : &it->second;
}

bool Libraries::remove(std::string_view name) { return dirs_.erase(upper(name)) > 0; }

ResolvedFile Libraries::resolve(const DataSetRef& ref, const std::string& programDir) const {
  ResolvedFile r;
  r.written = ref.text();
  std::error_code ec;

  if (!ref.path.empty()) {
    fs::path p(ref.path);
    if (p.is_relative()) p = fs::path(programDir.empty() ? "." : programDir) / p;
    if (!fs::exists(p, ec))
      throw UserError("Data set " + r.written + " does not exist: there is no file " + p.string() +
                      ".");
    if (fs::is_directory(p, ec))
      throw UserError("Data set " + r.written + " names a folder, not a data file.");
    std::string fname = p.filename().string();
    r.path = p.string();
    r.library = "WORK";
    bool known = false;
    for (const auto& e : kExtensions) {
      if (endsWithNoCase(fname, e.ext)) {
        r.kind = e.kind;
        r.member = memberNameOf(std::string_view(fname).substr(0, fname.size() - std::strlen(e.ext)));
        known = true;
        break;
      }
    }
    if (!known && endsWithNoCase(fname, ".txt")) {
      r.kind = FileKind::Csv;
      r.member = memberNameOf(std::string_view(fname).substr(0, fname.size() - 4));
      known = true;
    }
    if (!known)
      throw UserError("Data set " + r.written +
                      ": the file type is not known (a data file ends in .csv, .tsv, .txt, "
                      ".geojson, .topojson or .json).");
    finish(r);
    nameFirstObject(r);
    return r;
  }

  std::string lib = ref.library.empty() ? std::string("WORK") : upper(ref.library);
  const std::string* dir = lookup(lib);
  if (!dir)
    throw UserError("Data set " + r.written + " cannot be found: library " + lib +
                    " is not assigned.");
  std::string wanted = memberNameOf(ref.member);

  // List the folder once; pick per extension, in order. Among several files
  // that normalize alike, one spelled exactly as written wins, else the
  // first by name, so the choice does not depend on the folder's order.
  std::vector<std::string> files;
  for (fs::directory_iterator it(*dir, ec), end; !ec && it != end; it.increment(ec))
    files.push_back(it->path().filename().string());
  if (ec)
    throw UserError("Data set " + r.written + " cannot be found: the folder " + *dir +
                    " of library " + lib + " cannot be read (" + ec.message() + ").");
  // Every data file the name matches, by extension order, then by name:
  // when there are several, the caller tells the user which one is read.
  std::vector<std::string> matched;
  std::string chosen, folderNamed;  // folderNamed: a folder with a data file's name
  for (const auto& e : kExtensions) {
    std::string best;
    bool bestExact = false;
    size_t elen = std::strlen(e.ext);
    std::vector<std::string> ofKind;
    for (const auto& f : files) {
      if (!endsWithNoCase(f, e.ext)) continue;
      if (endsWithNoCase(f, ".schema.json")) continue;  // a sidecar, not a data set
      std::string_view stem = std::string_view(f).substr(0, f.size() - elen);
      if (memberNameOf(stem) != wanted) continue;
      if (fs::is_directory(fs::path(*dir) / f, ec)) {
        if (folderNamed.empty()) folderNamed = f;
        continue;
      }
      ofKind.push_back(f);
      bool exact = sameNoCase(stem, ref.member);
      if (best.empty() || (exact && !bestExact) || (exact == bestExact && f < best)) {
        best = f;
        bestExact = exact;
      }
    }
    std::sort(ofKind.begin(), ofKind.end());
    matched.insert(matched.end(), ofKind.begin(), ofKind.end());
    if (!best.empty() && chosen.empty()) {
      chosen = best;
      r.path = (fs::path(*dir) / best).string();
      r.kind = e.kind;
    }
  }
  if (!chosen.empty()) {
    r.library = lib;
    r.member = wanted;
    if (matched.size() > 1) r.alsoMatched = std::move(matched);
    r.folder = *dir;
    finish(r);
    nameFirstObject(r);
    return r;
  }

  // FILE_OBJECT: object OBJECT of topology FILE (a .topojson file, else a
  // .json one), files taken in name order.
  std::string nearMiss;  // a topology of the right name without the object
  for (const char* ext : {".topojson", ".json"}) {
    std::vector<std::string> candidates;
    size_t elen = std::strlen(ext);
    for (const auto& f : files) {
      if (!endsWithNoCase(f, ext) || endsWithNoCase(f, ".schema.json")) continue;
      std::string stem = memberNameOf(std::string_view(f).substr(0, f.size() - elen));
      if (wanted.size() > stem.size() + 1 && wanted.compare(0, stem.size(), stem) == 0 &&
          wanted[stem.size()] == '_')
        candidates.push_back(f);
    }
    std::sort(candidates.begin(), candidates.end());
    for (const auto& f : candidates) {
      ResolvedFile c = r;
      c.path = (fs::path(*dir) / f).string();
      c.kind = std::strcmp(ext, ".json") == 0 ? FileKind::Json : FileKind::TopoJson;
      c.library = lib;
      c.member = wanted;
      finish(c);
      if (!c.regular) continue;
      std::string rest = wanted.substr(memberNameOf(std::string_view(f).substr(0, f.size() - elen)).size() + 1);
      std::vector<std::string> objects = topoJsonObjectNamesOfFile(c.path);
      for (const auto& object : objects) {
        if (memberNameOf(object) == rest) {
          c.object = object;
          return c;
        }
      }
      if (nearMiss.empty() && !objects.empty()) {
        nearMiss = "the topology " + f + " has no object " + rest + " (its objects:";
        for (const auto& object : objects) nearMiss += " " + object;
        nearMiss += ")";
      }
    }
  }
  if (!nearMiss.empty())
    throw UserError("Data set " + r.written + " does not exist: " + nearMiss + " in the folder " +
                    *dir + " (library " + lib + ").");
  if (!folderNamed.empty())
    throw UserError("Data set " + r.written + " cannot be read: " + folderNamed +
                    " in the folder " + *dir + " (library " + lib + ") is a folder, not a data file.");
  throw UserError("Data set " + r.written + " does not exist: no file " + ref.member +
                  ".csv, .tsv, .geojson, .topojson or .json in the folder " + *dir +
                  " (library " + lib + ").");
}

}  // namespace qv::rt
