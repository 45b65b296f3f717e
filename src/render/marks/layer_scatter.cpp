// "ScatterPlot": a marker at each (X, Y) of the plot data, in the symbol,
// size and color of its group (GraphData cycling or a discrete attribute
// map) or of its color response, with optional data labels.
//
// Markers sit on whole pixels (subpixel=off), so each distinct look is
// drawn once into a small image and stamped where the points fall. An opaque
// marker on a pixel that already holds the same one is skipped (it would
// change only its antialiased edge); see-through markers are all drawn, as
// their piling up shows where points crowd. A million points cost a
// projection and a few dozen pixel blends each.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "common/clones.h"
#include "common/parallel_for.h"
#include "render/marks/draw.h"
#include "render/paint/mark_picture.h"
#include "render/paint/raster.h"

namespace qv::render {

namespace {

// Sorts the keys of one image row (all below `width` apart) ascending:
// plainly when they are few, else by counting.
void sortKeys(uint32_t* first, uint32_t* last, uint32_t width) {
  const size_t n = static_cast<size_t>(last - first);
  if (n < static_cast<size_t>(width) / 4) {
    std::sort(first, last);
    return;
  }
  const uint32_t base = *std::min_element(first, last);
  std::vector<uint32_t> count(width, 0);
  for (uint32_t* k = first; k != last; ++k) ++count[*k - base];
  for (uint32_t v = 0; v < width; ++v)
    for (uint32_t c = count[v]; c > 0; --c) *first++ = base + v;
}

// Points from which a layer is projected on several threads.
constexpr size_t kParallelPoints = size_t{1} << 18;

// The most pixels of a marker stamp blended by counting the points per
// pixel (beyond it, stamping each point costs less than the pass over the
// image's pixels for each of the stamp's).
constexpr size_t kMaxCountedStamp = 64;

// How planar offsets from an origin fall on a grid of image pixels: the
// pixel is (t + (origin + offset) * scale) * s, floored, inside [f0, f1).
struct CellGrid {
  double ox, oy, tx, ty, scale, s, fx0, fx1, fy0, fy1;
  int gx0, gy0;
  uint32_t gw, outside;
};

// The grid cell of each point from..to (its offsets in `off`), or
// `g.outside` when it is off the grid, into `out`: the arithmetic of the
// per-point pixel test, without branches, so that the loop runs on several
// points at once (four with AVX2).
QV_AVX2_CLONES void gridCells(const float* off, size_t from, size_t to, const CellGrid& g,
                              uint32_t* out) {
  const CellGrid c = g;
  for (size_t r = from; r < to; ++r) {
    const double qx = c.ox + static_cast<double>(off[2 * r]);
    const double qy = c.oy + static_cast<double>(off[2 * r + 1]);
    const double px = (c.tx + qx * c.scale) * c.s, py = (c.ty + qy * c.scale) * c.s;
    const bool in = (px >= c.fx0) & (px < c.fx1) & (py >= c.fy0) & (py < c.fy1);
    const int cx = static_cast<int>(std::floor(in ? px : c.fx0));
    const int cy = static_cast<int>(std::floor(in ? py : c.fy0));
    const uint32_t cell =
        static_cast<uint32_t>(cy - c.gy0) * c.gw + static_cast<uint32_t>(cx - c.gx0);
    out[r - from] = in ? cell : c.outside;
  }
}

// How many copies of a see-through stamp on one pixel still change it: past
// them, what lies below shows through its faintest pixel by less than a
// 512th. An opaque stamp's repeats change nothing (they are skipped).
uint32_t repeatsThatShow(const MarkerStamp& s) {
  if (s.opaque) return 1;
  uint32_t faintest = 255;
  for (uint32_t p : s.px)
    if ((p >> 24) > 0) faintest = std::min(faintest, p >> 24);
  if (faintest >= 255) return 1;
  const double k = std::ceil(std::log(1.0 / 512) / std::log1p(-static_cast<double>(faintest) / 255));
  return static_cast<uint32_t>(std::clamp(k, 1.0, 65535.0));
}

uint32_t packColor(const Rgba& c) {
  auto b = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
  return (b(c.a) << 24) | (b(c.r) << 16) | (b(c.g) << 8) | b(c.b);
}

}  // namespace

// The marker look of a plot's group (or of the plot when `g` is null).
MarkerStyle markerLook(Env& env, const Layer& layer, const GroupEntry* g) {
  const Style& st = env.style;
  const Value* block = layer.options.find(Key::MarkerAttrs);
  int n = g ? g->graphData : (block && block->graphData > 0 ? block->graphData : 1);
  auto reset = [&](int element, MarkerStyle& m) {
    DataStyle d = graphData(st, element);
    m.symbol = d.symbol;
    m.color = d.contrast;
  };
  auto apply = [&](const Value* b, MarkerStyle& m) {
    if (!b) return;
    if (const Value* c = b->find(Attr::Color)) colorOf(*c, st, m.color);
    if (const Value* s = b->find(Attr::Symbol)) {
      MarkerSymbol sym;
      if (markerSymbolFromName(s->text, sym)) m.symbol = sym;
      else env.warn("The marker symbol " + s->text + " of " + layerName(layer) +
                    " is not known; the default symbol is drawn.");
    }
    if (const Value* s = b->find(Attr::Size)) m.size = std::min(lengthPx(*s, env.percentBase, m.size), 400.0);
    if (const Value* t = b->find(Attr::Transparency)) m.color = withTransparency(m.color, t->number);
  };
  MarkerStyle m;
  m.size = st.markerSizePx;
  m.lineWidth = 1;
  reset(n, m);
  apply(block, m);
  if (g) {
    if (const Value* e = entryBlock(*g, Key::MarkerAttrs)) {
      if (int en = graphDataNumber(e->styleElement)) reset(en, m);
      apply(e, m);
    }
  }
  m.color = withTransparency(m.color, dataTransparency(layer));
  return m;
}

void DataLabels::init(Env& env, const Layer& layer, DataTable* table,
                      TextPosition defaultPosition, double clearance) {
  const ColumnRef* ref = layer.column(Role::DataLabel);
  if (!ref) return;
  labels = table->column(ref->column);
  if (!labels) {
    env.warn("The data labels of " + layerName(layer) + " are not drawn: the column " +
             ref->column + " is not in the data " + table->displayName() + ".");
    return;
  }
  style.font = layerFont(env, layer, Key::DataLabelAttrs);
  style.font.color = withTransparency(style.font.color, dataTransparency(layer));
  style.position = defaultPosition;
  if (const Value* p = layer.options.find(Key::DataLabelPosition))
    textPositionFromName(p->text, style.position);
  style.pad = clearance;
}

std::optional<FitBox> labelFitBox(Point p, std::string_view text, const LabelStyle& ls,
                                  bool measure, const LabelMargins& grow) {
  TextExtent e;
  if (measure) {
    e = measureText(text, ls.font, ls.split, ls.justify);
  } else {
    const double em = ls.font.sizePt * 96 / 72;
    e.width = 0.6 * em * static_cast<double>(text.size());
    e.height = 1.2 * em;
  }
  if (e.width <= 0 || e.height <= 0) return std::nullopt;
  const Point off = labelOffset(ls.position, e.width, e.height, ls.pad);
  FitBox b{p.x, p.y, p.x, p.y};
  b.left = std::max(0.0, -off.x + grow.left);
  b.right = std::max(0.0, off.x + e.width + grow.right);
  b.top = std::max(0.0, -off.y + grow.top);
  b.bottom = std::max(0.0, off.y + e.height + grow.bottom);
  if (std::fmod(std::fabs(ls.rotateDeg), 360) != 0) {
    const double reach = std::max({b.left, b.right, b.top, b.bottom});
    b.left = b.right = b.top = b.bottom = reach;
  }
  return b;
}

void DataLabels::addFit(const std::vector<Point>& planar, std::vector<FitBox>& fit) const {
  if (!labels) return;
  const size_t n = std::min(planar.size(), labels->size());
  const bool measure = measureLabels(n);
  for (size_t r = 0; r < n; ++r) {
    const Point& p = planar[r];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || labels->missing(r)) continue;
    if (auto b = labelFitBox(p, labels->text(r), style, measure)) fit.push_back(*b);
  }
}

