// The data the classes of a region layer's response are read from: the
// response data set, every observation a value, or a region layer's own
// data set, one value per region. Its observation count, its values, and
// the rewind that lets the plot translator read it again.
#pragma once

#include <cstdint>
#include <vector>

#include "module/step/step.h"

namespace qv::module {

// The data set the classes are read from: the plot context's classData
// when set, else its response data (null when neither is there).
host::DataSet* classifiedData(const PlotContext* plot);

// Observations of the classified data as the procedure sees them
// (selection and OBS= limit applied); -1 when the host cannot tell, when
// there is no such data, or when the values are one per region (then the
// values read are what counts).
int64_t responseObservations(const PlotContext* plot);

// Appends the value of `variable` of each region of the plot context's
// classData, unsorted, missing values left out: the value of the region's
// first row (a region is the rows with one value of classRegionVar; rows
// without one belong to none). Regions whose rows disagree are named in one
// warning. The data set is read from its start and rewound.
host::Status regionValues(const PlotContext* plot, int32_t variable, std::vector<double>* values);

// Back to the start of the current BY group (to the start of the data when
// no BY groups are in effect).
void rewindResponse(const PlotContext* plot);

}  // namespace qv::module
