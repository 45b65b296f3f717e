#include "render/graph/style.h"

#include "common/ascii.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qv::render {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

double clamp01(double v) { return v < 0 ? 0 : (v > 1 ? 1 : v); }

struct SymbolName {
  MarkerSymbol symbol;
  const char* name;
  bool filled;
};

// Index by the enum's value.
constexpr SymbolName kSymbols[kMarkerSymbolCount] = {
    {MarkerSymbol::Circle, "circle", false},
    {MarkerSymbol::CircleFilled, "circlefilled", true},
    {MarkerSymbol::Square, "square", false},
    {MarkerSymbol::SquareFilled, "squarefilled", true},
    {MarkerSymbol::Triangle, "triangle", false},
    {MarkerSymbol::TriangleFilled, "trianglefilled", true},
    {MarkerSymbol::TriangleDown, "triangledown", false},
    {MarkerSymbol::TriangleDownFilled, "triangledownfilled", true},
    {MarkerSymbol::Diamond, "diamond", false},
    {MarkerSymbol::DiamondFilled, "diamondfilled", true},
    {MarkerSymbol::Plus, "plus", false},
    {MarkerSymbol::X, "x", false},
    {MarkerSymbol::Star, "star", false},
    {MarkerSymbol::StarFilled, "starfilled", true},
    {MarkerSymbol::Asterisk, "asterisk", false},
    {MarkerSymbol::Hash, "hash", false},
    {MarkerSymbol::Y, "y", false},
    {MarkerSymbol::Tack, "tack", false},
    {MarkerSymbol::Union, "union", false},
    {MarkerSymbol::Ibeam, "ibeam", false},
    {MarkerSymbol::Arrowdown, "arrowdown", false},
    {MarkerSymbol::Homedown, "homedown", false},
    {MarkerSymbol::HomedownFilled, "homedownfilled", true},
};

struct PatternDef {
  int code;
  const char* name;
  // On/off lengths in units of the line width (at least one pixel per unit).
  std::vector<double> units;
};

const std::vector<PatternDef>& patterns() {
  static const std::vector<PatternDef> defs = {
      {1, "solid", {}},
      {2, "shortdash", {3, 3}},
      {4, "mediumdash", {6, 4}},
      {5, "longdash", {12, 5}},
      {8, "mediumdashshortdash", {6, 3, 3, 3}},
      {14, "dashdashdot", {6, 3, 6, 3, 1, 3}},
      {15, "dashdotdot", {6, 3, 1, 3, 1, 3}},
      {20, "dash", {5, 4}},
      {26, "longdashshortdash", {12, 4, 3, 4}},
      {34, "dot", {1, 2}},
      {35, "thindot", {1, 4}},
      {41, "shortdashdot", {3, 3, 1, 3}},
      {42, "mediumdashdotdot", {6, 3, 1, 3, 1, 3}},
  };
  return defs;
}

const PatternDef* findPattern(int code) {
  for (const auto& p : patterns())
    if (p.code == code) return &p;
  return nullptr;
}

FontStyle font(double sizePt, bool bold, uint32_t color = 0x000000) {
  FontStyle f;
  f.sizePt = sizePt;
  f.bold = bold;
  f.color = rgbHex(color);
  return f;
}