void DataLabels::draw(const DrawContext& dc, const std::vector<Point>& planar) const {
  if (!labels) return;
  const Rect inside = dc.area.inflated(20);
  const size_t n = std::min(planar.size(), labels->size());
  for (size_t r = 0; r < n; ++r) {
    if (!std::isfinite(planar[r].x) || labels->missing(r)) continue;
    const Point p = dc.proj.toPixel(planar[r]);
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !inside.contains(p)) continue;
    const Point at{std::floor(p.x) + 0.5, std::floor(p.y) + 0.5};
    const LaidOutLabel label(labels->text(r), style);
    if (label.empty()) continue;
    TextPosition pos = style.position;
    if (dc.labels) {
      const auto placed = dc.labels->place(
          style.position, [&](TextPosition q) { return label.box(at, q); });
      if (!placed) continue;
      pos = *placed;
    }
    label.draw(*dc.pen, at, pos);
  }
}

namespace {

class ScatterLayer final : public PreparedLayer {
 public:
  explicit ScatterLayer(const Layer& l) : PreparedLayer(l) {}

  void project(Env& env, const ProjectContext& pc, std::vector<FitBox>& fit) override {
    double reach = 0;
    for (const MarkerStyle& m : looks) reach = std::max(reach, m.size / 2 + m.lineWidth);
    planarContext = pc.planar;
    const size_t n = std::min(x->size(), y->size());
    const std::vector<int>* groups = grouped ? &rowGroup : nullptr;
    offsets.assign(2 * n, NAN);
    // The offsets are taken from the first point that has a position.
    bool found = false;
    for (size_t from = 0; from < n && !found; from += 1024)
      projectRowBlocks(
          pc.planar, x, y, groups, nullptr,
          [&](size_t, const Point* pts, size_t count) {
            for (size_t i = 0; i < count && !found; ++i)
              if (std::isfinite(pts[i].x) && std::isfinite(pts[i].y)) origin = pts[i], found = true;
          },
          from, from + 1024);
    // Millions of points are projected on several threads, in ranges of
    // rows, each with a projection of its own.
    unsigned threads = n >= kParallelPoints ? std::max(1u, pc.threads) : 1;
    projectThreads = std::max(1u, pc.threads);
    std::vector<MapProjectionPtr> maps(threads);
    for (unsigned k = 1; k < threads; ++k)
      if (!(maps[k] = pc.planar.map->copyForThread())) threads = 1;
    struct Part {
      PlanarBox box;
      double spread = 0;
      size_t leftOut = 0;
    };
    std::vector<Part> parts(threads);
    qv::parallelFor(threads, threads, [&](size_t k) {
      PlanarContext own = pc.planar;
      if (k > 0) own.map = maps[k].get();
      Part& part = parts[k];
      projectRowBlocks(
          own, x, y, groups, &part.leftOut,
          [&](size_t first, const Point* pts, size_t count) {
            // In locals: stores into the part could be to the points.
            float* out = offsets.data() + 2 * first;
            const Point o = origin;
            double spread = part.spread;
            PlanarBox box = part.box;
            for (size_t i = 0; i < count; ++i) {
              const Point p = pts[i];
              if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
              const double dx = p.x - o.x, dy = p.y - o.y;
              spread = std::max({spread, std::fabs(dx), std::fabs(dy)});
              out[2 * i] = static_cast<float>(dx);
              out[2 * i + 1] = static_cast<float>(dy);
              box.add(p);
            }
            part.spread = spread;
            part.box = box;
          },
          n * k / threads, n * (k + 1) / threads);
    });
    PlanarBox box;
    size_t leftOut = 0;
    for (const Part& part : parts) {
      spread = std::max(spread, part.spread);
      leftOut += part.leftOut;
      if (part.box.any) {
        box.add(Point{part.box.box.x0, part.box.box.y0});
        box.add(Point{part.box.box.x1, part.box.box.y1});
      }
    }
    if (leftOut > 0) countRowsLeftOut(env, pc.planar, x, y, groups);
    box.box.left = box.box.right = box.box.top = box.box.bottom = std::max(0.0, reach);
    if (box.any) fit.push_back(box.box);
    if (labels.labels) labels.addFit(planarPoints(), fit);
  }

