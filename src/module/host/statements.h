// The statement grammar the module hands to the host, and the statement list
// the host's parse engine builds from it.
//
// The grammar is plain data (constexpr tables in module/grammar/): statements
// with their keywords, leading operands and options; options with their value
// kind, codes, range and data set. The engine (runtime) runs any such grammar
// over a step's statements and fills a StatementList: one node per statement,
// in the order written, each with its header flag bits and one option slot
// per option of the grammar, addressed by option id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <type_traits>
#include <vector>

namespace qv::host {

struct DataSet;

// --- Grammar description -----------------------------------------------------

// What follows an option name (or forms a leading operand).
enum class ValueKind : uint8_t {
  Flag,              // no value: sets the option's header flag
  Name,              // = name
  Text,              // = quoted string
  NameOrText,        // = name or quoted string (colors, style elements, fonts, symbols)
  Number,            // = integer or number, [unit] when the option allows one
  Int,               // = integer
  Variable,          // = variable (name, or name literal)
  DataSet,           // = data set name with optional (data set options)
  Enum,              // = keyword of the option's code table (or an integer when the table allows)
  AttrGroup,         // = style element, style element(overrides) or (overrides)
  NameOrTextList,    // = ( names or texts ): colors, symbols
  EnumList,          // = ( keywords or integers of the code table ): line patterns
  NameOrNameList,    // = name, or ( names or texts ): COLORMODEL=
  LabelList,         // = ( texts or names ): TIPLABEL=
  FormatList,        // = ( format names, w.d formats or names ): TIPFORMAT=
  TipList,           // = NONE (the option's flag), or ( variable list ): TIP=
  Pad,               // = number [unit], or ( LEFT= RIGHT= TOP= BOTTOM= number [unit] )
  EnumOrEnumList,    // = keyword of codes, or ( keywords of codes2 ): CONTRIBUTEOFFSETS=
  FlagOrVariable,    // flag, optionally = variable: DATALABEL
  FlagOrNumber,      // flag, optionally = number: BACKLIGHT
  EnumOrVariable,    // = keyword of codes, or a variable: POSITION= of TEXT
  NumberOrVariable,  // = number, or a variable: ROTATE=
  NumberOrDate,      // = integer, number, date, time or datetime: DISCRETEOFFSET=
  NumberList,        // = ( numbers ): BREAKS=
};

// The data set a variable is looked up in.
enum class VarSource : uint8_t {
  Statement = 0,    // the statement's own (StatementDesc::source)
  PlotData = 1,     // PLOTDATA=
  MapData = 2,      // MAPDATA=
  MapRespData = 3,  // MAPRESPDATA=, or MAPDATA= when no MAPRESPDATA= is given
};
inline constexpr int kVarSourceCount = 4;

// One keyword of a code table. Alternate spellings carry `alias` so that
// messages list only the main words.
struct EnumWord {
  const char* word;
  int code;
  bool alias = false;
};

struct EnumTable {
  const EnumWord* words = nullptr;
  int count = 0;
  bool allowInt = false;   // an integer is accepted as its own code
  bool intBounded = false; // ... only within intMin..intMax
  int intMin = 0;
  int intMax = 0;
};

// One option, one attribute-group override or one leading operand.
struct OptionDesc {
  int id = -1;                 // slot index; equals the index in Grammar::options
  const char* name = nullptr;  // as the user writes it (no "=")
  const char* aliases[3] = {nullptr, nullptr, nullptr};
  ValueKind kind = ValueKind::Flag;
  int flag = -1;                        // header flag set by this option (-1: none)
  const EnumTable* codes = nullptr;     // Enum, EnumList, EnumOrVariable, Pad sides, ...
  const EnumTable* codes2 = nullptr;    // EnumOrEnumList: the codes of the list form
  int group = -1;                       // AttrGroup: index into Grammar::groups
  bool unit = false;                    // a number may carry a size unit
  bool hasMin = false, hasMax = false;  // range check
  double min = 0, max = 0;
  VarSource source = VarSource::Statement;
  // A variable of the response data may also be one of the map data: it
  // is looked for there when the response data lacks it.
  bool orMapData = false;
  const char* label = nullptr;  // how messages name an unnamed operand

