#include "module/template/bygroup.h"

namespace qv::module {

// Not written yet: nothing is collected.
host::Status process_bygroup(host::ObjectFactory*, PlotContext*, ByInfo* info, int) {
  if (info) *info = ByInfo{};
  return host::kOk;
}

}  // namespace qv::module
