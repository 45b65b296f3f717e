// Classification of a numeric choropleth response into levels.
#pragma once

#include "module/entry/plot.h"

namespace qv::module {

// Divides the values of the plot context's numeric response (in its
// response data) into classes by its level type and number of levels,
// writes the range attribute map "_clrrespmap_" and its "_CLRRESP_"
// variable into the categorization stream, and rewrites the number of
// levels with the number of classes made. Writes nothing when no class can
// be made.
void createCategorization(PlotContext* plot);

}  // namespace qv::module
