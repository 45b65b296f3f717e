// "TextPlot": the values of the text column placed at (X, Y) of the plot
// data: at a compass position (position=), rotated (Rotate= a number or a
// column), in the text attributes, a group's or a color response's color,
// sized by a response (SizeResponse=, SizeMin=, SizeMax=,
// SizeMaxResponse=), split into lines (Splitpolicy=, SplitChar=,
// SplitCharDrop=, SplitJustify=, splitwidth=), with a halo (backlight=) and
// a filled or outlined box (Display=, FillAttrs=, OutLineAttrs=, pad=).
#include <algorithm>
#include <cmath>

#include "render/marks/draw.h"

namespace qv::render {

namespace {

class TextLayer final : public PreparedLayer {
 public:
  explicit TextLayer(const Layer& l) : PreparedLayer(l) {}

  // The style of a row's label; false when the row shows none.
  bool rowStyle(size_t r, LabelStyle& ls) const {
    if (r >= planar.size() || !std::isfinite(planar[r].x) || text->missing(r)) return false;
    ls = base;
    if (grouped) ls.font = fonts[static_cast<size_t>(rowGroup[r])];
    if (scale) ls.font.color = withTransparency(scale->rowColor(r), transparency);
    if (rotateColumn) {
      // A non-finite angle leaves that label unturned.
      ls.rotateDeg = labelTurn(rotateColumn->number(r));
    }
    if (sizeColumn) {
      double v = sizeColumn->number(r);
      if (!std::isfinite(v)) return false;
      double f = sizeMaxResponse > 0 ? std::fabs(v) / sizeMaxResponse : 1;
      ls.font.sizePt = std::max(sizeMinPt, std::min(sizeMaxPt, sizeMaxPt * f));
    }
    return true;
  }

  void project(Env& env, const ProjectContext& pc, std::vector<FitBox>& fit) override {
    projectPoints(env, pc, x, y, grouped ? &rowGroup : nullptr, 0, planar);
    // Each label reaches from its point as far as its block, with the box
    // drawn behind it.
    const bool measure = measureLabels(planar.size());
    LabelStyle ls;
    for (size_t r = 0; r < planar.size() && r < text->size(); ++r) {
      if (!rowStyle(r, ls)) continue;
      if (auto b = labelFitBox(planar[r], text->text(r), ls, measure, behind())) fit.push_back(*b);
    }
  }

  // The room the box behind a label takes around it (none without one).
  LabelMargins behind() const {
    return boxFill || boxOutline ? pad : LabelMargins{};
  }

  size_t markCount() const override {
    return static_cast<size_t>(std::count_if(planar.begin(), planar.end(),
                                             [](const Point& p) { return std::isfinite(p.x); }));
  }

  void draw(Env&, const DrawContext& dc) override {
    Painter& pen = *dc.pen;
    const Rect near = dc.area.inflated(std::max(dc.area.width, dc.area.height) * 0.25);
    const size_t n = std::min(planar.size(), text->size());
    LabelStyle ls;
    for (size_t r = 0; r < n; ++r) {
      if (!rowStyle(r, ls)) continue;
      const Point p = dc.proj.toPixel(planar[r]);
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !near.contains(p)) continue;
      const LaidOutLabel label(text->text(r), ls);
      if (label.empty()) continue;
      // The box behind the label counts as part of it.
      const LabelMargins grow = behind();
      TextPosition pos = ls.position;
      if (dc.labels) {
        const auto placed =
            dc.labels->place(ls.position, [&](TextPosition q) { return label.box(p, q, grow); });
        if (!placed) continue;
        pos = *placed;
      }
      ItemGuard item(pen, tips.info("label", r));
      if (boxFill || boxOutline) drawBox(pen, p, label.extent(), ls, pos);
      label.draw(pen, p, pos);
    }
  }

  // The box behind a label: its text block grown by the pad, rotated with it.
  void drawBox(Painter& pen, Point at, const TextExtent& e, const LabelStyle& ls,
               TextPosition position) const {
    if (e.width <= 0 || e.height <= 0) return;
    Point off = labelOffset(position, e.width, e.height, ls.pad);
    StateGuard guard(pen);
    pen.translate(at.x, at.y);
    pen.rotate(-ls.rotateDeg * 3.14159265358979323846 / 180);
    pen.rectangle(off.x - pad.left, off.y - pad.top, e.width + pad.left + pad.right,
                    e.height + pad.top + pad.bottom);
    if (boxFill && fill.a > 0) {
      pen.setColor(fill);
      pen.fillPreserve();
    }
    if (boxOutline && outline.width > 0 && outline.color.a > 0) {
      setLineStyle(pen, outline.color, outline.width, outline.pattern);
      pen.strokePreserve();
    }
    pen.newPath();
  }

