// Attribute maps: from the DATTRMAP= and RATTRMAP= data sets, and from the
// values of plot variables when BY groups are in effect.
#pragma once

#include "module/entry/plot.h"

namespace qv::module {

// Enters every map ID of the attribute map data set `ds` into `ids`, for
// the plot statements' ATTRID= and RATTRID= lookups.
host::Status initAttrMapIDLookup(host::ObjectFactory* factory, host::DataSet* ds,
                                 PlotContext* plot, host::AssocArray* ids);

// Range attribute maps of the RATTRMAP= data set into `out`.
host::Status processRangeAttrMapDataSet(host::ObjectFactory* factory, host::DataSet* ds,
                                        PlotContext* plot, host::Stream* out);

// Discrete attribute maps of the DATTRMAP= data set into `out`.
host::Status processAttrMapDataSet(host::ObjectFactory* factory, host::DataSet* ds,
                                   PlotContext* plot, host::Stream* out);

// Attribute maps made from the values of the generated attribute variables
// into `out`; `cycle` is the step's attribute-cycling flag.
host::Status createAttrMapsFromVars(PlotContext* plot, host::Stream* out, int cycle);

}  // namespace qv::module
