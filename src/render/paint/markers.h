// Marker symbols: the shapes of scatter and series markers, drawn centered
// on a pixel position.
#pragma once

#include "render/geo/viewport.h"
#include "render/graph/style.h"
#include "render/paint/painter.h"

namespace qv::render {

struct MarkerStyle {
  MarkerSymbol symbol = MarkerSymbol::Circle;
  double size = 7;         // pixels across
  Rgba color;              // strokes of hollow symbols, fill of filled ones
  double lineWidth = 1;    // pixels
  Rgba outline{0, 0, 0, 0};  // edge drawn around filled symbols (alpha 0: none)
};

// Adds the outline of a symbol `size` pixels across, centered at `at`, to
// the current path (open strokes for the symbols made of lines).
void markerPath(Painter& pen, MarkerSymbol symbol, Point at, double size);

// Draws one marker inside its own saved Cairo state. Nothing is drawn for a
// non-finite position or a size that is not positive.
void drawMarker(Painter& pen, const MarkerStyle& style, Point at);

}  // namespace qv::render
