// Attribute maps: from the DATTRMAP= and RATTRMAP= data sets, and from the
// values of plot variables when BY groups are in effect.
#pragma once

#include <string>
#include <string_view>

#include "module/step/step.h"

namespace qv::module {

// Enters every map ID of the attribute map data set `ds` into `ids` (value
// 1), for the plot statements' ATTRID= and RATTRID= lookups. Each ID is
// entered as written (trailing blanks removed) and in capital letters; blank
// IDs are left out. Leaves `ds` rewound for the map writers. Returns 1 when
// the data set has no ID column, else the status of the last insertion.
host::Status initAttrMapIDLookup(host::ObjectFactory* factory, host::DataSet* ds,
                                 PlotContext* plot, host::AssocArray* ids);

// Whether `id` (an ATTRID= or RATTRID= value) names a map of the ID set made
// by initAttrMapIDLookup. IDs match without regard to letter case.
bool attrMapIdKnown(const host::AssocArray* ids, std::string_view id);

// Range attribute maps of the RATTRMAP= data set into `out`: for each map a
// plot uses (plot->rAttrMapUsage), its RangeAttrVar bindings and its
// RangeAttrMap block. A map with a bad row is dropped whole (854/117 to 121,
// 125); its bindings stay. 0, or the status of a failed host operation.
host::Status processRangeAttrMapDataSet(host::ObjectFactory* factory, host::DataSet* ds,
                                        PlotContext* plot, host::Stream* out);

// Discrete attribute maps of the DATTRMAP= data set into `out`: for each map
// a plot uses (plot->dAttrMapUsage), its DiscreteAttrVar bindings and its
// DiscreteAttrMap block. 0, or the status of a failed host operation.
host::Status processAttrMapDataSet(host::ObjectFactory* factory, host::DataSet* ds,
                                   PlotContext* plot, host::Stream* out);

// Attribute maps made from the values that process_bygroup collected for the
// generated attribute variables (plot->valueLists), into `out`; `cycle` is
// the step's attribute-cycling flag and does not change the text.
host::Status createAttrMapsFromVars(PlotContext* plot, host::Stream* out, int cycle);

// Appends the name literal of `name` ('name'n, quotes doubled) to `out`;
// nothing for an empty or null name.
host::Status scriptVVNVar(host::Stream* out, const host::HStr* name);

// The name literal of a variable name: "it's" gives 'it''s'n.
std::string nameLiteral(std::string_view name);

}  // namespace qv::module
