// The environment of a rendering and the reading of attribute values:
// colors, lengths, fonts, attribute blocks, group values with their
// attribute maps, and color responses (continuous ramps and range maps).
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <tuple>

#include "render/marks/draw.h"

#include "common/css_colors.h"

namespace qv::render {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string_view trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool parseNumber(std::string_view s, double& out) {
  s = trim(s);
  if (s.empty()) return false;
  if (s[0] == '+') s.remove_prefix(1);
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size() && std::isfinite(out);
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The color at step `index` of `count` between a stepper's ends.
Rgba stepperColor(const Value& v, const Style& style) {
  const double t = v.count > 1 ? double(v.index - 1) / double(v.count - 1) : 0.5;
  if (v.items.size() != 2) return rampColor(style.twoColorRamp, t);
  // Both ends of one ramp: step along the whole ramp, through its middle.
  const Value& a = v.items[0];
  const Value& b = v.items[1];
  if (a.kind == Value::Kind::StyleRef && b.kind == Value::Kind::StyleRef) {
    std::string_view ea = std::string_view(a.text).substr(0, a.text.find(':'));
    std::string_view eb = std::string_view(b.text).substr(0, b.text.find(':'));
    if (sameNoCase(ea, eb)) {
      const std::vector<Rgba>* ramp = rampByName(style, ea);
      if (!ramp) ramp = &style.twoColorRamp;
      return rampColor(*ramp, t);
    }
  }
  Rgba ca = style.twoColorRamp.front(), cb = style.twoColorRamp.back();
  colorOf(a, style, ca);
  colorOf(b, style, cb);
  return mix(ca, cb, t);
}

// A color value that may also be a stepper.
bool anyColor(const Value& v, const Style& style, Rgba& out) {
  if (v.kind == Value::Kind::Stepper) {
    out = stepperColor(v, style);
    return true;
  }
  return colorOf(v, style, out);
}

// The colors of a ColorModel= or rangeColorModel= value: a ramp name or a
// list of colors. Empty when it names nothing usable.
std::vector<Rgba> modelColors(const Value& v, const Style& style) {
  if (v.kind == Value::Kind::List) {
    std::vector<Rgba> out;
    for (const Value& item : v.items) {
      Rgba c;
      if (colorOf(item, style, c)) out.push_back(c);
    }
    if (out.size() == 1) out.push_back(out.front());
    return out;
  }
  if (const std::vector<Rgba>* r = rampByName(style, v.text)) return *r;
  return {};
}

}  // namespace

// --- Env ----------------------------------------------------------------------

Env::Env(const GraphModel& m, const RenderRequest& r) : model(m), req(r) {
  StyleOverrides o;
  for (const Rgb& c : m.graph.dataColors) o.dataColors.push_back(colorText(rgbHex((c.r << 16) | (c.g << 8) | c.b)));
  for (const Rgb& c : m.graph.dataContrastColors)
    o.dataContrastColors.push_back(colorText(rgbHex((c.r << 16) | (c.g << 8) | c.b)));
  o.dataSymbols = m.graph.dataSymbols;
  o.dataLinePatterns = m.graph.dataLinePatterns;
  if (m.graph.backgroundColor) {
    const Rgb& c = *m.graph.backgroundColor;
    o.backgroundColor = colorText(rgbHex((c.r << 16) | (c.g << 8) | c.b));
  }
  std::vector<std::string> problems;
  style = applyOverrides(defaultStyle(), o, &problems);
  for (const std::string& p : problems) warn(p);
  percentBase = std::max(1, std::min(r.options.integer(GlobalOpt::GraphWidth),
                                    r.options.integer(GlobalOpt::GraphHeight)));
}

DataTable* Env::table(std::string_view id) const {
  if (sameNoCase(id, "__MAP__")) return req.mapData;
  for (DataTable* t : req.data)
    if (t && sameNoCase(t->name(), id)) return t;
  if (req.mapData && sameNoCase(req.mapData->name(), id)) return req.mapData;
  return nullptr;
}

void Env::leftOut(const MapProjection& map, size_t rows, LonLat where, std::string_view id) {
  if (rows == 0) return;
  rowsLeftOut += rows;
  const std::string place = map.placeOf(where, id);
  if (place.empty()) {
    if (leftOutElsewhere_ == 0) firstElsewhere_ = where;
    leftOutElsewhere_ += rows;
    return;
  }
  for (auto& [name, count] : leftOutPlaces_)
    if (name == place) {
      count += rows;
      return;
    }
  leftOutPlaces_.emplace_back(place, rows);
}

std::string Env::leftOutNote() const {
  if (rowsLeftOut == 0) return {};
  auto degrees = [](double v, const char* plus, const char* minus) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f %s", std::fabs(v), v < 0 ? minus : plus);
    return std::string(buf);
  };
  const std::string where = "at " + degrees(firstElsewhere_.lon, "E", "W") + ", " +
                            degrees(firstElsewhere_.lat, "N", "S");
  std::string text = std::to_string(rowsLeftOut) +
                     (rowsLeftOut == 1 ? " row lies" : " rows lie") +
                     " outside the lower 48 states, Alaska and Hawaii and " +
                     (rowsLeftOut == 1 ? "is" : "are") + " not drawn";
  if (leftOutPlaces_.empty()) return text + " (the first " + where + ").";
  text += ": ";
  for (size_t i = 0; i < leftOutPlaces_.size(); ++i)
    text += (i == 0 ? "" : ", ") + leftOutPlaces_[i].first + " (" +
            std::to_string(leftOutPlaces_[i].second) + ")";
  if (leftOutElsewhere_ > 0)
    text += ", " + std::to_string(leftOutElsewhere_) + " elsewhere (the first " + where + ")";
  return text + ".";
}

