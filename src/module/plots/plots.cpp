#include "module/plots/plots.h"

namespace qv::module {

// Not written yet: the statements are accepted and leave no text.
host::Status parsePlot(const host::Statement&, PlotContext*, host::Stream*, int) {
  return host::kOk;
}

}  // namespace qv::module