Style makeDefault() {
  Style s;
  // Contrast colors: the seven Okabe-Ito colors other than black, then
  // indigo, wine, green, brown and black, chosen so that every pair stays
  // apart (CIELAB distance above 13) for normal vision and under simulated
  // protanopia, deuteranopia and tritanopia.
  const uint32_t contrast[12] = {0x0072B2, 0xE69F00, 0x009E73, 0xCC79A7, 0x56B4E9, 0xD55E00,
                                 0xF0E442, 0x332288, 0x882255, 0x117733, 0x661100, 0x000000};
  for (uint32_t c : contrast) {
    Rgba k = rgbHex(c);
    s.dataContrastColors.push_back(k);
    // Fills are lighter, so that markers and outlines in the contrast color
    // stand out on them.
    s.dataColors.push_back(mix(k, rgbHex(0xFFFFFF), 0.3));
  }
  s.dataSymbols = {MarkerSymbol::Circle,       MarkerSymbol::Plus,
                   MarkerSymbol::X,            MarkerSymbol::Triangle,
                   MarkerSymbol::Square,       MarkerSymbol::Asterisk,
                   MarkerSymbol::Diamond,      MarkerSymbol::CircleFilled,
                   MarkerSymbol::TriangleFilled, MarkerSymbol::SquareFilled,
                   MarkerSymbol::DiamondFilled, MarkerSymbol::StarFilled};
  s.dataLinePatterns = {1, 4, 8, 5, 14, 26, 15, 20, 41, 42, 2, 34};

  // Both sequential, ordered in lightness so that they read in gray and to
  // colour-blind eyes too: light to dark blue; and dark purple through teal
  // to yellow (the low, middle and high of the viridis scale), the default
  // for a continuous response, whose values need not centre on a
  // meaningful middle.
  s.twoColorRamp = {rgbHex(0xEFF3FF), rgbHex(0x08519C)};
  s.threeColorRamp = {rgbHex(0x440154), rgbHex(0x21918C), rgbHex(0xFDE725)};

  s.background = rgbHex(0xFFFFFF);
  s.wallColor = rgbHex(0xF4F4F0);
  s.regionOutline = rgbHex(0x5A5A5A);
  s.regionOutlineWidth = 0.5;
  s.missingColor = rgbHex(0xC8C8C8);
  s.emptyRegionFill = rgbHex(0xE8E8E4);

  s.graphTitleText = font(11, true);
  s.graphFootnoteText = font(9, false);
  s.graphLabelText = font(9, true);
  s.graphValueText = font(8, false);
  s.graphDataText = font(8, false);
  s.attributionText = font(7, false, 0x333333);
  return s;
}

}  // namespace

Rgba rgbHex(uint32_t rrggbb, double alpha) {
  return Rgba{((rrggbb >> 16) & 0xFF) / 255.0, ((rrggbb >> 8) & 0xFF) / 255.0,
              (rrggbb & 0xFF) / 255.0, alpha};
}

bool parseColorText(std::string_view text, Rgba& out) {
  if (text.size() != 8) return false;
  if (upperAscii(text[0]) != 'C' || upperAscii(text[1]) != 'X')
    return false;
  uint32_t v = 0;
  for (size_t i = 2; i < 8; ++i) {
    int d = hexDigit(text[i]);
    if (d < 0) return false;
    v = v * 16 + static_cast<uint32_t>(d);
  }
  out = rgbHex(v);
  return true;
}

std::string colorText(const Rgba& c) {
  auto part = [](double v) { return static_cast<unsigned>(std::lround(clamp01(v) * 255)); };
  char buf[16];
  std::snprintf(buf, sizeof buf, "CX%02X%02X%02X", part(c.r), part(c.g), part(c.b));
  return buf;
}

Rgba mix(const Rgba& a, const Rgba& b, double t) {
  t = clamp01(t);
  return Rgba{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t,
              a.a + (b.a - a.a) * t};
}

Rgba rampColor(const std::vector<Rgba>& ramp, double t) {
  if (ramp.empty()) return Rgba{};
  if (ramp.size() == 1 || !(t > 0)) return ramp.front();  // NaN goes to the start
  if (t >= 1) return ramp.back();
  double pos = t * static_cast<double>(ramp.size() - 1);
  size_t i = static_cast<size_t>(pos);
  if (i >= ramp.size() - 1) return ramp.back();
  return mix(ramp[i], ramp[i + 1], pos - static_cast<double>(i));
}

