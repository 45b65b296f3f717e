// "BubblePlot": a circle at each (X, Y) whose area follows SIZE, on the
// plot's size scale (BubbleScale): the step's when its BY groups share one,
// else one from the rows drawn. Larger bubbles are drawn first so that
// small ones stay visible.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "render/marks/draw.h"

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The default radii: the floor under proportional sizes, the smallest
// radius of sizes with negative values, and the largest radius as a share
// of the graph's smaller side.
constexpr double kFloorRadius = 2;
constexpr double kLowRadius = 4;
constexpr double kMaxRadiusShare = 0.05;

// The radii of a plot's scale from its bubbleradiusmin= and
// bubbleradiusmax= (percentages of the graph's smaller side).
void bubbleRadii(const Env& env, const Layer& layer, BubbleScale& scale) {
  const double side = env.percentBase;
  double rmin = scale.proportional ? kFloorRadius : kLowRadius;
  double rmax = std::max(kLowRadius, side * kMaxRadiusShare);
  if (const Value* v = layer.options.find(Key::BubbleRadiusMin)) rmin = lengthPx(*v, side, rmin);
  if (const Value* v = layer.options.find(Key::BubbleRadiusMax)) rmax = lengthPx(*v, side, rmax);
  rmin = std::min(rmin, side);
  rmax = std::min(rmax, side);
  if (rmax < rmin) std::swap(rmin, rmax);
  scale.minRadius = rmin;
  scale.maxRadius = rmax;
}

struct BubbleLook {
  Rgba fill;
  LineLook outline;
};

// Which parts a Display=( ) list asks for; both without one.
void displayParts(const Layer& layer, bool& fill, bool& outline) {
  fill = outline = true;
  const Value* d = layer.options.find(Key::Display);
  if (!d || d->kind != Value::Kind::List) return;
  fill = outline = false;
  for (const Value& item : d->items) {
    if (sameNoCase(item.text, "Fill")) fill = true;
    if (sameNoCase(item.text, "Outline")) outline = true;
  }
}

BubbleLook bubbleLook(Env& env, const Layer& layer, const GroupEntry* g) {
  const Style& st = env.style;
  const Value* fillBlock = layer.options.find(Key::FillAttrs);
  const Value* lineBlock = layer.options.find(Key::OutlineAttrs);
  int n = g ? g->graphData : (fillBlock && fillBlock->graphData > 0 ? fillBlock->graphData : 1);
  DataStyle d = graphData(st, n);
  BubbleLook look{d.fill, LineLook{d.contrast, 1, 1}};
  auto applyFill = [&](const Value* b) {
    if (!b) return;
    if (int e = graphDataNumber(b->styleElement)) look.fill = graphData(st, e).fill;
    if (const Value* c = b->find(Attr::Color)) colorOf(*c, st, look.fill);
    if (const Value* t = b->find(Attr::Transparency)) look.fill = withTransparency(look.fill, t->number);
  };
  applyFill(fillBlock);
  applyLineBlock(lineBlock, st, env.percentBase, look.outline);
  if (g) {
    applyFill(entryBlock(*g, Key::FillAttrs));
    applyLineBlock(entryBlock(*g, Key::LineAttrs), st, env.percentBase, look.outline);
  }
  const double t = dataTransparency(layer);
  look.fill = withTransparency(look.fill, t);
  look.outline.color = withTransparency(look.outline.color, t);
  return look;
}

class BubbleLayer final : public PreparedLayer {
 public:
  explicit BubbleLayer(const Layer& l) : PreparedLayer(l) {}

  // Every row's radius (0 for rows not drawn), once the rows have planar
  // positions.
  void sizeBubbles() {
    radius.assign(size->size(), 0);
    for (size_t r = 0; r < radius.size() && r < planar.size(); ++r)
      if (std::isfinite(planar[r].x) && std::isfinite(planar[r].y))
        radius[r] = sizeKey->scale.radius(size->num[r]);
  }