std::string Env::dynamic(std::string_view name) const {
  for (const auto& [k, v] : req.dynamics)
    if (sameNoCase(k, name)) return v;
  return {};
}

bool Env::hasDynamic(std::string_view name) const {
  for (const auto& kv : req.dynamics)
    if (sameNoCase(kv.first, name)) return true;
  return false;
}

void Env::warn(const std::string& text) {
  if (warned_.insert(text).second) warnings.push_back(text);
}

void Env::dataMessage(bool warning, const std::string& text) {
  if (warned_.insert(text).second) dataMessages.push_back({warning, text});
}

std::string Env::firstValues(const std::vector<std::string>& shown, size_t count) {
  std::string out;
  for (const std::string& v : shown) out += (out.empty() ? "" : ", ") + v;
  if (count > shown.size()) out += ", ...";
  return out;
}

const AttrVar* Env::attrVar(std::string_view name) const {
  for (const AttrVar& a : model.attrVars)
    if (sameNoCase(a.name, name)) return &a;
  return nullptr;
}

namespace {

enum class Coordinates { Degrees, WebMercator, Other };

Coordinates coordinatesNamed(std::string_view name) {
  std::string n;
  for (char c : name)
    if (!isBlank(c) && c != '_' && c != '-') n += upperAscii(c);
  if (n.empty()) return Coordinates::Degrees;
  for (const char* d : {"EPSG:4326", "WGS84", "CRS84", "OGC:CRS84", "LONLAT", "LATLONG",
                        "LONGLAT", "DEGREES", "GEOGRAPHIC", "EPSG:4269", "NAD83"})
    if (n == d) return Coordinates::Degrees;
  for (const char* m : {"EPSG:3857", "EPSG:900913", "EPSG:3785", "EPSG:102100", "EPSG:102113",
                        "WEBMERCATOR", "PSEUDOMERCATOR", "SPHERICALMERCATOR"})
    if (n == m) return Coordinates::WebMercator;
  return Coordinates::Other;
}

}  // namespace

