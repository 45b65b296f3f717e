// Natural breaks: Fisher's exact optimal classes of sorted values, the
// partition into at most k classes of consecutive values with the least
// within-class sum of squared deviations.
//
// Equal values are never split between classes, so a class is a range of
// distinct values and the classes can be written as half-open ranges. (An
// optimal partition that keeps equal values together always exists: every
// value belongs to its nearest class mean.) The dynamic programme runs over
// the distinct values with their counts, each row by divide and conquer on
// the monotone position of its best split: O(k m log m) for m distinct
// values.
#pragma once

#include <cstddef>
#include <vector>

namespace qv::module {

// The first value of each class, ascending, for `n` values sorted ascending
// (finite, repeats allowed) cut into `classes` classes: `classes` entries,
// or as many as there are distinct values when there are fewer. Empty for
// no values or classes below 1. Throws std::bad_alloc.
std::vector<double> jenksClassStarts(const double* sorted, size_t n, int classes);

}  // namespace qv::module