  void project(Env& env, const ProjectContext& pc, std::vector<FitBox>& fit) override {
    projectPoints(env, pc, x, y, grouped ? &rowGroup : nullptr, 0, planar);
    sizeBubbles();
    // Each bubble reaches as far as its radius (and half its outline):
    // bubbles of about the same radius share one box, with the largest
    // radius among them.
    constexpr int kBands = 32;
    const double largest = radius.empty() ? 0 : *std::max_element(radius.begin(), radius.end());
    std::vector<PlanarBox> bands(kBands);
    std::vector<double> reach(kBands, 0);
    for (size_t r = 0; r < radius.size(); ++r) {
      if (radius[r] <= 0) continue;
      const int k = std::min(kBands - 1, static_cast<int>(radius[r] / largest * kBands));
      bands[static_cast<size_t>(k)].add({planar[r]});
      reach[static_cast<size_t>(k)] = std::max(reach[static_cast<size_t>(k)], radius[r]);
    }
    const double outline = showOutline ? looks[0].outline.width / 2 : 0;
    for (int k = 0; k < kBands; ++k) {
      if (!bands[static_cast<size_t>(k)].any) continue;
      FitBox b = bands[static_cast<size_t>(k)].box;
      b.left = b.right = b.top = b.bottom = reach[static_cast<size_t>(k)] + outline;
      fit.push_back(b);
    }
    labels.addFit(planar, fit);
  }

  size_t markCount() const override {
    return static_cast<size_t>(std::count_if(radius.begin(), radius.end(), [](double r) { return r > 0; }));
  }

  void draw(Env&, const DrawContext& dc) override {
    std::vector<size_t> order;
    for (size_t r = 0; r < radius.size(); ++r)
      if (radius[r] > 0) order.push_back(r);
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return radius[a] > radius[b]; });

    Painter& pen = *dc.pen;
    StateGuard guard(pen);
    for (size_t r : order) {
      const Point p = dc.proj.toPixel(planar[r]);
      const double rad = radius[r];
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || rad <= 0) continue;
      if (p.x + rad < dc.area.x || p.x - rad > dc.area.right() || p.y + rad < dc.area.y ||
          p.y - rad > dc.area.bottom())
        continue;
      BubbleLook look = looks[grouped ? static_cast<size_t>(rowGroup[r]) : 0];
      if (scale) {
        Rgba c = withTransparency(scale->rowColor(r), dataTransparency(layer));
        look.fill = c;
        look.outline.color = mix(c, rgbHex(0x000000, c.a), 0.4);
      }
      ItemGuard item(pen, tips.info("bubble", r));
      pen.newPath();
      pen.arc(p.x, p.y, rad, 0, 2 * kPi);
      if (showFill && look.fill.a > 0) {
        pen.setColor(look.fill);
        pen.fillPreserve();
      }
      if (showOutline && look.outline.width > 0 && look.outline.color.a > 0) {
        setLineStyle(pen, look.outline.color, look.outline.width, look.outline.pattern);
        pen.strokePreserve();
      }
      pen.newPath();
    }
    labels.draw(dc, planar);
  }

  DataTable* table = nullptr;
  const DataColumn *x = nullptr, *y = nullptr, *size = nullptr;
  bool grouped = false, showFill = true, showOutline = true;
  std::vector<int> rowGroup;
  std::vector<BubbleLook> looks;
  MarkTips tips;
  std::vector<Point> planar;   // per row
  std::vector<double> radius;  // per row, pixels
  DataLabels labels;
};

}  // namespace

double BubbleScale::radius(double value) const {
  if (!std::isfinite(value)) return 0;
  if (proportional) {
    const double r = high > 0 ? maxRadius * std::sqrt(std::max(0.0, value) / high) : 0;
    return std::max(r, minRadius);
  }
  const double f = high > low ? std::clamp((std::fabs(value) - low) / (high - low), 0.0, 1.0) : 1.0;
  return std::sqrt(minRadius * minRadius + (maxRadius * maxRadius - minRadius * minRadius) * f);
}

