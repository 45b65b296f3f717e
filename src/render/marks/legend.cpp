// Legends. "DiscreteLegend": one entry per group value, class or plot of
// the plots it names, each a swatch (a filled square for regions, a marker,
// a line sample, a bubble, a text sample) and its label, in rows (across=
// columns at most), with a title; placed below the map unless
// valign=/halign= say otherwise. Markers are drawn opaque and at least
// kMinMarker across, whatever the plotted ones are, so that groups can be
// told apart. "ContinuousLegend": a gradient bar of a plot's color
// response with ticks at round values in the response's display format,
// horizontal below or above the map, vertical at its side. A BUBBLE plot a
// legend lists gets its size key beside that legend.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "common/ascii.h"
#include "render/marks/draw.h"

namespace qv::render {

namespace {

constexpr double kPad = 5;       // inside the legend's border
constexpr double kSwatch = 12;   // side of a swatch
constexpr double kSwatchGap = 4;  // between a swatch and its label
constexpr double kColumnGap = 12;
constexpr double kRowGap = 3;
constexpr double kTitleGap = 10;  // between a title on the left and the entries

constexpr double kPi = 3.14159265358979323846;
constexpr size_t kMaxItems = 200;  // entries of one legend (more cannot be read)
constexpr double kMinMarker = 10;  // the least a marker swatch is across
constexpr double kLineSample = 28;  // length of a line entry's sample
constexpr double kKeyGap = 8;      // between a legend and a size key beside it

void drawText(Painter& pen, double x, double y, const std::string& text, const FontStyle& font,
              Justify justify = Justify::Left) {
  LabelStyle ls;
  ls.font = font;
  ls.position = TextPosition::BottomRight;
  ls.pad = 0;
  ls.justify = justify;
  drawLabel(pen, {x, y}, text, ls);
}

// Draws a legend's title (of size `size`, width by height) left of its
// entries when `left`, else above them at `aboveX`, and moves the entries'
// start (`x0`, `y0`) past it. Nothing for an empty title.
struct TitleSize {
  double width, height;
};
void drawTitle(Painter& pen, const Rect& box, const std::string& title, const FontStyle& font,
               TitleSize size, bool left, double aboveX, double& x0, double& y0) {
  if (title.empty()) return;
  if (left) {
    drawText(pen, x0, box.y + (box.height - size.height) / 2, title, font);
    x0 += size.width + kTitleGap;
  } else {
    drawText(pen, aboveX, y0, title, font);
    y0 += size.height + 4;
  }
}

void border(Painter& pen, const Rect& box) {
  StateGuard g(pen);
  pen.rectangle(box.x + 0.5, box.y + 0.5, std::max(0.0, box.width - 1),
                  std::max(0.0, box.height - 1));
  setLineStyle(pen, rgbHex(0xA0A0A0), 1, 1);
  pen.stroke();
}

void drawSwatch(Painter& pen, const LegendItem& it, const Rect& r) {
  StateGuard g(pen);
  const double cx = r.x + r.width / 2, cy = r.y + r.height / 2;
  switch (it.kind) {
    case LegendItem::Kind::Fill:
    case LegendItem::Kind::Bubble: {
      if (it.kind == LegendItem::Kind::Fill)
        pen.rectangle(r.x + 0.5, r.y + 0.5, r.width - 1, r.height - 1);
      else
        pen.arc(cx, cy, r.width / 2 - 0.5, 0, 2 * kPi);
      if (it.fill.a > 0) {
        pen.setColor(it.fill);
        pen.fillPreserve();
      }
      LineLook l = it.line;
      if (l.width > 0 && l.color.a > 0) {
        setLineStyle(pen, l.color, std::clamp(l.width, 0.5, 2.0), 1);
        pen.strokePreserve();
      }
      pen.newPath();
      break;
    }
    case LegendItem::Kind::Marker: {
      MarkerStyle m = it.marker;
      m.size = std::clamp(m.size, kMinMarker, std::max(kMinMarker, r.height));
      m.color.a = 1;
      if (m.outline.a > 0) m.outline.a = 1;
      drawMarker(pen, m, {std::floor(cx) + 0.5, std::floor(cy) + 0.5});
      break;
    }
    case LegendItem::Kind::Line: {
      // Long enough to show the pattern, in the plot's thickness.
      LineLook l = it.line;
      l.color.a = 1;
      pen.moveTo(r.x, cy);
      pen.lineTo(r.right(), cy);
      setLineStyle(pen, l.color, std::clamp(l.width, 1.0, std::max(1.0, r.height / 2)), l.pattern);
      pen.stroke();
      break;
    }
    case LegendItem::Kind::Text: {
      FontStyle f = it.font;
      f.sizePt = std::min(f.sizePt, r.height / kPxPerPt * 1.1);
      LabelStyle ls;
      ls.font = f;
      drawLabel(pen, {cx, cy}, "A", ls);
      break;
    }
  }
}

class DiscreteLegendBlock final : public Block {
 public:
  Size2 layout(double maxWidth, double maxHeight) override {
    if (items.empty()) return {};
    const double valueH = measureText("Ag", valueFont).height;
    swatch_ = autoItemSize ? std::max(6.0, valueH) : kSwatch;
    const bool lines = std::any_of(items.begin(), items.end(), [](const LegendItem& it) {
      return it.kind == LegendItem::Kind::Line;
    });
    sample_ = lines ? std::max(kLineSample, swatch_) : swatch_;
    rowH_ = std::max(swatch_, valueH);
    colW_ = 0;
    for (const LegendItem& it : items)
      colW_ = std::max(colW_, sample_ + kSwatchGap + measureText(it.label, valueFont).width);
    TextExtent t = title.empty() ? TextExtent{} : measureText(title, titleFont);
    titleW_ = t.width;
    titleH_ = t.height;
    const double avail = std::max(0.0, maxWidth - 2 * kPad);
    titleLeft_ = !title.empty() && !vertical && titleW_ <= avail * 0.3;
    const double itemsAvail = avail - (titleLeft_ ? titleW_ + kTitleGap : 0);
    int cols = across > 0 ? across
               : vertical ? 1
                          : static_cast<int>(std::floor((itemsAvail + kColumnGap) / (colW_ + kColumnGap)));
    cols_ = std::clamp(cols, 1, static_cast<int>(items.size()));
    int rows = static_cast<int>((items.size() + static_cast<size_t>(cols_) - 1) / static_cast<size_t>(cols_));
    const double above = !title.empty() && !titleLeft_ ? titleH_ + 4 : 0;
    const double room = maxHeight - 2 * kPad - above;
    const int fit = std::max(1, static_cast<int>(std::floor((room + kRowGap) / (rowH_ + kRowGap))));
    rows_ = std::min(rows, fit);
    shown_ = std::min(items.size(), static_cast<size_t>(rows_) * static_cast<size_t>(cols_));
    const double itemsH = rows_ * rowH_ + (rows_ - 1) * kRowGap;
    const double itemsW = cols_ * colW_ + (cols_ - 1) * kColumnGap;
    Size2 s;
    s.width = 2 * kPad + (titleLeft_ ? titleW_ + kTitleGap : 0) + itemsW;
    if (!title.empty() && !titleLeft_) s.width = std::max(s.width, titleW_ + 2 * kPad);
    s.height = 2 * kPad + above + std::max(titleLeft_ ? titleH_ : 0.0, itemsH);
    return s;
  }

