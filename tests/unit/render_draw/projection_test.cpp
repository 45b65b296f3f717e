// Web Mercator, fitting an extent into a viewport, and the tile arithmetic.
#include <gtest/gtest.h>

#include <cmath>

#include "render/geo/viewport.h"

namespace qv::render {
namespace {

TEST(Mercator, UnitCoordinatesClampAndInvert) {
  Point c = mercatorUnit(0, 0);
  EXPECT_DOUBLE_EQ(c.x, 0.5);
  EXPECT_NEAR(c.y, 0.5, 1e-15);
  Point nw = mercatorUnit(-180, kMaxMercatorLat);
  EXPECT_NEAR(nw.x, 0, 1e-15);
  EXPECT_NEAR(nw.y, 0, 1e-9);
  // Beyond the limit latitudes are clamped, so the poles stay finite.
  EXPECT_EQ(mercatorUnit(10, 90).y, mercatorUnit(10, kMaxMercatorLat).y);
  EXPECT_EQ(mercatorUnit(10, -90).y, mercatorUnit(10, -kMaxMercatorLat).y);
  EXPECT_NEAR(mercatorUnit(10, -kMaxMercatorLat).y, 1, 1e-9);
  // 60 N: 0.5 - ln(tan(45 + 30 degrees)) / (2 pi).
  EXPECT_NEAR(mercatorUnit(0, 60).y, 0.2903996, 1e-6);

  for (double lon : {-179.9, -105.5, 0.0, 13.4, 179.9}) {
    for (double lat : {-85.0, -33.9, 0.0, 39.7, 84.9}) {
      LonLat back = inverseMercatorUnit(mercatorUnit(lon, lat));
      EXPECT_NEAR(back.lon, lon, 1e-9);
      EXPECT_NEAR(back.lat, lat, 1e-9);
    }
  }
}

TEST(Projection, FitsTheExtentUniformlyAndCentered) {
  Extent colorado;
  colorado.add(-109.06, 36.99);
  colorado.add(-102.04, 41.0);
  colorado.add(NAN, 50);  // ignored
  Rect view{20, 10, 640, 480};
  Projection p = Projection::fit(colorado, view, 16);
  Point a = p.project(-109.06, 41.0), b = p.project(-102.04, 36.99);
  // Inside the viewport less the margin, touching it on one axis.
  EXPECT_GE(a.x, 36 - 1e-9);
  EXPECT_LE(b.x, 644 + 1e-9);
  EXPECT_GE(a.y, 26 - 1e-9);
  EXPECT_LE(b.y, 474 + 1e-9);
  bool fillsWidth = std::fabs(b.x - a.x - 608) < 1e-6;
  bool fillsHeight = std::fabs(b.y - a.y - 448) < 1e-6;
  EXPECT_TRUE(fillsWidth || fillsHeight);
  // Centered.
  EXPECT_NEAR((a.x + b.x) / 2, 340, 1e-9);
  EXPECT_NEAR((a.y + b.y) / 2, 250, 1e-9);
  // No distortion: pixel proportions are those of the Mercator plane.
  Point ua = mercatorUnit(-109.06, 41.0), ub = mercatorUnit(-102.04, 36.99);
  EXPECT_NEAR((b.x - a.x) / (b.y - a.y), (ub.x - ua.x) / (ub.y - ua.y), 1e-9);
  // The inverse returns positions.
  LonLat back = p.unproject(p.project(-105.0, 39.75));
  EXPECT_NEAR(back.lon, -105.0, 1e-9);
  EXPECT_NEAR(back.lat, 39.75, 1e-9);
}

TEST(Projection, DegenerateExtentsAndViewports) {
  Rect view{0, 0, 512, 256};
  // No data: the whole world, which is square, fits the height.
  Projection world = Projection::fit(Extent{}, view, 0);
  EXPECT_DOUBLE_EQ(world.scale(), 256);
  EXPECT_NEAR(world.project(-180, 0).x, 128, 1e-9);
  EXPECT_NEAR(world.zoom(), 0, 1e-12);
  // One point: the deepest tile zoom, centered on it.
  Extent one;
  one.add(-73.98, 40.75);
  Projection pt = Projection::fit(one, view, 10);
  EXPECT_NEAR(pt.zoom(), kMaxTileZoom, 1e-9);
  EXPECT_NEAR(pt.project(-73.98, 40.75).x, 256, 1e-6);
  EXPECT_NEAR(pt.project(-73.98, 40.75).y, 128, 1e-6);
  // A line of latitude (no height) fits by its width.
  Extent flat;
  flat.add(0, 10);
  flat.add(90, 10);
  Projection f = Projection::fit(flat, view, 0);
  EXPECT_NEAR(f.project(90, 10).x - f.project(0, 10).x, 512, 1e-6);
  // A margin larger than the viewport is dropped rather than inverting it.
  Projection m = Projection::fit(flat, view, 400);
  EXPECT_NEAR(m.project(90, 10).x - m.project(0, 10).x, 512, 1e-6);
  // An empty viewport gives a finite projection.
  Projection e = Projection::fit(flat, Rect{0, 0, 0, 0}, 5);
  EXPECT_TRUE(std::isfinite(e.project(45, 10).x));
}

TEST(Tiles, ZoomChoiceAndCoveringRanges) {
  EXPECT_EQ(tileZoomFor(Projection(256 * 32, 0, 0)), 5);
  EXPECT_EQ(tileZoomFor(Projection(256 * std::pow(2.0, 5.4), 0, 0)), 5);
  EXPECT_EQ(tileZoomFor(Projection(256 * std::pow(2.0, 5.6), 0, 0)), 6);
  EXPECT_EQ(tileZoomFor(Projection(100, 0, 0)), 0);
  EXPECT_EQ(tileZoomFor(Projection(256 * std::pow(2.0, 25), 0, 0)), kMaxTileZoom);
  EXPECT_EQ(tileZoomFor(Projection(256 * std::pow(2.0, 12), 0, 0), 10), 10);

  // World of 1024 px (zoom 2) at the origin.
  Projection p(1024, 0, 0);
  TileRange r = tilesCovering(p, Rect{0, 0, 512, 512}, 2);
  EXPECT_EQ(r.x0, 0);
  EXPECT_EQ(r.x1, 1);  // the edge at 512 needs no third column
  EXPECT_EQ(r.y0, 0);
  EXPECT_EQ(r.y1, 1);
  EXPECT_EQ(r.count(), 4);
  r = tilesCovering(Projection(1024, -100, -700), Rect{0, 0, 512, 512}, 2);
  EXPECT_EQ(r.x0, 0);
  EXPECT_EQ(r.x1, 2);
  EXPECT_EQ(r.y0, 2);
  EXPECT_EQ(r.y1, 3);  // rows stop at the world's bottom
  // Sideways the world repeats at most once on each side.
  r = tilesCovering(Projection(64, 1000, 0), Rect{0, 0, 4000, 64}, 0);
  EXPECT_EQ(r.x0, -1);
  EXPECT_EQ(r.x1, 1);
  EXPECT_EQ(wrapTileX(-1, 2), 3);
  EXPECT_EQ(wrapTileX(4, 2), 0);
  EXPECT_EQ(wrapTileX(-9, 3), 7);

  // A huge viewport lowers the zoom until the tiles are few enough.
  Projection big(256 * std::pow(2.0, 8), 0, 0);
  TileRange many = chooseTiles(big, Rect{0, 0, 8000, 8000}, kMaxTileZoom, 100);
  EXPECT_LE(many.count(), 100);
  EXPECT_LT(many.z, 8);
  EXPECT_FALSE(many.empty());

  // Neighbouring tiles share their edges exactly (no seams, no overlap).
  Projection frac(256 * std::pow(2.0, 3.3), 17.3, -40.6);
  Rect t1 = tileRect(frac, 3, 2, 4), t2 = tileRect(frac, 3, 3, 4), t3 = tileRect(frac, 3, 2, 5);
  EXPECT_EQ(t1.right(), t2.x);
  EXPECT_EQ(t1.bottom(), t3.y);
  EXPECT_NEAR(t1.width, 256 * std::pow(2.0, 0.3), 1.0);
}

}  // namespace
}  // namespace qv::render
