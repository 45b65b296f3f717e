#include "render/geo/polylabel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <queue>

namespace qv::render {

double ringArea(const std::vector<Point>& ring) {
  double twice = 0;
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++)
    twice += ring[j].x * ring[i].y - ring[i].x * ring[j].y;
  return twice / 2;
}

double distanceInside(const std::vector<std::vector<Point>>& rings, Point p) {
  bool inside = false;
  double least = std::numeric_limits<double>::infinity();
  for (const auto& ring : rings) {
    const size_t n = ring.size();
    for (size_t i = 0, j = n - 1; i < n; j = i++) {
      const Point a = ring[i], b = ring[j];
      if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
        inside = !inside;
      // Squared distance to the segment a-b.
      double dx = b.x - a.x, dy = b.y - a.y, x = a.x, y = a.y;
      if (dx != 0 || dy != 0) {
        const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / (dx * dx + dy * dy);
        if (t > 1) {
          x = b.x;
          y = b.y;
        } else if (t > 0) {
          x += dx * t;
          y += dy * t;
        }
      }
      dx = p.x - x;
      dy = p.y - y;
      least = std::min(least, dx * dx + dy * dy);
    }
  }
  return (inside ? 1 : -1) * std::sqrt(least);
}


namespace {

struct Cell {
  Point c;
  double half;      // half the cell's side
  double distance;  // of its centre
  double best;      // the most any point of the cell can have
  Cell(Point c, double half, const std::vector<std::vector<Point>>& rings)
      : c(c), half(half), distance(distanceInside(rings, c)), best(distance + half * M_SQRT2) {}
  bool operator<(const Cell& o) const { return best < o.best; }
};

// The area-weighted centroid of a ring, a good first guess.
Point centroid(const std::vector<Point>& ring) {
  double area = 0, x = 0, y = 0;
  for (size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const double f = ring[i].x * ring[j].y - ring[j].x * ring[i].y;
    x += (ring[i].x + ring[j].x) * f;
    y += (ring[i].y + ring[j].y) * f;
    area += 3 * f;
  }
  if (area == 0) return ring.front();
  return {x / area, y / area};
}

}  // namespace

InteriorPoint poleOfInaccessibility(const std::vector<std::vector<Point>>& rings, size_t within,
                                    double precision) {
  if (within >= rings.size() || rings[within].empty()) return {};
  const std::vector<Point>& outer = rings[within];
  double x0 = outer[0].x, x1 = x0, y0 = outer[0].y, y1 = y0;
  for (const Point& p : outer) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  const double side = std::min(x1 - x0, y1 - y0);
  if (!(side > 0)) return {outer.front(), 0};
  precision = std::max(precision, side * 1e-6);

  std::priority_queue<Cell> queue;
  for (double x = x0; x < x1; x += side)
    for (double y = y0; y < y1; y += side) queue.emplace(Point{x + side / 2, y + side / 2}, side / 2, rings);
  Cell best(centroid(outer), 0, rings);
  const Cell middle(Point{(x0 + x1) / 2, (y0 + y1) / 2}, 0, rings);
  if (middle.distance > best.distance) best = middle;

  // Each cell split makes four; the cap only guards against a precision far
  // finer than the polygon's size.
  for (int splits = 0; !queue.empty() && splits < 100000; ++splits) {
    const Cell cell = queue.top();
    queue.pop();
    if (cell.distance > best.distance) best = cell;
    // Cells come best first: none left can gain more than the precision.
    if (cell.best - best.distance <= precision) break;
    const double h = cell.half / 2;
    for (double dx : {-h, h})
      for (double dy : {-h, h}) queue.emplace(Point{cell.c.x + dx, cell.c.y + dy}, h, rings);
  }
  return {best.c, std::max(best.distance, 0.0)};
}

}  // namespace qv::render
