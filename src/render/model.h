// The graph model: what a compiled template describes. The compiler fills
// it; the renderer draws it with the step's data sources and dynamic values.
//
// Every statement keeps all of its options in written order as typed values
// (OptionList), and the things the renderer needs most are also lifted into
// plain fields (colors, names, column roles, ranges, tips).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::render {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};

enum class Unit { None, Px, In, Cm, Mm, Percent, Pt };

struct Option;

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
    Block,       // [style element][( name=value ... )] (styleElement, options)
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
  std::vector<Option> options;   // Block: the overrides in written order
  size_t offset = 0;             // byte offset of the value in the text

  // Block only: the override named `name` (any letter case), or null.
  const Value* find(std::string_view name) const;
};

struct Option {
  std::string name;  // the name as the compiler's table spells it
  Value value;
  size_t offset = 0;  // byte offset of the option name
};

// Options in written order. An option may occur more than once (the text
// plot writes its display list twice); find() gives the first.
struct OptionList {
  std::vector<Option> items;
  const Value* find(std::string_view name) const;  // any letter case
  bool has(std::string_view name) const { return find(name) != nullptr; }
};

// begingraph options.
struct GraphOptions {
  std::vector<Rgb> dataColors, dataContrastColors;
  std::vector<std::string> dataSymbols;
  std::vector<int> dataLinePatterns;
  std::optional<Rgb> backgroundColor;
  bool opaque = true;
  std::optional<double> designWidth, designHeight;
  OptionList options;
};

// A discrete attribute map: attributes per group value.
struct DiscreteAttrValue {
  std::vector<std::string> values;  // the value texts ("Value " " "." gives two)
  bool other = false;               // Value Other
  OptionList options;               // markerattrs, lineattrs, fillattrs, textattrs
  size_t offset = 0;
};

struct DiscreteAttrMap {
  std::string name;
  bool showAll = false;     // discreteLegendEntryPolicy=attrmap
  bool ignoreCase = false;  // ignoreCase=true
  bool autoCycle = false;   // autocycleattrs=1
  OptionList options;
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
  OptionList options;
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
  OptionList options;    // halign, textattrs for this segment
};

struct TextEntry {
  bool footnote = false;
  std::vector<TextSegment> segments;
  OptionList options;  // halign, textattrs, backgroundcolor, border, pad, ...
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
  OptionList options;              // every option, head ones first
  size_t offset = 0;

  const ColumnRef* column(Role role) const;
};

// DiscreteLegend / ContinuousLegend.
struct Legend {
  bool continuous = false;
  std::vector<std::string> plots;  // the plot names it lists
  std::optional<std::string> title;
  OptionList options;
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
  OptionList overlayOptions;  // layout overlaymap options (pad)
  std::vector<Layer> layers;  // the overlay's layers in drawing order
  std::vector<Legend> overlayLegends;  // legends inside the overlay (gradient legends)
  std::vector<Legend> globalLegends;   // legends of layout GlobalLegend
  bool hasOverlay = false, hasGlobalLegend = false;

  const DiscreteAttrMap* discreteMap(std::string_view name) const;
  const RangeAttrMap* rangeMap(std::string_view name) const;
  const Layer* layer(std::string_view name) const;  // by plot name, any case
};

}  // namespace qv::render
