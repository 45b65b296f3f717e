// The response data set as classification sees it: its observation count
// and the rewind that lets the plot translator read it again.
#pragma once

#include <cstdint>

#include "module/step/step.h"

namespace qv::module {

// Observations of the plot context's response data as the procedure sees
// them (selection and OBS= limit applied); -1 when the host cannot tell or
// there is no response data.
int64_t responseObservations(const PlotContext* plot);

// Back to the start of the current BY group (to the start of the data when
// no BY groups are in effect).
void rewindResponse(const PlotContext* plot);

}  // namespace qv::module
