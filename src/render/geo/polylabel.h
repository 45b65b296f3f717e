// Where a region's label goes: the point of a polygon farthest from its
// outline (its pole of inaccessibility), found to a given precision by
// splitting the polygon's box into cells and searching the most promising
// first. Unlike a centroid it is always inside, also for crescents, bays
// and rings with holes.
#pragma once

#include <vector>

#include "render/geo/viewport.h"

namespace qv::render {

struct InteriorPoint {
  Point at;
  double distance = 0;  // to the nearest edge; 0 when the ring has no area
};

// The area a ring encloses (the shoelace formula; its sign gives the ring's
// turning direction).
double ringArea(const std::vector<Point>& ring);

// How far `p` lies inside `rings` (even-odd, as below): the distance to the
// nearest edge of any ring, negative outside.
double distanceInside(const std::vector<std::vector<Point>>& rings, Point p);

// The point inside `rings` (even-odd: later rings inside a ring are holes)
// within the box of rings[within] that lies farthest from every edge of
// every ring, to within `precision` (in the rings' units, above 0).
InteriorPoint poleOfInaccessibility(const std::vector<std::vector<Point>>& rings, size_t within,
                                    double precision);

}  // namespace qv::render
