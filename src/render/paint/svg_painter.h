// Our own SVG writer behind the painter interface: the map as SVG elements
// a reader (or a page's script) can take apart, one per mark.
//
// What it writes:
// - Paths are written already in the viewBox's space (the painter's current
//   transform applied), with at most two decimals and relative steps; arcs
//   become Bezier curves, so any transform draws them right. A path whose
//   coordinates are not finite is left out.
// - A fill and a stroke of one path (fillPreserve then stroke, or
//   strokePreserve then fill) are one <path> element; a region of many
//   rings is one path of all its rings.
// - clip() writes a <clipPath> into <defs>; what is drawn under it goes into
//   a <g clip-path="url(#...)"> that closes when the state that made the
//   clip is restored. Clip groups are opened only when something is drawn
//   under them.
// - Text is <text> (one per line of the layout) with its font, and a
//   textLength of the width it was laid out in, so that it takes that width
//   whatever fonts the viewer has. A halo is the same element's stroke,
//   painted beneath (paint-order="stroke"). A turned text is placed with a
//   transform attribute.
// - Images (tiles) are embedded as PNG data URLs.
//
// Marks: beginItem/endItem wrap what is drawn for one mark in
//   <g class="KIND" data-tip="TIP"><title>TIP</title> ... </g>
// (data-tip and <title> only when there is a tip; tip lines are kept, as
// "&#10;" in data-tip), and the group goes inside
//   <a href="URL" target="_blank"> ... </a>
// when the mark links somewhere. So every mark is exactly one element with
// its kind as class ("svg g.region" counts the regions). A URL is kept only
// when it is relative or its scheme is http, https or mailto; any other
// (javascript:, data:, ...) leaves the mark without a link.
//
// Element ids (clip paths "q-cN", gradients "q-gN") start with "q-"; the
// HTML page renames them in its second and later maps so that ids stay
// unique on one page.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "render/paint/painter.h"

namespace qv::render {

// A layer of many marks drawn as one picture, for the HTML page (see
// mark_picture.h): the picture's PNG placed over `box` (user units), the
// kind of its marks and their number, and its packed index of tips and
// links (empty when no mark has either).
struct PictureLayer {
  Rect box;
  std::string kind;
  size_t marks = 0;
  std::vector<unsigned char> png;
  std::vector<unsigned char> index;
};

class SvgPainter final : public Painter {
 public:
  // A drawing of width x height user units (the viewBox), written at
  // outputScale times that size.
  SvgPainter(double width, double height, double outputScale = 1);

  // The whole SVG file (XML declaration and the <svg> element).
  std::string document() const;
  // The <svg> element alone, to be placed in an HTML page.
  std::string element() const;

  void save() override;
  void restore() override;
  void translate(double dx, double dy) override;
  void rotate(double radians) override;
  void scale(double sx, double sy) override;
  void clip() override;

  void newPath() override;
  void newSubPath() override;
  void moveTo(double x, double y) override;
  void lineTo(double x, double y) override;
  void curveTo(double x1, double y1, double x2, double y2, double x3, double y3) override;
  void arc(double cx, double cy, double r, double a0, double a1) override;
  void arcNegative(double cx, double cy, double r, double a0, double a1) override;
  void closePath() override;
  void rectangle(double x, double y, double w, double h) override;

  void setColor(const Rgba& c) override;
  void setLinearGradient(Point from, Point to, const std::vector<GradientStop>& stops) override;
  void setLineWidth(double width) override;
  void setDash(const std::vector<double>& dashes) override;
  void setLineCap(LineCap cap) override;
  void setLineJoin(LineJoin join) override;
  void setFillRule(FillRule rule) override;

  void fill() override;
  void fillPreserve() override;
  void stroke() override;
  void strokePreserve() override;
  void paint() override;

  void drawImage(const Canvas& image, const Rect& dest, bool smooth) override;
  void drawText(const TextLayout& text, double x, double y, const Rgba& color, double haloWidth,
                const Rgba& halo) override;

  // Places another drawing's <svg> element (element()) at (x, y) of this
  // one, as a nested <svg> (a panel of a page of small multiples).
  void embed(std::string_view svg, double x, double y);

  bool keepsItems() const override { return true; }
  void beginItem(const ItemInfo& info) override;
  void endItem() override;

  // A layer drawn as one picture: one element,
  //   <g class="marks" data-kind="KIND" data-marks="N" data-index="BASE64">
  //   <image .../></g>
  // (data-index only when there is an index), under the clips in force.
  // The image takes no pointer events: the page's script finds the marks.
  void drawPicture(const PictureLayer& layer);

