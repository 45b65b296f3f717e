// What the renderer draws with: a small immediate-mode interface in the
// manner of Cairo (a current transform, clip, source and line settings, a
// path that fill and stroke consume), behind which stand the outputs: Cairo
// on an image (PNG), Cairo on a PDF surface, and our own SVG writer (SVG,
// and the HTML page that holds it).
//
// Coordinates are in the graph's layout pixels (user space); a painter
// maps them to its output (device pixels at GRAPHDPI, PDF points).
// Painters that keep marks apart (SVG) are told where each mark begins and
// ends, with its tip and link; the others ignore it.
#pragma once

#include <string>
#include <vector>

#include "render/geo/viewport.h"
#include "render/graph/style.h"

namespace qv::render {

class Canvas;
class MarkMap;
class TextLayout;

enum class LineCap { Butt, Round, Square };
enum class LineJoin { Miter, Round, Bevel };
enum class FillRule { Winding, EvenOdd };

struct GradientStop {
  double offset = 0;  // 0 at the start point, 1 at the end point
  Rgba color;
};

// A mark of the map as a reader sees it: its kind ("region", "marker",
// "bubble", "line", "label"), the text shown when the pointer rests on it
// (lines separated by '\n', "" for none) and the address it links to ("" for
// none).
struct ItemInfo {
  std::string kind;
  std::string tip;
  std::string url;
};

class Painter {
 public:
  virtual ~Painter() = default;

  // State: transform, clip, source, line and fill settings. The path is not
  // part of the state. restore() never throws: it runs in StateGuard's
  // destructor, also while an exception unwinds; a painter that fails in it
  // draws nothing more and reports the failure at check().
  virtual void save() = 0;
  virtual void restore() = 0;
  virtual void translate(double dx, double dy) = 0;
  virtual void rotate(double radians) = 0;
  virtual void scale(double sx, double sy) = 0;
  // Narrows the clip to the current path (its fill rule) and clears the path.
  virtual void clip() = 0;

  // The path, in user space.
  virtual void newPath() = 0;
  virtual void newSubPath() = 0;
  virtual void moveTo(double x, double y) = 0;
  virtual void lineTo(double x, double y) = 0;
  virtual void curveTo(double x1, double y1, double x2, double y2, double x3, double y3) = 0;
  // Arcs as Cairo draws them: from angle a0 to a1 in radians, clockwise on
  // screen (y down); arcNegative the other way. A line joins the current
  // point to the arc's start.
  virtual void arc(double cx, double cy, double r, double a0, double a1) = 0;
  virtual void arcNegative(double cx, double cy, double r, double a0, double a1) = 0;
  virtual void closePath() = 0;
  virtual void rectangle(double x, double y, double w, double h) = 0;

  // The source: a color, or a linear gradient between two user-space points.
  virtual void setColor(const Rgba& c) = 0;
  virtual void setLinearGradient(Point from, Point to, const std::vector<GradientStop>& stops) = 0;
  virtual void setLineWidth(double width) = 0;
  // Dash lengths in user space; empty: solid.
  virtual void setDash(const std::vector<double>& dashes) = 0;
  virtual void setLineCap(LineCap cap) = 0;
  virtual void setLineJoin(LineJoin join) = 0;
  virtual void setFillRule(FillRule rule) = 0;

  // Fill and stroke the path with the source; the Preserve forms keep the
  // path (a fill then a stroke of one path is one shape).
  virtual void fill() = 0;
  virtual void fillPreserve() = 0;
  virtual void stroke() = 0;
  virtual void strokePreserve() = 0;
  // Covers the whole clip with the source.
  virtual void paint() = 0;

  // An image scaled into `dest` (user space), smoothed or nearest-pixel.
  virtual void drawImage(const Canvas& image, const Rect& dest, bool smooth) = 0;

  // A laid-out text block with its top-left corner at (x, y) in user space,
  // in `color`; with `haloWidth` > 0 a halo (the glyphs' outlines stroked
  // `haloWidth` wide in `halo`, round joins) is drawn beneath it.
  virtual void drawText(const TextLayout& text, double x, double y, const Rgba& color,
                        double haloWidth, const Rgba& halo) = 0;

  // Marks: what is drawn between beginItem and endItem is one mark. Only
  // painters that keep marks apart want them (so callers make tips only
  // then); items do not nest. endItem, like restore, never throws.
  virtual bool keepsItems() const { return false; }
  virtual void beginItem(const ItemInfo&) {}
  virtual void endItem() {}
  // A painter that draws a layer of many marks as one picture (the HTML
  // page's, see mark_picture.h) gives the map of its marks here, for marks
  // drawn straight into its pixels; null for the others.
  virtual MarkMap* markMap() { return nullptr; }

  // The image drawn on, for marks drawn straight into its pixels (see
  // raster.h), and its pixels per user unit; null for vector outputs.
  virtual Canvas* pixels() { return nullptr; }
  virtual double pixelScale() const { return 1; }

  // A drawing backend that failed draws nothing more: UserError naming
  // `what` was being drawn and the reason (bad_alloc for memory).
  virtual void check(const std::string& what) = 0;
};

// Saves a painter's state on construction and restores it on destruction,
// so that a mark's color, line, clip and transform never leak to the next.
class StateGuard {
 public:
  explicit StateGuard(Painter& p) : p_(p) { p_.save(); }
  ~StateGuard() noexcept { p_.restore(); }
  StateGuard(const StateGuard&) = delete;
  StateGuard& operator=(const StateGuard&) = delete;

 private:
  Painter& p_;
};

// What is drawn in its life is one mark: beginItem on construction when the
// painter keeps items, endItem on destruction.
class ItemGuard {
 public:
  ItemGuard(Painter& p, const ItemInfo& info) : p_(p), open_(p.keepsItems()) {
    if (open_) p_.beginItem(info);
  }
  ~ItemGuard() noexcept {
    if (open_) p_.endItem();
  }
  ItemGuard(const ItemGuard&) = delete;
  ItemGuard& operator=(const ItemGuard&) = delete;

 private:
  Painter& p_;
  bool open_;
};

// Color and line settings from style values.
void setLineStyle(Painter& p, const Rgba& color, double width, int pattern);

}  // namespace qv::render
