// Map furniture, asked for by host options: the graticule (GRATICULE=:
// meridians and parallels beneath the data, labelled at the frame, and on
// a world map the outline of the globe), the scale bar (SCALEBAR=,
// SCALEUNITS=) and the north arrow (NORTHARROW=). Each is a mark of its own
// in SVG and HTML ("graticule", "scalebar", "northarrow"). The scale bar
// and the north arrow sit in corners of the map area, clear of the tile
// credits, of legends inside the map and of one another.
//
// Where the map lies on the globe is found from the projection's forward
// direction alone (ground.h): a grid of positions over what the area
// shows, the position at a pixel by Newton's method, lengths on the WGS 84
// ellipsoid.
#pragma once

#include <string>
#include <vector>

#include "render/geo/ground.h"
#include "render/marks/draw.h"

namespace qv::render {

// The corners SCALEBAR= and NORTHARROW= name, in the order of their words.
enum class Corner { None, TopLeft, TopRight, BottomLeft, BottomRight };
static_assert(optionWord(GlobalOpt::ScaleBar, static_cast<int>(Corner::None)) == "NONE" &&
              optionWord(GlobalOpt::ScaleBar, static_cast<int>(Corner::BottomRight)) ==
                  "BOTTOMRIGHT" &&
              optionWord(GlobalOpt::NorthArrow, static_cast<int>(Corner::TopRight)) ==
                  "TOPRIGHT");

// Where a block of `size` goes in `corner` of `area`, `inset` pixels from
// its two edges, moved away from the corner along the side past every
// rectangle of `taken` it would cover.
Rect cornerPlace(const Rect& area, Corner corner, Size2 size, double inset,
                 const std::vector<Rect>& taken);

// The longest of 1, 2 or 5 x 10^n that is at most `most` (> 0).
double roundLength(double most);
// A scale bar's length as it is written: "500 m", "20 km", "0.5 mi".
std::string scaleLabel(double units, bool miles);
// The spacing GRATICULE=AUTO takes for a map `span` degrees across.
double graticuleStep(double span);
// A meridian's or parallel's label: "105°W", "40.5°N", "0°", "180°".
std::string degreeLabel(double degrees, bool meridian);

class MapFurniture {
 public:
  // `fitted` is what the map was fitted to (the data, or MAPEXTENT=).
  MapFurniture(Env& env, const DrawContext& dc, const PlanarContext& planar,
               const Extent& fitted);

  // Paints the map area: its wall, or on a world map with a graticule the
  // graph's background with the globe in the wall color.
  void paintArea(Painter& pen) const;
  // The graticule's lines, beneath the data.
  void drawBeneath(Painter& pen) const;
  // The globe's outline, the graticule's labels, the scale bar and the
  // north arrow, over the data; clear of `taken` (the tile credits, legends
  // inside the map area).
  void drawAbove(Painter& pen, std::vector<Rect> taken);

  // Why furniture asked for is not drawn, one sentence each.
  std::vector<std::string> notes;

 private:
  struct GridLine {
    bool meridian = false;
    double degrees = 0;
    std::vector<Polyline> pixels;
  };
  void makeGrid();
  std::vector<Point> globeRing() const;
  void drawLabels(Painter& pen, const std::vector<Rect>& taken) const;
  // The scale bar's size and parts, once its corner is known.
  bool planScaleBar();
  void drawScaleBar(Painter& pen, const Rect& box) const;
  // The north arrow drawn with its middle at `centre`; with `pen` null only
  // its bounds, relative to the middle.
  Rect northArrow(Painter* pen, Point centre, Point north) const;
  // True north at pixel `px` (at the nearest place of the globe).
  bool northAt(Point px, Point* north) const;

  Env& env_;
  const DrawContext& dc_;
  const PlanarContext& planar_;
  Corner scaleCorner_ = Corner::None, arrowCorner_ = Corner::None;
  bool grid_ = false, globe_ = false;
  MapSamples samples_;
  std::vector<GridLine> lines_;
  double step_ = 0;  // degrees between graticule lines
  // The scale bar: its length in pixels and as written.
  double barPixels_ = 0;
  std::string barLabel_;
  FontStyle font_;
};

}  // namespace qv::render