  void draw(Painter& pen, const Rect& box) override {
    ItemGuard item(pen, ItemInfo{"legend", {}, {}});
    border(pen, box);
    StateGuard g(pen);
    pen.rectangle(box.x, box.y, box.width, box.height);
    pen.clip();
    double x0 = box.x + kPad, y0 = box.y + kPad;
    drawTitle(pen, box, title, titleFont, {titleW_, titleH_}, titleLeft_, x0, x0, y0);
    const double valueH = measureText("Ag", valueFont).height;
    for (size_t i = 0; i < shown_; ++i) {
      const int col = static_cast<int>(i % static_cast<size_t>(cols_));
      const int row = static_cast<int>(i / static_cast<size_t>(cols_));
      const double ix = x0 + col * (colW_ + kColumnGap), iy = y0 + row * (rowH_ + kRowGap);
      const double sy = iy + (rowH_ - swatch_) / 2;
      if (items[i].kind == LegendItem::Kind::Line)
        drawSwatch(pen, items[i], Rect{ix, sy, sample_, swatch_});
      else
        drawSwatch(pen, items[i], Rect{ix + (sample_ - swatch_) / 2, sy, swatch_, swatch_});
      drawText(pen, ix + sample_ + kSwatchGap, iy + (rowH_ - valueH) / 2, items[i].label, valueFont);
    }
  }

