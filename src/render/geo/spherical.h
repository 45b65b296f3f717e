// Longitude/latitude geometry made ready for a map projection, still on the
// sphere: longitudes taken into the window around the projection's central
// meridian, rings and lines cut where the projection tears the globe apart
// (the meridian opposite the centre), rings around a pole closed through
// it, and long edges densified so that curved projections draw them curved.
// Pure arithmetic on degrees, no trigonometry.
//
// Input longitudes may lie anywhere (-180..180, 0..360, a ring running
// 170..190). Consecutive vertices are joined the short way round: no edge
// spans more than 180 degrees of longitude, so a step from 179 to -179 is
// 2 degrees east across the antimeridian.
//
// Cleaning, applied to every ring and line: vertices with a non-finite
// coordinate or a longitude beyond +-1e6 degrees are dropped; latitudes are
// clamped to -90..90.
//
// The edge inset: no longitude that comes out of cutRings or cutLine lies
// closer than kCutInset (1e-9 degrees) to the cut meridian. Points on the
// cut come out at exactly (lon0 - 180) + kCutInset on the west edge and
// (lon0 + 180) - kCutInset on the east edge, so that a projection library
// that normalises longitudes into -180..180 cannot move them to the other
// side of the map.
#pragma once

#include <cmath>
#include <vector>

#include "render/geo/viewport.h"

namespace qv::render {

using LonLatRing = std::vector<LonLat>;  // closed: the last point joins the first

// Which edges of a ring are cuts the map made, not edges of the region:
// along the cut meridian, along a pole closed through, along the frame.
// Edge i joins vertex i to vertex i + 1 (the last one closes the ring). A
// cut is filled but not stroked. Empty when the ring has none.
using CutEdges = std::vector<bool>;

inline constexpr double kCutInset = 1e-9;

// The cut meridian of a projection centred on `lon0` is lon0 + 180
// (= lon0 - 180). A non-finite lon0 counts as 0; one beyond +-540 is taken
// modulo 360.
struct SphereCut {
  double lon0 = 0;  // central meridian, degrees
  // False for azimuthal projections: no cut, only wrapping and densifying.
  bool cut = true;
  // Densify: no edge longer than this many degrees in longitude or latitude
  // (<= 0: no densifying). Steps below 0.001 degrees are raised to that.
  double maxStep = 1.0;
};

// A position with its longitude taken into [lon0 - 180, lon0 + 180]
// (longitudes already inside are returned unchanged; no inset). A
// non-finite position comes back as it is.
inline LonLat wrapToCentre(LonLat p, double lon0) {
  const double d = p.lon - lon0;
  if (!(std::fabs(d) > 180) || !std::isfinite(d)) return p;
  return {lon0 + std::remainder(d, 360.0), p.lat};
}

// The rings of one region (one polygon's outer rings and holes, filled
// together by the even-odd rule) made ready for projecting, appended to
// `out` with every longitude inside the window of `cut.lon0`.
//
// With `cut.cut` set, a ring that stays on one side of the cut meridian
// comes back whole; one that crosses it comes back as pieces, each closed
// along the cut meridian, whose even-odd fill covers what the ring covers
// on the sphere. A ring that goes once around the world (Antarctica, a
// polar cap) encloses the pole on the side of its mean latitude and is
// closed through that pole (latitude +-90) along the cut meridian, whatever
// its orientation. Edges added along the cut meridian and the pole are
// densified like input edges.
//
// Without `cut.cut` (azimuthal projections) rings are neither cut nor
// closed: each vertex is wrapped into the window on its own (so a ring
// across the cut meridian jumps from one edge to the other) after
// densifying the short way round.
//
// Rings with fewer than three usable vertices give nothing.
//
// With `cut.cut` set and `cuts` given, the cut edges of each ring appended
// to `out` are appended to `cuts`: edges along the cut meridian (from the
// cut, or already in the data, which often comes split there) and along a
// pole (within a hundredth of a degree of it).
void cutRings(const std::vector<LonLatRing>& rings, const SphereCut& cut,
              std::vector<LonLatRing>& out, std::vector<CutEdges>* cuts = nullptr);

// One open line made ready for projecting, its pieces appended to `out`.
// With `cut.cut` set, a line that crosses the cut meridian comes back as
// two or more pieces, each ending on the cut meridian on its own side (the
// crossing latitude interpolated linearly); nothing ever joins across.
// Without it, one piece with every vertex wrapped. Lines with fewer than
// two usable vertices give nothing.
void cutLine(const std::vector<LonLat>& line, const SphereCut& cut,
             std::vector<std::vector<LonLat>>& out);

}  // namespace qv::render
