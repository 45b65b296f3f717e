// The template compiler.
//
// The text is a sequence of statements, each ended by ";". A statement is a
// keyword, a head (named options, quoted names, text segments or a range,
// depending on the statement) and, after " /", named options. Option values
// are typed by the tables below; a value is a word, a quoted string, a name
// literal, a parenthesised list or a block of nested options.
//
// The tables are the whole language: a statement or option missing from them
// is a compile error naming the text and its byte offset. The parser never
// recurses deeper than the value types nest (and a hard cap besides), so any
// input, however broken, ends in a model or an error.
#include "render/graph/compiler.h"

#include <charconv>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <span>

#include "common/ascii.h"
#include "render/graph/data.h"
#include "render/paint/text.h"

namespace qv::render {

namespace {

// ---------------------------------------------------------------------------
// Value types and option tables

enum class K {
  Number, Integer, Dimension, Color, ColorName, String, Keyword, Name, Column,
  Boolean, Format, StyleRef, Expression, Stepper, List, Block, Keyed, Alt,
};

struct TypeDesc;

// An attribute of a block, as the block's table spells it, with its type
// (the same attribute may take another type in another block: Size= is a
// length in MarkerAttrs= and a length or a style reference in TextAttrs=).
struct AttrSpec {
  Attr attr;
  std::string_view name;
  const TypeDesc* type;
};

struct TypeDesc {
  K kind;
  std::string_view what;  // for messages: "a number", "true or false", ...
  std::span<const std::string_view> words = {};  // Keyword: the accepted words
  const TypeDesc* element = nullptr;             // List, Keyed: the item type
  std::span<const AttrSpec> table = {};          // Block: the accepted overrides
  std::span<const TypeDesc* const> alts = {};    // Alt: tried in order
};

// Scalars.
constexpr TypeDesc tNumber{K::Number, "a number"};
constexpr TypeDesc tInteger{K::Integer, "a whole number"};
constexpr TypeDesc tDimension{K::Dimension,
                              "a number with an optional unit (px, in, cm, mm, pt, pct or %)"};
constexpr TypeDesc tStyleRef{K::StyleRef, "a style reference (element:attribute)"};
constexpr TypeDesc tColor{K::Color, "a color CXrrggbb"};
constexpr TypeDesc tColorName{K::ColorName, "a color"};
constexpr TypeDesc tString{K::String, "a quoted text"};
constexpr TypeDesc tName{K::Name, "a name"};
constexpr TypeDesc tColumn{K::Column, "a column name"};
constexpr TypeDesc tBoolean{K::Boolean, "true or false"};
constexpr TypeDesc tFormat{K::Format, "a format name"};
constexpr TypeDesc tExpression{K::Expression, "an expression"};
constexpr TypeDesc tStepper{K::Stepper, "GradientStepper(start,end,count,index)"};

// Keyword sets.
constexpr std::string_view wHalign[] = {"left", "center", "right"};
constexpr std::string_view wValign[] = {"top", "center", "bottom"};
constexpr std::string_view wOrient[] = {"horizontal", "vertical"};
constexpr std::string_view wLocation[] = {"Outside", "Inside"};
constexpr auto wPosition = [] {
  std::array<std::string_view, std::size(kTextPositions)> names;
  for (size_t i = 0; i < names.size(); ++i) names[i] = kTextPositions[i].name;
  return names;
}();
constexpr std::string_view wSplitPolicy[] = {"none", "split", "splitalways"};
constexpr std::string_view wJustify[] = {"Left", "Right", "Center"};
constexpr std::string_view wOnOff[] = {"on", "off"};
constexpr std::string_view wWeight[] = {"normal", "bold"};
constexpr std::string_view wStyle[] = {"normal", "italic"};
constexpr std::string_view wGraph[] = {"Graph"};
constexpr std::string_view wEntryPolicy[] = {"attrmap"};
constexpr std::string_view wOffsetsAll[] = {"All", "None"};
constexpr std::string_view wOffsetSides[] = {"XMIN", "XMAX", "YMIN", "YMAX"};
constexpr std::string_view wDisplay[] = {"Outline", "Fill"};
constexpr std::string_view wAuto[] = {"auto"};
constexpr std::string_view wNone[] = {"none"};

constexpr TypeDesc tHalign{K::Keyword, "left, center or right", wHalign};
constexpr TypeDesc tValign{K::Keyword, "top, center or bottom", wValign};
constexpr TypeDesc tOrient{K::Keyword, "horizontal or vertical", wOrient};
constexpr TypeDesc tLocation{K::Keyword, "Outside or Inside", wLocation};
constexpr TypeDesc tPosition{K::Keyword, "a position (Top, TopRight, ..., Center)", wPosition};
constexpr TypeDesc tSplitPolicy{K::Keyword, "none, split or splitalways", wSplitPolicy};
constexpr TypeDesc tJustify{K::Keyword, "Left, Right or Center", wJustify};
constexpr TypeDesc tOnOff{K::Keyword, "on or off", wOnOff};
constexpr TypeDesc tWeight{K::Keyword, "normal or bold", wWeight};
constexpr TypeDesc tStyle{K::Keyword, "normal or italic", wStyle};
constexpr TypeDesc tGraph{K::Keyword, "Graph", wGraph};
constexpr TypeDesc tEntryPolicy{K::Keyword, "attrmap", wEntryPolicy};
constexpr TypeDesc tOffsetsAll{K::Keyword, "All or None", wOffsetsAll};
constexpr TypeDesc tOffsetSide{K::Keyword, "XMIN, XMAX, YMIN or YMAX", wOffsetSides};
constexpr TypeDesc tDisplayItem{K::Keyword, "Outline or Fill", wDisplay};
constexpr TypeDesc tAuto{K::Keyword, "auto", wAuto};
constexpr TypeDesc tNoneWord{K::Keyword, "none", wNone};

// Lists and keyed lists.
constexpr TypeDesc tColorList{K::List, "a list of colors", {}, &tColor};
constexpr TypeDesc tColorNameList{K::List, "a list of colors", {}, &tColorName};
constexpr TypeDesc tNameList{K::List, "a list of names", {}, &tName};
constexpr TypeDesc tIntegerList{K::List, "a list of whole numbers", {}, &tInteger};
constexpr TypeDesc tSideList{K::List, "a list of XMIN, XMAX, YMIN, YMAX", {}, &tOffsetSide};
constexpr TypeDesc tDisplay{K::List, "a list of Outline and Fill", {}, &tDisplayItem};
constexpr TypeDesc tRoleColumns{K::Keyed, "a list of role=column", {}, &tColumn};
constexpr TypeDesc tRoleFormats{K::Keyed, "a list of role=format", {}, &tFormat};
constexpr TypeDesc tRoleLabels{K::Keyed, "a list of role=\"label\"", {}, &tString};

// Choices.
constexpr const TypeDesc* aSize[] = {&tDimension, &tStyleRef};
constexpr TypeDesc tSize{K::Alt, "a size", {}, nullptr, {}, aSize};
constexpr const TypeDesc* aPattern[] = {&tInteger, &tName};
constexpr TypeDesc tPattern{K::Alt, "a line pattern number or name", {}, nullptr, {}, aPattern};
constexpr const TypeDesc* aVar[] = {&tExpression, &tColumn};
constexpr TypeDesc tVar{K::Alt, "a column or an expression", {}, nullptr, {}, aVar};
constexpr const TypeDesc* aRangeColor[] = {&tStepper, &tColorName};
constexpr TypeDesc tRangeColor{K::Alt, "a color or GradientStepper(...)", {}, nullptr, {},
                               aRangeColor};
constexpr const TypeDesc* aColorModel[] = {&tColorList, &tName};
constexpr TypeDesc tColorModel{K::Alt, "a color model name or a list of colors", {}, nullptr, {},
                               aColorModel};
constexpr const TypeDesc* aRangeColorModel[] = {&tColorNameList, &tName};
constexpr TypeDesc tRangeColorModel{K::Alt, "a color model name or a list of colors", {}, nullptr,
                                    {}, aRangeColorModel};
constexpr const TypeDesc* aTip[] = {&tNoneWord, &tNameList};
constexpr TypeDesc tTip{K::Alt, "none or a list of role names", {}, nullptr, {}, aTip};
constexpr const TypeDesc* aOffsets[] = {&tOffsetsAll, &tSideList};
constexpr TypeDesc tOffsets{K::Alt, "All, None or a list of sides", {}, nullptr, {}, aOffsets};
constexpr const TypeDesc* aBacklight[] = {&tAuto, &tNumber};
constexpr TypeDesc tBacklight{K::Alt, "auto or a number", {}, nullptr, {}, aBacklight};
constexpr const TypeDesc* aRotate[] = {&tNumber, &tColumn};
constexpr TypeDesc tRotate{K::Alt, "a number or a column", {}, nullptr, {}, aRotate};

// Attribute blocks: [style element][( overrides )].
constexpr AttrSpec kMarkerBlock[] = {{Attr::Color, "Color", &tColor},
                                     {Attr::Symbol, "Symbol", &tName},
                                     {Attr::Size, "Size", &tDimension},
                                     {Attr::Transparency, "Transparency", &tNumber}};
constexpr AttrSpec kLineBlock[] = {{Attr::Color, "Color", &tColor},
                                   {Attr::Pattern, "Pattern", &tPattern},
                                   {Attr::Thickness, "Thickness", &tDimension}};
constexpr AttrSpec kFillBlock[] = {{Attr::Color, "Color", &tColor},
                                   {Attr::Transparency, "Transparency", &tNumber}};
constexpr AttrSpec kTextBlock[] = {{Attr::Color, "Color", &tColor},
                                   {Attr::Family, "Family", &tString},
                                   {Attr::Size, "Size", &tSize},
                                   {Attr::Weight, "Weight", &tWeight},
                                   {Attr::Style, "Style", &tStyle}};
constexpr AttrSpec kBorderBlock[] = {{Attr::Thickness, "thickness", &tDimension},
                                     {Attr::Color, "color", &tColor}};
constexpr AttrSpec kPadBlock[] = {{Attr::Top, "top", &tDimension},
                                  {Attr::Bottom, "bottom", &tDimension},
                                  {Attr::Left, "left", &tDimension},
                                  {Attr::Right, "right", &tDimension}};

constexpr TypeDesc tMarkerAttrs{K::Block, "marker attributes", {}, nullptr, kMarkerBlock};
constexpr TypeDesc tLineAttrs{K::Block, "line attributes", {}, nullptr, kLineBlock};
constexpr TypeDesc tFillAttrs{K::Block, "fill attributes", {}, nullptr, kFillBlock};
constexpr TypeDesc tTextAttrs{K::Block, "text attributes", {}, nullptr, kTextBlock};
constexpr TypeDesc tBorderAttrs{K::Block, "border attributes", {}, nullptr, kBorderBlock};
constexpr TypeDesc tPadBlock{K::Block, "paddings", {}, nullptr, kPadBlock};
constexpr const TypeDesc* aPad[] = {&tDimension, &tPadBlock};
constexpr TypeDesc tPad{K::Alt, "a padding or a list of paddings", {}, nullptr, {}, aPad};

// Every option key: its name, its value type and, for a column, its role.
struct KeySpec {
  Key key;
  std::string_view name;
  const TypeDesc* type;
  std::optional<Role> role = std::nullopt;  // a column role when the value is a column
};

constexpr KeySpec kKeys[] = {
    {Key::Across, "across", &tInteger},
    {Key::AttrMap, "attrmap", &tString},
    {Key::AttrVar, "attrvar", &tName},
    {Key::AutoCycleAttrs, "autocycleattrs", &tInteger},
    {Key::AutoItemSize, "AutoItemSize", &tBoolean},
    {Key::BackgroundColor, "BackgroundColor", &tColor},
    {Key::Backlight, "backlight", &tBacklight},
    {Key::Border, "border", &tBoolean},
    {Key::BorderAttrs, "borderattrs", &tBorderAttrs},
    {Key::Break, "break", &tBoolean},
    {Key::BubbleRadiusMax, "bubbleradiusmax", &tDimension},
    {Key::BubbleRadiusMin, "bubbleradiusmin", &tDimension},
    {Key::ColorGroup, "colorGroup", &tColumn, Role::ColorGroup},
    {Key::ColorModel, "ColorModel", &tColorModel},
    {Key::ColorResponse, "colorResponse", &tColumn, Role::ColorResponse},
    {Key::ContributeOffsets, "contributeOffsets", &tOffsets},
    {Key::DataColors, "dataColors", &tColorList},
    {Key::DataContrastColors, "dataContrastColors", &tColorList},
    {Key::DataId, "dataID", &tName},
    {Key::DataLabel, "DataLabel", &tColumn, Role::DataLabel},
    {Key::DataLabelAttrs, "DataLabelAttrs", &tTextAttrs},
    {Key::DataLabelPosition, "dataLabelPosition", &tPosition},
    {Key::DataLinePatterns, "dataLinePatterns", &tIntegerList},
    {Key::DataSymbols, "dataSymbols", &tNameList},
    {Key::DataTransparency, "DataTransparency", &tNumber},
    {Key::DesignHeight, "DesignHeight", &tDimension},
    {Key::DesignWidth, "DesignWidth", &tDimension},
    {Key::DiscreteLabel, "DiscreteLabel", &tString},
    {Key::DiscreteLegendEntryPolicy, "discreteLegendEntryPolicy", &tEntryPolicy},
    {Key::DiscreteOffset, "discreteOffset", &tNumber},
    {Key::Display, "Display", &tDisplay},
    {Key::EmptyOutlineAttrs, "EmptyOutLineAttrs", &tLineAttrs},
    {Key::ExtractScale, "extractscale", &tBoolean},
    {Key::FillAttrs, "fillattrs", &tFillAttrs},
    {Key::Group, "Group", &tColumn, Role::Group},
    {Key::Halign, "halign", &tHalign},
    {Key::HalignCenter, "halignCenter", &tGraph},
    {Key::Id, "id", &tColumn, Role::Id},
    {Key::IgnoreCase, "ignoreCase", &tBoolean},
    {Key::IncludeMissingGroup, "includemissinggroup", &tBoolean},
    {Key::Integer, "Integer", &tBoolean},
    {Key::LegendLabel, "LegendLabel", &tString},
    {Key::LineAttrs, "lineattrs", &tLineAttrs},
    {Key::Location, "Location", &tLocation},
    {Key::MapId, "mapid", &tColumn, Role::MapId},
    {Key::MapProvider, "mapProvider", &tName},
    {Key::MarkerAttrs, "markerattrs", &tMarkerAttrs},
    {Key::Name, "name", &tString},
    {Key::Opaque, "opaque", &tBoolean},
    {Key::Orient, "orient", &tOrient},
    {Key::OutlineAttrs, "OutLineAttrs", &tLineAttrs},
    {Key::Pad, "pad", &tPad},
    {Key::Position, "position", &tPosition},
    {Key::Primary, "primary", &tBoolean},
    {Key::RangeAltColor, "RangeAltColor", &tColorName},
    {Key::RangeAltColorModel, "rangeAltColorModel", &tRangeColorModel},
    {Key::RangeColor, "RangeColor", &tRangeColor},
    {Key::RangeColorModel, "rangeColorModel", &tRangeColorModel},
    {Key::RoleName, "rolename", &tRoleColumns},
    {Key::Rotate, "Rotate", &tRotate, Role::Rotate},
    {Key::Size, "SIZE", &tColumn, Role::Size},
    {Key::SizeMax, "SizeMax", &tDimension},
    {Key::SizeMaxResponse, "SizeMaxResponse", &tNumber},
    {Key::SizeMin, "SizeMin", &tDimension},
    {Key::SizeResponse, "SizeResponse", &tColumn, Role::SizeResponse},
    {Key::SmoothConnect, "smoothconnect", &tBoolean},
    {Key::SplitChar, "SplitChar", &tString},
    {Key::SplitCharDrop, "SplitCharDrop", &tBoolean},
    {Key::SplitJustify, "SplitJustify", &tJustify},
    {Key::SplitPolicy, "Splitpolicy", &tSplitPolicy},
    {Key::SplitWidth, "splitwidth", &tNumber},
    {Key::Strip, "strip", &tBoolean},
    {Key::Subpixel, "subpixel", &tOnOff},
    {Key::Text, "text", &tColumn, Role::Text},
    {Key::TextAttrs, "textattrs", &tTextAttrs},
    {Key::Tip, "tip", &tTip},
    {Key::TipFormat, "tipformat", &tRoleFormats},
    {Key::TipLabel, "tiplabel", &tRoleLabels},
    {Key::Title, "Title", &tString},
    {Key::TitleAttrs, "TitleAttrs", &tTextAttrs},
    {Key::Url, "URL", &tColumn, Role::Url},
    {Key::Valign, "valign", &tValign},
    {Key::ValueAttrs, "ValueAttrs", &tTextAttrs},
    {Key::Var, "var", &tVar},
    {Key::X, "X", &tColumn, Role::X},
    {Key::Y, "Y", &tColumn, Role::Y},
};
static_assert(std::size(kKeys) == kKeyCount, "one line of kKeys per Key");

constexpr bool keysInOrder() {
  for (size_t i = 0; i < std::size(kKeys); ++i) {
    if (kKeys[i].key != static_cast<Key>(i)) return false;
    for (size_t j = 0; j < i; ++j)
      if (sameNoCase(kKeys[i].name, kKeys[j].name)) return false;
  }
  return true;
}
static_assert(keysInOrder(), "kKeys lists the keys in the order of Key, each name once");

constexpr const KeySpec& keySpec(Key k) { return kKeys[static_cast<size_t>(k)]; }

// An option a statement accepts: its key, as this statement spells it.
struct OptionSpec {
  Key key;
  std::string_view name;
  constexpr const TypeDesc& type() const { return *keySpec(key).type; }
};

// Statement options. Each line is one accepted option.
constexpr OptionSpec kGraphOptions[] = {
    {Key::Opaque, "opaque"},
    {Key::DataColors, "dataColors"},
    {Key::DataContrastColors, "dataContrastColors"},
    {Key::DataSymbols, "dataSymbols"},
    {Key::DataLinePatterns, "dataLinePatterns"},
    {Key::BackgroundColor, "BackgroundColor"},
    {Key::DesignWidth, "DesignWidth"},
    {Key::DesignHeight, "DesignHeight"},
};
constexpr OptionSpec kAttrVarHead[] = {
    {Key::AttrVar, "attrvar"}, {Key::Var, "var"}, {Key::AttrMap, "attrmap"}};
constexpr OptionSpec kMapNameHead[] = {{Key::Name, "name"}};
constexpr OptionSpec kDiscreteMapOptions[] = {
    {Key::DiscreteLegendEntryPolicy, "discreteLegendEntryPolicy"},
    {Key::IgnoreCase, "ignoreCase"},
    {Key::AutoCycleAttrs, "autocycleattrs"},
};
constexpr OptionSpec kValueOptions[] = {
    {Key::MarkerAttrs, "markerattrs"},
    {Key::LineAttrs, "lineattrs"},
    {Key::FillAttrs, "fillattrs"},
    {Key::TextAttrs, "textattrs"},
};
constexpr OptionSpec kRangeOptions[] = {
    {Key::DiscreteLabel, "DiscreteLabel"},
    {Key::RangeColor, "RangeColor"},
    {Key::RangeAltColor, "RangeAltColor"},
    {Key::RangeColorModel, "rangeColorModel"},
    {Key::RangeAltColorModel, "rangeAltColorModel"},
};
constexpr OptionSpec kSegmentOptions[] = {{Key::Halign, "halign"}, {Key::TextAttrs, "textattrs"}};
constexpr OptionSpec kEntryOptions[] = {
    {Key::Halign, "halign"},        {Key::TextAttrs, "textattrs"},
    {Key::BackgroundColor, "backgroundcolor"}, {Key::Opaque, "opaque"},
    {Key::Border, "border"},       {Key::BorderAttrs, "borderattrs"},
    {Key::Pad, "pad"},              {Key::HalignCenter, "halignCenter"},
};
constexpr OptionSpec kOverlayOptions[] = {{Key::Pad, "pad"}};
constexpr OptionSpec kMapLayerHead[] = {{Key::MapProvider, "mapProvider"}};

constexpr OptionSpec kXY[] = {{Key::X, "X"}, {Key::Y, "Y"}};
constexpr OptionSpec kBubbleHead[] = {{Key::X, "X"}, {Key::Y, "Y"}, {Key::Size, "SIZE"}};
constexpr OptionSpec kTextHead[] = {{Key::X, "X"}, {Key::Y, "Y"}, {Key::Text, "text"}};

// Options every plot and the region layer may carry.
constexpr OptionSpec kPlotCommon[] = {
    {Key::DataId, "dataID"},
    {Key::ColorModel, "ColorModel"},
    {Key::Primary, "primary"},
    {Key::IncludeMissingGroup, "includemissinggroup"},
    {Key::Tip, "tip"},
    {Key::RoleName, "rolename"},
    {Key::TipFormat, "tipformat"},
    {Key::TipLabel, "tiplabel"},
    {Key::DataTransparency, "DataTransparency"},
    {Key::Url, "URL"},
    {Key::LegendLabel, "LegendLabel"},
    {Key::Name, "name"},
};
// Options of the point plots (not the region layer).
constexpr OptionSpec kPointCommon[] = {
    {Key::DiscreteOffset, "discreteOffset"},
    {Key::Group, "Group"},
};
constexpr OptionSpec kRegionOwn[] = {
    {Key::MapId, "mapid"},
    {Key::Id, "id"},
    {Key::ColorResponse, "colorResponse"},
    {Key::ColorGroup, "colorGroup"},
    {Key::OutlineAttrs, "OutLineAttrs"},
    {Key::EmptyOutlineAttrs, "EmptyOutLineAttrs"},
    {Key::DataLabelAttrs, "DataLabelAttrs"},
    {Key::DataLabel, "DataLabel"},
    {Key::FillAttrs, "FillAttrs"},
};
constexpr OptionSpec kScatterOwn[] = {
    {Key::Subpixel, "subpixel"},
    {Key::MarkerAttrs, "Markerattrs"},
    {Key::DataLabelPosition, "dataLabelPosition"},
    {Key::DataLabelAttrs, "DataLabelAttrs"},
    {Key::ColorResponse, "ColorResponse"},
    {Key::DataLabel, "DataLabel"},
    {Key::ContributeOffsets, "contributeOffsets"},
};
constexpr OptionSpec kSeriesOwn[] = {
    {Key::SmoothConnect, "smoothconnect"},
    {Key::Break, "break"},
    {Key::MarkerAttrs, "Markerattrs"},
    {Key::LineAttrs, "Lineattrs"},
    {Key::DataLabelAttrs, "DataLabelAttrs"},
};
constexpr OptionSpec kBubbleOwn[] = {
    {Key::OutlineAttrs, "OutLineAttrs"},
    {Key::DataLabelPosition, "dataLabelPosition"},
    {Key::DataLabelAttrs, "DataLabelAttrs"},
    {Key::Display, "Display"},
    {Key::FillAttrs, "FillAttrs"},
    {Key::ColorResponse, "ColorResponse"},
    {Key::DataLabel, "DataLabel"},
    {Key::BubbleRadiusMin, "bubbleradiusmin"},
    {Key::BubbleRadiusMax, "bubbleradiusmax"},
};
constexpr OptionSpec kTextOwn[] = {
    {Key::OutlineAttrs, "OutLineAttrs"},
    {Key::TextAttrs, "TextAttrs"},
    {Key::SplitPolicy, "Splitpolicy"},
    {Key::SplitChar, "SplitChar"},
    {Key::SplitCharDrop, "SplitCharDrop"},
    {Key::SplitJustify, "SplitJustify"},
    {Key::Strip, "strip"},
    {Key::Display, "Display"},
    {Key::FillAttrs, "FillAttrs"},
    {Key::ColorResponse, "ColorResponse"},
    {Key::Rotate, "Rotate"},
    {Key::Pad, "pad"},
    {Key::ContributeOffsets, "contributeOffsets"},
    {Key::Backlight, "backlight"},
    {Key::Position, "position"},
    {Key::SplitWidth, "splitwidth"},
    {Key::SizeResponse, "SizeResponse"},
    {Key::SizeMin, "SizeMin"},
    {Key::SizeMax, "SizeMax"},
    {Key::SizeMaxResponse, "SizeMaxResponse"},
};
constexpr OptionSpec kDiscreteLegendOptions[] = {
    {Key::Valign, "valign"},         {Key::Halign, "halign"},
    {Key::Across, "across"},         {Key::Title, "Title"},
    {Key::TitleAttrs, "TitleAttrs"}, {Key::ValueAttrs, "ValueAttrs"},
    {Key::AutoItemSize, "AutoItemSize"},
};
constexpr OptionSpec kContinuousLegendOptions[] = {
    {Key::Location, "Location"},         {Key::Valign, "valign"},
    {Key::Halign, "halign"},             {Key::Orient, "orient"},
    {Key::Title, "Title"},               {Key::TitleAttrs, "TitleAttrs"},
    {Key::ExtractScale, "extractscale"}, {Key::Integer, "Integer"},
    {Key::Border, "Border"},
};

using Table = std::span<const OptionSpec>;
constexpr Table gGraph[] = {kGraphOptions};
constexpr Table gAttrVar[] = {kAttrVarHead};
constexpr Table gMapName[] = {kMapNameHead};
constexpr Table gDiscreteMap[] = {kDiscreteMapOptions};
constexpr Table gValue[] = {kValueOptions};
constexpr Table gRange[] = {kRangeOptions};
constexpr Table gEntry[] = {kEntryOptions};
constexpr Table gMapLayer[] = {kMapLayerHead};
constexpr Table gXY[] = {kXY};
constexpr Table gBubbleHead[] = {kBubbleHead};
constexpr Table gTextHead[] = {kTextHead};
constexpr Table gRegion[] = {kPlotCommon, kRegionOwn};
constexpr Table gScatter[] = {kPlotCommon, kPointCommon, kScatterOwn};
constexpr Table gSeries[] = {kPlotCommon, kPointCommon, kSeriesOwn};
constexpr Table gBubble[] = {kPlotCommon, kPointCommon, kBubbleOwn};
constexpr Table gText[] = {kPlotCommon, kPointCommon, kTextOwn};
constexpr Table gDiscreteLegend[] = {kDiscreteLegendOptions};
constexpr Table gContinuousLegend[] = {kContinuousLegendOptions};

// A statement may spell an option in its own letter case, never otherwise.
constexpr bool spelledAsKeys(std::span<const Table> groups) {
  for (const Table& t : groups)
    for (const OptionSpec& o : t)
      if (!sameNoCase(o.name, keySpec(o.key).name)) return false;
  return true;
}
constexpr Table kAllTables[] = {
    kGraphOptions, kAttrVarHead, kMapNameHead, kDiscreteMapOptions, kValueOptions, kRangeOptions,
    kSegmentOptions, kEntryOptions, kOverlayOptions, kMapLayerHead, kXY, kBubbleHead, kTextHead,
    kPlotCommon, kPointCommon, kRegionOwn, kScatterOwn, kSeriesOwn, kBubbleOwn, kTextOwn,
    kDiscreteLegendOptions, kContinuousLegendOptions};
static_assert(spelledAsKeys(kAllTables), "an option table spells a key other than kKeys does");

// Where a statement may stand.
enum Ctx : unsigned {
  cTop = 1,         // before define
  cDefine = 2,      // after define, before begingraph
  cGraph = 4,       // inside begingraph, outside layouts and maps
  cDiscrete = 8,    // inside DiscreteAttrMap
  cRange = 16,      // inside RangeAttrMap
  cOverlay = 32,    // inside layout overlaymap
  cLegends = 64,    // inside layout GlobalLegend
  cAfterGraph = 128,  // after endgraph
  cDone = 256,      // after end
};

enum class S {
  Proc, Define, Dynamic, BeginGraph, DiscreteAttrVar, RangeAttrVar, DiscreteAttrMap, Value,
  EndDiscreteAttrMap, RangeAttrMap, Range, EndRangeAttrMap, EntryTitle, EntryFootnote, Layout,
  EndLayout, MapLayer, Region, Scatter, Bubble, Series, TextPlot, DiscreteLegend,
  ContinuousLegend, EndGraph, End, Run,
};

struct StatementSpec {
  std::string_view keyword;
  S kind;
  unsigned where;  // Ctx bits
  std::span<const Table> headTables = {};
  std::span<const Table> slashTables = {};  // empty: no " /" part
  std::span<const Key> required = {};  // head options that must be given
};

constexpr Key rAttrVar[] = {Key::AttrVar, Key::Var, Key::AttrMap};
constexpr Key rMapName[] = {Key::Name};
constexpr Key rProvider[] = {Key::MapProvider};
constexpr Key rXY[] = {Key::X, Key::Y};
constexpr Key rBubble[] = {Key::X, Key::Y, Key::Size};
constexpr Key rText[] = {Key::X, Key::Y, Key::Text};

constexpr StatementSpec kStatements[] = {
    {"proc", S::Proc, cTop},
    {"define", S::Define, cTop},
    {"dynamic", S::Dynamic, cDefine},
    {"begingraph", S::BeginGraph, cDefine, {}, gGraph},
    {"DiscreteAttrVar", S::DiscreteAttrVar, cGraph, gAttrVar, {}, rAttrVar},
    {"RangeAttrVar", S::RangeAttrVar, cGraph, gAttrVar, {}, rAttrVar},
    {"DiscreteAttrMap", S::DiscreteAttrMap, cGraph, gMapName, gDiscreteMap,
     rMapName},
    {"Value", S::Value, cDiscrete, {}, gValue},
    {"EndDiscreteAttrMap", S::EndDiscreteAttrMap, cDiscrete},
    {"RangeAttrMap", S::RangeAttrMap, cGraph, gMapName, {}, rMapName},
    {"Range", S::Range, cRange, {}, gRange},
    {"EndRangeAttrMap", S::EndRangeAttrMap, cRange},
    {"EntryTitle", S::EntryTitle, cGraph, {}, gEntry},
    {"EntryFootnote", S::EntryFootnote, cGraph, {}, gEntry},
    {"layout", S::Layout, cGraph},
    {"endlayout", S::EndLayout, cOverlay | cLegends},
    {"MapLayer", S::MapLayer, cOverlay, gMapLayer, {}, rProvider},
    {"mapRegionLayer", S::Region, cOverlay, gMapLayer, gRegion, rProvider},
    {"ScatterPlot", S::Scatter, cOverlay, gXY, gScatter, rXY},
    {"BubblePlot", S::Bubble, cOverlay, gBubbleHead, gBubble, rBubble},
    {"SeriesPlot", S::Series, cOverlay, gXY, gSeries, rXY},
    {"TextPlot", S::TextPlot, cOverlay, gTextHead, gText, rText},
    {"DiscreteLegend", S::DiscreteLegend, cOverlay | cLegends, {},
     gDiscreteLegend},
    {"ContinuousLegend", S::ContinuousLegend, cOverlay | cLegends, {},
     gContinuousLegend},
    {"endgraph", S::EndGraph, cGraph},
    {"end", S::End, cAfterGraph},
    {"run", S::Run, cDone},
};

// ---------------------------------------------------------------------------
// Text helpers

// Characters that make up a bare word (names, numbers, colors, formats).
bool isWordChar(unsigned char c) {
  return c > 0x20 && c != 0x7f && std::strchr(";()=\",'/", c) == nullptr;
}

// Printable form of a piece of the text for a message.
std::string shown(std::string_view s, size_t max = 60) {
  std::string out;
  bool cut = s.size() > max;
  if (cut) s = s.substr(0, max);
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f) {
      static const char* hex = "0123456789ABCDEF";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (cut) out += "...";
  return out;
}

// Reads a decimal number at the start of `s`: [sign] digits [. digits]
// [e [sign] digits]. Returns the bytes used, 0 when there is no number.
size_t numberPrefix(std::string_view s, double& value) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t digits = 0;
  while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '-' || s[j] == '+')) ++j;
    size_t e = j;
    while (j < s.size() && isDigit(s[j])) ++j;
    if (j > e) i = j;
  }
  std::string_view num = s.substr(0, i);
  if (num[0] == '+') num.remove_prefix(1);
  auto [p, ec] = std::from_chars(num.data(), num.data() + num.size(), value);
  if (ec == std::errc::result_out_of_range) {
    return 0;  // beyond the range of a double: not a usable number
  }
  if (ec != std::errc() || p != num.data() + num.size()) return 0;
  return i;
}