  void draw(Env&, const DrawContext& dc) override {
    Painter& pen = *dc.pen;
    // Offsets in floats are within a hundredth of a pixel of the points
    // unless the map shows a small part of a wide spread: the points are
    // then projected again in full precision.
    exact.clear();
    if (spread * 0x1p-23 * dc.proj.scale() * pen.pixelScale() > 0.01) exact = planarPoints(true);
    MarkMap* marks = pen.markMap();
    if (Canvas* image = pen.pixels(); image && (!pen.keepsItems() || marks)) {
      PixelTarget t(*image, scaledRect(dc.area, pen.pixelScale()));
      if (!t.empty()) stampAll(t, dc, pen.pixelScale());
      if (marks) mapMarks(*marks, dc);
    } else {
      drawEach(pen, dc);
    }
    if (labels.labels) labels.draw(dc, exact.empty() ? planarPoints() : exact);
    std::vector<Point>().swap(exact);
  }

  size_t markCount() const override {
    size_t n = 0;
    for (size_t r = 0; r < offsets.size(); r += 2) n += std::isfinite(offsets[r]);
    return n;
  }

  // The planar position of a row (NaN when it is not drawn).
  Point planarAt(size_t r) const {
    if (!exact.empty()) return exact[r];
    const float dx = offsets[2 * r], dy = offsets[2 * r + 1];
    return {origin.x + static_cast<double>(dx), origin.y + static_cast<double>(dy)};
  }
  // Every row's planar position; projected again when `again`.
  std::vector<Point> planarPoints(bool again = false) const {
    const size_t n = offsets.size() / 2;
    std::vector<Point> out(n);
    if (again)
      projectRowBlocks(planarContext, x, y, grouped ? &rowGroup : nullptr, nullptr,
                       [&](size_t from, const Point* pts, size_t count) {
                         std::copy(pts, pts + count,
                                   out.begin() + static_cast<std::ptrdiff_t>(from));
                       });
    else
      for (size_t r = 0; r < n; ++r) out[r] = planarAt(r);
    return out;
  }