std::unique_ptr<PreparedLayer> prepareBubbles(Env& env, const Layer& layer) {
  auto out = std::make_unique<BubbleLayer>(layer);
  if (!pointColumns(env, layer, out->table, out->x, out->y)) return nullptr;
  const std::string name = layerName(layer);
  const ColumnRef* sizeRef = layer.column(Role::Size);
  out->size = sizeRef ? out->table->column(sizeRef->column) : nullptr;
  if (!out->size || !out->size->numeric) {
    env.warn("The plot " + name + " is not drawn: its SIZE column " +
             (sizeRef ? sizeRef->column : std::string("(none)")) + " is not a numeric column of " +
             out->table->displayName() + ".");
    return nullptr;
  }
  displayParts(layer, out->showFill, out->showOutline);
  std::string problem;
  Grouping g;
  out->grouped = groupRows(env, layer, out->table, name, g, out->rowGroup, out->groupTitle);
  if (out->grouped)
    for (const GroupEntry& e : g.entries()) out->looks.push_back(bubbleLook(env, layer, &e));
  else
    out->looks.push_back(bubbleLook(env, layer, nullptr));
  if (const ColumnRef* response = layer.column(Role::ColorResponse); response && !out->grouped) {
    ColorResponse scale;
    if (scale.init(env, layer, response->column, out->table, &problem)) {
      out->groupTitle = scale.title();
      out->scale = std::move(scale);
    } else {
      env.warn("The plot " + name + " is drawn without its color response: " + problem + ".");
    }
  }

  // The sizes of the rows drawn give the scale, unless the step has one.
  BubbleScale own;
  bool any = false;
  const size_t n = std::min({out->x->size(), out->y->size(), out->size->size()});
  for (size_t r = 0; r < n; ++r) {
    if (out->grouped && out->rowGroup[r] < 0) continue;
    const double s = out->size->num[r];
    if (!std::isfinite(s)) continue;
    out->extent.add(out->x->num[r], out->y->num[r]);
    if (!any) own.low = own.high = std::fabs(s);
    own.low = std::min(own.low, std::fabs(s));
    own.high = std::max(own.high, std::fabs(s));
    own.proportional = own.proportional && s >= 0;
    any = true;
  }
  const size_t index = static_cast<size_t>(&layer - env.model.layers.data());
  const BubbleScales* step = env.req.stepBubbles.get();
  if (step && index < step->size() && (*step)[index]) {
    out->sizeKey = SizeKey{*(*step)[index], out->size};
  } else {
    bubbleRadii(env, layer, own);
    out->sizeKey = SizeKey{own, out->size};
  }

  out->labels.init(env, layer, out->table, TextPosition::Center, 0);
  out->tips.init(env, layer, out->table);

  LegendItem item;
  item.kind = LegendItem::Kind::Bubble;
  auto fillItem = [&](const BubbleLook& look, std::string label) {
    item.label = std::move(label);
    item.fill = out->showFill ? look.fill : Rgba{0, 0, 0, 0};
    item.line = look.outline;
    if (!out->showOutline) item.line.width = 0;
    out->items.push_back(item);
  };
  if (out->grouped) {
    for (int gi : g.legendOrder())
      fillItem(out->looks[static_cast<size_t>(gi)], g.entries()[static_cast<size_t>(gi)].label);
  } else if (out->scale && out->scale->ranged()) {
    for (const RangeClass& c : out->scale->classes()) {
      BubbleLook look = out->looks[0];
      look.fill = c.color;
      look.outline.color = mix(c.color, rgbHex(0x000000), 0.4);
      fillItem(look, c.label);
    }
  } else {
    BubbleLook look = out->looks[0];
    if (out->scale) {
      look.fill = out->scale->color((out->scale->min() + out->scale->max()) / 2);
      look.outline.color = mix(look.fill, rgbHex(0x000000), 0.4);
    }
    fillItem(look, layer.legendLabel ? *layer.legendLabel : name);
  }
  return out;
}

}  // namespace qv::render
