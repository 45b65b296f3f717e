// The sets of map IDs that ATTRID= and RATTRID= are checked against.

#include "module/attrmaps/attrmaps.h"
#include "module/attrmaps/mapdata.h"

namespace qv::module {

using host::kOk;
using host::Status;

host::Status initAttrMapIDLookup(host::ObjectFactory*, host::DataSet* ds, PlotContext*,
                                 host::AssocArray* ids) {
  host::Host& h = host::host();
  int number = -1;
  if (!ds || !ids || h.xvfind(ds, "ID", &number) != kOk)
    return host::kHostFailure;  // the driver checked ID= before
  host::VarDesc d;
  QV_TRY(h.xvname(ds, number, &d));
  attrmap::MapData md;
  md.ds = ds;
  attrmap::Column id;
  id.number = number;
  id.character = d.type == host::kCharacter;
  id.name = d.name;
  Status st = h.xrewind(ds);
  if (st != kOk) return st;
  while (h.xnext(ds)) {
    const std::string text = attrmap::cellText(md, id, true);
    if (text.empty()) continue;
    // The writers match IDs without regard to case: enter the capital form
    // too, so a lookup of either spelling finds the map.
    if ((st = ids->put(text, 1.0)) != kOk) return st;
    const std::string upper = qv::upper(text);
    if (upper != text && (st = ids->put(upper, 1.0)) != kOk) return st;
  }
  // Positioned again for the map writers.
  QV_TRY(h.xrewind(ds));
  return st;
}

bool attrMapIdKnown(const host::AssocArray* ids, std::string_view id) {
  if (!ids || id.empty()) return false;
  return ids->get(id) || ids->get(qv::upper(id));
}

}  // namespace qv::module