  constexpr OptionDesc alias(const char* a) const {
    OptionDesc d = *this;
    for (auto& s : d.aliases)
      if (!s) { s = a; break; }
    return d;
  }
  constexpr OptionDesc setsFlag(int n) const { OptionDesc d = *this; d.flag = n; return d; }
  constexpr OptionDesc withCodes(const EnumTable* t, const EnumTable* t2 = nullptr) const {
    OptionDesc d = *this; d.codes = t; d.codes2 = t2; return d;
  }
  constexpr OptionDesc withUnit() const { OptionDesc d = *this; d.unit = true; return d; }
  constexpr OptionDesc range(double lo, double hi) const {
    OptionDesc d = *this; d.hasMin = d.hasMax = true; d.min = lo; d.max = hi; return d;
  }
  constexpr OptionDesc atLeast(double lo) const {
    OptionDesc d = *this; d.hasMin = true; d.min = lo; return d;
  }
  constexpr OptionDesc from(VarSource s) const { OptionDesc d = *this; d.source = s; return d; }
  constexpr OptionDesc alsoMapData() const { OptionDesc d = *this; d.orMapData = true; return d; }
  constexpr OptionDesc ofGroup(int g) const { OptionDesc d = *this; d.group = g; return d; }
  constexpr OptionDesc named(const char* l) const { OptionDesc d = *this; d.label = l; return d; }
};

// A leading operand of a statement: keyed ("X=" var, "URL=" text, in any
// order) or positional (a variable or quoted strings right after the keyword).
struct OperandDesc {
  int option = -1;       // id into Grammar::options
  bool keyed = true;     // written NAME= value
  bool required = false;
  bool repeat = false;   // positional: any number of them (KEYLEGEND names)
};

struct StatementDesc {
  const char* keyword = nullptr;
  const char* aliases[3] = {nullptr, nullptr, nullptr};
  bool proc = false;      // the PROC statement: exactly one, first
  bool slash = true;      // options follow "/" (false: options follow the keyword)
  VarSource source = VarSource::PlotData;  // where the statement's variables live
  const OperandDesc* operands = nullptr;
  int operandCount = 0;
  const int* options = nullptr;  // ids into Grammar::options
  int optionCount = 0;
};

// An attribute group kind: its overrides (each an OptionDesc whose id is the
// override's index in Slot::attrs).
struct GroupDesc {
  const char* name = nullptr;  // "text attributes", ...
  const OptionDesc* overrides = nullptr;
  int count = 0;
};

struct Grammar {
  const StatementDesc* statements = nullptr;
  int statementCount = 0;
  const OptionDesc* options = nullptr;  // options[i].id == i
  int optionCount = 0;
  const GroupDesc* groups = nullptr;
  int groupCount = 0;
  const EnumTable* units = nullptr;  // size units; the "%" token is code `percentUnit`
  int percentUnit = 5;
  // Option id of the PROC option that names the data set of each VarSource
  // (index by VarSource; entry 0 unused, -1 when none).
  int dataSetOption[kVarSourceCount] = {-1, -1, -1, -1};
};

// --- Statement list ----------------------------------------------------------

// Header flags that the parser never sets: the host's BY mark, the host's
// opaque mark and the driver's any-variable-names mark.
inline constexpr int kFlagBy = 7;
inline constexpr int kFlagOpaque = 12;
inline constexpr int kFlagAnyNames = 55;

// Slot kind codes.
inline constexpr int kSlotAbsent = 0;
inline constexpr int kSlotNumber = 1;    // number (+ unit); also date/time values
inline constexpr int kSlotName = 3;      // name, or variable (var.name set)
inline constexpr int kSlotText = 5;      // quoted text
inline constexpr int kSlotEnum = 6;      // code in `number` (the word as written in `text`)
inline constexpr int kSlotList = 7;      // entries in `list`, in written order
inline constexpr int kSlotDataSet = 8;   // `dataSet` open; `text` its name
inline constexpr int kSlotGroup = 9;     // attribute group: `text` style element ("" none), `attrs`
inline constexpr int kSlotSides = 10;    // PAD=( ): `list` has 4 entries, indexed by kPad*

// Entries of a kSlotSides slot (absent sides have kind 0).
inline constexpr int kPadLeft = 0;
inline constexpr int kPadRight = 1;
inline constexpr int kPadTop = 2;
inline constexpr int kPadBottom = 3;

// Override indexes of an attribute group (Slot::attrs).
enum AttrKey : int {
  kAttrColor, kAttrSize, kAttrFamily, kAttrWeight, kAttrStyle,
  kAttrThickness, kAttrPattern, kAttrSymbol, kAttrTransparency,
  kAttrCount
};

// A variable as referred to by an option.
struct VarRef {
  std::string name;       // as written (the data set's spelling for expanded lists)
  int number = -1;        // 0-based number in its data set; -1 when not resolved
  bool literal = false;   // written as a name literal 'a b'n
  VarSource source = VarSource::Statement;  // data set it was looked up in
  DataSet* dataSet = nullptr;
};

struct Slot {
  int kind = kSlotAbsent;
  double number = 0;   // number, integer or enumeration code
  int unit = 0;        // size unit code, 0 none
  std::string text;    // text, name, enumeration word, style element, data set name
  VarRef var;          // kSlotName holding a variable
  std::vector<Slot> list;   // kSlotList / kSlotSides entries
  DataSet* dataSet = nullptr;
  std::vector<Slot> attrs;  // kSlotGroup: overrides indexed by AttrKey
  int line = 0, column = 0; // where the value was written

