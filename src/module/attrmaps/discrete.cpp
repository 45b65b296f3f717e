// Discrete attribute maps from the DATTRMAP= data set.
//
// Each map the plots use (by ATTRID=) becomes its DiscreteAttrVar bindings
// and one DiscreteAttrMap block with a Value entry per row. Rows of one ID
// form one map even when other IDs come between them, so no map name is
// ever defined twice; maps are written in the order their IDs first appear.

#include <string>
#include <unordered_map>
#include <vector>

#include "module/attrmaps/attrmaps.h"
#include "module/attrmaps/mapdata.h"
#include "module/color/color.h"
#include "module/host/messages.h"
#include "module/host/statements.h"

namespace qv::module {

using attrmap::Column;
using attrmap::MapData;
using host::kOk;
using host::Status;

namespace {

enum class AttrKind { Color, Word, Number, Transparency, Pattern, Family };

struct Attr {
  const char* option;  // " name=" without the blank and "="
  AttrKind kind;
  Column column;
};

struct AttrGroup {
  const char* option;  // " markerattrs=" ...
  Column style;        // ...STYLE
  Column element;      // ...STYLEELEMENT (wins over ...STYLE)
  std::vector<Attr> attrs;
};

struct DiscreteColumns {
  Column id, value, show, nocase;
  std::vector<AttrGroup> groups;
};

// One map of the data set, as far as written.
struct DiscreteMap {
  bool used = false;      // some plot is bound to it
  bool lastCharacter = false;  // the last bound variable is character
  std::string text;       // bindings, header and values so far
};

DiscreteColumns findColumns(const MapData& md) {
  auto col = [&](const char* name) { return attrmap::findColumn(md, name); };
  DiscreteColumns c;
  c.id = col("ID");
  c.value = col("VALUE");
  c.show = col("SHOW");
  c.nocase = col("NOCASE");
  c.groups.push_back({" markerattrs=", col("MARKERSTYLE"), col("MARKERSTYLEELEMENT"),
                      {{"color", AttrKind::Color, col("MARKERCOLOR")},
                       {"symbol", AttrKind::Word, col("MARKERSYMBOL")},
                       {"size", AttrKind::Number, col("MARKERSIZE")},
                       {"transparency", AttrKind::Transparency, col("MARKERTRANSPARENCY")}}});
  c.groups.push_back({" lineattrs=", col("LINESTYLE"), col("LINESTYLEELEMENT"),
                      {{"color", AttrKind::Color, col("LINECOLOR")},
                       {"thickness", AttrKind::Number, col("LINETHICKNESS")},
                       {"pattern", AttrKind::Pattern, col("LINEPATTERN")}}});
  c.groups.push_back({" fillattrs=", col("FILLSTYLE"), col("FILLSTYLEELEMENT"),
                      {{"color", AttrKind::Color, col("FILLCOLOR")},
                       {"transparency", AttrKind::Transparency, col("FILLTRANSPARENCY")}}});
  c.groups.push_back({" textattrs=", Column{}, col("TEXTSTYLEELEMENT"),
                      {{"color", AttrKind::Color, col("TEXTCOLOR")},
                       {"family", AttrKind::Family, col("TEXTFAMILY")},
                       {"style", AttrKind::Word, col("TEXTSTYLE")},
                       {"weight", AttrKind::Word, col("TEXTWEIGHT")}}});
  return c;
}

// The value an attribute takes in the current row ("" when it has none).
// false when the host could not make a text.
bool attrValue(const MapData& md, const Attr& a, std::string* out) {
  host::Host& h = host::host();
  out->clear();
  if (!a.column.exists()) return true;
  switch (a.kind) {
    case AttrKind::Color: {
      const std::string t = attrmap::cellText(md, a.column);
      if (t.empty()) return true;
      char color[8];
      process_color(t.data(), static_cast<int32_t>(t.size()), color);
      out->assign(color, sizeof color);
      return true;
    }
    case AttrKind::Word: {
      const std::string t = attrmap::cellText(md, a.column);
      if (!t.empty() && attrmap::templateWord(md, a.column, t)) *out = t;
      return true;
    }
    case AttrKind::Family: {
      const std::string t = attrmap::cellText(md, a.column);
      if (t.empty()) return true;
      std::string esc;
      if (!attrmap::escaped(t, &esc)) return false;
      *out = "\"" + esc + "\"";
      return true;
    }
    case AttrKind::Number:
    case AttrKind::Transparency: {
      if (a.column.character) {
        if (!attrmap::cellText(md, a.column).empty()) h.xpmlog(kMsgAttrColumnNotNumeric, {a.column.name});
        return true;
      }
      double v = 0;
      if (!attrmap::cellNumber(md, a.column, &v)) return true;  // missing: no attribute
      if (a.kind == AttrKind::Transparency && (v < 0 || v > 1)) {
        h.xpmlog(kMsgAttrOutOfRange, {a.column.name});
        return true;
      }
      *out = attrmap::formatG(v);
      return true;
    }
    case AttrKind::Pattern: {
      if (a.column.character) {
        const std::string t = attrmap::cellText(md, a.column);
        if (!t.empty() && attrmap::templateWord(md, a.column, t)) *out = t;
        return true;
      }
      double v = 0;
      // A pattern number beyond any integer is no pattern.
      if (!attrmap::cellNumber(md, a.column, &v) || v <= -2147483648.0 || v >= 2147483648.0)
        return true;
      *out = std::to_string(static_cast<int>(v));
      return true;
    }
  }
  return true;
}

// The attribute groups of the current row, appended to `text`.
bool writeGroups(const MapData& md, const DiscreteColumns& c, std::string* text) {
  for (const AttrGroup& g : c.groups) {
    std::string style;
    const Column& styleCol = g.element.exists() ? g.element : g.style;
    if (styleCol.exists()) {
      style = attrmap::cellText(md, styleCol);
      if (!style.empty() && !attrmap::templateWord(md, styleCol, style)) style.clear();
    }
    bool open = false;
    for (const Attr& a : g.attrs) {
      std::string value;
      if (!attrValue(md, a, &value)) return false;
      if (value.empty()) continue;
      if (!open) {
        *text += g.option;
        *text += style;
        *text += "(";
        open = true;
      }
      *text += " ";
      *text += a.option;
      *text += "=";
      *text += value;
    }
    if (open) {
      *text += ")";
    } else if (!style.empty()) {
      *text += g.option;
      *text += style;
    }
  }
  return true;
}

// The Value entry of the current row.
bool writeValue(const MapData& md, const DiscreteColumns& c, const DiscreteMap& map,
                std::string* text) {
  std::string value;
  double number = 0;
  bool numeric = false;
  if (c.value.character) {
    value = attrmap::cellText(md, c.value);
  } else if (attrmap::cellNumber(md, c.value, &number)) {
    numeric = true;
  }
  const std::string upper = qv::upper(value);
  if (!numeric && upper == "_OTHER_") {
    *text += "Value Other /";
  } else if (!numeric && upper == "_MISSING_") {
    std::string missing = host::host().xoptcgt("MISSING").substr(0, 1);
    if (missing.empty()) missing = ".";
    std::string esc;
    if (!attrmap::escaped(missing, &esc)) return false;
    *text += "Value \" \" \"" + esc + "\" /";
  } else if (numeric) {
    *text += "Value \"" + attrmap::formatG(number) + "\" /";
  } else if (value.empty()) {
    // A blank (or missing numeric) value stands for the missing group value.
    *text += map.lastCharacter ? "Value \" \" /" : "Value \".\" /";
  } else {
    std::string esc;
    if (!attrmap::escaped(value, &esc)) return false;
    *text += "Value \"" + esc + "\" /";
  }
  if (!writeGroups(md, c, text)) return false;
  *text += ";";
  return true;
}

// Starts map `key` on its first row: its bindings to the plots' variables
// and its header. The map stays unused when no plot is bound to it.
bool startMap(const MapData& md, const DiscreteColumns& c, const PlotContext& plot,
              const std::string& key, DiscreteMap* map) {
  const std::string name = "__ATTRMAP__" + key;
  const bool anyNames = plotFlag(plot, host::kFlagAnyNames);
  const host::AssocArray& usage = *plot.dAttrMapUsage;
  attrmap::eachBinding(usage, key, [&](std::string_view var, std::string_view instance) {
    map->used = true;
    const bool expression = var.find('(') != std::string_view::npos;
    map->text += "DiscreteAttrVar attrvar=" + std::string(instance) + " var=" +
                 (anyNames && !expression ? nameLiteral(var) : std::string(var)) +
                 " attrmap=\"" + name + "\";";
    if (var.substr(0, 10) != "eval(sort(")
      map->lastCharacter = attrmap::characterVariable(plot, var);
  });
  if (!map->used) return true;
  map->text += "DiscreteAttrMap name=\"" + name + "\" /";
  const std::string show = c.show.character ? attrmap::cellText(md, c.show) : std::string();
  const std::string nocase = c.nocase.character ? attrmap::cellText(md, c.nocase) : std::string();
  if (qv::upper(show).starts_with("ATTRMAP")) map->text += " discreteLegendEntryPolicy=attrmap";
  if (nocase.size() >= 4 && qv::upper(nocase).starts_with("TRUE"))
    map->text += " ignoreCase=true";
  // The header is set off from its first value by a blank.
  map->text += "; ";
  return true;
}

}  // namespace

host::Status processAttrMapDataSet(host::ObjectFactory* factory, host::DataSet* ds,
                                   PlotContext* plot, host::Stream* out) {
  if (!plot || !out || !ds || !plot->dAttrMapUsage || plot->dAttrMapUsage->size() == 0)
    return kOk;
  MapData md;
  QV_TRY(attrmap::openMapData(factory, ds, &md));
  const DiscreteColumns c = findColumns(md);
  std::vector<std::string> order;  // map keys as first met
  std::unordered_map<std::string, DiscreteMap> maps;
  Status st = attrmap::eachRow(&md, c.id, [&](const std::string& key) {
    auto found = maps.find(key);
    if (found == maps.end()) {
      found = maps.emplace(key, DiscreteMap{}).first;
      order.push_back(key);
      if (!startMap(md, c, *plot, key, &found->second)) return false;
    }
    if (!found->second.used) return true;
    return writeValue(md, c, found->second, &found->second.text);
  });
  attrmap::closeMapData(&md);
  if (st != kOk) return st;
  for (const std::string& key : order) {
    const DiscreteMap& map = maps[key];
    if (!map.used) continue;
    if ((st = attrmap::put(out, map.text))) return st;
    if ((st = attrmap::put(out, "EndDiscreteAttrMap;"))) return st;
  }
  return kOk;
}

}  // namespace qv::module