bool Env::inDegrees(const DataColumn*& x, const DataColumn*& y, std::string_view systemName,
                    std::string_view dataName, std::string_view dataSystem, bool mapData) {
  if (!x || !y || !x->numeric || !y->numeric) return true;
  std::string system = decodeTextEscapes(dynamic(systemName));
  if (system.empty()) system = dataSystem;
  const Coordinates kind = coordinatesNamed(system);
  if (kind == Coordinates::Degrees) return true;
  const std::string key = std::string(dataName) + "#" + x->name + "#" + y->name + "#" + system;
  for (size_t i = 0; i + 1 < converted_.size(); i += 2)
    if (converted_[i].name == key && converted_[i].num.size() == x->num.size()) {
      x = &converted_[i];
      y = &converted_[i + 1];
      return true;
    }
  DataColumn cx = *x, cy = *y;
  cx.name = cy.name = key;
  const size_t n = std::min(cx.num.size(), cy.num.size());
  std::vector<double>& vx = cx.num.own();
  std::vector<double>& vy = cy.num.own();
  vx.resize(n);
  vy.resize(n);
  if (kind == Coordinates::WebMercator) {
    constexpr double kRadius = 6378137, kPi = 3.14159265358979323846, kDeg = 180 / kPi;
    for (size_t i = 0; i < n; ++i) {
      vx[i] = vx[i] / kRadius * kDeg;
      vy[i] = (2 * std::atan(std::exp(vy[i] / kRadius)) - kPi / 2) * kDeg;
    }
  } else {
    std::string error;
    auto converter = makeCoordinateConverter(system, &error);
    if (!converter) {
      if (mapData)
        throw UnusableData("The coordinate system " + system + " of the map data " +
                           std::string(dataName) + " cannot be used (" + error +
                           "); the map cannot be drawn.");
      if (unknownSystems_.insert(system + "\n" + std::string(dataName)).second)
        warn("The coordinate system " + system + " of the data " + std::string(dataName) +
             " is not known to PROJ (" + error + "); what would be drawn from it is left out.");
      return false;
    }
    std::vector<Point> pts(n);
    for (size_t i = 0; i < n; ++i) pts[i] = {vx[i], vy[i]};
    converter->toLonLat(pts.data(), n);
    const AreaOfUse* area = converter->areaOfUse();
    size_t placed = 0, farOut = 0;
    for (size_t i = 0; i < n; ++i) {
      const bool ok = std::isfinite(pts[i].x) && std::isfinite(pts[i].y) &&
                      std::fabs(pts[i].x) < 1e6 && std::fabs(pts[i].y) <= 90;
      vx[i] = ok ? pts[i].x : NAN;
      vy[i] = ok ? pts[i].y : NAN;
      placed += ok;
      farOut += ok && area && area->farOutside(pts[i].x, pts[i].y);
    }
    // Coordinates in another system than the one named land somewhere
    // else on the Earth, often in an ocean. Data that only reach beyond
    // the area (Alaska's islands in a system for the lower 48 states) are
    // drawn as they are.
    if (farOut * 2 > placed)
      warn("Most positions of the data " + std::string(dataName) +
           " lie far outside the area of use of their coordinate system " + system + " (" +
           area->described() + "); is that the system they are in?");
  }
  converted_.push_back(std::move(cx));
  converted_.push_back(std::move(cy));
  x = &converted_[converted_.size() - 2];
  y = &converted_.back();
  return true;
}

std::string layerName(const Layer& layer) {
  return layer.name.empty() ? layer.statement : layer.name;
}

// --- Colors -------------------------------------------------------------------

bool colorFromText(std::string_view text, Rgba& out) {
  text = trim(text);
  if (parseColorText(text, out)) return true;
  if (text.size() == 7 && text[0] == '#') {
    uint32_t v = 0;
    for (size_t i = 1; i < 7; ++i) {
      int d = hexValue(text[i]);
      if (d < 0) return false;
      v = v * 16 + static_cast<uint32_t>(d);
    }
    out = rgbHex(v);
    return true;
  }
  if (std::optional<uint32_t> rgb = cssColor(text)) {
    out = rgbHex(*rgb);
    return true;
  }
  return false;
}

const std::vector<Rgba>* rampByName(const Style& style, std::string_view name) {
  if (sameNoCase(name, "TwoColorRamp") || sameNoCase(name, "TwoColorAltRamp") ||
      sameNoCase(name, "TwoAltColorRamp"))
    return &style.twoColorRamp;
  if (sameNoCase(name, "ThreeColorRamp") || sameNoCase(name, "ThreeColorAltRamp") ||
      sameNoCase(name, "ThreeAltColorRamp"))
    return &style.threeColorRamp;
  return nullptr;
}

bool colorOf(const Value& v, const Style& style, Rgba& out) {
  if (v.rgb) {
    out = rgbHex((uint32_t(v.rgb->r) << 16) | (uint32_t(v.rgb->g) << 8) | v.rgb->b);
    return true;
  }
  if (v.kind == Value::Kind::StyleRef) {
    size_t colon = v.text.find(':');
    std::string_view element = std::string_view(v.text).substr(0, colon);
    std::string attr = colon == std::string::npos ? "" : lower(v.text.substr(colon + 1));
    if (const std::vector<Rgba>* ramp = rampByName(style, element)) {
      if (attr == "startcolor") out = ramp->front();
      else if (attr == "endcolor") out = ramp->back();
      else if (attr == "neutralcolor") out = rampColor(*ramp, 0.5);
      else return false;
      return true;
    }
    if (int n = graphDataNumber(element)) {
      DataStyle d = graphData(style, n);
      out = attr == "contrastcolor" ? d.contrast : d.fill;
      return true;
    }
    return false;
  }
  if (v.kind == Value::Kind::Stepper) {
    out = stepperColor(v, style);
    return true;
  }
  return colorFromText(v.text, out);
}