std::optional<Unit> unitOf(std::string_view u) {
  if (u.empty()) return Unit::None;
  if (sameNoCase(u, "px")) return Unit::Px;
  if (sameNoCase(u, "in")) return Unit::In;
  if (sameNoCase(u, "cm")) return Unit::Cm;
  if (sameNoCase(u, "mm")) return Unit::Mm;
  if (sameNoCase(u, "pt")) return Unit::Pt;
  if (sameNoCase(u, "pct") || u == "%") return Unit::Percent;
  return std::nullopt;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = lowerAscii(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// CXrrggbb (any letter case) as a color.
std::optional<Rgb> cxColor(std::string_view w) {
  if (w.size() != 8 || lowerAscii(w[0]) != 'c' || lowerAscii(w[1]) != 'x') return std::nullopt;
  uint8_t v[3];
  for (int k = 0; k < 3; ++k) {
    int hi = hexDigit(w[2 + 2 * k]), lo = hexDigit(w[3 + 2 * k]);
    if (hi < 0 || lo < 0) return std::nullopt;
    v[k] = static_cast<uint8_t>(hi * 16 + lo);
  }
  return Rgb{v[0], v[1], v[2]};
}

// The three escapes the procedure writes inside quoted texts.
constexpr std::string_view kEscPrefix = "(*ESC*){unicode '00";
constexpr std::string_view kEscSuffix = "'x}";

// ---------------------------------------------------------------------------
// The parser

struct Failure {
  size_t offset;
  std::string what;
  std::string statement;  // the statement's text, empty outside a statement
};

constexpr int kMaxDepth = 16;

class TemplateParser {
 public:
  explicit TemplateParser(std::string_view text) : s_(text) {}
  std::unique_ptr<GraphModel> run();

 private:
  std::string_view s_;
  size_t pos_ = 0;
  size_t stmtStart_ = 0;
  const StatementSpec* stmt_ = nullptr;
  GraphModel* m_ = nullptr;

  unsigned ctx_ = cTop;
  size_t openAt_ = 0;   // where the open layout or map started
  std::string openName_;
  bool wrapped_ = false;   // began with "proc template;"

  // --- errors ---
  bool inStatement_ = false;

  [[noreturn]] void fail(size_t at, const std::string& what) const {
    throw Failure{at, what, inStatement_ ? statementText(stmtStart_) : std::string()};
  }
  std::string statementText(size_t from) const;
  std::string found(size_t at) const;

  // --- lexing ---
  bool atEnd() const { return pos_ >= s_.size(); }
  int peek() const { return atEnd() ? -1 : static_cast<unsigned char>(s_[pos_]); }
  void ws() {
    while (!atEnd() && isBlank(s_[pos_])) ++pos_;
  }
  std::string_view word() {
    size_t b = pos_;
    while (!atEnd() && isWordChar(static_cast<unsigned char>(s_[pos_]))) ++pos_;
    return s_.substr(b, pos_ - b);
  }
  void expect(char c, const char* what);
  std::string quoted();
  std::string nameLiteral();
  void endOfScalar(std::string_view opt);

  // --- values ---
  Value parseValue(const TypeDesc& t, std::string_view opt, int depth);
  bool mayStart(const TypeDesc& t) const;
  Value scalar(const TypeDesc& t, std::string_view opt);
  Value stepper(std::string_view opt);
  Value expression(std::string_view opt);
  Value block(const TypeDesc& t, std::string_view opt, int depth);
  void overrides(std::span<const AttrSpec> table, const TypeDesc* keyed, std::string_view opt,
                 Value& out, int depth);
  void options(std::span<const Table> tables, bool head, Options& out);
  void slashOptions(Options& out);
  const OptionSpec* lookup(std::span<const Table> tables, std::string_view name) const;

  // --- statements ---
  void statement();
  void endStatement();
  const StatementSpec* findStatement(std::string_view kw) const;
  void checkPlace(const StatementSpec& spec, size_t at);
  void checkRequired(const Options& head);
  void beginGraph();
  void attrVar(bool range);
  void discreteMap();
  void valueEntry();
  void rangeMap();
  void rangeEntry();
  void textEntry(bool footnote);
  void layout();
  void layer(const StatementSpec& spec);
  void legend(bool continuous);
  void finish();
};

std::string TemplateParser::statementText(size_t from) const {
  size_t i = from;
  bool inString = false;
  while (i < s_.size() && i - from < 120) {
    char c = s_[i];
    if (c == '"') inString = !inString;
    if (c == ';' && !inString) {
      ++i;
      break;
    }
    ++i;
  }
  std::string_view t = s_.substr(from, i - from);
  bool more = i < s_.size() && s_[i - 1] != ';';
  std::string out = shown(t, 120);
  if (more && out.size() <= 120) out += "...";
  return out;
}

// What stands at `at`, for "found ..." in a message.
std::string TemplateParser::found(size_t at) const {
  if (at >= s_.size()) return "the end of the text";
  size_t e = at;
  if (isWordChar(static_cast<unsigned char>(s_[at]))) {
    while (e < s_.size() && isWordChar(static_cast<unsigned char>(s_[e]))) ++e;
  } else {
    e = at + 1;
  }
  return "\"" + shown(s_.substr(at, e - at), 40) + "\"";
}

void TemplateParser::expect(char c, const char* what) {
  ws();
  if (peek() != static_cast<unsigned char>(c))
    fail(pos_, std::string("expected ") + what + ", found " + found(pos_));
  ++pos_;
}

// A double-quoted text; the procedure's three escapes are decoded. Other
// bytes are taken as they are.
std::string TemplateParser::quoted() {
  size_t open = pos_;
  ++pos_;
  std::string out;
  for (;;) {
    if (atEnd()) {
      size_t shownEnd = std::min(s_.size(), open + 30);
      fail(open, "unterminated string \"" + shown(s_.substr(open + 1, shownEnd - open - 1), 30) +
                     (shownEnd < s_.size() ? "..." : "") + "\" (no closing double quote)");
    }
    char c = s_[pos_];
    if (c == '"') {
      ++pos_;
      return out;
    }
    if (c == '(' && s_.substr(pos_, kEscPrefix.size()) == kEscPrefix) {
      size_t d = pos_ + kEscPrefix.size();
      std::string_view code = s_.substr(d, 2);
      if (code.size() == 2 && s_.substr(d + 2, kEscSuffix.size()) == kEscSuffix &&
          (code == "22" || code == "25" || code == "26")) {
        out += code == "22" ? '"' : code == "25" ? '%' : '&';
        pos_ = d + 2 + kEscSuffix.size();
        continue;
      }
    }
    out += c;
    ++pos_;
  }
}

// 'name'n with doubled quotes inside.
std::string TemplateParser::nameLiteral() {
  size_t open = pos_;
  ++pos_;
  std::string out;
  for (;;) {
    if (atEnd()) fail(open, "unterminated name literal " + found(open));
    char c = s_[pos_++];
    if (c == '\'') {
      if (peek() == '\'') {
        out += '\'';
        ++pos_;
        continue;
      }
      if (peek() == 'n' || peek() == 'N') {
        ++pos_;
        if (out.empty()) fail(open, "empty name literal");
        return out;
      }
      fail(open, "name literal \"" + shown(s_.substr(open, pos_ - open), 40) +
                     "\" does not end with 'n");
    }
    out += c;
  }
}

// After a scalar value the next thing must be a blank or a delimiter.
void TemplateParser::endOfScalar(std::string_view opt) {
  int c = peek();
  if (c == -1 || isBlank(static_cast<char>(c)) || c == ';' || c == ')' || c == '/')
    return;
  fail(pos_, "unexpected " + found(pos_) + " after the value of " + std::string(opt) + "=");
}

// The statement's options after " /", when it has that part.
void TemplateParser::slashOptions(Options& out) {
  ws();
  if (peek() == '/') {
    ++pos_;
    options(stmt_->slashTables, false, out);
  }
}

const OptionSpec* TemplateParser::lookup(std::span<const Table> tables, std::string_view name) const {
  for (const Table& t : tables)
    for (const OptionSpec& o : t)
      if (sameNoCase(o.name, name)) return &o;
  return nullptr;
}

// Whether a value of type `t` can begin here; lets a choice skip the
// alternatives that plainly do not apply without trying them.
bool TemplateParser::mayStart(const TypeDesc& t) const {
  switch (t.kind) {
    case K::List:
    case K::Keyed:
      return peek() == '(';
    case K::String:
      return peek() == '"';
    case K::Stepper:
    case K::Expression: {
      size_t e = pos_;
      while (e < s_.size() && isWordChar(static_cast<unsigned char>(s_[e]))) ++e;
      if (e == pos_ || e >= s_.size() || s_[e] != '(') return false;
      return t.kind == K::Expression ||
             sameNoCase(s_.substr(pos_, e - pos_), "GradientStepper");
    }
    default:
      return true;
  }
}

Value TemplateParser::parseValue(const TypeDesc& t, std::string_view opt, int depth) {
  if (depth > kMaxDepth) fail(pos_, "values nested too deeply");
  ws();
  size_t at = pos_;
  Value v;
  switch (t.kind) {
    case K::Alt: {
      std::optional<Failure> best;
      for (const TypeDesc* a : t.alts) {
        pos_ = at;
        if (!mayStart(*a)) continue;
        try {
          return parseValue(*a, opt, depth + 1);
        } catch (Failure& f) {
          if (!best || f.offset > best->offset) best = std::move(f);
        }
      }
      pos_ = at;
      // An alternative that got past the start of the value says best what
      // is wrong (an unknown override inside a block, say).
      if (best && best->offset > at) throw *best;
      fail(at, std::string(opt) + "= expects " + std::string(t.what) + ", found " + found(at));
    }
    case K::List:
    case K::Keyed: {
      if (peek() != '(')
        fail(at, std::string(opt) + "= expects " + std::string(t.what) + ", found " + found(at));
      v.kind = t.kind == K::List ? Value::Kind::List : Value::Kind::Block;
      v.offset = at;
      if (t.kind == K::Keyed) {
        v.hasOverrides = true;
        overrides({}, t.element, opt, v, depth + 1);
        return v;
      }
      ++pos_;
      for (;;) {
        ws();
        if (atEnd()) fail(at, "unclosed list of " + std::string(opt) + "= (no closing parenthesis)");
        if (peek() == ')') {
          ++pos_;
          break;
        }
        if (peek() == ';')
          fail(pos_, "unclosed list of " + std::string(opt) + "= opened at byte " +
                         std::to_string(at) + " (found \";\")");
        v.items.push_back(parseValue(*t.element, opt, depth + 1));
      }
      return v;
    }
    case K::Block:
      return block(t, opt, depth);
    case K::Stepper:
      return stepper(opt);
    case K::Expression:
      return expression(opt);
    default:
      return scalar(t, opt);
  }
}

Value TemplateParser::scalar(const TypeDesc& t, std::string_view opt) {
  size_t at = pos_;
  Value v;
  v.offset = at;
  auto bad = [&](std::string_view w) {
    fail(at, std::string(opt) + "= expects " + std::string(t.what) + ", found " +
                 (w.empty() ? found(at) : "\"" + shown(w, 40) + "\""));
  };
  if (t.kind == K::String) {
    if (peek() != '"') bad({});
    v.kind = Value::Kind::String;
    v.text = quoted();
    endOfScalar(opt);
    return v;
  }
  if (t.kind == K::Column && peek() == '\'') {
    v.kind = Value::Kind::Column;
    v.text = nameLiteral();
    endOfScalar(opt);
    return v;
  }
  std::string_view w = word();
  if (w.empty()) bad({});
  switch (t.kind) {
    case K::Number:
    case K::Integer:
    case K::Dimension: {
      double d = 0;
      size_t n = numberPrefix(w, d);
      if (n == 0) bad(w);
      std::optional<Unit> u = unitOf(w.substr(n));
      if (!u || (t.kind != K::Dimension && *u != Unit::None)) bad(w);
      if (t.kind == K::Integer) {
        int i = 0;
        std::string_view digits = w[0] == '+' ? w.substr(1) : w;
        auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), i);
        if (ec != std::errc() || p != digits.data() + digits.size()) bad(w);
        d = i;
      }
      v.kind = t.kind == K::Dimension ? Value::Kind::Dimension : Value::Kind::Number;
      v.number = d;
      v.unit = *u;
      break;
    }
    case K::Color: {
      std::optional<Rgb> rgb = cxColor(w);
      if (!rgb) bad(w);
      v.kind = Value::Kind::Color;
      v.rgb = rgb;
      break;
    }
    case K::ColorName:
      v.kind = Value::Kind::Color;
      v.rgb = cxColor(w);
      break;
    case K::Keyword: {
      const std::string_view* hit = nullptr;
      for (const std::string_view& k : t.words)
        if (sameNoCase(k, w)) hit = &k;
      if (!hit) bad(w);
      v.kind = Value::Kind::Keyword;
      v.text = std::string(*hit);
      endOfScalar(opt);
      return v;
    }
    case K::Boolean:
      if (sameNoCase(w, "true")) v.flag = true;
      else if (!sameNoCase(w, "false")) bad(w);
      v.kind = Value::Kind::Boolean;
      break;
    case K::StyleRef: {
      size_t colon = w.find(':');
      if (colon == std::string_view::npos || colon == 0 || colon + 1 == w.size()) bad(w);
      v.kind = Value::Kind::StyleRef;
      break;
    }
    case K::Name:
    case K::Format:
      v.kind = Value::Kind::Name;
      break;
    case K::Column:
      v.kind = Value::Kind::Column;
      break;
    default:
      bad(w);
  }
  v.text = std::string(w);
  endOfScalar(opt);
  return v;
}

