#include "render/paint/painter.h"

namespace qv::render {

void setLineStyle(Painter& p, const Rgba& color, double width, int pattern) {
  p.setColor(color);
  p.setLineWidth(width > 0 ? width : 1);
  p.setDash(dashArray(pattern, width));
  p.setLineCap(LineCap::Butt);
  p.setLineJoin(LineJoin::Round);
}

}  // namespace qv::render
