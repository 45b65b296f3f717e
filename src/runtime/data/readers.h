// One reader per kind of data file, and the cache of tables already read.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "runtime/data/library.h"
#include "runtime/data/table.h"

namespace qv::rt {

struct ReadSettings {
  VarNameRule names = VarNameRule::Strict;
  // A database's rows: the condition in its SQL they are read under ("" all).
  std::string filter;
  NoteFn warn;  // receives the text of a WARNING about the file
};

// A reader turns a resolved file into a table (UserError on bad input).
using TableReader = Table (*)(const ResolvedFile& file, const ReadSettings& settings,
                              const NoteFn& note);

// The reader for a kind of file.
TableReader readerFor(FileKind kind);

// Tables by file, so that a file opened twice is parsed once. A regular
// file that changed since it was read (size or time, or its schema sidecar)
// is read again; a pipe can be read only once, so its table is kept.
class DataCache {
 public:
  std::shared_ptr<const Table> load(const ResolvedFile& file, const ReadSettings& settings,
                                    const NoteFn& note);
  void clear() { entries_.clear(); }
  int parses() const { return parses_; }  // files read so far
  // True the first time a key is asked for: for messages given once a run.
  bool firstTime(const std::string& key) { return told_.insert(key).second; }

 private:
  struct Entry {
    std::shared_ptr<const Table> table;
    std::string stamp;  // size and times of the file and its sidecar
  };
  std::map<std::string, Entry> entries_;
  std::set<std::string> told_;
  int parses_ = 0;
};

}  // namespace qv::rt