double luminance(const Rgba& c) {
  auto lin = [](double v) {
    v = clamp01(v);
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * lin(c.r) + 0.7152 * lin(c.g) + 0.0722 * lin(c.b);
}

bool markerSymbolFromName(std::string_view name, MarkerSymbol& out) {
  for (const auto& s : kSymbols) {
    if (sameNoCase(name, s.name)) {
      out = s.symbol;
      return true;
    }
  }
  return false;
}

const char* markerSymbolName(MarkerSymbol s) {
  int i = static_cast<int>(s);
  return (i >= 0 && i < kMarkerSymbolCount) ? kSymbols[i].name : "circle";
}

bool markerSymbolFilled(MarkerSymbol s) {
  int i = static_cast<int>(s);
  return i >= 0 && i < kMarkerSymbolCount && kSymbols[i].filled;
}

bool linePatternFromName(std::string_view name, int& code) {
  for (const auto& p : patterns()) {
    if (sameNoCase(name, p.name)) {
      code = p.code;
      return true;
    }
  }
  // A decimal number (optional sign) stands for itself.
  size_t i = 0;
  bool neg = false;
  if (i < name.size() && (name[i] == '+' || name[i] == '-')) neg = name[i++] == '-';
  if (i == name.size() || name.size() - i > 9) return false;
  int v = 0;
  for (; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    v = v * 10 + (name[i] - '0');
  }
  code = neg ? -v : v;
  return true;
}

const char* linePatternName(int code) {
  const PatternDef* p = findPattern(code);
  return p ? p->name : "";
}


std::vector<double> dashArray(int code, double width) {
  const PatternDef* p = findPattern(code);
  if (!p) return {};
  // Thin lines keep dashes long enough to be seen.
  double unit = std::isfinite(width) && width > 1 ? width : 1;
  std::vector<double> out;
  out.reserve(p->units.size());
  for (double u : p->units) out.push_back(u * unit);
  return out;
}

const Style& defaultStyle() {
  static const Style s = makeDefault();
  return s;
}

DataStyle graphData(const Style& style, int n) {
  size_t i = n < 1 ? 0 : static_cast<size_t>(n - 1);
  DataStyle d;
  if (!style.dataColors.empty()) d.fill = style.dataColors[i % style.dataColors.size()];
  if (!style.dataContrastColors.empty())
    d.contrast = style.dataContrastColors[i % style.dataContrastColors.size()];
  if (!style.dataSymbols.empty()) d.symbol = style.dataSymbols[i % style.dataSymbols.size()];
  if (!style.dataLinePatterns.empty())
    d.linePattern = style.dataLinePatterns[i % style.dataLinePatterns.size()];
  return d;
}

Style applyOverrides(const Style& base, const StyleOverrides& o,
                     std::vector<std::string>* problems) {
  Style s = base;
  auto note = [&](const std::string& text) {
    if (problems) problems->push_back(text);
  };
  auto colors = [&](const std::vector<std::string>& in, const char* option,
                    std::vector<Rgba>& target) {
    std::vector<Rgba> list;
    for (const auto& t : in) {
      Rgba c;
      if (parseColorText(t, c))
        list.push_back(c);
      else
        note(std::string("The color \"") + t + "\" of " + option + " is not a color; it is left out.");
    }
    if (!list.empty()) target = std::move(list);
  };
  colors(o.dataColors, "dataColors", s.dataColors);
  colors(o.dataContrastColors, "dataContrastColors", s.dataContrastColors);

  std::vector<MarkerSymbol> symbols;
  for (const auto& t : o.dataSymbols) {
    MarkerSymbol m;
    if (markerSymbolFromName(t, m))
      symbols.push_back(m);
    else
      note("The marker symbol \"" + t + "\" of dataSymbols is not known; it is left out.");
  }
  if (!symbols.empty()) s.dataSymbols = std::move(symbols);

  if (!o.dataLinePatterns.empty()) s.dataLinePatterns = o.dataLinePatterns;

  if (!o.backgroundColor.empty()) {
    Rgba c;
    // The map area takes it too (tiles, when drawn, still cover it).
    if (parseColorText(o.backgroundColor, c))
      s.background = s.wallColor = c;
    else
      note("The BackgroundColor \"" + o.backgroundColor + "\" is not a color; the default is used.");
  }
  return s;
}

}  // namespace qv::render
