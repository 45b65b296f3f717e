// The legend translators: KEYLEGEND and GRADLEGEND statements.
#pragma once

#include "module/host/statements.h"
#include "module/step/step.h"

namespace qv::module {

// One KEYLEGEND statement into the key-legend stream; `count` is the number
// of KEYLEGEND statements of the step, `index` this one's, from 0.
host::Status parseLegend(const host::Statement& node, PlotContext* plot, host::Stream* out,
                         int count, int index);

// One GRADLEGEND statement (its POSITION= slot already settled by the
// driver) into the gradient-legend stream; `count` and `index` as above,
// counting only the legends that are drawn.
host::Status parseGradLegend(const host::Statement& node, PlotContext* plot,
                             host::Stream* out, int count, int index);

}  // namespace qv::module
