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
#include <string>
#include <string_view>
#include <vector>

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

inline constexpr const char* kDefaultTileUrl = "https://tile.openstreetmap.org/{z}/{x}/{y}.png";

struct Settings {
  bool varNamesAny = false;        // VARNAMES=ANY (default STRICT)
  std::string missing = ".";       // MISSING= one character
  bool nlDecSeparator = false;     // NLDECSEPARATOR / NONLDECSEPARATOR
  std::string debug;               // DEBUG=
  int graphWidth = 640;            // GRAPHWIDTH= pixels
  int graphHeight = 480;           // GRAPHHEIGHT= pixels
  std::string graphFormat = "PNG";  // GRAPHFORMAT=, upper case
  std::string tileUrl = kDefaultTileUrl;  // TILEURL=
  // MAPPROJECTION=: a PROJ definition as written, or AUTO, MERCATOR,
  // EQUALEARTH, ALBERSUSA (kept in upper case; an empty text is AUTO).
  std::string mapProjection = "AUTO";
  // LABELOVERLAP=: SHOW, HIDE or MOVE (upper case).
  std::string labelOverlap = "SHOW";
  // COLORNAMES=: a file path, "CSS" for the CSS color names ("" none).
  std::string colorNames;
  bool byLine = true;              // BYLINE / NOBYLINE: the BY line under the titles
  // OUTPUT=: the kind of map file written, PNG, SVG, PDF or HTML (upper
  // case). --output gives the value the run starts with.
  std::string output = "PNG";
  // GRAPHDPI=: pixels per inch of a PNG map (the layout stays that of
  // GRAPHWIDTH x GRAPHHEIGHT at 96).
  double graphDpi = 96;
  // THREADS=: how many BY groups are drawn at once, at most (0: as many as
  // the machine has cores).
  int threads = 0;
};

// The kinds OUTPUT= and --output accept, and the lowest and highest GRAPHDPI=.
inline constexpr const char* kOutputKinds[] = {"PNG", "SVG", "PDF", "HTML"};
inline constexpr double kMinGraphDpi = 24, kMaxGraphDpi = 2400;
inline constexpr int kMaxThreads = 1024;  // THREADS= from 1 to this

// The threads a THREADS= value allows: that many, or one per core when it
// is 0 (not set).
unsigned threadsAllowed(int threads);

// The OUTPUT= kind `text` names (any letter case), in upper case; "" when it
// names none.
std::string outputKindName(std::string_view text);

enum class OptionId {
  VarNames, Missing, NlDecSeparator, Debug, GraphWidth, GraphHeight,
  GraphFormat, TileUrl, MapProjection, LabelOverlap, ColorNames, ByLine,
  Output, GraphDpi, Threads
};

// One checked setting of an OPTIONS statement.
struct OptionSetting {
  OptionId id = OptionId::Debug;
  std::string name;      // upper case, as the option is known ("GRAPHWIDTH")
  std::string text;      // text values (VARNAMES gives "ANY" or "STRICT")
  int64_t number = 0;    // GRAPHWIDTH, GRAPHHEIGHT, THREADS
  double value = 0;      // GRAPHDPI
  bool on = false;       // NLDECSEPARATOR, BYLINE (true) / NONLDECSEPARATOR, NOBYLINE (false)
  int line = 0, column = 0;
};

// OPTIONS ...; All settings are checked before any is returned.
std::vector<OptionSetting> parseOptions(const Statement& st);
void applyOption(Settings& s, const OptionSetting& o);
void applyOptions(Settings& s, const std::vector<OptionSetting>& list);

// The settings as the host's option services answer them, by option name
// (case-insensitive). A switch: NLDECSEPARATOR, BYLINE (and their NO
// forms), VARNAMES (true for ANY). A text: every option, numbers in
// decimal, VARNAMES as "ANY"/"STRICT", NLDECSEPARATOR as
// "NLDECSEPARATOR"/"NONLDECSEPARATOR", BYLINE as "BYLINE"/"NOBYLINE". Empty
// when the name is not an option.
std::optional<bool> settingSwitch(const Settings& s, std::string_view name);
std::optional<std::string> settingText(const Settings& s, std::string_view name);
// Sets a switch; false when the name is not a switch.
bool setSettingSwitch(Settings& s, std::string_view name, bool on);

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
