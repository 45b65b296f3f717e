// Class breaks of a numeric choropleth response: equal intervals on round
// values, quantiles of the sorted values, natural breaks, or the breaks the
// user gives.
//
// A break list is a vector of doubles in ascending order; n breaks make the
// n - 1 classes between neighbours (a single break makes one class). Every
// routine returns a status, 0 for success; host::kNoMemory (after the host's
// memory message) when a work list cannot be had.
#pragma once

#include <cstdint>
#include <vector>

#include "module/step/step.h"

namespace qv::module {

// Appends the non-missing values of `variable` of the plot context's
// classified data (the response data, or one value per region of a region
// layer's own data), ascending; repeats are dropped when `distinct` is
// non-zero.
// A failed sort is reported through the host: a negative code is returned
// with nothing appended, a positive one only reported (what the host handed
// back, usually nothing, is kept).
host::Status sortValues(PlotContext* plot, int32_t variable, int32_t distinct,
                        std::vector<double>* values);

// Default number of levels for n observations: floor(1 + 3.3 log10 n).
// 0 for n below 1.
int32_t getNumberOfBreaks(int64_t observations);

// Nice scaling of [low, high] for count - 1 steps: the step `width` is a
// table factor times a power of ten, and `start` a whole multiple of it that
// centres the steps on the interval. A count below 2, or an interval that
// cannot be scaled (not finite), gives start = low and width = 0.
void scale(double low, double high, int32_t count, double* start, double* width);

// First inner break and spacing of k equal-interval classes over [min, max].
// k of 0 or less counts as 1, which gives the middle and width 0.
void calcMidpoints(double min, double max, int32_t levels, double* start, double* width);

// Equal-interval breaks of `variable`: the minimum, levels - 1 inner breaks
// on round values, the maximum. Levels 0 takes the default for the data
// set's observation count and stores it in plot->numLevels. Appends nothing
// without response data or values. Rewinds the response data afterwards.
host::Status getEqualIntervalRanges(PlotContext* plot, int32_t variable, int32_t levels,
                                    std::vector<double>* breaks);

// Quantile breaks of `variable`: the minimum, the values at evenly spaced
// positions of the sorted values, the maximum; or the distinct values
// themselves when there are no more of them than levels. Levels 0 takes the
// default as for equal intervals.
host::Status getQuantileRanges(PlotContext* plot, int32_t variable, int32_t levels,
                               std::vector<double>* breaks);

// Natural breaks of `variable`: the first value of each of Fisher's optimal
// classes, then the maximum (one break when every value is the same).
// Fewer distinct values than levels make one class per value, with a note.
// Levels 0 takes the default as for equal intervals.
host::Status getJenksRanges(PlotContext* plot, int32_t variable, int32_t levels,
                            std::vector<double>* breaks);

// The breaks BREAKS= gives (plot->breaks), when `variable` has values.
// Values below the first or above the last break are counted in a note;
// *openLow and *openHigh tell whether there are any, so that the outer
// classes can take them in.
host::Status getGivenRanges(PlotContext* plot, int32_t variable, std::vector<double>* breaks,
                            bool* openLow, bool* openHigh);

}  // namespace qv::module