// GradientStepper(start,end,count,index): a color stepped from start to end
// in `count` steps, this one being step `index`.
Value TemplateParser::stepper(std::string_view opt) {
  size_t at = pos_;
  std::string_view w = word();
  if (!sameNoCase(w, "GradientStepper") || peek() != '(')
    fail(at, std::string(opt) + "= expects GradientStepper(...), found " + found(at));
  ++pos_;
  Value v;
  v.kind = Value::Kind::Stepper;
  v.offset = at;
  auto arg = [&](const char* what) {
    ws();
    size_t a = pos_;
    std::string_view x = word();
    if (x.empty())
      fail(a, std::string("GradientStepper expects ") + what + ", found " + found(a));
    ws();
    return std::pair{a, x};
  };
  for (int k = 0; k < 2; ++k) {
    auto [a, x] = arg(k == 0 ? "a start color" : "an end color");
    Value c;
    c.offset = a;
    c.text = std::string(x);
    c.rgb = cxColor(x);
    c.kind = !c.rgb && x.find(':') != std::string_view::npos ? Value::Kind::StyleRef
                                                             : Value::Kind::Color;
    v.items.push_back(std::move(c));
    expect(',', "\",\" in GradientStepper(...)");
  }
  for (int k = 0; k < 2; ++k) {
    auto [a, x] = arg(k == 0 ? "a step count" : "a step number");
    int n = 0;
    auto [p, ec] = std::from_chars(x.data(), x.data() + x.size(), n);
    if (ec != std::errc() || p != x.data() + x.size())
      fail(a, "GradientStepper expects a whole number, found \"" + shown(x, 40) + "\"");
    (k == 0 ? v.count : v.index) = n;
    if (k == 1 && (v.count < 1 || v.index < 1 || v.index > v.count))
      fail(a, "GradientStepper step " + std::to_string(v.index) + " of " +
                  std::to_string(v.count) + " is out of range");
    expect(k == 0 ? ',' : ')', k == 0 ? "\",\" in GradientStepper(...)"
                                      : "\")\" closing GradientStepper(...)");
  }
  endOfScalar(opt);
  return v;
}