// --- Lengths and fonts ----------------------------------------------------------

double lengthPx(const Value& v, double percentOf, double fallback) {
  if (v.kind != Value::Kind::Number && v.kind != Value::Kind::Dimension) return fallback;
  double n = v.number, px = n;
  switch (v.unit) {
    case Unit::None:
    case Unit::Px: px = n; break;
    case Unit::Pt: px = n * kPxPerPt; break;
    case Unit::In: px = n * 96; break;
    case Unit::Cm: px = n * 96 / 2.54; break;
    case Unit::Mm: px = n * 9.6 / 2.54; break;
    case Unit::Percent: px = percentOf * n / 100; break;
  }
  return std::isfinite(px) && px >= 0 ? px : fallback;
}

int graphDataNumber(std::string_view element) {
  if (element.size() <= 9 || !sameNoCase(element.substr(0, 9), "GraphData")) return 0;
  int n = 0;
  std::string_view d = element.substr(9);
  auto [p, ec] = std::from_chars(d.data(), d.data() + d.size(), n);
  return ec == std::errc() && p == d.data() + d.size() && n > 0 ? n : 0;
}

FontStyle fontOfElement(const Style& style, std::string_view element, const FontStyle& fallback) {
  if (sameNoCase(element, "GraphTitleText") || sameNoCase(element, "GraphTitle1Text"))
    return style.graphTitleText;
  if (sameNoCase(element, "GraphFootnoteText")) return style.graphFootnoteText;
  if (sameNoCase(element, "GraphLabelText")) return style.graphLabelText;
  if (sameNoCase(element, "GraphValueText")) return style.graphValueText;
  if (sameNoCase(element, "GraphDataText")) return style.graphDataText;
  return fallback;
}

double fontSizePt(const Value& v, const Style& style, double percentOfPx, double fallback) {
  double pt = fallback;
  if (v.kind == Value::Kind::StyleRef) {
    std::string_view element = std::string_view(v.text).substr(0, v.text.find(':'));
    FontStyle none;
    none.sizePt = fallback;
    pt = fontOfElement(style, element, none).sizePt;
  } else if (v.kind == Value::Kind::Number || v.kind == Value::Kind::Dimension) {
    if (v.unit == Unit::None || v.unit == Unit::Pt) pt = v.number;
    else pt = lengthPx(v, percentOfPx, fallback * kPxPerPt) / kPxPerPt;
  }
  if (!std::isfinite(pt) || pt <= 0) return fallback;
  return std::min(pt, 400.0);
}

void applyTextBlock(const Value* block, const Style& style, double percentBase, FontStyle& font) {
  if (!block) return;
  if (!block->styleElement.empty()) {
    if (int n = graphDataNumber(block->styleElement)) font.color = graphData(style, n).contrast;
    else font = fontOfElement(style, block->styleElement, font);
  }
  if (const Value* c = block->find(Attr::Color)) colorOf(*c, style, font.color);
  if (const Value* f = block->find(Attr::Family); f && !f->text.empty()) font.family = f->text;
  if (const Value* s = block->find(Attr::Size)) font.sizePt = fontSizePt(*s, style, percentBase, font.sizePt);
  if (const Value* w = block->find(Attr::Weight)) font.bold = sameNoCase(w->text, "bold");
  if (const Value* s = block->find(Attr::Style)) font.italic = sameNoCase(s->text, "italic");
}

void applyLineBlock(const Value* block, const Style& style, double percentBase, LineLook& line) {
  if (!block) return;
  if (int n = graphDataNumber(block->styleElement)) {
    DataStyle d = graphData(style, n);
    line.color = d.contrast;
    line.pattern = d.linePattern;
  }
  if (const Value* c = block->find(Attr::Color)) colorOf(*c, style, line.color);
  if (const Value* p = block->find(Attr::Pattern)) {
    int code = 1;
    if (p->kind == Value::Kind::Number) line.pattern = static_cast<int>(p->number);
    else if (linePatternFromName(p->text, code)) line.pattern = code;
  }
  if (const Value* t = block->find(Attr::Thickness)) line.width = lengthPx(*t, percentBase, line.width);
}

Rgba withTransparency(Rgba c, double t) {
  if (std::isfinite(t) && t > 0) c.a *= 1 - std::min(t, 1.0);
  return c;
}

