// The plot statement frame: dispatch on the statement keyword, the options
// every plot kind shares in their fixed order, the plot's name and its
// registration for the legends.

#include "module/plots/plots.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "module/color/color.h"
#include "module/color/palettes.h"
#include "module/host/messages.h"
#include "module/plots/plotcall.h"
#include "module/text/cleanchars.h"
#include "module/text/textutil.h"

namespace qv::module {

using host::kOk;
using host::Slot;
using host::Status;

namespace plots {

void PlotCall::number(double v) { w(gText(v)); }

void PlotCall::unit(int code) {
  static constexpr const char* kUnits[] = {"", "px", "in", "cm", "mm", "%", "pt"};
  if (code >= 1 && code <= 6) w(kUnits[code]);
}

void PlotCall::color(const Slot& s) {
  char text[8];
  process_color(s.text.data(), static_cast<int32_t>(s.text.size()), text);
  w(std::string_view(text, sizeof text));
}

void PlotCall::graphData() { w("GraphData" + std::to_string(plot->graphDataCounter)); }

namespace {

Kind kindOf(Stmt k) {
  switch (k) {
    case Stmt::Scatter: return Kind::Scatter;
    case Stmt::Series: return Kind::Series;
    case Stmt::Bubble: return Kind::Bubble;
    case Stmt::Text: return Kind::Text;
    case Stmt::Choromap: return Kind::Choromap;
    case Stmt::OpenStreetMap: return Kind::StreetMap;
    case Stmt::EsriMap: return Kind::ImageMap;
    default: return Kind::Unknown;
  }
}

// Writes `text` escaped for a double-quoted template string.
Status escaped(PlotCall& c, std::string_view text) {
  const host::HStr* e = CleanChars(text.data(), static_cast<int>(text.size()));
  if (!e) return host::kNoMemory;
  c.w(host::host().kdlgstr(e));
  return kOk;
}

// " ColorModel=" with a style element, or a list of colors. A region layer
// with response data also hands the colors to the classification.
Status writeColorModel(PlotCall& c) {
  const Slot& cm = c.slot(Opt::ColorModel);
  PlotContext* p = c.plot;
  if (cm.kind == host::kSlotName) {
    c.w(" ColorModel=");
    c.w(cm.text);
    return intern(cm.text, &p->colorModelName);
  }
  if (cm.kind != host::kSlotList) return kOk;
  const bool keep = c.region;
  if (keep && !p->colorModelList) {
    p->colorModelList = host::makeOwned<host::List>(host::host().xobinit(), "collection", "list");
    if (!p->colorModelList) return host::kHostFailure;
  }
  c.w(" ColorModel=(");
  for (const Slot& item : cm.list) {
    char text[8];
    process_color(item.text.data(), static_cast<int32_t>(item.text.size()), text);
    c.w(std::string_view(text, sizeof text));
    c.w(" ");
    if (keep) {
      const host::HStr* h = nullptr;
      QV_TRY(intern(std::string_view(text, sizeof text), &h));
      QV_TRY(p->colorModelList->append(h));
    }
  }
  c.w(")");
  return kOk;
}

// PALETTE= when it is to color the plot: a known palette on a statement
// without COLORMODEL= (which wins, with a warning). An unknown name is
// reported and the default colors stay.
std::optional<PaletteRef> statementPalette(PlotCall& c) {
  const Slot& given = c.slot(Opt::Palette);
  if (!given.present()) return std::nullopt;
  host::Host& h = host::host();
  if (c.has(Opt::ColorModel)) {
    h.xpmlog(kMsgPaletteGivesWay, {"COLORMODEL"});
    return std::nullopt;
  }
  std::optional<PaletteRef> p = findPalette(given.text);
  if (!p) h.xpmlog(kMsgUnknownPalette, {given.text, paletteNamesText()});
  return p;
}

// " ColorModel=(" with the palette's colors, as a color list is written:
// one color for each class of a classified response, the palette's stops
// for a continuous one. A plot with no numeric color response has nothing
// for the palette to color.
Status writePaletteModel(PlotCall& c, const PaletteRef& palette) {
  std::vector<uint32_t> colors;
  if (c.classes > 0) {
    colors = paletteColors(palette, c.classes);
  } else if (c.continuous || (!c.region && c.has(Opt::ColorResponse))) {
    colors = paletteStops(palette);
  } else {
    host::host().xpmlog(kMsgPaletteUnused, {c.keyword});
    return kOk;
  }
  c.w(" ColorModel=(");
  for (const std::string& text : paletteColorTexts(colors)) {
    c.w(text);
    c.w(" ");
  }
  c.w(")");
  return kOk;
}

// The region block of a region layer colored by a palette: the colors go
// before the block, as a listed color model does, but how many there are is
// known only when the block has classified the response; the block is held
// until then.
Status writePaletteRegionBlock(PlotCall& c, const PaletteRef& palette) {
  host::Owned<host::Stream> held =
      host::makeOwned<host::Stream>(host::host().xobinit(), "kdl", "stream_memory");
  if (!held || held->open(true)) return host::kHostFailure;
  host::Stream* out = c.out;
  c.out = held.get();
  const Status st = writeRegionBlock(c);
  c.out = out;
  if (st) return st;
  QV_TRY(writePaletteModel(c, palette));
  std::string text(static_cast<size_t>(std::max<int64_t>(held->length(), 0)), '\0');
  held->read(text.data(), text.size());
  c.w(text);
  return kOk;
}

// " _tipvar%d_" of tip position i (from 0).
std::string tipName(size_t i) {
  char buf[20];
  std::snprintf(buf, sizeof buf, " _tipvar%d_", static_cast<int>(i + 1));
  return buf;
}

bool isAuto(std::string_view item) {
  return item.size() == 4 && upper(item) == "AUTO";
}

Status writeTips(PlotCall& c) {
  const Slot& tip = c.slot(Opt::Tip);
  if (tip.kind != host::kSlotList || tip.list.empty()) return kOk;
  const size_t n = tip.list.size();
  c.w(" rolename=(");
  for (size_t i = 0; i < n; ++i) {
    c.w(tipName(i));
    c.w("=");
    QV_TRY(slotVariable(c, "  ", tip.list[i]));
  }
  c.w(")");
  c.w(" tip=(");
  for (size_t i = 0; i < n; ++i) c.w(tipName(i));
  c.w(")");

  host::Host& h = host::host();
  const Slot& formats = c.slot(Opt::TipFormat);
  if (formats.kind == host::kSlotList) {
    bool open = false;
    for (size_t i = 0; i < std::min(n, formats.list.size()); ++i) {
      const std::string& f = formats.list[i].text;
      if (f.find('.') == std::string::npos) {
        if (!isAuto(f)) h.xpmlog(kMsgNotAFormat, {f});
        continue;
      }
      if (!open) c.w(" tipformat=(");
      open = true;
      c.w(tipName(i));
      c.w("=");
      c.w(f);
    }
    if (open) c.w(")");
  }
  const Slot& labels = c.slot(Opt::TipLabel);
  if (labels.kind == host::kSlotList) {
    bool open = false;
    for (size_t i = 0; i < std::min(n, labels.list.size()); ++i) {
      const Slot& l = labels.list[i];
      if (l.kind != host::kSlotText) {
        if (!isAuto(l.text)) h.xpmlog(kMsgNotAFormat, {l.text});
        continue;
      }
      if (!open) c.w(" tiplabel=(");
      open = true;
      c.w(tipName(i));
      c.w("=\"");
      QV_TRY(escaped(c, l.text));
      c.w("\"");
    }
    if (open) c.w(")");
  }
  return kOk;
}

Status writeLegendLabel(PlotCall& c) {
  const Slot& label = c.slot(Opt::LegendLabel);
  std::string text;
  bool escape = true;
  if (label.present()) {
    text = label.text;
  } else if (c.hasDefaultLabel) {
    text = c.defaultLabel;
  } else if (c.region) {
    text = host::host().xpmstr(kMsgRegionsLabel).substr(0, 256);
    text.resize(static_cast<size_t>(std::max(0, wzstrip(text.data(), int(text.size())))));
    if (text.empty()) return kOk;
    escape = false;
  } else {
    return kOk;
  }
  c.w(" LegendLabel=\"");
  if (escape) {
    QV_TRY(escaped(c, text));
  } else {
    c.w(text);
  }
  c.w("\"");
  return kOk;
}

// The plot's name and its entry in the plot-name or continuous-legend table.
Status writeName(PlotCall& c) {
  PlotContext* p = c.plot;
  std::string name;
  const Slot& given = c.slot(Opt::Name);
  if (given.present()) {
    name = given.text;
    c.w(" name=\"");
  } else if (!c.mapLayer) {
    name = c.keyword;
    QV_TRY(defaultName(&name, p));
    c.w(" NAME=\"");
  } else {
    return kOk;
  }
  // Written as held, so that legends name it with the same bytes; a double
  // quote in it would end the template string, so such a name is escaped.
  const host::HStr* written = CleanName(name.data(), static_cast<int>(name.size()));
  if (!written) return host::kNoMemory;
  c.w(host::host().kdlgstr(written));
  c.w("\"");
  // Legends find a plot by its name, in any letter case, and take the first
  // plot of that name: a later plot of the same name is drawn, but no legend
  // can name it, so it stays out of the tables the legends read.
  if (!p->namesTaken.insert(upper(name)).second) {
    host::host().xpmlog(kMsgNameTaken, {name, c.keyword});
    return kOk;
  }
  if (c.continuous) {
    if (!p->contLegends) return kOk;
    const host::HStr* label = p->responseLabel ? p->responseLabel : p->responseName;
    return p->contLegends->put(name, label);
  }
  if (!p->plotNames) return kOk;
  const host::HStr* kind = nullptr;
  QV_TRY(intern(c.grouped ? "<Group>" : "<Empty>", &kind));
  return p->plotNames->put(name, kind);
}

constexpr const char* kLabelPositions[] = {"Top",      "Bottom",     "Left",
                                           "Right",    "TopLeft",    "TopRight",
                                           "BottomLeft", "BottomRight", "Center"};

// The head: statement name, provider or data, and the leading operands.
Status writeHead(PlotCall& c) {
  PlotContext* p = c.plot;
  const StatementInfo& info = statementInfo(statementKind(c.node));
  c.w(info.templateKeyword);
  c.plotClass = static_cast<int>(info.plotClass);
  switch (c.kind) {
    case Kind::Scatter: case Kind::Series: case Kind::Bubble: case Kind::Text: break;
    case Kind::Choromap:
      c.region = true;
      if (const RegionLayerData* layer = p->regionLayer) {
        p->varData = layer->data;
        p->varColumns = layer->columns;
      } else {
        p->varData = p->respData ? p->respData : p->mapData;
        p->varColumns = p->respData ? p->respColumns : p->mapColumns;
      }
      c.w(" mapProvider=dataset");
      return kOk;
    case Kind::StreetMap:
      c.mapLayer = true;
      c.w(" mapProvider=_OPENSTREETMAPPROVIDER_");
      return kOk;
    case Kind::ImageMap:
      c.mapLayer = true;
      c.w(" mapProvider=_ESRIMAPPROVIDER_");
      return kOk;
    case Kind::Unknown: return kOk;
  }
  p->varData = p->plotData;
  p->varColumns = p->plotColumns;
  if (c.has(Opt::X)) {
    QV_TRY(slotVariable(c, " X=", c.slot(Opt::X)));
  }
  if (c.has(Opt::Y)) {
    QV_TRY(slotVariable(c, " Y=", c.slot(Opt::Y)));
  }
  if (c.kind != Kind::Bubble || !c.has(Opt::Size)) return kOk;
  // The bubble size must be a numeric variable of the plot data.
  const Slot& size = c.slot(Opt::Size);
  host::Host& h = host::host();
  host::VarDesc d;
  int number = size.var.number;
  const bool byNumber = number >= 0 && (!size.var.dataSet || size.var.dataSet == p->varData);
  bool found = p->varData && (byNumber || h.xvfind(p->varData, size.var.name, &number) == kOk) &&
               h.xvname(p->varData, number, &d) == kOk;
  if (!found) {
    std::string lib, mem;
    getDSinfo(p->varData, &lib, &mem);
    h.xpmlog(kMsgNoSizeNumber, {number + 1, lib, mem});
    return host::kUserError;
  }
  if (d.type == host::kCharacter) {
    h.xpmlog(kMsgSizeNotNumeric, {d.name});
    return host::kUserError;
  }
  return processVariable(c.out, " SIZE=", {}, number, p);
}

// GROUP=: the group variable and its reference.
Status writeGroup(PlotCall& c) {
  const Slot& g = c.slot(Opt::Group);
  if (!g.present()) return kOk;
  PlotContext* p = c.plot;
  host::VarDesc d;
  QV_TRY(describeVar(p->varData, g, " Group=", &d));
  QV_TRY(intern(d.name, &p->groupVarName));
  if (p->groupVarNumber == 0) p->groupVarNumber = d.number + 1;
  return groupReference(c, g, d, " Group=");
}

// COLORRESPONSE= of a data plot: a continuous color, through a range
// attribute map when RATTRID= names one.
Status writeColorResponse(PlotCall& c) {
  const Slot& v = c.slot(Opt::ColorResponse);
  if (c.region || !v.present()) return kOk;
  PlotContext* p = c.plot;
  host::VarDesc d;
  QV_TRY(describeVar(p->varData, v, " ColorResponse=", &d));
  if (d.type == host::kCharacter) {
    host::host().xpmlog(kMsgNotNumeric, {"COLORRESPONSE"});
    return host::kOptionRefused;
  }
  const std::string instance = attrMapInstance(c, true, d.name);
  if (!instance.empty()) {
    QV_TRY(slotVariable(c, " ", v));
    c.w(" colorResponse=");
    c.w(instance);
    QV_TRY(bindAttrMap(c, true, d.name, instance));
  } else if (Status st = slotVariable(c, " ColorResponse=", v)) {
    return st;
  }
  QV_TRY(intern(d.name, &p->responseName));
  p->responseLabel = nullptr;
  if (!d.label.empty()) {
    QV_TRY(intern(d.label, &p->responseLabel));
  }
  c.continuous = true;
  return kOk;
}

// DATALABEL=variable. A region layer's label variable may be one of the map
// data when the response data lacks it: its column is the map data's then.
Status writeDataLabel(PlotCall& c) {
  const Slot& label = c.slot(Opt::DataLabel);
  if (!label.isVariable()) return kOk;
  PlotContext* p = c.plot;
  const bool ofMap = c.region && label.var.dataSet && label.var.dataSet == p->mapData &&
                     p->varData != p->mapData;
  if (!ofMap) return slotVariable(c, " DataLabel=", label);
  host::DataSet* data = p->varData;
  host::List* columns = p->varColumns;
  p->varData = p->mapData;
  p->varColumns = p->mapColumns;
  const Status st = slotVariable(c, " DataLabel=", label);
  p->varData = data;
  p->varColumns = columns;
  return st;
}

// Writes the statement; its options come in one fixed order, which is the
// order the template reads them in.
Status translate(PlotCall& c, int primary) {
  PlotContext* p = c.plot;
  const host::Statement& node = c.node;
  c.kind = kindOf(statementKind(node));
  if (c.kind == Kind::Unknown) return kOk;
  c.keyword = node.keyword.substr(0, 32);
  c.keyword.resize(
      static_cast<size_t>(std::max(0, wzstrip(c.keyword.data(), int(c.keyword.size())))));
  p->regionLayer = c.kind == Kind::Choromap ? regionLayerOf(*p, node) : nullptr;
  if (p->dAttrMapUsable && c.slot(Opt::AttrId).present()) c.attrId = c.slot(Opt::AttrId).text;
  if (p->rAttrMapUsable && c.slot(Opt::RAttrId).present()) c.rattrId = c.slot(Opt::RAttrId).text;

  QV_TRY(writeHead(c));

  // The TEXT= variable; its label (or name) is the default legend label.
  if (c.kind == Kind::Text && c.has(Opt::TextVar)) {
    const Slot& t = c.slot(Opt::TextVar);
    host::VarDesc d;
    QV_TRY(describeVar(p->varData, t, " text=", &d));
    QV_TRY(slotVariable(c, " text=", t));
    c.defaultLabel = (d.label.empty() ? d.name : d.label).substr(0, 256);
    c.hasDefaultLabel = true;
  }
  // Options follow; a data plot names its data.
  if (!c.mapLayer) {
    c.w(" /");
    if (p->varData && p->varData == p->plotData) c.w(" dataID=PLOTDATA");
  }
  // A region layer starts its classification settings afresh, so that one
  // CHOROMAP statement's levels and colors do not carry over to the next.
  if (c.region) {
    p->numLevels = 0;
    p->levelType = 0;
    p->colorModelName = nullptr;
    if (p->colorModelList) p->colorModelList->clear();
    p->paletteName = nullptr;
    p->breaks.clear();
    p->classData = nullptr;
    p->classRegionVar = -1;
  }
  const std::optional<PaletteRef> palette = statementPalette(c);
  QV_TRY(writeColorModel(c));
  // Region layer: data, detail, keys and response.
  if (c.region && palette) {
    QV_TRY(intern(c.slot(Opt::Palette).text, &p->paletteName));
    QV_TRY(writePaletteRegionBlock(c, *palette));
  } else if (c.region) {
    QV_TRY(writeRegionBlock(c));
  } else if (palette) {
    QV_TRY(writePaletteModel(c, *palette));
  }
  if (c.kind == Kind::Scatter) c.w(" subpixel=off");
  if (c.flag(Flag::NoMissingGroup)) c.w(" includemissinggroup=false");
  if (c.kind == Kind::Series)
    c.w(c.flag(Flag::SmoothConnect) ? " smoothconnect=true" : " smoothconnect=false");
  if (primary) c.w(" primary=true");
  if (c.kind == Kind::Series && !c.flag(Flag::NoBreak)) c.w(" break=true");
  if (c.has(Opt::DiscreteOffset)) {
    const double v = c.slot(Opt::DiscreteOffset).number;
    if (v > 0.5 || v < -0.5) {
      host::host().xpmlog(kMsgDiscreteOffset);
      return host::kOptionRefused;
    }
    c.w(" discreteOffset=");
    c.number(v);
  }
  if (c.flag(Flag::TipNone)) c.w(" tip=none");
  QV_TRY(writeTips(c));
  QV_TRY(writeGroup(c));
  QV_TRY(writeAttributeBlocks(c));
  if (c.has(Opt::Url)) {
    QV_TRY(slotVariable(c, " URL=", c.slot(Opt::Url)));
  }
  QV_TRY(writeLegendLabel(c));
  QV_TRY(writeColorResponse(c));
  QV_TRY(writeDataLabel(c));
  QV_TRY(writeName(c));
  // Kind-specific options come after the name.
  QV_TRY(writeTail(c));
  c.w(";");
  if (c.st) return c.st;
  // The next plot takes the next style element.
  if (c.defaults()) ++p->graphDataCounter;
  return kOk;
}

}  // namespace

const char* labelPositionName(int code) {
  return code >= 2 && code <= 10 ? kLabelPositions[code - 2] : nullptr;
}

}  // namespace plots

Status parsePlot(const host::Statement& node, PlotContext* plot, host::Stream* out,
                 int primary) {
  if (!plot || !out) return host::kHostFailure;
  plots::PlotCall c(node, plot, out);
  const Status st = plots::translate(c, primary);
  return st ? st : c.st;
}

bool ownsMapData(const host::Statement& node) {
  return statementKind(node) == Stmt::Choromap &&
         node.slot(Opt::MapData).kind == host::kSlotDataSet;
}

bool isCoordinateName(std::string_view name) {
  for (std::string_view c : {"LAT", "LATITUDE", "LONG", "LON", "LONGITUDE"})
    if (qv::sameNoCase(name, c)) return true;
  return false;
}

}  // namespace qv::module
