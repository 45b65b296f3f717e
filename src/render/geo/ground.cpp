#include "render/geo/ground.h"

#include <algorithm>
#include <cmath>

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRad = kPi / 180;
// WGS 84.
constexpr double kSemiMajor = 6378137.0;
constexpr double kFlattening = 1 / 298.257223563;
constexpr double kE2 = kFlattening * (2 - kFlattening);

// The step of the finite differences, in degrees: far below a pixel on
// any map up to street level, far above the rounding of the projections.
constexpr double kStep = 1e-5;

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
double length(Point p) { return std::hypot(p.x, p.y); }

// The pixels per degree of longitude and of latitude at `p`, and its pixel.
struct Derivatives {
  Point at, perLon, perLat;
};

// One column of the derivatives, by central differences; one-sided where
// the other side has no position, lies beyond a pole, or jumps (the cut
// meridian, the edge of an inset).
bool derivative(const Projection& proj, LonLat p, Point at, double dLon, double dLat, Point* out) {
  const LonLat a{p.lon + dLon, p.lat + dLat}, b{p.lon - dLon, p.lat - dLat};
  const Point nan{NAN, NAN};
  const Point fa = std::fabs(a.lat) <= 90 ? proj.project(a) : nan;
  const Point fb = std::fabs(b.lat) <= 90 ? proj.project(b) : nan;
  const Point fwd{(fa.x - at.x) / kStep, (fa.y - at.y) / kStep};
  const Point back{(at.x - fb.x) / kStep, (at.y - fb.y) / kStep};
  const bool okA = finite(fa), okB = finite(fb);
  if (okA && okB) {
    const double nf = length(fwd), nb = length(back);
    if (nf > 4 * nb + 1e-9) *out = back;
    else if (nb > 4 * nf + 1e-9) *out = fwd;
    else *out = {(fa.x - fb.x) / (2 * kStep), (fa.y - fb.y) / (2 * kStep)};
  } else if (okA) {
    *out = fwd;
  } else if (okB) {
    *out = back;
  } else {
    return false;
  }
  return finite(*out);
}

bool derivativesAt(const Projection& proj, LonLat p, Derivatives* d) {
  d->at = proj.project(p);
  return finite(d->at) && derivative(proj, p, d->at, kStep, 0, &d->perLon) &&
         derivative(proj, p, d->at, 0, kStep, &d->perLat);
}

}  // namespace

double metresPerDegreeLat(double lat) {
  const double s = std::sin(lat * kRad);
  const double w = 1 - kE2 * s * s;
  return kSemiMajor * (1 - kE2) / (w * std::sqrt(w)) * kRad;
}

double metresPerDegreeLon(double lat) {
  const double s = std::sin(lat * kRad);
  return kSemiMajor / std::sqrt(1 - kE2 * s * s) * std::cos(lat * kRad) * kRad;
}

GroundFrame groundFrameAt(const Projection& proj, LonLat p) {
  GroundFrame g;
  Derivatives d;
  if (!derivativesAt(proj, p, &d)) return g;
  const double det = d.perLon.x * d.perLat.y - d.perLat.x * d.perLon.y;
  if (!std::isfinite(det) || std::fabs(det) < 1e-300) return g;
  // The step in degrees that moves one pixel along x, and its ground length.
  const double dLon = d.perLat.y / det, dLat = -d.perLon.y / det;
  g.metresPerPixel = std::hypot(dLon * metresPerDegreeLon(p.lat), dLat * metresPerDegreeLat(p.lat));
  const double n = length(d.perLat);
  if (!(n > 0) || !std::isfinite(g.metresPerPixel)) return g;
  g.north = {d.perLat.x / n, d.perLat.y / n};
  g.pixel = d.at;
  g.ok = true;
  return g;
}

bool positionAt(const Projection& proj, Point px, LonLat start, LonLat* out) {
  LonLat x = start;
  Point f = proj.project(x);
  if (!finite(f)) return false;
  for (int i = 0; i < 50; ++i) {
    const Point r{px.x - f.x, px.y - f.y};
    const double miss = length(r);
    if (miss < 1e-3) {
      *out = x;
      return true;
    }
    Derivatives d;
    if (!derivativesAt(proj, x, &d)) return false;
    const double det = d.perLon.x * d.perLat.y - d.perLat.x * d.perLon.y;
    if (!std::isfinite(det) || std::fabs(det) < 1e-300) return false;
    const double stepLon = (r.x * d.perLat.y - r.y * d.perLat.x) / det;
    const double stepLat = (d.perLon.x * r.y - d.perLon.y * r.x) / det;
    // Newton's step, halved until it comes nearer.
    bool better = false;
    for (double t = 1; t > 1e-4 && !better; t /= 2) {
      const LonLat next{x.lon + t * stepLon, std::clamp(x.lat + t * stepLat, -90.0, 90.0)};
      const Point fn = proj.project(next);
      if (finite(fn) && length({px.x - fn.x, px.y - fn.y}) < miss) {
        x = next;
        f = fn;
        better = true;
      }
    }
    if (!better) return false;
  }
  return false;
}