// name(...) kept as written, e.g. eval(sort(x, RETAIN=ALL)).
Value TemplateParser::expression(std::string_view opt) {
  size_t at = pos_;
  std::string_view w = word();
  if (w.empty() || peek() != '(')
    fail(at, std::string(opt) + "= expects an expression, found " + found(at));
  int depth = 0;
  while (!atEnd()) {
    char c = s_[pos_];
    if (c == '"' ) {
      quoted();
      continue;
    }
    if (c == '\'') {
      nameLiteral();
      continue;
    }
    if (c == ';') break;
    ++pos_;
    if (c == '(' && ++depth > kMaxDepth) fail(pos_ - 1, "expression nested too deeply");
    if (c == ')' && --depth == 0) break;
  }
  if (depth != 0)
    fail(at, "unbalanced parentheses in the expression " + found(at) + " of " +
                 std::string(opt) + "=");
  Value v;
  v.kind = Value::Kind::Expression;
  v.offset = at;
  v.text = std::string(s_.substr(at, pos_ - at));
  endOfScalar(opt);
  return v;
}

Value TemplateParser::block(const TypeDesc& t, std::string_view opt, int depth) {
  size_t at = pos_;
  Value v;
  v.kind = Value::Kind::Block;
  v.offset = at;
  if (peek() != '(') {
    std::string_view w = word();
    if (w.empty())
      fail(at, std::string(opt) + "= expects " + std::string(t.what) + ", found " + found(at));
    v.styleElement = std::string(w);
    if (startsWithNoCase(w, "GraphData") && w.size() > 9) {
      std::string_view n = w.substr(9);
      int g = 0;
      auto [p, ec] = std::from_chars(n.data(), n.data() + n.size(), g);
      if (ec == std::errc() && p == n.data() + n.size() && g > 0) v.graphData = g;
    }
    size_t save = pos_;
    ws();
    if (peek() != '(') {
      pos_ = save;
      endOfScalar(opt);
      return v;
    }
  }
  v.hasOverrides = true;
  overrides(t.table, nullptr, opt, v, depth + 1);
  return v;
}

