// The painters that draw with Cairo: on an image (PNG output, and every
// image the tests look at) and on a PDF surface (text stays text there,
// with its fonts embedded).
#pragma once

#include <cairo.h>

#include <memory>
#include <string>

#include "render/paint/painter.h"

namespace qv::render {

class CairoPainter final : public Painter {
 public:
  // Draws on `cr` (not owned). `image`: the canvas whose pixels `cr` draws
  // on, `pixelScale` of its pixels per user unit (null for other surfaces).
  explicit CairoPainter(cairo_t* cr, Canvas* image = nullptr, double pixelScale = 1)
      : cr_(cr), image_(image), pixelScale_(pixelScale) {}

  void save() override { cairo_save(cr_); }
  void restore() override { cairo_restore(cr_); }
  void translate(double dx, double dy) override { cairo_translate(cr_, dx, dy); }
  void rotate(double radians) override { cairo_rotate(cr_, radians); }
  void scale(double sx, double sy) override { cairo_scale(cr_, sx, sy); }
  void clip() override { cairo_clip(cr_); }

  void newPath() override {
    lastValid_ = false;
    cairo_new_path(cr_);
  }
  void newSubPath() override {
    lastValid_ = false;
    cairo_new_sub_path(cr_);
  }
  void moveTo(double x, double y) override;
  void lineTo(double x, double y) override;
  void curveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    lastValid_ = false;
    cairo_curve_to(cr_, x1, y1, x2, y2, x3, y3);
  }
  void arc(double cx, double cy, double r, double a0, double a1) override {
    lastValid_ = false;
    cairo_arc(cr_, cx, cy, r, a0, a1);
  }
  void arcNegative(double cx, double cy, double r, double a0, double a1) override {
    lastValid_ = false;
    cairo_arc_negative(cr_, cx, cy, r, a0, a1);
  }
  void closePath() override {
    lastValid_ = false;
    cairo_close_path(cr_);
  }
  void rectangle(double x, double y, double w, double h) override {
    lastValid_ = false;
    cairo_rectangle(cr_, x, y, w, h);
  }

  void setColor(const Rgba& c) override { cairo_set_source_rgba(cr_, c.r, c.g, c.b, c.a); }
  void setLinearGradient(Point from, Point to, const std::vector<GradientStop>& stops) override;
  void setLineWidth(double width) override { cairo_set_line_width(cr_, width); }
  void setDash(const std::vector<double>& dashes) override {
    cairo_set_dash(cr_, dashes.data(), static_cast<int>(dashes.size()), 0);
  }
  void setLineCap(LineCap cap) override;
  void setLineJoin(LineJoin join) override;
  void setFillRule(FillRule rule) override {
    cairo_set_fill_rule(cr_, rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD
                                                       : CAIRO_FILL_RULE_WINDING);
  }

  void fill() override { cairo_fill(cr_); }
  void fillPreserve() override { cairo_fill_preserve(cr_); }
  void stroke() override { cairo_stroke(cr_); }
  void strokePreserve() override { cairo_stroke_preserve(cr_); }
  void paint() override { cairo_paint(cr_); }

  void drawImage(const Canvas& image, const Rect& dest, bool smooth) override;
  void drawText(const TextLayout& text, double x, double y, const Rgba& color, double haloWidth,
                const Rgba& halo) override;

  Canvas* pixels() override { return image_; }
  double pixelScale() const override { return pixelScale_; }
  void check(const std::string& what) override;

  cairo_t* cr() const { return cr_; }

  // For a drawing written out as vector paths (PDF): the ends of straight
  // segments are put on a grid of `grid` device units, and a segment that
  // would end within `minStep` device units of the last point put is left
  // out, but for a subpath's first. The file then holds fewer and shorter
  // numbers for no visible change. 0 and 0: every point as given.
  void setVectorPrecision(double grid, double minStep) {
    grid_ = grid;
    minStep_ = minStep;
  }

 private:
  // `x`, `y` in user space put on the grid (device space), true; false
  // (nothing to draw) when it falls within minStep_ of the last point put
  // and `skippable`.
  bool onGrid(double& x, double& y, bool skippable);

  cairo_t* cr_;
  Canvas* image_;
  double pixelScale_;
  double grid_ = 0, minStep_ = 0;
  bool lastValid_ = false;  // lastX_, lastY_: the last point put (device space)
  bool hasSegment_ = false;  // a segment was put since the last move
  double lastX_ = 0, lastY_ = 0;
};

class PdfPage;

// A Cairo surface drawn on through painter() in layout pixels, at 96 per
// inch, as PDF points (a 640 x 480 graph is a page of 480 x 360 points).
class PointsDrawing {
 public:
  PointsDrawing(const PointsDrawing&) = delete;
  PointsDrawing& operator=(const PointsDrawing&) = delete;

  Painter& painter() { return *painter_; }
  // Draws a finished page at (x, y) of this drawing, in layout pixels (a
  // panel of a page of small multiples).
  void place(const PdfPage& page, double x, double y);

 protected:
  PointsDrawing() = default;
  ~PointsDrawing();
  // Draws on `surface` from now on, which it takes.
  void start(cairo_surface_t* surface);
  // Ends the drawing. UserError when Cairo failed.
  void endDrawing();

  std::string bytes_;  // what a PDF surface writes (it outlives the surface)
  cairo_surface_t* surface_ = nullptr;

 private:
  cairo_t* cr_ = nullptr;
  std::unique_ptr<CairoPainter> painter_;
};

// A PDF document of one page, `width` x `height` layout pixels.
class PdfDocument final : public PointsDrawing {
 public:
  PdfDocument(double width, double height);
  // Ends the page and gives the file's bytes. UserError when Cairo failed.
  std::string finish();
};

// One page of a PdfBook, `width` x `height` layout pixels, drawn on any
// thread: a recording of the drawing, which the book plays onto its page
// (text stays text, fonts are embedded once).
class PdfPage final : public PointsDrawing {
 public:
  PdfPage(double width, double height);
  // Ends the drawing. UserError when Cairo failed.
  void finish() { endDrawing(); }

 private:
  friend class PdfBook;
};

// A PDF document of pages of one size, added in order (a BY step's maps).
class PdfBook {
 public:
  PdfBook(double width, double height);
  ~PdfBook();
  PdfBook(const PdfBook&) = delete;
  PdfBook& operator=(const PdfBook&) = delete;

  // Adds a finished page. UserError when Cairo failed.
  void add(const PdfPage& page);
  // Ends the document and gives the file's bytes. UserError when Cairo
  // failed.
  std::string finish();

 private:
  std::string bytes_;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  int pages_ = 0;
};

}  // namespace qv::render
