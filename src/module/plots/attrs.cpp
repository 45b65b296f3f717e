// Visual attribute options: each block is an option name, a style element
// (the user's, or "GraphData%d" when attributes cycle) and a list of
// overrides. The blocks come in a fixed order inside the statement.

#include "module/host/messages.h"
#include "module/plots/plotcall.h"
#include "module/text/cleanchars.h"
#include "module/text/textutil.h"

namespace qv::module::plots {

using host::kOk;
using host::Slot;
using host::Status;

namespace {

bool given(const Slot& group, int key) { return group.attr(key).present(); }

bool hasStyle(const Slot& group) { return group.present() && !group.text.empty(); }

// The option text and the style element of a block that is written.
void head(PlotCall& c, std::string_view option, const Slot& group, bool defaults) {
  c.w(option);
  if (hasStyle(group)) c.w(group.text);
  else if (defaults) c.graphData();
}

void lineOverrides(PlotCall& c, const Slot& g) {
  c.w("(");
  if (given(g, host::kAttrColor)) {
    c.w(" Color=");
    c.color(g.attr(host::kAttrColor));
  }
  if (given(g, host::kAttrPattern)) {
    c.w(" Pattern=");
    c.w(std::to_string(static_cast<long>(g.attr(host::kAttrPattern).number)));
  }
  if (given(g, host::kAttrThickness)) {
    c.w(" Thickness=");
    c.numberUnit(g.attr(host::kAttrThickness));
  }
  c.w(")");
}

// A marker symbol goes into the template as written, so only a single word
// (no blank, quote, parenthesis, ';', '/' or '=') can stand there; another
// is left out with a warning and the marker keeps its default symbol.
bool symbolUsable(const PlotCall& c, const Slot& g) {
  if (!given(g, host::kAttrSymbol)) return false;
  const std::string& s = g.attr(host::kAttrSymbol).text;
  const bool word = singleWord(s);
  if (!word) host::host().xpmlog(kMsgSymbolNotWord, {s, c.keyword});
  return word;
}

void markerBlock(PlotCall& c, bool defaults) {
  const Slot& g = c.slot(Opt::MarkerAttrs);
  const bool symbol = symbolUsable(c, g);
  const bool overrides = given(g, host::kAttrColor) || symbol || given(g, host::kAttrSize);
  if (!overrides && !hasStyle(g)) {
    if (defaults) {
      c.w(" Markerattrs=");
      c.graphData();
    }
    return;
  }
  head(c, " Markerattrs=", g, defaults);
  if (!overrides) return;
  c.w("(");
  if (given(g, host::kAttrColor)) {
    c.w(" Color=");
    c.color(g.attr(host::kAttrColor));
  }
  if (symbol) {
    c.w(" Symbol=");
    c.w(g.attr(host::kAttrSymbol).text);
  }
  if (given(g, host::kAttrSize)) {
    c.w(" Size=");
    c.numberUnit(g.attr(host::kAttrSize));
  }
  c.w(")");
}

// LINEATTRS=; a region layer repeats it for its empty regions. A style
// element alone does not make the block.
void lineBlock(PlotCall& c, bool defaults) {
  const std::string_view option = c.plotClass == kLine ? " Lineattrs=" : " OutLineAttrs=";
  const Slot& g = c.slot(Opt::LineAttrs);
  const bool overrides = given(g, host::kAttrColor) || given(g, host::kAttrPattern) ||
                         given(g, host::kAttrThickness);
  if (!overrides) {
    if (defaults) {
      c.w(option);
      c.graphData();
    }
    return;
  }
  head(c, option, g, defaults);
  lineOverrides(c, g);
  if (!c.region) return;
  head(c, " EmptyOutLineAttrs=", g, defaults);
  lineOverrides(c, g);
}

// OUTLINEATTRS= of TEXT. Returns whether the block was written.
bool textOutlineBlock(PlotCall& c, bool defaults) {
  const Slot& g = c.slot(Opt::OutlineAttrs);
  const bool overrides = given(g, host::kAttrColor) || given(g, host::kAttrThickness);
  if (!overrides && !hasStyle(g)) return false;
  head(c, " OutLineAttrs=", g, defaults);
  if (!overrides) return true;
  c.w("(");
  if (given(g, host::kAttrColor)) {
    c.w(" Color=");
    c.color(g.attr(host::kAttrColor));
  }
  if (given(g, host::kAttrThickness)) {
    c.w(" Thickness=");
    c.numberUnit(g.attr(host::kAttrThickness));
  }
  c.w(")");
  return true;
}

constexpr const char* kJustify[] = {"Left", "Right", "Center"};  // codes 1, 2, 3

// TEXTATTRS= (TEXT) or DATALABELATTRS=; after TEXT's override list, the
// split options when SPLITCHAR= is given.
Status textBlock(PlotCall& c, bool defaults) {
  const bool text = c.kind == Kind::Text;
  const std::string_view option = text ? " TextAttrs=" : " DataLabelAttrs=";
  const Slot& g = c.slot(text ? Opt::TextAttrs : Opt::DataLabelAttrs);
  const bool overrides = given(g, host::kAttrColor) || given(g, host::kAttrFamily) ||
                         given(g, host::kAttrSize) || given(g, host::kAttrWeight) ||
                         given(g, host::kAttrStyle);
  if (!overrides && !hasStyle(g)) {
    if (defaults) {
      c.w(option);
      c.graphData();
    }
    return kOk;
  }
  head(c, option, g, defaults);
  if (!overrides) return kOk;
  c.w("(");
  if (given(g, host::kAttrColor)) {
    c.w(" Color=");
    c.color(g.attr(host::kAttrColor));
  }
  if (given(g, host::kAttrFamily)) {
    // The family stands between double quotes: escape what would end them.
    const std::string& family = g.attr(host::kAttrFamily).text;
    const host::HStr* e = CleanChars(family.data(), static_cast<int>(family.size()));
    if (!e) return host::kNoMemory;
    c.w(" Family=\"");
    c.w(host::host().kdlgstr(e));
    c.w("\"");
  }
  if (given(g, host::kAttrSize)) {
    c.w(" Size=");
    c.numberUnit(g.attr(host::kAttrSize));
  }
  if (given(g, host::kAttrWeight)) {
    c.w(" Weight=");
    c.w(g.attr(host::kAttrWeight).number == 2 ? "bold" : "normal");
  }
  if (given(g, host::kAttrStyle)) {
    c.w(" Style=");
    c.w(g.attr(host::kAttrStyle).number == 2 ? "italic" : "normal");
  }
  c.w(" )");
  if (!text || !c.has(Opt::SplitChar)) return kOk;
  c.w(" Splitpolicy=splitalways");
  return writeSplitOptions(c);
}

void fillBlock(PlotCall& c, bool defaults) {
  const Slot& g = c.slot(Opt::FillAttrs);
  // A region layer shaded by a response takes its fills from it; only a
  // region layer of its own data without one is filled by FILLATTRS=.
  if (c.region && g.present() &&
      (!c.plot->regionLayer || c.slot(Opt::Response).isVariable())) {
    host::host().xpmlog(kMsgFillOfOwnMapData);
    return;
  }
  const bool overrides = given(g, host::kAttrColor) || given(g, host::kAttrTransparency);
  if (!overrides && !hasStyle(g)) {
    if (defaults) {
      c.w(" FillAttrs=");
      c.graphData();
    }
    return;
  }
  head(c, " FillAttrs=", g, defaults);
  if (!overrides) return;
  c.w("(");
  if (given(g, host::kAttrColor)) {
    c.w("Color=");
    c.color(g.attr(host::kAttrColor));
  }
  if (given(g, host::kAttrTransparency)) {
    c.w(" Transparency=");
    c.number(g.attr(host::kAttrTransparency).number);
  }
  c.w(")");
}

}  // namespace

Status writeSplitOptions(PlotCall& c) {
  if (c.has(Opt::SplitChar)) {
    const std::string& ch = c.slot(Opt::SplitChar).text;
    const host::HStr* e = CleanChars(ch.data(), static_cast<int>(ch.size()));
    if (!e) return host::kNoMemory;
    c.w(" SplitChar=\"");
    c.w(host::host().kdlgstr(e));
    c.w("\"");
  }
  if (c.flag(Flag::SplitCharNoDrop)) c.w(" SplitCharDrop=false");
  if (c.has(Opt::SplitJustify)) {
    const int code = static_cast<int>(c.slot(Opt::SplitJustify).number);
    if (code >= 1 && code <= 3) {
      c.w(" SplitJustify=");
      c.w(kJustify[code - 1]);
    }
  }
  return kOk;
}

Status writeAttributeBlocks(PlotCall& c) {
  const bool defaults = c.defaults();
  if (c.plotClass == kPoint || c.plotClass == kLine) markerBlock(c, defaults);
  if (c.plotClass == kLine || c.plotClass == kArea) lineBlock(c, defaults);
  const bool outline = c.kind == Kind::Text && textOutlineBlock(c, defaults);
  if (c.plotClass == kArea && !outline && defaults) {
    c.w(" OutLineAttrs=");
    c.graphData();
  }
  if (c.has(Opt::DataLabelPos)) {
    if (const char* name = labelPositionName(static_cast<int>(c.slot(Opt::DataLabelPos).number))) {
      c.w(" dataLabelPosition=");
      c.w(name);
    }
  }
  QV_TRY(textBlock(c, defaults));
  if (c.kind == Kind::Text && c.flag(Flag::Strip)) c.w(" strip=true");
  if (c.kind == Kind::Bubble || c.kind == Kind::Text) {
    const bool outlined = c.flag(Flag::Outline), fill = c.flag(Flag::Fill),
               nofill = c.flag(Flag::NoFill);
    if (outlined || fill || nofill) {
      c.w(" Display=(");
      if (outlined || nofill) c.w(" Outline");
      if (fill) c.w(" Fill");
      c.w(" )");
    }
  }
  if (c.has(Opt::Transparency)) {
    c.w(" DataTransparency=");
    c.number(c.slot(Opt::Transparency).number);
  }
  if (c.plotClass == kArea) fillBlock(c, defaults);
  return kOk;
}

}  // namespace qv::module::plots
