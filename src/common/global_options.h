// The global options an OPTIONS statement sets (GRAPHWIDTH=, MAPPROJECTION=,
// THREADS=, ...), one row each: its name, the form of its value and what
// the value may be, its default and its help.
//
// Everything else follows from the row: the program reader parses and
// checks OPTIONS by it (runtime/program/globals.cpp), the session keeps
// the values in an OptionValues, one slot per option, the host answers the
// procedure's option questions from that store, the renderer reads the
// values it draws with by option id, and `--help` and the README list the
// options from it. A new option is a GlobalOpt, a row, the code that reads
// its value, and its line in the README (which a test checks against the
// table).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

// In the order of the rows below.
enum class GlobalOpt {
  VarNames, Missing, NlDecSeparator, Debug, GraphWidth, GraphHeight, GraphFormat, TileUrl,
  MapProjection, LabelOverlap, ColorNames, ByLine, Output, GraphDpi, Threads,
  ScaleBar, ScaleUnits, NorthArrow, Graticule, MapExtent, OutName, ByPanels, Aggregate,
  Count
};

// The forms an option's value takes.
enum class OptForm {
  Switch,        // NAME or the NO-form, without a value
  Word,          // one of the row's words, bare or quoted, any letter case
  Name,          // a name, bare or quoted, kept in upper case
  Text,          // any text, a bare word or quoted
  Quoted,        // a quoted text, not empty
  WordOrQuoted,  // one of the words, or a quoted text (not empty)
  Char,          // one character, bare or quoted
  Integer,       // a whole number from min to max, the row's unit word may follow
  Number,        // a number from min to max
  WordOrNumber,  // one of the words, or a number from min to max
  Numbers,       // `count` numbers in parentheses, each from min to max
};

struct GlobalOptionDef;

// Checks and adjusts a quoted text of a Quoted or WordOrQuoted option
// before it is taken; false with the reason (one clause, "the URL template
// must contain {z}").
using OptionTextCheck = bool (*)(const GlobalOptionDef& def, std::string& text, std::string* why);
// Checks the numbers of a Numbers option, each already in the row's range;
// false with the reason.
using OptionNumbersCheck = bool (*)(const std::vector<double>& numbers, std::string* why);

struct GlobalOptionDef {
  GlobalOpt id = GlobalOpt::Count;
  const char* name = "";    // upper case
  const char* noName = "";  // Switch: the name that turns it off
  OptForm form = OptForm::Text;
  const char* words = "";   // the words the value may be, "|" between them
  double min = 0, max = 0;  // the numeric forms: the range
  int count = 0;            // Numbers: how many
  const char* unit = "";    // Integer: a unit word that may follow the number
  const char* value = "";   // how the help writes a value that is no word ("n", "'c'")
  // What a message calls a value that is no word; "" gives the form's own
  // ("a whole number", "a number", "one character", "a quoted text").
  const char* what = "";
  const char* def = "";     // the default as an OPTIONS statement writes it; "" unset
  OptionTextCheck check = nullptr;
  OptionNumbersCheck checkNumbers = nullptr;  // Numbers
  const char* help = "";    // what the option does, one sentence without its end
};

// TILEURL=: the template holds {z}, {x} and {y}.
bool checkTileUrl(const GlobalOptionDef& def, std::string& text, std::string* why);
// MAPPROJECTION=: blanks around the definition dropped, blank is the default.
bool trimProjection(const GlobalOptionDef& def, std::string& text, std::string* why);
// OUTNAME=: a stem a file name can start with: not blank, no slash or
// backslash, no control character, at most 200 bytes.
bool checkFileStem(const GlobalOptionDef& def, std::string& text, std::string* why);
// MAPEXTENT=: latitudes from -90 to 90, the southern below the northern,
// two different longitudes (the western above the eastern crosses the
// antimeridian).
bool checkLonLatBox(const std::vector<double>& numbers, std::string* why);

