// Range attribute maps from the RATTRMAP= data set.
//
// Each map the plots use (by RATTRID=) becomes its RangeAttrVar bindings and
// one RangeAttrMap block with a Range entry per row. A map with a bad row
// (a MIN or MAX that is no number, "1.2.3" or "10-20" among them) is
// dropped whole with a warning naming it and the row; its bindings stay,
// and the other maps are written. Numbers are written so that they read
// back as the same values. Rows of one ID form one map even when
// other IDs come between them; maps are written in the order their IDs
// first appear.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "module/attrmaps/attrmaps.h"
#include "module/attrmaps/mapdata.h"
#include "module/host/messages.h"
#include "module/host/statements.h"
#include "module/text/numtext.h"
#include "module/text/textutil.h"

namespace qv::module {

using attrmap::Column;
using attrmap::MapData;
using host::kOk;
using host::Status;

namespace {

constexpr std::string_view kNumberChars = "0123456789.-";

struct RangeColumns {
  Column id, min, max, excludeMin, excludeMax;
  Column color, altColor, colorModel, altColorModel;
  bool colorModelList = false;     // COLORMODEL1, COLORMODEL2, ... are used
  bool altColorModelList = false;  // ALTCOLORMODEL1, ...
};

struct RangeMap {
  bool used = false;
  bool dropped = false;
  std::string bindings;  // RangeAttrVar statements
  std::string body;      // RangeAttrMap and its ranges
};

// Whether `name` is `prefix` followed by a number equal to 1 ("COLORMODEL1").
bool firstListColumn(std::string_view name, std::string_view prefix) {
  if (name.size() <= prefix.size() || !name.starts_with(prefix)) return false;
  std::string_view digits = name.substr(prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const size_t nonZero = digits.find_first_not_of('0');
  return nonZero != std::string_view::npos && digits.substr(nonZero) == "1";
}

RangeColumns findColumns(const MapData& md) {
  auto col = [&](const char* name) { return attrmap::findColumn(md, name); };
  RangeColumns c;
  c.id = col("ID");
  c.min = col("MIN");
  c.max = col("MAX");
  c.excludeMin = col("EXCLUDEMIN");
  c.excludeMax = col("EXCLUDEMAX");
  c.color = col("COLOR");
  c.altColor = col("ALTCOLOR");
  c.colorModel = col("COLORMODEL");
  c.altColorModel = col("ALTCOLORMODEL");
  for (const host::VarDesc& d : md.vars) {
    const std::string upper = qv::upper(d.name);
    if (firstListColumn(upper, "COLORMODEL")) c.colorModelList = true;
    if (firstListColumn(upper, "ALTCOLORMODEL")) c.altColorModelList = true;
  }
  return c;
}

// A character bound as it is written: as given, except that a zero loses
// its minus sign ("-0.0" is written "0.0").
std::string characterBound(const std::string& v) {
  if (v.front() == '-' && v.find_first_of("123456789") == std::string::npos) return v.substr(1);
  return v;
}

bool startsLikeNumber(std::string_view s) {
  return !s.empty() && kNumberChars.find(s[0]) != std::string_view::npos;
}

// EXCLUDEMIN / EXCLUDEMAX: "true" in any case, or the number 1.
bool excluded(const MapData& md, const Column& c) {
  if (!c.exists()) return false;
  if (c.character) return qv::sameNoCase(attrmap::cellText(md, c), "true");
  double v = 0;
  return attrmap::cellNumber(md, c, &v) && v == 1;
}

// A color model, as one name or as the list of its numbered columns.
void writeColorModel(const MapData& md, const Column& single, bool list,
                     std::string_view prefix, const char* nameOption, const char* listOption,
                     std::string* text) {
  if (!list) {
    const std::string v = attrmap::cellText(md, single);
    if (!v.empty() && attrmap::templateWord(md, single, v)) *text += nameOption + v;
    return;
  }
  bool any = false;
  for (int k = 1;; ++k) {
    const Column c = attrmap::findColumn(md, std::string(prefix) + std::to_string(k));
    const std::string v = attrmap::cellText(md, c);
    if (v.empty()) break;
    if (!attrmap::templateWord(md, c, v)) continue;
    if (!any) *text += listOption;
    any = true;
    *text += attrmap::cellPadded(md, c) + " ";
  }
  if (any) *text += ")";
}

enum class Entry { Written, Dropped, NoMemory };

// Drops the map: the message names the map and the row.
Entry drop(host::Msg why, const std::string& key, const MapData& md) {
  host::host().xpmlog(why, {key, static_cast<long long>(md.observation)});
  return Entry::Dropped;
}

// The Range entry of the current row, appended to `text`.
Entry writeRange(const MapData& md, const RangeColumns& c, const std::string& key,
                 std::string* text) {
  std::string e;
  bool special = false;
  double number = 0;
  if (c.min.character) {
    const std::string v = attrmap::cellText(md, c.min);
    const std::string upper = qv::upper(v);
    if (upper == "_OTHER_" || upper == "_UNDER_" || upper == "_OVER_" || upper == "_MISSING_") {
      e = upper == "_OTHER_"   ? "Range Other /"
          : upper == "_UNDER_" ? "Range Under /"
          : upper == "_OVER_"  ? "Range Over /"
                               : "Range Missing /";
      special = true;
    } else if (v.empty()) {
      return drop(kMsgRangeNoMin, key, md);
    } else if (!startsLikeNumber(v)) {
      if (upper == "_MIN_") e = "Range min ";
      else if (upper == "_NEGMAX_") e = "Range negmax ";
      else if (upper == "_NEGMAXABS_") e = "Range negmaxabs ";
      else return drop(kMsgRangeBadMin, key, md);
    } else if (plainNumberText(v)) {
      std::string esc;
      if (!attrmap::escaped(characterBound(v), &esc)) return Entry::NoMemory;
      e = "Range " + esc;
    } else {
      return drop(kMsgRangeMinChars, key, md);  // "1.2.3", "10-20", "-", "1e5"
    }
  } else if (attrmap::cellNumber(md, c.min, &number)) {
    e = "Range " + roundTripText(number);
  } else {
    return drop(kMsgRangeNoMin, key, md);
  }

  if (!special) {
    if (excluded(md, c.excludeMin)) e += "<";
    e += "-";
    if (excluded(md, c.excludeMax)) e += "<";
    if (!c.max.exists()) return drop(kMsgRangeNoMaxVariable, key, md);
    if (c.max.character) {
      const std::string v = attrmap::cellText(md, c.max);
      const std::string upper = qv::upper(v);
      if (v.empty()) return drop(kMsgRangeBlankMax, key, md);
      if (!startsLikeNumber(v)) {
        if (upper == "_MAX_") e += "max ";
        else if (upper == "_MAXABS_") e += "maxabs ";
        else return drop(kMsgRangeBadMax, key, md);
      } else if (plainNumberText(v)) {
        std::string esc;
        if (!attrmap::escaped(characterBound(v), &esc)) return Entry::NoMemory;
        e += esc;
      } else {
        return drop(kMsgRangeBlankMax, key, md);
      }
    } else if (attrmap::cellNumber(md, c.max, &number)) {
      e += roundTripText(number);
    } else {
      return drop(kMsgRangeBlankMax, key, md);
    }
    e += " /";
  }

  writeColorModel(md, c.colorModel, c.colorModelList, "COLORMODEL", " rangecolorModel=",
                  " rangecolormodel=(", &e);
  writeColorModel(md, c.altColorModel, c.altColorModelList, "ALTCOLORMODEL",
                  " rangeAltColorModel=", " rangealtcolormodel=(", &e);
  const std::string color = attrmap::cellText(md, c.color);
  if (!color.empty() && attrmap::templateWord(md, c.color, color))
    e += " rangeColor=" + attrmap::cellPadded(md, c.color);
  const std::string altColor = attrmap::cellText(md, c.altColor);
  if (!altColor.empty() && attrmap::templateWord(md, c.altColor, altColor))
    e += " RangeAltColor=" + altColor;
  e += ";";
  *text += e;
  return Entry::Written;
}

// Starts map `key` on its first row: its bindings and its header. The map
// stays unused when no plot is bound to it.
void startMap(const PlotContext& plot, const std::string& key, RangeMap* map) {
  const std::string name = "__RATTRMAP__" + key;
  const bool anyNames = plotFlag(plot, host::kFlagAnyNames);
  const host::AssocArray& usage = *plot.rAttrMapUsage;
  attrmap::eachBinding(usage, key, [&](std::string_view var, std::string_view instance) {
    map->used = true;
    map->bindings += "RangeAttrVar attrvar=" + std::string(instance) + " var=" +
                     (anyNames ? nameLiteral(var) : std::string(var)) + " attrmap=\"" + name +
                     "\";";
  });
  if (map->used) map->body = "RangeAttrMap name=\"" + name + "\";";
}

}  // namespace

host::Status processRangeAttrMapDataSet(host::ObjectFactory* factory, host::DataSet* ds,
                                        PlotContext* plot, host::Stream* out) {
  if (!plot || !out || !ds || !plot->rAttrMapUsage || plot->rAttrMapUsage->size() == 0)
    return kOk;
  MapData md;
  QV_TRY(attrmap::openMapData(factory, ds, &md));
  const RangeColumns c = findColumns(md);
  std::vector<std::string> order;  // map keys as first met
  std::unordered_map<std::string, RangeMap> maps;
  Status st = attrmap::eachRow(&md, c.id, [&](const std::string& key) {
    auto found = maps.find(key);
    if (found == maps.end()) {
      found = maps.emplace(key, RangeMap{}).first;
      order.push_back(key);
      startMap(*plot, key, &found->second);
    }
    RangeMap& map = found->second;
    if (!map.used || map.dropped) return true;
    const Entry e = writeRange(md, c, key, &map.body);
    if (e == Entry::Dropped) map.dropped = true;
    return e != Entry::NoMemory;
  });
  attrmap::closeMapData(&md);
  if (st != kOk) return st;
  for (const std::string& key : order) {
    const RangeMap& map = maps[key];
    if (!map.used) continue;
    if ((st = attrmap::put(out, map.bindings))) return st;
    if (map.dropped) continue;
    if ((st = attrmap::put(out, map.body))) return st;
    if ((st = attrmap::put(out, "EndRangeAttrMap;"))) return st;
  }
  return kOk;
}

}  // namespace qv::module