  // The points a row stands for: its count when the rows are cells a
  // database counted (at most 65535: more pile up alike), else one.
  uint32_t countOf(size_t r) const {
    if (!cellCounts || r >= cellCounts->size()) return 1;
    const double k = cellCounts->num[r];
    return std::isfinite(k) && k > 1 ? static_cast<uint32_t>(std::min(k, 65535.0)) : 1;
  }

  // The look of a row's marker.
  MarkerStyle lookOf(size_t r) const {
    if (scale) {
      MarkerStyle m = looks[0];
      m.color = withTransparency(scale->rowColor(r), dataTransparency(layer));
      return m;
    }
    return looks[grouped ? static_cast<size_t>(rowGroup[r]) : 0];
  }

  // How far a marker reaches from its point, and a little more.
  double markerReach() const {
    double reach = 0;
    for (const MarkerStyle& m : looks) reach = std::max(reach, m.size / 2 + m.lineWidth + 2);
    return reach;
  }

  // Where row r's marker is drawn, in pixels: false when it is not (no
  // position, or farther than `reach` outside the map area).
  bool markerAt(const DrawContext& dc, size_t r, double reach, Point& p) const {
    const Point q = planarAt(r);
    if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
    p = dc.proj.toPixel(q);
    return p.x >= dc.area.x - reach && p.x < dc.area.right() + reach &&
           p.y >= dc.area.y - reach && p.y < dc.area.bottom() + reach;
  }

  // Every point's marker drawn as a shape of its own, in data order, where
  // a stamp would put it.
  void drawEach(Painter& pen, const DrawContext& dc) {
    StateGuard guard(pen);
    pen.rectangle(dc.area.x, dc.area.y, dc.area.width, dc.area.height);
    pen.clip();
    const double reach = markerReach();
    Point p;
    for (size_t r = 0; r < offsets.size() / 2; ++r) {
      if (!markerAt(dc, r, reach, p)) continue;
      ItemGuard item(pen, tips.info("marker", r));
      MarkerStyle m = lookOf(r);
      if (const uint32_t k = countOf(r); k > 1) {
        // A cell's points, one upon another: one marker as opaque as they.
        auto piled = [k](Rgba& c) { c.a = 1 - std::pow(1 - c.a, static_cast<double>(k)); };
        piled(m.color);
        piled(m.outline);
      }
      drawMarker(pen, m, {std::floor(p.x) + 0.5, std::floor(p.y) + 0.5});
    }
  }

