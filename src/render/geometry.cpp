#include "render/geometry.h"

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
// the segment a-b crosses the edge.
template <typename Inside, typename Cross>
void clipPass(const Ring& in, Ring& out, Inside inside, Cross cross) {
  out.clear();
  if (in.empty()) return;
  Point prev = in.back();
  bool prevIn = inside(prev);
  for (const Point& cur : in) {
    bool curIn = inside(cur);
    if (curIn) {
      if (!prevIn) out.push_back(cross(prev, cur));
      out.push_back(cur);
    } else if (prevIn) {
      out.push_back(cross(prev, cur));
    }
    prev = cur;
    prevIn = curIn;
  }
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

Ring clipRing(const Ring& ring, const Rect& clip) {
  Ring a, b;
  a.reserve(ring.size() + 4);
  b.reserve(ring.size() + 4);
  for (const Point& p : ring)
    if (finite(p)) a.push_back(p);
  if (a.size() < 3 || clip.empty()) return {};
  const double l = clip.x, r = clip.right(), t = clip.y, bo = clip.bottom();
  clipPass(a, b, [&](Point p) { return p.x >= l; }, [&](Point p, Point q) { return atX(p, q, l); });
  clipPass(b, a, [&](Point p) { return p.x <= r; }, [&](Point p, Point q) { return atX(p, q, r); });
  clipPass(a, b, [&](Point p) { return p.y >= t; }, [&](Point p, Point q) { return atY(p, q, t); });
  clipPass(b, a, [&](Point p) { return p.y <= bo; }, [&](Point p, Point q) { return atY(p, q, bo); });
  if (a.size() < 3) return {};
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

void dropCloseVertices(std::vector<Point>& points, double minSpacing, bool closed) {
  const double min2 = minSpacing > 0 ? minSpacing * minSpacing : 0;
  size_t kept = 0;
  size_t n = points.size();
  for (size_t i = 0; i < n; ++i) {
    const Point p = points[i];
    if (!finite(p)) continue;
    if (kept == 0 || dist2(p, points[kept - 1]) >= min2) {
      points[kept++] = p;
    } else if (!closed && i == n - 1 && kept > 1) {
      // An open line keeps its true end in place of the last kept vertex.
      points[kept - 1] = p;
    }
  }
  points.resize(kept);
  if (closed) {
    while (points.size() > 1 && dist2(points.back(), points.front()) < min2) points.pop_back();
  }
}

GeometryOptions geometryFor(const Rect& area, double pad) {
  GeometryOptions o;
  o.clip = area.inflated(std::isfinite(pad) && pad > 0 ? pad : 0);
  return o;
}

std::vector<Ring> projectRings(const Projection& proj, const std::vector<LonLatRing>& rings,
                               const GeometryOptions& opt) {
  std::vector<Ring> out;
  for (const LonLatRing& r : rings) {
    Ring pts = projectAll(proj, r);
    dropCloseVertices(pts, opt.minSpacing, true);
    if (pts.size() < 3) continue;
    Bounds b = boundsOf(pts);
    if (b.x1 < opt.clip.x || b.x0 > opt.clip.right() || b.y1 < opt.clip.y ||
        b.y0 > opt.clip.bottom())
      continue;  // wholly outside
    if (b.x0 < opt.clip.x || b.x1 > opt.clip.right() || b.y0 < opt.clip.y ||
        b.y1 > opt.clip.bottom()) {
      pts = clipRing(pts, opt.clip);
      dropCloseVertices(pts, opt.minSpacing, true);
      if (pts.size() < 3) continue;
    }
    out.push_back(std::move(pts));
  }
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
  for (Polyline& piece : clipPolyline(pts, opt.clip)) {
    dropCloseVertices(piece, opt.minSpacing, false);
    if (piece.size() >= 2) out.push_back(std::move(piece));
  }
  return out;
}

void appendRings(cairo_t* cr, const std::vector<Ring>& rings) {
  for (const Ring& r : rings) {
    if (r.size() < 3) continue;
    cairo_move_to(cr, r[0].x, r[0].y);
    for (size_t i = 1; i < r.size(); ++i) cairo_line_to(cr, r[i].x, r[i].y);
    cairo_close_path(cr);
  }
}

void appendPolylines(cairo_t* cr, const std::vector<Polyline>& lines) {
  for (const Polyline& l : lines) {
    if (l.size() < 2) continue;
    cairo_move_to(cr, l[0].x, l[0].y);
    for (size_t i = 1; i < l.size(); ++i) cairo_line_to(cr, l[i].x, l[i].y);
  }
}

bool regionPath(cairo_t* cr, const Projection& proj, const std::vector<LonLatRing>& rings,
                const GeometryOptions& opt) {
  cairo_new_path(cr);
  std::vector<Ring> visible = projectRings(proj, rings, opt);
  appendRings(cr, visible);
  return !visible.empty();
}

void fillAndStroke(cairo_t* cr, const Rgba& fill, const Rgba& outline, double outlineWidth,
                   int outlinePattern) {
  {
    CairoStateGuard guard(cr);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    if (fill.a > 0) {
      setSourceColor(cr, fill);
      cairo_fill_preserve(cr);
    }
    if (outlineWidth > 0 && outline.a > 0) {
      setLineStyle(cr, outline, outlineWidth, outlinePattern);
      cairo_stroke_preserve(cr);
    }
  }
  cairo_new_path(cr);
}

}  // namespace qv::render
