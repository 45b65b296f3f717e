// The hint that follows a type mismatch between the map and response
// identifiers when the character side holds codes with leading zeros (ZIP
// or FIPS codes like "01001"): the numeric side read them as numbers, and a
// schema sidecar can declare that column a text.
#pragma once

#include "module/host/host.h"

namespace qv::module {

// Writes NOTE 854/255 naming the numeric side's column, data set and
// sidecar file when the values of variable `textVar` of `textDs` are all
// digits and one at least starts with 0, and the host knows where the
// column of `numVar` in `numDs` can be declared. Writes nothing otherwise.
void leadingZeroHint(host::Host& h, host::DataSet* numDs, int numVar, host::DataSet* textDs,
                     int textVar);

}  // namespace qv::module