  // Nothing can fail here but memory: bad_alloc, thrown where it ran out
  // or, when that was in restore() or endItem(), here and at every drawing
  // call after it.
  void check(const std::string&) override { live(); }

 private:
  // An affine map as Cairo keeps it: x' = xx x + xy y + x0, y' = yx x + yy y + y0.
  struct Matrix {
    double xx = 1, yx = 0, xy = 0, yy = 1, x0 = 0, y0 = 0;
    Point apply(double x, double y) const { return {xx * x + xy * y + x0, yx * x + yy * y + y0}; }
  };
  struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  };
  struct State {
    Matrix m;
    std::string source = "#000000";  // a color or url(#gradient)
    double alpha = 1;
    double lineWidth = 2;
    std::vector<double> dashes;
    LineCap cap = LineCap::Butt;
    LineJoin join = LineJoin::Miter;
    FillRule rule = FillRule::Winding;
    std::vector<int> clips;  // the clip paths in force, outermost first
    Box clipBox;             // what they leave, in viewBox space
    bool clipEmpty = false;  // a clip that leaves nothing
  };
  // An element open in the output: a clip group (clip > 0: its id) or a
  // mark's group (clip == 0), with its closing tag.
  struct Open {
    int clip = 0;
    const char* close = "</g>";
  };

  // The path, in viewBox space, in hundredths of a unit.
  void pathPoint(Point p, char command);
  void userPoint(double x, double y, char command);
  void arcPath(double cx, double cy, double r, double a0, double a1, bool negative);
  void clearPath();
  void pathCommand(char c);
  void appendElement(std::string& out) const;

  // A fill (or stroke) of the path that keeps it: joined into one element
  // with the other paint of the same path when that is waiting.
  // Every change of the path first writes a waiting paint and makes the
  // path new; a non-finite coordinate spoils the path (nothing of it is
  // drawn): false then.
  bool changePath(std::initializer_list<double> coordinates);
  // A cubic Bezier segment to p3 with control points p1 and p2, all in
  // viewBox space.
  void curveSegment(Point p1, Point p2, Point p3);
  void paintPreserved(bool fill);
  // Writes the pending fill (fillPreserve waiting for a stroke) alone.
  void flushPending();
  void writeShape(std::string& out, bool doFill, bool doStroke, bool strokeFirst) const;
  void appendPaint(std::string& out, const char* what, const State& s) const;
  void appendStroke(std::string& out, const State& s) const;
  // Opens and closes clip groups (and reopens the mark) so that what is
  // written next lies under exactly the clips in force.
  void syncClips();
  void openMark();
  bool drawable() const;
  // restore() and endItem() run in destructors, also while an exception
  // unwinds, and must not throw: out of memory there, the drawing is given
  // up (its text freed) and live() throws bad_alloc from then on.
  void giveUp() noexcept;
  void live() const;

  double width_, height_, outputScale_;
  std::vector<State> stack_;
  std::string defs_, body_;
  std::vector<Open> open_;
  int nextId_ = 0;
  bool failed_ = false;

  // The path.
  std::string d_;
  char lastCommand_ = 0;
  bool pathValid_ = true;
  bool hasPoint_ = false;
  long long curX_ = 0, curY_ = 0;      // the current point (hundredths)
  long long startX_ = 0, startY_ = 0;  // the subpath's start
  bool subpathHasSegment_ = false;
  Box pathBox_;
  bool pathBoxEmpty_ = true;
  unsigned pathVersion_ = 0;

  // A fillPreserve waiting to be joined by a stroke of the same path.
  bool pendingFill_ = false, pendingStroke_ = false;
  unsigned pendingVersion_ = 0;
  State pendingState_;

  // The open mark, if any.
  bool itemActive_ = false;
  bool itemOpen_ = false;
  ItemInfo item_;
  // Where the open mark's group begins and its opening ends in body_,
  // so a mark in which nothing was drawn can be taken out again.
  size_t markStart_ = 0, markEnd_ = 0;
};

// Text escaped for XML and HTML (text and attribute values): & < > " ' and
// control characters written as references, invalid UTF-8 and characters
// XML cannot hold replaced by U+FFFD. Line breaks stay line breaks in text
// and become "&#10;" in attributes (`attribute`).
void appendXmlEscaped(std::string& out, std::string_view text, bool attribute);

// The URL kept for a link: without tabs and line breaks, when it is
// relative or its scheme is http, https or mailto; "" otherwise.
std::string safeLinkUrl(std::string_view url);

}  // namespace qv::render