  std::string title;
  FontStyle titleFont, valueFont;
  std::vector<LegendItem> items;
  int across = 0;
  bool vertical = false, autoItemSize = false;

 private:
  double swatch_ = kSwatch, sample_ = kSwatch, rowH_ = 0, colW_ = 0, titleW_ = 0, titleH_ = 0;
  int cols_ = 1, rows_ = 1;
  size_t shown_ = 0;
  bool titleLeft_ = false;
};

// Round tick values within [lo, hi], about five of them.
std::vector<double> niceTicks(double lo, double hi, bool integer, double& step) {
  std::vector<double> out;
  if (!(hi > lo)) {
    step = 1;
    out.push_back(lo);
    return out;
  }
  double raw = (hi - lo) / 4;
  double mag = std::pow(10, std::floor(std::log10(raw)));
  double f = raw / mag;
  step = (f < 1.5 ? 1 : f < 3 ? 2 : f < 7 ? 5 : 10) * mag;
  if (integer) step = std::max(1.0, std::round(step));
  double first = std::ceil(lo / step - 1e-9) * step;
  for (double v = first; v <= hi + step * 1e-9 && out.size() < 50; v += step)
    out.push_back(std::fabs(v) < step * 1e-9 ? 0 : v);
  if (out.size() < 2) out = {lo, hi};
  return out;
}

std::string tickText(double v, double step, bool integer) {
  char buf[64];
  if (integer) {
    std::snprintf(buf, sizeof buf, "%.0f", std::round(v));
    return buf;
  }
  int decimals = 0;
  if (step > 0 && std::isfinite(step))
    decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 10);
  if (std::fabs(v) >= 1e9 || (std::fabs(v) > 0 && std::fabs(v) < 1e-6)) return shortNumber(v);
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

class GradientLegendBlock final : public Block {
 public:
  Size2 layout(double maxWidth, double maxHeight) override {
    ticks_ = niceTicks(scale.min(), scale.max(), integer, step_);
    labels_ = tickLabels();
    labelW_ = 0;
    for (const std::string& l : labels_)
      labelW_ = std::max(labelW_, measureText(l, valueFont).width);
    labelH_ = measureText("0", valueFont).height;
    TextExtent t = title.empty() ? TextExtent{} : measureText(title, titleFont);
    titleW_ = t.width;
    titleH_ = t.height;
    Size2 s;
    if (!vertical) {
      titleLeft_ = !title.empty() && titleW_ <= maxWidth * 0.3;
      const double room = maxWidth - 2 * kPad - (titleLeft_ ? titleW_ + kTitleGap : 0) - labelW_;
      barLen_ = std::clamp(std::min(room, 360.0), 0.0, 360.0);
      if (barLen_ < 20) return {};
      s.width = 2 * kPad + (titleLeft_ ? titleW_ + kTitleGap : 0) + barLen_ + labelW_;
      if (!title.empty() && !titleLeft_) s.width = std::max(s.width, titleW_ + 2 * kPad);
      const double body = kThick + 4 + labelH_;
      s.height = 2 * kPad + (titleLeft_ ? std::max(titleH_, body) : body + (title.empty() ? 0 : titleH_ + 4));
    } else {
      titleLeft_ = false;
      const double room = maxHeight - 2 * kPad - (title.empty() ? 0 : titleH_ + 4) - labelH_;
      barLen_ = std::clamp(std::min(room, 300.0), 0.0, 300.0);
      if (barLen_ < 20) return {};
      s.width = 2 * kPad + std::max(titleW_, kThick + 4 + labelW_);
      s.height = 2 * kPad + (title.empty() ? 0 : titleH_ + 4) + barLen_ + labelH_;
    }
    return s;
  }

