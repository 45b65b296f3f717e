// The graph model: what a compiled template describes. The compiler fills
// it; the renderer draws it with the step's data sources and dynamic values.
//
// Every statement keeps all of its options in written order as typed values
// (Options), each under its Key, and the things the renderer needs most are
// also lifted into plain fields (colors, names, column roles, ranges, tips).
// Options are read by key, never by name: a misspelt key does not compile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace qv::render {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

enum class Unit { None, Px, In, Cm, Mm, Percent, Pt };

// Every option of the template's statements, one key per name (letter case
// aside). The compiler's table of keys (compiler.cpp) gives each its name,
// value type and column role, in this order.
enum class Key : uint8_t {
  Across, AttrMap, AttrVar, AutoCycleAttrs, AutoItemSize, BackgroundColor, Backlight, Border,
  BorderAttrs, Break, BubbleRadiusMax, BubbleRadiusMin, ColorGroup, ColorModel, ColorResponse,
  ContributeOffsets, DataColors, DataContrastColors, DataId, DataLabel, DataLabelAttrs,
  DataLabelPosition, DataLinePatterns, DataSymbols, DataTransparency, DesignHeight, DesignWidth,
  DiscreteLabel, DiscreteLegendEntryPolicy, DiscreteOffset, Display, EmptyOutlineAttrs,
  ExtractScale, FillAttrs, Group, Halign, HalignCenter, Id, IgnoreCase, IncludeMissingGroup,
  Integer, LegendLabel, LineAttrs, Location, MapId, MapProvider, MarkerAttrs, Name, Opaque,
  Orient, OutlineAttrs, Pad, Position, Primary, RangeAltColor, RangeAltColorModel, RangeColor,
  RangeColorModel, RoleName, Rotate, Size, SizeMax, SizeMaxResponse, SizeMin, SizeResponse,
  SmoothConnect, SplitChar, SplitCharDrop, SplitJustify, SplitPolicy, SplitWidth, Strip,
  Subpixel, Text, TextAttrs, Tip, TipFormat, TipLabel, Title, TitleAttrs, Url, Valign,
  ValueAttrs, Var, X, Y,
  Count
};
inline constexpr size_t kKeyCount = static_cast<size_t>(Key::Count);

// The attributes inside an attribute block such as LineAttrs=( ... ) and
// the sides of pad=( ... ).
enum class Attr : uint8_t {
  Color, Symbol, Size, Transparency, Pattern, Thickness, Family, Weight, Style,
  Top, Bottom, Left, Right,
  Count
};

struct AttrOption;
struct RoleEntry;

// One option value. Which fields are meaningful depends on `kind`.
struct Value {
  enum class Kind {
    Number,      // number: 0.5, 1e-05, 3
    Dimension,   // number with an optional unit: 5px, 12pt, 1pct, 5% (unit)
    Color,       // color: CXrrggbb gives rgb; a color name keeps text only
    String,      // quoted text, escapes decoded (text)
    Keyword,     // one of a fixed set, in the set's spelling (text)
    Name,        // a name: style element, data ID, dynamic, attribute variable
    Column,      // a data column: a name or a name literal, decoded (text)
    Boolean,     // true / false (flag)
    StyleRef,    // element:attribute, e.g. GraphLabelText:fontsize (text)
    Expression,  // a parenthesised expression kept as written (text)
    Stepper,     // GradientStepper(start,end,count,index): items[0..1], count, index
    List,        // ( item item ... ) (items)
    Block,       // [style element][( name=value ... )] (styleElement, attrs or roles)
  };
  Kind kind = Kind::Name;
  double number = 0;
  Unit unit = Unit::None;
  std::string text;
  std::optional<Rgb> rgb;        // Color: decoded CXrrggbb
  bool flag = false;             // Boolean
  int count = 0, index = 0;      // Stepper
  std::vector<Value> items;      // List; Stepper start and end colors
  std::string styleElement;      // Block: style element name, may be empty
  int graphData = 0;             // Block: n of a "GraphData<n>" style element
  bool hasOverrides = false;     // Block: a parenthesised list was written
  std::vector<AttrOption> attrs; // Block: the overrides in written order
  std::vector<RoleEntry> roles;  // role=value lists (rolename=, tipformat=, tiplabel=)
  size_t offset = 0;             // byte offset of the value in the text

  // Block only: the first override of `attr`, or null.
  const Value* find(Attr attr) const;
  // role=value lists only: the value given for the role (any letter case).
  const Value* role(std::string_view name) const;
};

struct AttrOption {
  Attr attr;
  Value value;
  size_t offset = 0;  // byte offset of the attribute's name
};

struct RoleEntry {
  std::string role;  // the role name as written
  Value value;
  size_t offset = 0;
};

struct Option {
  Key key;
  Value value;
  size_t offset = 0;  // byte offset of the option name
};

// Options in written order. An option may occur more than once (the text
// plot writes its display list twice); find() gives the first, last() the
// last, which is the more specific where a statement repeats one.
struct Options {
  std::vector<Option> items;
  const Value* find(Key key) const;
  const Value* last(Key key) const;
  bool has(Key key) const { return find(key) != nullptr; }
};

// Typed reads of an option, `fallback` when it is not given: a flag
// (bool), a number (double) or a text (std::string_view).
template <class T>
T get(const Options& options, Key key, T fallback) {
  const Value* v = options.find(key);
  if (!v) return fallback;
  if constexpr (std::is_same_v<T, bool>) return v->flag;
  else if constexpr (std::is_same_v<T, double>) return v->number;
  else {
    static_assert(std::is_same_v<T, std::string_view>, "get<> reads bool, double or text");
    return v->text;
  }
}
template <class T, class Statement>
  requires requires(const Statement& s) { s.options.items; }
