#include "render/geo/spherical.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace qv::render {

namespace {

// Beyond this a longitude is garbage rather than a position: the vertex is
// dropped (and unwrapping stays exact).
constexpr double kMaxAbsLon = 1e6;
// The finest densifying step, so that a tiny maxStep cannot exhaust memory.
constexpr double kMinStep = 1e-3;

// The windows of a central meridian in unwrapped longitude: window k runs
// from line(k) to line(k + 1); window 0 is [lon0 - 180, lon0 + 180].
struct Frame {
  double lon0 = 0;
  double west = -180;       // line(0)
  double lo = 0, hi = 0;    // the output bounds, inset from the window edges
  double step = 0;          // densifying step; 0: none

  explicit Frame(const SphereCut& c) {
    lon0 = std::isfinite(c.lon0) ? c.lon0 : 0;
    if (std::fabs(lon0) > 540) lon0 = std::remainder(lon0, 360.0);
    west = lon0 - 180;
    lo = west + kCutInset;
    hi = (lon0 + 180) - kCutInset;
    if (c.maxStep > 0 && std::isfinite(c.maxStep)) step = std::max(c.maxStep, kMinStep);
  }
  double line(int64_t k) const { return west + 360.0 * double(k); }
  int64_t windowOf(double x) const { return int64_t(std::floor((x - west) / 360.0)); }
  // An unwrapped longitude of window k as output longitude.
  double out(double x, int64_t k) const { return std::clamp(x - 360.0 * double(k), lo, hi); }
};

// Appends the points strictly between the last point of `pts` and `b`,
// evenly spaced, so that no step is longer than `step` in either
// coordinate.
void densifyTo(std::vector<LonLat>& pts, LonLat b, double step) {
  if (step <= 0 || pts.empty()) return;
  const LonLat a = pts.back();
  const double span = std::max(std::fabs(b.lon - a.lon), std::fabs(b.lat - a.lat));
  if (!(span > step)) return;  // the usual case: no division
  // The tolerance keeps edges that were densified once (and then cut
  // shorter) from being split again by rounding.
  const double n = std::ceil(span / step - 1e-9);
  if (!(n >= 2)) return;
  for (int64_t i = 1; i < int64_t(n); ++i) {
    const double t = double(i) / n;
    pts.push_back({a.lon + (b.lon - a.lon) * t, a.lat + (b.lat - a.lat) * t});
  }
}

// The point of a-b at longitude x (a and b on different sides of it, or
// one of them on it).
LonLat atLon(LonLat a, LonLat b, double x) {
  if (a.lon == x) return a;
  if (b.lon == x) return b;
  const double t = (x - a.lon) / (b.lon - a.lon);
  return {x, a.lat + (b.lat - a.lat) * t};
}

struct Scan {
  size_t kept = 0;  // input vertices used
  double minLon = 0, maxLon = 0;
  int64_t winding = 0;  // rings: times around the world (net longitude / 360)
};

// Appends the usable vertices of `in` to `out` unwrapped (each within 180
// degrees of longitude of the one before, the first inside window 0) and
// densified, for a ring including its closing edge. One pass, no
// allocation beyond `out`.
Scan unwrap(const std::vector<LonLat>& in, const Frame& f, bool closed, std::vector<LonLat>& out) {
  Scan s;
  out.reserve(out.size() + in.size());
  double shift = 0;  // a multiple of 360 added to the input longitudes
  LonLat start;
  for (const LonLat& p : in) {
    if (!(std::fabs(p.lon) <= kMaxAbsLon) || !std::isfinite(p.lat)) continue;
    const double lat = std::clamp(p.lat, -90.0, 90.0);
    if (s.kept++ == 0) {
      shift = 360.0 * std::nearbyint((wrapToCentre(p, f.lon0).lon - p.lon) / 360.0);
      start = {p.lon + shift, lat};
      s.minLon = s.maxLon = start.lon;
      out.push_back(start);
      continue;
    }
    const double prev = out.back().lon;
    double x = p.lon + shift;
    if (std::fabs(x - prev) > 180) {
      shift = 360.0 * std::nearbyint((prev - p.lon) / 360.0);
      x = p.lon + shift;
    }
    densifyTo(out, {x, lat}, f.step);
    out.push_back({x, lat});
    s.minLon = std::min(s.minLon, x);
    s.maxLon = std::max(s.maxLon, x);
  }
  if (closed && s.kept > 0) {
    // The closing edge, the short way back to the start: it arrives at the
    // start's longitude plus 360 times the number of turns around the world.
    const double last = out.back().lon;
    s.winding = int64_t(std::nearbyint((last - start.lon) / 360.0));
    const double close = start.lon + 360.0 * double(s.winding);
    const size_t before = out.size();
    densifyTo(out, {close, start.lat}, f.step);
    for (size_t i = before; i < out.size(); ++i) {
      s.minLon = std::min(s.minLon, out[i].lon);
      s.maxLon = std::max(s.maxLon, out[i].lon);
    }
  }
  return s;
}

// When the scanned points all lie in one window (edges included), moves
// them into the output window and returns true.
bool keepInOneWindow(std::vector<LonLat>& pts, const Scan& s, const Frame& f) {
  const int64_t k = int64_t(std::ceil((s.maxLon - f.west) / 360.0)) - 1;
  if (s.minLon < f.line(k)) return false;
  if (k == 0 && s.minLon >= f.lo && s.maxLon <= f.hi) return true;  // the usual case
  for (LonLat& p : pts) p.lon = f.out(p.lon, k);
  return true;
}

// Every vertex wrapped into the window on its own.
void wrapEach(std::vector<LonLat>& pts, const Frame& f) {
  for (LonLat& p : pts) p.lon = std::clamp(wrapToCentre(p, f.lon0).lon, f.lo, f.hi);
}

// A ring that goes `w` times around the world, made a planar polygon: cut
// open where it first crosses a window edge (so that the closing runs
// along the cut meridian), followed once around, and closed along that
// meridian to the pole, along the pole and back.
std::vector<LonLat> closeThroughPole(const std::vector<LonLat>& v, int64_t w, const Frame& f) {
  const size_t n = v.size();
  const double turn = 360.0 * double(w);
  auto at = [&](size_t i) { return i < n ? v[i] : LonLat{v[i - n].lon + turn, v[i - n].lat}; };

  // The pole on the side of the mean latitude, weighted by longitude so
  // that densely drawn stretches do not count more.
  double sum = 0, weight = 0;
  for (size_t i = 0; i < n; ++i) {
    const LonLat a = at(i), b = at(i + 1);
    const double d = std::fabs(b.lon - a.lon);
    sum += d * (a.lat + b.lat);
    weight += d;
  }
  const double pole = sum / std::max(weight, 1e-300) < 0 ? -90 : 90;

  size_t cross = 0;  // the ring is cut open on edge cross -> cross + 1
  LonLat c = v[0];
  for (size_t i = 0; i < n; ++i) {
    const LonLat a = at(i), b = at(i + 1);
    const int64_t ka = f.windowOf(a.lon), kb = f.windowOf(b.lon);
    if (ka != kb) {
      cross = i;
      c = atLon(a, b, f.line(std::max(ka, kb)));
      break;
    }
  }

  std::vector<LonLat> poly;
  const int64_t poleSteps = 4 * (w < 0 ? -w : w);  // 90 degrees each: no edge over 180
  poly.reserve(n + 3 + size_t(poleSteps));
  poly.push_back(c);
  for (size_t i = cross + 1; i <= cross + n; ++i) poly.push_back(at(i));
  poly.push_back({c.lon + turn, c.lat});
  for (int64_t j = 0; j <= poleSteps; ++j)
    poly.push_back({c.lon + turn - turn * double(j) / double(poleSteps), pole});
  return poly;
}

// The planar polygon `poly` clipped to every window it touches (one
// Sutherland-Hodgman pass against both edges of each window, which is
// exact because no edge spans a whole window), each piece moved into the
// output window. Pieces keep the even-odd fill of the polygon.
void clipToWindows(const std::vector<LonLat>& poly, const Frame& f, std::vector<LonLatRing>& out) {
  double minLon = poly[0].lon, maxLon = poly[0].lon;
  for (const LonLat& p : poly) {
    minLon = std::min(minLon, p.lon);
    maxLon = std::max(maxLon, p.lon);
  }
  const int64_t k0 = f.windowOf(minLon) - 1, k1 = f.windowOf(maxLon);
  std::vector<LonLatRing> pieces(size_t(k1 - k0 + 1));
  auto emit = [&](int64_t k, LonLat p) {
    LonLatRing& piece = pieces[size_t(k - k0)];
    if (!piece.empty() && piece.back().lon == p.lon && piece.back().lat == p.lat) return;
    densifyTo(piece, p, f.step);
    piece.push_back(p);
  };

  LonLat a = poly.back();
  for (const LonLat& b : poly) {
    const int64_t kLow = f.windowOf(std::min(a.lon, b.lon)) - 1;
    const int64_t kHigh = f.windowOf(std::max(a.lon, b.lon));
    for (int64_t k = kLow; k <= kHigh; ++k) {
      const double west = f.line(k), east = f.line(k + 1);
      const bool aIn = a.lon >= west && a.lon <= east;
      const bool bIn = b.lon >= west && b.lon <= east;
      if (bIn) {
        if (!aIn) emit(k, atLon(a, b, a.lon < west ? west : east));
        emit(k, b);
      } else if (aIn) {
        emit(k, atLon(a, b, b.lon < west ? west : east));
      }
    }
    a = b;
  }

  for (size_t i = 0; i < pieces.size(); ++i) {
    LonLatRing& piece = pieces[i];
    while (piece.size() > 1 && piece.back().lon == piece.front().lon &&
           piece.back().lat == piece.front().lat)
      piece.pop_back();
    if (piece.size() < 3) continue;
    densifyTo(piece, piece.front(), f.step);
    // Pieces of no area (a ring touching a window edge, a spike along the
    // pole) would only draw strokes along the edge.
    const int64_t k = k0 + int64_t(i);
    double area = 0;
    for (size_t j = 0, m = piece.size(); j < m; ++j) {
      const LonLat& p = piece[j];
      const LonLat& q = piece[(j + 1) % m];
      area += (p.lon - f.line(k)) * q.lat - (q.lon - f.line(k)) * p.lat;
    }
    if (!(std::fabs(area) > 1e-12)) continue;
    for (LonLat& p : piece) p.lon = f.out(p.lon, k);
    out.push_back(std::move(piece));
  }
}

// An unwrapped line split where it crosses window edges, the pieces moved
// into the output window.
void splitLine(const std::vector<LonLat>& u, const Frame& f,
               std::vector<std::vector<LonLat>>& out) {
  int64_t k = f.windowOf(u[0].lon);
  std::vector<LonLat> piece;
  auto add = [&](LonLat p) {
    if (piece.empty() || piece.back().lon != p.lon || piece.back().lat != p.lat) piece.push_back(p);
  };
  auto flush = [&] {
    if (piece.size() >= 2) {
      for (LonLat& p : piece) p.lon = f.out(p.lon, k);
      out.push_back(std::move(piece));
    }
    piece.clear();
  };
  add(u[0]);
  for (size_t i = 1; i < u.size(); ++i) {
    const LonLat a = u[i - 1], b = u[i];
    if (b.lon < f.line(k) || b.lon > f.line(k + 1)) {
      // a is in window k and b within 180 degrees of it: b is in the next
      // window on its side.
      const bool east = b.lon > f.line(k + 1);
      const LonLat c = atLon(a, b, f.line(east ? k + 1 : k));
      add(c);
      flush();
      k += east ? 1 : -1;
      add(c);
    }
    add(b);
  }
  flush();
}

// Data often close a polar region along a parallel just short of the pole
// (-89.999 in data rounded to a grid): that is the pole too.
constexpr double kPoleBand = 0.01;

// The edges of a ring made ready for the window that run along its edges
// (where every position on the cut meridian lies, see Frame::out) or along
// a pole; empty when none does.
CutEdges cutEdgesOf(const LonLatRing& r, const Frame& f) {
  CutEdges cuts;
  const size_t n = r.size();
  for (size_t i = 0; i < n; ++i) {
    const LonLat a = r[i], b = r[(i + 1) % n];
    const bool meridian = a.lon == b.lon && (a.lon == f.lo || a.lon == f.hi);
    const bool pole = a.lat == b.lat && std::fabs(a.lat) >= 90 - kPoleBand;
    if (!meridian && !pole) continue;
    if (cuts.empty()) cuts.resize(n);
    cuts[i] = true;
  }
  return cuts;
}

}  // namespace

