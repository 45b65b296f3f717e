#include "module/legends/legends.h"

namespace qv::module {

// Not written yet: the statements are accepted and leave no text.
host::Status parseLegend(const host::Statement&, PlotContext*, host::Stream*, int, int) {
  return host::kOk;
}

host::Status parseGradLegend(const host::Statement&, PlotContext*, host::Stream*, int, int) {
  return host::kOk;
}

}  // namespace qv::module