// The rows, in GlobalOpt order.
inline constexpr GlobalOptionDef kGlobalOptions[] = {
    {.id = GlobalOpt::VarNames, .name = "VARNAMES", .form = OptForm::Word,
     .words = "ANY|STRICT", .def = "STRICT",
     .help = "the variable names data sets may have: STRICT makes other column names "
             "into names of letters, digits and underscores; ANY keeps them as written, "
             "and a program writes them as name literals"},
    {.id = GlobalOpt::Missing, .name = "MISSING", .form = OptForm::Char, .value = "'c'",
     .def = ".", .help = "the character a missing value shows as"},
    {.id = GlobalOpt::NlDecSeparator, .name = "NLDECSEPARATOR", .noName = "NONLDECSEPARATOR",
     .form = OptForm::Switch, .def = "NONLDECSEPARATOR",
     .help = "the national decimal separator; a step runs with it off"},
    {.id = GlobalOpt::Debug, .name = "DEBUG", .form = OptForm::Text, .value = "'words'",
     .help = "debugging words; QORTAVLO among them writes the template of each step to the "
             "log, SQL the queries a database is asked"},
    {.id = GlobalOpt::GraphWidth, .name = "GRAPHWIDTH", .form = OptForm::Integer, .min = 1,
     .max = 32767, .unit = "PX", .value = "n", .what = "a whole number of pixels",
     .def = "640", .help = "the width of a map in pixels, PX may follow n"},
    {.id = GlobalOpt::GraphHeight, .name = "GRAPHHEIGHT", .form = OptForm::Integer, .min = 1,
     .max = 32767, .unit = "PX", .value = "n", .what = "a whole number of pixels",
     .def = "480", .help = "the height of a map in pixels, PX may follow n"},
    {.id = GlobalOpt::GraphFormat, .name = "GRAPHFORMAT", .form = OptForm::Name,
     .value = "name", .what = "a format name such as PNG", .def = "PNG",
     .help = "the graph format the procedure is told of; OUTPUT=, not this, chooses the "
             "kind of map file"},
    {.id = GlobalOpt::TileUrl, .name = "TILEURL", .form = OptForm::Quoted,
     .value = "'template'", .what = "a quoted URL template",
     .def = "https://tile.openstreetmap.org/{z}/{x}/{y}.png", .check = checkTileUrl,
     .help = "the street-map tile URL, with {z}, {x} and {y}; file:// reads a local folder of "
             "tiles"},
    {.id = GlobalOpt::MapProjection, .name = "MAPPROJECTION", .form = OptForm::WordOrQuoted,
     .words = "AUTO|MERCATOR|EQUALEARTH|ALBERSUSA", .value = "'def'",
     .what = "a quoted PROJ definition such as 'EPSG:3035'", .def = "AUTO",
     .check = trimProjection,
     .help = "the map projection: a name, or any PROJ definition; AUTO is Web Mercator under "
             "map tiles, else an equal-area projection fitted to the data"},
    {.id = GlobalOpt::LabelOverlap, .name = "LABELOVERLAP", .form = OptForm::Word,
     .words = "SHOW|HIDE|MOVE", .def = "SHOW",
     .help = "TEXT labels and data labels that would cover one another: drawn all the same, "
             "left out, or moved beside their point when there is room"},
    {.id = GlobalOpt::ColorNames, .name = "COLORNAMES", .form = OptForm::WordOrQuoted,
     .words = "CSS", .value = "'file.csv'", .what = "a quoted file path",
     .help = "color names a program may use: the CSS color names, or those of a file of "
             "name,R,G,B or name,#RRGGBB lines"},
    {.id = GlobalOpt::ByLine, .name = "BYLINE", .noName = "NOBYLINE", .form = OptForm::Switch,
     .def = "BYLINE", .help = "the BY line (state=NV) under the titles of a BY group's map"},
    {.id = GlobalOpt::Output, .name = "OUTPUT", .form = OptForm::Word,
     .words = "PNG|SVG|PDF|HTML", .def = "PNG",
     .help = "the kind of map file; --output gives the kind the run starts with"},
    {.id = GlobalOpt::GraphDpi, .name = "GRAPHDPI", .form = OptForm::Number, .min = 24,
     .max = 2400, .value = "n", .def = "96",
     .help = "the pixels per inch of a PNG map: its size in pixels scales by n/96, its layout "
             "stays"},
    {.id = GlobalOpt::Threads, .name = "THREADS", .form = OptForm::Integer, .min = 1,
     .max = 1024, .value = "n",
     .help = "at most n BY groups drawn at once, and the threads one map projects its points "
             "on when it has hundreds of thousands; the files and the log are the same "
             "whatever n is; unset, the number of cores"},
    {.id = GlobalOpt::ScaleBar, .name = "SCALEBAR", .form = OptForm::Word,
     .words = "NONE|TOPLEFT|TOPRIGHT|BOTTOMLEFT|BOTTOMRIGHT", .def = "NONE",
     .help = "a scale bar in that corner of the map, of a round length measured at the map's "
             "centre; none where the map's scale varies by more than 10% across it"},
    {.id = GlobalOpt::ScaleUnits, .name = "SCALEUNITS", .form = OptForm::Word, .words = "KM|MI",
     .def = "KM", .help = "the unit of the scale bar: kilometres (metres below one) or miles"},
    {.id = GlobalOpt::NorthArrow, .name = "NORTHARROW", .form = OptForm::Word,
     .words = "NONE|TOPLEFT|TOPRIGHT|BOTTOMLEFT|BOTTOMRIGHT", .def = "NONE",
     .help = "an arrow in that corner of the map pointing to true north where it stands"},
    {.id = GlobalOpt::Graticule, .name = "GRATICULE", .form = OptForm::WordOrNumber,
     .words = "NONE|AUTO", .min = 0.5, .max = 90, .value = "degrees",
     .what = "a number of degrees", .def = "NONE",
     .help = "meridians and parallels beneath the data, every so many degrees (AUTO: a round "
             "spacing for the map), labelled at the frame; a world map also gets the outline "
             "of the globe"},
    {.id = GlobalOpt::MapExtent, .name = "MAPEXTENT", .form = OptForm::Numbers, .min = -180,
     .max = 180, .count = 4, .value = "(lonmin latmin lonmax latmax)",
     .checkNumbers = checkLonLatBox,
     .help = "the box the map is fitted to instead of the data, in degrees; what lies around "
             "it is drawn up to the frame"},
    {.id = GlobalOpt::OutName, .name = "OUTNAME", .form = OptForm::Quoted, .value = "'stem'",
     .what = "a quoted file name stem", .check = checkFileStem,
     .help = "the name the map files start with, followed by a number that goes on across "
             "the run from 1, padded to the width of the step's largest (canton01 to "
             "canton26); unset, tavlo, tavlo1 and so on"},
    {.id = GlobalOpt::ByPanels, .name = "BYPANELS", .form = OptForm::Integer, .min = 0,
     .max = 100, .value = "n", .def = "0",
     .help = "the maps of a BY step as panels of one image, n to a row, each GRAPHWIDTH x "
             "GRAPHHEIGHT and captioned by its BY line, with the step's titles, footnotes and "
             "legend once; a page too large for one image goes on in another file; 0, one "
             "file per map"},
    {.id = GlobalOpt::Aggregate, .name = "AGGREGATE", .form = OptForm::Word,
     .words = "AUTO|ALWAYS|NEVER", .def = "AUTO",
     .help = "a SCATTER whose plot data is a PostgreSQL table and that needs nothing of "
             "single rows (no TIP=, URL=, DATALABEL=, COLORRESPONSE=, RATTRID=) is read as "
             "the points counted in the database on a grid of cells of at most a pixel: AUTO "
             "when the table has more rows than the map has pixels, ALWAYS whatever its "
             "size, NEVER reads every row"},
};
static_assert(std::size(kGlobalOptions) == static_cast<size_t>(GlobalOpt::Count));

