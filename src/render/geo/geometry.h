// The geometry path every mark shares: project longitude/latitude to
// pixels, thin out sub-pixel vertices, clip to the drawing area
// (Sutherland-Hodgman for rings, segment clipping for lines), and build the
// path. Clipping first keeps Cairo's fixed-point coordinates in range
// however far the map is zoomed in, and keeps work proportional to what is
// visible.
#pragma once

#include <algorithm>
#include <vector>

#include "render/geo/spherical.h"
#include "render/geo/viewport.h"
#include "render/paint/painter.h"

namespace qv::render {

using Ring = std::vector<Point>;      // closed: the last point joins the first
using Polyline = std::vector<Point>;  // open
using LonLatRing = std::vector<LonLat>;

// Sutherland-Hodgman: the part of a closed ring inside `clip`. A ring that
// wraps the rectangle comes back as the rectangle; one outside comes back
// empty. Pieces of one ring that the rectangle cuts apart stay one ring
// joined along the rectangle's edge, which fills correctly. With `cuts`
// (the ring's cut edges, empty for none), they come back for the ring
// returned, the edges made along the rectangle among them.
Ring clipRing(const Ring& ring, const Rect& clip, CutEdges* cuts = nullptr);

// The parts of an open line inside `clip` (Liang-Barsky per segment;
// consecutive visible segments stay one piece).
std::vector<Polyline> clipPolyline(const Polyline& line, const Rect& clip);

// Removes each vertex closer than `minSpacing` to the last one kept (and, in
// a closed ring, a last vertex that is that close to the first), and every
// non-finite vertex. The first vertex is always kept, the last of an open
// line too, so a line keeps its ends. A ring's `cuts` (when not empty)
// follow: the edge from a kept vertex takes the mark of the edge it now
// stands for, that of the last vertex dropped after it.
void dropCloseVertices(std::vector<Point>& points, double minSpacing, bool closed,
                       CutEdges* cuts = nullptr);

// The edges of a ring that are not cut, as open lines (each run of them
// from one cut to the next).
std::vector<Polyline> uncutRuns(const Ring& ring, const CutEdges& cuts);

struct GeometryOptions {
  Rect clip;                // the area to keep, in pixels
  double minSpacing = 0.25;  // pixels; vertices closer than this are dropped
};

// The clip rectangle for drawing into `area`: the area grown by `pad` pixels
// so that outlines along its edges fall outside it (clip the Cairo context
// to `area` itself to hide them).
GeometryOptions geometryFor(const Rect& area, double pad = 4);

// The visible rings of a region in pixels; rings that vanish (fewer than
// three vertices left) are left out.
std::vector<Ring> projectRings(const Projection& proj, const std::vector<LonLatRing>& rings,
                               const GeometryOptions& opt);
// The visible pieces of a line in pixels.
std::vector<Polyline> projectLine(const Projection& proj, const std::vector<LonLat>& line,
                                  const GeometryOptions& opt);

// Rings and lines already in planar map coordinates (see planarRings) to
// their visible parts in pixels, as projectRings and projectLine give them.
// With `cuts` (one per planar ring, as planarRings gives them), the cut
// edges of each ring returned, the edges clipping made along the frame
// among them, go to `visibleCuts`.
std::vector<Ring> pixelRings(const Projection& proj, const std::vector<Ring>& planar,
                             const GeometryOptions& opt,
                             const std::vector<CutEdges>* cuts = nullptr,
                             std::vector<CutEdges>* visibleCuts = nullptr);
std::vector<Polyline> pixelLines(const Projection& proj, const std::vector<Polyline>& planar,
                                 const GeometryOptions& opt);

// --- Longitude/latitude to planar map coordinates -----------------------------

class MapProjection;

// How positions are made ready for a map projection: its central meridian,
// whether rings are cut at its antimeridian, how long an edge may stay
// before it is bent along the projection's curves.
struct PlanarContext {
  const MapProjection* map = nullptr;
  SphereCut cut;
  // Degrees between kept positions: positions closer to the last one kept
  // (in longitude and latitude both) are dropped before projecting, as
  // they would fall on the same pixel. 0 keeps all.
  double thin = 0;
};
// `extent` is what the map shows and `area` the pixels it is drawn into,
// from which the thinning distance is judged (half of `minSpacing` pixels,
// leaving room for projections that stretch).
PlanarContext planarContext(const MapProjection& map, const Extent& extent, const Rect& area,
                            double minSpacing = 0.25);

// A planar bounding box being grown.
struct PlanarBox {
  FitBox box;
  bool any = false;
  void add(const std::vector<Point>& pts);  // non-finite points are passed over
  void add(Point p) {
    if (!any) {
      box.x0 = box.x1 = p.x;
      box.y0 = box.y1 = p.y;
      any = true;
      return;
    }
    box.x0 = std::min(box.x0, p.x);
    box.x1 = std::max(box.x1, p.x);
    box.y0 = std::min(box.y0, p.y);
    box.y1 = std::max(box.y1, p.y);
  }
};

// The rings of one region cut at the projection's antimeridian, closed
// around a pole where they enclose one, and projected; appended to `out`
// (their cut edges to `cuts`, when given) and added to `box`. Rings the
// projection does not take (ALBERSUSA outside its three areas) are left
// out: the number of their positions is returned.
size_t planarRings(const PlanarContext& pc, const std::vector<LonLatRing>& rings,
                   std::vector<Ring>& out, PlanarBox& box,
                   std::vector<CutEdges>* cuts = nullptr);
// The same for a line; non-finite positions break it into pieces.
size_t planarLine(const PlanarContext& pc, const std::vector<LonLat>& line,
                  std::vector<Polyline>& out, PlanarBox& box);

// Appends closed subpaths / open subpaths to Cairo's current path.
void appendRings(Painter& pen, const std::vector<Ring>& rings);
void appendPolylines(Painter& pen, const std::vector<Polyline>& lines);

// Builds the path of a region: all its rings as one path, to be filled
// together with the even-odd rule (as fillAndStroke does) so that holes stay
// holes and separate parts fill. False when nothing of the region is visible
// (the path is then empty).
bool regionPath(Painter& pen, const Projection& proj, const std::vector<LonLatRing>& rings,
                const GeometryOptions& opt);

// Fills the current path by the even-odd rule with `fill` (skipped when its
// alpha is 0) and strokes it with `outline` at `outlineWidth` pixels
// (skipped when the width is not positive), inside its own saved state;
// clears the path.
void fillAndStroke(Painter& pen, const Rgba& fill, const Rgba& outline, double outlineWidth,
                   int outlinePattern = 1);

}  // namespace qv::render
