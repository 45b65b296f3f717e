// Drawing straight into the pixels of a canvas, for the marks that come by
// the thousand: marker stamps (a marker drawn once, then blended wherever a
// point falls) and hairlines (antialiased outlines one pixel wide or less).
// Both give what Cairo would draw to within antialiasing, at a fraction of
// its cost per mark.
#pragma once

#include <cstdint>
#include <vector>

#include "render/geo/geometry.h"
#include "render/paint/canvas.h"
#include "render/paint/markers.h"

namespace qv::render {

// The pixels of a canvas, open for direct drawing within a rectangle.
// Flushes Cairo on construction and marks the image dirty on destruction.
class PixelTarget {
 public:
  PixelTarget(Canvas& canvas, const Rect& clip);
  ~PixelTarget();
  PixelTarget(const PixelTarget&) = delete;
  PixelTarget& operator=(const PixelTarget&) = delete;

  bool empty() const { return !data_ || x1_ <= x0_ || y1_ <= y0_; }
  int x0() const { return x0_; }
  int y0() const { return y0_; }
  int x1() const { return x1_; }
  int y1() const { return y1_; }
  // Blends a premultiplied ARGB pixel over pixel (x, y), inside the clip.
  void blend(int x, int y, uint32_t argb) {
    if (x < x0_ || x >= x1_ || y < y0_ || y >= y1_) return;
    uint32_t& d = data_[static_cast<ptrdiff_t>(y) * stride_ + x];
    d = over(argb, d);
  }
  uint32_t* row(int y) { return data_ + static_cast<ptrdiff_t>(y) * stride_; }

  // Source-over of premultiplied ARGB pixels.
  static uint32_t over(uint32_t s, uint32_t d) {
    const uint32_t a = s >> 24;
    if (a == 255) return s;
    const uint32_t inv = 255 - a;
    uint32_t rb = (d & 0x00FF00FFu) * inv + 0x00800080u;
    rb = ((rb + ((rb >> 8) & 0x00FF00FFu)) >> 8) & 0x00FF00FFu;
    uint32_t ag = ((d >> 8) & 0x00FF00FFu) * inv + 0x00800080u;
    ag = (ag + ((ag >> 8) & 0x00FF00FFu)) & 0xFF00FF00u;
    return s + (rb | ag);
  }

 private:
  Canvas& canvas_;
  uint32_t* data_ = nullptr;
  int stride_ = 0;  // pixels
  int x0_ = 0, y0_ = 0, x1_ = 0, y1_ = 0;
};

// Layout pixels to image pixels at `s` image pixels per layout pixel.
inline Rect scaledRect(const Rect& r, double s) {
  return Rect{r.x * s, r.y * s, r.width * s, r.height * s};
}
std::vector<Ring> scaledRings(const std::vector<Ring>& rings, double s);
MarkerStyle scaledMarker(MarkerStyle m, double s);

// A marker drawn once, centered on its pixel (center, center), kept as the
// runs of pixels it covers (most of a hollow marker's square is empty).
struct MarkerStamp {
  struct Run {
    int dy = 0, dx = 0;   // start, from the center
    uint32_t first = 0, count = 0;  // into px
  };
  int size = 0, center = 0;
  bool opaque = false;  // some pixel is fully covered: a repeat changes only the edges
  std::vector<Run> runs;
  std::vector<uint32_t> px;  // premultiplied ARGB of the runs, back to back
};

MarkerStamp makeMarkerStamp(const MarkerStyle& style);
// Blends a stamp centered on pixel (x, y).
void stampMarker(PixelTarget& t, const MarkerStamp& s, int x, int y);
// Sets the pixels an opaque stamp centered on pixel (x, y) covers at least
// half, and pixel (x, y) itself, to `value` (a mark's number in a mark
// map, see mark_picture.h).
void stampValue(PixelTarget& t, const MarkerStamp& s, int x, int y, uint32_t value);

// How many copies of one stamp are centered on each pixel of a grid (the
// target's pixels with a margin around them), up to kMaxCount: a few
// thousand copies of the faintest stamp pixel already hide what lies below
// (to the last bit of a float), so more leave the same image.
struct StampCounts {
  static constexpr uint16_t kMaxCount = 0xFFFF;
  int x0 = 0, y0 = 0, width = 0, height = 0;  // the grid, in image pixels
  std::vector<uint16_t> count;                // row by row
};
// Whether every pixel of a stamp has one color (at its own coverage): then
// `color` is that color, opaque and premultiplied.
bool stampColor(const MarkerStamp& s, uint32_t* color);
// Blends the counted copies of a stamp of one color, each pixel once: the
// coverages of all copies over it are combined exactly (copies of one color
// blend alike in any order), so the cost follows the pixels, not the copies.
// Copies of an opaque stamp on the same pixel count once, as the stamps'
// edges would otherwise thicken (the counts are changed to say so).
void blendStampCounts(PixelTarget& t, const MarkerStamp& s, uint32_t color, StampCounts& c);

// The premultiplied ARGB of a color.
uint32_t premultiplied(const Rgba& c);

// Antialiased lines of `width` pixels (at most about one: a lighter line
// for less) along closed rings or open polylines. Each vertex is drawn
// once, so a semi-transparent outline shows no dots at its corners.
void drawHairlines(PixelTarget& t, const std::vector<Ring>& lines, bool closed, const Rgba& color,
                   double width);

}  // namespace qv::render