double dataTransparency(const Layer& layer) {
  const Value* v = layer.options.find(Key::DataTransparency);
  if (!v || !std::isfinite(v->number)) return 0;
  return std::clamp(v->number, 0.0, 1.0);
}

FontStyle layerFont(Env& env, const Layer& layer, Key option) {
  FontStyle f = env.style.graphDataText;
  applyTextBlock(layer.options.find(option), env.style, env.percentBase, f);
  return f;
}

bool groupRows(Env& env, const Layer& layer, DataTable* table, const std::string& name,
               Grouping& g, std::vector<int>& rowGroup, std::string& groupTitle) {
  const ColumnRef* group = layer.column(Role::Group);
  if (!group) return false;
  const bool withMissing = get<bool>(layer, Key::IncludeMissingGroup, true);
  std::string problem;
  if (!g.init(env, group->column, table, withMissing, &problem)) {
    env.warn("The plot " + name + " is drawn without its groups: " + problem + ".");
    return false;
  }
  rowGroup.resize(table->rows(), -1);
  for (size_t r = 0; r < rowGroup.size(); ++r) rowGroup[r] = g.group(r);
  groupTitle = g.title();
  return true;
}

bool pointColumns(Env& env, const Layer& layer, DataTable*& table, const DataColumn*& x,
                  const DataColumn*& y) {
  const std::string name = layerName(layer);
  table = env.table(layer.dataId.empty() ? "PLOTDATA" : layer.dataId);
  if (!table) {
    env.warn("The plot " + name + " is not drawn: its data " + layer.dataId +
             " was not handed to the renderer.");
    return false;
  }
  const ColumnRef* cx = layer.column(Role::X);
  const ColumnRef* cy = layer.column(Role::Y);
  x = cx ? table->column(cx->column) : nullptr;
  y = cy ? table->column(cy->column) : nullptr;
  for (auto [ref, col, axis] : {std::tuple{cx, x, "X"}, std::tuple{cy, y, "Y"}}) {
    if (!ref) {
      env.warn("The plot " + name + " is not drawn: it has no " + axis + " column.");
      return false;
    }
    if (!col) {
      env.warn("The plot " + name + " is not drawn: its " + axis + " column " + ref->column +
               " is not in the data " + table->displayName() + ".");
      return false;
    }
    if (!col->numeric) {
      env.warn("The plot " + name + " is not drawn: its " + axis + " column " + ref->column +
               " is not numeric (longitude and latitude are numbers).");
      return false;
    }
  }
  // A system PROJ does not know has been warned of, naming the data.
  if (!env.inDegrees(x, y, "__PLOTCS__", table->displayName(), table->coordinateSystem()))
    return false;
  return true;
}

// --- Groups -------------------------------------------------------------------

namespace {

// Does an attribute map value text stand for a data value?
bool valueMatches(std::string_view entry, std::string_view text, double number, bool missing,
                  bool ignoreCase) {
  entry = trim(entry);
  if (missing) return entry.empty() || entry == ".";
  if (ignoreCase ? sameNoCase(entry, text) : entry == text) return true;
  double e = 0;
  return std::isfinite(number) && parseNumber(entry, e) && e == number;
}

std::string entryLabel(const DiscreteAttrValue& v) {
  for (const std::string& t : v.values) {
    std::string_view s = trim(t);
    if (!s.empty()) return std::string(s);
  }
  return ".";
}

// An attribute map's name as the user knows it: the ID of a DATTRMAP= or
// RATTRMAP= map without the prefix its template name has. "__ATTRMAP__"
// and a number name a map made from value lists: it stays whole.
std::string userMapName(std::string_view name) {
  constexpr std::string_view kDiscrete = "__ATTRMAP__", kRange = "__RATTRMAP__";
  if (name.size() > kRange.size() && name.substr(0, kRange.size()) == kRange)
    return std::string(name.substr(kRange.size()));
  if (name.size() > kDiscrete.size() && name.substr(0, kDiscrete.size()) == kDiscrete &&
      name.find_first_not_of("0123456789", kDiscrete.size()) != std::string_view::npos)
    return std::string(name.substr(kDiscrete.size()));
  return std::string(name);
}

}  // namespace

