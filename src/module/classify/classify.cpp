#include "module/classify/classify.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "module/classify/breaks.h"
#include "module/classify/response.h"
#include "module/color/palettes.h"
#include "module/grammar/grammar.h"
#include "module/host/messages.h"
#include "module/host/statements.h"
#include "module/text/cleanchars.h"
#include "module/text/numtext.h"
#include "module/text/textutil.h"

namespace qv::module {

namespace {

void appendf(std::string& out, const char* fmt, double a) {
  char buf[64];
  int n = std::snprintf(buf, sizeof buf, fmt, a);
  if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

void appendf(std::string& out, const char* fmt, double a, double b) {
  char buf[96];
  int n = std::snprintf(buf, sizeof buf, fmt, a, b);
  if (n > 0) out.append(buf, static_cast<size_t>(n) < sizeof buf ? static_cast<size_t>(n) : sizeof buf - 1);
}

// Zero for negative zero, so that no label shows "-0".
double unsignedZero(double v) { return v == 0 ? 0.0 : v; }

// The text of a color list entry (host strings, or plain texts).
std::string_view entryText(const host::Value& v) {
  if (const auto* h = std::get_if<const host::HStr*>(&v)) return host::host().kdlgstr(*h);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  return {};
}

// How the classes are colored.
struct Coloring {
  enum Kind { kListed, kTwoColor, kRamp } kind = kRamp;
  std::vector<std::string> colors;  // list entries (kListed, kTwoColor)
  std::string ramp;                 // color ramp name (kRamp)
};

Coloring chooseColoring(const PlotContext& plot, int32_t classes) {
  Coloring c;
  size_t nc = plot.colorModelList ? plot.colorModelList->size() : 0;
  // An empty list is no list: the step's list object outlives the
  // statement that filled it.
  if (nc > 0 && nc < static_cast<size_t>(classes) && nc != 2) {
    host::host().xpmlog(kMsgTooFewColors);
    nc = 0;
  }
  if (nc > 0) {
    for (size_t i = 0; i < nc; ++i)
      c.colors.emplace_back(entryText(plot.colorModelList->at(i)));
    c.kind = nc >= static_cast<size_t>(classes) ? Coloring::kListed : Coloring::kTwoColor;
    return c;
  }
  // A named palette gives each class its color, as a listed one would.
  if (plot.paletteName) {
    if (std::optional<PaletteRef> p = findPalette(host::host().kdlgstr(plot.paletteName))) {
      c.colors = paletteColorTexts(paletteColors(*p, classes));
      c.kind = Coloring::kListed;
      return c;
    }
  }
  std::string_view name;
  if (plot.colorModelName) name = host::host().kdlgstr(plot.colorModelName);
  c.ramp = name.empty() ? std::string("TwoColorRamp") : std::string(name);
  return c;
}

// Formats class boundaries for labels with the response's display format.
struct LabelFormat {
  bool formatted = false;  // the variable has a format
  bool resolved = false;   // ... and the host knows it
  host::FormatDesc format;
  int width = 0;
  int decimals = 0;
};

LabelFormat labelFormat(const host::VarDesc& var) {
  LabelFormat lf;
  if (var.format.empty()) return lf;
  lf.formatted = true;
  if (host::host().xfrname(var.format, &lf.format) != host::kOk) return lf;
  lf.resolved = true;
  lf.width = var.formatWidth > 0 ? var.formatWidth : lf.format.defaultWidth;
  lf.decimals = var.formatDecimals > 0 ? var.formatDecimals : lf.format.defaultDecimals;
  return lf;
}

// A value in the response's format, left-justified and cut to its content.
// A formatted value may hold characters a quoted template string cannot
// (a percent sign), so it is escaped like any other text put between quotes.
void appendFormatted(std::string& out, const LabelFormat& lf, double value) {
  std::string text = host::host().xfxpn(lf.format, lf.width, lf.decimals, value);
  int content = 0;
  if (!text.empty())
    wzstjls(text.data(), static_cast<int>(text.size()), 'L', &content, nullptr);
  const host::HStr* clean = CleanChars(text.data(), content);
  if (clean != nullptr)
    out.append(host::host().kdlgstr(clean));
  else
    out.append(text.data(), static_cast<size_t>(content));
}

void appendColor(std::string& out, const Coloring& col, int32_t classes, int32_t c) {
  out += " RangeColor=";
  if (col.kind == Coloring::kListed) {
    out += col.colors[static_cast<size_t>(c - 1)];
    out += ';';
    return;
  }
  out += "GradientStepper(";
  if (col.kind == Coloring::kTwoColor) {
    out += col.colors[0];
    out += ',';
    out += col.colors[1];
    out += ',';
  } else {
    out += col.ramp;
    out += ":startcolor,";
    out += col.ramp;
    out += ":endcolor,";
  }
  char buf[32];
  int n = std::snprintf(buf, sizeof buf, "%d,%d", classes, c);
  out.append(buf, static_cast<size_t>(n));
  out += ");";
}

// The variable name, as a name literal when any names are allowed (a
// quote inside the name is doubled so that the literal stays whole).
void appendName(std::string& out, const PlotContext& plot, const std::string& name) {
  if (!plotFlag(plot, host::kFlagAnyNames)) {
    out += name;
    return;
  }
  out += '\'';
  for (char ch : name) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  out += "'n";
}

// The breaks of the plot's level type. *openLow and *openHigh: the first
// class reaches down to the smallest value and the last up to the largest
// (values outside the breaks the user gave).
host::Status classBreaks(PlotContext* plot, std::vector<double>* breaks, bool* openLow,
                         bool* openHigh) {
  const int32_t var = plot->responseVarNumber;
  *openLow = *openHigh = false;
  switch (plot->levelType) {
    case Code::LevelInterval: return getEqualIntervalRanges(plot, var, plot->numLevels, breaks);
    case Code::LevelJenks: return getJenksRanges(plot, var, plot->numLevels, breaks);
    case Code::LevelBreaks: return getGivenRanges(plot, var, breaks, openLow, openHigh);
    default: return getQuantileRanges(plot, var, plot->numLevels, breaks);
  }
}

host::Status categorize(PlotContext* plot, int32_t* made) {
  std::vector<double> breaks;
  bool openLow = false, openHigh = false;
  // A response the host cannot sort makes no classes; the layer then
  // shades by the plain response.
  const host::Status sorted = classBreaks(plot, &breaks, &openLow, &openHigh);
  const size_t nb = sorted == host::kOk ? breaks.size() : 0;
  if (nb == 0) return host::kOk;

  const int32_t classes = nb == 1 ? 1 : static_cast<int32_t>(nb - 1);
  plot->numLevels = classes;

  host::VarDesc var;
  if (plot->categorization == nullptr ||
      host::host().xvname(classifiedData(plot), plot->responseVarNumber, &var) != host::kOk)
    return host::kOk;

  const Coloring coloring = chooseColoring(*plot, classes);
  const LabelFormat lf = labelFormat(var);

  const std::string suffix = classNameSuffix(*plot);
  std::string out = "RangeAttrMap name=\"_clrrespmap_" + suffix + "\";";
  for (int32_t c = 1; c <= classes; ++c) {
    const double low = breaks[static_cast<size_t>(c - 1)];
    const double high = nb == 1 ? low : breaks[static_cast<size_t>(c)];
    if (high - low < 0) continue;  // an upside-down class is left out
    // The bounds read back as the very breaks: a value on a break falls in
    // the class that begins there (six digits would move the break).
    // Values outside the breaks the user gave fall in the nearest class:
    // its range reaches to the smallest or largest value.
    out += "Range ";
    out += c == 1 && openLow ? std::string("MIN") : roundTripText(low);
    out += c == classes ? "-" : "-<";
    out += c == classes && openHigh ? std::string("MAX") : roundTripText(high);
    out += " /";
    if (!lf.formatted) {
      out += " DiscreteLabel=";
      if (nb == 1)
        appendf(out, "\"%g\"", unsignedZero(low));
      else
        appendf(out, "\"%g - %g\"", unsignedZero(low), unsignedZero(high));
    } else if (lf.resolved) {
      out += " DiscreteLabel=\"";
      appendFormatted(out, lf, unsignedZero(low));
      if (nb > 1) {
        out += " - ";
        appendFormatted(out, lf, unsignedZero(high));
      }
      out += '"';
    } else {
      out += " DiscreteLabel=";
      appendf(out, "\"%g - %g\"", unsignedZero(low), unsignedZero(high));
    }
    appendColor(out, coloring, classes, c);
  }
  out += "EndRangeAttrMap;";
  out += "RangeAttrVar attrvar=_CLRRESP_" + suffix;
  out += " var=";
  appendName(out, *plot, var.name);
  out += " attrmap=\"_clrrespmap_" + suffix + "\";";
  QV_TRY(plot->categorization->write(out));
  *made = classes;
  return host::kOk;
}

}  // namespace

std::string classNameSuffix(const PlotContext& plot) {
  return plot.regionLayer ? std::to_string(plot.regionLayer->number) : std::string();
}

host::Status createCategorization(PlotContext* plot, int32_t* classes) {
  *classes = 0;
  if (plot == nullptr) return host::kOk;
  host::Status st = host::kOk;
  try {
    st = categorize(plot, classes);
  } catch (const std::bad_alloc&) {
    // The memory message is logged; the layer goes on without classes.
    host::host().xmemmsg();
    *classes = 0;
  }
  rewindResponse(plot);
  return st;
}

}  // namespace qv::module
