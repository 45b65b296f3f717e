// The render pipeline: prepare every layer (its rows, groups, colors and
// extent), lay out titles, footnotes and legends around the map, fit the
// projection to what the layers show, then draw the tiles, the other layers
// in template order, what layers draw above them all (region labels), the
// tile credits, the legends and the titles.
#include "render/renderer.h"

#include <algorithm>
#include <cmath>

#include "render/marks/draw.h"
#include "render/marks/furniture.h"
#include "render/paint/cairo_painter.h"
#include "render/paint/html.h"
#include "render/paint/mark_picture.h"
#include "render/paint/svg_painter.h"

namespace qv::render {

namespace {

constexpr double kOuterPad = 6;    // between the image edge and everything
constexpr double kBlockGap = 4;    // between stacked blocks
constexpr double kMapMargin = 10;  // between the map area's edge and the fitted data
constexpr double kVectorMinSpacing = 0.02;  // pixels between kept vertices in vector outputs
constexpr double kPictureScale = 2;  // picture pixels to a layout pixel (kPictureMarks)

struct Placed {
  Block* block;
  Rect box;
};

// The overlay's pad=: one length for every side, or top/bottom/left/right.
void overlayPad(const GraphModel& model, double percentOf, double pad[4]) {
  pad[0] = pad[1] = pad[2] = pad[3] = 0;  // top, bottom, left, right
  const Value* v = model.overlayOptions.find(Key::Pad);
  if (!v) return;
  if (v->kind == Value::Kind::Block) {
    constexpr Attr sides[4] = {Attr::Top, Attr::Bottom, Attr::Left, Attr::Right};
    for (int i = 0; i < 4; ++i)
      if (const Value* s = v->find(sides[i])) pad[i] = lengthPx(*s, percentOf, 0);
  } else {
    double p = lengthPx(*v, percentOf, 0);
    for (int i = 0; i < 4; ++i) pad[i] = p;
  }
  for (int i = 0; i < 4; ++i) pad[i] = std::min(pad[i], percentOf / 4);
}

std::unique_ptr<PreparedLayer> prepare(Env& env, const Layer& l) {
  switch (l.kind) {
    case LayerKind::Map: return prepareTiles(env, l);
    case LayerKind::Region: return prepareRegions(env, l);
    case LayerKind::Scatter: return prepareScatter(env, l);
    case LayerKind::Bubble: return prepareBubbles(env, l);
    case LayerKind::Series: return prepareSeries(env, l);
    case LayerKind::Text: return prepareText(env, l);
  }
  return nullptr;
}

PreparedLayers prepareAll(Env& env, const GraphModel& model) {
  PreparedLayers layers;
  for (const Layer& l : model.layers)
    if (auto p = prepare(env, l)) layers.push_back(std::move(p));
  return layers;
}

// Where the layers' data lie, and whether map tiles are drawn.
struct Shown {
  WrapExtent extent;
  bool tiles = false;
};

Shown shownBy(const PreparedLayers& layers) {
  Shown s;
  for (const auto& p : layers) {
    s.extent.add(p->extent);
    s.tiles = s.tiles || p->tiles;
  }
  return s;
}

// Whether MAPEXTENT= gives the box the map is fitted to.
bool extentGiven(const OptionValues& options) {
  return options.numbers(GlobalOpt::MapExtent).size() == 4;
}

// What the map is fitted to and its projection chosen for: the box of
// MAPEXTENT= (its western longitude above the eastern crosses the
// antimeridian), else what the layers show.
WrapExtent fittedExtent(const OptionValues& options, const Shown& shown) {
  if (!extentGiven(options)) return shown.extent;
  const std::vector<double>& box = options.numbers(GlobalOpt::MapExtent);
  const double east = box[2], west = box[0] > east ? box[0] - 360 : box[0];
  WrapExtent e;
  e.plain = e.shifted = Extent{west, box[1], east, box[3], true};
  return e;
}

// The planar box of a longitude/latitude box: its edges and inside,
// positions the projection does not take left out.
FitBox planarBoxOf(const PlanarContext& pc, const Extent& e, const FitBox& fallback) {
  constexpr int kSteps = 32;
  std::vector<Point> pts;
  for (int j = 0; j <= kSteps; ++j)
    for (int i = 0; i <= kSteps; ++i) {
      const LonLat p{e.minLon + (e.maxLon - e.minLon) * i / kSteps,
                     e.minLat + (e.maxLat - e.minLat) * j / kSteps};
      if (!pc.map->accepts(p)) continue;
      const LonLat w = wrapToCentre(p, pc.cut.lon0);
      pts.push_back({w.lon, w.lat});
    }
  pc.map->forwardPoints(pts.data(), pts.size());
  PlanarBox box;
  box.add(pts);
  return box.any ? box.box : fallback;
}

// The planar box of the whole world, shown when nothing else is.
FitBox worldBox(const PlanarContext& pc) {
  std::vector<Point> pts;
  for (int lat = -85; lat <= 85; lat += 5)
    for (int k = -18; k <= 18; ++k) {
      const LonLat w = wrapToCentre({pc.cut.lon0 + k * 10.0, double(lat)}, pc.cut.lon0);
      pts.push_back({w.lon, w.lat});
    }
  pc.map->forwardPoints(pts.data(), pts.size());
  PlanarBox box;
  box.add(pts);
  return box.any ? box.box : FitBox{0, 0, 1, 1};
}

// What a graph is drawn on: an image of the request's size at its DPI, a
// PDF page, or an SVG drawing.
class Output {
 public:
  explicit Output(const RenderRequest& req)
      : kind_(outputKindOf(req.options)), element_(req.panel) {
    const int width = req.options.integer(GlobalOpt::GraphWidth);
    const int height = req.options.integer(GlobalOpt::GraphHeight);
    switch (kind_) {
      case OutputKind::Png: {
        const double s = outputScale(req.options);
        image_ = std::make_unique<Canvas>(outputSide(width, s), outputSide(height, s));
        cairo_ = std::make_unique<CairoPainter>(image_->cr(), image_.get(), s);
        if (s != 1) cairo_->scale(s, s);
        break;
      }
      // Vector outputs take the same GRAPHWIDTH and GRAPHHEIGHT as images.
      case OutputKind::Pdf:
        checkGraphSize(width, height);
        if (req.pdfPage) page_ = std::make_shared<PdfPage>(width, height);
        else pdf_ = std::make_unique<PdfDocument>(width, height);
        break;
      case OutputKind::Svg:
      case OutputKind::Html:
        checkGraphSize(width, height);
        svg_ = std::make_unique<SvgPainter>(width, height);
        break;
    }
  }