  void draw(Painter& pen, const Rect& box) override {
    ItemGuard item(pen, ItemInfo{"legend", {}, {}});
    if (showBorder) border(pen, box);
    StateGuard g(pen);
    double x0 = box.x + kPad, y0 = box.y + kPad;
    drawTitle(pen, box, title, titleFont, {titleW_, titleH_}, titleLeft_,
              vertical ? x0 : box.x + (box.width - titleW_) / 2, x0, y0);
    Rect bar;
    if (!vertical) {
      bar = Rect{x0 + labelW_ / 2, titleLeft_ ? box.y + (box.height - kThick - 4 - labelH_) / 2 : y0,
                 barLen_, kThick};
    } else {
      bar = Rect{x0, y0 + labelH_ / 2, kThick, barLen_};
    }
    // The bar: low values left (horizontal) or at the bottom (vertical).
    // A range map's colors change in steps: many stops keep them sharp.
    const int steps = scale.ranged() ? 256 : 32;
    std::vector<GradientStop> stops;
    for (int k = 0; k <= steps; ++k) {
      const double f = double(k) / steps;
      stops.push_back({f, scale.color(scale.min() + (scale.max() - scale.min()) * f)});
    }
    pen.rectangle(bar.x, bar.y, bar.width, bar.height);
    if (vertical) pen.setLinearGradient({0, bar.bottom()}, {0, bar.y}, stops);
    else pen.setLinearGradient({bar.x, 0}, {bar.right(), 0}, stops);
    pen.fill();
    pen.rectangle(bar.x + 0.5, bar.y + 0.5, bar.width - 1, bar.height - 1);
    setLineStyle(pen, rgbHex(0x707070), 1, 1);
    pen.stroke();

    const double span = scale.max() - scale.min();
    for (size_t i = 0; i < ticks_.size(); ++i) {
      const double f = span > 0 ? (ticks_[i] - scale.min()) / span : 0.5;
      const TextExtent e = measureText(labels_[i], valueFont);
      if (!vertical) {
        const double x = std::round(bar.x + f * bar.width) + 0.5;
        pen.moveTo(x, bar.bottom());
        pen.lineTo(x, bar.bottom() + 3);
        setLineStyle(pen, rgbHex(0x404040), 1, 1);
        pen.stroke();
        drawText(pen, x - e.width / 2, bar.bottom() + 4, labels_[i], valueFont, Justify::Center);
      } else {
        const double y = std::round(bar.bottom() - f * bar.height) + 0.5;
        pen.moveTo(bar.right(), y);
        pen.lineTo(bar.right() + 3, y);
        setLineStyle(pen, rgbHex(0x404040), 1, 1);
        pen.stroke();
        drawText(pen, bar.right() + 4, y - e.height / 2, labels_[i], valueFont);
      }
    }
  }

  explicit GradientLegendBlock(const ColorResponse& s) : scale(s) {}

  const ColorResponse& scale;
  std::string title;
  FontStyle titleFont, valueFont;
  bool vertical = false, integer = false, showBorder = false;

 private:
  // The ticks' texts in the response's display format (12.3% for
  // PERCENT8.1); without one, or where the format would show two ticks
  // alike, as plain numbers.
  std::vector<std::string> tickLabels() const {
    std::vector<std::string> out;
    const DataColumn* c = scale.column();
    if (c && c->formatNumber && !c->format.empty() && !sameNoCase(c->format, "BEST")) {
      for (double t : ticks_) out.push_back(c->valueText(t));
      if (std::adjacent_find(out.begin(), out.end()) == out.end()) return out;
      out.clear();
    }
    for (double t : ticks_) out.push_back(tickText(t, step_, integer));
    return out;
  }

  static constexpr double kThick = 12;
  std::vector<double> ticks_;
  std::vector<std::string> labels_;
  double step_ = 1, labelW_ = 0, labelH_ = 0, titleW_ = 0, titleH_ = 0, barLen_ = 0;
  bool titleLeft_ = false;
};

// The size key of a BUBBLE plot: nested circles of round values on a common
// bottom, drawn on the plot's own scale (a circle has the area of a bubble
// of its value), each labelled in the SIZE variable's format, a leader line
// from its top to its label, under the variable's label.
class SizeKeyBlock final : public Block {
 public:
  explicit SizeKeyBlock(const SizeKey& key) : key_(key) {}