void cutRings(const std::vector<LonLatRing>& rings, const SphereCut& cut,
              std::vector<LonLatRing>& out, std::vector<CutEdges>* cuts) {
  const Frame f(cut);
  const size_t first = out.size();
  for (const LonLatRing& ring : rings) {
    out.emplace_back();
    const Scan s = unwrap(ring, f, true, out.back());
    if (s.kept < 3) {
      out.pop_back();
    } else if (!cut.cut) {
      wrapEach(out.back(), f);
    } else if (s.winding != 0 || !keepInOneWindow(out.back(), s, f)) {
      const LonLatRing u = std::move(out.back());
      out.pop_back();
      clipToWindows(s.winding != 0 ? closeThroughPole(u, s.winding, f) : u, f, out);
    }
  }
  if (!cuts) return;
  for (size_t i = first; i < out.size(); ++i)
    cuts->push_back(cut.cut ? cutEdgesOf(out[i], f) : CutEdges());
}

void cutLine(const std::vector<LonLat>& line, const SphereCut& cut,
             std::vector<std::vector<LonLat>>& out) {
  const Frame f(cut);
  out.emplace_back();
  const Scan s = unwrap(line, f, false, out.back());
  if (s.kept < 2) {
    out.pop_back();
  } else if (!cut.cut) {
    wrapEach(out.back(), f);
  } else if (!keepInOneWindow(out.back(), s, f)) {
    const std::vector<LonLat> u = std::move(out.back());
    out.pop_back();
    splitLine(u, f, out);
  }
}

}  // namespace qv::render