int MapSamples::nearest(Point px) const {
  int best = -1;
  double bestD = 0;
  for (size_t i = 0; i < pixel.size(); ++i) {
    const double d = std::hypot(pixel[i].x - px.x, pixel[i].y - px.y);
    if (best < 0 || d < bestD) {
      best = static_cast<int>(i);
      bestD = d;
    }
  }
  return best;
}

MapSamples sampleMap(const Projection& proj, const Rect& area, const Extent& guess, double lon0) {
  constexpr int kCells = 40;
  MapSamples s;
  const double west = lon0 - 180, east = lon0 + 180;
  double x0 = west, x1 = east, y0 = -90, y1 = 90;
  if (guess.valid) {
    // Three times what the map was fitted to, around its centre.
    const double cx = lon0 + std::remainder((guess.minLon + guess.maxLon) / 2 - lon0, 360.0);
    const double cy = (guess.minLat + guess.maxLat) / 2;
    const double hw = 1.5 * (guess.maxLon - guess.minLon) + 1e-3;
    const double hh = 1.5 * (guess.maxLat - guess.minLat) + 1e-3;
    x0 = std::max(west, cx - hw);
    x1 = std::min(east, cx + hw);
    y0 = std::max(-90.0, cy - hh);
    y1 = std::min(90.0, cy + hh);
  }
  auto inside = [&](Point p) { return finite(p) && area.contains(p); };
  // Samples the box; what of it the area shows.
  auto sample = [&](bool keep) {
    Extent seen;
    const double dx = (x1 - x0) / kCells, dy = (y1 - y0) / kCells;
    for (int j = 0; j <= kCells; ++j)
      for (int i = 0; i <= kCells; ++i) {
        const LonLat p{x0 + i * dx, y0 + j * dy};
        const Point px = proj.project(p);
        if (!inside(px)) continue;
        seen.add(p.lon, p.lat);
        if (keep) {
          s.where.push_back(p);
          s.pixel.push_back(px);
        }
      }
    return seen;
  };
  // Grown toward every side that the area reaches, until it reaches none.
  Extent seen;
  for (int round = 0; round < 12; ++round) {
    seen = sample(false);
    const double w = x1 - x0, h = y1 - y0;
    const double dx = w / kCells, dy = h / kCells;
    bool grew = false;
    auto growLow = [&](double& lo, double limit, double by) {
      if (lo <= limit) return;
      lo = std::max(limit, lo - by);
      grew = true;
    };
    auto growHigh = [&](double& hi, double limit, double by) {
      if (hi >= limit) return;
      hi = std::min(limit, hi + by);
      grew = true;
    };
    if (!seen.valid) {
      growLow(x0, west, w);
      growHigh(x1, east, w);
      growLow(y0, -90, h);
      growHigh(y1, 90, h);
    } else {
      if (seen.minLon < x0 + dx / 2) growLow(x0, west, w);
      if (seen.maxLon > x1 - dx / 2) growHigh(x1, east, w);
      if (seen.minLat < y0 + dy / 2) growLow(y0, -90, h);
      if (seen.maxLat > y1 - dy / 2) growHigh(y1, 90, h);
    }
    if (!grew) break;
  }
  if (seen.valid) {
    const double dx = (x1 - x0) / kCells, dy = (y1 - y0) / kCells;
    s.visible = {std::max(west, seen.minLon - dx), std::max(-90.0, seen.minLat - dy),
                 std::min(east, seen.maxLon + dx), std::min(90.0, seen.maxLat + dy), true};
  }
  // A pole the area shows brings every longitude with it.
  for (double pole : {-90.0, 90.0})
    if (inside(proj.project(LonLat{lon0, pole}))) {
      s.visible.add(lon0, pole);
      s.allLongitudes = true;
    }
  if (!s.visible.valid) return s;
  if (s.allLongitudes || (s.visible.minLon <= west && s.visible.maxLon >= east)) {
    s.allLongitudes = true;
    s.visible.minLon = west;
    s.visible.maxLon = east;
  }
  // The samples themselves, over what the area shows.
  x0 = s.visible.minLon;
  x1 = s.visible.maxLon;
  y0 = s.visible.minLat;
  y1 = s.visible.maxLat;
  sample(true);
  return s;
}

}  // namespace qv::render