constexpr bool rowsInOrder() {
  for (size_t i = 0; i < std::size(kGlobalOptions); ++i)
    if (static_cast<size_t>(kGlobalOptions[i].id) != i) return false;
  return true;
}
static_assert(rowsInOrder(), "kGlobalOptions must follow the order of GlobalOpt");

constexpr const GlobalOptionDef& globalOption(GlobalOpt id) {
  return kGlobalOptions[static_cast<size_t>(id)];
}

// Word `index` (from 0) of a row's words; "" past the last. An enum whose
// members follow the words can be checked against them with it.
constexpr std::string_view optionWord(const GlobalOptionDef& def, int index) {
  std::string_view words = def.words;
  for (; index > 0 && !words.empty(); --index) {
    const size_t bar = words.find('|');
    words = bar == std::string_view::npos ? std::string_view() : words.substr(bar + 1);
  }
  return words.substr(0, words.find('|'));
}
constexpr std::string_view optionWord(GlobalOpt id, int index) {
  return optionWord(globalOption(id), index);
}

// The row of `table` named `name` (or its NO-form), any letter case; null
// for none.
const GlobalOptionDef* findGlobalOption(std::string_view name,
                                        std::span<const GlobalOptionDef> table = kGlobalOptions);

// The index of the row's word that `text` spells (any letter case), -1 for none.
int optionWordIndex(const GlobalOptionDef& def, std::string_view text);

