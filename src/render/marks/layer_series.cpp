// "SeriesPlot": the (X, Y) points of the plot data joined by a line in data
// order, one line per group. With break=true a missing X or Y breaks the
// line; otherwise the line goes on to the next point that has both. With
// smoothconnect=true the line is a smooth curve through the points.
#include <algorithm>
#include <cmath>

#include "render/marks/draw.h"

namespace qv::render {

namespace {

LineLook seriesLook(Env& env, const Layer& layer, const GroupEntry* g) {
  const Style& st = env.style;
  const Value* block = layer.options.find(Key::LineAttrs);
  int n = g ? g->graphData : (block && block->graphData > 0 ? block->graphData : 1);
  DataStyle d = graphData(st, n);
  // Lines tell groups apart by color; by pattern too when the template
  // lists the patterns to cycle through (STYLEATTRS DATALINEPATTERNS=).
  const bool patterned = !env.model.graph.dataLinePatterns.empty();
  LineLook look{d.contrast, st.lineWidthPx, patterned ? d.linePattern : 1};
  applyLineBlock(block, st, env.percentBase, look);
  if (g) applyLineBlock(entryBlock(*g, Key::LineAttrs), st, env.percentBase, look);
  look.color = withTransparency(look.color, dataTransparency(layer));
  look.width = std::min(look.width, 200.0);
  return look;
}

// A smooth curve through the points (Catmull-Rom as cubic Bezier pieces).
void smoothPath(Painter& pen, const Polyline& pts) {
  pen.moveTo(pts[0].x, pts[0].y);
  const size_t n = pts.size();
  for (size_t i = 0; i + 1 < n; ++i) {
    const Point& p0 = pts[i == 0 ? 0 : i - 1];
    const Point& p1 = pts[i];
    const Point& p2 = pts[i + 1];
    const Point& p3 = pts[i + 2 < n ? i + 2 : n - 1];
    pen.curveTo(p1.x + (p2.x - p0.x) / 6, p1.y + (p2.y - p0.y) / 6,
                   p2.x - (p3.x - p1.x) / 6, p2.y - (p3.y - p1.y) / 6, p2.x, p2.y);
  }
}

class SeriesLayer final : public PreparedLayer {
 public:
  explicit SeriesLayer(const Layer& l) : PreparedLayer(l) {}

  void project(Env& env, const ProjectContext& pc, std::vector<FitBox>& fit) override {
    planar.assign(lines.size(), {});
    for (size_t i = 0; i < lines.size(); ++i) {
      PlanarBox box;
      if (const size_t left = planarLine(pc.planar, lines[i], planar[i], box); left > 0)
        env.leftOut(*pc.planar.map, left, lines[i].front());
      if (!box.any) continue;
      const double reach = looks[lineLook[i]].width / 2;
      box.box.left = box.box.right = box.box.top = box.box.bottom = reach;
      fit.push_back(box.box);
    }
  }

  size_t markCount() const override { return planar.size(); }

  void draw(Env&, const DrawContext& dc) override {
    Painter& pen = *dc.pen;
    StateGuard guard(pen);
    for (size_t i = 0; i < planar.size(); ++i) {
      const LineLook& look = looks[lineLook[i]];
      if (look.width <= 0 || look.color.a <= 0) continue;
      std::vector<Polyline> pieces = pixelLines(dc.proj, planar[i], dc.geo);
      if (pieces.empty()) continue;
      ItemGuard item(pen, tips.info("line", lineRow[i]));
      pen.newPath();
      if (smooth) {
        for (const Polyline& p : pieces) smoothPath(pen, p);
      } else {
        appendPolylines(pen, pieces);
      }
      setLineStyle(pen, look.color, look.width, look.pattern);
      pen.setLineJoin(LineJoin::Round);
      pen.stroke();
    }
    pen.newPath();
  }

  std::vector<std::vector<LonLat>> lines;  // per group; non-finite positions break
  std::vector<std::vector<Polyline>> planar;  // per group: its pieces
  std::vector<size_t> lineLook;
  std::vector<size_t> lineRow;  // per group: its first row (its tip and link)
  std::vector<LineLook> looks;
  bool smooth = false;
  MarkTips tips;
};

}  // namespace

std::unique_ptr<PreparedLayer> prepareSeries(Env& env, const Layer& layer) {
  auto out = std::make_unique<SeriesLayer>(layer);
  DataTable* table = nullptr;
  const DataColumn *x = nullptr, *y = nullptr;
  if (!pointColumns(env, layer, table, x, y)) return nullptr;
  const std::string name = layerName(layer);
  out->smooth = get<bool>(layer, Key::SmoothConnect, false);
  const bool breakAtMissing = get<bool>(layer, Key::Break, false);

  Grouping g;
  bool grouped = false;
  std::string problem;
  if (const ColumnRef* group = layer.column(Role::Group)) {
    const bool withMissing = get<bool>(layer, Key::IncludeMissingGroup, true);
    grouped = g.init(env, group->column, table, withMissing, &problem);
    if (!grouped) env.warn("The plot " + name + " is drawn without its groups: " + problem + ".");
  }
  const size_t groups = grouped ? g.entries().size() : 1;
  out->lines.resize(groups);
  out->lineLook.resize(groups);
  out->lineRow.assign(groups, SIZE_MAX);
  for (size_t i = 0; i < groups; ++i) {
    out->looks.push_back(seriesLook(env, layer, grouped ? &g.entries()[i] : nullptr));
    out->lineLook[i] = i;
  }
  const double nan = std::nan("");
  const size_t n = std::min(x->size(), y->size());
  for (size_t r = 0; r < n; ++r) {
    int gi = grouped ? g.group(r) : 0;
    if (gi < 0) continue;
    const double lon = x->num[r], lat = y->num[r];
    auto& line = out->lines[static_cast<size_t>(gi)];
    if (!std::isfinite(lon) || !std::isfinite(lat)) {
      if (breakAtMissing && !line.empty() && std::isfinite(line.back().lon))
        line.push_back({nan, nan});
      continue;
    }
    line.push_back({lon, lat});
    out->extent.add(lon, lat);
    size_t& first = out->lineRow[static_cast<size_t>(gi)];
    if (first == SIZE_MAX) first = r;
  }
  out->tips.init(env, layer, table);

  LegendItem item;
  item.kind = LegendItem::Kind::Line;
  if (grouped) {
    out->groupTitle = g.title();
    for (int gi : g.legendOrder()) {
      item.label = g.entries()[static_cast<size_t>(gi)].label;
      item.line = out->looks[static_cast<size_t>(gi)];
      out->items.push_back(item);
    }
  } else {
    item.label = layer.legendLabel ? *layer.legendLabel : name;
    item.line = out->looks[0];
    out->items.push_back(item);
  }
  return out;
}

}  // namespace qv::render
