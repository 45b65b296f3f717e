#include "render/paint/raster.h"

#include "render/paint/cairo_painter.h"

#include <algorithm>
#include <cmath>

#include "common/clones.h"

namespace qv::render {

PixelTarget::PixelTarget(Canvas& canvas, const Rect& clip) : canvas_(canvas) {
  cairo_surface_t* s = canvas.surface();
  cairo_surface_flush(s);
  if (cairo_image_surface_get_format(s) != CAIRO_FORMAT_ARGB32) return;
  data_ = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
  stride_ = cairo_image_surface_get_stride(s) / 4;
  auto clampTo = [](double v, int hi) {
    if (!(v > 0)) return 0;
    return v > hi ? hi : static_cast<int>(v);
  };
  x0_ = clampTo(std::ceil(clip.x), canvas.width());
  y0_ = clampTo(std::ceil(clip.y), canvas.height());
  x1_ = clampTo(std::floor(clip.right()), canvas.width());
  y1_ = clampTo(std::floor(clip.bottom()), canvas.height());
}

PixelTarget::~PixelTarget() { cairo_surface_mark_dirty(canvas_.surface()); }

uint32_t premultiplied(const Rgba& c) {
  auto b = [](double v) {
    return static_cast<uint32_t>(std::lround(std::clamp(std::isfinite(v) ? v : 0.0, 0.0, 1.0) * 255));
  };
  const uint32_t a = b(c.a);
  auto p = [&](double v) { return (b(v) * a + 127) / 255; };
  return (a << 24) | (p(c.r) << 16) | (p(c.g) << 8) | p(c.b);
}

std::vector<Ring> scaledRings(const std::vector<Ring>& rings, double s) {
  std::vector<Ring> out(rings);
  for (Ring& r : out)
    for (Point& p : r) p = Point{p.x * s, p.y * s};
  return out;
}

MarkerStyle scaledMarker(MarkerStyle m, double s) {
  m.size *= s;
  m.lineWidth *= s;
  return m;
}

MarkerStamp makeMarkerStamp(const MarkerStyle& m) {
  MarkerStamp s;
  const double reach = std::max(1.0, m.size / 2 + m.lineWidth + 1);
  s.center = static_cast<int>(std::ceil(std::min(reach, 200.0)));
  s.size = 2 * s.center + 1;
  cairo_surface_t* surf = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, s.size, s.size);
  cairo_t* cr = cairo_create(surf);
  CairoPainter pen(cr);
  drawMarker(pen, m, {s.center + 0.5, s.center + 0.5});
  cairo_destroy(cr);
  cairo_surface_flush(surf);
  const unsigned char* data = cairo_image_surface_get_data(surf);
  const int stride = cairo_image_surface_get_stride(surf);
  for (int y = 0; data && y < s.size; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<ptrdiff_t>(y) * stride);
    for (int x = 0; x < s.size;) {
      if (!(row[x] >> 24)) {
        ++x;
        continue;
      }
      MarkerStamp::Run run;
      run.dy = y - s.center;
      run.dx = x - s.center;
      run.first = static_cast<uint32_t>(s.px.size());
      while (x < s.size && (row[x] >> 24)) {
        s.opaque = s.opaque || (row[x] >> 24) == 255;
        s.px.push_back(row[x++]);
      }
      run.count = static_cast<uint32_t>(s.px.size()) - run.first;
      s.runs.push_back(run);
    }
  }
  cairo_surface_destroy(surf);
  return s;
}

namespace {

// Calls draw(dst, src, n) for each run of a stamp centered on pixel
// (cx, cy), cut to the target: n pixels of the target from dst, with the
// stamp's from src.
template <class Draw>
void forStampRuns(PixelTarget& t, const MarkerStamp& s, int cx, int cy, Draw draw) {
  const bool inside = cx - s.center >= t.x0() && cx + s.center < t.x1() &&
                      cy - s.center >= t.y0() && cy + s.center < t.y1();
  for (const MarkerStamp::Run& run : s.runs) {
    const int y = cy + run.dy;
    int x = cx + run.dx;
    const uint32_t* src = s.px.data() + run.first;
    int n = static_cast<int>(run.count);
    if (!inside) {
      if (y < t.y0() || y >= t.y1()) continue;
      if (x < t.x0()) {
        src += t.x0() - x;
        n -= t.x0() - x;
        x = t.x0();
      }
      n = std::min(n, t.x1() - x);
      if (n <= 0) continue;
    }
    draw(t.row(y) + x, src, n);
  }
}

}  // namespace

