// A layer of many marks drawn as one picture, for the HTML page, where a
// page of one SVG element per mark grows too large and slow to load.
//
// What the layer draws goes onto a transparent image, drawn as the PNG
// output draws it (marker stamps and hairlines straight into its pixels
// too). Each mark (what is drawn between beginItem and endItem, or a mark
// numbered in the mark map and drawn into its pixels) is also drawn onto
// the mark map: an image at one pixel a unit, without antialiasing, whose
// pixels hold the number of the mark drawn there last (on top). The page
// looks the pointer up in the mark map and shows that mark's tip, or
// follows its link. In the mark map a dashed line is hit along its whole
// length, and a text is its box.
//
// The finished layer (PictureLayer, which the SVG writer writes) covers
// the whole pixels of the map area; it holds the picture as PNG and, when
// some mark has a tip or a link, the index: a zlib stream of
//   four little-endian 32-bit words: the map's width and height in pixels,
//     the number of marks, and 4 (the bytes of a pixel);
//   width x height little-endian 32-bit words, row by row: 0 where no mark
//     is drawn, else the number of the mark on top, from 1;
//   for each mark in turn its tip and its link as UTF-8, each ended by a
//     NUL byte ("" for none; a NUL in a tip becomes U+FFFD, and a link is
//     kept only as safeLinkUrl keeps it).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "render/paint/cairo_painter.h"
#include "render/paint/canvas.h"
#include "render/paint/svg_painter.h"

namespace qv::render {

// The marks of a picture layer: their tips and links by number, and the
// image of their numbers.
class MarkMap {
 public:
  MarkMap(int width, int height) : image_(width, height) {}

  // Numbers the next mark (from 1). The map tells apart 2^24 - 1 marks; the
  // marks after those share the last number, which then has no tip.
  uint32_t add(ItemInfo info);
  size_t size() const { return items_.size(); }
  const std::vector<ItemInfo>& items() const { return items_; }

  // The image, one pixel a layout unit: a mark is drawn there in the
  // opaque pixel value markPixel(n).
  Canvas& image() { return image_; }
  static uint32_t markPixel(uint32_t n) { return 0xFF000000u | n; }

 private:
  Canvas image_;
  std::vector<ItemInfo> items_;
};

class MarkPicture final : public Painter {
 public:
  // A picture of a graph of width x height units, `scale` picture pixels
  // to a unit, of what is drawn inside `area` (and clipped to it).
  MarkPicture(int width, int height, const Rect& area, double scale);

  // The layer as the page holds it.
  PictureLayer finish();

  // State and path go to both images.
  void save() override { both(&Painter::save); }
  void restore() override { both(&Painter::restore); }
  void translate(double dx, double dy) override { both(&Painter::translate, dx, dy); }
  void rotate(double radians) override { both(&Painter::rotate, radians); }
  void scale(double sx, double sy) override { both(&Painter::scale, sx, sy); }
  void clip() override { both(&Painter::clip); }

  void newPath() override { both(&Painter::newPath); }
  void newSubPath() override { both(&Painter::newSubPath); }
  void moveTo(double x, double y) override { both(&Painter::moveTo, x, y); }
  void lineTo(double x, double y) override { both(&Painter::lineTo, x, y); }
  void curveTo(double x1, double y1, double x2, double y2, double x3, double y3) override {
    both(&Painter::curveTo, x1, y1, x2, y2, x3, y3);
  }
  void arc(double cx, double cy, double r, double a0, double a1) override {
    both(&Painter::arc, cx, cy, r, a0, a1);
  }
  void arcNegative(double cx, double cy, double r, double a0, double a1) override {
    both(&Painter::arcNegative, cx, cy, r, a0, a1);
  }
  void closePath() override { both(&Painter::closePath); }
  void rectangle(double x, double y, double w, double h) override {
    both(&Painter::rectangle, x, y, w, h);
  }

  void setColor(const Rgba& c) override { picture_.setColor(c); }
  void setLinearGradient(Point from, Point to, const std::vector<GradientStop>& stops) override {
    picture_.setLinearGradient(from, to, stops);
  }
  void setLineWidth(double width) override { both(&Painter::setLineWidth, width); }
  // The mark map's lines are solid: a dashed line is hit along its length.
  void setDash(const std::vector<double>& dashes) override { picture_.setDash(dashes); }
  void setLineCap(LineCap cap) override { both(&Painter::setLineCap, cap); }
  void setLineJoin(LineJoin join) override { both(&Painter::setLineJoin, join); }
  void setFillRule(FillRule rule) override { both(&Painter::setFillRule, rule); }

  // Paint goes to the picture, and to the mark map when a mark is open.
  void fill() override {
    paintBoth(&Painter::fillPreserve);
    newPath();
  }
  void fillPreserve() override { paintBoth(&Painter::fillPreserve); }
  void stroke() override {
    paintBoth(&Painter::strokePreserve);
    newPath();
  }
  void strokePreserve() override { paintBoth(&Painter::strokePreserve); }
  void paint() override { paintBoth(&Painter::paint); }

  void drawImage(const Canvas& image, const Rect& dest, bool smooth) override {
    picture_.drawImage(image, dest, smooth);
  }
  void drawText(const TextLayout& text, double x, double y, const Rgba& color, double haloWidth,
                const Rgba& halo) override;

  bool keepsItems() const override { return true; }
  void beginItem(const ItemInfo& info) override { mark_ = marks_.add(info); }
  void endItem() override { mark_ = 0; }
  MarkMap* markMap() override { return &marks_; }

  Canvas* pixels() override { return &pictureImage_; }
  double pixelScale() const override { return scale_; }
  void check(const std::string& what) override;

 private:
  template <class... Params, class... Args>
  void both(void (Painter::*call)(Params...), Args... args) {
    (picture_.*call)(args...);
    (mapPen_.*call)(args...);
  }
  // Sets the mark map's source to the open mark's value: false when no
  // mark is open (what is drawn then is in the picture only).
  bool markSource();
  void paintBoth(void (Painter::*call)());

  Rect box_;  // the whole pixels of the area, in units
  double scale_;
  Canvas pictureImage_;
  MarkMap marks_;
  CairoPainter picture_, mapPen_;
  uint32_t mark_ = 0;  // the open mark's number, 0 for none
};

}  // namespace qv::render