// ( name=value ... ): names from `table`, or any names with values of type
// `keyed`.
void TemplateParser::overrides(std::span<const AttrSpec> table, const TypeDesc* keyed,
                       std::string_view opt, Value& out, int depth) {
  if (depth > kMaxDepth) fail(pos_, "values nested too deeply");
  size_t open = pos_;
  ++pos_;  // the "("
  for (;;) {
    ws();
    if (atEnd())
      fail(open, "unclosed list of " + std::string(opt) + "= (no closing parenthesis)");
    int c = peek();
    if (c == ')') {
      ++pos_;
      return;
    }
    if (c == ';')
      fail(pos_, "unclosed list of " + std::string(opt) + "= opened at byte " +
                     std::to_string(open) + " (found \";\")");
    size_t at = pos_;
    std::string_view name = word();
    if (name.empty())
      fail(at, "expected an option name in " + std::string(opt) + "=( ), found " + found(at));
    ws();
    if (peek() != '=')
      fail(pos_, "expected \"=\" after " + std::string(name) + " in " + std::string(opt) +
                     "=( ), found " + found(pos_));
    ++pos_;
    if (keyed) {
      Value v = parseValue(*keyed, name, depth + 1);
      out.roles.push_back({std::string(name), std::move(v), at});
    } else {
      const AttrSpec* spec = nullptr;
      for (const AttrSpec& x : table)
        if (sameNoCase(x.name, name)) spec = &x;
      if (!spec)
        fail(at, "unknown option \"" + shown(name, 40) + "\" in " + std::string(opt) + "=( )");
      Value v = parseValue(*spec->type, spec->name, depth + 1);
      out.attrs.push_back({spec->attr, std::move(v), at});
    }
  }
}