void stampMarker(PixelTarget& t, const MarkerStamp& s, int cx, int cy) {
  forStampRuns(t, s, cx, cy, [](uint32_t* dst, const uint32_t* src, int n) {
    for (int i = 0; i < n; ++i) dst[i] = PixelTarget::over(src[i], dst[i]);
  });
}

void stampValue(PixelTarget& t, const MarkerStamp& s, int cx, int cy, uint32_t value) {
  forStampRuns(t, s, cx, cy, [value](uint32_t* dst, const uint32_t* src, int n) {
    for (int i = 0; i < n; ++i)
      if ((src[i] >> 24) >= 0x80) dst[i] = value;
  });
  if (cx >= t.x0() && cx < t.x1() && cy >= t.y0() && cy < t.y1()) t.row(cy)[cx] = value;
}

bool stampColor(const MarkerStamp& s, uint32_t* color) {
  uint32_t most = 0;
  for (uint32_t p : s.px)
    if ((p >> 24) > (most >> 24)) most = p;
  const uint32_t a = most >> 24;
  if (a == 0) return false;
  auto channel = [](uint32_t p, int shift) { return (p >> shift) & 0xFFu; };
  uint32_t c[3];
  for (int i = 0; i < 3; ++i) c[i] = std::min(255u, (channel(most, 16 - 8 * i) * 255 + a / 2) / a);
  for (uint32_t p : s.px) {
    const uint32_t pa = p >> 24;
    for (int i = 0; i < 3; ++i) {
      const int expect = static_cast<int>((c[i] * pa + 127) / 255);
      if (std::abs(static_cast<int>(channel(p, 16 - 8 * i)) - expect) > 2) return false;
    }
  }
  *color = 0xFF000000u | (c[0] << 16) | (c[1] << 8) | c[2];
  return true;
}

namespace {

// Blends `color` (its channels in cc: alpha, red, green, blue) over a row
// of pixels, each keeping the share f[x] of what it held. Without branches,
// so that it runs on several pixels at once (eight with AVX2); a pixel
// with f = 1 keeps its bytes.
QV_AVX2_CLONES void blendRow(uint32_t* dst, const float* f, int w, const float* cc) {
  for (int x = 0; x < w; ++x) {
    const uint32_t d = dst[x];
    const float k = f[x];
    uint32_t out = 0;
    for (int i = 0; i < 4; ++i) {
      const int shift = 24 - 8 * i;
      const auto below = static_cast<int32_t>((d >> shift) & 0xFFu);
      const float v = cc[i] * (1 - k) + static_cast<float>(below) * k;
      out |= static_cast<uint32_t>(static_cast<int32_t>(std::min(255.0f, v + 0.5f))) << shift;
    }
    dst[x] = out;
  }
}

}  // namespace

void blendStampCounts(PixelTarget& t, const MarkerStamp& s, uint32_t color, StampCounts& c) {
  if (t.empty()) return;
  if (s.opaque)
    for (uint16_t& k : c.count) k = std::min<uint16_t>(k, 1);
  // Each stamp pixel as the log of the share of what lies below that one
  // copy leaves showing (an opaque pixel: a number low enough to leave
  // nothing).
  struct Tap {
    int dx, dy;
    float logKeep;
  };
  std::vector<Tap> taps;
  for (const MarkerStamp::Run& run : s.runs)
    for (uint32_t i = 0; i < run.count; ++i) {
      const uint32_t a = s.px[run.first + i] >> 24;
      taps.push_back({run.dx + static_cast<int>(i), run.dy,
                      a >= 255 ? -1e4f : std::log1p(-static_cast<float>(a) / 255.0f)});
    }
  const float cc[4] = {255.0f, static_cast<float>((color >> 16) & 0xFFu),
                       static_cast<float>((color >> 8) & 0xFFu), static_cast<float>(color & 0xFFu)};
  const int w = t.x1() - t.x0();
  std::vector<float> keep(static_cast<size_t>(w));
  for (int y = t.y0(); y < t.y1(); ++y) {
    // The copies over each pixel of the row, gathered row by row of the
    // counts (a loop the compiler runs on several pixels at once).
    std::fill(keep.begin(), keep.end(), 0.0f);
    bool any = false;
    for (const Tap& tap : taps) {
      const int gy = y - c.y0 - tap.dy;
      if (gy < 0 || gy >= c.height) continue;
      const int gx0 = t.x0() - c.x0 - tap.dx;  // the grid column under x = 0
      const int xa = std::max(0, -gx0), xb = std::min(w, c.width - gx0);
      const uint16_t* src =
          c.count.data() + static_cast<size_t>(gy) * static_cast<size_t>(c.width) + gx0;
      const float l = tap.logKeep;
      for (int x = xa; x < xb; ++x)
        keep[static_cast<size_t>(x)] += l * static_cast<float>(static_cast<int32_t>(src[x]));
      any = true;
    }
    if (!any) continue;
    // The share each pixel keeps, then the row blended at once.
    for (float& k : keep) k = k == 0 ? 1.0f : std::exp(k);
    blendRow(t.row(y) + t.x0(), keep.data(), w, cc);
  }
}

