#include "runtime/data/library.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/ascii.h"
#include "common/error.h"
#include "common/shown_name.h"
#include "runtime/data/connection.h"
#include "runtime/data/ogr.h"
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
    {".topojson", FileKind::TopoJson}, {".json", FileKind::Json},   {".shp", FileKind::Shp},
    {".gpkg", FileKind::Gpkg},         {".fgb", FileKind::Fgb},     {".gml", FileKind::Gml},
    {".kml", FileKind::Kml},           {".dbf", FileKind::Dbf},
};

// Among names that read as the same member: whether `name` (spelled as the
// user wrote it when `exact`) is to be taken over `best` ("" for none yet):
// one spelled as written wins, else the first by name, so that the choice
// does not depend on the order a folder or database lists them in.
bool preferred(const std::string& name, bool exact, const std::string& best, bool bestExact) {
  return best.empty() || (exact && !bestExact) || (exact == bestExact && name < best);
}

// A .dbf beside a .shp of the same stem is the Shapefile's own table.
bool shapefileTable(const std::vector<std::string>& files, std::string_view dbf) {
  std::string_view stem = dbf.substr(0, dbf.size() - 4);
  for (const auto& f : files)
    if (f.size() == dbf.size() && endsWithNoCase(f, ".shp") &&
        sameNoCase(std::string_view(f).substr(0, f.size() - 4), stem))
      return true;
  return false;
}

