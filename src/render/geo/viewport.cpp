#include "render/geo/viewport.h"

#include <algorithm>
#include <cmath>

#include "render/geo/map_projection.h"
#include "render/geo/spherical.h"

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;

double maxScale() { return kTileSize * std::ldexp(1.0, kMaxTileZoom); }

// A double turned into an int without overflow (NaN gives 0).
int toInt(double v) {
  if (!(v == v)) return 0;
  if (v < -2.0e9) return -2000000000;
  if (v > 2.0e9) return 2000000000;
  return static_cast<int>(v);
}

}  // namespace

Rect Rect::inflated(double d) const {
  Rect r{x - d, y - d, width + 2 * d, height + 2 * d};
  if (r.width < 0) {
    r.x = x + width / 2;
    r.width = 0;
  }
  if (r.height < 0) {
    r.y = y + height / 2;
    r.height = 0;
  }
  return r;
}

void Extent::add(const Extent& other) {
  if (!other.valid) return;
  add(other.minLon, other.minLat);
  add(other.maxLon, other.maxLat);
}

Point mercatorUnit(double lon, double lat) {
  lat = std::clamp(lat, -kMaxMercatorLat, kMaxMercatorLat);
  double u = (lon + 180.0) / 360.0;
  double s = std::sin(lat * kPi / 180.0);
  double v = 0.5 - std::log((1 + s) / (1 - s)) / (4 * kPi);
  return {u, v};
}

LonLat inverseMercatorUnit(Point unit) {
  double lon = unit.x * 360.0 - 180.0;
  double lat = std::atan(std::sinh(kPi * (1 - 2 * unit.y))) * 180.0 / kPi;
  return {lon, lat};
}

Projection Projection::fit(const Extent& extent, const Rect& viewport, double margin) {
  Rect area = viewport;
  if (std::isfinite(margin) && margin > 0) {
    Rect inner = viewport.inflated(-margin);
    if (!inner.empty()) area = inner;
  }
  if (area.empty()) return Projection(1, area.x, area.y);

  Point lo{0, 0}, hi{1, 1};  // the whole world when there is no extent
  if (extent.valid) {
    lo = mercatorUnit(extent.minLon, extent.maxLat);
    hi = mercatorUnit(extent.maxLon, extent.minLat);
  }
  double spanU = hi.x - lo.x, spanV = hi.y - lo.y;
  double scale = maxScale();
  if (spanU > 0) scale = std::min(scale, area.width / spanU);
  if (spanV > 0) scale = std::min(scale, area.height / spanV);
  double cu = (lo.x + hi.x) / 2, cv = (lo.y + hi.y) / 2;
  return Projection(scale, area.x + area.width / 2 - cu * scale,
                    area.y + area.height / 2 - cv * scale);
}

Projection Projection::fitBoxes(const std::vector<FitBox>& boxes, const Rect& viewport,
                                double margin, double maxScale, const FitBox& fallback) {
  Rect area = viewport;
  if (std::isfinite(margin) && margin > 0) {
    Rect inner = viewport.inflated(-margin);
    if (!inner.empty()) area = inner;
  }
  if (area.empty() || !(maxScale > 0)) return Projection(1, area.x, area.y);
  const std::vector<FitBox> one{fallback};
  const std::vector<FitBox>& list = boxes.empty() ? one : boxes;
  // The pixel span along one axis at scale s: the far edge of the box that
  // reaches furthest minus the near edge of the one that reaches least.
  struct Span {
    double lo, hi;
  };
  auto spans = [&](double s, bool overhang, Span& x, Span& y) {
    x = y = {1e300, -1e300};
    for (const FitBox& b : list) {
      const double k = overhang ? 1 : 0;
      x.lo = std::min(x.lo, s * b.x0 - k * b.left);
      x.hi = std::max(x.hi, s * b.x1 + k * b.right);
      y.lo = std::min(y.lo, s * b.y0 - k * b.top);
      y.hi = std::max(y.hi, s * b.y1 + k * b.bottom);
    }
  };
  auto fits = [&](double s, bool overhang) {
    Span x, y;
    spans(s, overhang, x, y);
    return x.hi - x.lo <= area.width && y.hi - y.lo <= area.height;
  };
  const bool overhang = fits(0, true);
  double lo = 0, hi = maxScale;
  if (fits(hi, overhang)) {
    lo = hi;
  } else {
    // The spans grow with the scale: halve the interval in log steps first
    // (scales range over many orders of magnitude), then linearly.
    double s = hi;
    while (s > 1e-300 && !fits(s, overhang)) {
      hi = s;
      s /= 2;
    }
    lo = s;
    for (int i = 0; i < 48; ++i) {
      const double mid = (lo + hi) / 2;
      (fits(mid, overhang) ? lo : hi) = mid;
    }
  }
  Span x, y;
  spans(lo, overhang, x, y);
  return Projection(lo, area.x + (area.width - (x.hi - x.lo)) / 2 - x.lo,
                    area.y + (area.height - (y.hi - y.lo)) / 2 - y.lo);
}

