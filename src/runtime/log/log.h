// The log and the message catalog.
//
// A catalogued message is one line: severity word, "[set-number]", a colon
// and the text, e.g.
//   ERROR [854-231]: A tile layer needs a CHOROMAP statement or a plot statement.
// Plain lines are "NOTE: ...", "WARNING: ...", "ERROR: ...".
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

#include "module/host/host.h"

namespace qv::rt {

enum class Severity { Note, Warning, Error };

struct CatalogEntry {
  int set;
  int number;
  Severity severity;
  const char* text;  // arguments are written where "{1}", "{2}", ... stand
  int argCount;      // how many arguments the callers pass
};

// The entry for set/number, or null when the catalog has none.
const CatalogEntry* findMessage(int set, int number);
// All entries, in (set, number) order.
const CatalogEntry* catalogBegin();
const CatalogEntry* catalogEnd();

// The text of an entry with its arguments put in: integers in decimal,
// doubles with "%g", texts as they are. A missing argument leaves "".
std::string formatCatalogText(const CatalogEntry& e,
                              std::initializer_list<host::Arg> args);

const char* severityWord(Severity s);  // "NOTE", "WARNING", "ERROR"

// The runtime's own catalogued messages (set 129): the memory message that
// `xmemmsg` writes, and the report of a failed service's code (`xprrlog`).
inline constexpr int kRuntimeSet = 129;
inline constexpr int kMemoryMessage = 1;
inline constexpr int kServiceFailedMessage = 2;
// The plot data read as cells counted in the database ({1} the data set,
// {2} its rows, {3} the cells), or read row by row under AGGREGATE=ALWAYS
// ({1} the data set, {2} why).
inline constexpr int kAggregatedMessage = 60;
inline constexpr int kRowByRowMessage = 61;

class Log {
 public:
  Log();  // writes to standard error
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // Also write every line to this file (false when it cannot be opened;
  // errno ELOOP when it is a symbolic link: a link is not followed, except
  // the system's own under /dev, such as /dev/stdout).
  bool openFile(const std::string& path);
  // True when `path` is a file this log writes to (standard error, when
  // that is a file, or the file above).
  bool writesTo(const std::string& path) const;
  // Makes this the log a signal that ends the run writes its last line to,
  // on standard error and the file (see removeTempFilesOnSignal).
  void takeSignalLine();
  // Closes that file; false when any line could not be written to it (a
  // full disk, /dev/full), so that the run does not end as if logged.
  bool closeFile();
  // Write to this stream instead of standard error (tests); null: nowhere.
  void setStream(std::FILE* f);
  // Keep every line in memory as well (tests read them with text()).
  void setCapture(bool on);
  const std::string& text() const { return captured_; }

  void line(std::string_view text);  // a raw line, newline added
  void note(std::string_view text);      // "NOTE: text"
  void warning(std::string_view text);   // "WARNING: text"
  void error(std::string_view text);     // "ERROR: text"
  void message(int set, int number, std::initializer_list<host::Arg> args = {});
  // A printf-like line already formatted by the caller in which a leading
  // "%1z" stands for "ERROR: ".
  void formatted(std::string_view text);
  // The memory message (129/1) and a failed service's code (129/2).
  void memoryExhausted() { message(kRuntimeSet, kMemoryMessage); }
  void serviceFailed(host::Status code) {
    message(kRuntimeSet, kServiceFailedMessage, {static_cast<long long>(code)});
  }

  bool errorLogged() const { return errors_ > 0; }
  int errorCount() const { return errors_; }
  int warningCount() const { return warnings_; }
  void resetCounts() { errors_ = warnings_ = 0; }

 private:
  // Tells the signal handler where this log writes now, when it is the
  // one that takes its line.
  void showSignalLine();

  std::FILE* out_;
  std::FILE* file_ = nullptr;
  bool signalLine_ = false;
  bool fileFailed_ = false;
  bool capture_ = false;
  std::string captured_;
  int errors_ = 0;
  int warnings_ = 0;
};

}  // namespace qv::rt
