// The step driver: one call of the procedure's entry runs one PROC TAVLO
// step from the statement list to the template streams, and releases every
// host object it made on every way out.

#include "module/entry/driver.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "module/attrmaps/attrmaps.h"
#include "module/entry/entry.h"
#include "module/entry/id_hint.h"
#include "module/grammar/grammar.h"
#include "module/host/messages.h"
#include "module/legends/legends.h"
#include "module/plots/plots.h"
#include "module/template/assembly.h"
#include "module/template/bygroup.h"
#include "module/template/cycle.h"
#include "module/template/handoff.h"
#include "module/template/titlefoot.h"
#include "module/text/cleanchars.h"
#include "module/text/textutil.h"

namespace qv::module {

using host::kHostFailure;
using host::kOk;
using host::kUserError;
using host::Slot;
using host::Statement;
using host::Status;

// --- Prescan ----------------------------------------------------------------------

namespace {

// Takes a legend position; TOP and BOTTOM take their corners with them.
void takePosition(Prescan* p, int code) {
  p->positions[code] = true;
  if (code == Code::Top) {
    p->positions[Code::TopRight] = p->positions[Code::TopLeft] = true;
  } else if (code == Code::Bottom) {
    p->positions[Code::BottomRight] = p->positions[Code::BottomLeft] = true;
  }
}

// The position of a gradient legend that names none, or whose own is taken.
int freePosition(Prescan* p) {
  if (!p->positions[Code::Right]) {
    p->positions[Code::Bottom] = true;
    return Code::Bottom;
  }
  if (!p->positions[Code::Bottom]) {
    takePosition(p, Code::Bottom);
    return Code::Bottom;
  }
  if (!p->positions[Code::Top]) {
    takePosition(p, Code::Top);
    return Code::Top;
  }
  p->positions[Code::Left] = true;
  return Code::Left;
}

void prescanGradLegend(Statement& node, Prescan* p) {
  host::Host& h = host::host();
  if (p->gradLegends >= kMaxGradLegends) {
    h.xpmlog(kMsgTooManyGradLegends);
    return;
  }
  ++p->gradLegends;
  Slot& pos = node.slot(Opt::LegendPosition);
  int code = pos.present() ? static_cast<int>(pos.number) : 0;
  if (code >= 1 && code <= 9) {
    if (!p->positions[code]) {
      takePosition(p, code);
      return;
    }
    h.xpmlog(kMsgGradPositionTaken, {code});
  }
  pos.setEnum(freePosition(p));
}

}  // namespace

void prescanStatements(host::StatementList& list, Prescan* out) {
  Prescan p;
  for (Statement& node : list.nodes) {
    const Stmt k = statementKind(node);
    switch (k) {
      case Stmt::Choromap:
        p.mapMark = true;
        if (ownsMapData(node)) p.regionLayers.push_back(&node);
        else if (!p.choromap || node.has(Opt::Response)) p.choromap = &node;
        break;
      case Stmt::OpenStreetMap: p.tileMark |= 2; break;
      case Stmt::EsriMap: p.tileMark |= 4; break;
      case Stmt::KeyLegend:
        ++p.keyLegends;
        p.autoLegend = false;
        break;
      case Stmt::GradLegend:
        p.autoLegend = false;
        prescanGradLegend(node, &p);
        break;
      default:
        if (isPlotStatement(k)) {
          p.plotMark = true;
          if (k == Stmt::Text) p.textMark = true;
        }
        break;
    }
  }
  *out = p;
}

// --- Translators --------------------------------------------------------------------

StepTranslators::StepTranslators()
    : plot(&parsePlot), legend(&parseLegend), gradLegend(&parseGradLegend) {}

StepTranslators& stepTranslators() {
  static StepTranslators translators;
  return translators;
}

// --- The step -------------------------------------------------------------------------

namespace {

constexpr int kStreamCount = kTemplateStreamCount;

// The lookup tables of the plot context, made together.
constexpr host::AssocArray* PlotContext::*kTables[] = {
    &PlotContext::plotNames,     &PlotContext::contLegends,   &PlotContext::defaultNames,
    &PlotContext::dAttrMapIds,   &PlotContext::rAttrMapIds,   &PlotContext::dAttrMapUsage,
    &PlotContext::rAttrMapUsage, &PlotContext::attrVars,      &PlotContext::valueLists};

constexpr std::string_view kNlDecSeparator = "NLDECSEPARATOR";
constexpr int kVarNameSetting = 4429;  // the host's variable-name rule

// Gives a block of host memory back.
struct HostFree {
  host::Host* h;
  void operator()(char* block) const { h->vmfree(block); }
};

// Everything one step holds. Every host object it makes is owned by the step
// and released when the step goes, whatever happened, the last made first;
// endStep only puts the host's settings back.
struct Step {
  explicit Step(host::Host& host) : h(host), text(nullptr, HostFree{&host}) {}
  ~Step() {
    while (!owned.empty()) owned.pop_back();
  }
  host::Host& h;
  PlotContext plot;
  ParseWork work;
  host::StatementList list;
  Statement* proc = nullptr;
  Prescan scan;
  host::ObjectFactory* factory = nullptr;
  std::vector<host::Owned<host::Object>> owned;  // what make() made, in order
  host::Stream* streams[kStreamCount] = {};
  host::AssocArray* byTexts = nullptr;  // only when BY groups are in effect
  host::DataSet* dAttrMap = nullptr;
  host::DataSet* rAttrMap = nullptr;

