#include "module/classify/response.h"

namespace qv::module {

int64_t responseObservations(const PlotContext* plot) {
  if (plot == nullptr || plot->respData == nullptr) return -1;
  host::Host& h = host::host();
  host::DataSet* ds = plot->respData;
  int64_t filtered = 0, countable = 0, n = -1;
  // The stored count holds when no selection applies and the host keeps
  // one; otherwise count what the selection keeps.
  bool plain = h.xoinfo(ds, 35, &filtered) == host::kOk &&
               h.xoinfo(ds, 28, &countable) == host::kOk && filtered == 0 && countable != 0;
  if (h.xoinfo(ds, plain ? 3 : 24, &n) != host::kOk || n < 0) return -1;
  int64_t limit = -1;
  if (h.xoinfo(ds, 41, &limit) == host::kOk && limit >= 0 && limit < n) n = limit;
  return n;
}

void rewindResponse(const PlotContext* plot) {
  if (plot == nullptr || plot->respData == nullptr) return;
  host::Host& h = host::host();
  // A data set that cannot be rewound is read from where it stands.
  if (h.xbyrwnd(plot->respData, false) != host::kOk) static_cast<void>(h.xrewind(plot->respData));
}

}  // namespace qv::module