  const DataColumn *x = nullptr, *y = nullptr, *text = nullptr;
  const DataColumn *rotateColumn = nullptr, *sizeColumn = nullptr;
  double sizeMinPt = 0, sizeMaxPt = 0, sizeMaxResponse = 0;
  double transparency = 0;
  bool grouped = false, boxFill = false, boxOutline = false;
  std::vector<int> rowGroup;
  std::vector<FontStyle> fonts;  // per group
  LabelStyle base;
  std::vector<Point> planar;  // per row
  Rgba fill;
  LineLook outline;
  LabelMargins pad;  // of the box behind a label
  MarkTips tips;
};

}  // namespace

std::unique_ptr<PreparedLayer> prepareText(Env& env, const Layer& layer) {
  auto out = std::make_unique<TextLayer>(layer);
  DataTable* table = nullptr;
  if (!pointColumns(env, layer, table, out->x, out->y)) return nullptr;
  const std::string name = layerName(layer);
  const ColumnRef* textRef = layer.column(Role::Text);
  out->text = textRef ? table->column(textRef->column) : nullptr;
  if (!out->text) {
    env.warn("The plot " + name + " is not drawn: its text column " +
             (textRef ? textRef->column : std::string("(none)")) + " is not in the data " +
             table->displayName() + ".");
    return nullptr;
  }
  const Style& st = env.style;
  out->transparency = dataTransparency(layer);
  const Value* textBlock = layer.options.find(Key::TextAttrs);
  FontStyle font = layerFont(env, layer, Key::TextAttrs);

  // Position, rotation, halo, splitting.
  LabelStyle& ls = out->base;
  ls.position = TextPosition::Center;
  if (const Value* p = layer.options.find(Key::Position)) textPositionFromName(p->text, ls.position);
  if (const Value* r = layer.options.find(Key::Rotate)) {
    if (r->kind == Value::Kind::Column) {
      out->rotateColumn = table->column(r->text);
      if (!out->rotateColumn || !out->rotateColumn->numeric) {
        env.warn("The labels of " + name + " are not rotated: the column " + r->text +
                 " is not a numeric column of " + table->displayName() + ".");
        out->rotateColumn = nullptr;
      }
    } else {
      ls.rotateDeg = labelTurn(r->number);
    }
  }
  if (const Value* b = layer.options.find(Key::Backlight))
    ls.backlight = b->kind == Value::Kind::Keyword ? 0.75 : std::clamp(b->number, 0.0, 1.0);
  if (const Value* sp = layer.options.last(Key::SplitPolicy)) {
    if (sameNoCase(sp->text, "split")) ls.split.policy = SplitPolicy::Split;
    else if (sameNoCase(sp->text, "splitalways")) ls.split.policy = SplitPolicy::SplitAlways;
  }
  if (const Value* c = layer.options.last(Key::SplitChar); c && !c->text.empty())
    ls.split.splitChars = c->text;
  if (const Value* d = layer.options.last(Key::SplitCharDrop)) ls.split.dropSplitChar = d->flag;
  if (const Value* w = layer.options.find(Key::SplitWidth); w && std::isfinite(w->number))
    ls.split.maxChars = static_cast<int>(std::clamp(w->number, 0.0, 10000.0));
  if (ls.split.policy == SplitPolicy::Split && ls.split.maxChars <= 0) ls.split.maxChars = 16;
  if (const Value* j = layer.options.last(Key::SplitJustify)) {
    if (sameNoCase(j->text, "Left")) ls.justify = Justify::Left;
    else if (sameNoCase(j->text, "Right")) ls.justify = Justify::Right;
  }

  // The box: Display=( Outline Fill ), its fill, outline and pad.
  if (const Value* d = layer.options.last(Key::Display); d && d->kind == Value::Kind::List) {
    for (const Value& item : d->items) {
      if (sameNoCase(item.text, "Fill")) out->boxFill = true;
      if (sameNoCase(item.text, "Outline")) out->boxOutline = true;
    }
  }
  out->fill = st.background;
  if (const Value* f = layer.options.find(Key::FillAttrs)) {
    if (int e = graphDataNumber(f->styleElement)) out->fill = graphData(st, e).fill;
    if (const Value* c = f->find(Attr::Color)) colorOf(*c, st, out->fill);
    if (const Value* t = f->find(Attr::Transparency)) out->fill = withTransparency(out->fill, t->number);
  }
  out->fill = withTransparency(out->fill, out->transparency);
  out->outline = LineLook{font.color, 1, 1};
  applyLineBlock(layer.options.last(Key::OutlineAttrs), st, env.percentBase, out->outline);
  out->outline.color = withTransparency(out->outline.color, out->transparency);
  if (const Value* p = layer.options.find(Key::Pad)) {
    if (p->kind == Value::Kind::Block) {
      if (const Value* v = p->find(Attr::Left)) out->pad.left = lengthPx(*v, env.percentBase, 0);
      if (const Value* v = p->find(Attr::Right)) out->pad.right = lengthPx(*v, env.percentBase, 0);
      if (const Value* v = p->find(Attr::Top)) out->pad.top = lengthPx(*v, env.percentBase, 0);
      if (const Value* v = p->find(Attr::Bottom)) out->pad.bottom = lengthPx(*v, env.percentBase, 0);
    } else {
      double v = lengthPx(*p, env.percentBase, 0);
      out->pad = LabelMargins{v, v, v, v};
    }
  } else if (out->boxFill || out->boxOutline) {
    out->pad = LabelMargins{2, 2, 1, 1};
  }
  ls.pad = 3 + std::max({out->pad.left, out->pad.right, out->pad.top, out->pad.bottom});

  // Size by a response.
  if (const Value* s = layer.options.find(Key::SizeResponse)) {
    out->sizeColumn = table->column(s->text);
    if (!out->sizeColumn || !out->sizeColumn->numeric) {
      env.warn("The labels of " + name + " are not sized by " + s->text +
               ": it is not a numeric column of " + table->displayName() + ".");
      out->sizeColumn = nullptr;
    } else {
      out->sizeMinPt = 5;
      out->sizeMaxPt = 24;
      if (const Value* v = layer.options.find(Key::SizeMin))
        out->sizeMinPt = fontSizePt(*v, st, env.percentBase, out->sizeMinPt);
      if (const Value* v = layer.options.find(Key::SizeMax))
        out->sizeMaxPt = fontSizePt(*v, st, env.percentBase, out->sizeMaxPt);
      if (out->sizeMaxPt < out->sizeMinPt) std::swap(out->sizeMinPt, out->sizeMaxPt);
      const Value* m = layer.options.find(Key::SizeMaxResponse);
      if (m && std::isfinite(m->number) && m->number > 0) {
        out->sizeMaxResponse = m->number;
      } else {
        for (double v : out->sizeColumn->num)
          if (std::isfinite(v)) out->sizeMaxResponse = std::max(out->sizeMaxResponse, std::fabs(v));
      }
    }
  }

  // Colors: the plot's font, a group's color or a color response.
  font.color = withTransparency(font.color, out->transparency);
  ls.font = font;
  std::string problem;
  Grouping g;
  out->grouped = groupRows(env, layer, table, name, g, out->rowGroup, out->groupTitle);
  out->tips.init(env, layer, table);
  if (out->grouped) {
    for (const GroupEntry& e : g.entries()) {
      FontStyle f = font;
      if (!(textBlock && textBlock->find(Attr::Color)))
        f.color = withTransparency(graphData(st, e.graphData).contrast, out->transparency);
      if (const Value* b = entryBlock(e, Key::TextAttrs)) {
        applyTextBlock(b, st, env.percentBase, f);
        f.color = withTransparency(f.color, out->transparency);
      }
      out->fonts.push_back(f);
    }
  }
  if (const ColumnRef* response = layer.column(Role::ColorResponse); response && !out->grouped) {
    ColorResponse scale;
    if (scale.init(env, layer, response->column, table, &problem)) {
      out->groupTitle = scale.title();
      out->scale = std::move(scale);
    } else {
      env.warn("The plot " + name + " is drawn without its color response: " + problem + ".");
    }
  }

  const size_t n = std::min(out->x->size(), out->y->size());
  for (size_t r = 0; r < n; ++r)
    if (!out->grouped || out->rowGroup[r] >= 0) out->extent.add(out->x->num[r], out->y->num[r]);

  LegendItem item;
  item.kind = LegendItem::Kind::Text;
  if (out->grouped) {
    for (int gi : g.legendOrder()) {
      item.label = g.entries()[static_cast<size_t>(gi)].label;
      item.font = out->fonts[static_cast<size_t>(gi)];
      out->items.push_back(item);
    }
  } else if (out->scale && out->scale->ranged()) {
    for (const RangeClass& c : out->scale->classes()) {
      item.label = c.label;
      item.font = font;
      item.font.color = c.color;
      out->items.push_back(item);
    }
  } else {
    item.label = layer.legendLabel ? *layer.legendLabel : name;
    item.font = font;
    if (out->scale) item.font.color = out->scale->color((out->scale->min() + out->scale->max()) / 2);
    out->items.push_back(item);
  }
  return out;
}

}  // namespace qv::render