  bool nlDecWasOn = false;   // NLDECSEPARATOR to switch on again at the end
  bool anyNames = false;     // the host allows any variable names
  bool sequential = false;   // an input data set can be read only once
  bool autoLegend = false;
  bool finished = false;     // the step ended early without an error

  std::string mapId;   // map identifier variable ("" without a region layer)
  std::string respId;  // response identifier variable ("" when none)
  std::string lonName, latName;
  const host::HStr* plotCs = nullptr;  // escaped PLOTCS= and MAPCS=
  const host::HStr* mapCs = nullptr;
  std::string provider;  // map provider of the tile layer
  std::string url;       // ESRIMAP URL=
  int dynamicValues = 0;
  ByInfo byInfo;

  // Rendering.
  RendererSettings renderer;             // put back at the end of the step
  std::unique_ptr<char, HostFree> text;  // the finished template (host memory)
  int64_t textLength = 0;
  host::Template* compiled = nullptr;
  host::DataCollection* collection = nullptr;
  host::DataSource* sources[2] = {};     // plot data, response data
};

// --- Small helpers ---

// A host service failed: report its code; the step ends with 112.
Status serviceFailed(Step& s, Status code) {
  s.h.xprrlog(code);
  return kHostFailure;
}

Status info(Step& s, host::DataSet* ds, int item, int64_t* out) {
  *out = 0;
  Status st = s.h.xoinfo(ds, item, out);
  return st ? serviceFailed(s, st) : kOk;
}

host::DataSet* dataSetOption(const Statement& proc, Opt o) {
  const Slot& slot = proc.slot(o);
  return slot.kind == host::kSlotDataSet ? slot.dataSet : nullptr;
}

// The MAPDATA= data sets of the CHOROMAP statements that have their own.
std::vector<host::DataSet*> layerData(const host::StatementList& list) {
  std::vector<host::DataSet*> out;
  for (const Statement& node : list.nodes)
    if (statementKind(node) == Stmt::Choromap && ownsMapData(node))
      out.push_back(dataSetOption(node, Opt::MapData));
  return out;
}

std::string dataSetName(Step& s, host::DataSet* ds) {
  return s.h.dsLibrary(ds) + "." + s.h.dsMember(ds);
}

// The data set's spelling of variable `name` in *found; false when absent.
bool findVariable(Step& s, host::DataSet* ds, std::string_view name, std::string* found) {
  int number = -1;
  if (s.h.xvfind(ds, name, &number) != kOk) return false;
  host::VarDesc d;
  if (s.h.xvname(ds, number, &d) != kOk || d.name.empty()) d.name = std::string(name);
  *found = d.name;
  return true;
}

bool hasVariable(Step& s, host::DataSet* ds, std::string_view name) {
  int number = -1;
  return s.h.xvfind(ds, name, &number) == kOk;
}

// Observations the step will read: the stored count when it is known
// without reading and no selection applies, else the selected count; cut to
// the OBS= limit. *stored tells which count it was.
Status observationCount(Step& s, host::DataSet* ds, int64_t* count, bool* stored) {
  int64_t selecting = 0, known = 0, limit = -1;
  QV_TRY(info(s, ds, 35, &selecting));
  QV_TRY(info(s, ds, 28, &known));
  *stored = selecting == 0 && known != 0;
  QV_TRY(info(s, ds, *stored ? 3 : 24, count));
  QV_TRY(info(s, ds, 41, &limit));
  if (limit >= 0 && limit < *count) *count = limit;
  return kOk;
}

// Makes a host object of class `cls` that must be a T.
template <class T>
Status make(Step& s, std::string_view ns, std::string_view cls, T** out,
            std::string_view arg = {}) {
  host::Object* o = s.factory->create(ns, cls, arg);
  T* typed = dynamic_cast<T*>(o);
  if (!typed) {
    if (o) s.factory->release(o);
    return serviceFailed(s, kHostFailure);
  }
  s.owned.emplace_back(typed, host::Release<host::Object>{s.factory});
  *out = typed;
  return kOk;
}

Status makeDataObject(Step& s, host::DataSet* ds, std::string_view name,
                      host::DataObject** out) {
  QV_TRY(make(s, "kdl", "data", out));
  Status st = (*out)->setDataSet(ds, name);
  return st ? serviceFailed(s, st) : kOk;
}

// Escapes a PLOTCS= or MAPCS= text of `node` for the template.
Status escapeCoordinateSystem(Step& s, const Statement& node, Opt o, std::string_view option,
                              const host::HStr** out) {
  const Slot& slot = node.slot(o);
  if (!slot.present()) return kOk;
  *out = CleanChars(slot.text.data(), static_cast<int>(slot.text.size()));
  if (!*out) {
    s.h.xpmlog(kMsgTextUnprepared, {option});
    return kUserError;
  }
  s.dynamicValues += 2;
  return kOk;
}

// --- Step sections, in order ---

Status startStep(Step& s) {
  QV_TRY(xinit(s.work));
  if (!validCRenderPlatform()) {
    s.h.xpmlog(kMsgPlatform, {"TAVLO"});
    return kUserError;
  }
  s.nlDecWasOn = s.h.xoptbgt(kNlDecSeparator);
  if (s.nlDecWasOn) s.h.xoptbst(kNlDecSeparator, false);
  std::string rule;
  if (Status st = s.h.xyrcgef(kVarNameSetting, &rule)) return serviceFailed(s, st);
  s.anyNames = rule == "ANY";
  return kOk;
}

Status parseStatements(Step& s) {
  tavlog(s.work);
  QV_TRY(xsparse(s.work, s.work.traceFlags, &s.list));
  // The parser has reported every error it counted.
  if (s.list.errors > 0) return kUserError;
  if (s.list.empty()) {
    s.finished = true;
    return kOk;
  }
  s.proc = s.list.first();
  if (statementKind(*s.proc) != Stmt::Tavlo) return serviceFailed(s, kHostFailure);
  return kOk;
}

Status checkInputs(Step& s) {
  PlotContext& plot = s.plot;
  plot.plotData = dataSetOption(*s.proc, Opt::PlotData);
  plot.mapData = dataSetOption(*s.proc, Opt::MapData);
  plot.respData = dataSetOption(*s.proc, Opt::MapRespData);
  s.dAttrMap = dataSetOption(*s.proc, Opt::DAttrMap);
  s.rAttrMap = dataSetOption(*s.proc, Opt::RAttrMap);
  std::vector<host::DataSet*> inputs = {plot.mapData, plot.respData, plot.plotData};
  const std::vector<host::DataSet*> layers = layerData(s.list);
  inputs.insert(inputs.end(), layers.begin(), layers.end());
  if (std::all_of(inputs.begin(), inputs.end(), [](host::DataSet* ds) { return !ds; })) {
    s.h.xpmlog(kMsgNoDataSet);
    return kHostFailure;
  }
  for (host::DataSet* ds : inputs) {
    if (!ds) continue;
    int64_t once = 0;
    QV_TRY(info(s, ds, 159, &once));
    if (once != 0) {
      s.sequential = true;
      break;
    }
  }
  s.factory = s.h.xobinit();
  if (!s.factory) return serviceFailed(s, kHostFailure);
  return make(s, kManagerNamespace, kManagerClass, &plot.manager, s.sequential ? "0" : "1");
}

Status prescan(Step& s) {
  prescanStatements(s.list, &s.scan);
  const Prescan& p = s.scan;
  if (!p.mapMark && p.tileMark == 0) {
    s.h.xpmlog(kMsgNoMapStatement);
    return kUserError;
  }
  if (p.tileMark != 0 && !p.mapMark && !p.plotMark) {
    s.h.xpmlog(kMsgTileAlone);
    return kUserError;
  }
  s.autoLegend = p.autoLegend && (p.plotMark || p.mapMark) &&
                 !s.proc->flag(Flag::NoAutoLegend);
  return kOk;
}

// The region layers refer to the map data by this catalogued name.
std::string mapObjectName(Step& s) {
  std::string name = s.h.xpmstr(kMsgMapObjectName).substr(0, 25);
  name.resize(static_cast<size_t>(std::max(0, wzstrip(name.data(), static_cast<int>(name.size())))));
  return name.empty() ? std::string("__MAP__") : name;
}

Status checkResponseData(Step& s) {
  PlotContext& plot = s.plot;
  if (!plot.respData) return kOk;
  if (!s.scan.choromap) {
    // Only the step's own region layer reads the response data.
    s.h.xpmlog(s.scan.mapMark ? kMsgResponseDataNoLayer : kMsgResponseDataUnused);
    plot.respData = nullptr;
    return kOk;
  }
  if (!s.scan.choromap->has(Opt::Response)) {
    s.h.xpmlog(kMsgResponseUnused, {s.h.dsLibrary(plot.respData), s.h.dsMember(plot.respData)});
    plot.respData = nullptr;
    return kOk;
  }
  int64_t count = 0;
  bool stored = false;
  QV_TRY(observationCount(s, plot.respData, &count, &stored));
  if (count == 0) {
    s.h.xpmlog(kMsgResponseDataEmpty);
    return kUserError;
  }
  return makeDataObject(s, plot.respData, "RESPONSEDATA", &plot.respDataObject);
}

Status checkPlotData(Step& s) {
  PlotContext& plot = s.plot;
  if (!plot.plotData) return kOk;
  if (!s.scan.plotMark) {
    s.h.xpmlog(kMsgPlotDataUnused);
    plot.plotData = nullptr;
    return kOk;
  }
  QV_TRY(escapeCoordinateSystem(s, *s.proc, Opt::PlotCs, "PLOTCS", &s.plotCs));
  QV_TRY(makeDataObject(s, plot.plotData, "PLOTDATA", &plot.plotDataObject));
  int64_t readable = 0;
  QV_TRY(info(s, plot.plotData, 95, &readable));
  if (readable == 0) {
    s.h.xpmlog(kMsgNotReadable);
    return kHostFailure;
  }
  int64_t count = 0;
  bool stored = false;
  QV_TRY(observationCount(s, plot.plotData, &count, &stored));
  if (count > 0) return kOk;
  if (stored) {
    s.h.xpmlog(kMsgPlotDataEmpty);
    return kUserError;
  }
  // The selection left nothing to draw: not an error of the program.
  s.h.xpslog("WARNING: The data set " + dataSetName(s, plot.plotData) +
             " has no observations.");
  s.finished = true;
  return kOk;
}

Status checkMapData(Step& s) {
  PlotContext& plot = s.plot;
  if (!plot.mapData) return kOk;
  if (!s.scan.choromap) {
    s.h.xpmlog(s.scan.mapMark ? kMsgMapDataNoLayer : kMsgMapDataUnused);
    plot.mapData = nullptr;
    return kOk;
  }
  int64_t once = 0;
  QV_TRY(info(s, plot.mapData, 159, &once));
  if (once != 0) {
    s.h.xpmlog(kMsgMapDataSequential);
    return kUserError;
  }
  QV_TRY(escapeCoordinateSystem(s, *s.proc, Opt::MapCs, "MAPCS", &s.mapCs));
  QV_TRY(makeDataObject(s, plot.mapData, mapObjectName(s), &plot.mapDataObject));
  int64_t count = 0;
  bool stored = false;
  QV_TRY(observationCount(s, plot.mapData, &count, &stored));
  if (count == 0) {
    s.h.xpmlog(kMsgMapDataEmpty);
    return kUserError;
  }
  if (plot.respData && s.h.dsLibrary(plot.respData) == s.h.dsLibrary(plot.mapData) &&
      s.h.dsMember(plot.respData) == s.h.dsMember(plot.mapData) &&
      s.h.dsObject(plot.respData) == s.h.dsObject(plot.mapData)) {
    s.h.xpmlog(kMsgSameMapAndResponse);
    return kUserError;
  }
  return kOk;
}

// The region variable of the CHOROMAP statement `choro` in its map data
// `map`: MAPID=, or ID when it names none or a coordinate (with a note).
Status mapIdentifier(Step& s, const Statement& choro, host::DataSet* map, std::string* id) {
  *id = "ID";
  const Slot& given = choro.slot(Opt::MapId);
  if (!map || !given.isVariable()) return kOk;
  if (isCoordinateName(given.var.name)) {
    s.h.xpslog("NOTE: Cannot use " + given.var.name +
               " for the MAPID variable.  Using ID instead.");
    if (!findVariable(s, map, "ID", id)) {
      s.h.xpmlog(kMsgNoIdVariable, {s.h.dsLibrary(map), s.h.dsMember(map)});
      return kUserError;
    }
    return kOk;
  }
  if (!findVariable(s, map, given.var.name, id)) {
    s.h.xpmlog(kMsgNoMapId);
    return kUserError;
  }
  return kOk;
}

Status resolveMapIdentifier(Step& s) {
  if (!s.scan.choromap) return kOk;
  return mapIdentifier(s, *s.scan.choromap, s.plot.mapData, &s.mapId);
}

// The longitude and latitude variables of the map data `map`, named in a
// note.
Status coordinates(Step& s, host::DataSet* map, std::string* lon, std::string* lat) {
  for (std::string_view c : {"LONG", "LON", "LONGITUDE", "X"})
    if (findVariable(s, map, c, lon)) break;
  for (std::string_view c : {"LAT", "LATITUDE", "Y"})
    if (findVariable(s, map, c, lat)) break;
  if (lon->empty() || lat->empty()) {
    s.h.xpmlog(kMsgNoCoordinates);
    return kUserError;
  }
  s.h.xpmlog(kMsgCoordinates, {*lon, *lat, dataSetName(s, map)});
  return kOk;
}

Status resolveCoordinates(Step& s) {
  if (!s.plot.mapData) return kOk;
  return coordinates(s, s.plot.mapData, &s.lonName, &s.latName);
}

// The CHOROMAP statements with a MAPDATA= of their own: each data set is
// read as map data is (random access, observations, coordinates, its
// region variable) and gets its data object, column list and coordinate
// system, numbered from 2 in statement order. MAPCS= on another CHOROMAP
// has no data set to describe.
Status checkRegionLayers(Step& s) {
  PlotContext& plot = s.plot;
  for (const Statement& node : s.list.nodes)
    if (statementKind(node) == Stmt::Choromap && !ownsMapData(node) && node.has(Opt::MapCs))
      s.h.xpmlog(kMsgMapCsWithoutMapData);
  const std::string base = mapObjectName(s);
  for (const Statement* node : s.scan.regionLayers) {
    RegionLayerData layer;
    layer.node = node;
    layer.number = static_cast<int32_t>(plot.regionLayers.size()) + 2;
    layer.data = dataSetOption(*node, Opt::MapData);
    int64_t once = 0;
    QV_TRY(info(s, layer.data, 159, &once));
    if (once != 0) {
      s.h.xpmlog(kMsgMapDataSequential);
      return kUserError;
    }
    int64_t count = 0;
    bool stored = false;
    QV_TRY(observationCount(s, layer.data, &count, &stored));
    if (count == 0) {
      s.h.xpmlog(kMsgLayerDataEmpty, {s.h.dsLibrary(layer.data), s.h.dsMember(layer.data)});
      return kUserError;
    }
    std::string lon, lat, id;
    QV_TRY(coordinates(s, layer.data, &lon, &lat));
    QV_TRY(mapIdentifier(s, *node, layer.data, &id));
    QV_TRY(escapeCoordinateSystem(s, *node, Opt::MapCs, "MAPCS", &layer.mapCs));
    QV_TRY(makeDataObject(s, layer.data, base + std::to_string(layer.number), &layer.object));
    QV_TRY(make(s, "collection", "list", &layer.columns));
    plot.regionLayers.push_back(layer);
  }
  return kOk;
}

Status matchIdentifiers(Step& s) {
  host::DataSet* map = s.plot.mapData;
  host::DataSet* resp = s.plot.respData;
  if (!map || !resp || !s.scan.choromap) return kOk;
  int mapNumber = -1;
  if (s.h.xvfind(map, s.mapId, &mapNumber) != kOk) {
    s.h.xpmlog(kMsgNoMapId);
    return kUserError;
  }
  host::VarDesc mapVar;
  if (s.h.xvname(map, mapNumber, &mapVar) != kOk) {
    s.h.xpmlog(kMsgMapIdUndescribed);
    return kUserError;
  }
  const Slot& id = s.scan.choromap->slot(Opt::Id);
  const std::string wanted = id.isVariable() ? id.var.name : s.mapId;
  int respNumber = -1;
  if (s.h.xvfind(resp, wanted, &respNumber) != kOk) {
    s.h.xpmlog(kMsgNoResponseId);
    return kUserError;
  }
  host::VarDesc respVar;
  if (s.h.xvname(resp, respNumber, &respVar) != kOk) {
    s.h.xpmlog(kMsgResponseIdUndescribed);
    return kUserError;
  }
  // A mismatch of codes with leading zeros ("01001") gets a hint on how to
  // keep them; a data set that can be read once is not read for it.
  if (mapVar.type == host::kCharacter && respVar.type == host::kNumeric) {
    s.h.xpmlog(kMsgIdCharacterNumeric);
    if (!s.sequential) leadingZeroHint(s.h, resp, respNumber, map, mapNumber);
    return kUserError;
  }
  if (mapVar.type == host::kNumeric && respVar.type == host::kCharacter) {
    s.h.xpmlog(kMsgIdNumericCharacter);
    if (!s.sequential) leadingZeroHint(s.h, map, mapNumber, resp, respNumber);
    return kUserError;
  }
  s.respId = respVar.name.empty() ? wanted : respVar.name;
  return kOk;
}

Status makeStepObjects(Step& s) {
  PlotContext& plot = s.plot;
  // The graphics anchor of the host needs no asking here: the graph manager
  // made above carries what rendering needs.
  for (host::Stream*& stream : s.streams) {
    QV_TRY(make(s, "kdl", "stream_memory", &stream));
    if (Status st = stream->open(true)) return serviceFailed(s, st);
  }
  plot.categorization = s.streams[kCategorizationStream];
  QV_TRY(make(s, "collection", "list", &plot.plotColumns));
  if (Status st = make(s, "collection", "list", plot.respData ? &plot.respColumns
                                                              : &plot.mapColumns))
    return st;
  for (host::AssocArray* PlotContext::*table : kTables)
    QV_TRY(make(s, "collection", "associativearray", &(plot.*table)));
  plot.byFlag = s.proc->flag(host::kFlagBy);
  if (plot.byFlag) return make(s, "collection", "associativearray", &s.byTexts);
  return kOk;
}

// The output settings the renderer needs, and its folder: without it the
// step ends before anything is built.
Status settleRenderer(Step& s) {
  adjustRendererSettings(&s.renderer);
  if (!rendererAvailable()) {
    s.h.xpmlog(kMsgNoRenderer);
    return kHostFailure;
  }
  return kOk;
}

// Whether an attribute map data set can be read for maps: random access and
// the variables it needs.
bool attrMapUsable(Step& s, host::DataSet* ds, std::string_view option,
                   std::string_view second, host::Msg missingMessage, Status* st) {
  int64_t once = 0;
  if ((*st = info(s, ds, 159, &once))) return false;
  if (once != 0) {
    s.h.xpmlog(kMsgAttrMapSequential, {option});
    return false;
  }
  if (!hasVariable(s, ds, "ID") || !hasVariable(s, ds, second)) {
    s.h.xpmlog(missingMessage);
    return false;
  }
  return true;
}

Status checkAttrMaps(Step& s) {
  PlotContext& plot = s.plot;
  Status st = kOk;
  if (s.dAttrMap && attrMapUsable(s, s.dAttrMap, "DATTRMAP", "VALUE", kMsgDAttrMapVariables, &st))
    plot.dAttrMapUsable = true;
  if (st) return st;
  if (s.rAttrMap && attrMapUsable(s, s.rAttrMap, "RATTRMAP", "MIN", kMsgRAttrMapVariables, &st))
    plot.rAttrMapUsable = true;
  if (st) return st;
  if (!plot.plotDataObject && !plot.respDataObject) return kOk;
  if (plot.dAttrMapUsable) {
    if ((st = initAttrMapIDLookup(s.factory, s.dAttrMap, &plot, plot.dAttrMapIds))) return st;
  }
  if (plot.rAttrMapUsable) {
    if ((st = initAttrMapIDLookup(s.factory, s.rAttrMap, &plot, plot.rAttrMapIds))) return st;
  }
  return kOk;
}

void decideCycling(Step& s) {
  PlotContext& plot = s.plot;
  if (s.proc->flag(Flag::CycleAttrs)) {
    plot.cycleAttrs = true;
  } else if (s.proc->flag(Flag::NoCycleAttrs)) {
    return;
  } else {
    plot.cycleAttrs = checkAutoCycle(s.list);
  }
  plot.graphDataCounter = 1;
}

// The first tile statement gives the map provider; later ones are skipped
// (*skip set).
Status tileLayer(Step& s, const Statement& node, bool* skip) {
  const bool osm = statementKind(node) == Stmt::OpenStreetMap;
  if (!s.provider.empty()) {
    s.h.xpmlog(osm ? kMsgSecondOpenStreetMap : kMsgSecondEsriMap);
    *skip = true;
    return kOk;
  }
  if (osm) {
    s.provider = "OpenStreetMapProvider";
    s.dynamicValues += 2;
    return kOk;
  }
  const Slot& url = node.slot(Opt::EsriUrl);
  if (!url.present()) {
    s.h.xpmlog(kMsgEsriUrl);
    return kHostFailure;
  }
  s.provider = "EsriMapProvider";
  s.url = url.text;
  s.dynamicValues += 4;
  return kOk;
}

Status translateStatements(Step& s) {
  PlotContext& plot = s.plot;
  const StepTranslators& t = stepTranslators();
  int keyIndex = 0, gradIndex = 0;
  for (Statement& node : s.list.nodes) {
    const Stmt k = statementKind(node);
    if (k == Stmt::Tavlo || k == Stmt::StyleAttrs || k == Stmt::Count) continue;
    std::copy(std::begin(node.header), std::end(node.header), plot.header);
    if (s.anyNames) setPlotFlag(plot, host::kFlagAnyNames);
    Status st = kOk;
    switch (k) {
      case Stmt::Choromap:
        s.dynamicValues += s.respId.empty() ? 2 : 4;
        st = t.plot(node, &plot, s.streams[kPlotsStream], 0);
        break;
      case Stmt::Series: {
        if (plot.plotData) {
          int64_t once = 0;
          if ((st = info(s, plot.plotData, 159, &once))) break;
          if (once != 0) {
            s.h.xpmlog(kMsgSeriesSequential);
            st = kUserError;
            break;
          }
        }
        st = t.plot(node, &plot, s.streams[kPlotsStream], 0);
        break;
      }
      case Stmt::OpenStreetMap:
      case Stmt::EsriMap: {
        bool skip = false;
        if ((st = tileLayer(s, node, &skip)) || skip) break;
        st = t.plot(node, &plot, s.streams[kPlotsStream], 0);
        break;
      }
      case Stmt::KeyLegend:
        st = t.legend(node, &plot, s.streams[kKeyLegendStream], s.scan.keyLegends, keyIndex++);
        break;
      case Stmt::GradLegend:
        // Legends beyond the fourth were refused by the prescan.
        if (gradIndex < kMaxGradLegends)
          st = t.gradLegend(node, &plot, s.streams[kGradLegendStream], s.scan.gradLegends,
                            gradIndex);
        ++gradIndex;
        break;
      default:  // SCATTER, BUBBLE, TEXT
        st = t.plot(node, &plot, s.streams[kPlotsStream], 0);
        break;
    }
    if (st) return st;
  }
  return kOk;
}

// BY groups: the values of the attribute variables over all groups, and the
// columns the plot data object needs to be split by group.
Status collectByGroups(Step& s) {
  PlotContext& plot = s.plot;
  if (plot.attrVars && plot.attrVars->size() > 0) {
    // A failed collection leaves what was collected; the step goes on.
    static_cast<void>(process_bygroup(s.factory, &plot, &s.byInfo, 1));
  }
  if (!plot.plotDataObject) return kOk;
  if (plot.groupVarName) {
    const std::string_view name = s.h.kdlgstr(plot.groupVarName);
    if (hasVariable(s, plot.plotData, name)) {
      if (Status st = plot.plotDataObject->addColumn(name)) return serviceFailed(s, st);
    }
  }
  for (const host::ByVariable& by : s.h.xbyvars()) {
    std::string name;
    if (!findVariable(s, plot.plotData, by.name, &name)) continue;
    if (Status st = plot.plotDataObject->addColumn(name)) return serviceFailed(s, st);
  }
  return kOk;
}

Status finishStatements(Step& s) {
  PlotContext& plot = s.plot;
  if (s.autoLegend) {
    Status st = writeAutoLegend(plot, s.streams[kKeyLegendStream], s.streams[kGradLegendStream]);
    if (st) return st;
  }
  if (Status st = writeTitlesAndFootnotes(&plot, s.streams[kTitlesStream],
                                         s.streams[kFootnotesStream], s.byTexts))
    return st;
  if (plot.byFlag) {
    QV_TRY(collectByGroups(s));
  }
  const bool dataObject = plot.plotDataObject || plot.respDataObject;
  host::Stream* maps = s.streams[kAttrMapStream];
  if (plot.rAttrMapUsable && dataObject) {
    QV_TRY(processRangeAttrMapDataSet(s.factory, s.rAttrMap, &plot, maps));
  }
  if (plot.dAttrMapUsable && dataObject) {
    QV_TRY(processAttrMapDataSet(s.factory, s.dAttrMap, &plot, maps));
  }
  if (plot.byFlag) {
    QV_TRY(createAttrMapsFromVars(&plot, maps, plot.cycleAttrs));
  }
  for (host::Stream* stream : s.streams)
    if (Status st = stream->close()) return serviceFailed(s, st);
  return kOk;
}

Status assemble(Step& s) {
  AssemblyInput in;
  std::copy(std::begin(s.streams), std::end(s.streams), in.streams);
  in.statements = &s.list;
  in.byGroups = s.plot.byFlag;
  in.byTexts = s.byTexts;
  return assembleTemplate(in);
}

// The finished template into host memory; written to the log when the
// debug option names the procedure, and to the TMPLOUT= file.
Status readTemplate(Step& s) {
  host::Stream* main = s.streams[kMainStream];
  const int64_t length = main->length();
  if (length <= 0) return serviceFailed(s, kHostFailure);
  s.text.reset(static_cast<char*>(s.h.vmalcp(static_cast<size_t>(length))));
  if (!s.text) {
    s.h.xmemmsg();
    return host::kNoMemory;
  }
  if (Status st = main->open(false)) return serviceFailed(s, st);
  const int64_t got = main->read(s.text.get(), static_cast<size_t>(length));
  if (Status st = main->close()) return serviceFailed(s, st);
  if (got != length) return serviceFailed(s, kHostFailure);
  s.textLength = length;
  const std::string_view text(s.text.get(), static_cast<size_t>(length));

  if (zbugi("qortavlo")) {
    // One line, whatever a user text holds.
    std::string line(text);
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    s.h.xpslog(line);
  }
  const Slot& out = s.proc->slot(Opt::TmplOut);
  if (out.present()) {
    // A file that cannot be written is reported; the map is still drawn.
    if (generate_source(s.factory, static_cast<int>(out.text.size()), out.text.data(), s.text.get(),
                        length) == kOk)
      s.h.xpmlog(kMsgTemplateWritten, {out.text});
  }
  return kOk;
}

std::string description(Step& s) {
  const Slot& given = s.proc->slot(Opt::Description);
  if (given.present()) return given.text;
  std::string text = s.h.xpmstr(kMsgDescription).substr(0, 32);
  text.resize(static_cast<size_t>(std::max(0, wzstrip(text.data(), static_cast<int>(text.size())))));
  return text;
}

// The dynamic values, in the order rendering expects them; each only when
// it has a value, and the map data set last.
std::vector<host::DynamicValue> dynamicValues(Step& s) {
  std::vector<host::DynamicValue> values;
  values.reserve(static_cast<size_t>(s.dynamicValues) + 1);
  auto add = [&](std::string_view name, std::string_view value) {
    if (!value.empty()) values.push_back({std::string(name), std::string(value), nullptr});
  };
  add("__MAPID__", s.mapId);
  add("__ID__", s.respId);
  if (s.plotCs) add("__PLOTCS__", s.h.kdlgstr(s.plotCs));
  if (s.mapCs) add("__MAPCS__", s.h.kdlgstr(s.mapCs));
  add("MapProvider", s.provider);
  add("url", s.url);
  if (s.plot.mapData && s.plot.mapDataObject)
    values.push_back({std::string(s.plot.mapDataObject->name()), {}, s.plot.mapData});
  // The map data of the region layers of their own, each with its MAPCS=.
  for (const RegionLayerData& l : s.plot.regionLayers) {
    host::DynamicValue v{std::string(l.object->name()),
                         l.mapCs ? std::string(s.h.kdlgstr(l.mapCs)) : std::string(), l.data};
    v.regionLayer = true;
    values.push_back(std::move(v));
  }
  return values;
}

Status handOff(Step& s) {
  PlotContext& plot = s.plot;
  QV_TRY(readTemplate(s));
  const std::string about = description(s);

  QV_TRY(make(s, "proc", "template", &s.compiled));
  if (s.compiled->compile(kTemplateName, std::string_view(s.text.get(), static_cast<size_t>(s.textLength)))) {
    s.h.xpmlog(kMsgNotCompiled);
    return kHostFailure;
  }
  const std::vector<host::DynamicValue> dynamics = dynamicValues(s);

  auto* manager = dynamic_cast<host::GraphManager*>(plot.manager);
  if (!manager) return serviceFailed(s, kHostFailure);
  QV_TRY(make(s, "kdl", "multidata", &s.collection));
  const std::pair<host::DataObject*, host::DataSet*> data[] = {
      {plot.plotDataObject, plot.plotData}, {plot.respDataObject, plot.respData}};
  for (size_t i = 0; i < std::size(data); ++i) {
    auto [object, ds] = data[i];
    if (!object || !ds) continue;
    if (Status st = object->finish()) return serviceFailed(s, st);
    QV_TRY(make(s, "kdl", "DataSource", &s.sources[i]));
    if (Status st = s.sources[i]->init(object, ds, plot.manager)) return serviceFailed(s, st);
    if (Status st = s.collection->add(s.sources[i])) return serviceFailed(s, st);
  }
  // The BY text table stays with the manager until rendering is done.
  host::AssocArray* byTexts = s.byTexts && s.byTexts->size() > 0 ? s.byTexts : nullptr;
  if (Status st = manager->build(s.collection, s.compiled, "Tavlo", about, dynamics, byTexts,
                                s.scan.gradLegends))
    return serviceFailed(s, st);
  if (Status st = s.collection->finish()) return serviceFailed(s, st);
  // 112 comes after the renderer's own ERROR saying what failed.
  if (Status st = manager->render()) return st == kHostFailure ? st : serviceFailed(s, st);
  return kOk;
}

Status runStep(Step& s) {
  using Section = Status (*)(Step&);
  static constexpr Section kSections[] = {
      startStep,         parseStatements,      checkInputs,          prescan,
      checkResponseData, checkPlotData,        checkMapData,         resolveMapIdentifier,
      resolveCoordinates, checkRegionLayers,   matchIdentifiers,     makeStepObjects,
      settleRenderer,
      checkAttrMaps,
      [](Step& st) { decideCycling(st); return kOk; },
      translateStatements, finishStatements,  assemble,             handOff};
  for (Section section : kSections) {
    QV_TRY(section(s));
    if (s.finished) break;
  }
  return kOk;
}

// Puts back the host settings the step changed.
void endStep(Step& s) {
  restoreRendererSettings(&s.renderer);
  if (s.nlDecWasOn) s.h.xoptbst(kNlDecSeparator, true);
}

}  // namespace

host::Status qortavlo() {
  host::Host& h = host::host();
  Status code = kOk;
  try {
    Step s(h);
    try {
      code = runStep(s);
    } catch (const std::bad_alloc&) {
      h.xmemmsg();
      code = host::kNoMemory;
    } catch (...) {
      code = serviceFailed(s, kHostFailure);
    }
    endStep(s);
  } catch (const std::bad_alloc&) {  // the step's own records could not be made
    h.xmemmsg();
    code = host::kNoMemory;
  }
  h.xexit(code);
  return code;
}

}  // namespace qv::module
