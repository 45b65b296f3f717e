// "ScatterPlot": a marker at each (X, Y) of the plot data, in the symbol,
// size and color of its group (GraphData cycling or a discrete attribute
// map) or of its color response, with optional data labels.
//
// Markers sit on whole pixels (subpixel=off), so each distinct look is
// drawn once into a small image and stamped where the points fall; a point
// whose pixel already holds the same stamp is skipped. A million points cost
// a projection and a few dozen pixel blends each.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "render/draw.h"

namespace qv::render {

namespace {

// A marker drawn once, centered on pixel (center, center).
struct Sprite {
  int size = 0, center = 0;
  std::vector<uint32_t> px;  // premultiplied ARGB, as Cairo keeps it
};

Sprite makeSprite(const MarkerStyle& m) {
  Sprite s;
  const double reach = std::max(1.0, m.size / 2 + m.lineWidth + 1);
  s.center = static_cast<int>(std::ceil(std::min(reach, 200.0)));
  s.size = 2 * s.center + 1;
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s.size, s.size);
  cairo_t* cr = cairo_create(surf);
  drawMarker(cr, m, {s.center + 0.5, s.center + 0.5});
  cairo_destroy(cr);
  cairo_surface_flush(surf);
  const unsigned char* data = cairo_image_surface_get_data(surf);
  const int stride = cairo_image_surface_get_stride(surf);
  s.px.resize(static_cast<size_t>(s.size) * static_cast<size_t>(s.size));
  for (int y = 0; y < s.size; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    std::copy(row, row + s.size, s.px.begin() + static_cast<ptrdiff_t>(y) * s.size);
  }
  cairo_surface_destroy(surf);
  return s;
}

// Source-over of a premultiplied pixel onto another.
inline uint32_t blend(uint32_t s, uint32_t d) {
  const uint32_t a = s >> 24;
  if (a == 255) return s;
  const uint32_t inv = 255 - a;
  uint32_t rb = (d & 0x00FF00FFu) * inv + 0x00800080u;
  rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
  uint32_t ag = ((d >> 8) & 0x00FF00FFu) * inv + 0x00800080u;
  ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
  return s + (rb | ag);
}

// The image of a canvas, for stamping, with the rectangle to stay within.
struct Target {
  uint32_t* data = nullptr;
  int stride = 0;  // in pixels
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

void stamp(const Target& t, const Sprite& s, int cx, int cy) {
  const int left = cx - s.center, top = cy - s.center;
  const int i0 = std::max(0, t.x0 - left), i1 = std::min(s.size, t.x1 - left);
  const int j0 = std::max(0, t.y0 - top), j1 = std::min(s.size, t.y1 - top);
  for (int j = j0; j < j1; ++j) {
    const uint32_t* src = &s.px[static_cast<size_t>(j) * static_cast<size_t>(s.size)];
    uint32_t* dst = t.data + static_cast<ptrdiff_t>(top + j) * t.stride + left;
    for (int i = i0; i < i1; ++i)
      if (src[i] >> 24) dst[i] = blend(src[i], dst[i]);
  }
}

uint32_t packColor(const Rgba& c) {
  auto b = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  return (b(c.a) << 24) | (b(c.r) << 16) | (b(c.g) << 8) | b(c.b);
}

}  // namespace

// The marker look of a plot's group (or of the plot when `g` is null).
MarkerStyle markerLook(Env& env, const Layer& layer, const GroupEntry* g) {
  const Style& st = env.style;
  const Value* block = layer.options.find("Markerattrs");
  int n = g ? g->graphData : (block && block->graphData > 0 ? block->graphData : 1);
  auto reset = [&](int element, MarkerStyle& m) {
    DataStyle d = graphData(st, element);
    m.symbol = d.symbol;
    m.color = d.contrast;
  };
  auto apply = [&](const Value* b, MarkerStyle& m) {
    if (!b) return;
    if (const Value* c = b->find("Color")) colorOf(*c, st, m.color);
    if (const Value* s = b->find("Symbol")) {
      MarkerSymbol sym;
      if (markerSymbolFromName(s->text, sym)) m.symbol = sym;
      else env.warn("The marker symbol " + s->text + " of " + layerName(layer) +
                    " is not known; the default symbol is drawn.");
    }
    if (const Value* s = b->find("Size")) m.size = std::min(lengthPx(*s, env.percentBase, m.size), 400.0);
    if (const Value* t = b->find("Transparency")) m.color = withTransparency(m.color, t->number);
  };
  MarkerStyle m;
  m.size = st.markerSizePx;
  m.lineWidth = 1;
  reset(n, m);
  apply(block, m);
  if (g) {
    if (const Value* e = entryBlock(*g, "markerattrs")) {
      if (int en = graphDataNumber(e->styleElement)) reset(en, m);
      apply(e, m);
    }
  }
  m.color = withTransparency(m.color, dataTransparency(layer));
  return m;
}

// Data labels of a point plot: the DataLabel= column at each point.
void drawDataLabels(Env& env, const DrawContext& dc, const Layer& layer, DataTable* table,
                    const DataColumn* x, const DataColumn* y, const std::vector<int>* rowGroup,
                    TextPosition defaultPosition, double clearance) {
  const ColumnRef* ref = layer.column(Role::DataLabel);
  if (!ref) return;
  const DataColumn* labels = table->column(ref->column);
  if (!labels) {
    env.warn("The data labels of " + layerName(layer) + " are not drawn: the column " +
             ref->column + " is not in the data " + std::string(table->name()) + ".");
    return;
  }
  LabelStyle ls;
  ls.font = layerFont(env, layer, "DataLabelAttrs");
  ls.font.color = withTransparency(ls.font.color, dataTransparency(layer));
  ls.position = defaultPosition;
  if (const Value* p = layer.options.find("dataLabelPosition")) textPositionFromName(p->text, ls.position);
  ls.pad = clearance;
  const Rect inside = dc.area.inflated(20);
  const size_t n = std::min({x->size(), y->size(), labels->size()});
  for (size_t r = 0; r < n; ++r) {
    if (rowGroup && (*rowGroup)[r] < 0) continue;
    if (labels->missing(r)) continue;
    Point p = dc.proj.project(x->num[r], y->num[r]);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !inside.contains(p)) continue;
    drawLabel(dc.cr, {std::floor(p.x) + 0.5, std::floor(p.y) + 0.5}, labels->text(r), ls);
  }
}