bool Grouping::init(Env& env, std::string_view column, DataTable* table, bool includeMissing,
                    std::string* problem) {
  std::string varName(column);
  if (const AttrVar* av = env.attrVar(column); av && !av->range) {
    varName = av->variable;
    map_ = env.model.discreteMap(av->map);
  }
  const DataColumn* col = table->column(varName);
  if (!col) {
    *problem = "its group column " + varName + " is not in the data " +
               table->displayName();
    return false;
  }
  title_ = col->label.empty() ? col->name : col->label;

  int mapCount = 0;
  const DiscreteAttrValue* other = nullptr;
  if (map_) {
    for (const DiscreteAttrValue& v : map_->values) {
      if (v.other) {
        other = &v;
        continue;
      }
      GroupEntry g;
      g.label = entryLabel(v);
      g.graphData = ++mapCount;
      g.attrs = &v;
      entries_.push_back(std::move(g));
    }
  }
  int unlisted = 0;
  std::vector<std::string> unmatched;  // the first values no entry of the map takes
  size_t unmatchedCount = 0;
  auto find = [&](const std::string& text, double number, bool missing) -> int {
    if (missing && !includeMissing) return -1;
    if (map_) {
      for (int i = 0; i < mapCount; ++i) {
        for (const std::string& t : entries_[static_cast<size_t>(i)].attrs->values)
          if (valueMatches(t, text, number, missing, map_->ignoreCase)) return i;
      }
    }
    for (size_t i = static_cast<size_t>(mapCount); i < entries_.size(); ++i)
      if (entries_[i].label == text) return static_cast<int>(i);
    GroupEntry g;
    g.label = text;
    if (map_ && !missing && unmatchedCount++ < Env::kShownValues) unmatched.push_back(text);
    ++unlisted;
    g.graphData = map_ && map_->autoCycle ? mapCount + unlisted : unlisted;
    g.attrs = other;
    entries_.push_back(std::move(g));
    return static_cast<int>(entries_.size() - 1);
  };

  const size_t n = col->size();
  rowGroup_.assign(n, -1);
  if (col->numeric) {
    std::unordered_map<double, int> seen;
    int missingGroup = -2;
    for (size_t r = 0; r < n; ++r) {
      double v = col->num[r];
      int g;
      if (std::isnan(v)) {
        if (missingGroup == -2) missingGroup = find(col->text(r), kNaN, true);
        g = missingGroup;
      } else if (auto it = seen.find(v); it != seen.end()) {
        g = it->second;
      } else {
        g = find(col->text(r), v, false);
        seen.emplace(v, g);
      }
      rowGroup_[r] = g;
    }
  } else {
    std::unordered_map<std::string_view, int> seen;
    for (size_t r = 0; r < n; ++r) {
      std::string_view raw = col->chr[r];
      int g;
      if (auto it = seen.find(raw); it != seen.end()) {
        g = it->second;
      } else {
        bool missing = trim(raw).empty();
        std::string text = col->text(r);
        double num = kNaN;
        parseNumber(text, num);
        g = find(missing ? std::string() : text, num, missing);
        seen.emplace(raw, g);
      }
      rowGroup_[r] = g;
    }
  }
  for (int g : rowGroup_)
    if (g >= 0) entries_[static_cast<size_t>(g)].present = true;
  // Values the map does not list (and no Other entry takes) cycle through
  // the style's group looks: say so, so that a misspelt value is seen.
  if (unmatchedCount > 0 && !other) {
    const std::string shown = Env::firstValues(unmatched, unmatchedCount);
    const size_t n = unmatchedCount;
    const std::string mapName = userMapName(map_->name);
    env.dataMessage(false, std::to_string(n) + (n == 1 ? " value of " : " values of ") +
                               col->name + " in " + table->displayName() +
                               (n == 1 ? " matches" : " match") +
                               " no value of the discrete attribute map " + mapName +
                               " (" + shown + "); " + (n == 1 ? "it takes" : "they take") +
                               " the default group looks.");
  }
  return true;
}

std::vector<int> Grouping::legendOrder() const {
  std::vector<int> out;
  const bool all = map_ && map_->showAll;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].present || (all && entries_[i].attrs && i < map_->values.size()))
      out.push_back(static_cast<int>(i));
  return out;
}

const Value* entryBlock(const GroupEntry& g, Key key) {
  return g.attrs ? g.attrs->options.find(key) : nullptr;
}

// --- Color responses ------------------------------------------------------------

