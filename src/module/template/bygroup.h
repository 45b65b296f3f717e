// BY groups: the values of the group and attribute variables collected over
// every BY group, so that attributes stay the same from one map to the next.
#pragma once

#include <cstdint>

#include "module/step/step.h"

namespace qv::module {

// What one pass over the BY groups saw.
struct ByInfo {
  int32_t groups = 0;
  double observations = 0;
};

// Collects the values (`mode` 1 is the only mode used), reading the plot
// data group by group: for each variable of plot->attrVars, its distinct
// formatted values, in the order first met, into a list of plot->valueLists
// under the same key; a missing value is entered as " ", and the text its
// format gives a missing value (when not empty or ".") goes to
// plot->missingTexts under the same key.
// A variable that is not in the plot data is read from the response data or
// the map data instead (those have no BY groups). Variables without a format
// are formatted with BEST12. or $w.
// A failing host call stops the collection; the BY groups are rewound and
// the step goes on with what was collected (the failing status is returned).
host::Status process_bygroup(host::ObjectFactory* factory, PlotContext* plot, ByInfo* info,
                             int mode);

}  // namespace qv::module