// Files of a folder, by name.
std::vector<std::string> filesOf(const std::string& dir, std::error_code& ec) {
  std::vector<std::string> files;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
    files.push_back(it->path().filename().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The Shapefiles of a folder, by name (the layers of a folder of them).
std::vector<std::string> shapefilesOf(const std::string& dir) {
  std::error_code ec;
  std::vector<std::string> layers;
  for (const auto& f : filesOf(dir, ec))
    if (endsWithNoCase(f, ".shp") && fs::is_regular_file(fs::path(dir) / f, ec))
      layers.push_back(f.substr(0, f.size() - 4));
  return layers;
}

void finish(ResolvedFile& r) {
  std::error_code ec;
  fs::path c = fs::canonical(r.path, ec);
  r.canonical = ec ? fs::absolute(r.path, ec).lexically_normal().string() : c.string();
  struct stat st {};
  r.regular = ::stat(r.path.c_str(), &st) != 0 || S_ISREG(st.st_mode);
}

// The objects (layers) of a file that holds several: a topology or a
// GeoPackage.
std::vector<std::string> objectsOf(const ResolvedFile& r) {
  if (r.kind == FileKind::Gpkg)
    return ogrLayerNames(r.path, r.kind,
                         "Data set " + r.library + "." + r.member + " (" + shownName(r.path) + ")");
  return topoJsonObjectNamesOfFile(r.path);
}

// A TopoJSON file (or a .json one holding a topology) or a GeoPackage read
// through its own member name gives its first object; name it, so that the
// data set is the same as the one reached as FILE_OBJECT. Only regular
// files are looked into (a pipe can be read once).
void nameFirstObject(ResolvedFile& r) {
  if (!r.regular ||
      (r.kind != FileKind::TopoJson && r.kind != FileKind::Json && r.kind != FileKind::Gpkg))
    return;
  std::vector<std::string> objects = objectsOf(r);
  if (!objects.empty()) r.object = objects.front();
}

}  // namespace

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
  if (!fs::is_directory(dir, ec) && isConnectionString(dir)) {
    dirs_[key] = dir;
    databases_.insert(key);
    return;
  }
  databases_.erase(key);
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

bool Libraries::isDatabase(std::string_view name) const {
  return databases_.count(upper(name)) > 0;
}

bool Libraries::remove(std::string_view name) {
  databases_.erase(upper(name));
  return dirs_.erase(upper(name)) > 0;
}

ResolvedFile Libraries::resolveInDatabase(const std::string& lib, const std::string& connection,
                                          const DataSetRef& ref) const {
  ResolvedFile r;
  r.written = ref.text();
  r.library = lib;
  r.member = memberNameOf(ref.member);
  r.kind = FileKind::Database;
  r.path = connection;
  r.canonical = "database:" + connection;
  r.folder = hidePasswords(connection, connection);
  auto it = tables_.find(connection);
  if (it == tables_.end())
    it = tables_
             .emplace(connection, ogrLayerNames(connection, FileKind::Database,
                                                "Data set " + r.written + " in the database " +
                                                    r.folder + " (library " + lib + ")"))
             .first;
  // One spelled as written wins (letter case too: a database's names may
  // differ by it alone), else the first by name.
  bool exact = false;
  for (const auto& t : it->second) {
    if (memberNameOf(t) != r.member) continue;
    if (preferred(t, t == ref.member, r.object, exact)) {
      r.object = t;
      exact = t == ref.member;
    }
  }
  if (r.object.empty())
    throw UserError("Data set " + r.written + " does not exist: no table or view " + ref.member +
                    " in the database " + r.folder + " (library " + lib + ").");
  return r;
}

ResolvedFile Libraries::resolve(const DataSetRef& ref, const std::string& programDir) const {
  ResolvedFile r;
  r.written = ref.text();
  std::error_code ec;

  if (!ref.path.empty()) {
    fs::path p(ref.path);
    if (p.is_relative()) p = fs::path(programDir.empty() ? "." : programDir) / p;
    if (!fs::exists(p, ec) && isConnectionString(ref.path))
      throw UserError("Data set " + hidePasswords(r.written, ref.path) +
                      " is a database, not a file: assign it to a library (LIBRARY name '" +
                      hidePasswords(ref.path, ref.path) + "';) and name a table as name.table.");
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
                      ".geojson, .topojson, .json, .shp, .gpkg, .fgb, .gml, .kml or .dbf).");
    finish(r);
    nameFirstObject(r);
    return r;
  }

  std::string lib = ref.library.empty() ? std::string("WORK") : upper(ref.library);
  const std::string* dir = lookup(lib);
  if (!dir)
    throw UserError("Data set " + r.written + " cannot be found: library " + lib +
                    " is not assigned.");
  if (isDatabase(lib)) return resolveInDatabase(lib, *dir, ref);
  std::string wanted = memberNameOf(ref.member);

  // List the folder once; pick per extension, in order. Among several files
  // that normalize alike, one spelled exactly as written wins, else the
  // first by name, so the choice does not depend on the folder's order.
  std::vector<std::string> files = filesOf(*dir, ec);
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
      if (e.kind == FileKind::Dbf && shapefileTable(files, f)) continue;
      std::string_view stem = std::string_view(f).substr(0, f.size() - elen);
      if (memberNameOf(stem) != wanted) continue;
      if (fs::is_directory(fs::path(*dir) / f, ec)) {
        if (folderNamed.empty()) folderNamed = f;
        continue;
      }
      ofKind.push_back(f);
      bool exact = sameNoCase(stem, ref.member);
      if (preferred(f, exact, best, bestExact)) {
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
  // .json one), layer OBJECT of the GeoPackage FILE.gpkg, or the Shapefile
  // OBJECT.shp in the folder FILE; files taken in name order. A folder of
  // Shapefiles reached by its own name is its first Shapefile.
  struct Holder {
    const char* ext;  // "" for a folder of Shapefiles
    FileKind kind;
    const char* what;
  };
  constexpr Holder kHolders[] = {{".topojson", FileKind::TopoJson, "topology"},
                                 {".json", FileKind::Json, "topology"},
                                 {".gpkg", FileKind::Gpkg, "GeoPackage"},
                                 {"", FileKind::Shp, "folder"}};
  std::string nearMiss;  // a holder of the right name without the object
  for (const Holder& h : kHolders) {
    std::vector<std::string> candidates;
    const size_t elen = std::strlen(h.ext);
    const bool folder = elen == 0;
    for (const auto& f : files) {
      if (!endsWithNoCase(f, h.ext) || endsWithNoCase(f, ".schema.json")) continue;
      if (folder != fs::is_directory(fs::path(*dir) / f, ec)) continue;
      std::string stem = memberNameOf(std::string_view(f).substr(0, f.size() - elen));
      if ((wanted.size() > stem.size() + 1 && wanted.compare(0, stem.size(), stem) == 0 &&
           wanted[stem.size()] == '_') ||
          (folder && wanted == stem))
        candidates.push_back(f);
    }
    for (const auto& f : candidates) {
      ResolvedFile c = r;
      c.path = (fs::path(*dir) / f).string();
      c.kind = h.kind;
      c.library = lib;
      c.member = wanted;
      const std::string stem = memberNameOf(std::string_view(f).substr(0, f.size() - elen));
      const std::string rest = wanted.size() > stem.size() ? wanted.substr(stem.size() + 1) : "";
      std::vector<std::string> objects;
      if (folder) {
        objects = shapefilesOf(c.path);
      } else {
        finish(c);
        if (!c.regular) continue;
        objects = objectsOf(c);
      }
      for (const auto& object : objects) {
        if (!rest.empty() && memberNameOf(object) != rest) continue;
        if (folder) {
          c.path = (fs::path(c.path) / (object + ".shp")).string();
          finish(c);
        } else {
          c.object = object;
        }
        return c;
      }
      if (nearMiss.empty() && !objects.empty()) {
        nearMiss = std::string("the ") + h.what + " " + f + " has no " +
                   (folder ? "Shapefile " : h.kind == FileKind::Gpkg ? "layer " : "object ") +
                   rest + " (its " + (h.kind == FileKind::Gpkg || folder ? "layers" : "objects") +
                   ":";
        for (const auto& object : objects) nearMiss += " " + shownName(object);
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
                  ".csv, .tsv, .geojson, .topojson, .json, .shp, .gpkg, .fgb, .gml, .kml or .dbf "
                  "in the folder " + *dir +
                  " (library " + lib + ").");
}

}  // namespace qv::rt
