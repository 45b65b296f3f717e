#include "module/grammar/grammar.h"

#include <algorithm>
#include <iterator>
#include <string>

#include "common/ascii.h"
#include "module/entry/entry.h"

namespace qv::module {

namespace {

using host::EnumTable;
using host::EnumWord;
using host::OperandDesc;
using host::OptionDesc;
using host::StatementDesc;
using host::VarSource;
using K = host::ValueKind;

template <size_t N>
constexpr EnumTable table(const EnumWord (&w)[N]) {
  return EnumTable{w, static_cast<int>(N)};
}
template <size_t N>
constexpr EnumTable tableWithInts(const EnumWord (&w)[N]) {
  EnumTable t{w, static_cast<int>(N)};
  t.allowInt = true;
  return t;
}
template <size_t N>
constexpr EnumTable tableWithInts(const EnumWord (&w)[N], int lo, int hi) {
  EnumTable t{w, static_cast<int>(N)};
  t.allowInt = true;
  t.intBounded = true;
  t.intMin = lo;
  t.intMax = hi;
  return t;
}

// --- Code tables ---------------------------------------------------------------

constexpr EnumWord kUnitWords[] = {
    {"PX", Code::Px}, {"IN", Code::In}, {"CM", Code::Cm},
    {"MM", Code::Mm}, {"PCT", Code::Pct}, {"PT", Code::Pt}};
constexpr EnumTable kUnits = table(kUnitWords);

constexpr EnumWord kPatternWords[] = {
    {"SOLID", 1},          {"SHORTDASH", 2},          {"MEDIUMDASH", 4},
    {"LONGDASH", 5},       {"MEDIUMDASHSHORTDASH", 8}, {"DASHDASHDOT", 14},
    {"DASHDOTDOT", 15},    {"DASH", 20},              {"LONGDASHSHORTDASH", 26},
    {"DOT", 34},           {"THINDOT", 35},           {"SHORTDASHDOT", 41},
    {"MEDIUMDASHDOTDOT", 42}};
constexpr EnumTable kPatterns = tableWithInts(kPatternWords);

constexpr EnumWord kCompassWords[] = {
    {"TOP", 1},         {"NORTH", 1, true},     {"N", 1, true},
    {"TOPRIGHT", 2},    {"NORTHEAST", 2, true}, {"NE", 2, true},
    {"RIGHT", 3},       {"EAST", 3, true},      {"E", 3, true},
    {"BOTTOMRIGHT", 4}, {"SOUTHEAST", 4, true}, {"SE", 4, true},
    {"BOTTOM", 5},      {"SOUTH", 5, true},     {"S", 5, true},
    {"BOTTOMLEFT", 6},  {"SOUTHWEST", 6, true}, {"SW", 6, true},
    {"LEFT", 7},        {"WEST", 7, true},      {"W", 7, true},
    {"TOPLEFT", 8},     {"NORTHWEST", 8, true}, {"NW", 8, true},
    {"CENTER", 9},      {"CTR", 9, true}};
constexpr EnumTable kCompass = table(kCompassWords);

constexpr EnumWord kLegendPosWords[] = {
    {"TOP", 1},    {"NORTH", 1, true}, {"N", 1, true},
    {"RIGHT", 3},  {"EAST", 3, true},  {"E", 3, true},
    {"BOTTOM", 5}, {"SOUTH", 5, true}, {"S", 5, true},
    {"LEFT", 7},   {"WEST", 7, true},  {"W", 7, true}};
constexpr EnumTable kLegendPos = table(kLegendPosWords);

constexpr EnumWord kLabelPosWords[] = {
    {"TOP", 2},      {"BOTTOM", 3},     {"LEFT", 4},
    {"RIGHT", 5},    {"TOPLEFT", 6},    {"TOPRIGHT", 7},
    {"BOTTOMLEFT", 8}, {"BOTTOMRIGHT", 9}, {"CENTER", 10}};
constexpr EnumTable kLabelPos = table(kLabelPosWords);

constexpr EnumWord kDensityWords[] = {
    {"LOW", 1},    {"LO", 1, true},  {"L", 1, true},
    {"MEDIUM", 3}, {"MED", 3, true}, {"M", 3, true},
    {"HIGH", 6},   {"HI", 6, true},  {"H", 6, true}};
constexpr EnumTable kDensity = tableWithInts(kDensityWords, 0, 6);

constexpr EnumWord kLevelTypeWords[] = {
    {"NONE", Code::LevelNone}, {"INTERVAL", Code::LevelInterval},
    {"QUANTILE", Code::LevelQuantile}, {"JENKS", Code::LevelJenks}};
constexpr EnumTable kLevelType = table(kLevelTypeWords);

constexpr EnumWord kSplitJustifyWords[] = {{"LEFT", 1}, {"RIGHT", 2}, {"CENTER", 3}};
constexpr EnumTable kSplitJustify = table(kSplitJustifyWords);

constexpr EnumWord kSplitPolicyWords[] = {{"NONE", 1}, {"SPLIT", 2}, {"SPLITALWAYS", 3}};
constexpr EnumTable kSplitPolicy = table(kSplitPolicyWords);

constexpr EnumWord kWeightWords[] = {{"NORMAL", 1}, {"BOLD", 2}};
constexpr EnumTable kWeight = table(kWeightWords);

constexpr EnumWord kStyleWords[] = {{"NORMAL", 1}, {"ITALIC", 2}};
constexpr EnumTable kStyle = table(kStyleWords);

constexpr EnumWord kOffsetsWords[] = {{"ALL", Code::OffsetsAll}, {"NONE", Code::OffsetsNone}};
constexpr EnumTable kOffsets = table(kOffsetsWords);

constexpr EnumWord kOffsetSideWords[] = {
    {"LEFT", Code::OffsetLeft}, {"RIGHT", Code::OffsetRight},
    {"BOTTOM", Code::OffsetBottom}, {"TOP", Code::OffsetTop}};
constexpr EnumTable kOffsetSides = table(kOffsetSideWords);

// PAD=( ) sides; the code minus one is the entry's index (kPadLeft, ...).
constexpr EnumWord kPadSideWords[] = {
    {"LEFT", host::kPadLeft + 1}, {"RIGHT", host::kPadRight + 1},
    {"TOP", host::kPadTop + 1}, {"BOTTOM", host::kPadBottom + 1}};
constexpr EnumTable kPadSides = table(kPadSideWords);

// --- Attribute groups ----------------------------------------------------------

constexpr OptionDesc A(host::AttrKey key, const char* name, K kind) {
  OptionDesc d;
  d.id = key;
  d.name = name;
  d.kind = kind;
  return d;
}

constexpr OptionDesc kTextOverrides[] = {
    A(host::kAttrColor, "COLOR", K::NameOrText),
    A(host::kAttrSize, "SIZE", K::Number).withUnit(),
    A(host::kAttrFamily, "FAMILY", K::NameOrText),
    A(host::kAttrWeight, "WEIGHT", K::Enum).withCodes(&kWeight),
    A(host::kAttrStyle, "STYLE", K::Enum).withCodes(&kStyle)};
constexpr OptionDesc kLineOverrides[] = {
    A(host::kAttrColor, "COLOR", K::NameOrText),
    A(host::kAttrThickness, "THICKNESS", K::Number).withUnit(),
    A(host::kAttrPattern, "PATTERN", K::Enum).withCodes(&kPatterns)};
constexpr OptionDesc kMarkerOverrides[] = {
    A(host::kAttrColor, "COLOR", K::NameOrText),
    A(host::kAttrSymbol, "SYMBOL", K::NameOrText),
    A(host::kAttrSize, "SIZE", K::Number).withUnit()};
constexpr OptionDesc kFillOverrides[] = {
    A(host::kAttrColor, "COLOR", K::NameOrText),
    A(host::kAttrTransparency, "TRANSPARENCY", K::Number).range(0, 1)};
constexpr OptionDesc kOutlineOverrides[] = {
    A(host::kAttrColor, "COLOR", K::NameOrText),
    A(host::kAttrThickness, "THICKNESS", K::Number).withUnit()};

template <size_t N>
constexpr host::GroupDesc group(const char* name, const OptionDesc (&o)[N]) {
  return host::GroupDesc{name, o, static_cast<int>(N)};
}

constexpr host::GroupDesc kGroups[] = {
    group("text attributes", kTextOverrides),
    group("line attributes", kLineOverrides),
    group("marker attributes", kMarkerOverrides),
    group("fill attributes", kFillOverrides),
    group("outline attributes", kOutlineOverrides)};
static_assert(std::size(kGroups) == static_cast<size_t>(AttrGroup::Count));

// --- Options -------------------------------------------------------------------

constexpr OptionDesc O(Opt id, const char* name, K kind) {
  OptionDesc d;
  d.id = static_cast<int>(id);
  d.name = name;
  d.kind = kind;
  return d;
}
constexpr OptionDesc F(Opt id, const char* name, int flag) {
  return O(id, name, K::Flag).setsFlag(flag);
}
constexpr OptionDesc G(Opt id, const char* name, AttrGroup g) {
  return O(id, name, K::AttrGroup).ofGroup(static_cast<int>(g));
}

// In Opt order: the engine checks that options[i].id == i.
constexpr OptionDesc kOptions[] = {
    // PROC TAVLO
    O(Opt::PlotData, "PLOTDATA", K::DataSet),
    O(Opt::MapData, "MAPDATA", K::DataSet),
    O(Opt::MapRespData, "MAPRESPDATA", K::DataSet).alias("RESPDATA").alias("MAPRESPONSEDATA"),
    O(Opt::PlotCs, "PLOTCS", K::Text),
    O(Opt::MapCs, "MAPCS", K::Text),
    O(Opt::DAttrMap, "DATTRMAP", K::DataSet),
    O(Opt::RAttrMap, "RATTRMAP", K::DataSet),
    O(Opt::Description, "DESCRIPTION", K::Text).alias("DES"),
    O(Opt::TmplOut, "TMPLOUT", K::Text).alias("__TMPLOUT__"),
    // Accepted and set, though our renderer has no check for it to switch off.
    F(Opt::DisableCrenderCheck, "DISABLE_CRENDER_CHECK", Flag::DisableCrenderCheck),
    F(Opt::NoAutoLegend, "NOAUTOLEGEND", Flag::NoAutoLegend),
    F(Opt::CycleAttrs, "CYCLEATTRS", Flag::CycleAttrs),
    F(Opt::NoCycleAttrs, "NOCYCLEATTRS", Flag::NoCycleAttrs),
    // leading operands
    O(Opt::EsriUrl, "URL", K::Text),
    O(Opt::X, "X", K::Variable),
    O(Opt::Y, "Y", K::Variable),
    O(Opt::Size, "SIZE", K::Variable),
    O(Opt::TextVar, "TEXT", K::Variable),
    O(Opt::Response, "RESPONSE", K::Variable).named("the response variable"),
    O(Opt::LegendNames, "NAMES", K::Text).named("a plot name"),
    O(Opt::LegendPlot, "PLOT", K::Text).named("a plot name"),
    // shared plot options
    O(Opt::Name, "NAME", K::Text),
    O(Opt::LegendLabel, "LEGENDLABEL", K::Text),
    O(Opt::Group, "GROUP", K::Variable),
    O(Opt::ColorResponse, "COLORRESPONSE", K::Variable),
    O(Opt::ColorModel, "COLORMODEL", K::NameOrNameList),
    O(Opt::Palette, "PALETTE", K::NameOrText),
    O(Opt::AttrId, "ATTRID", K::Name),
    O(Opt::RAttrId, "RATTRID", K::Name),
    O(Opt::Transparency, "TRANSPARENCY", K::Number).range(0, 1),
    O(Opt::Url, "URL", K::Variable),
    O(Opt::Tip, "TIP", K::TipList).setsFlag(Flag::TipNone),
    O(Opt::TipFormat, "TIPFORMAT", K::FormatList),
    O(Opt::TipLabel, "TIPLABEL", K::LabelList),
    F(Opt::NoMissingGroup, "NOMISSINGGROUP", Flag::NoMissingGroup),
    O(Opt::DataLabel, "DATALABEL", K::FlagOrVariable).setsFlag(Flag::DataLabel).alsoMapData(),
    G(Opt::DataLabelAttrs, "DATALABELATTRS", AttrGroup::Text),
    O(Opt::DataLabelPos, "DATALABELPOS", K::Enum).withCodes(&kLabelPos),
    O(Opt::ContributeOffsets, "CONTRIBUTEOFFSETS", K::EnumOrEnumList)
        .withCodes(&kOffsets, &kOffsetSides),
    G(Opt::FillAttrs, "FILLATTRS", AttrGroup::Fill),
    G(Opt::LineAttrs, "LINEATTRS", AttrGroup::Line),
    G(Opt::MarkerAttrs, "MARKERATTRS", AttrGroup::Marker),
    G(Opt::OutlineAttrs, "OUTLINEATTRS", AttrGroup::Outline),
    G(Opt::TextAttrs, "TEXTATTRS", AttrGroup::Text),
    // CHOROMAP
    O(Opt::MapId, "MAPID", K::Variable).from(VarSource::MapData),
    O(Opt::Id, "ID", K::Variable),
    O(Opt::Density, "DENSITY", K::Enum).alias("DEN").alias("DENS").withCodes(&kDensity),
    O(Opt::NumLevels, "NUMLEVELS", K::Int).atLeast(1),
    O(Opt::LevelType, "LEVELTYPE", K::Enum).withCodes(&kLevelType),
    F(Opt::Discrete, "DISCRETE", Flag::Discrete),
    O(Opt::Breaks, "BREAKS", K::NumberList),
    // BUBBLE
    O(Opt::BRadiusMin, "BRADIUSMIN", K::Number).withUnit(),
    O(Opt::BRadiusMax, "BRADIUSMAX", K::Number).withUnit(),
    F(Opt::Outline, "OUTLINE", Flag::Outline),
    F(Opt::Fill, "FILL", Flag::Fill),
    F(Opt::NoFill, "NOFILL", Flag::NoFill),
    // SERIES
    F(Opt::NoBreak, "NOBREAK", Flag::NoBreak).alias("NOBREAKS"),
    F(Opt::SmoothConnect, "SMOOTHCONNECT", Flag::SmoothConnect).alias("SMOOTH"),
    // TEXT
    F(Opt::BackFill, "BACKFILL", Flag::Fill),
    O(Opt::Backlight, "BACKLIGHT", K::FlagOrNumber).setsFlag(Flag::Backlight).range(0, 1),
    O(Opt::DiscreteOffset, "DISCRETEOFFSET", K::NumberOrDate),
    O(Opt::Pad, "PAD", K::Pad).withUnit().withCodes(&kPadSides),
    O(Opt::Position, "POSITION", K::EnumOrVariable).withCodes(&kCompass),
    O(Opt::Rotate, "ROTATE", K::NumberOrVariable),
    O(Opt::SizeResponse, "SIZERESPONSE", K::Variable),
    O(Opt::SizeMin, "SIZEMIN", K::Number).withUnit(),
    O(Opt::SizeMax, "SIZEMAX", K::Number).withUnit(),
    O(Opt::SizeMaxResponse, "SIZEMAXRESPONSE", K::Number),
    O(Opt::SplitChar, "SPLITCHAR", K::Text),
    F(Opt::SplitCharNoDrop, "SPLITCHARNODROP", Flag::SplitCharNoDrop),
    O(Opt::SplitJustify, "SPLITJUSTIFY", K::Enum).withCodes(&kSplitJustify),
    O(Opt::SplitPolicy, "SPLITPOLICY", K::Enum).withCodes(&kSplitPolicy),
    O(Opt::SplitWidth, "SPLITWIDTH", K::Int),
    F(Opt::Strip, "STRIP", Flag::Strip),
    // KEYLEGEND, GRADLEGEND
    O(Opt::Title, "TITLE", K::Text),
    G(Opt::TitleAttrs, "TITLEATTRS", AttrGroup::Text),
    G(Opt::ValueAttrs, "VALUEATTRS", AttrGroup::Text),
    F(Opt::AutoItemSize, "AUTOITEMSIZE", Flag::AutoItemSize),
    O(Opt::LegendPosition, "POSITION", K::Enum).withCodes(&kLegendPos),
    F(Opt::Border, "BORDER", Flag::Border),
    F(Opt::NoBorder, "NOBORDER", Flag::NoBorder),
    F(Opt::NoTitle, "NOTITLE", Flag::NoTitle),
    F(Opt::Integer, "INTEGER", Flag::Integer),
    F(Opt::ExtractScale, "EXTRACTSCALE", Flag::ExtractScale),
    // STYLEATTRS
    O(Opt::DataColors, "DATACOLORS", K::NameOrTextList),
    O(Opt::DataContrastColors, "DATACONTRASTCOLORS", K::NameOrTextList),
    O(Opt::DataSymbols, "DATASYMBOLS", K::NameOrTextList),
    O(Opt::DataLinePatterns, "DATALINEPATTERNS", K::EnumList).withCodes(&kPatterns),
    O(Opt::BackColor, "BACKCOLOR", K::NameOrText),
};
static_assert(std::size(kOptions) == static_cast<size_t>(Opt::Count));

// --- Statements ----------------------------------------------------------------

constexpr int id(Opt o) { return static_cast<int>(o); }
constexpr OperandDesc keyed(Opt o) { return OperandDesc{id(o), true, true, false}; }

constexpr int kProcOptions[] = {
    id(Opt::PlotData), id(Opt::MapData), id(Opt::MapRespData), id(Opt::PlotCs),
    id(Opt::MapCs), id(Opt::DAttrMap), id(Opt::RAttrMap), id(Opt::Description),
    id(Opt::TmplOut), id(Opt::DisableCrenderCheck), id(Opt::NoAutoLegend),
    id(Opt::CycleAttrs), id(Opt::NoCycleAttrs)};

constexpr OperandDesc kEsriOperands[] = {keyed(Opt::EsriUrl)};

constexpr OperandDesc kChoroOperands[] = {{id(Opt::Response), false, false, false}};
constexpr int kChoroOptions[] = {
    id(Opt::DataLabel), id(Opt::DataLabelAttrs),
    id(Opt::MapId), id(Opt::Id), id(Opt::Density), id(Opt::NumLevels),
    id(Opt::Breaks), id(Opt::Palette),
    id(Opt::LevelType), id(Opt::Discrete), id(Opt::Name), id(Opt::AttrId),
    id(Opt::RAttrId), id(Opt::Transparency), id(Opt::LineAttrs), id(Opt::LegendLabel),
    id(Opt::ColorModel), id(Opt::Tip), id(Opt::TipFormat), id(Opt::TipLabel),
    id(Opt::Url),
    // A further region layer of its own data set, and the fill of one
    // without a response.
    id(Opt::MapData), id(Opt::MapCs), id(Opt::FillAttrs)};

constexpr OperandDesc kXYOperands[] = {keyed(Opt::X), keyed(Opt::Y)};
constexpr int kScatterOptions[] = {
    id(Opt::DataLabel), id(Opt::DataLabelAttrs), id(Opt::DataLabelPos),
    id(Opt::LegendLabel), id(Opt::MarkerAttrs), id(Opt::Group),
    id(Opt::ColorResponse), id(Opt::ColorModel), id(Opt::Palette),
    id(Opt::ContributeOffsets),
    id(Opt::AttrId), id(Opt::RAttrId), id(Opt::Name), id(Opt::NoMissingGroup),
    id(Opt::Tip), id(Opt::TipFormat), id(Opt::TipLabel), id(Opt::Transparency),
    id(Opt::Url)};

constexpr OperandDesc kBubbleOperands[] = {keyed(Opt::X), keyed(Opt::Y), keyed(Opt::Size)};
constexpr int kBubbleOptions[] = {
    id(Opt::Name), id(Opt::DataLabelAttrs), id(Opt::DataLabel), id(Opt::LegendLabel),
    id(Opt::BRadiusMin), id(Opt::BRadiusMax), id(Opt::DataLabelPos),
    id(Opt::Transparency), id(Opt::Group), id(Opt::ColorResponse),
    id(Opt::ColorModel), id(Opt::Palette), id(Opt::AttrId), id(Opt::RAttrId),
    id(Opt::FillAttrs),
    id(Opt::Tip), id(Opt::TipFormat), id(Opt::TipLabel), id(Opt::NoMissingGroup),
    id(Opt::Outline), id(Opt::Fill), id(Opt::NoFill), id(Opt::Url)};

constexpr int kSeriesOptions[] = {
    id(Opt::LineAttrs), id(Opt::AttrId), id(Opt::LegendLabel), id(Opt::Group),
    id(Opt::Url), id(Opt::NoBreak), id(Opt::NoMissingGroup), id(Opt::Name),
    id(Opt::SmoothConnect), id(Opt::Tip), id(Opt::TipFormat), id(Opt::TipLabel)};

constexpr OperandDesc kTextOperands[] = {keyed(Opt::X), keyed(Opt::Y), keyed(Opt::TextVar)};
constexpr int kTextOptions[] = {
    id(Opt::AttrId), id(Opt::BackFill), id(Opt::Backlight), id(Opt::ColorResponse),
    id(Opt::ColorModel), id(Opt::Palette), id(Opt::ContributeOffsets),
    id(Opt::DiscreteOffset),
    id(Opt::FillAttrs), id(Opt::LegendLabel), id(Opt::Name), id(Opt::Outline),
    id(Opt::OutlineAttrs), id(Opt::Pad), id(Opt::Position), id(Opt::Rotate),
    id(Opt::SizeResponse), id(Opt::SizeMin), id(Opt::SizeMax),
    id(Opt::SizeMaxResponse), id(Opt::SplitChar), id(Opt::SplitCharNoDrop),
    id(Opt::SplitJustify), id(Opt::SplitPolicy), id(Opt::SplitWidth), id(Opt::Strip),
    id(Opt::TextAttrs), id(Opt::Tip), id(Opt::TipFormat), id(Opt::TipLabel),
    id(Opt::Transparency), id(Opt::Group), id(Opt::Url)};

constexpr OperandDesc kKeyLegendOperands[] = {{id(Opt::LegendNames), false, false, true}};
constexpr int kKeyLegendOptions[] = {
    id(Opt::Title), id(Opt::TitleAttrs), id(Opt::ValueAttrs), id(Opt::AutoItemSize)};

constexpr OperandDesc kGradLegendOperands[] = {{id(Opt::LegendPlot), false, false, false}};
constexpr int kGradLegendOptions[] = {
    id(Opt::LegendPosition), id(Opt::Title), id(Opt::TitleAttrs), id(Opt::Border),
    id(Opt::NoBorder), id(Opt::NoTitle), id(Opt::Integer), id(Opt::ExtractScale)};

constexpr int kStyleAttrsOptions[] = {
    id(Opt::DataColors), id(Opt::DataContrastColors), id(Opt::DataSymbols),
    id(Opt::DataLinePatterns), id(Opt::BackColor), id(Opt::Palette)};

struct StmtSpec {
  const char* keyword;
  const char* alias;
  bool proc;
  bool slash;
  VarSource source;
};

template <size_t NO, size_t NP>
constexpr StatementDesc stmt(StmtSpec s, const OperandDesc (*ops)[NO], const int (*opts)[NP]) {
  StatementDesc d;
  d.keyword = s.keyword;
  d.aliases[0] = s.alias;
  d.proc = s.proc;
  d.slash = s.slash;
  d.source = s.source;
  d.operands = ops ? *ops : nullptr;
  d.operandCount = ops ? static_cast<int>(NO) : 0;
  d.options = opts ? *opts : nullptr;
  d.optionCount = opts ? static_cast<int>(NP) : 0;
  return d;
}
constexpr const OperandDesc (*kNoOperands)[1] = nullptr;
constexpr const int (*kNoOptions)[1] = nullptr;

constexpr VarSource kPlot = VarSource::PlotData;
constexpr VarSource kResp = VarSource::MapRespData;

// The statement table, in Stmt order.
constexpr StatementInfo kInfo[] = {
    {"TAVLO", "", PlotClass::None, false},
    {"OPENSTREETMAP", "MapLayer", PlotClass::None, false},
    {"ESRIMAP", "MapLayer", PlotClass::None, false},
    {"CHOROMAP", "mapRegionLayer", PlotClass::Area, false},
    {"SCATTER", "ScatterPlot", PlotClass::Point, true},
    {"BUBBLE", "BubblePlot", PlotClass::Area, true},
    {"SERIES", "SeriesPlot", PlotClass::Line, true},
    {"TEXT", "TextPlot", PlotClass::Area, true},
    {"KEYLEGEND", "", PlotClass::None, false},
    {"GRADLEGEND", "", PlotClass::None, false},
    {"STYLEATTRS", "", PlotClass::None, false},
};
static_assert(std::size(kInfo) == static_cast<size_t>(Stmt::Count));

constexpr const char* keyword(Stmt k) { return kInfo[static_cast<int>(k)].keyword; }

// In Stmt order.
constexpr StatementDesc kStatements[] = {
    stmt({keyword(Stmt::Tavlo), nullptr, true, false, kPlot}, kNoOperands, &kProcOptions),
    stmt({keyword(Stmt::OpenStreetMap), "OSM", false, true, kPlot}, kNoOperands,
         kNoOptions),
    stmt({keyword(Stmt::EsriMap), "ESRI", false, false, kPlot}, &kEsriOperands, kNoOptions),
    stmt({keyword(Stmt::Choromap), nullptr, false, true, kResp}, &kChoroOperands,
         &kChoroOptions),
    stmt({keyword(Stmt::Scatter), nullptr, false, true, kPlot}, &kXYOperands,
         &kScatterOptions),
    stmt({keyword(Stmt::Bubble), nullptr, false, true, kPlot}, &kBubbleOperands,
         &kBubbleOptions),
    stmt({keyword(Stmt::Series), nullptr, false, true, kPlot}, &kXYOperands,
         &kSeriesOptions),
    stmt({keyword(Stmt::Text), nullptr, false, true, kPlot}, &kTextOperands,
         &kTextOptions),
    stmt({keyword(Stmt::KeyLegend), nullptr, false, true, kPlot}, &kKeyLegendOperands,
         &kKeyLegendOptions),
    stmt({keyword(Stmt::GradLegend), nullptr, false, true, kPlot}, &kGradLegendOperands,
         &kGradLegendOptions),
    stmt({keyword(Stmt::StyleAttrs), nullptr, false, false, kPlot}, kNoOperands,
         &kStyleAttrsOptions),
};
static_assert(std::size(kStatements) == static_cast<size_t>(Stmt::Count));

constexpr host::Grammar makeGrammar() {
  host::Grammar g;
  g.statements = kStatements;
  g.statementCount = static_cast<int>(std::size(kStatements));
  g.options = kOptions;
  g.optionCount = static_cast<int>(std::size(kOptions));
  g.groups = kGroups;
  g.groupCount = static_cast<int>(std::size(kGroups));
  g.units = &kUnits;
  g.percentUnit = Code::Pct;
  g.dataSetOption[static_cast<int>(VarSource::PlotData)] = id(Opt::PlotData);
  g.dataSetOption[static_cast<int>(VarSource::MapData)] = id(Opt::MapData);
  g.dataSetOption[static_cast<int>(VarSource::MapRespData)] = id(Opt::MapRespData);
  return g;
}

constexpr host::Grammar kGrammar = makeGrammar();

host::Host* currentHost() {
  return static_cast<host::Host*>(v_global_gcb_anchor);
}

}  // namespace

const host::Grammar& tavloGrammar() { return kGrammar; }

host::Status xinit(ParseWork& work) {
  work = ParseWork{};
  host::Host* h = currentHost();
  if (!h) return host::kHostFailure;
  const std::string debug = qv::upper(h->xoptcgt("DEBUG"));
  if (debug.find("SYN") != std::string::npos) work.traceFlags |= 2;
  if (debug.find("SEM") != std::string::npos) work.traceFlags |= 1;
  return host::kOk;
}

const host::Grammar* tavlog(ParseWork& work) {
  work.grammar = &kGrammar;
  return work.grammar;
}

const StatementInfo& statementInfo(Stmt k) {
  static constexpr StatementInfo kNone{"", "", PlotClass::None, false};
  const int i = static_cast<int>(k);
  return i >= 0 && i < static_cast<int>(Stmt::Count) ? kInfo[i] : kNone;
}

Stmt statementKind(const host::Statement& node) {
  if (node.statement < 0 || node.statement >= static_cast<int>(Stmt::Count)) return Stmt::Count;
  return static_cast<Stmt>(node.statement);
}

host::Status xsparse(ParseWork& work, int flags, host::StatementList* out) {
  if (!out) return host::kHostFailure;
  host::Host* h = currentHost();
  if (!h) return host::kUserError;
  const host::Grammar* g = work.grammar ? work.grammar : tavlog(work);
  return h->xsproc(*g, flags & 3, out);
}

}  // namespace qv::module