  Size2 layout(double maxWidth, double maxHeight) override {
    labelH_ = measureText("0", valueFont).height;
    circles_.clear();
    labelW_ = 0;
    for (double v : keyValues(key_.scale)) {
      std::string label = key_.column ? key_.column->valueText(v) : shortNumber(v);
      labelW_ = std::max(labelW_, measureText(label, valueFont).width);
      circles_.push_back({key_.scale.radius(v), std::move(label), 0});
    }
    if (circles_.empty()) return {};
    // Each label level with its circle's top, or just below the label
    // before it.
    const double R = circles_.front().radius;
    double below = -labelH_;
    for (Circle& c : circles_) {
      c.labelY = std::max(2 * (R - c.radius), below + labelH_);
      below = c.labelY;
    }
    body_ = std::max(2 * R, below + labelH_ / 2);
    const TextExtent t = title.empty() ? TextExtent{} : measureText(title, titleFont);
    titleH_ = t.height;
    Size2 s;
    s.width = 2 * kPad + std::max(t.width, 2 * R + kLeader + 2 + labelW_);
    s.height = 2 * kPad + (title.empty() ? 0 : titleH_ + 4) + labelH_ / 2 + body_ + 1;
    if (s.width > maxWidth || s.height > maxHeight) return {};
    return s;
  }

  void draw(Painter& pen, const Rect& box) override {
    ItemGuard item(pen, ItemInfo{"legend", {}, {}});
    border(pen, box);
    StateGuard g(pen);
    const double x0 = box.x + kPad;
    if (!title.empty()) drawText(pen, x0, box.y + kPad, title, titleFont);
    const double R = circles_.front().radius;
    // The top of the largest circle; the circles share its bottom.
    const double top = box.y + kPad + (title.empty() ? 0 : titleH_ + 4) + labelH_ / 2;
    const double cx = x0 + R, bottom = top + 2 * R;
    for (const Circle& c : circles_) {
      pen.newPath();
      pen.arc(cx, bottom - c.radius, c.radius, 0, 2 * kPi);
      setLineStyle(pen, rgbHex(0x505050), 1, 1);
      pen.stroke();
      const double y = bottom - 2 * c.radius, labelY = top + c.labelY;
      pen.moveTo(cx, y);
      pen.lineTo(x0 + 2 * R + 2, y);
      pen.lineTo(x0 + 2 * R + kLeader, labelY);
      setLineStyle(pen, rgbHex(0x909090), 1, 1);
      pen.stroke();
      drawText(pen, x0 + 2 * R + kLeader + 2, labelY - labelH_ / 2, c.label, valueFont);
    }
  }

  std::string title;
  FontStyle titleFont, valueFont;

 private:
  static constexpr double kLeader = 12;  // from a circle's top to its label
  static constexpr double kMinRatio = 3;  // between the values of two circles
  static constexpr double kMinGap = 3;    // between the tops of two circles

  // Round values, largest first: 1-2-5 values from the largest not above
  // the largest size downward, each at most a third of the one before and
  // its circle's top clear of the one before, at most four. They go below
  // the smallest size only while fewer than two are taken, and never where
  // the scale's floor, not the value, would give the radius.
  static std::vector<double> keyValues(const BubbleScale& s) {
    std::vector<double> out;
    if (!(s.high > 0) || !std::isfinite(s.high)) return out;
    static constexpr double kMantissas[] = {5, 2, 1};
    const double top = std::floor(std::log10(s.high));
    double last = 0;
    for (int i = 0; i < 48 && out.size() < 4; ++i) {
      const double v = kMantissas[i % 3] * std::pow(10, top - i / 3);
      if (v > s.high * (1 + 1e-9)) continue;
      if (v < s.low && (out.size() >= 2 || !s.proportional)) break;
      if (s.proportional && s.maxRadius * std::sqrt(v / s.high) <= std::max(s.minRadius, 1.0))
        break;
      const double r = s.radius(v);
      if (!out.empty() && (out.back() < v * kMinRatio * (1 - 1e-9) || 2 * (last - r) < kMinGap))
        continue;
      out.push_back(v);
      last = r;
    }
    return out;
  }