  bool present() const { return kind != kSlotAbsent; }
  bool isVariable() const { return kind == kSlotName && !var.name.empty(); }
  const Slot& attr(int key) const;
  void setEnum(int code) { kind = kSlotEnum; number = code; }
};

struct Statement {
  Statement* next = nullptr;
  std::string keyword;      // as the user wrote it, upper case ("OSM", "OPENSTREETMAP")
  int statement = -1;       // index into Grammar::statements
  const char* name = nullptr;  // the grammar's keyword ("OPENSTREETMAP" for OSM)
  int line = 0, column = 0;
  uint64_t header[4] = {0, 0, 0, 0};
  // Indexed by option id; the parser sizes it for the options this
  // statement can have. Use slot(): any id may be read (absent when out of
  // range) or written (the record grows). A deque, so that a reference to a
  // slot stays valid when a later slot() call grows the record.
  std::deque<Slot> slots;

  // Flag n is bit 0x80 >> (n % 8) of header byte n / 8; header byte b is
  // byte b % 8 of word b / 8, counted from the least significant byte (the
  // memory order of the words on the little-endian machines we run on).
  bool flag(int n) const;
  void setFlag(int n);

  Slot& slot(int id);              // grows the record when needed
  const Slot& slot(int id) const;  // an absent slot when out of range
  template <class E, class = std::enable_if_t<std::is_enum_v<E>>>
  Slot& slot(E id) { return slot(static_cast<int>(id)); }
  template <class E, class = std::enable_if_t<std::is_enum_v<E>>>
  const Slot& slot(E id) const { return slot(static_cast<int>(id)); }
  template <class E>
  bool has(E id) const { return slot(id).present(); }
};

// The parsed statements of one step. Nodes live in a deque, so their
// addresses (and `next` links) stay valid as nodes are appended and when the
// list is moved.
struct StatementList {
  std::deque<Statement> nodes;
  int errors = 0;

  StatementList() = default;
  StatementList(const StatementList&) = delete;
  StatementList& operator=(const StatementList&) = delete;
  StatementList(StatementList&&) = default;
  StatementList& operator=(StatementList&&) = default;

  Statement* first() { return nodes.empty() ? nullptr : &nodes.front(); }
  const Statement* first() const { return nodes.empty() ? nullptr : &nodes.front(); }
  size_t size() const { return nodes.size(); }
  bool empty() const { return nodes.empty(); }
  Statement& append();  // a new last node, linked from the previous one
  void clear() { nodes.clear(); errors = 0; }
};

}  // namespace qv::host