bool ColorResponse::init(Env& env, const Layer& layer, std::string_view column, DataTable* table,
                         std::string* problem) {
  style_ = &env.style;
  std::string varName(column);
  if (const AttrVar* av = env.attrVar(column); av && av->range) {
    varName = av->variable;
    map_ = env.model.rangeMap(av->map);
    if (!map_)
      env.warn("The range attribute map " + userMapName(av->map) + " of " + layerName(layer) +
               " is not in the template; its colors follow the response continuously.");
  }
  col_ = table->column(varName);
  if (!col_ || !col_->numeric) {
    *problem = "its color response " + varName +
               (col_ ? " is not numeric" : " is not in the data " + table->displayName());
    col_ = nullptr;
    return false;
  }
  title_ = col_->label.empty() ? col_->name : col_->label;
  bool any = false;
  for (double v : col_->num) {
    if (std::isnan(v)) continue;
    if (!any) min_ = max_ = v;
    min_ = std::min(min_, v);
    max_ = std::max(max_, v);
    maxAbs_ = std::max(maxAbs_, std::fabs(v));
    any = true;
  }
  ramp_ = env.style.threeColorRamp;
  if (const Value* model = layer.options.find(Key::ColorModel)) {
    std::vector<Rgba> r = modelColors(*model, env.style);
    if (r.size() >= 2) ramp_ = std::move(r);
    else
      env.warn("The color model " + model->text + " of " + layerName(layer) +
               " is not known; the three-color ramp is used.");
  }
  return true;
}

double ColorResponse::bound(const RangeBound& b) const {
  switch (b.kind) {
    case RangeBound::Kind::Number: return b.value;
    case RangeBound::Kind::Min: return min_;
    case RangeBound::Kind::Max: return max_;
    case RangeBound::Kind::NegMax: return -max_;
    case RangeBound::Kind::MaxAbs: return maxAbs_;
    case RangeBound::Kind::NegMaxAbs: return -maxAbs_;
  }
  return b.value;
}

int ColorResponse::rangeOf(double v) const {
  const std::vector<RangeEntry>& rs = map_->ranges;
  double lowest = std::numeric_limits<double>::infinity(), highest = -lowest;
  int under = -1, over = -1, other = -1;
  for (size_t i = 0; i < rs.size(); ++i) {
    const RangeEntry& e = rs[i];
    switch (e.special) {
      case RangeEntry::Special::None: {
        double lo = bound(e.low), hi = bound(e.high);
        lowest = std::min(lowest, lo);
        highest = std::max(highest, hi);
        // Bounds are taken exactly as written: the template writes them
        // so that they read back as the values they stand for.
        bool aboveLow = e.excludeLow ? v > lo : v >= lo;
        bool belowHigh = e.excludeHigh ? v < hi : v <= hi;
        if (aboveLow && belowHigh) return static_cast<int>(i);
        break;
      }
      case RangeEntry::Special::Under: under = static_cast<int>(i); break;
      case RangeEntry::Special::Over: over = static_cast<int>(i); break;
      case RangeEntry::Special::Other: other = static_cast<int>(i); break;
      case RangeEntry::Special::Missing: break;
    }
  }
  if (under >= 0 && v < lowest) return under;
  if (over >= 0 && v > highest) return over;
  return other;
}

Rgba ColorResponse::rangeColor(int index, double v) const {
  const Style& st = *style_;
  const RangeEntry& e = map_->ranges[static_cast<size_t>(index)];
  Rgba c;
  if (e.color && anyColor(*e.color, st, c)) return c;
  if (e.colorModel) {
    std::vector<Rgba> ramp = modelColors(*e.colorModel, st);
    if (ramp.size() >= 2) {
      double lo = bound(e.low), hi = bound(e.high);
      double t = e.special == RangeEntry::Special::None && hi > lo && std::isfinite(v)
                     ? (v - lo) / (hi - lo)
                     : 0.5;
      return rampColor(ramp, t);
    }
  }
  if (e.altColor && anyColor(*e.altColor, st, c)) return c;
  if (e.special == RangeEntry::Special::Missing) return st.missingColor;
  const size_t n = map_->ranges.size();
  return rampColor(st.twoColorRamp, n > 1 ? double(index) / double(n - 1) : 0.5);
}

int ColorResponse::classOf(double v) const {
  if (!map_) return -1;
  if (!std::isnan(v)) return rangeOf(v);
  for (size_t i = 0; i < map_->ranges.size(); ++i)
    if (map_->ranges[i].special == RangeEntry::Special::Missing) return static_cast<int>(i);
  return -1;
}

Rgba ColorResponse::color(double v) const {
  const Style& st = *style_;
  if (map_) {
    const int i = classOf(v);
    return i >= 0 ? rangeColor(i, v) : st.missingColor;
  }
  if (std::isnan(v)) return st.missingColor;
  double t = max_ > min_ ? (v - min_) / (max_ - min_) : 0.5;
  return rampColor(ramp_, t);
}

