#include "module/entry/id_hint.h"
#include "module/host/messages.h"

#include <string>
#include <string_view>

namespace qv::module {

namespace {

bool allDigits(std::string_view v) {
  for (char c : v)
    if (c < '0' || c > '9') return false;
  return true;
}

std::string_view trimBlanks(std::string_view v) {
  while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
  while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
  return v;
}

}  // namespace

void leadingZeroHint(host::Host& h, host::DataSet* numDs, int numVar, host::DataSet* textDs,
                     int textVar) {
  // One value with a leading zero ("01001") is the example; a value that is
  // not all digits means these are not numeric codes.
  std::string example;
  if (h.xrewind(textDs) != 0) return;
  while (h.xnext(textDs)) {
    std::string_view v = trimBlanks(h.xgetchr(textDs, textVar));
    if (v.empty()) continue;
    if (!allDigits(v)) return;
    if (example.empty() && v.size() > 1 && v[0] == '0') example = std::string(v);
  }
  if (example.empty()) return;
  std::string sidecar, column;
  if (!h.dsTypeDeclaration(numDs, numVar, &sidecar, &column)) return;
  h.xpmlog(kMsgLeadingZeros,
           {column, h.dsLibrary(numDs) + "." + h.dsMember(numDs), sidecar, example});
}

}  // namespace qv::module
