#include "render/paint/cairo_painter.h"

#include <cairo-pdf.h>
#include <pango/pangocairo.h>

#include <cmath>
#include <new>

#include "common/error.h"
#include "render/paint/canvas.h"
#include "render/paint/text.h"

namespace qv::render {

void CairoPainter::setLinearGradient(Point from, Point to, const std::vector<GradientStop>& stops) {
  cairo_pattern_t* pat = cairo_pattern_create_linear(from.x, from.y, to.x, to.y);
  for (const GradientStop& s : stops)
    cairo_pattern_add_color_stop_rgba(pat, s.offset, s.color.r, s.color.g, s.color.b, s.color.a);
  cairo_set_source(cr_, pat);
  cairo_pattern_destroy(pat);
}

bool CairoPainter::onGrid(double& x, double& y, bool skippable) {
  double dx = x, dy = y;
  cairo_user_to_device(cr_, &dx, &dy);
  if (!std::isfinite(dx) || !std::isfinite(dy)) {
    lastValid_ = false;
    return true;
  }
  dx = std::round(dx / grid_) * grid_;
  dy = std::round(dy / grid_) * grid_;
  // A subpath's first segment is kept however short (a dot with round
  // caps).
  if (skippable && lastValid_ && hasSegment_ && std::fabs(dx - lastX_) < minStep_ &&
      std::fabs(dy - lastY_) < minStep_ && std::hypot(dx - lastX_, dy - lastY_) < minStep_)
    return false;
  hasSegment_ = skippable;
  lastX_ = dx;
  lastY_ = dy;
  lastValid_ = true;
  cairo_device_to_user(cr_, &dx, &dy);
  x = dx;
  y = dy;
  return true;
}

void CairoPainter::moveTo(double x, double y) {
  if (grid_ > 0 && !onGrid(x, y, false)) return;
  cairo_move_to(cr_, x, y);
}

void CairoPainter::lineTo(double x, double y) {
  if (grid_ > 0 && !onGrid(x, y, true)) return;
  cairo_line_to(cr_, x, y);
}

void CairoPainter::setLineCap(LineCap cap) {
  cairo_set_line_cap(cr_, cap == LineCap::Round    ? CAIRO_LINE_CAP_ROUND
                          : cap == LineCap::Square ? CAIRO_LINE_CAP_SQUARE
                                                   : CAIRO_LINE_CAP_BUTT);
}

void CairoPainter::setLineJoin(LineJoin join) {
  cairo_set_line_join(cr_, join == LineJoin::Round   ? CAIRO_LINE_JOIN_ROUND
                           : join == LineJoin::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                     : CAIRO_LINE_JOIN_MITER);
}

void CairoPainter::drawImage(const Canvas& image, const Rect& dest, bool smooth) {
  if (image.width() <= 0 || image.height() <= 0) return;
  cairo_save(cr_);
  cairo_translate(cr_, dest.x, dest.y);
  cairo_scale(cr_, dest.width / image.width(), dest.height / image.height());
  cairo_pattern_t* pat = cairo_pattern_create_for_surface(image.surface());
  // Padding, not the transparent default, at the edges: neighbouring tiles
  // then meet without a seam.
  cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
  cairo_pattern_set_filter(pat, smooth ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
  cairo_set_source(cr_, pat);
  cairo_rectangle(cr_, 0, 0, image.width(), image.height());
  cairo_fill(cr_);
  cairo_pattern_destroy(pat);
  cairo_restore(cr_);
}

void CairoPainter::drawText(const TextLayout& text, double x, double y, const Rgba& color,
                            double haloWidth, const Rgba& halo) {
  PangoLayout* layout = text.pango();
  cairo_save(cr_);
  pango_cairo_update_layout(cr_, layout);
  cairo_move_to(cr_, x, y);
  if (haloWidth > 0) {
    pango_cairo_layout_path(cr_, layout);
    setColor(halo);
    cairo_set_line_width(cr_, haloWidth);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr_);
    cairo_move_to(cr_, x, y);
  }
  setColor(color);
  pango_cairo_show_layout(cr_, layout);
  cairo_new_path(cr_);
  cairo_restore(cr_);
  // The layout context is shared by every text: take back the transform
  // this drawing gave it.
  pango_context_set_matrix(pango_layout_get_context(layout), nullptr);
}

void CairoPainter::check(const std::string& what) { requireDrawn(cr_, what); }

namespace {

cairo_status_t appendToString(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// Points per layout pixel: 72 points and 96 pixels to the inch.
constexpr double kPointsPerPixel = 0.75;
// The ends of straight segments go on a grid of an eighth of a point (a
// sixteenth of a point, about 0.02 mm, off at most), which Cairo writes
// with at most three digits after the point from eight endings that
// compress well (and merges segments that then run on in one direction); a
// segment ending within a tenth of a point of the last point put is left
// out. The county map's PDF is half the size for this and the borders drawn
// once.
constexpr double kGridPoints = 0.125;
constexpr double kMinStepPoints = 0.1;

}  // namespace

namespace {

// A PDF surface writing into `bytes`, in points.
cairo_surface_t* pdfSurface(std::string* bytes, double width, double height) {
  cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(
      appendToString, bytes, width * kPointsPerPixel, height * kPointsPerPixel);
  cairo_pdf_surface_set_metadata(surface, CAIRO_PDF_METADATA_CREATOR, "qortavlo");
  return surface;
}

// The bytes of a finished PDF surface; UserError (bad_alloc for memory)
// when Cairo failed.
std::string finishPdf(cairo_surface_t* surface, std::string& bytes) {
  cairo_surface_finish(surface);
  const cairo_status_t st = cairo_surface_status(surface);
  if (st == CAIRO_STATUS_NO_MEMORY) throw std::bad_alloc();
  if (st != CAIRO_STATUS_SUCCESS)
    throw qv::UserError(std::string("The PDF file cannot be made: ") + cairo_status_to_string(st) +
                        ".");
  return std::move(bytes);
}

}  // namespace

void PointsDrawing::start(cairo_surface_t* surface) {
  surface_ = surface;
  cr_ = cairo_create(surface_);
  cairo_scale(cr_, kPointsPerPixel, kPointsPerPixel);
  painter_ = std::make_unique<CairoPainter>(cr_);
  painter_->setVectorPrecision(kGridPoints, kMinStepPoints);
}

PointsDrawing::~PointsDrawing() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
}

void PointsDrawing::endDrawing() {
  requireDrawn(cr_, "the PDF page");
  cairo_destroy(cr_);
  cr_ = nullptr;
}

void PointsDrawing::place(const PdfPage& page, double x, double y) {
  cairo_save(cr_);
  cairo_translate(cr_, x, y);
  cairo_scale(cr_, 1 / kPointsPerPixel, 1 / kPointsPerPixel);
  cairo_set_source_surface(cr_, page.surface_, 0, 0);
  cairo_paint(cr_);
  cairo_restore(cr_);
}

PdfDocument::PdfDocument(double width, double height) {
  start(pdfSurface(&bytes_, width, height));
}

std::string PdfDocument::finish() {
  endDrawing();
  return finishPdf(surface_, bytes_);
}

PdfPage::PdfPage(double width, double height) {
  const cairo_rectangle_t extents{0, 0, width * kPointsPerPixel, height * kPointsPerPixel};
  start(cairo_recording_surface_create(CAIRO_CONTENT_COLOR_ALPHA, &extents));
}

PdfBook::PdfBook(double width, double height) {
  surface_ = pdfSurface(&bytes_, width, height);
  cr_ = cairo_create(surface_);
}

PdfBook::~PdfBook() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
}

void PdfBook::add(const PdfPage& page) {
  cairo_save(cr_);
  cairo_set_source_surface(cr_, page.surface_, 0, 0);
  cairo_paint(cr_);
  cairo_restore(cr_);
  cairo_show_page(cr_);
  requireDrawn(cr_, "page " + std::to_string(pages_ + 1) + " of the PDF file");
  ++pages_;
}

std::string PdfBook::finish() {
  requireDrawn(cr_, "the PDF file");
  cairo_destroy(cr_);
  cr_ = nullptr;
  return finishPdf(surface_, bytes_);
}

}  // namespace qv::render
