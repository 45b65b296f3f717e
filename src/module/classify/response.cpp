#include "module/classify/response.h"

#include <cmath>
#include <string>
#include <unordered_map>

#include "module/host/messages.h"
#include "module/text/numtext.h"

namespace qv::module {

namespace {

// The regions named in the disagreement warning; more are counted.
constexpr size_t kRegionsNamed = 5;

bool sameValue(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

}  // namespace

host::DataSet* classifiedData(const PlotContext* plot) {
  if (plot == nullptr) return nullptr;
  return plot->classData ? plot->classData : plot->respData;
}

int64_t responseObservations(const PlotContext* plot) {
  host::DataSet* ds = classifiedData(plot);
  if (ds == nullptr || plot->classRegionVar >= 0) return -1;
  host::Host& h = host::host();
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

host::Status regionValues(const PlotContext* plot, int32_t variable,
                          std::vector<double>* values) {
  host::DataSet* ds = plot ? plot->classData : nullptr;
  if (ds == nullptr || values == nullptr || plot->classRegionVar < 0) return host::kOk;
  host::Host& h = host::host();
  const int key = plot->classRegionVar;
  host::VarDesc keyDesc, valueDesc;
  QV_TRY(h.xvname(ds, key, &keyDesc));
  QV_TRY(h.xvname(ds, variable, &valueDesc));
  const bool numericKey = keyDesc.type == host::kNumeric;

  // The first value of each region, in the order the regions first come.
  std::unordered_map<std::string, size_t> region;
  std::vector<double> first;
  std::vector<bool> disagrees;
  std::string named;
  size_t disagreeing = 0;
  QV_TRY(h.xrewind(ds));
  while (h.xnext(ds)) {
    std::string id;
    if (numericKey) {
      const double x = h.xgetnum(ds, key);
      if (std::isnan(x)) continue;
      id = roundTripText(x);
    } else {
      std::string_view t = h.xgetchr(ds, key);
      while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
      if (t.empty()) continue;
      id = std::string(t);
    }
    const double v = h.xgetnum(ds, variable);
    auto [it, added] = region.try_emplace(std::move(id), first.size());
    if (added) {
      first.push_back(v);
      disagrees.push_back(false);
      continue;
    }
    const size_t r = it->second;
    if (disagrees[r] || sameValue(first[r], v)) continue;
    disagrees[r] = true;
    if (++disagreeing <= kRegionsNamed) named += (named.empty() ? "" : ", ") + it->first;
  }
  QV_TRY(h.xrewind(ds));
  for (double v : first)
    if (!std::isnan(v)) values->push_back(v);
  if (disagreeing > 0) {
    if (disagreeing > kRegionsNamed) named += ", ...";
    h.xpmlog(kMsgRegionRowsDisagree, {h.dsLibrary(ds) + "." + h.dsMember(ds), valueDesc.name,
                                      static_cast<long long>(disagreeing), named});
  }
  return host::kOk;
}

void rewindResponse(const PlotContext* plot) {
  host::DataSet* ds = classifiedData(plot);
  if (ds == nullptr) return;
  host::Host& h = host::host();
  // A data set that cannot be rewound is read from where it stands.
  if (h.xbyrwnd(ds, false) != host::kOk) static_cast<void>(h.xrewind(ds));
}

}  // namespace qv::module