  // The painter of an HTML map, which takes layers of many marks as
  // pictures; null for other outputs.
  SvgPainter* page() { return kind_ == OutputKind::Html ? svg_.get() : nullptr; }

  Painter& painter() {
    if (cairo_) return *cairo_;
    if (pdf_) return pdf_->painter();
    if (page_) return page_->painter();
    return *svg_;
  }

  void finish(RenderResult& result) {
    switch (kind_) {
      case OutputKind::Png: result.canvas = std::move(image_); break;
      case OutputKind::Pdf:
        if (page_) {
          page_->finish();
          result.page = std::move(page_);
        } else {
          result.document = pdf_->finish();
        }
        break;
      case OutputKind::Svg: result.document = element_ ? svg_->element() : svg_->document(); break;
      case OutputKind::Html: result.document = svg_->element(); break;
    }
  }

  // Draws a panel of this output's kind into `box` (layout pixels); the
  // n-th panel (from 0) of a drawing.
  void place(const Panel& panel, const Rect& box, size_t n) {
    if (image_ && panel.canvas) {
      cairo_->drawImage(*panel.canvas, box, false);
    } else if (svg_ && !panel.svg.empty()) {
      std::string renamed;
      appendRenamedIds(renamed, panel.svg, n + 1);
      svg_->embed(renamed, box.x, box.y);
    } else if (pdf_ && panel.page) {
      pdf_->place(*panel.page, box.x, box.y);
    }
  }

