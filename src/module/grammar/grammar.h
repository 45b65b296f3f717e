// The TAVLO statement grammar and the parse callbacks.
//
// The grammar is data: which statements exist, their keywords and aliases,
// their leading operands, the options each accepts with value kinds, codes,
// ranges and data sets. The host's parse engine runs it over a step and gives
// back a host::StatementList in which every option is a slot addressed by its
// Opt id and every switch is a header flag (numbers in namespace Flag).
#pragma once

#include "module/host/host.h"
#include "module/host/statements.h"

namespace qv::module {

// Statements, in the order of the grammar's statement table.
enum class Stmt : int {
  Tavlo, OpenStreetMap, EsriMap, Choromap, Scatter, Bubble, Series, Text,
  KeyLegend, GradLegend, StyleAttrs,
  Count
};

// How a plot statement's attribute blocks are chosen.
enum class PlotClass : int { None = 0, Point = 1, Line = 2, Area = 3 };

// One row of the statement table, in Stmt order: the keyword the grammar
// reads, the template statement it writes (empty when it writes none of its
// own), its plot class, and whether it is a plot drawn from the PLOTDATA=
// data set at longitude and latitude.
struct StatementInfo {
  const char* keyword;
  const char* templateKeyword;
  PlotClass plotClass;
  bool plotData;
};
// The row of `k`; Stmt::Count gives an empty row.
const StatementInfo& statementInfo(Stmt k);
// The statement kind of a parsed node; Stmt::Count when it is none.
Stmt statementKind(const host::Statement& node);
inline bool isPlotStatement(Stmt k) { return statementInfo(k).plotData; }

// Option slots. Options that share a name but differ in value (POSITION= of
// TEXT and of GRADLEGEND, URL= of ESRIMAP and of the plots) have their own id.
enum class Opt : int {
  // PROC TAVLO
  PlotData, MapData, MapRespData, PlotCs, MapCs, DAttrMap, RAttrMap,
  Description, TmplOut, DisableCrenderCheck, NoAutoLegend, CycleAttrs, NoCycleAttrs,
  // leading operands
  EsriUrl,      // ESRIMAP URL= text
  X, Y,
  Size,         // BUBBLE SIZE= variable
  TextVar,      // TEXT TEXT= variable
  Response,     // CHOROMAP response variable
  LegendNames,  // KEYLEGEND "name" ... (list of texts)
  LegendPlot,   // GRADLEGEND "name"
  // options shared by the plot statements
  Name, LegendLabel, Group, ColorResponse, ColorModel, Palette, AttrId, RAttrId,
  Transparency, Url, Tip, TipFormat, TipLabel, NoMissingGroup, DataLabel,
  DataLabelAttrs, DataLabelPos, ContributeOffsets,
  FillAttrs, LineAttrs, MarkerAttrs, OutlineAttrs, TextAttrs,
  // CHOROMAP
  MapId, Id, Density, NumLevels, LevelType, Discrete, Breaks,
  // BUBBLE
  BRadiusMin, BRadiusMax, Outline, Fill, NoFill,
  // SERIES
  NoBreak, SmoothConnect,
  // TEXT
  BackFill, Backlight, DiscreteOffset, Pad, Position, Rotate, SizeResponse,
  SizeMin, SizeMax, SizeMaxResponse, SplitChar, SplitCharNoDrop, SplitJustify,
  SplitPolicy, SplitWidth, Strip,
  // KEYLEGEND, GRADLEGEND
  Title, TitleAttrs, ValueAttrs, AutoItemSize,
  LegendPosition, Border, NoBorder, NoTitle, Integer, ExtractScale,
  // STYLEATTRS
  DataColors, DataContrastColors, DataSymbols, DataLinePatterns, BackColor,
  Count
};

// Attribute group kinds (index into Grammar::groups).
enum class AttrGroup : int { Text, Line, Marker, Fill, Outline, Count };

// Header flag numbers of the switches. 7, 12 and 55 are kept for the host's
// BY mark, the host's opaque mark and the driver's any-names mark.
namespace Flag {
inline constexpr int NoAutoLegend = 1;
inline constexpr int CycleAttrs = 2;
inline constexpr int NoCycleAttrs = 3;
inline constexpr int DisableCrenderCheck = 4;
inline constexpr int NoMissingGroup = 5;
inline constexpr int SmoothConnect = 6;
inline constexpr int NoBreak = 8;
inline constexpr int TipNone = 9;
inline constexpr int Discrete = 10;
inline constexpr int Outline = 11;
inline constexpr int Fill = 13;  // FILL (BUBBLE) and BACKFILL (TEXT)
inline constexpr int NoFill = 14;
inline constexpr int SplitCharNoDrop = 15;
inline constexpr int Strip = 16;
inline constexpr int Backlight = 17;
inline constexpr int DataLabel = 18;
inline constexpr int AutoItemSize = 19;
inline constexpr int Border = 20;
inline constexpr int NoBorder = 21;
inline constexpr int NoTitle = 22;
inline constexpr int Integer = 23;
inline constexpr int ExtractScale = 24;
}  // namespace Flag

// Codes of the enumerated values.
namespace Code {
// size units
inline constexpr int Px = 1, In = 2, Cm = 3, Mm = 4, Pct = 5, Pt = 6;
// compass and legend positions
inline constexpr int Top = 1, TopRight = 2, Right = 3, BottomRight = 4, Bottom = 5,
                     BottomLeft = 6, Left = 7, TopLeft = 8, Center = 9;
// LEVELTYPE=
inline constexpr int LevelNone = 1, LevelInterval = 2, LevelQuantile = 3, LevelJenks = 4;
// Classes given by BREAKS=; not a word of LEVELTYPE=.
inline constexpr int LevelBreaks = 5;
// CONTRIBUTEOFFSETS=: single word, and list entries
inline constexpr int OffsetsAll = 1, OffsetsNone = 2;
inline constexpr int OffsetLeft = 1, OffsetRight = 2, OffsetBottom = 3, OffsetTop = 4;
}  // namespace Code

// The grammar of the procedure (static tables, built once).
const host::Grammar& tavloGrammar();

// The parser work area. The host's one parse service (Host::xsproc)
// tokenizes, runs the semantic actions and tracks positions itself.
struct ParseWork {
  int traceFlags = 0;                    // 1 semantic actions, 2 syntax
  const host::Grammar* grammar = nullptr;  // set by tavlog
};

// Prepares the work area; reads the host option DEBUG: a text containing
// "SYN" traces syntax, "SEM" semantic actions (either case).
host::Status xinit(ParseWork& work);
// Builds the table set and records it in the work area.
const host::Grammar* tavlog(ParseWork& work);
// Runs the host's parse over the table set with trace flags `flags` (1
// semantic, 2 syntax). Without a host to serve it (no anchor installed) the
// step cannot parse and 1012 comes back; there is no host to log a message
// to.
host::Status xsparse(ParseWork& work, int flags, host::StatementList* out);

}  // namespace qv::module