// Named options up to ";" (or, in the head, up to " /").
void TemplateParser::options(std::span<const Table> tables, bool head, Options& out) {
  std::string kw(stmt_->keyword);
  for (;;) {
    ws();
    if (atEnd()) return;  // endStatement reports the missing ";"
    int c = peek();
    if (c == ';') return;
    if (c == ')') fail(pos_, "unbalanced \")\" (no list is open)");
    if (c == '/') {
      if (head && !stmt_->slashTables.empty()) return;
      fail(pos_, head ? "the statement " + kw + " takes no options after \"/\""
                      : "a second \"/\" in the statement " + kw);
    }
    size_t at = pos_;
    std::string_view name = word();
    if (name.empty()) fail(at, "expected an option of " + kw + ", found " + found(at));
    const OptionSpec* spec = lookup(tables, name);
    if (!spec) {
      const char* where = "";
      if (head && !stmt_->slashTables.empty() && lookup(stmt_->slashTables, name))
        where = " before \"/\"";
      else if (!head && lookup(stmt_->headTables, name))
        where = " after \"/\"";
      fail(at, "unknown option \"" + shown(name, 40) + "\" of " + kw + where);
    }
    ws();
    if (peek() != '=')
      fail(pos_, "expected \"=\" after " + std::string(name) + ", found " + found(pos_));
    ++pos_;
    Value v = parseValue(spec->type(), spec->name, 0);
    out.items.push_back({spec->key, std::move(v), at});
  }
}

const StatementSpec* TemplateParser::findStatement(std::string_view kw) const {
  for (const StatementSpec& st : kStatements)
    if (sameNoCase(st.keyword, kw)) return &st;
  return nullptr;
}

void TemplateParser::endStatement() {
  ws();
  if (atEnd())
    fail(pos_, "the statement " + std::string(stmt_->keyword) +
                   " is not ended by \";\" (the text ends here)");
  if (peek() != ';') fail(pos_, "expected \";\", found " + found(pos_));
  ++pos_;
}

void TemplateParser::checkRequired(const Options& head) {
  for (Key r : stmt_->required)
    if (!head.has(r))
      fail(stmtStart_, "the statement " + std::string(stmt_->keyword) + " lacks " +
                           std::string(keySpec(r).name) + "=");
}

std::string where(unsigned ctx) {
  switch (ctx) {
    case cTop: return "before define statgraph";
    case cDefine: return "before begingraph";
    case cGraph: return "outside a layout";
    case cDiscrete: return "inside a DiscreteAttrMap";
    case cRange: return "inside a RangeAttrMap";
    case cOverlay: return "inside layout overlaymap";
    case cLegends: return "inside layout GlobalLegend";
    case cAfterGraph: return "after endgraph";
    default: return "after end";
  }
}

void TemplateParser::checkPlace(const StatementSpec& spec, size_t at) {
  if (spec.where & ctx_) return;
  std::string kw(spec.keyword);
  std::string open = openName_ + " opened at byte " + std::to_string(openAt_);
  switch (spec.kind) {
    case S::EndLayout:
      fail(at, "endlayout without an open layout");
    case S::EndDiscreteAttrMap:
      fail(at, "EndDiscreteAttrMap without an open DiscreteAttrMap");
    case S::EndRangeAttrMap:
      fail(at, "EndRangeAttrMap without an open RangeAttrMap");
    case S::EndGraph:
      if (ctx_ & (cOverlay | cLegends | cDiscrete | cRange))
        fail(at, "endgraph while " + open + " is still open");
      fail(at, "endgraph without begingraph");
    case S::End:
      if (ctx_ & (cGraph | cOverlay | cLegends | cDiscrete | cRange))
        fail(at, "end while begingraph is still open (endgraph is missing)");
      fail(at, "end " + where(ctx_));
    default:
      if (ctx_ & (cDiscrete | cRange | cOverlay | cLegends))
        fail(at, "the statement " + kw + " is not allowed " + where(ctx_) + " (" + open +
                     "; is its end statement missing?)");
      fail(at, "the statement " + kw + " is not allowed " + where(ctx_));
  }
}