namespace {

class ScatterLayer final : public PreparedLayer {
 public:
  explicit ScatterLayer(const Layer& l) : PreparedLayer(l) {}

  void draw(Env& env, const DrawContext& dc) override {
    cairo_surface_t* surf = dc.canvas->surface();
    cairo_surface_flush(surf);
    Target t;
    t.data = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(surf));
    t.stride = cairo_image_surface_get_stride(surf) / 4;
    t.x0 = std::max(0, static_cast<int>(std::ceil(dc.area.x)));
    t.y0 = std::max(0, static_cast<int>(std::ceil(dc.area.y)));
    t.x1 = std::min(dc.canvas->width(), static_cast<int>(std::floor(dc.area.right())));
    t.y1 = std::min(dc.canvas->height(), static_cast<int>(std::floor(dc.area.bottom())));
    if (!t.data || t.x1 <= t.x0 || t.y1 <= t.y0) return;

    std::vector<Sprite> sprites;
    std::vector<int> lookSprite(looks.size(), -1);
    std::unordered_map<uint32_t, int> colorSprite;  // color response: by color
    auto spriteOf = [&](size_t r) -> int {
      if (scale) {
        MarkerStyle m = looks[0];
        Rgba c = withTransparency(scale->rowColor(r), dataTransparency(layer));
        uint32_t key = packColor(c);
        auto it = colorSprite.find(key);
        if (it != colorSprite.end()) return it->second;
        m.color = c;
        sprites.push_back(makeSprite(m));
        colorSprite.emplace(key, static_cast<int>(sprites.size() - 1));
        return static_cast<int>(sprites.size() - 1);
      }
      size_t look = grouped ? static_cast<size_t>(rowGroup[r]) : 0;
      if (lookSprite[look] < 0) {
        sprites.push_back(makeSprite(looks[look]));
        lookSprite[look] = static_cast<int>(sprites.size() - 1);
      }
      return lookSprite[look];
    };

