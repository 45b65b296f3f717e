#include "render/paint/markers.h"

#include <cmath>
#include <initializer_list>

#include "render/geo/geometry.h"
#include "render/paint/canvas.h"

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;

void polygon(Painter& pen, Point c, std::initializer_list<Point> pts) {
  bool first = true;
  for (Point p : pts) {
    if (first)
      pen.moveTo(c.x + p.x, c.y + p.y);
    else
      pen.lineTo(c.x + p.x, c.y + p.y);
    first = false;
  }
  pen.closePath();
}

void segment(Painter& pen, Point c, Point a, Point b) {
  pen.moveTo(c.x + a.x, c.y + a.y);
  pen.lineTo(c.x + b.x, c.y + b.y);
}

void star(Painter& pen, Point c, double r) {
  for (int i = 0; i < 10; ++i) {
    double rr = (i % 2 == 0) ? r : r * 0.42;
    double ang = -kPi / 2 + i * kPi / 5;
    double x = c.x + rr * std::cos(ang), y = c.y + rr * std::sin(ang);
    if (i == 0)
      pen.moveTo(x, y);
    else
      pen.lineTo(x, y);
  }
  pen.closePath();
}

}  // namespace

void markerPath(Painter& pen, MarkerSymbol symbol, Point c, double size) {
  const double r = size / 2;
  switch (symbol) {
    case MarkerSymbol::Circle:
    case MarkerSymbol::CircleFilled:
      pen.newSubPath();
      pen.arc(c.x, c.y, r, 0, 2 * kPi);
      pen.closePath();
      break;
    case MarkerSymbol::Square:
    case MarkerSymbol::SquareFilled: {
      double h = r * 0.88;  // about the area of the circle
      polygon(pen, c, {{-h, -h}, {h, -h}, {h, h}, {-h, h}});
      break;
    }
    case MarkerSymbol::Triangle:
    case MarkerSymbol::TriangleFilled: {
      double t = r * 1.15;  // centered on its centroid
      polygon(pen, c, {{0, -t}, {t * 0.866, t * 0.5}, {-t * 0.866, t * 0.5}});
      break;
    }
    case MarkerSymbol::TriangleDown:
    case MarkerSymbol::TriangleDownFilled: {
      double t = r * 1.15;
      polygon(pen, c, {{0, t}, {-t * 0.866, -t * 0.5}, {t * 0.866, -t * 0.5}});
      break;
    }
    case MarkerSymbol::Diamond:
    case MarkerSymbol::DiamondFilled:
      polygon(pen, c, {{0, -r * 1.1}, {r * 0.8, 0}, {0, r * 1.1}, {-r * 0.8, 0}});
      break;
    case MarkerSymbol::Plus:
      segment(pen, c, {-r, 0}, {r, 0});
      segment(pen, c, {0, -r}, {0, r});
      break;
    case MarkerSymbol::X: {
      double d = r * 0.8;
      segment(pen, c, {-d, -d}, {d, d});
      segment(pen, c, {-d, d}, {d, -d});
      break;
    }
    case MarkerSymbol::Star:
    case MarkerSymbol::StarFilled:
      star(pen, c, r * 1.1);
      break;
    case MarkerSymbol::Asterisk:
      for (int i = 0; i < 3; ++i) {
        double ang = kPi / 2 + i * kPi / 3;
        double dx = r * std::cos(ang), dy = r * std::sin(ang);
        segment(pen, c, {-dx, -dy}, {dx, dy});
      }
      break;
    case MarkerSymbol::Hash: {
      double k = r / 3;
      segment(pen, c, {-k, -r}, {-k, r});
      segment(pen, c, {k, -r}, {k, r});
      segment(pen, c, {-r, -k}, {r, -k});
      segment(pen, c, {-r, k}, {r, k});
      break;
    }
    case MarkerSymbol::Y: {
      double d = r * 0.85;
      segment(pen, c, {0, 0}, {-d, -d});
      segment(pen, c, {0, 0}, {d, -d});
      segment(pen, c, {0, 0}, {0, r});
      break;
    }
    case MarkerSymbol::Tack:
      segment(pen, c, {0, -r}, {0, r});
      segment(pen, c, {-r, r}, {r, r});
      break;
    case MarkerSymbol::Union:
      pen.moveTo(c.x - r * 0.8, c.y - r);
      pen.lineTo(c.x - r * 0.8, c.y);
      pen.arcNegative(c.x, c.y, r * 0.8, kPi, 0);
      pen.lineTo(c.x + r * 0.8, c.y - r);
      break;
    case MarkerSymbol::Ibeam:
      segment(pen, c, {0, -r}, {0, r});
      segment(pen, c, {-r * 0.6, -r}, {r * 0.6, -r});
      segment(pen, c, {-r * 0.6, r}, {r * 0.6, r});
      break;
    case MarkerSymbol::Arrowdown:
      segment(pen, c, {0, -r}, {0, r});
      pen.moveTo(c.x - r * 0.6, c.y + r * 0.3);
      pen.lineTo(c.x, c.y + r);
      pen.lineTo(c.x + r * 0.6, c.y + r * 0.3);
      break;
    case MarkerSymbol::Homedown:
    case MarkerSymbol::HomedownFilled:
      polygon(pen, c,
              {{-r * 0.8, -r}, {r * 0.8, -r}, {r * 0.8, r * 0.15}, {0, r}, {-r * 0.8, r * 0.15}});
      break;
  }
}

void drawMarker(Painter& pen, const MarkerStyle& style, Point at) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y) || !(style.size > 0)) return;
  StateGuard guard(pen);
  pen.newPath();
  markerPath(pen, style.symbol, at, style.size);
  double lw = style.lineWidth > 0 ? style.lineWidth : 1;
  if (markerSymbolFilled(style.symbol)) {
    pen.setColor(style.color);
    if (style.outline.a > 0) {
      pen.fillPreserve();
      setLineStyle(pen, style.outline, lw, 1);
      pen.stroke();
    } else {
      pen.fill();
    }
  } else {
    setLineStyle(pen, style.color, lw, 1);
    pen.setLineJoin(LineJoin::Miter);
    pen.stroke();
  }
}

}  // namespace qv::render