namespace {

// The color at a coverage from 0 to 1.
inline uint32_t scaled(uint32_t argb, double coverage) {
  const uint32_t k = static_cast<uint32_t>(coverage * 256);
  if (k >= 256) return argb;
  uint32_t rb = ((argb & 0x00FF00FFu) * k >> 8) & 0x00FF00FFu;
  uint32_t ag = (((argb >> 8) & 0x00FF00FFu) * k) & 0xFF00FF00u;
  return rb | ag;
}

// One segment by Wu's method: along the major axis, one step per pixel,
// the line's coverage shared between the two pixels it passes between.
// The pixel of the end point is left to the next segment when `skipEnd`.
void segment(PixelTarget& t, double x0, double y0, double x1, double y1, uint32_t color,
             double width, bool skipEnd) {
  // Pixel centers at whole numbers.
  x0 -= 0.5;
  y0 -= 0.5;
  x1 -= 0.5;
  y1 -= 0.5;
  const bool steep = std::fabs(y1 - y0) > std::fabs(x1 - x0);
  if (steep) {
    std::swap(x0, y0);
    std::swap(x1, y1);
  }
  bool skipFirst = false, skipLast = skipEnd;
  if (x0 > x1) {
    std::swap(x0, x1);
    std::swap(y0, y1);
    std::swap(skipFirst, skipLast);
  }
  const double dx = x1 - x0, dy = y1 - y0;
  const double grad = dx > 0 ? dy / dx : 0;
  // A line across the pixels covers more of each column than a straight one.
  const double coverage = std::min(1.0, width * std::sqrt(1 + grad * grad));
  long a = std::lround(x0), b = std::lround(x1);
  if (skipFirst) ++a;
  if (skipLast) --b;
  // Only the part inside the target.
  const long lo = steep ? t.y0() - 1 : t.x0() - 1, hi = steep ? t.y1() : t.x1();
  a = std::max(a, lo);
  b = std::min(b, hi);
  for (long x = a; x <= b; ++x) {
    const double y = y0 + grad * (static_cast<double>(x) - x0);
    const double fy = std::floor(y);
    const double f = y - fy;
    const int ix = static_cast<int>(x), iy = static_cast<int>(fy);
    const uint32_t c0 = scaled(color, (1 - f) * coverage), c1 = scaled(color, f * coverage);
    if (steep) {
      if (c0 >> 24) t.blend(iy, ix, c0);
      if (c1 >> 24) t.blend(iy + 1, ix, c1);
    } else {
      if (c0 >> 24) t.blend(ix, iy, c0);
      if (c1 >> 24) t.blend(ix, iy + 1, c1);
    }
  }
}

}  // namespace

void drawHairlines(PixelTarget& t, const std::vector<Ring>& lines, bool closed, const Rgba& color,
                   double width) {
  if (t.empty() || !(width > 0)) return;
  const uint32_t c = premultiplied(color);
  if (!(c >> 24)) return;
  // Coordinates far outside would overflow the pixel arithmetic; the
  // geometry path clips to near the target, this only guards.
  const double limit = 1e6;
  for (const Ring& l : lines) {
    const size_t n = l.size();
    if (n < 2) continue;
    const size_t segments = closed ? n : n - 1;
    for (size_t i = 0; i < segments; ++i) {
      const Point& p = l[i];
      const Point& q = l[(i + 1) % n];
      if (!(std::fabs(p.x) < limit && std::fabs(p.y) < limit && std::fabs(q.x) < limit &&
            std::fabs(q.y) < limit))
        continue;
      // An open line's last segment draws its end point too.
      segment(t, p.x, p.y, q.x, q.y, c, width, closed || i + 1 < segments);
    }
  }
}

}  // namespace qv::render
