// The plot statement translator: one SCATTER, BUBBLE, SERIES, TEXT, CHOROMAP,
// OPENSTREETMAP or ESRIMAP statement becomes one template statement.
#pragma once

#include "module/entry/plot.h"
#include "module/host/statements.h"

namespace qv::module {

// Appends the statement's template text to `out`. `primary` non-zero marks
// the plot primary. 0 on success; a non-zero status ends the step.
host::Status parsePlot(const host::Statement& node, PlotContext* plot, host::Stream* out,
                       int primary);

}  // namespace qv::module
