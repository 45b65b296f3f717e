// The default look of a graph, kept in one place: the GraphData1..12
// elements that groups cycle through, color ramps, fonts, background, region
// outlines and the color of regions without a response; and the overrides a
// template may give (dataColors=, dataContrastColors=, dataSymbols=,
// dataLinePatterns=, BackgroundColor=).
//
// The data colors are the Okabe-Ito palette extended to twelve with colors
// that stay apart under the common forms of color blindness; the ramps are
// colorblind-safe sequential and diverging ramps.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::render {

// A color with straight (not premultiplied) alpha, each part in 0..1.
struct Rgba {
  double r = 0, g = 0, b = 0, a = 1;
  bool operator==(const Rgba&) const = default;
};

// A color from 0xRRGGBB.
Rgba rgbHex(uint32_t rrggbb, double alpha = 1.0);
// Parses a color text "CXRRGGBB" (letters in either case); false when the
// text is not one.
bool parseColorText(std::string_view text, Rgba& out);
// The color text "CXRRGGBB" of a color (alpha left out).
std::string colorText(const Rgba& c);
// Mixes two colors: t = 0 gives a, t = 1 gives b.
Rgba mix(const Rgba& a, const Rgba& b, double t);
// The color of a position t (clamped to 0..1) along a ramp of two or more
// colors spaced evenly.
Rgba rampColor(const std::vector<Rgba>& ramp, double t);
// Relative luminance (0 black, 1 white) of a color.
double luminance(const Rgba& c);

// --- Markers ---------------------------------------------------------------

enum class MarkerSymbol {
  Circle, CircleFilled, Square, SquareFilled, Triangle, TriangleFilled,
  TriangleDown, TriangleDownFilled, Diamond, DiamondFilled, Plus, X, Star,
  StarFilled, Asterisk, Hash, Y, Tack, Union, Ibeam, Arrowdown, Homedown,
  HomedownFilled,
};

inline constexpr int kMarkerSymbolCount = 23;

// The symbol of a name (case-insensitive, e.g. "circlefilled"); false when
// the name is not a symbol.
bool markerSymbolFromName(std::string_view name, MarkerSymbol& out);
// The lower-case name of a symbol.
const char* markerSymbolName(MarkerSymbol s);
// True for the symbols drawn as filled shapes.
bool markerSymbolFilled(MarkerSymbol s);

// --- Line patterns ---------------------------------------------------------

// The line pattern codes with names: 1 solid, 2 shortdash, 4 mediumdash,
// 5 longdash, 8 mediumdashshortdash, 14 dashdashdot, 15 dashdotdot, 20 dash,
// 26 longdashshortdash, 34 dot, 35 thindot, 41 shortdashdot,
// 42 mediumdashdotdot.
inline constexpr std::array<int, 13> kLinePatternCodes = {1,  2,  4,  5,  8,  14, 15,
                                                          20, 26, 34, 35, 41, 42};

// The code of a pattern name (case-insensitive) or of a decimal number;
// false when the text is neither.
bool linePatternFromName(std::string_view name, int& code);
// The name of a pattern code ("" for a code without a name).
const char* linePatternName(int code);
// The dash array for a pattern drawn with a line of `width` pixels: lengths
// in pixels, alternating on and off; empty for a solid line. A code without
// a name draws solid.
std::vector<double> dashArray(int code, double width);

// --- Fonts -----------------------------------------------------------------

struct FontStyle {
  std::string family = "DejaVu Sans";
  double sizePt = 9;
  bool bold = false;
  bool italic = false;
  Rgba color = rgbHex(0x000000);
};

// Pixels per point (the renderer draws at 96 pixels per inch).
inline constexpr double kPxPerPt = 96.0 / 72.0;

// --- The style -------------------------------------------------------------

// One GraphData element as groups and plots use it.
struct DataStyle {
  Rgba fill;             // fill color: regions, bubbles, bars
  Rgba contrast;         // contrast color: markers, lines, outlines of fills
  MarkerSymbol symbol = MarkerSymbol::Circle;
  int linePattern = 1;
};

struct Style {
  // The lists that GraphData1, GraphData2, ... cycle through; each list
  // cycles on its own when an override makes it shorter or longer.
  std::vector<Rgba> dataColors;
  std::vector<Rgba> dataContrastColors;
  std::vector<MarkerSymbol> dataSymbols;
  std::vector<int> dataLinePatterns;

  // Ramps for continuous responses.
  std::vector<Rgba> twoColorRamp;    // sequential, light to dark
  std::vector<Rgba> threeColorRamp;  // diverging, blue through light gray to red

  Rgba background;        // graph background
  Rgba wallColor;         // map area behind regions when no tiles are drawn
  Rgba regionOutline;     // outline of map regions
  double regionOutlineWidth = 0.5;
  Rgba missingColor;      // regions without a response value
  Rgba emptyRegionFill;   // regions of a layer drawn without a response

  double markerSizePx = 7;
  double lineWidthPx = 1.5;

  FontStyle graphTitleText;     // TITLE lines
  FontStyle graphFootnoteText;  // FOOTNOTE lines
  FontStyle graphLabelText;     // legend titles, axis-like labels
  FontStyle graphValueText;     // legend entries
  FontStyle graphDataText;      // data labels and TEXT plots
  FontStyle attributionText;    // the tile provider's credit line
};

// The default style (one shared instance).
const Style& defaultStyle();

// GraphData element n (from 1; n below 1 counts as 1), each attribute taken
// from its list cyclically.
DataStyle graphData(const Style& style, int n);

// Overrides given by the template as texts: colors are "CXRRGGBB" texts,
// symbols are names, patterns are codes. Empty lists leave the default.
struct StyleOverrides {
  std::vector<std::string> dataColors;
  std::vector<std::string> dataContrastColors;
  std::vector<std::string> dataSymbols;
  std::vector<int> dataLinePatterns;
  std::string backgroundColor;  // graph and map area; "" leaves the defaults
};

// The style with the overrides applied. An entry that cannot be used (not a
// color text, not a symbol name) is left out and described in `problems`
// (may be null); a list left empty keeps its default.
Style applyOverrides(const Style& base, const StyleOverrides& o,
                     std::vector<std::string>* problems);

}  // namespace qv::render
