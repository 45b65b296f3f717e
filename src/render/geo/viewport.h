// Planar map coordinates to pixels of a viewport, fitted to what is drawn
// with a uniform scale (no distortion); Web Mercator's unit square; and the
// tile arithmetic of the usual 256-pixel tile pyramids.
//
// Web Mercator world coordinates are the unit square: u from 0 (180 W) to
// 1 (180 E), v from 0 (85.0511 N) to 1 (85.0511 S). Pixels grow right and
// down. Other projections (mapprojection.h) have planar units of their own.
#pragma once

#include <algorithm>
#include <cmath>
#include <compare>
#include <cstdint>
#include <memory>
#include <vector>

namespace qv::render {

inline constexpr double kMaxMercatorLat = 85.0511287798066;
inline constexpr int kTileSize = 256;
inline constexpr int kMaxTileZoom = 19;

struct LonLat {
  double lon = 0, lat = 0;
};

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

// An axis-aligned rectangle in pixels.
struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  double right() const { return x + width; }
  double bottom() const { return y + height; }
  bool empty() const { return !(width > 0 && height > 0); }
  // The rectangle grown by d on every side (shrunk when d < 0, never below
  // zero size).
  Rect inflated(double d) const;
  bool contains(Point p) const {
    return p.x >= x && p.x <= right() && p.y >= y && p.y <= bottom();
  }
};

// Longitude/latitude bounds; empty until a finite point is added.
struct Extent {
  double minLon = 0, minLat = 0, maxLon = 0, maxLat = 0;
  bool valid = false;

  void add(double lon, double lat) {  // non-finite values are ignored
    if (!std::isfinite(lon) || !std::isfinite(lat)) return;
    if (!valid) {
      minLon = maxLon = lon;
      minLat = maxLat = lat;
      valid = true;
      return;
    }
    minLon = std::min(minLon, lon);
    maxLon = std::max(maxLon, lon);
    minLat = std::min(minLat, lat);
    maxLat = std::max(maxLat, lat);
  }
  void add(const Extent& other);
};

// Unit-square world coordinates of a position; latitude is clamped to the
// Mercator limit and longitude is not wrapped (181 E gives u just above 1).
Point mercatorUnit(double lon, double lat);
LonLat inverseMercatorUnit(Point unit);

class MapProjection;

// What a fit must show: a box of planar coordinates, and how far what is
// drawn there reaches beyond it in pixels on each side (a marker's radius,
// a label's width).
struct FitBox {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // planar, y down
  double left = 0, right = 0, top = 0, bottom = 0;  // pixels
};

// Planar coordinates to pixels: a uniform scale and an offset. With a map
// projection, project() takes longitude/latitude through it; without one
// it is Web Mercator's unit square.
class Projection {
 public:
  Projection() = default;
  // Pixels per world unit and the pixel position of world (0, 0).
  Projection(double scale, double offsetX, double offsetY)
      : scale_(scale), offsetX_(offsetX), offsetY_(offsetY) {}

  // Fits `extent` into `viewport` less `margin` pixels on each side: the
  // largest uniform scale at which the extent fits, centered. An empty
  // extent shows the whole world; a point or a very small extent is shown
  // at the deepest tile zoom (`kMaxTileZoom`) around its center.
  static Projection fit(const Extent& extent, const Rect& viewport, double margin);
  // Fits the boxes into `viewport` less `margin`: the largest scale, up to
  // `maxScale`, at which every box with its overhang fits, centred. The
  // overhangs are dropped when they alone do not fit. No box: the scale
  // that shows `fallback` (planar) instead.
  static Projection fitBoxes(const std::vector<FitBox>& boxes, const Rect& viewport,
                             double margin, double maxScale, const FitBox& fallback);
  // The map projection that project() goes through (null: Web Mercator).
  void setMapProjection(std::shared_ptr<const MapProjection> map) { map_ = std::move(map); }

  // The pixel of a position (non-finite where the map projection has none
  // or leaves it out).
  Point project(double lon, double lat) const;
  Point project(LonLat p) const { return project(p.lon, p.lat); }
  // The position of a pixel under Web Mercator (tile maps).
  LonLat unproject(Point px) const;
  // Pixels of world units and back.
  Point toPixel(Point unit) const { return {offsetX_ + unit.x * scale_, offsetY_ + unit.y * scale_}; }
  Point toUnit(Point px) const { return {(px.x - offsetX_) / scale_, (px.y - offsetY_) / scale_}; }

  double scale() const { return scale_; }
  double offsetX() const { return offsetX_; }
  double offsetY() const { return offsetY_; }
  // The fractional zoom: the tile zoom at which 256-pixel tiles draw 1:1.
  double zoom() const;

 private:
  double scale_ = kTileSize;
  double offsetX_ = 0, offsetY_ = 0;
  std::shared_ptr<const MapProjection> map_;
};

// --- Tiles -----------------------------------------------------------------

struct TileKey {
  int z = 0, x = 0, y = 0;
  auto operator<=>(const TileKey&) const = default;
};

// Tiles x0..x1, y0..y1 (inclusive) of zoom z. x may run outside 0..2^z-1
// when the view repeats the world sideways (take it modulo 2^z to fetch);
// y stays inside.
struct TileRange {
  int z = 0;
  int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
  bool empty() const { return x1 < x0 || y1 < y0; }
  int64_t count() const {
    return empty() ? 0 : int64_t(x1 - x0 + 1) * int64_t(y1 - y0 + 1);
  }
};

// The tile zoom nearest the projection's fractional zoom, in 0..maxZoom.
int tileZoomFor(const Projection& proj, int maxZoom = kMaxTileZoom);

// The tiles of zoom z that cover `viewport`.
TileRange tilesCovering(const Projection& proj, const Rect& viewport, int z);

// The zoom to draw tiles at: the nearest zoom, lowered until the tiles over
// the viewport number at most `maxTiles`.
TileRange chooseTiles(const Projection& proj, const Rect& viewport, int maxZoom = kMaxTileZoom,
                      int64_t maxTiles = 256);

// x taken into 0..2^z-1.
int wrapTileX(int x, int z);

// The pixel rectangle a tile covers under the projection, with edges
// rounded to whole pixels so that neighbouring tiles meet without seams.
Rect tileRect(const Projection& proj, int z, int x, int y);

}  // namespace qv::render