// The words for a message: "PNG, SVG, PDF or HTML".
std::string optionChoices(const GlobalOptionDef& def);

// What a value must be, for a message: "SHOW, HIDE or MOVE", "a whole
// number of pixels from 1 to 32767", "CSS or a quoted file path".
std::string optionExpected(const GlobalOptionDef& def);

// The options as `--help` and the README list them, one item each: `item`
// and the option as it is written, between `quote`s, ": " and its help with
// its range and default; lines wrapped before `width`, going on after
// `indent`.
std::string globalOptionList(std::string_view item, std::string_view indent,
                             std::string_view quote, size_t width);

// The value of one option.
struct OptionValue {
  bool on = false;              // Switch
  std::string text;             // the word forms (the word as the row writes it), the texts
  double number = 0;            // Integer, Number, WordOrNumber without a word
  std::vector<double> numbers;  // Numbers
};

// The value of every option, each in its own slot; made with the defaults.
class OptionValues {
 public:
  OptionValues();

  bool on(GlobalOpt id) const { return at(id).on; }
  const std::string& text(GlobalOpt id) const { return at(id).text; }
  // The text to change in place (GRAPHFORMAT=, which a step sets for its
  // duration).
  std::string& text(GlobalOpt id) { return at(id).text; }
  double number(GlobalOpt id) const { return at(id).number; }
  int integer(GlobalOpt id) const { return static_cast<int>(at(id).number); }
  const std::vector<double>& numbers(GlobalOpt id) const { return at(id).numbers; }
  // The index of a word option's word, -1 when it holds none: an enum that
  // follows the words reads it as static_cast<E>(choice(id)).
  int choice(GlobalOpt id) const;

  void set(GlobalOpt id, OptionValue value) { at(id) = std::move(value); }
  void setOn(GlobalOpt id, bool on) { at(id).on = on; }
  void setText(GlobalOpt id, std::string text) { at(id).text = std::move(text); }
  void setNumber(GlobalOpt id, double number) { at(id).number = number; }

  // The value as OPTIONS writes it: the word or text, the number (%g), a
  // switch as its name or NO-form.
  std::string valueText(GlobalOpt id) const;
  // "NAME=value" (a switch: its name or NO-form), for messages.
  std::string spelled(GlobalOpt id) const;

  // The procedure's questions by option name (any letter case): a switch
  // by its name (true when on) or NO-form (true when off); the text of any
  // option (valueText). Nothing for a name that is no option, or no switch.
  std::optional<bool> switchNamed(std::string_view name) const;
  std::optional<std::string> textNamed(std::string_view name) const;
  // Sets a switch by its name or NO-form; false when the name is no switch.
  bool setSwitchNamed(std::string_view name, bool on);

 private:
  OptionValue& at(GlobalOpt id) { return values_[static_cast<size_t>(id)]; }
  const OptionValue& at(GlobalOpt id) const { return values_[static_cast<size_t>(id)]; }

  std::array<OptionValue, static_cast<size_t>(GlobalOpt::Count)> values_;
};

}  // namespace qv
