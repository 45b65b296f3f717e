// Libraries (named folders) and the resolution of data set names to files.
//
// Member m of library lib is the first file of m.csv, m.tsv, m.geojson,
// m.topojson, m.json, m.shp, m.gpkg, m.fgb, m.gml, m.kml, m.dbf in the
// library's folder, names matched without regard to case, where every
// character of a file name other than a letter, digit or underscore counts
// as "_" (us-states-10m.topojson is member US_STATES_10M). A Shapefile's own
// .dbf never counts as a second file. When no file has the name,
// FILE_OBJECT names object OBJECT of the topology in FILE.topojson (else
// FILE.json), layer OBJECT of the GeoPackage FILE.gpkg, or the Shapefile
// OBJECT.shp in the sub-folder FILE. When several files have the name, the
// first by that order is read (within one extension, one spelled as
// written, else the first by name). A topology, GeoPackage or folder of
// Shapefiles reached by its own name is its first object (layer). A quoted
// data set name is a path relative to the program's folder and belongs to
// WORK.
//
// A library may also be a database named by a GDAL connection string
// ('PG:dbname=gis host=localhost'): each of its tables and views is a
// member.
#pragma once

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/data/dsref.h"

namespace qv::rt {

enum class FileKind { Csv, Tsv, GeoJson, TopoJson, Json, Shp, Gpkg, Fgb, Gml, Kml, Dbf, Database };


struct ResolvedFile {
  std::string path;       // the file found (a database: its connection string)
  std::string canonical;  // its canonical path: the data set's identity
  std::string library;    // upper case; WORK for a quoted path
  std::string member;     // upper case
  std::string object;     // the topology object or GDAL layer ("" for other files)
  FileKind kind = FileKind::Csv;
  bool regular = true;    // false for a pipe or device (can be read once)
  std::string written;    // the name as the user wrote it, for messages
  // When the member name matched several data files of the folder: all of
  // them (file names, in the order they are looked for), else empty.
  std::vector<std::string> alsoMatched;
  std::string folder;     // the library's folder, when reached by member name
};

// The warning for a member name that matched several files ("" when it
// matched one): names the files and the one read.
std::string severalFilesWarning(const ResolvedFile& r);

// A member name from a file name's stem: letters, digits and underscores
// kept, every other character "_", in upper case.
std::string memberNameOf(std::string_view stem);

class Libraries {
 public:
  // Assigns a library to a folder (relative folders are taken from the
  // current folder) or to a database connection string. UserError naming
  // the library and folder when the folder does not exist or the name is
  // not a name.
  void assign(std::string_view name, const std::string& dir);
  // The folder (or connection string) of a library (case-insensitive), or
  // null.
  const std::string* lookup(std::string_view name) const;
  bool isDatabase(std::string_view name) const;
  bool remove(std::string_view name);

  // Finds the file of a data set reference. UserError naming the data set
  // as written and the folder searched when there is none.
  ResolvedFile resolve(const DataSetRef& ref, const std::string& programDir) const;

 private:
  ResolvedFile resolveInDatabase(const std::string& lib, const std::string& connection,
                                 const DataSetRef& ref) const;

  std::map<std::string, std::string> dirs_;  // upper-case name -> folder
  std::set<std::string> databases_;          // upper-case names of databases
  // The tables of each database, listed once a run.
  mutable std::map<std::string, std::vector<std::string>> tables_;
};

}  // namespace qv::rt
