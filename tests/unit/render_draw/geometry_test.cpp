// Clipping, thinning, the region path with holes and the label point.
#include <gtest/gtest.h>

#include <cmath>

#include "render/geo/geometry.h"
#include "render/geo/polylabel.h"
#include "render/paint/cairo_painter.h"
#include "render/paint/canvas.h"

namespace qv::render {
namespace {

double area(const Ring& r) {
  double a = 0;
  for (size_t i = 0; i < r.size(); ++i) {
    const Point& p = r[i];
    const Point& q = r[(i + 1) % r.size()];
    a += p.x * q.y - q.x * p.y;
  }
  return std::fabs(a) / 2;
}

bool inside(const std::vector<Point>& pts, const Rect& r) {
  for (const Point& p : pts)
    if (!(p.x >= r.x - 1e-9 && p.x <= r.right() + 1e-9 && p.y >= r.y - 1e-9 &&
          p.y <= r.bottom() + 1e-9))
      return false;
  return true;
}

TEST(ClipRing, KeepsTheInsideOfEveryShape) {
  Rect box{0, 0, 10, 10};
  // Half in: a square straddling the right edge keeps half its area.
  Ring half = clipRing({{5, 2}, {15, 2}, {15, 8}, {5, 8}}, box);
  EXPECT_NEAR(area(half), 30, 1e-9);
  EXPECT_TRUE(inside(half, box));
  // Wholly outside: nothing; wrapping the box: the box.
  EXPECT_TRUE(clipRing({{20, 20}, {30, 20}, {30, 30}}, box).empty());
  Ring wrap = clipRing({{-5, -5}, {15, -5}, {15, 15}, {-5, 15}}, box);
  EXPECT_NEAR(area(wrap), 100, 1e-9);
  // A U whose arms leave through the top: the two arms and the base.
  Ring u = {{1, 5}, {3, 5}, {3, -5}, {7, -5}, {7, 5}, {9, 5}, {9, -8}, {1, -8}};
  Rect low{0, -6, 10, 4};  // y from -6 to -2
  EXPECT_NEAR(area(clipRing(u, low)), 8 * 4 - 4 * 3, 1e-9);
  // Non-finite vertices are skipped; fewer than three points is nothing.
  Ring withNan = clipRing({{2, 2}, {NAN, 4}, {8, 2}, {8, 8}, {2, 8}}, box);
  EXPECT_NEAR(area(withNan), 36, 1e-9);
  EXPECT_TRUE(clipRing({{1, 1}, {2, 2}}, box).empty());
  EXPECT_TRUE(clipRing({{1, 1}, {2, 2}, {1, 3}}, Rect{0, 0, 0, 5}).empty());
}

// The edges clipping makes along the frame are cuts, as are those cut
// before (an edge along the antimeridian): what is outlined is the rest,
// from cut to cut.
TEST(ClipRing, MarksTheEdgesItMakesAsCuts) {
  Rect box{0, 0, 10, 10};
  // A square over the right edge whose left edge was cut before.
  CutEdges cuts = {false, false, false, true};  // (5,8) -> (5,2) is a cut
  Ring half = clipRing({{5, 2}, {15, 2}, {15, 8}, {5, 8}}, box, &cuts);
  ASSERT_EQ(cuts.size(), half.size());
  std::vector<Polyline> runs = uncutRuns(half, cuts);
  // What is left: the top and the bottom, each from the cut to the frame.
  ASSERT_EQ(runs.size(), 2u);
  for (const Polyline& run : runs) {
    ASSERT_EQ(run.size(), 2u);
    EXPECT_EQ(run[0].y, run[1].y);
    EXPECT_NEAR(std::fabs(run[1].x - run[0].x), 5, 1e-9);
  }
  // Dropping a vertex keeps the mark of the edge the kept one now stands
  // for; a ring without cuts is outlined whole.
  Ring ring = {{0, 0}, {4, 0}, {4, 0.1}, {4, 4}, {0, 4}};
  CutEdges marks = {false, false, true, false, false};
  dropCloseVertices(ring, 0.25, true, &marks);
  EXPECT_EQ(marks, (CutEdges{false, true, false, false}));
  EXPECT_EQ(uncutRuns(ring, CutEdges(4, false)).front().size(), 5u);
}

TEST(ClipPolyline, SplitsAtTheEdgesAndKeepsRunsTogether) {
  Rect box{0, 0, 10, 10};
  // In, out over the right edge, back in: two pieces meeting the edge.
  auto pieces = clipPolyline({{2, 2}, {5, 2}, {15, 6}, {5, 8}, {2, 8}}, box);
  ASSERT_EQ(pieces.size(), 2u);
  ASSERT_EQ(pieces[0].size(), 3u);
  EXPECT_EQ(pieces[0][0], (Point{2, 2}));
  EXPECT_NEAR(pieces[0][2].x, 10, 1e-12);
  EXPECT_NEAR(pieces[0][2].y, 4, 1e-12);
  ASSERT_EQ(pieces[1].size(), 3u);
  EXPECT_NEAR(pieces[1][0].x, 10, 1e-12);
  EXPECT_NEAR(pieces[1][0].y, 7, 1e-12);
  EXPECT_EQ(pieces[1][2], (Point{2, 8}));
  // Passing straight through; wholly outside; along the edge.
  pieces = clipPolyline({{-5, 5}, {15, 5}}, box);
  ASSERT_EQ(pieces.size(), 1u);
  EXPECT_EQ(pieces[0], (Polyline{{0, 5}, {10, 5}}));
  EXPECT_TRUE(clipPolyline({{-5, -5}, {-1, 20}}, box).empty());
  EXPECT_EQ(clipPolyline({{0, 0}, {0, 10}}, box).size(), 1u);
  // A missing vertex breaks the line.
  pieces = clipPolyline({{1, 1}, {2, 2}, {NAN, NAN}, {3, 3}, {4, 4}}, box);
  EXPECT_EQ(pieces.size(), 2u);
}

TEST(DropCloseVertices, ThinsButKeepsEnds) {
  std::vector<Point> line = {{0, 0}, {0.1, 0}, {0.2, 0}, {1, 0}, {1.1, 0}, {1.2, 0.05}};
  dropCloseVertices(line, 0.25, false);
  // (1.1, 0) is dropped; the true end takes the place of (1, 0), near it.
  EXPECT_EQ(line, (std::vector<Point>{{0, 0}, {1.2, 0.05}}));
  std::vector<Point> spaced = {{0, 0}, {1, 0}, {1.1, 0}, {2, 0}};
  dropCloseVertices(spaced, 0.25, false);
  EXPECT_EQ(spaced, (std::vector<Point>{{0, 0}, {1, 0}, {2, 0}}));
  // A closed ring loses a closing vertex that repeats the first.
  std::vector<Point> ring = {{0, 0}, {5, 0}, {5, 5}, {0, 5}, {0, 0}};
  dropCloseVertices(ring, 0.25, true);
  EXPECT_EQ(ring.size(), 4u);
  std::vector<Point> dot = {{1, 1}, {1.1, 1.1}, {1.05, 1}};
  dropCloseVertices(dot, 0.25, true);
  EXPECT_EQ(dot.size(), 1u);
  std::vector<Point> bad = {{NAN, 0}, {1, 1}, {INFINITY, 2}, {3, 3}};
  dropCloseVertices(bad, 0.25, false);
  EXPECT_EQ(bad, (std::vector<Point>{{1, 1}, {3, 3}}));
}

TEST(ProjectRings, DeepZoomStaysInsideTheClip) {
  // A 1x1 degree square seen at zoom 19 is millions of pixels wide: the
  // output must stay inside the clip (Cairo's coordinates would overflow).
  Extent tiny;
  tiny.add(10.5, 45.5);
  Projection p = Projection::fit(tiny, Rect{0, 0, 400, 300}, 0);
  GeometryOptions opt = geometryFor(Rect{0, 0, 400, 300}, 4);
  auto rings = projectRings(p, {{{10, 45}, {11, 45}, {11, 46}, {10, 46}}}, opt);
  ASSERT_EQ(rings.size(), 1u);
  EXPECT_TRUE(inside(rings[0], opt.clip));
  EXPECT_NEAR(area(rings[0]), 408.0 * 308.0, 1e-6);
  // Rings far away, or too small to see, are left out.
  EXPECT_TRUE(projectRings(p, {{{50, 0}, {51, 0}, {51, 1}}}, opt).empty());
  Projection world = Projection::fit(Extent{}, Rect{0, 0, 400, 300}, 0);
  EXPECT_TRUE(projectRings(world, {{{10, 45}, {10.0001, 45}, {10.0001, 45.0001}}},
                           geometryFor(Rect{0, 0, 400, 300}))
                  .empty());
  auto lines =
      projectLine(p, {{10, 45.5}, {11, 45.5}, {NAN, 1}, {10.5, 45.5}, {10.6, 45.5}}, opt);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(inside(lines[0], opt.clip));
}

TEST(RegionPath, HolesStayHolesWhateverTheWinding) {
  Canvas c(100, 100);
  c.fill(rgbHex(0xFFFFFF));
  // An outer square and a hole drawn in the same direction: a non-zero
  // fill would close the hole; even-odd keeps it open.
  Projection p(1, 0, 0);
  Extent e;
  e.add(-10, -10);
  e.add(10, 10);
  p = Projection::fit(e, Rect{0, 0, 100, 100}, 0);
  std::vector<LonLatRing> rings = {
      {{-10, -10}, {10, -10}, {10, 10}, {-10, 10}},
      {{-4, -4}, {4, -4}, {4, 4}, {-4, 4}},
      {{20, 20}, {21, 20}, {21, 21}},  // off the map
  };
  Painter& pen = c.painter();
  ASSERT_TRUE(regionPath(pen, p, rings, geometryFor(Rect{0, 0, 100, 100})));
  fillAndStroke(pen, rgbHex(0x0072B2), rgbHex(0x000000), 0);
  EXPECT_EQ(c.pixelRgba(50, 50), 0xFFFFFFFFu);  // the hole
  EXPECT_EQ(c.pixelRgba(10, 50), 0x0072B2FFu);  // the ring
  // Nothing visible: false and an empty path.
  EXPECT_FALSE(regionPath(pen, p, {{{50, 50}, {51, 50}, {51, 51}}},
                          geometryFor(Rect{0, 0, 100, 100})));
  EXPECT_FALSE(cairo_has_current_point(c.cr()));
}

// The label point lies deep inside shapes whose centroid is outside or in a
// hole: a C open to the right, and a square frame around a square hole.
TEST(Geometry, LabelPointInsideCrescentAndFrame) {
  const Ring c = {{0, 0}, {100, 0}, {100, 20}, {20, 20}, {20, 80}, {100, 80}, {100, 100}, {0, 100}};
  InteriorPoint p = poleOfInaccessibility({c}, 0, 0.5);
  // The bars are 20 wide; where two meet, the circle touching both outer
  // edges and the inner corner has radius 20 sqrt2 / (1 + sqrt2).
  EXPECT_NEAR(p.distance, 20 * M_SQRT2 / (1 + M_SQRT2), 0.5);
  EXPECT_GE(p.at.x, 0);
  EXPECT_LE(p.at.x, 100);
  const bool inBar = p.at.x <= 20 || p.at.y <= 20 || p.at.y >= 80;
  EXPECT_TRUE(inBar) << p.at.x << "," << p.at.y;
  const std::vector<Ring> frame = {{{0, 0}, {100, 0}, {100, 100}, {0, 100}},
                                   {{30, 30}, {70, 30}, {70, 70}, {30, 70}}};
  p = poleOfInaccessibility(frame, 0, 0.5);
  EXPECT_NEAR(p.distance, 30 * M_SQRT2 / (1 + M_SQRT2), 0.5);
  const bool inHole = p.at.x > 30 && p.at.x < 70 && p.at.y > 30 && p.at.y < 70;
  EXPECT_FALSE(inHole);
  // A ring without area gives its first point.
  p = poleOfInaccessibility({{{5, 5}, {9, 5}, {12, 5}}}, 0, 0.5);
  EXPECT_EQ(p.at, (Point{5, 5}));
  EXPECT_EQ(p.distance, 0);
}

}  // namespace
}  // namespace qv::render
