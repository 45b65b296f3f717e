// The projection a map is drawn in: longitude/latitude in degrees to planar
// coordinates whose y grows downward (as pixels do). Web Mercator and the
// equal-area projections a map chooses itself (equal_area.h, ALBERSUSA's
// three parts too) are computed here; a coordinate system the program or
// the data name goes through PROJ, loaded then.
//
// Positions are handed over in parts (a ring, a line, a point), already
// wrapped into the window [lon0 - 180, lon0 + 180] around the projection's
// central meridian and cut at its antimeridian (spherical.h). PROJ objects
// are not shared between threads: one projection serves one thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "render/geo/viewport.h"

namespace qv::render {

// The extent of what a step or a layer shows, both as it is and with the
// eastern longitudes moved 360 degrees west (for data across the
// antimeridian).
struct WrapExtent {
  Extent plain, shifted;
  void add(double lon, double lat) {
    plain.add(lon, lat);
    shifted.add(lon > 0 ? lon - 360 : lon, lat);
  }
  void add(const WrapExtent& o) {
    plain.add(o.plain);
    shifted.add(o.shifted);
  }
  bool valid() const { return plain.valid; }
  // The longitudes as one interval on the shorter of the two readings:
  // minLon..maxLon may then run below -180.
  const Extent& shorter() const;
};

class MapProjection {
 public:
  virtual ~MapProjection() = default;

  // Projects the positions of one part in place: x is the longitude and y
  // the latitude on entry, the planar position on return (non-finite where
  // the projection has none).
  virtual void forward(Point* pts, size_t n) const = 0;
  // The same for positions that are each a part of their own (markers).
  virtual void forwardPoints(Point* pts, size_t n) const { forward(pts, n); }
  // Whether a part whose first position is `p` is drawn at all.
  virtual bool accepts(LonLat /*p*/) const { return true; }
  // Whether accepts() may refuse a position (else nobody need ask it).
  virtual bool refusesSome() const { return false; }
  // Whether two positions it accepts are drawn by the same part of it (a
  // line from one to the other is drawn as one), for projections that
  // refuse some.
  virtual bool samePart(LonLat /*a*/, LonLat /*b*/) const { return true; }
  // The place a position it refuses lies in, for a message ("Puerto
  // Rico"): by `id`, the identifier of the region it belongs to (a FIPS
  // code, a postal code or a name; "" for none), else by where it lies.
  // "" when it knows no name.
  virtual std::string placeOf(LonLat /*p*/, std::string_view /*id*/) const { return {}; }

  double centralMeridian() const { return lon0_; }
  // False for azimuthal projections, which show the antimeridian inside
  // the map: rings there are not cut.
  bool cutsAtAntimeridian() const { return cuts_; }
  bool isWebMercator() const { return webMercator_; }
  // The largest scale worth drawing at, in pixels per planar unit (about
  // the deepest tile zoom's): a single point is not blown up beyond it.
  double maxScale() const { return maxScale_; }
  // The name for the log: "Equal Earth (+proj=eqearth +lon_0=0)".
  const std::string& description() const { return description_; }
  // A projection giving the very same positions, for another thread: this
  // one when it keeps no PROJ objects, else one with PROJ objects of its
  // own made from the same definitions. Null when it cannot be made.
  virtual std::shared_ptr<const MapProjection> copyForThread() const = 0;

 protected:
  double lon0_ = 0;
  bool cuts_ = true;
  bool webMercator_ = false;
  double maxScale_ = 1;
  std::string description_;
};

using MapProjectionPtr = std::shared_ptr<const MapProjection>;

// Web Mercator centred on `lon0`: planar positions in the unit square of
// mercatorUnit (u may leave 0..1 sideways, where tiles repeat).
MapProjectionPtr makeWebMercator(double lon0, std::string description = "");

// A projection PROJ knows by `definition` (EPSG:3035, ESRI:102003, a PROJ
// string, WKT); null with `error` set when PROJ does not know it or it is
// not a projection of the Earth. `name` starts the description.
MapProjectionPtr makeProjProjection(std::string_view definition, std::string_view name,
                                    std::string* error);

// The version of PROJ ("9.1.1"), opening it as a map that needs it would;
// "" with `error` set when it cannot be loaded.
std::string projVersion(std::string* error);

// The lower 48 in Albers with Alaska and Hawaii moved below them as
// insets; parts outside the three areas are not accepted.
MapProjectionPtr makeAlbersUsa();

// MAPPROJECTION= resolved for what a step draws.
struct ProjectionChoice {
  MapProjectionPtr projection;
  std::vector<std::string> warnings;  // without a severity word
  std::string note;                   // the projection chosen, for one NOTE line
};

// `setting` is AUTO ("" too), MERCATOR, EQUALEARTH, ALBERSUSA (any letter
// case) or a PROJ definition; `extent` is what the step draws (`given`:
// the box MAPEXTENT= gives); `tiles` says a tile layer is drawn (which only
// Web Mercator can carry). A definition PROJ does not know gives a warning
// and AUTO.
ProjectionChoice chooseProjection(std::string_view setting, const WrapExtent& extent, bool tiles,
                                  bool given = false);

// Where a coordinate system is meant to be used, as PROJ gives it: a box
// in degrees (east below west when it crosses the antimeridian).
struct AreaOfUse {
  double west = 0, south = 0, east = 0, north = 0;
  std::string name;  // "Liechtenstein; Switzerland."
  // Whether a position lies far outside the box: further than 10 degrees,
  // or than the box is wide (high), from it.
  bool farOutside(double lon, double lat) const;
  // "Liechtenstein; Switzerland: 5.96 to 10.49 E, 45.82 to 47.81 N".
  std::string described() const;
};

// Converts positions of data in the coordinate system `definition` to
// longitude/latitude in degrees, x = longitude and y = latitude whatever
// the system's axis order. Null with `error` set when PROJ does not know it.
class CoordinateConverter {
 public:
  virtual ~CoordinateConverter() = default;
  virtual void toLonLat(Point* pts, size_t n) const = 0;
  // The system's area of use; null when PROJ gives none.
  virtual const AreaOfUse* areaOfUse() const = 0;
};
std::unique_ptr<CoordinateConverter> makeCoordinateConverter(std::string_view definition,
                                                             std::string* error);

}  // namespace qv::render
