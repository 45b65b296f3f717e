#include "module/attrmaps/attrmaps.h"

namespace qv::module {

// Not written yet: no map IDs are collected and no maps are written.

host::Status initAttrMapIDLookup(host::ObjectFactory*, host::DataSet*, PlotContext*,
                                 host::AssocArray*) {
  return host::kOk;
}

host::Status processRangeAttrMapDataSet(host::ObjectFactory*, host::DataSet*, PlotContext*,
                                        host::Stream*) {
  return host::kOk;
}

host::Status processAttrMapDataSet(host::ObjectFactory*, host::DataSet*, PlotContext*,
                                   host::Stream*) {
  return host::kOk;
}

host::Status createAttrMapsFromVars(PlotContext*, host::Stream*, int) { return host::kOk; }

}  // namespace qv::module