Rgba ColorResponse::rowColor(size_t row) const {
  double v = value(row);
  if (std::isnan(v)) sawMissing_ = true;
  return color(v);
}

std::vector<RangeClass> ColorResponse::classes() const {
  std::vector<RangeClass> out;
  if (!map_) return out;
  bool missingClass = false;
  for (size_t i = 0; i < map_->ranges.size(); ++i) {
    const RangeEntry& e = map_->ranges[i];
    RangeClass c;
    double lo = bound(e.low), hi = bound(e.high);
    switch (e.special) {
      case RangeEntry::Special::None:
        c.label = e.label ? *e.label
                          : (lo == hi ? shortNumber(lo) : shortNumber(lo) + " - " + shortNumber(hi));
        break;
      case RangeEntry::Special::Other: c.label = e.label ? *e.label : "Other"; break;
      case RangeEntry::Special::Under: c.label = e.label ? *e.label : "Under"; break;
      case RangeEntry::Special::Over: c.label = e.label ? *e.label : "Over"; break;
      case RangeEntry::Special::Missing:
        c.label = e.label ? *e.label : "Missing";
        missingClass = true;
        break;
    }
    double mid = e.special == RangeEntry::Special::None ? (lo + hi) / 2 : kNaN;
    c.color = rangeColor(static_cast<int>(i), mid);
    out.push_back(std::move(c));
  }
  if (sawMissing_ && !missingClass) out.push_back({"Missing", style_->missingColor});
  return out;
}

void projectRowBlocks(const PlanarContext& pc, const DataColumn* x, const DataColumn* y,
                      const std::vector<int>* rowGroup, size_t* leftOut,
                      const std::function<void(size_t, const Point*, size_t)>& take,
                      size_t from, size_t to) {
  const MapProjection& map = *pc.map;
  const size_t n = std::min({x->size(), y->size(), to});
  const double* xs = x->num.data();
  const double* ys = y->num.data();
  const bool ask = map.refusesSome();
  const double lon0 = pc.cut.lon0;
  size_t refused = 0;
  constexpr size_t kBlock = 16384;
  std::vector<Point> block(std::min(n - std::min(n, from), kBlock));
  for (size_t first = from; first < n; first += kBlock) {
    const size_t count = std::min(kBlock, n - first);
    Point* out = block.data();
    for (size_t i = 0; i < count; ++i) {
      const size_t r = first + i;
      out[i] = Point{NAN, NAN};
      if (rowGroup && (r >= rowGroup->size() || (*rowGroup)[r] < 0)) continue;
      const LonLat p{xs[r], ys[r]};
      if (!std::isfinite(p.lon) || !std::isfinite(p.lat)) continue;
      if (ask && !map.accepts(p)) {
        ++refused;
        continue;
      }
      const LonLat w = wrapToCentre(p, lon0);
      out[i] = {w.lon, w.lat};
    }
    if (leftOut) *leftOut += refused;
    refused = 0;
    map.forwardPoints(block.data(), count);
    take(first, block.data(), count);
  }
}

void countRowsLeftOut(Env& env, const PlanarContext& pc, const DataColumn* x,
                      const DataColumn* y, const std::vector<int>* rowGroup) {
  const MapProjection& map = *pc.map;
  const size_t n = std::min(x->size(), y->size());
  for (size_t r = 0; r < n; ++r) {
    if (rowGroup && (r >= rowGroup->size() || (*rowGroup)[r] < 0)) continue;
    const LonLat p{x->num[r], y->num[r]};
    if (std::isfinite(p.lon) && std::isfinite(p.lat) && !map.accepts(p)) env.leftOut(map, 1, p);
  }
}

PlanarBox projectPoints(Env& env, const ProjectContext& pc, const DataColumn* x,
                        const DataColumn* y, const std::vector<int>* rowGroup, double reach,
                        std::vector<Point>& planar) {
  planar.resize(std::min(x->size(), y->size()));
  size_t leftOut = 0;
  projectRowBlocks(pc.planar, x, y, rowGroup, &leftOut,
                   [&](size_t first, const Point* pts, size_t n) {
                     std::copy(pts, pts + n, planar.begin() + static_cast<std::ptrdiff_t>(first));
                   });
  if (leftOut > 0) countRowsLeftOut(env, pc.planar, x, y, rowGroup);
  PlanarBox box;
  box.add(planar);
  box.box.left = box.box.right = box.box.top = box.box.bottom = std::max(0.0, reach);
  return box;
}

}  // namespace qv::render
