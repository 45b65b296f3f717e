// The equal-area projections a map is drawn in when the program names none
// (and ALBERSUSA's three parts): Albers conic, Lambert azimuthal and Equal
// Earth on the WGS 84 ellipsoid, computed here by the same formulas PROJ
// uses for them, so that drawing a map loads no projection library and
// each position costs a few arithmetic operations.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "render/geo/viewport.h"

namespace qv::render {

// The value of "+key=" in a PROJ string, or "".
std::string projParam(std::string_view projString, std::string_view key);

class EqualArea {
 public:
  // The projection a PROJ string of the form this program writes for the
  // named projections describes ("+proj=aea +lat_1=29.5 +lat_2=45.5
  // +lat_0=37.5 +lon_0=-96", "+proj=laea +lat_0=90 +lon_0=0",
  // "+proj=eqearth +lon_0=0"); nothing for any other text.
  static std::optional<EqualArea> fromProjString(std::string_view params);

  // Longitude/latitude in degrees to metres east and north, in place; both
  // infinite where the projection has no position (as PROJ gives them).
  void forward(Point* pts, size_t n) const;
  Point forward(double lonDeg, double latDeg) const;

  bool azimuthal() const { return kind_ == Kind::Laea; }
  double centralMeridian() const { return lon0Deg_; }

 private:
  enum class Kind { Aea, Laea, Eqearth };
  enum class Aspect { NorthPole, SouthPole, Equator, Oblique };
  bool setUp(double lat0, double lat1, double lat2);
  Point project(Kind kind, double lonDeg, double latDeg) const;
  void albersFour(Point* p) const;
  void albersFours(Point* pts, size_t n) const;

  Kind kind_ = Kind::Aea;
  double lon0Deg_ = 0, lon0_ = 0;
  // Albers.
  double n_ = 0, c_ = 0, dd_ = 0, rho0_ = 0;
  // Lambert azimuthal.
  Aspect aspect_ = Aspect::Oblique;
  double qp_ = 0, sinb1_ = 0, cosb1_ = 0, xmf_ = 0, ymf_ = 0;
  // Equal Earth.
  double rqda_ = 0;
};

}  // namespace qv::render