T get(const Statement& statement, Key key, T fallback) {
  return get<T>(statement.options, key, fallback);
}

// begingraph options.
struct GraphOptions {
  std::vector<Rgb> dataColors, dataContrastColors;
  std::vector<std::string> dataSymbols;
  std::vector<int> dataLinePatterns;
  std::optional<Rgb> backgroundColor;
  bool opaque = true;
  std::optional<double> designWidth, designHeight;
  Options options;
};

// A discrete attribute map: attributes per group value.
struct DiscreteAttrValue {
  std::vector<std::string> values;  // the value texts ("Value " " "." gives two)
  bool other = false;               // Value Other
  Options options;               // markerattrs, lineattrs, fillattrs, textattrs
  size_t offset = 0;
};

struct DiscreteAttrMap {
  std::string name;
  bool showAll = false;     // discreteLegendEntryPolicy=attrmap
  bool ignoreCase = false;  // ignoreCase=true
  bool autoCycle = false;   // autocycleattrs=1
  Options options;
  std::vector<DiscreteAttrValue> values;
  size_t offset = 0;
};

// One end of a range: a number or one of the open keywords.
struct RangeBound {
  enum class Kind { Number, Min, NegMax, NegMaxAbs, Max, MaxAbs };
  Kind kind = Kind::Number;
  double value = 0;
};

struct RangeEntry {
  enum class Special { None, Other, Under, Over, Missing };
  Special special = Special::None;
  RangeBound low, high;
  bool excludeLow = false, excludeHigh = false;
  std::optional<std::string> label;  // DiscreteLabel
  std::optional<Value> color;        // RangeColor: a Color or a Stepper
  std::optional<Value> altColor;     // RangeAltColor
  std::optional<Value> colorModel;   // rangeColorModel: a Name or a List of colors
  std::optional<Value> altColorModel;
  Options options;
  size_t offset = 0;
};

struct RangeAttrMap {
  std::string name;
  std::vector<RangeEntry> ranges;
  size_t offset = 0;
};

// DiscreteAttrVar / RangeAttrVar: an attribute variable bound to a map.
struct AttrVar {
  bool range = false;
  std::string name;        // attrvar=
  std::string variable;    // var= column (for an expression: its column when known)
  std::string expression;  // var= when written as an expression, as written
  std::string map;         // attrmap=
  size_t offset = 0;
};

// A title or footnote line: segments of text or dynamic names.
struct TextSegment {
  bool dynamic = false;  // text names a dynamic value
  std::string text;      // decoded text, or the dynamic name
  Options options;    // halign, textattrs for this segment
};

struct TextEntry {
  bool footnote = false;
  std::vector<TextSegment> segments;
  Options options;  // halign, textattrs, backgroundcolor, border, pad, ...
  size_t offset = 0;
};

enum class LayerKind { Map, Region, Scatter, Bubble, Series, Text };

enum class Role {
  X, Y, Size, Text, Group, ColorGroup, ColorResponse, MapId, Id, Url, DataLabel,
  SizeResponse, Rotate,
};

struct ColumnRef {
  Role role;
  std::string column;  // decoded column (or attribute variable) name
};

struct Tip {
  std::string role;    // the tip's role name (_tipvar1_)
  std::string column;
  std::string format;  // tipformat=, empty when none
  std::optional<std::string> label;  // tiplabel=
};

struct Layer {
  LayerKind kind = LayerKind::Scatter;
  std::string statement;  // the statement keyword as the table spells it
  std::string dataId;     // PLOTDATA, RESPONSEDATA, __MAP__; empty for a map layer
  std::string provider;   // mapProvider=
  std::string name;       // name= / NAME=, empty when none
  std::optional<std::string> legendLabel;
  std::vector<ColumnRef> columns;  // column roles in written order
  bool tipNone = false;            // tip=none
  std::vector<Tip> tips;           // in the order of tip=( )
  Options options;              // every option, head ones first
  size_t offset = 0;

  const ColumnRef* column(Role role) const;
};

// DiscreteLegend / ContinuousLegend.
struct Legend {
  bool continuous = false;
  std::vector<std::string> plots;  // the plot names it lists
  std::optional<std::string> title;
  Options options;
  size_t offset = 0;
};

struct GraphModel {
  std::string name;  // the template's name ("tavlo")
  std::vector<std::string> dynamics;  // names declared dynamic, in order
  GraphOptions graph;
  std::vector<AttrVar> attrVars;
  std::vector<DiscreteAttrMap> discreteMaps;
  std::vector<RangeAttrMap> rangeMaps;
  std::vector<TextEntry> titles, footnotes;
  Options overlayOptions;  // layout overlaymap options (pad)
  std::vector<Layer> layers;  // the overlay's layers in drawing order
  std::vector<Legend> overlayLegends;  // legends inside the overlay (gradient legends)
  std::vector<Legend> globalLegends;   // legends of layout GlobalLegend
  bool hasOverlay = false, hasGlobalLegend = false;

  const DiscreteAttrMap* discreteMap(std::string_view name) const;
  const RangeAttrMap* rangeMap(std::string_view name) const;
  const Layer* layer(std::string_view name) const;  // by plot name, any case
};

}  // namespace qv::render
