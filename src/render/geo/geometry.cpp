#include "render/geo/geometry.h"

#include "render/geo/map_projection.h"

#include <algorithm>
#include <cmath>

namespace qv::render {

namespace {

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

double dist2(Point a, Point b) {
  double dx = a.x - b.x, dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// One Sutherland-Hodgman pass against one edge of the rectangle. `inside`
// tells whether a point is on the kept side; `cross` gives the point where
// the segment a-b crosses the edge. With `cuts` (the marks of `in`'s edges
// on entry, empty for none) the marks of `out`'s come back in it: an edge
// keeps the mark of the edge it is part of, and one along the rectangle's
// edge is a cut.
template <typename Inside, typename Cross>
void clipPass(const Ring& in, Ring& out, CutEdges* cuts, Inside inside, Cross cross) {
  out.clear();
  if (in.empty()) return;
  const size_t n = in.size();
  // The marks of the edges that end at each point put out.
  CutEdges ending;
  const bool marked = cuts != nullptr;
  const bool had = marked && cuts->size() == n;
  Point prev = in.back();
  bool prevIn = inside(prev);
  for (size_t i = 0; i < n; ++i) {
    const Point& cur = in[i];
    const bool edge = had && (*cuts)[i == 0 ? n - 1 : i - 1];  // prev -> cur
    bool curIn = inside(cur);
    if (curIn) {
      if (!prevIn) {
        out.push_back(cross(prev, cur));
        if (marked) ending.push_back(true);  // from where the ring went out
      }
      out.push_back(cur);
      if (marked) ending.push_back(edge);
    } else if (prevIn) {
      out.push_back(cross(prev, cur));
      if (marked) ending.push_back(edge);
    }
    prev = cur;
    prevIn = curIn;
  }
  if (!marked) return;
  // The edge ending at point k + 1 starts at point k.
  if (!ending.empty()) std::rotate(ending.begin(), ending.begin() + 1, ending.end());
  *cuts = std::move(ending);
}

// The point of segment a-b at x = c (a and b lie on both sides of it).
Point atX(Point a, Point b, double c) {
  double t = (c - a.x) / (b.x - a.x);
  return {c, a.y + (b.y - a.y) * t};
}
Point atY(Point a, Point b, double c) {
  double t = (c - a.y) / (b.y - a.y);
  return {a.x + (b.x - a.x) * t, c};
}

struct Bounds {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

Bounds boundsOf(const std::vector<Point>& pts) {
  Bounds b{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
  for (const Point& p : pts) {
    b.x0 = std::min(b.x0, p.x);
    b.x1 = std::max(b.x1, p.x);
    b.y0 = std::min(b.y0, p.y);
    b.y1 = std::max(b.y1, p.y);
  }
  return b;
}

std::vector<Point> projectAll(const Projection& proj, const std::vector<LonLat>& pts) {
  std::vector<Point> out;
  out.reserve(pts.size());
  for (const LonLat& p : pts) {
    if (!std::isfinite(p.lon) || !std::isfinite(p.lat)) continue;
    out.push_back(proj.project(p));
  }
  return out;
}

}  // namespace

Ring clipRing(const Ring& ring, const Rect& clip, CutEdges* cuts) {
  Ring a, b;
  a.reserve(ring.size() + 4);
  b.reserve(ring.size() + 4);
  if (cuts) {
    a = ring;
    if (cuts->size() != a.size()) cuts->assign(a.size(), false);
    dropCloseVertices(a, 0, true, cuts);  // the non-finite ones
  } else {
    for (const Point& p : ring)
      if (finite(p)) a.push_back(p);
  }
  auto none = [&]() -> Ring {
    if (cuts) cuts->clear();
    return {};
  };
  if (a.size() < 3 || clip.empty()) return none();
  const double l = clip.x, r = clip.right(), t = clip.y, bo = clip.bottom();
  auto atL = [&](Point p, Point q) { return atX(p, q, l); };
  auto atR = [&](Point p, Point q) { return atX(p, q, r); };
  auto atT = [&](Point p, Point q) { return atY(p, q, t); };
  auto atB = [&](Point p, Point q) { return atY(p, q, bo); };
  clipPass(a, b, cuts, [&](Point p) { return p.x >= l; }, atL);
  clipPass(b, a, cuts, [&](Point p) { return p.x <= r; }, atR);
  clipPass(a, b, cuts, [&](Point p) { return p.y >= t; }, atT);
  clipPass(b, a, cuts, [&](Point p) { return p.y <= bo; }, atB);
  if (a.size() < 3) return none();
  return a;
}

std::vector<Polyline> clipPolyline(const Polyline& line, const Rect& clip) {
  std::vector<Polyline> out;
  if (clip.empty()) return out;
  const double xmin = clip.x, xmax = clip.right(), ymin = clip.y, ymax = clip.bottom();
  bool open = false;  // the last piece ends at the previous vertex, inside
  bool havePrev = false;
  Point prev;
  for (const Point& cur : line) {
    if (!finite(cur)) {  // a gap in the data breaks the line
      open = false;
      havePrev = false;
      continue;
    }
    if (!havePrev) {
      prev = cur;
      havePrev = true;
      continue;
    }
    // Liang-Barsky: the parameter interval [t0, t1] of prev + t*d inside.
    double dx = cur.x - prev.x, dy = cur.y - prev.y;
    double t0 = 0, t1 = 1;
    bool visible = true;
    auto edge = [&](double p, double q) {
      if (p == 0) {
        if (q < 0) visible = false;
        return;
      }
      double t = q / p;
      if (p < 0) {
        if (t > t1) visible = false;
        else if (t > t0) t0 = t;
      } else {
        if (t < t0) visible = false;
        else if (t < t1) t1 = t;
      }
    };
    edge(-dx, prev.x - xmin);
    if (visible) edge(dx, xmax - prev.x);
    if (visible) edge(-dy, prev.y - ymin);
    if (visible) edge(dy, ymax - prev.y);
    if (visible) {
      Point a{prev.x + t0 * dx, prev.y + t0 * dy};
      Point b{prev.x + t1 * dx, prev.y + t1 * dy};
      if (t0 == 0) a = prev;
      if (t1 == 1) b = cur;
      if (!(open && t0 == 0)) out.push_back(Polyline{a});
      out.back().push_back(b);
      open = t1 == 1;
    } else {
      open = false;
    }
    prev = cur;
  }
  return out;
}

void dropCloseVertices(std::vector<Point>& points, double minSpacing, bool closed,
                       CutEdges* cuts) {
  const double min2 = minSpacing > 0 ? minSpacing * minSpacing : 0;
  size_t kept = 0;
  size_t n = points.size();
  CutEdges* c = cuts && !cuts->empty() && cuts->size() == n ? cuts : nullptr;
  for (size_t i = 0; i < n; ++i) {
    const Point p = points[i];
    if (finite(p) && (kept == 0 || dist2(p, points[kept - 1]) >= min2)) {
      if (c) (*c)[kept] = (*c)[i];
      points[kept++] = p;
    } else if (finite(p) && !closed && i == n - 1 && kept > 1) {
      // An open line keeps its true end in place of the last kept vertex.
      points[kept - 1] = p;
    } else if (c && kept > 0) {
      (*c)[kept - 1] = (*c)[i];
    }
  }
  points.resize(kept);
  if (c) c->resize(kept);
  if (closed) {
    while (points.size() > 1 && dist2(points.back(), points.front()) < min2) {
      points.pop_back();
      if (c) c->pop_back();
    }
  }
}

std::vector<Polyline> uncutRuns(const Ring& ring, const CutEdges& cuts) {
  std::vector<Polyline> out;
  const size_t n = ring.size();
  if (cuts.size() != n) return out;
  const auto cut = std::find(cuts.begin(), cuts.end(), true);
  if (cut == cuts.end()) {
    // No cut: the ring, once around.
    out.push_back(ring);
    if (n > 0) out.back().push_back(ring.front());
    return out;
  }
  // From the end of a cut, once around.
  const size_t start = static_cast<size_t>(cut - cuts.begin()) + 1;
  Polyline run;
  for (size_t k = 0; k < n; ++k) {
    const size_t i = (start + k) % n;
    if (cuts[i]) {
      if (run.size() >= 2) out.push_back(std::move(run));
      run.clear();
      continue;
    }
    if (run.empty()) run.push_back(ring[i]);
    run.push_back(ring[(i + 1) % n]);
  }
  if (run.size() >= 2) out.push_back(std::move(run));
  return out;
}

GeometryOptions geometryFor(const Rect& area, double pad) {
  GeometryOptions o;
  o.clip = area.inflated(std::isfinite(pad) && pad > 0 ? pad : 0);
  return o;
}

namespace {

// The visible part of a ring already in pixels, appended to `out`; with
// `outCuts`, its cut edges (`cuts`, those of `pts`) appended there.
void keepVisibleRing(Ring&& pts, const GeometryOptions& opt, std::vector<Ring>& out,
                     CutEdges cuts = {}, std::vector<CutEdges>* outCuts = nullptr) {
  dropCloseVertices(pts, opt.minSpacing, true, &cuts);
  if (pts.size() < 3) return;
  Bounds b = boundsOf(pts);
  if (b.x1 < opt.clip.x || b.x0 > opt.clip.right() || b.y1 < opt.clip.y ||
      b.y0 > opt.clip.bottom())
    return;  // wholly outside
  if (b.x0 < opt.clip.x || b.x1 > opt.clip.right() || b.y0 < opt.clip.y ||
      b.y1 > opt.clip.bottom()) {
    pts = clipRing(pts, opt.clip, outCuts ? &cuts : nullptr);
    dropCloseVertices(pts, opt.minSpacing, true, &cuts);
    if (pts.size() < 3) return;
  }
  out.push_back(std::move(pts));
  if (!outCuts) return;
  if (std::find(cuts.begin(), cuts.end(), true) == cuts.end()) cuts.clear();
  outCuts->push_back(std::move(cuts));
}

// The visible pieces of a line already in pixels (non-finite points break
// it), appended to `out`.
void keepVisibleLine(const Polyline& pts, const GeometryOptions& opt, std::vector<Polyline>& out) {
  for (Polyline& piece : clipPolyline(pts, opt.clip)) {
    dropCloseVertices(piece, opt.minSpacing, false);
    if (piece.size() >= 2) out.push_back(std::move(piece));
  }
}

}  // namespace

std::vector<Ring> projectRings(const Projection& proj, const std::vector<LonLatRing>& rings,
                               const GeometryOptions& opt) {
  std::vector<Ring> out;
  for (const LonLatRing& r : rings) keepVisibleRing(projectAll(proj, r), opt, out);
  return out;
}

std::vector<Polyline> projectLine(const Projection& proj, const std::vector<LonLat>& line,
                                  const GeometryOptions& opt) {
  // Missing coordinates break the line: keep them as gaps through projection.
  Polyline pts;
  pts.reserve(line.size());
  const double nan = std::nan("");
  for (const LonLat& p : line) {
    if (!std::isfinite(p.lon) || !std::isfinite(p.lat))
      pts.push_back({nan, nan});
    else
      pts.push_back(proj.project(p));
  }
  std::vector<Polyline> out;
  keepVisibleLine(pts, opt, out);
  return out;
}

std::vector<Ring> pixelRings(const Projection& proj, const std::vector<Ring>& planar,
                             const GeometryOptions& opt, const std::vector<CutEdges>* cuts,
                             std::vector<CutEdges>* visibleCuts) {
  std::vector<Ring> out;
  for (size_t i = 0; i < planar.size(); ++i) {
    const Ring& r = planar[i];
    Ring pts;
    pts.reserve(r.size());
    const bool marked = visibleCuts && cuts && i < cuts->size() && !(*cuts)[i].empty();
    if (marked) {
      // Non-finite positions go with their marks (dropCloseVertices).
      for (const Point& p : r) pts.push_back(finite(p) ? proj.toPixel(p) : p);
      keepVisibleRing(std::move(pts), opt, out, (*cuts)[i], visibleCuts);
      continue;
    }
    for (const Point& p : r)
      if (finite(p)) pts.push_back(proj.toPixel(p));
    keepVisibleRing(std::move(pts), opt, out, {}, visibleCuts);
  }
  return out;
}

std::vector<Polyline> pixelLines(const Projection& proj, const std::vector<Polyline>& planar,
                                 const GeometryOptions& opt) {
  std::vector<Polyline> out;
  for (const Polyline& l : planar) {
    Polyline pts;
    pts.reserve(l.size());
    for (const Point& p : l) pts.push_back(proj.toPixel(p));
    keepVisibleLine(pts, opt, out);
  }
  return out;
}

// --- Longitude/latitude to planar -------------------------------------------

void PlanarBox::add(const std::vector<Point>& pts) {
  for (const Point& p : pts)
    if (std::isfinite(p.x) && std::isfinite(p.y)) add(p);
}

PlanarContext planarContext(const MapProjection& map, const Extent& extent, const Rect& area,
                            double minSpacing) {
  PlanarContext pc;
  pc.map = &map;
  pc.cut.lon0 = map.centralMeridian();
  pc.cut.cut = map.cutsAtAntimeridian();
  // Web Mercator draws meridians and parallels straight: nothing to bend.
  // It also stretches far north and south, and costs little: not thinned.
  pc.cut.maxStep = map.isWebMercator() ? 0 : 1;
  if (!map.isWebMercator() && extent.valid && area.width > 0 && area.height > 0) {
    const double degreesPerPixel = std::max((extent.maxLon - extent.minLon) / area.width,
                                            (extent.maxLat - extent.minLat) / area.height);
    if (std::isfinite(degreesPerPixel)) pc.thin = degreesPerPixel * minSpacing / 2;
  }
  return pc;
}

namespace {

// Drops each position closer than `tol` degrees (in longitude and in
// latitude) to the last one kept; the first is always kept, and the last
// of an open line. A step across the antimeridian is never close.
void thinLonLat(std::vector<LonLat>& pts, double tol, bool closed) {
  if (!(tol > 0) || pts.size() < 4) return;
  auto close = [tol](const LonLat& a, const LonLat& b) {
    return std::fabs(a.lon - b.lon) < tol && std::fabs(a.lat - b.lat) < tol;
  };
  size_t kept = 1;
  for (size_t i = 1; i < pts.size(); ++i) {
    const bool last = i + 1 == pts.size();
    if (close(pts[i], pts[kept - 1]) && !(last && !closed)) continue;
    pts[kept++] = pts[i];
  }
  if (closed && kept > 1 && close(pts[kept - 1], pts[0])) --kept;
  pts.resize(kept);
}

// Projects the lon/lat pieces into planar ones appended to `out`, one to
// one.
template <class Out>
void forwardPieces(const PlanarContext& pc, std::vector<LonLatRing>& pieces, Out& out,
                   PlanarBox& box) {
  for (LonLatRing& piece : pieces) {
    std::vector<Point> pts(piece.size());
    for (size_t i = 0; i < piece.size(); ++i) pts[i] = {piece[i].lon, piece[i].lat};
    pc.map->forward(pts.data(), pts.size());
    box.add(pts);
    out.push_back(std::move(pts));
  }
  pieces.clear();
}

}  // namespace

size_t planarRings(const PlanarContext& pc, const std::vector<LonLatRing>& rings,
                   std::vector<Ring>& out, PlanarBox& box, std::vector<CutEdges>* cuts) {
  size_t leftOut = 0;
  std::vector<LonLatRing> kept, pieces;
  for (const LonLatRing& r : rings) {
    if (r.empty()) continue;
    if (!pc.map->accepts(r.front())) {
      leftOut += r.size();
      continue;
    }
    kept.push_back(r);
    thinLonLat(kept.back(), pc.thin, true);
  }
  if (kept.empty()) return leftOut;
  cutRings(kept, pc.cut, pieces, cuts);
  forwardPieces(pc, pieces, out, box);
  return leftOut;
}

size_t planarLine(const PlanarContext& pc, const std::vector<LonLat>& line,
                  std::vector<Polyline>& out, PlanarBox& box) {
  size_t leftOut = 0;
  std::vector<LonLatRing> pieces;
  std::vector<LonLat> part;
  auto flush = [&] {
    if (part.empty()) return;
    if (!pc.map->accepts(part.front())) {
      leftOut += part.size();
    } else if (part.size() >= 2) {
      thinLonLat(part, pc.thin, false);
      cutLine(part, pc.cut, pieces);
    }
    part.clear();
  };
  // Missing coordinates break the line.
  for (const LonLat& p : line) {
    if (std::isfinite(p.lon) && std::isfinite(p.lat)) part.push_back(p);
    else flush();
  }
  flush();
  forwardPieces(pc, pieces, out, box);
  return leftOut;
}

void appendRings(Painter& pen, const std::vector<Ring>& rings) {
  for (const Ring& r : rings) {
    if (r.size() < 3) continue;
    pen.moveTo(r[0].x, r[0].y);
    for (size_t i = 1; i < r.size(); ++i) pen.lineTo(r[i].x, r[i].y);
    pen.closePath();
  }
}

void appendPolylines(Painter& pen, const std::vector<Polyline>& lines) {
  for (const Polyline& l : lines) {
    if (l.size() < 2) continue;
    pen.moveTo(l[0].x, l[0].y);
    for (size_t i = 1; i < l.size(); ++i) pen.lineTo(l[i].x, l[i].y);
  }
}

bool regionPath(Painter& pen, const Projection& proj, const std::vector<LonLatRing>& rings,
                const GeometryOptions& opt) {
  pen.newPath();
  std::vector<Ring> visible = projectRings(proj, rings, opt);
  appendRings(pen, visible);
  return !visible.empty();
}

void fillAndStroke(Painter& pen, const Rgba& fill, const Rgba& outline, double outlineWidth,
                   int outlinePattern) {
  {
    StateGuard guard(pen);
    pen.setFillRule(FillRule::EvenOdd);
    if (fill.a > 0) {
      pen.setColor(fill);
      pen.fillPreserve();
    }
    if (outlineWidth > 0 && outline.a > 0) {
      setLineStyle(pen, outline, outlineWidth, outlinePattern);
      pen.strokePreserve();
    }
  }
  pen.newPath();
}

}  // namespace qv::render