void TemplateParser::statement() {
  stmtStart_ = pos_;
  if (peek() == ';') {
    // An empty statement: harmless inside the graph, nothing to record.
    if (!(ctx_ & (cGraph | cOverlay | cLegends | cDiscrete | cRange)))
      fail(pos_, "unexpected \";\" " + where(ctx_));
    ++pos_;
    return;
  }
  std::string_view kw = word();
  if (kw.empty()) fail(pos_, "expected a statement, found " + found(pos_));
  const StatementSpec* spec = findStatement(kw);
  if (!spec) fail(stmtStart_, "unknown statement \"" + shown(kw, 40) + "\"");
  checkPlace(*spec, stmtStart_);
  stmt_ = spec;
  switch (spec->kind) {
    case S::Proc: {
      if (wrapped_) fail(stmtStart_, "a second proc template");
      ws();
      size_t at = pos_;
      if (!sameNoCase(word(), "template"))
        fail(at, "expected \"template\" after proc, found " + found(at));
      endStatement();
      wrapped_ = true;
      return;  // still before define
    }
    case S::Define: {
      ws();
      size_t at = pos_;
      if (!sameNoCase(word(), "statgraph"))
        fail(at, "expected \"statgraph\" after define, found " + found(at));
      ws();
      at = pos_;
      std::string_view name = word();
      if (name.empty()) fail(at, "expected the template's name, found " + found(at));
      m_->name = std::string(name);
      endStatement();
      ctx_ = cDefine;
      return;
    }
    case S::Dynamic: {
      size_t names = 0;
      for (;;) {
        ws();
        size_t at = pos_;
        if (peek() == ';' || atEnd()) break;
        std::string_view n = word();
        if (n.empty()) fail(at, "expected a dynamic name, found " + found(at));
        m_->dynamics.emplace_back(n);
        ++names;
      }
      if (names == 0) fail(pos_, "dynamic declares no name");
      endStatement();
      return;
    }
    case S::BeginGraph:
      beginGraph();
      ctx_ = cGraph;
      return;
    case S::DiscreteAttrVar:
    case S::RangeAttrVar:
      attrVar(spec->kind == S::RangeAttrVar);
      return;
    case S::DiscreteAttrMap:
      discreteMap();
      return;
    case S::Value:
      valueEntry();
      return;
    case S::EndDiscreteAttrMap:
    case S::EndRangeAttrMap:
    case S::EndLayout:
      endStatement();
      ctx_ = cGraph;
      return;
    case S::RangeAttrMap:
      rangeMap();
      return;
    case S::Range:
      rangeEntry();
      return;
    case S::EntryTitle:
    case S::EntryFootnote:
      textEntry(spec->kind == S::EntryFootnote);
      return;
    case S::Layout:
      layout();
      return;
    case S::MapLayer:
    case S::Region:
    case S::Scatter:
    case S::Bubble:
    case S::Series:
    case S::TextPlot:
      layer(*spec);
      return;
    case S::DiscreteLegend:
    case S::ContinuousLegend:
      legend(spec->kind == S::ContinuousLegend);
      return;
    case S::EndGraph:
      endStatement();
      ctx_ = cAfterGraph;
      return;
    case S::End:
      endStatement();
      ctx_ = cDone;
      return;
    case S::Run:
      if (!wrapped_) fail(stmtStart_, "run without proc template");
      endStatement();
      ctx_ = 0;  // nothing may follow
      return;
  }
}

void TemplateParser::beginGraph() {
  GraphOptions& g = m_->graph;
  slashOptions(g.options);
  endStatement();
  for (const Option& o : g.options.items) {
    const Value& v = o.value;
    if (o.key == Key::Opaque) g.opaque = v.flag;
    else if (o.key == Key::DataColors || o.key == Key::DataContrastColors) {
      auto& list = o.key == Key::DataColors ? g.dataColors : g.dataContrastColors;
      list.clear();
      for (const Value& c : v.items) list.push_back(*c.rgb);
    } else if (o.key == Key::DataSymbols) {
      g.dataSymbols.clear();
      for (const Value& x : v.items) g.dataSymbols.push_back(x.text);
    } else if (o.key == Key::DataLinePatterns) {
      g.dataLinePatterns.clear();
      for (const Value& x : v.items) g.dataLinePatterns.push_back(static_cast<int>(x.number));
    } else if (o.key == Key::BackgroundColor) g.backgroundColor = v.rgb;
    else if (o.key == Key::DesignWidth) g.designWidth = v.number;
    else if (o.key == Key::DesignHeight) g.designHeight = v.number;
  }
}

// The column an expression such as eval(sort('my var'n, RETAIN=ALL)) sorts.
std::string expressionColumn(std::string_view e) {
  constexpr std::string_view head = "eval(sort(";
  if (!startsWithNoCase(e, head)) return {};
  e.remove_prefix(head.size());
  while (!e.empty() && isBlank(e[0])) e.remove_prefix(1);
  if (e.empty()) return {};
  std::string out;
  if (e[0] == '\'') {
    for (size_t i = 1; i < e.size(); ++i) {
      if (e[i] == '\'') {
        if (i + 1 < e.size() && e[i + 1] == '\'') {
          out += '\'';
          ++i;
          continue;
        }
        return out;
      }
      out += e[i];
    }
    return {};
  }
  size_t n = 0;
  while (n < e.size() && isWordChar(static_cast<unsigned char>(e[n]))) ++n;
  return std::string(e.substr(0, n));
}

void TemplateParser::attrVar(bool range) {
  AttrVar a;
  a.range = range;
  a.offset = stmtStart_;
  Options head;
  options(stmt_->headTables, true, head);
  endStatement();
  checkRequired(head);
  a.name = head.find(Key::AttrVar)->text;
  const Value* var = head.find(Key::Var);
  if (var->kind == Value::Kind::Expression) {
    a.expression = var->text;
    a.variable = expressionColumn(var->text);
  } else {
    a.variable = var->text;
  }
  a.map = head.find(Key::AttrMap)->text;
  m_->attrVars.push_back(std::move(a));
}

void TemplateParser::discreteMap() {
  DiscreteAttrMap d;
  d.offset = stmtStart_;
  Options head;
  options(stmt_->headTables, true, head);
  slashOptions(d.options);
  endStatement();
  checkRequired(head);
  d.name = head.find(Key::Name)->text;
  if (const Value* v = d.options.find(Key::DiscreteLegendEntryPolicy)) d.showAll = !v->text.empty();
  if (const Value* v = d.options.find(Key::IgnoreCase)) d.ignoreCase = v->flag;
  if (const Value* v = d.options.find(Key::AutoCycleAttrs)) d.autoCycle = v->number != 0;
  m_->discreteMaps.push_back(std::move(d));
  ctx_ = cDiscrete;
  openAt_ = stmtStart_;
  openName_ = "DiscreteAttrMap";
}

// Value "a" "b" / ...;   Value Other / ...;
void TemplateParser::valueEntry() {
  DiscreteAttrValue e;
  e.offset = stmtStart_;
  for (;;) {
    ws();
    size_t at = pos_;
    int c = peek();
    if (c == ';' || c == '/' || c == -1) break;
    if (c == '"') {
      e.values.push_back(quoted());
      endOfScalar("Value");
      continue;
    }
    std::string_view w = word();
    if (sameNoCase(w, "Other") && !e.other && e.values.empty()) {
      e.other = true;
      continue;
    }
    fail(at, "Value expects quoted values or Other, found " + found(at));
  }
  if (!e.other && e.values.empty())
    fail(pos_, "Value needs a quoted value or Other, found " + found(pos_));
  if (e.other && !e.values.empty())
    fail(stmtStart_, "Value Other takes no values");
  slashOptions(e.options);
  endStatement();
  m_->discreteMaps.back().values.push_back(std::move(e));
}

void TemplateParser::rangeMap() {
  RangeAttrMap r;
  r.offset = stmtStart_;
  Options head;
  options(stmt_->headTables, true, head);
  endStatement();
  checkRequired(head);
  r.name = head.find(Key::Name)->text;
  m_->rangeMaps.push_back(std::move(r));
  ctx_ = cRange;
  openAt_ = stmtStart_;
  openName_ = "RangeAttrMap";
}

// Range low[<]-[<]high / ...;  Range Other|Under|Over|Missing / ...;
void TemplateParser::rangeEntry() {
  RangeEntry r;
  r.offset = stmtStart_;
  ws();
  size_t at = pos_;
  size_t e = at;
  while (e < s_.size() && s_[e] != '/' && s_[e] != ';' && s_[e] != '"') ++e;
  std::string_view spec = s_.substr(at, e - at);
  while (!spec.empty() && isBlank(spec.back())) spec.remove_suffix(1);
  auto malformed = [&](size_t off) {
    fail(at + off, "malformed range \"" + shown(spec, 60) +
                       "\" (expected low-high, low-<high, low<-high or Other, Under, Over, "
                       "Missing)");
  };
  if (spec.empty()) malformed(0);
  if (sameNoCase(spec, "Other")) r.special = RangeEntry::Special::Other;
  else if (sameNoCase(spec, "Under")) r.special = RangeEntry::Special::Under;
  else if (sameNoCase(spec, "Over")) r.special = RangeEntry::Special::Over;
  else if (sameNoCase(spec, "Missing")) r.special = RangeEntry::Special::Missing;
  else {
    size_t i = 0;
    auto blanks = [&] {
      while (i < spec.size() && isBlank(spec[i])) ++i;
    };
    auto bound = [&](bool low) {
      RangeBound b;
      size_t start = i;
      while (i < spec.size() && isAlpha(spec[i])) ++i;
      std::string_view k = spec.substr(start, i - start);
      if (!k.empty()) {
        if (low && sameNoCase(k, "min")) b.kind = RangeBound::Kind::Min;
        else if (low && sameNoCase(k, "negmax")) b.kind = RangeBound::Kind::NegMax;
        else if (low && sameNoCase(k, "negmaxabs")) b.kind = RangeBound::Kind::NegMaxAbs;
        else if (!low && sameNoCase(k, "max")) b.kind = RangeBound::Kind::Max;
        else if (!low && sameNoCase(k, "maxabs")) b.kind = RangeBound::Kind::MaxAbs;
        else malformed(start);
        return b;
      }
      size_t n = numberPrefix(spec.substr(i), b.value);
      if (n == 0) malformed(i);
      i += n;
      return b;
    };
    r.low = bound(true);
    blanks();
    if (i < spec.size() && spec[i] == '<') r.excludeLow = true, ++i;
    if (i >= spec.size() || spec[i] != '-') malformed(i);
    ++i;
    if (i < spec.size() && spec[i] == '<') r.excludeHigh = true, ++i;
    blanks();
    r.high = bound(false);
    blanks();
    if (i != spec.size()) malformed(i);
  }
  pos_ = at + spec.size();
  slashOptions(r.options);
  endStatement();
  for (const Option& o : r.options.items) {
    if (o.key == Key::DiscreteLabel) r.label = o.value.text;
    else if (o.key == Key::RangeColor) r.color = o.value;
    else if (o.key == Key::RangeAltColor) r.altColor = o.value;
    else if (o.key == Key::RangeColorModel) r.colorModel = o.value;
    else if (o.key == Key::RangeAltColorModel) r.altColorModel = o.value;
  }
  m_->rangeMaps.back().ranges.push_back(std::move(r));
}