  struct Circle {
    double radius;
    std::string label;
    double labelY;  // the middle of its label, below the largest circle's top
  };
  SizeKey key_;
  std::vector<Circle> circles_;
  double labelW_ = 0, labelH_ = 0, titleH_ = 0, body_ = 0;
};

// A legend with the size keys of the bubble plots it lists: beside it in a
// row above or below the map, under it in a column at its side. The keys
// are laid out first; the legend takes the room they leave.
class LegendWithKeys final : public Block {
 public:
  Size2 layout(double maxWidth, double maxHeight) override {
    sizes_.assign(parts.size(), {});
    double along = 0, across = 0;  // along the row (or column), and across it
    auto take = [&](size_t i) {
      const double roomW = vertical ? maxWidth : maxWidth - along - (along > 0 ? kKeyGap : 0);
      const double roomH = vertical ? maxHeight - along - (along > 0 ? kKeyGap : 0) : maxHeight;
      const Size2 s = parts[i]->layout(std::max(0.0, roomW), std::max(0.0, roomH));
      if (s.width <= 0 || s.height <= 0) return;
      sizes_[i] = s;
      along += (along > 0 ? kKeyGap : 0) + (vertical ? s.height : s.width);
      across = std::max(across, vertical ? s.width : s.height);
    };
    for (size_t i = 1; i < parts.size(); ++i) take(i);
    take(0);
    if (along <= 0) return {};
    return vertical ? Size2{across, along} : Size2{along, across};
  }

  void draw(Painter& pen, const Rect& box) override {
    double at = vertical ? box.y : box.x;
    for (size_t i = 0; i < parts.size(); ++i) {
      const Size2 s = sizes_[i];
      if (s.width <= 0 || s.height <= 0) continue;
      if (vertical) {
        parts[i]->draw(pen, Rect{box.x, at, s.width, s.height});
        at += s.height + kKeyGap;
      } else {
        parts[i]->draw(pen, Rect{at, box.y + (box.height - s.height) / 2, s.width, s.height});
        at += s.width + kKeyGap;
      }
    }
  }

  std::vector<std::unique_ptr<Block>> parts;  // the legend, then the keys
  bool vertical = false;

 private:
  std::vector<Size2> sizes_;
};

// The drawn layers by name, in any letter case (the first of a name):
// legends that list thousands of plots find each at once.
class LayersByName {
 public:
  explicit LayersByName(const PreparedLayers& layers) {
    for (const auto& p : layers)
      if (!p->layer.name.empty()) byName_.emplace(qv::upper(p->layer.name), p.get());
  }
  const PreparedLayer* find(std::string_view name) const {
    auto it = byName_.find(qv::upper(name));
    return it == byName_.end() ? nullptr : it->second;
  }

