// The host's global statements (LIBRARY, OPTIONS, TITLE, FOOTNOTE), the BY
// statement and data set references, each parsed from one statement.
//
// Every parser throws UserError naming the statement's file, line and column
// and the offending word when the statement is malformed; nothing is changed
// then.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/global_options.h"
#include "module/host/host.h"
#include "runtime/data/dsref.h"
#include "runtime/program/statement.h"

namespace qv::rt {

// --- LIBRARY ---------------------------------------------------------------

struct LibraryAssignment {
  std::string name;   // as written
  std::string dir;    // the quoted folder
  int line = 0, column = 0;
};

// LIBRARY ref 'dir';  (LIBNAME is the same statement)
LibraryAssignment parseLibrary(const Statement& st);

// --- OPTIONS ---------------------------------------------------------------

// One checked setting of an OPTIONS statement: the option's row and the
// value it takes.
struct OptionSetting {
  const GlobalOptionDef* def = nullptr;
  OptionValue value;
};

// OPTIONS ...; read by the rows of `table` (the global options; a test may
// give others). All settings are checked before any is returned; a bad one
// throws UserError naming its value and what the option takes.
std::vector<OptionSetting> parseOptions(const Statement& st,
                                        std::span<const GlobalOptionDef> table = kGlobalOptions);
void applyOptions(OptionValues& values, const std::vector<OptionSetting>& list);

// VARNAMES=ANY: variable names may hold any characters.
bool anyVarNames(const OptionValues& values);

// The threads a THREADS= value allows: that many, or one per core when it
// is 0 (not set).
unsigned threadsAllowed(int threads);

// --- TITLE and FOOTNOTE ----------------------------------------------------

struct TitleStatement {
  char kind = 'T';         // 'T' title, 'F' footnote
  int number = 1;          // 1..10
  bool clear = false;      // nothing after the keyword: clear number and above
  host::TitleEntry entry;  // when !clear
  int line = 0, column = 0;
};

// TITLE[n] ...; / FOOTNOTE[n] ...;
TitleStatement parseTitle(const Statement& st);
// True when `keyword` is TITLE, TITLEn, FOOTNOTE or FOOTNOTEn (n digits; the
// range is checked by parseTitle).
bool isTitleKeyword(std::string_view keyword, char* kind = nullptr);

// The titles and footnotes in effect, ten of each.
class TitleStore {
 public:
  static constexpr int kMax = 10;

  // Sets or clears as the statement says.
  void apply(const TitleStatement& st);
  // Sets entry e.number of `kind` ('T' or 'F') and clears those above it.
  void set(char kind, host::TitleEntry e);
  // Clears entries `from` to 10.
  void clear(char kind, int from = 1);
  // Highest number with an entry, 0 when none.
  int highest(char kind) const;
  // The entry, or null.
  const host::TitleEntry* get(char kind, int number) const;

 private:
  using Slots = std::array<std::optional<host::TitleEntry>, kMax>;
  Slots* slots(char kind);
  const Slots* slots(char kind) const;
  Slots titles_, footnotes_;
};

// --- BY --------------------------------------------------------------------

// BY [DESCENDING] var ...;
std::vector<host::ByVariable> parseBy(const Statement& st);

// --- Data set references ---------------------------------------------------

// A data set name at toks[pos] (name, name literal, two-level name or quoted
// path) with optional data set options in parentheses: KEEP=, DROP=,
// RENAME=(old=new ...), WHERE=( expr ), OBS=, FIRSTOBS=, FORMAT=(var fmt ...).
// On return pos is the index after the reference. WHERE text is cut out of
// `source` when given (else rebuilt from the tokens); error places name
// source->file.
DataSetRef parseDataSetRef(const std::vector<Token>& toks, size_t& pos,
                           const SourceText* source = nullptr);
DataSetRef parseDataSetRef(const Statement& st, size_t& pos);


}  // namespace qv::rt