// EntryTitle [segment options] "text" | DYNAMIC ... / entry options;
void TemplateParser::textEntry(bool footnote) {
  TextEntry t;
  t.footnote = footnote;
  t.offset = stmtStart_;
  std::string kw(stmt_->keyword);
  Options pending;
  size_t pendingAt = 0;
  for (;;) {
    ws();
    size_t at = pos_;
    int c = peek();
    if (c == ';' || c == '/' || c == -1) break;
    if (c == '"') {
      TextSegment seg;
      seg.text = quoted();
      endOfScalar(kw);
      seg.options = std::move(pending);
      pending = {};
      t.segments.push_back(std::move(seg));
      continue;
    }
    std::string_view w = word();
    if (w.empty()) fail(at, "expected a text of " + kw + ", found " + found(at));
    size_t after = pos_;
    ws();
    if (peek() == '=') {
      ++pos_;
      const OptionSpec* spec = nullptr;
      for (const OptionSpec& o : kSegmentOptions)
        if (sameNoCase(o.name, w)) spec = &o;
      if (!spec) fail(at, "unknown text option \"" + shown(w, 40) + "\" of " + kw);
      if (pending.items.empty()) pendingAt = at;
      Value v = parseValue(spec->type(), spec->name, 0);
      pending.items.push_back({spec->key, std::move(v), at});
      continue;
    }
    pos_ = after;
    bool declared = false;
    for (const std::string& d : m_->dynamics)
      if (sameNoCase(d, w)) declared = true;
    if (!declared)
      fail(at, "\"" + shown(w, 40) + "\" in " + kw + " is neither a quoted text nor a declared "
               "dynamic name");
    TextSegment seg;
    seg.dynamic = true;
    seg.text = std::string(w);
    seg.options = std::move(pending);
    pending = {};
    t.segments.push_back(std::move(seg));
  }
  if (!pending.items.empty())
    fail(pendingAt, "text options of " + kw + " without a text after them");
  if (t.segments.empty()) fail(pos_, kw + " needs a text, found " + found(pos_));
  slashOptions(t.options);
  endStatement();
  (footnote ? m_->footnotes : m_->titles).push_back(std::move(t));
}

void TemplateParser::layout() {
  ws();
  size_t at = pos_;
  std::string_view type = word();
  if (sameNoCase(type, "overlaymap")) {
    if (m_->hasOverlay) fail(stmtStart_, "a second layout overlaymap");
    m_->hasOverlay = true;
    ws();
    if (peek() == '/') {
      ++pos_;
      constexpr Table tables[] = {kOverlayOptions};
      options(tables, false, m_->overlayOptions);
    }
    endStatement();
    ctx_ = cOverlay;
    openName_ = "layout overlaymap";
  } else if (sameNoCase(type, "GlobalLegend")) {
    if (m_->hasGlobalLegend) fail(stmtStart_, "a second layout GlobalLegend");
    m_->hasGlobalLegend = true;
    endStatement();
    ctx_ = cLegends;
    openName_ = "layout GlobalLegend";
  } else {
    fail(at, "unknown layout " + found(at) + " (expected overlaymap or GlobalLegend)");
  }
  openAt_ = stmtStart_;
}

void TemplateParser::layer(const StatementSpec& spec) {
  Layer l;
  l.statement = std::string(spec.keyword);
  l.offset = stmtStart_;
  switch (spec.kind) {
    case S::MapLayer: l.kind = LayerKind::Map; break;
    case S::Region: l.kind = LayerKind::Region; break;
    case S::Scatter: l.kind = LayerKind::Scatter; break;
    case S::Bubble: l.kind = LayerKind::Bubble; break;
    case S::Series: l.kind = LayerKind::Series; break;
    default: l.kind = LayerKind::Text; break;
  }
  options(spec.headTables, true, l.options);
  checkRequired(l.options);
  slashOptions(l.options);
  endStatement();

  const Option* tipList = nullptr;
  const Value* roles = nullptr;
  for (const Option& o : l.options.items) {
    if (std::optional<Role> role = keySpec(o.key).role; role && o.value.kind == Value::Kind::Column)
      l.columns.push_back({*role, o.value.text});
    if (o.key == Key::DataId) l.dataId = o.value.text;
    else if (o.key == Key::MapProvider) l.provider = o.value.text;
    else if (o.key == Key::Name) l.name = o.value.text;
    else if (o.key == Key::LegendLabel) l.legendLabel = o.value.text;
    else if (o.key == Key::Tip) {
      if (o.value.kind == Value::Kind::Keyword) l.tipNone = true;
      else tipList = &o;
    } else if (o.key == Key::RoleName) roles = &o.value;
  }
  // Tips: tip=( roles ) picks roles that rolename=( role=column ) defines;
  // tipformat= and tiplabel= add to roles that tip=( ) shows.
  if (tipList) {
    for (const Value& r : tipList->value.items) {
      const Value* col = roles ? roles->role(r.text) : nullptr;
      if (!col)
        fail(r.offset, "tip=( ) names the role \"" + shown(r.text, 40) +
                           "\", which no rolename=( ) defines");
      l.tips.push_back({r.text, col->text, {}, std::nullopt});
    }
  }
  for (const Option& o : l.options.items) {
    if (o.key != Key::TipFormat && o.key != Key::TipLabel) continue;
    for (const RoleEntry& e : o.value.roles) {
      Tip* tip = nullptr;
      for (Tip& t : l.tips)
        if (sameNoCase(t.role, e.role)) tip = &t;
      if (!tip)
        fail(e.offset, std::string(keySpec(o.key).name) + "=( ) names the role \"" +
                           shown(e.role, 40) + "\", which tip=( ) does not show");
      if (o.key == Key::TipFormat) tip->format = e.value.text;
      else tip->label = e.value.text;
    }
  }
  m_->layers.push_back(std::move(l));
}

void TemplateParser::legend(bool continuous) {
  Legend g;
  g.continuous = continuous;
  g.offset = stmtStart_;
  std::string kw(stmt_->keyword);
  for (;;) {
    ws();
    int c = peek();
    if (c != '"') break;
    g.plots.push_back(quoted());
    endOfScalar(kw);
  }
  if (continuous && g.plots.size() != 1)
    fail(pos_, "ContinuousLegend names exactly one plot, found " +
                   (g.plots.empty() ? found(pos_) : std::to_string(g.plots.size()) + " names"));
  slashOptions(g.options);
  endStatement();
  if (const Value* t = g.options.find(Key::Title)) g.title = t->text;
  (ctx_ == cOverlay ? m_->overlayLegends : m_->globalLegends).push_back(std::move(g));
}

void TemplateParser::finish() {
  size_t at = s_.size();
  switch (ctx_) {
    case cDone:
    case 0:
      return;
    case cTop:
      fail(at, wrapped_ ? "the text ends before define statgraph"
                        : "the text holds no template (define statgraph is missing)");
    case cDefine:
      fail(at, "the text ends before begingraph");
    case cGraph:
      fail(at, "the text ends before endgraph");
    case cAfterGraph:
      fail(at, "the text ends before end");
    default:
      fail(at, "the text ends inside " + openName_ + " opened at byte " +
                   std::to_string(openAt_) + " (its end statement is missing)");
  }
}

std::unique_ptr<GraphModel> TemplateParser::run() {
  auto model = std::make_unique<GraphModel>();
  m_ = model.get();
  for (;;) {
    ws();
    if (atEnd()) break;
    stmtStart_ = pos_;
    inStatement_ = true;
    if (ctx_ == 0) fail(pos_, "text after run: " + found(pos_));
    if (ctx_ == cDone && !wrapped_) fail(pos_, "text after end: " + found(pos_));
    statement();
    inStatement_ = false;
    stmt_ = nullptr;
  }
  finish();
  return model;
}

}  // namespace

CompileResult compileTemplate(std::string_view text) {
  CompileResult r;
  TemplateParser p(text);
  try {
    r.model = p.run();
  } catch (const Failure& f) {
    r.model.reset();
    r.offset = f.offset;
    r.error = f.what + " at byte " + std::to_string(f.offset);
    if (!f.statement.empty()) r.error += " in the statement: " + f.statement;
  } catch (const std::bad_alloc&) {
    r.model.reset();
    r.error = "not enough memory to compile the template";
  }
  return r;
}

}  // namespace qv::render