Point Projection::project(double lon, double lat) const {
  if (map_) {
    if (!std::isfinite(lon) || !std::isfinite(lat) || !map_->accepts({lon, lat}))
      return {NAN, NAN};
    const LonLat w = wrapToCentre({lon, lat}, map_->centralMeridian());
    Point p{w.lon, w.lat};
    map_->forwardPoints(&p, 1);
    return toPixel(p);
  }
  return toPixel(mercatorUnit(lon, lat));
}

LonLat Projection::unproject(Point px) const { return inverseMercatorUnit(toUnit(px)); }

double Projection::zoom() const { return std::log2(scale_ / kTileSize); }

int tileZoomFor(const Projection& proj, int maxZoom) {
  maxZoom = std::clamp(maxZoom, 0, 30);
  double z = std::round(proj.zoom());
  if (!(z > 0)) return 0;
  return z > maxZoom ? maxZoom : static_cast<int>(z);
}

TileRange tilesCovering(const Projection& proj, const Rect& viewport, int z) {
  TileRange r;
  z = std::clamp(z, 0, 30);
  r.z = z;
  if (viewport.empty()) return r;
  double n = std::ldexp(1.0, z);
  Point a = proj.toUnit({viewport.x, viewport.y});
  Point b = proj.toUnit({viewport.right(), viewport.bottom()});
  // Sideways the world repeats, but not more than once on each side.
  double x0 = std::max(std::floor(a.x * n), -n);
  double x1 = std::min(std::ceil(b.x * n) - 1, 2 * n - 1);
  double y0 = std::max(std::floor(a.y * n), 0.0);
  double y1 = std::min(std::ceil(b.y * n) - 1, n - 1);
  r.x0 = toInt(x0);
  r.x1 = toInt(x1);
  r.y0 = toInt(y0);
  r.y1 = toInt(y1);
  return r;
}

TileRange chooseTiles(const Projection& proj, const Rect& viewport, int maxZoom,
                      int64_t maxTiles) {
  int z = tileZoomFor(proj, maxZoom);
  TileRange r = tilesCovering(proj, viewport, z);
  while (z > 0 && r.count() > maxTiles) r = tilesCovering(proj, viewport, --z);
  return r;
}

int wrapTileX(int x, int z) {
  z = std::clamp(z, 0, 30);
  int64_t n = int64_t(1) << z;
  int64_t m = int64_t(x) % n;
  if (m < 0) m += n;
  return static_cast<int>(m);
}

Rect tileRect(const Projection& proj, int z, int x, int y) {
  double n = std::ldexp(1.0, std::clamp(z, 0, 30));
  Point a = proj.toPixel({x / n, y / n});
  Point b = proj.toPixel({(x + 1) / n, (y + 1) / n});
  double l = std::round(a.x), t = std::round(a.y);
  return Rect{l, t, std::round(b.x) - l, std::round(b.y) - t};
}

}  // namespace qv::render
