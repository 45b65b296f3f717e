// Automatic cycling of data attributes across plots.
#pragma once

#include "module/host/statements.h"

namespace qv::module {

// 1 when the step has at least two SCATTER, SERIES, BUBBLE or TEXT
// statements and all of them are of one kind (each then takes the next
// GraphData style); 0 otherwise.
int checkAutoCycle(const host::StatementList& list);

}  // namespace qv::module