  // Every point's marker numbered in a mark map and stamped there in its
  // number, in data order, where drawEach would draw it.
  void mapMarks(MarkMap& marks, const DrawContext& dc) {
    PixelTarget t(marks.image(), dc.area);
    // The stamps of the looks, opaque: a pixel is a marker's when the
    // marker covers at least half of it.
    std::vector<MarkerStamp> stamps;
    for (MarkerStyle m : looks) {
      m.color.a = 1;
      if (m.outline.a > 0) m.outline.a = 1;
      stamps.push_back(makeMarkerStamp(m));
    }
    const double reach = markerReach();
    Point p;
    for (size_t r = 0; r < offsets.size() / 2; ++r) {
      if (!markerAt(dc, r, reach, p)) continue;
      const uint32_t n = marks.add(tips.info("marker", r));
      const MarkerStamp& s = stamps[grouped && !scale ? static_cast<size_t>(rowGroup[r]) : 0];
      if (!t.empty())
        stampValue(t, s, static_cast<int>(std::floor(p.x)), static_cast<int>(std::floor(p.y)),
                   MarkMap::markPixel(n));
    }
  }

  // Every point's marker, stamped at its pixel (`s` image pixels to a
  // layout pixel).
  void stampAll(PixelTarget& t, const DrawContext& dc, double s) {
    std::vector<MarkerStamp> stamps;
    std::vector<int> lookStamp(looks.size(), -1);
    std::unordered_map<uint32_t, int> colorStamp;  // color response: by color
    auto stampOf = [&](size_t r) -> int {
      if (scale) {
        const MarkerStyle m = lookOf(r);
        const uint32_t key = packColor(m.color);
        if (auto it = colorStamp.find(key); it != colorStamp.end()) return it->second;
        stamps.push_back(makeMarkerStamp(scaledMarker(m, s)));
        colorStamp.emplace(key, static_cast<int>(stamps.size() - 1));
        return static_cast<int>(stamps.size() - 1);
      }
      const size_t look = grouped ? static_cast<size_t>(rowGroup[r]) : 0;
      if (lookStamp[look] < 0) {
        stamps.push_back(makeMarkerStamp(scaledMarker(looks[look], s)));
        lookStamp[look] = static_cast<int>(stamps.size() - 1);
      }
      return lookStamp[look];
    };

    double reach = 0;
    for (const MarkerStyle& m : looks) reach = std::max(reach, (m.size / 2 + m.lineWidth) * s + 2);
    const int pad = static_cast<int>(std::ceil(std::min(reach, 250.0)));
    const double fx0 = t.x0() - pad, fx1 = t.x1() + pad;
    const double fy0 = t.y0() - pad, fy1 = t.y1() + pad;
    const size_t n = offsets.size() / 2;
    // The pixel of a row's point, false when it is off the map. What it
    // reads is copied in, so that it stays in registers.
    const Projection proj = dc.proj;
    const float* off = offsets.data();
    const Point* full = exact.empty() ? nullptr : exact.data();
    auto pixelOf = [=, o = origin, &proj](size_t r, int& px, int& py) {
      const Point q = full ? full[r]
                           : Point{o.x + static_cast<double>(off[2 * r]),
                                   o.y + static_cast<double>(off[2 * r + 1])};
      if (!std::isfinite(q.x) || !std::isfinite(q.y)) return false;
      Point p = proj.toPixel(q);
      p = Point{p.x * s, p.y * s};
      if (!(p.x >= fx0 && p.x < fx1 && p.y >= fy0 && p.y < fy1)) return false;
      px = static_cast<int>(std::floor(p.x));
      py = static_cast<int>(std::floor(p.y));
      return true;
    };

    // The points the rows stand for: counted cells choose the way of
    // drawing their points would.
    double points = static_cast<double>(n);
    if (cellCounts) {
      points = 0;
      for (size_t r = 0; r < n; ++r) points += countOf(r);
    }
    if (!grouped && !scale) {
      const MarkerStamp stamp = makeMarkerStamp(scaledMarker(looks[0], s));
      const uint32_t shows = repeatsThatShow(stamp);
      auto copies = [&](size_t r) { return cellCounts ? std::min(countOf(r), shows) : 1u; };
      uint32_t color = 0;
      const size_t cells = static_cast<size_t>(t.x1() - t.x0() + 2 * pad) *
                           static_cast<size_t>(t.y1() - t.y0() + 2 * pad);
      if (points >= static_cast<double>(cells / 4) && stamp.px.size() <= kMaxCountedStamp &&
          stampColor(stamp, &color)) {
        // A small marker of one color over points enough to cover much of
        // the image (counting costs a pass over its pixels): the points are
        // counted per pixel and each pixel of the image is blended once.
        StampCounts counts;
        counts.x0 = t.x0() - pad;
        counts.y0 = t.y0() - pad;
        counts.width = t.x1() - t.x0() + 2 * pad;
        counts.height = t.y1() - t.y0() + 2 * pad;
        // Millions of points are counted on the threads the layer was
        // projected on, each into a grid of its own, added up after.
        const unsigned threads = n >= kParallelPoints ? projectThreads : 1;
        std::vector<std::vector<uint16_t>> grids(threads);
        const int gx0 = counts.x0, gy0 = counts.y0;
        const uint32_t gw = static_cast<uint32_t>(counts.width);
        const Point t0 = proj.toPixel(Point{0, 0});
        const CellGrid cellGrid{origin.x, origin.y, t0.x, t0.y, proj.scale(), s, fx0, fx1, fy0,
                                fy1, gx0, gy0, gw, static_cast<uint32_t>(cells)};
        qv::parallelFor(threads, threads, [&](size_t k) {
          std::vector<uint16_t>& grid = grids[k];
          grid.assign(cells, 0);
          uint16_t* g = grid.data();
          // A block of cells first, then their counts: apart, the two
          // loops run several times faster than as one.
          uint32_t block[4096];
          const size_t end = n * (k + 1) / threads;
          for (size_t from = n * k / threads; from < end; from += 4096) {
            const size_t to = std::min(end, from + 4096);
            size_t m = to - from;
            if (full) {
              for (size_t r = from; r < to; ++r) {
                int px, py;
                block[r - from] =
                    pixelOf(r, px, py)
                        ? static_cast<uint32_t>(py - gy0) * gw + static_cast<uint32_t>(px - gx0)
                        : cellGrid.outside;
              }
            } else {
              gridCells(off, from, to, cellGrid, block);
            }
            if (cellCounts) {
              for (size_t i = 0; i < m; ++i) {
                if (block[i] == cellGrid.outside) continue;
                uint16_t& c = g[block[i]];
                c = static_cast<uint16_t>(
                    std::min<uint32_t>(uint32_t{c} + countOf(from + i), StampCounts::kMaxCount));
              }
              continue;
            }
            for (size_t i = 0; i < m; ++i) {
              if (block[i] == cellGrid.outside) continue;
              uint16_t& c = g[block[i]];
              c += c != StampCounts::kMaxCount;
            }
          }
        });
        counts.count = std::move(grids[0]);
        for (unsigned k = 1; k < threads; ++k) {
          uint16_t* sum = counts.count.data();
          const uint16_t* add = grids[k].data();
          for (size_t i = 0; i < cells; ++i)
            sum[i] = static_cast<uint16_t>(
                std::min<uint32_t>(uint32_t{sum[i]} + add[i], StampCounts::kMaxCount));
          std::vector<uint16_t>().swap(grids[k]);
        }
        blendStampCounts(t, stamp, color, counts);
        return;
      }
      // One look: the order of drawing does not change the image, so the
      // points go in pixel order (the image is then walked row by row, not
      // at random): counted per image row, placed in their rows and sorted
      // within them (blending rounds, so the order shows in the pixels).
      const uint32_t gw = static_cast<uint32_t>(t.x1() - t.x0() + 2 * pad);
      const size_t gh = static_cast<size_t>(t.y1() - t.y0() + 2 * pad);
      std::vector<size_t> rowStart(gh + 1, 0);
      for (size_t r = 0; r < n; ++r) {
        int px, py;
        if (pixelOf(r, px, py)) rowStart[static_cast<size_t>(py - t.y0() + pad) + 1] += copies(r);
      }
      for (size_t i = 1; i <= gh; ++i) rowStart[i] += rowStart[i - 1];
      std::vector<uint32_t> keys(rowStart[gh]);
      {
        std::vector<size_t> at(rowStart.begin(), rowStart.end() - 1);
        for (size_t r = 0; r < n; ++r) {
          int px, py;
          if (!pixelOf(r, px, py)) continue;
          const size_t row = static_cast<size_t>(py - t.y0() + pad);
          for (uint32_t c = copies(r); c > 0; --c)
            keys[at[row]++] =
                static_cast<uint32_t>(row) * gw + static_cast<uint32_t>(px - t.x0() + pad);
        }
      }
      for (size_t row = 0; row < gh; ++row)
        sortKeys(keys.data() + rowStart[row], keys.data() + rowStart[row + 1], gw);
      for (size_t i = 0; i < keys.size(); ++i) {
        if (stamp.opaque && i > 0 && keys[i] == keys[i - 1]) continue;
        const int px = static_cast<int>(keys[i] % gw) + t.x0() - pad;
        const int py = static_cast<int>(keys[i] / gw) + t.y0() - pad;
        stampMarker(t, stamp, px, py);
      }
      return;
    }

    // Several looks: data order, which decides what lies on top. The stamp
    // last put at each pixel is remembered, to skip opaque repeats.
    const int w = t.x1() - t.x0(), h = t.y1() - t.y0();
    std::vector<uint16_t> last(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
    std::vector<uint32_t> shows;  // per stamp, repeatsThatShow
    for (size_t r = 0; r < n; ++r) {
      int px, py;
      if (!pixelOf(r, px, py)) continue;
      const int k = stampOf(r);
      const MarkerStamp& stamp = stamps[static_cast<size_t>(k)];
      if (stamp.opaque && px >= t.x0() && px < t.x1() && py >= t.y0() && py < t.y1() &&
          k < 65535) {
        uint16_t& seen = last[static_cast<size_t>(py - t.y0()) * static_cast<size_t>(w) +
                             static_cast<size_t>(px - t.x0())];
        if (seen == k + 1) continue;
        seen = static_cast<uint16_t>(k + 1);
      }
      uint32_t copies = 1;
      if (cellCounts) {
        while (shows.size() < stamps.size()) shows.push_back(repeatsThatShow(stamps[shows.size()]));
        copies = std::min(countOf(r), shows[static_cast<size_t>(k)]);
      }
      for (; copies > 0; --copies) stampMarker(t, stamp, px, py);
    }
  }

  DataTable* table = nullptr;
  const DataColumn *x = nullptr, *y = nullptr;
  const DataColumn* cellCounts = nullptr;  // the points of each row, when rows are counted cells
  bool grouped = false;
  std::vector<int> rowGroup;
  std::vector<MarkerStyle> looks;  // per group, or one
  // Projected points, as float offsets from the first one (half the memory
  // of doubles for millions of points): x, y per row, NaN when not drawn.
  PlanarContext planarContext;
  Point origin{0, 0};
  double spread = 0;  // the largest offset on either axis
  std::vector<float> offsets;
  std::vector<Point> exact;  // while drawing, when floats are not close enough
  unsigned projectThreads = 1;  // the threads the layer may use
  DataLabels labels;
  MarkTips tips;
};

}  // namespace

std::unique_ptr<PreparedLayer> prepareScatter(Env& env, const Layer& layer) {
  auto out = std::make_unique<ScatterLayer>(layer);
  if (!pointColumns(env, layer, out->table, out->x, out->y)) return nullptr;
  out->cellCounts = out->table->rowCounts();
  const std::string name = layerName(layer);
  const std::string label = layer.legendLabel ? *layer.legendLabel : name;
  std::string problem;
  LegendItem item;
  item.kind = LegendItem::Kind::Marker;

  const ColumnRef* response = layer.column(Role::ColorResponse);
  Grouping g;
  out->grouped = groupRows(env, layer, out->table, name, g, out->rowGroup, out->groupTitle);
  if (out->grouped)
    for (const GroupEntry& e : g.entries()) out->looks.push_back(markerLook(env, layer, &e));
  else
    out->looks.push_back(markerLook(env, layer, nullptr));
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
  const double* xs = out->x->num.data();
  const double* ys = out->y->num.data();
  WrapExtent extent;  // a local: a store to the layer's could be to the data
  if (out->grouped) {
    for (size_t r = 0; r < n; ++r)
      if (out->rowGroup[r] >= 0) extent.add(xs[r], ys[r]);
  } else {
    for (size_t r = 0; r < n; ++r) extent.add(xs[r], ys[r]);
  }
  out->extent = extent;
  out->labels.init(env, layer, out->table, TextPosition::TopRight, out->looks[0].size / 2 + 2);
  out->tips.init(env, layer, out->table);

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