    // The stamp last put at each pixel, to skip repeats.
    const int w = t.x1 - t.x0, h = t.y1 - t.y0;
    std::vector<uint16_t> last(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    double reach = 0;
    for (const MarkerStyle& m : looks) reach = std::max(reach, m.size / 2 + m.lineWidth + 2);
    const double fx0 = t.x0 - reach, fx1 = t.x1 + reach, fy0 = t.y0 - reach, fy1 = t.y1 + reach;
    const size_t n = std::min(x->size(), y->size());
    for (size_t r = 0; r < n; ++r) {
      if (grouped && rowGroup[r] < 0) continue;
      const double lon = x->num[r], lat = y->num[r];
      if (!std::isfinite(lon) || !std::isfinite(lat)) continue;
      const Point p = dc.proj.project(lon, lat);
      if (!(p.x >= fx0 && p.x < fx1 && p.y >= fy0 && p.y < fy1)) continue;
      const int px = static_cast<int>(std::floor(p.x)), py = static_cast<int>(std::floor(p.y));
      const int s = spriteOf(r);
      if (s >= 65535) continue;  // more looks than the repeat check can tell apart
      if (px >= t.x0 && px < t.x1 && py >= t.y0 && py < t.y1) {
        uint16_t& seen = last[static_cast<size_t>(py - t.y0) * static_cast<size_t>(w) +
                             static_cast<size_t>(px - t.x0)];
        if (seen == s + 1) continue;
        seen = static_cast<uint16_t>(s + 1);
      }
      stamp(t, sprites[static_cast<size_t>(s)], px, py);
    }
    cairo_surface_mark_dirty(surf);

    double clearance = looks.empty() ? 4 : looks[0].size / 2 + 2;
    drawDataLabels(env, dc, layer, table, x, y, grouped ? &rowGroup : nullptr,
                   TextPosition::TopRight, clearance);
  }

  DataTable* table = nullptr;
  const DataColumn *x = nullptr, *y = nullptr;
  bool grouped = false;
  std::vector<int> rowGroup;
  std::vector<MarkerStyle> looks;  // per group, or one
};

}  // namespace

std::unique_ptr<PreparedLayer> prepareScatter(Env& env, const Layer& layer) {
  auto out = std::make_unique<ScatterLayer>(layer);
  if (!pointColumns(env, layer, out->table, out->x, out->y)) return nullptr;
  const std::string name = layerName(layer);
  const std::string label = layer.legendLabel ? *layer.legendLabel : name;
  std::string problem;
  LegendItem item;
  item.kind = LegendItem::Kind::Marker;

  const ColumnRef* group = layer.column(Role::Group);
  const ColumnRef* response = layer.column(Role::ColorResponse);
  Grouping g;
  if (group) {
    const Value* inc = layer.options.find("includemissinggroup");
    if (g.init(env, group->column, out->table, !inc || inc->flag, &problem)) {
      out->grouped = true;
      out->rowGroup.resize(out->table->rows(), -1);
      for (size_t r = 0; r < out->rowGroup.size(); ++r) out->rowGroup[r] = g.group(r);
      for (const GroupEntry& e : g.entries()) out->looks.push_back(markerLook(env, layer, &e));
      out->groupTitle = g.title();
    } else {
      env.warn("The plot " + name + " is drawn without its groups: " + problem + ".");
    }
  }
  if (!out->grouped) out->looks.push_back(markerLook(env, layer, nullptr));
  if (response && !out->grouped) {
    ColorResponse scale;
    if (scale.init(env, layer, response->column, out->table, &problem)) {
      out->groupTitle = scale.title();
      if (scale.ranged()) {
        // Colored by class: the legend lists the classes.
        for (const RangeClass& c : scale.classes()) {
          item.label = c.label;
          item.marker = out->looks[0];
          item.marker.color = c.color;
          out->items.push_back(item);
        }
      }
      out->scale = std::move(scale);
    } else {
      env.warn("The plot " + name + " is drawn without its color response: " + problem + ".");
    }
  }

  const size_t n = std::min(out->x->size(), out->y->size());
  for (size_t r = 0; r < n; ++r)
    if (!out->grouped || out->rowGroup[r] >= 0) out->extent.add(out->x->num[r], out->y->num[r]);

  if (out->grouped) {
    for (int gi : g.legendOrder()) {
      item.label = g.entries()[static_cast<size_t>(gi)].label;
      item.marker = out->looks[static_cast<size_t>(gi)];
      out->items.push_back(item);
    }
  } else if (out->items.empty()) {
    item.label = label;
    item.marker = out->looks[0];
    if (out->scale) item.marker.color = out->scale->color((out->scale->min() + out->scale->max()) / 2);
    out->items.push_back(item);
  }
  return out;
}

}  // namespace qv::render
