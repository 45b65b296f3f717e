// What a map's pixels stand for on the ground, found from the projection's
// forward direction alone (PROJ definitions need not have an inverse):
// lengths on the WGS 84 ellipsoid, the scale and the direction of true
// north around a position, the position at a pixel, and the part of the
// globe a map area shows.
#pragma once

#include <vector>

#include "render/geo/viewport.h"

namespace qv::render {

// Metres per degree of latitude, and of longitude, at latitude `lat` on the
// WGS 84 ellipsoid (the meridian and the prime vertical radius of
// curvature): the geodesic length of a short step.
double metresPerDegreeLat(double lat);
double metresPerDegreeLon(double lat);

// The map around one position.
struct GroundFrame {
  bool ok = false;
  Point pixel;                // where the position lies, in pixels
  double metresPerPixel = 0;  // the ground length of one pixel along the pixel x axis
  Point north;                // the direction of true north, a unit vector in pixels
};

// The frame at `p` under `proj` (whose map projection gives the pixels);
// not ok where the projection has no position there or its scale breaks
// down (a pole drawn as a line).
GroundFrame groundFrameAt(const Projection& proj, LonLat p);

// The position drawn at pixel `px`, searched from `start` (a position drawn
// near it); false when none is found (the pixel lies off the globe).
bool positionAt(const Projection& proj, Point px, LonLat start, LonLat* out);

// Positions on a grid over the part of the globe a map area shows.
struct MapSamples {
  std::vector<LonLat> where;  // those drawn inside the area
  std::vector<Point> pixel;   // and their pixels
  // What the area shows, a little more than less: longitudes within the
  // window of `lon0` (minLon may lie below -180), latitudes within -90..90.
  Extent visible;
  bool allLongitudes = false;  // the area shows every longitude (a pole, the whole globe)
  // The sample nearest to a pixel (index into where/pixel); -1 when none.
  int nearest(Point px) const;
};

// Samples what `area` shows under `proj`, starting from `guess` (what the
// map was fitted to) and growing until the area's edges are reached;
// `lon0` is the projection's central meridian.
MapSamples sampleMap(const Projection& proj, const Rect& area, const Extent& guess, double lon0);

}  // namespace qv::render