 private:
  std::unordered_map<std::string, const PreparedLayer*> byName_;
};

// Where a legend goes, by its valign=, halign= and Location=.
void placement(const Legend& l, PlacedBlock& pb) {
  const Value* valign = l.options.find(Key::Valign);
  const Value* halign = l.options.find(Key::Halign);
  const Value* location = l.options.find(Key::Location);
  pb.side = Side::Bottom;
  if (location && sameNoCase(location->text, "Inside")) pb.side = Side::Inside;
  else if (valign && sameNoCase(valign->text, "top")) pb.side = Side::Top;
  else if (valign && sameNoCase(valign->text, "bottom")) pb.side = Side::Bottom;
  else if (halign && sameNoCase(halign->text, "left")) pb.side = Side::Left;
  else if (halign && sameNoCase(halign->text, "right")) pb.side = Side::Right;
  pb.halign = 0.5;
  if (halign && valign) {
    if (sameNoCase(halign->text, "left")) pb.halign = 0;
    if (sameNoCase(halign->text, "right")) pb.halign = 1;
  }
}

void legendFonts(Env& env, const Legend& l, FontStyle& title, FontStyle& value) {
  title = env.style.graphLabelText;
  value = env.style.graphValueText;
  applyTextBlock(l.options.find(Key::TitleAttrs), env.style, env.percentBase, title);
  applyTextBlock(l.options.find(Key::ValueAttrs), env.style, env.percentBase, value);
}

}  // namespace

std::vector<PlacedBlock> makeLegends(Env& env, const PreparedLayers& layers) {
  std::vector<PlacedBlock> out;
  const LayersByName byName(layers);
  std::unordered_set<const PreparedLayer*> keyed;  // bubble plots whose size key is placed
  // The legend of `pb` with the size keys of the bubble plots it lists
  // that have none yet.
  auto withSizeKeys = [&](const Legend& l, PlacedBlock& pb) {
    auto group = std::make_unique<LegendWithKeys>();
    group->vertical = pb.side == Side::Left || pb.side == Side::Right;
    for (const std::string& name : l.plots) {
      const PreparedLayer* p = byName.find(name);
      if (!p || !p->sizeKey || !(p->sizeKey->scale.high > 0) || !keyed.insert(p).second) continue;
      auto key = std::make_unique<SizeKeyBlock>(*p->sizeKey);
      const DataColumn* c = p->sizeKey->column;
      key->title = c ? (c->label.empty() ? c->name : c->label) : std::string();
      legendFonts(env, l, key->titleFont, key->valueFont);
      group->parts.push_back(std::move(key));
    }
    if (group->parts.empty()) return;
    group->parts.insert(group->parts.begin(), std::move(pb.block));
    pb.block = std::move(group);
  };
  std::vector<const Legend*> all;
  for (const Legend& l : env.model.overlayLegends) all.push_back(&l);
  for (const Legend& l : env.model.globalLegends) all.push_back(&l);
  for (const Legend* l : all) {
    PlacedBlock pb;
    placement(*l, pb);
    const std::string title = l->title ? *l->title : std::string();
    if (l->continuous) {
      const std::string name = l->plots.empty() ? std::string() : l->plots.front();
      const PreparedLayer* p = byName.find(name);
      std::string why;
      if (!p) {
        // A plot that could not be drawn has said why already.
        const bool known = std::any_of(env.model.layers.begin(), env.model.layers.end(),
                                       [&](const Layer& m) { return sameNoCase(m.name, name); });
        if (!known) why = "no plot has that name";
      } else if (!p->scale) {
        why = "the plot has no continuous color response";
      }
      // A range map's colors show as a stepped bar.
      if (!p || !p->scale) {
        if (!why.empty())
          env.warn("The gradient legend of " + (name.empty() ? std::string("(no plot)") : name) +
                   " is not drawn: " + why + ".");
        continue;
      }
      auto b = std::make_unique<GradientLegendBlock>(*p->scale);
      b->title = title;
      legendFonts(env, *l, b->titleFont, b->valueFont);
      b->vertical = pb.side == Side::Left || pb.side == Side::Right;
      if (const Value* o = l->options.find(Key::Orient)) b->vertical = sameNoCase(o->text, "vertical");
      b->integer = get<bool>(*l, Key::Integer, b->integer);
      b->showBorder = get<bool>(*l, Key::Border, b->showBorder);
      pb.block = std::move(b);
      withSizeKeys(*l, pb);
    } else {
      auto b = std::make_unique<DiscreteLegendBlock>();
      b->title = title;
      legendFonts(env, *l, b->titleFont, b->valueFont);
      for (const std::string& name : l->plots) {
        const PreparedLayer* p = byName.find(name);
        if (p) b->items.insert(b->items.end(), p->items.begin(), p->items.end());
      }
      if (b->items.empty()) continue;
      if (b->items.size() > kMaxItems) {
        env.warn("The legend lists the first " + std::to_string(kMaxItems) + " of its " +
                 std::to_string(b->items.size()) + " entries.");
        b->items.resize(kMaxItems);
      }
      if (const Value* a = l->options.find(Key::Across); a && std::isfinite(a->number))
        b->across = static_cast<int>(std::clamp(a->number, 0.0, 100.0));
      b->autoItemSize = get<bool>(*l, Key::AutoItemSize, b->autoItemSize);
      b->vertical = pb.side == Side::Left || pb.side == Side::Right;
      pb.block = std::move(b);
      withSizeKeys(*l, pb);
    }
    out.push_back(std::move(pb));
  }
  // GRADLEGEND statements that found no plot to show write no legend into
  // the template at all: say so, and why.
  const bool anyContinuous = std::any_of(all.begin(), all.end(),
                                         [](const Legend* l) { return l->continuous; });
  if (env.req.gradLegendStatements > 0 && !anyContinuous) {
    const bool classified = std::any_of(layers.begin(), layers.end(), [](const auto& p) {
      return p->scale && p->scale->ranged();
    });
    env.warn(std::string("The GRADLEGEND statement draws no legend: no plot of the step has a "
                         "continuous color response") +
             (classified ? "; classified responses are shown in the key legend." : "."));
  }
  return out;
}

}  // namespace qv::render
