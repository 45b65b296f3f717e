// Classification of a numeric choropleth response into levels.
#pragma once

#include <string>

#include "module/step/step.h"

namespace qv::module {

// Divides the values of the plot context's numeric response (in its
// response data) into classes by its level type and number of levels,
// writes the range attribute map "_clrrespmap_" and its "_CLRRESP_"
// variable (their names ending with classNameSuffix) into the
// categorization stream, and rewrites the number of
// levels with the number of classes made. *classes is the number of
// classes written: 0 when none could be made (no values, or values the
// host could not sort), and then nothing is written. Fails only when the
// stream cannot be written.
host::Status createCategorization(PlotContext* plot, int32_t* classes);

// What the names of the classification of the region layer being
// translated end with: "" for the step's own ("_clrrespmap_",
// "_CLRRESP_"), the layer's number for a region layer of its own data
// ("_clrrespmap_2", "_CLRRESP_2").
std::string classNameSuffix(const PlotContext& plot);

}  // namespace qv::module
