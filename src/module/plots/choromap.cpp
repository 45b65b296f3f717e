// The region layer of CHOROMAP: its data, the map's level of detail, the
// region and response keys, and the response: a continuous color, a
// classification into levels, or a color group.

#include <string>

#include "module/classify/classify.h"
#include "module/host/messages.h"
#include "module/plots/plotcall.h"
#include "module/plots/plots.h"
#include "module/text/textutil.h"

namespace qv::module::plots {

using host::kOk;
using host::Slot;
using host::Status;

namespace {

// " mapid=": the MAPID= variable of the map data `map`, else its ID
// variable. *mapIdName receives the MAPID= name ("" when ID is used),
// *mapIdNumber the variable's number in the map data.
Status writeRegionKey(PlotCall& c, host::DataSet* map, std::string* mapIdName,
                      int* mapIdNumber) {
  PlotContext* p = c.plot;
  host::Host& h = host::host();
  const Slot& mapId = c.slot(Opt::MapId);
  if (mapId.isVariable() && !isCoordinateName(mapId.var.name)) {
    host::VarDesc d;
    QV_TRY(describeVar(map, mapId, " mapid=", &d));
    c.w(" mapid=");
    c.w(d.name);
    *mapIdName = d.name;
    *mapIdNumber = d.number;
    return kOk;
  }
  int number = -1;
  if (map && h.xvfind(map, "ID", &number) == kOk) {
    c.w(" mapid=ID");
    *mapIdNumber = number;
    return kOk;
  }
  std::string lib, mem;
  getDSinfo(map ? map : p->varData, &lib, &mem);
  h.xpmlog(kMsgNoIdVariable, {lib, mem});
  return host::kUserError;
}

// BREAKS=: at least two numbers, ascending; they replace NUMLEVELS= and
// LEVELTYPE=.
Status givenBreaks(PlotCall& c) {
  PlotContext* p = c.plot;
  host::Host& h = host::host();
  const Slot& b = c.slot(Opt::Breaks);
  if (b.list.size() < 2) {
    h.xpmlog(kMsgTooFewBreaks);
    return host::kOptionRefused;
  }
  p->breaks.clear();
  for (const Slot& e : b.list) {
    if (!p->breaks.empty() && !(e.number > p->breaks.back())) {
      h.xpmlog(kMsgBreaksNotAscending, {e.text, gText(p->breaks.back())});
      return host::kOptionRefused;
    }
    p->breaks.push_back(e.number);
  }
  if (c.has(Opt::LevelType)) h.xpmlog(kMsgBreaksOverride, {"LEVELTYPE"});
  if (c.has(Opt::NumLevels)) h.xpmlog(kMsgBreaksOverride, {"NUMLEVELS"});
  p->levelType = Code::LevelBreaks;
  p->numLevels = static_cast<int32_t>(p->breaks.size() - 1);
  return kOk;
}

// A numeric response that is not DISCRETE: a range attribute map named by
// RATTRID=, a classification, or the continuous column.
Status continuousResponse(PlotCall& c, const Slot& r, const host::VarDesc& d) {
  PlotContext* p = c.plot;
  c.continuous = true;
  if (c.has(Opt::Breaks)) {
    QV_TRY(givenBreaks(c));
  } else {
    if (c.has(Opt::NumLevels))
      p->numLevels = static_cast<int32_t>(c.slot(Opt::NumLevels).number);
    if (c.has(Opt::LevelType))
      p->levelType = static_cast<int32_t>(c.slot(Opt::LevelType).number);
    else if (p->numLevels > 0)
      p->levelType = Code::LevelQuantile;
  }

  const std::string instance = attrMapInstance(c, true, d.name);
  if (!instance.empty()) {
    QV_TRY(slotVariable(c, " ", r));
    c.w(" colorResponse=");
    c.w(instance);
    QV_TRY(bindAttrMap(c, true, d.name, instance));
  } else if (p->levelType > Code::LevelNone) {
    int32_t classes = 0;
    QV_TRY(createCategorization(p, &classes));
    c.classes = classes;
    if (classes > 0) {
      QV_TRY(slotVariable(c, " ", r));
      c.w(" colorResponse=_CLRRESP_");
      c.w(classNameSuffix(*p));
      c.continuous = false;
      c.grouped = true;
      QV_TRY(keepLegendTitle(c, d));
    } else if (Status st = slotVariable(c, " ColorResponse=", r)) {
      return st;
    }
  } else if (Status st = slotVariable(c, " ColorResponse=", r)) {
    return st;
  }
  QV_TRY(intern(d.name, &p->responseName));
  p->responseLabel = nullptr;
  if (!d.label.empty()) return intern(d.label, &p->responseLabel);
  return kOk;
}

}  // namespace

Status writeRegionBlock(PlotCall& c) {
  PlotContext* p = c.plot;
  host::Host& h = host::host();
  // A region layer of its own data reads its regions and its response
  // there; the others read the step's map data, joined to its response data.
  const RegionLayerData* layer = p->regionLayer;
  host::DataSet* map = layer ? layer->data : p->mapData;
  const bool response = !layer && p->respData && p->varData == p->respData;
  if (response) {
    c.w(" dataID=RESPONSEDATA");
  } else if (layer) {
    c.w(" dataID=");
    c.w(layer->object->name());
  } else {
    c.w(" dataID=");
    c.w(p->mapDataObject ? p->mapDataObject->name() : std::string_view("__MAP__"));
  }
  if (map) {
    const int density = c.has(Opt::Density) ? static_cast<int>(c.slot(Opt::Density).number) : -1;
    setResolution(map, layer ? nullptr : p->respData, density);
  }

  std::string mapIdName;
  int mapIdNumber = -1;
  QV_TRY(writeRegionKey(c, map, &mapIdName, &mapIdNumber));
  if (layer && c.has(Opt::Id)) h.xpmlog(kMsgIdOfOwnMapData);
  if (p->respData && !layer) {
    const Slot& id = c.slot(Opt::Id);
    Status st = id.isVariable()
                    ? slotVariable(c, " id=", id)
                    : processVariable(c.out, " id=", mapIdName.empty() ? "ID" : mapIdName, -1,
                                      p);
    if (st) return st;
  }
  if (c.st) return c.st;

  const Slot& r = c.slot(Opt::Response);
  if (!r.isVariable()) return kOk;
  host::VarDesc d;
  QV_TRY(describeVar(p->varData, r, " RESPONSE", &d));
  p->groupVarNumber = d.number + 1;
  QV_TRY(intern(d.name, &p->groupVarName));
  if (d.type == host::kNumeric) p->responseVarNumber = d.number;
  // A response of the layer's own data (the map data) is classified by
  // one value per region.
  p->classData = response ? nullptr : p->varData;
  p->classRegionVar = response ? -1 : mapIdNumber;

  if (d.type == host::kNumeric && !c.flag(Flag::Discrete)) return continuousResponse(c, r, d);
  if (c.has(Opt::LevelType)) h.xpmlog(kMsgClassOptionIgnored, {"LEVELTYPE"});
  if (c.has(Opt::NumLevels)) h.xpmlog(kMsgClassOptionIgnored, {"NUMLEVELS"});
  if (c.has(Opt::Breaks)) h.xpmlog(kMsgClassOptionIgnored, {"BREAKS"});
  return groupReference(c, r, d, " colorGroup=");
}

}  // namespace qv::module::plots
