// BY groups: the values of the group and attribute variables collected over
// every BY group, so that attributes stay the same from one map to the next.
#pragma once

#include <cstdint>

#include "module/entry/plot.h"

namespace qv::module {

// What one pass over the BY groups saw.
struct ByInfo {
  int32_t groups = 0;
  double observations = 0;
  double minMax[4][2] = {};  // kept for other modes; not used by this procedure
};

// Collects the values (`mode` 1 is the only mode used). A failure stops the
// collection; the step goes on with what was collected.
host::Status process_bygroup(host::ObjectFactory* factory, PlotContext* plot, ByInfo* info,
                             int mode);

}  // namespace qv::module