 private:
  OutputKind kind_;
  bool element_;  // an SVG drawing is an element of a page
  std::unique_ptr<Canvas> image_;
  std::unique_ptr<CairoPainter> cairo_;
  std::unique_ptr<PdfDocument> pdf_;
  std::shared_ptr<PdfPage> page_;
  std::unique_ptr<SvgPainter> svg_;
};

// Draws a layer of many marks as one picture on an HTML map (see
// kPictureMarks).
void drawAsPicture(Env& env, const DrawContext& dc, PreparedLayer& layer, SvgPainter& page) {
  MarkPicture picture(env.req.options.integer(GlobalOpt::GraphWidth),
                      env.req.options.integer(GlobalOpt::GraphHeight), dc.area, kPictureScale);
  DrawContext on = dc;
  on.pen = &picture;
  layer.draw(env, on);
  picture.check("the plot " + layerName(layer.layer));
  page.drawPicture(picture.finish());
}

// The titles or footnotes of a panel of small multiples: those that change
// from group to group (they name BY values, or are the BY line), and the
// BY line as a caption when no title does (`caption`); the page draws the
// others. With `shared`, those others.
std::vector<TextEntry> panelTexts(const std::vector<TextEntry>& entries, bool shared,
                                  bool caption) {
  auto dynamic = [](const TextEntry& e) {
    return std::any_of(e.segments.begin(), e.segments.end(),
                       [](const TextSegment& s) { return s.dynamic; });
  };
  std::vector<TextEntry> out;
  for (const TextEntry& e : entries)
    if (dynamic(e) != shared) out.push_back(e);
  if (caption && out.empty()) {
    TextEntry line;
    line.segments.push_back({true, "__BYLINE__", {}});
    out.push_back(std::move(line));
  }
  return out;
}

// What a page of small multiples has around its grid of panels: the titles
// above it, the legends and the footnotes below it, each block with its box
// (those below from the grid's end).
struct PageFrame {
  std::vector<PlacedBlock> blocks;
  std::vector<Placed> above, below;
  double top = 0, bottom = 0;  // the room above and below the grid
};

PageFrame pageFrame(Env& env, const GraphModel& model, const PreparedLayers& layers,
                    double width, double panelHeight) {
  PageFrame f;
  std::vector<PlacedBlock> titles = makeTitles(env, panelTexts(model.titles, true, false), false);
  std::vector<PlacedBlock> legends = makeLegends(env, layers);
  std::vector<PlacedBlock> footnotes =
      makeTitles(env, panelTexts(model.footnotes, true, false), true);
  const double avail = std::max(1.0, width - 2 * kOuterPad);
  auto stack = [&](PlacedBlock& b, std::vector<Placed>& to, double* y, double maxHeight) {
    Size2 sz = b.block->layout(avail, maxHeight);
    if (sz.width <= 0 || sz.height <= 0) return;
    sz.width = std::min(sz.width, avail);
    to.push_back({b.block.get(), Rect{kOuterPad + (avail - sz.width) * b.halign, *y, sz.width,
                                      sz.height}});
    *y += sz.height + kBlockGap;
  };
  double y = kOuterPad;
  for (PlacedBlock& t : titles) stack(t, f.above, &y, panelHeight / 4);
  f.top = f.above.empty() ? 0 : y;
  double below = kBlockGap;
  for (PlacedBlock& l : legends) stack(l, f.below, &below, panelHeight);
  for (PlacedBlock& t : footnotes) stack(t, f.below, &below, panelHeight / 4);
  f.bottom = f.below.empty() ? 0 : below - kBlockGap + kOuterPad;
  for (auto* list : {&titles, &legends, &footnotes})
    for (PlacedBlock& b : *list) f.blocks.push_back(std::move(b));
  return f;
}

}  // namespace

double outputScale(const OptionValues& options) {
  if (outputKindOf(options) != OutputKind::Png) return 1;
  const double dpi = options.number(GlobalOpt::GraphDpi);
  return std::isfinite(dpi) && dpi > 0 ? dpi / 96 : 1;
}

int outputSide(int side, double scale) {
  const double v = std::round(side * scale);
  return v > kMaxImageSide ? kMaxImageSide + 1 : static_cast<int>(std::max(v, 0.0));
}

std::vector<size_t> panelPages(const GraphModel& model, const RenderRequest& step, size_t panels,
                               int columns) {
  columns = std::max(1, columns);
  Env env(model, step);
  const PreparedLayers layers = prepareAll(env, model);
  const double w = step.options.integer(GlobalOpt::GraphWidth);
  const double h = step.options.integer(GlobalOpt::GraphHeight);
  const PageFrame f = pageFrame(env, model, layers, columns * w, h);
  const double s = outputScale(step.options);
  const double width = std::ceil(columns * w * s);
  auto fits = [&](size_t rows) {
    const double height = std::ceil((f.top + rows * h + f.bottom) * s);
    return height <= kMaxImageSide && width * height <= double(kMaxImagePixels);
  };
  if (width > kMaxImageSide || !fits(1))
    throw qv::UserError("A page of " + std::to_string(columns) + " panels of " +
                        std::to_string(int(w)) + " x " + std::to_string(int(h)) +
                        " to a row is larger than an image can be (" +
                        std::to_string(kMaxImageSide) + " pixels a side, " +
                        std::to_string(kMaxImagePixels) + " pixels in all); fewer or smaller "
                        "panels fit.");
  size_t rows = 1;
  const size_t needed = (panels + columns - 1) / columns;
  while (rows < needed && fits(rows + 1)) ++rows;
  std::vector<size_t> pages;
  for (size_t left = panels; left > 0;) {
    const size_t n = std::min(left, rows * columns);
    pages.push_back(n);
    left -= n;
  }
  return pages;
}

RenderResult renderPanelPage(const GraphModel& model, const RenderRequest& step,
                             const std::vector<const Panel*>& panels, int columns,
                             size_t idBase) {
  columns = std::max(1, columns);
  RenderResult result;
  Env env(model, step);
  const PreparedLayers layers = prepareAll(env, model);
  const double w = step.options.integer(GlobalOpt::GraphWidth);
  const double h = step.options.integer(GlobalOpt::GraphHeight);
  PageFrame f = pageFrame(env, model, layers, columns * w, h);
  const size_t rows = (panels.size() + columns - 1) / columns;
  const double gridEnd = f.top + rows * h;
  RenderRequest page = step;
  page.panel = page.pdfPage = false;
  page.options.setNumber(GlobalOpt::GraphWidth, columns * w);
  page.options.setNumber(GlobalOpt::GraphHeight, std::ceil(gridEnd + f.bottom));
  Output out(page);
  Painter& pen = out.painter();
  if (model.graph.opaque) {
    StateGuard guard(pen);
    pen.setColor(env.style.background);
    pen.paint();
  }
  for (size_t i = 0; i < panels.size(); ++i)
    out.place(*panels[i], Rect{double(i % columns) * w, f.top + double(i / columns) * h, w, h},
              idBase + i);
  pen.check("the panels");
  for (const Placed& p : f.above) p.block->draw(pen, p.box);
  for (const Placed& p : f.below)
    p.block->draw(pen, Rect{p.box.x, gridEnd + p.box.y, p.box.width, p.box.height});
  pen.check("the titles and legends");
  result.warnings = std::move(env.warnings);
  result.mapArea = Rect{0, f.top, columns * w, rows * h};
  result.pageWidth = columns * w;
  result.pageHeight = std::ceil(gridEnd + f.bottom);
  out.finish(result);
  return result;
}

StepChoice chooseStep(const GraphModel& model, const RenderRequest& req) {
  Env env(model, req);
  const PreparedLayers layers = prepareAll(env, model);
  const Shown shown = shownBy(layers);
  StepChoice c;
  c.projection = chooseProjection(req.options.text(GlobalOpt::MapProjection),
                                  fittedExtent(req.options, shown), shown.tiles,
                                  extentGiven(req.options));
  auto bubbles = std::make_shared<BubbleScales>(model.layers.size());
  for (const auto& p : layers)
    if (p->sizeKey) (*bubbles)[static_cast<size_t>(&p->layer - model.layers.data())] = p->sizeKey->scale;
  c.bubbles = std::move(bubbles);
  return c;
}

RenderResult renderGraph(const GraphModel& model, const RenderRequest& req) {
  RenderResult result;
  Output out(req);
  Painter& pen = out.painter();
  Env env(model, req);
  if (model.graph.opaque) {
    StateGuard guard(pen);
    pen.setColor(env.style.background);
    pen.paint();
  }

  PreparedLayers layers = prepareAll(env, model);
  const Shown shown = shownBy(layers);
  const WrapExtent fitted = fittedExtent(req.options, shown);
  const bool boxGiven = extentGiven(req.options);
  MapProjectionPtr map = req.stepProjection;
  if (!map) {
    ProjectionChoice choice = chooseProjection(req.options.text(GlobalOpt::MapProjection), fitted,
                                               shown.tiles, boxGiven);
    for (const std::string& w : choice.warnings) env.warn(w);
    if (!choice.note.empty()) result.notes.push_back(choice.note);
    map = choice.projection;
  }

  // A panel of a page has around it only what changes by group; the page
  // has the rest.
  std::vector<PlacedBlock> titles =
      makeTitles(env, req.panel ? panelTexts(model.titles, false, true) : model.titles, false);
  std::vector<PlacedBlock> footnotes = makeTitles(
      env, req.panel ? panelTexts(model.footnotes, false, false) : model.footnotes, true);
  std::vector<PlacedBlock> legends;
  if (!req.panel) legends = makeLegends(env, layers);

  const double W = req.options.integer(GlobalOpt::GraphWidth);
  const double H = req.options.integer(GlobalOpt::GraphHeight);
  Rect free{kOuterPad, kOuterPad, std::max(0.0, W - 2 * kOuterPad),
            std::max(0.0, H - 2 * kOuterPad)};
  std::vector<Placed> placed;

  // A block at the top or bottom edge of what is left.
  auto stack = [&](PlacedBlock& b, bool top, double maxHeight) {
    Size2 s = b.block->layout(free.width, maxHeight);
    if (s.width <= 0 || s.height <= 0) return;
    s.width = std::min(s.width, free.width);
    s.height = std::min(s.height, std::max(0.0, free.height));
    double x = free.x + (free.width - s.width) * b.halign;
    double y = top ? free.y : free.bottom() - s.height;
    placed.push_back({b.block.get(), Rect{x, y, s.width, s.height}});
    const double used = s.height + kBlockGap;
    if (top) free.y += used;
    free.height = std::max(0.0, free.height - used);
  };

  for (PlacedBlock& t : titles) stack(t, true, H / 4);
  // Footnotes from the bottom: the last one lowest.
  for (auto it = footnotes.rbegin(); it != footnotes.rend(); ++it) stack(*it, false, H / 4);
  // Legends below the map: the first one nearest the map, so lay out from
  // the last one upward.
  for (auto it = legends.rbegin(); it != legends.rend(); ++it)
    if (it->side == Side::Bottom) stack(*it, false, H * 0.3);
  for (PlacedBlock& l : legends)
    if (l.side == Side::Top) stack(l, true, H * 0.3);
  for (PlacedBlock& l : legends) {
    if (l.side != Side::Left && l.side != Side::Right) continue;
    Size2 s = l.block->layout(free.width * 0.35, free.height);
    if (s.width <= 0 || s.height <= 0) continue;
    s.height = std::min(s.height, free.height);
    double y = free.y + (free.height - s.height) / 2;
    if (l.side == Side::Left) {
      placed.push_back({l.block.get(), Rect{free.x, y, s.width, s.height}});
      free.x += s.width + kBlockGap;
    } else {
      placed.push_back({l.block.get(), Rect{free.right() - s.width, y, s.width, s.height}});
    }
    free.width = std::max(0.0, free.width - s.width - kBlockGap);
  }

  double pad[4];
  overlayPad(model, env.percentBase, pad);
  Rect area{free.x + pad[2], free.y + pad[0], std::max(1.0, free.width - pad[2] - pad[3]),
            std::max(1.0, free.height - pad[0] - pad[1])};

  // Inside legends sit in the map area's lower right corner.
  std::vector<Rect> insideArea;  // what map furniture keeps clear of
  for (PlacedBlock& l : legends) {
    if (l.side != Side::Inside) continue;
    Size2 s = l.block->layout(area.width * 0.5, area.height * 0.5);
    if (s.width <= 0 || s.height <= 0) continue;
    placed.push_back({l.block.get(), Rect{area.right() - s.width - 4, area.bottom() - s.height - 4,
                                          s.width, s.height}});
    insideArea.push_back(placed.back().box);
  }

  // Everything drawn in planar map coordinates, then the scale at which it
  // all fits the map area.
  // A drawing that can be zoomed into keeps regions smaller than a pixel,
  // so that each has its shape, tip and link there.
  const double minSpacing = outputKindOf(req.options) == OutputKind::Png
                               ? GeometryOptions{}.minSpacing
                               : kVectorMinSpacing;
  ProjectContext pc{planarContext(*map, fitted.shorter(), area, minSpacing), area,
                    std::max(1u, req.threads)};
  std::vector<FitBox> fit;
  for (const auto& p : layers) p->project(env, pc, fit);
  if (std::string note = env.leftOutNote(); !note.empty()) result.notes.push_back(std::move(note));
  // MAPEXTENT= fills the map area with its box, whatever the layers show.
  const double margin =
      boxGiven ? 0 : std::min(kMapMargin, std::min(area.width, area.height) / 8);
  if (boxGiven) fit.assign(1, planarBoxOf(pc.planar, fitted.shorter(), worldBox(pc.planar)));
  DrawContext dc;
  dc.pen = &pen;
  dc.area = area;
  dc.proj = Projection::fitBoxes(fit, area, margin, map->maxScale(), worldBox(pc.planar));
  dc.proj.setMapProjection(map);
  dc.geo = geometryFor(area, 4);
  dc.geo.minSpacing = minSpacing;
  LabelSpace labels(static_cast<LabelOverlap>(req.options.choice(GlobalOpt::LabelOverlap)), area);
  dc.labels = &labels;

  MapFurniture furniture(env, dc, pc.planar, fitted.shorter());
  {
    StateGuard guard(pen);
    pen.rectangle(area.x, area.y, area.width, area.height);
    pen.clip();
    furniture.paintArea(pen);
    pen.check("the map area");
    // Tiles beneath every data layer, whatever the statement order, and
    // the graticule between them; the data layers in template order.
    for (bool tiles : {true, false}) {
      for (const auto& p : layers) {
        if (p->tiles != tiles) continue;
        if (SvgPainter* page = out.page(); page && p->markCount() > kPictureMarks)
          drawAsPicture(env, dc, *p, *page);
        else
          p->draw(env, dc);
        pen.check("the plot " + layerName(p->layer));
      }
      if (tiles) {
        furniture.drawBeneath(pen);
        pen.check("the graticule");
      }
    }
    for (const auto& p : layers) {
      p->drawAbove(env, dc);
      pen.check("the plot " + layerName(p->layer));
    }
    for (const auto& p : layers)
      if (!p->attribution.empty()) {
        drawAttribution(pen, area, p->attribution, env.style.attributionText);
        insideArea.push_back(attributionBox(area, p->attribution, env.style.attributionText));
      }
    pen.check("the tile credits");
    furniture.drawAbove(pen, std::move(insideArea));
    pen.check("the map furniture");
  }
  for (std::string& note : furniture.notes) result.notes.push_back(std::move(note));
  {
    StateGuard guard(pen);
    pen.rectangle(area.x + 0.5, area.y + 0.5, area.width - 1, area.height - 1);
    setLineStyle(pen, rgbHex(0xA0A0A0), 1, 1);
    pen.stroke();
  }
  pen.check("the map frame");
  for (const Placed& p : placed) p.block->draw(pen, p.box);
  pen.check("the titles and legends");

  result.labelsLeftOut = labels.leftOut();
  result.labelBoxes = labels.takeDrawn();
  if (const size_t n = labels.leftOut(); n > 0)
    result.imageNotes.push_back(std::to_string(n) +
                                (n == 1 ? " label that would overlap others was left out."
                                        : " labels that would overlap others were left out."));
  result.warnings = std::move(env.warnings);
  result.dataMessages = std::move(env.dataMessages);
  result.responseJoins = std::move(env.responseJoins);
  result.tilesFailed = env.tilesFailed;
  result.regionClasses = std::move(env.regionClasses);
  result.mapArea = area;
  result.projection = dc.proj;
  out.finish(result);
  return result;
}

}  // namespace qv::render
