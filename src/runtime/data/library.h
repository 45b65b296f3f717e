// Libraries (named folders) and the resolution of data set names to files.
//
// Member m of library lib is the first file of m.csv, m.tsv, m.geojson,
// m.topojson, m.json in the library's folder, names matched without regard
// to case, where every character of a file name other than a letter, digit
// or underscore counts as "_" (us-states-10m.topojson is member
// US_STATES_10M). When no file has the name, FILE_OBJECT names object
// OBJECT of the topology in FILE.topojson (else FILE.json). When several
// files have the name, the first by that order is read (within one
// extension, one spelled as written, else the first by name). A topology
// reached by its own name is its first object. A quoted data set name is a
// path relative to the program's folder and belongs to WORK.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/data/dsref.h"

namespace qv::rt {

enum class FileKind { Csv, Tsv, GeoJson, TopoJson, Json };

const char* fileKindName(FileKind k);

struct ResolvedFile {
  std::string path;       // the file found
  std::string canonical;  // its canonical path: the data set's identity
  std::string library;    // upper case; WORK for a quoted path
  std::string member;     // upper case
  std::string object;     // the topology object ("" for other files)
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
  // current folder). UserError naming the library and folder when the
  // folder does not exist or the name is not a name.
  void assign(std::string_view name, const std::string& dir);
  // The folder of a library (case-insensitive), or null.
  const std::string* lookup(std::string_view name) const;
  bool remove(std::string_view name);

  // Finds the file of a data set reference. UserError naming the data set
  // as written and the folder searched when there is none.
  ResolvedFile resolve(const DataSetRef& ref, const std::string& programDir) const;

 private:
  std::map<std::string, std::string> dirs_;  // upper-case name -> folder
};

}  // namespace qv::rt
