// Value collection over all BY groups.
//
// The host renders one map per BY group from one template. For a value to
// keep its color and marker from one map to the next, the attribute maps
// built from the plot variables (attrmaps/) must list every value met in any
// group, in the order first met; this pass collects them.

#include "module/template/bygroup.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "module/text/textutil.h"

namespace qv::module {

using host::kOk;
using host::Status;

namespace {

// One variable whose values are collected.
struct Collector {
  std::string key;  // its key in plot->attrVars
  host::DataSet* ds = nullptr;
  int number = -1;
  bool character = false;
  host::FormatDesc format;
  int width = 0, decimals = 0;
  host::List* values = nullptr;   // formatted texts
  std::unordered_set<std::string> rawSeen;   // raw values met so far
  std::unordered_set<std::string> textSeen;  // texts entered so far
  bool missingTried = false;
};

std::string_view stripTrailing(std::string_view s) {
  return s.substr(0, static_cast<size_t>(std::max(0, wzstrip(s.data(), static_cast<int>(s.size())))));
}

std::string_view stripBoth(std::string_view s) {
  s = stripTrailing(s);
  const size_t first = s.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view() : s.substr(first);
}

template <class T>
host::Owned<T> makeObject(host::ObjectFactory* f, std::string_view cls) {
  return host::makeOwned<T>(f, "collection", cls);
}

// Finds the variable in the first data set that has it and describes it,
// with the format its values are shown in.
bool describe(const PlotContext& plot, std::string_view name, Collector* c) {
  host::Host& h = host::host();
  for (host::DataSet* ds : {plot.plotData, plot.respData, plot.mapData}) {
    if (!ds) continue;
    int number = -1;
    host::VarDesc d;
    if (h.xvfind(ds, name, &number) != kOk || h.xvname(ds, number, &d) != kOk) continue;
    c->ds = ds;
    c->number = number;
    c->character = d.type == host::kCharacter;
    host::FormatDesc f;
    if (!d.format.empty() && h.xfrname(d.format, &f) == kOk && f.character == c->character) {
      c->format = f;
      c->width = d.formatWidth > 0 ? d.formatWidth : f.defaultWidth;
      c->decimals = d.formatDecimals > 0 ? d.formatDecimals : f.defaultDecimals;
    } else if (h.xfrname(c->character ? "$" : "BEST", &f) == kOk) {
      // Without a format of its own a value shows as the host shows it.
      c->format = f;
      c->width = c->character ? 0 : 12;
      c->decimals = 0;
    } else {
      return false;
    }
    return true;
  }
  return false;
}

// The text a value shows in its format: a number left-justified, a text
// without its trailing blanks.
std::string formatted(const Collector& c, double number, std::string_view text) {
  host::Host& h = host::host();
  if (c.character) return std::string(stripTrailing(h.xfxpc(c.format, c.width, text)));
  return std::string(stripBoth(h.xfxpn(c.format, c.width, c.decimals, number)));
}

Status appendText(host::List* list, std::string_view text) {
  const host::HStr* s = host::host().kdltxt(text.data(), static_cast<long>(text.size()));
  if (!s) return host::kHostFailure;
  return list->append(s);
}

// The formatted missing value of an attribute variable, kept when its
// format gives it a text of its own.
Status keepMissingText(Collector& c, PlotContext& plot) {
  c.missingTried = true;
  const std::string text = formatted(c, std::nan(""), {});
  if (text.empty() || text == ".") return kOk;
  const host::HStr* s = host::host().kdltxt(text.data(), static_cast<long>(text.size()));
  if (!s) return host::kHostFailure;
  return plot.missingTexts ? plot.missingTexts->put(c.key, s) : kOk;
}

// One observation of the collector's data set.
Status collect(Collector& c, PlotContext& plot) {
  host::Host& h = host::host();
  double number = 0;
  std::string_view text;
  bool present;
  std::string rawKey;
  if (c.character) {
    text = stripTrailing(h.xgetchr(c.ds, c.number));
    present = !text.empty();
    rawKey = text;
  } else {
    number = h.xgetnum(c.ds, c.number);
    present = !std::isnan(number);
    if (present) {
      number += 0.0;  // -0 and 0 are one value
      rawKey.assign(reinterpret_cast<const char*>(&number), sizeof number);
    } else {
      rawKey = "M";  // every missing value is one value
    }
  }
  // A raw value met before has given all it can give.
  if (!c.rawSeen.insert(rawKey).second) return kOk;

  if (present) {
    const std::string f = formatted(c, number, text);
    if (!c.textSeen.insert(f).second) return kOk;
    return appendText(c.values, f);
  }
  if (c.textSeen.insert(" ").second) {
    QV_TRY(appendText(c.values, " "));
  }
  return c.missingTried ? kOk : keepMissingText(c, plot);
}

// Sets up the collectors: one for every attribute variable.
Status prepare(host::ObjectFactory* factory, PlotContext& plot,
               std::vector<std::unique_ptr<Collector>>* out) {
  if (!plot.attrVars || plot.attrVars->size() == 0 || !plot.valueLists) return kOk;
  if (!plot.missingTexts) {
    plot.missingTexts = makeObject<host::AssocArray>(factory, "associativearray");
    if (!plot.missingTexts) return host::kHostFailure;
  }
  for (size_t i = 0; i < plot.attrVars->size(); ++i) {
    const std::string_view key = plot.attrVars->keyAt(i);
    // Sort expressions share the values of their variable.
    if (key.find('(') != std::string_view::npos) continue;
    if (plot.valueLists->get(key)) continue;
    auto c = std::make_unique<Collector>();
    c->key = std::string(key);
    // A variable found nowhere still gets its (empty) list, so its
    // generated attribute variable is bound to a map.
    const bool found = describe(plot, key, c.get());
    host::Owned<host::List> list = makeObject<host::List>(factory, "list");
    if (!list) return host::kHostFailure;
    c->values = list.get();
    QV_TRY(plot.valueLists->put(key, static_cast<void*>(static_cast<host::Object*>(c->values))));
    plot.valueListObjects.emplace_back(std::move(list));
    if (found) out->push_back(std::move(c));
  }
  return kOk;
}

// Reads every observation of `ds` into its collectors: the plot data group
// by group, any other data set whole.
Status readDataSet(host::DataSet* ds, bool byGroups, std::vector<Collector*>& cs,
                   PlotContext& plot, ByInfo* info) {
  host::Host& h = host::host();
  bool grouped = false;
  if (byGroups) {
    grouped = h.xbyrwnd(ds, true) == kOk;
    if (!grouped && h.xbyinit(ds) == kOk) grouped = h.xbyrwnd(ds, true) == kOk;
  }
  Status st = kOk;
  do {
    if (byGroups) ++info->groups;
    if ((st = h.xrewind(ds))) break;
    while (h.xnext(ds)) {
      if (byGroups) info->observations += 1;
      for (Collector* c : cs) {
        if ((st = collect(*c, plot))) break;
      }
      if (st) break;
    }
  } while (!st && grouped && h.xbynext(ds));
  // The collection's own status is what counts; the rewind only resets.
  if (grouped) static_cast<void>(h.xbyrwnd(ds, true));
  return st;
}

}  // namespace

host::Status process_bygroup(host::ObjectFactory* factory, PlotContext* plot, ByInfo* info,
                             int mode) {
  ByInfo scratch;
  if (!info) info = &scratch;
  *info = ByInfo{};
  if (!plot || mode != 1) return kOk;
  std::vector<std::unique_ptr<Collector>> collectors;
  Status st = prepare(factory, *plot, &collectors);
  // The plot data first (with its BY groups), then any other data set.
  std::vector<host::DataSet*> sets;
  if (plot->plotData) sets.push_back(plot->plotData);
  for (const auto& c : collectors)
    if (std::find(sets.begin(), sets.end(), c->ds) == sets.end()) sets.push_back(c->ds);
  for (host::DataSet* ds : sets) {
    if (st) break;
    std::vector<Collector*> cs;
    for (const auto& c : collectors)
      if (c->ds == ds) cs.push_back(c.get());
    if (cs.empty() && ds != plot->plotData) continue;
    st = readDataSet(ds, ds == plot->plotData, cs, *plot, info);
  }
  return st;
}

}  // namespace qv::module
