// Group references and attribute-map bindings of the plot statements.

#include <cstdio>
#include <string>

#include "module/attrmaps/attrmaps.h"
#include "module/host/messages.h"
#include "module/plots/plotcall.h"
#include "module/text/textutil.h"

namespace qv::module::plots {

using host::kOk;
using host::Status;

namespace {

host::AssocArray* usageTable(PlotCall& c, bool range) {
  return range ? c.plot->rAttrMapUsage : c.plot->dAttrMapUsage;
}

}  // namespace

std::string attrMapInstance(PlotCall& c, bool range, std::string_view var) {
  const std::string& id = range ? c.rattrId : c.attrId;
  if (id.empty()) return {};
  host::Host& h = host::host();
  if (!attrMapIdKnown(range ? c.plot->rAttrMapIds : c.plot->dAttrMapIds, id)) {
    h.xpmlog(range ? kMsgNoRAttrId : kMsgNoAttrId, {id});
    return {};
  }
  // ID_VARIABLE in capital letters; a blank (a name literal's) becomes "_"
  // so that the instance stays one template name.
  std::string instance = upper(id) + "_" + upper(var);
  if (instance.size() > 256) instance.resize(256);
  for (char& ch : instance)
    if (ch == ' ') ch = '_';
  if (const host::AssocArray* usage = usageTable(c, range)) {
    const host::Value* bound = usage->get(upper(var));
    const host::HStr* const* name = bound ? std::get_if<const host::HStr*>(bound) : nullptr;
    if (name && h.kdlgstr(*name) != instance) {
      h.xpmlog(range ? kMsgRangeMapTaken : kMsgAttrMapTaken, {range ? std::string(var) : id});
      return {};
    }
  }
  return instance;
}

Status bindAttrMap(PlotCall& c, bool range, std::string_view var, std::string_view instance) {
  host::AssocArray* usage = usageTable(c, range);
  if (!usage) return kOk;
  const host::HStr* name = nullptr;
  QV_TRY(intern(instance, &name));
  return usage->put(upper(var), name);
}

Status attrVarName(PlotCall& c, std::string_view var, std::string* name) {
  PlotContext* p = c.plot;
  const std::string key = upper(var);
  if (p->attrVars) {
    if (const host::Value* v = p->attrVars->get(key)) {
      if (const auto* known = std::get_if<const host::HStr*>(v)) {
        *name = std::string(host::host().kdlgstr(*known));
        return kOk;
      }
    }
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "__ATTRVAR%d__", ++p->attrVarCounter);
  *name = buf;
  if (!p->attrVars) return kOk;
  const host::HStr* h = nullptr;
  QV_TRY(intern(*name, &h));
  return p->attrVars->put(key, h);
}

Status keepLegendTitle(PlotCall& c, const host::VarDesc& d) {
  if (c.plot->legendTitle) return kOk;
  return intern(d.label.empty() ? d.name : d.label, &c.plot->legendTitle);
}

Status groupReference(PlotCall& c, const host::Slot& v, const host::VarDesc& d,
                      std::string_view option) {
  const std::string instance = attrMapInstance(c, false, d.name);
  if (instance.empty() && !c.plot->byFlag) {
    QV_TRY(slotVariable(c, option, v));
  } else {
    // The column is read, but the plot refers to a name bound to a map.
    QV_TRY(slotVariable(c, " ", v));
    std::string name = instance;
    if (!instance.empty()) {
      QV_TRY(bindAttrMap(c, false, d.name, instance));
    } else if (Status st = attrVarName(c, d.name, &name)) {
      return st;
    }
    c.w(option);
    c.w(name);
  }
  c.grouped = true;
  return keepLegendTitle(c, d);
}

}  // namespace qv::module::plots
