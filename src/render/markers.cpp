#include "render/markers.h"

#include <cmath>
#include <initializer_list>

#include "render/canvas.h"
#include "render/geometry.h"

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;

void polygon(cairo_t* cr, Point c, std::initializer_list<Point> pts) {
  bool first = true;
  for (Point p : pts) {
    if (first)
      cairo_move_to(cr, c.x + p.x, c.y + p.y);
    else
      cairo_line_to(cr, c.x + p.x, c.y + p.y);
    first = false;
  }
  cairo_close_path(cr);
}

void segment(cairo_t* cr, Point c, Point a, Point b) {
  cairo_move_to(cr, c.x + a.x, c.y + a.y);
  cairo_line_to(cr, c.x + b.x, c.y + b.y);
}

void star(cairo_t* cr, Point c, double r) {
  for (int i = 0; i < 10; ++i) {
    double rr = (i % 2 == 0) ? r : r * 0.42;
    double ang = -kPi / 2 + i * kPi / 5;
    double x = c.x + rr * std::cos(ang), y = c.y + rr * std::sin(ang);
    if (i == 0)
      cairo_move_to(cr, x, y);
    else
      cairo_line_to(cr, x, y);
  }
  cairo_close_path(cr);
}

}  // namespace

void markerPath(cairo_t* cr, MarkerSymbol symbol, Point c, double size) {
  const double r = size / 2;
  switch (symbol) {
    case MarkerSymbol::Circle:
    case MarkerSymbol::CircleFilled:
      cairo_new_sub_path(cr);
      cairo_arc(cr, c.x, c.y, r, 0, 2 * kPi);
      cairo_close_path(cr);
      break;
    case MarkerSymbol::Square:
    case MarkerSymbol::SquareFilled: {
      double h = r * 0.88;  // about the area of the circle
      polygon(cr, c, {{-h, -h}, {h, -h}, {h, h}, {-h, h}});
      break;
    }
    case MarkerSymbol::Triangle:
    case MarkerSymbol::TriangleFilled: {
      double t = r * 1.15;  // centered on its centroid
      polygon(cr, c, {{0, -t}, {t * 0.866, t * 0.5}, {-t * 0.866, t * 0.5}});
      break;
    }
    case MarkerSymbol::TriangleDown:
    case MarkerSymbol::TriangleDownFilled: {
      double t = r * 1.15;
      polygon(cr, c, {{0, t}, {-t * 0.866, -t * 0.5}, {t * 0.866, -t * 0.5}});
      break;
    }
    case MarkerSymbol::Diamond:
    case MarkerSymbol::DiamondFilled:
      polygon(cr, c, {{0, -r * 1.1}, {r * 0.8, 0}, {0, r * 1.1}, {-r * 0.8, 0}});
      break;
    case MarkerSymbol::Plus:
      segment(cr, c, {-r, 0}, {r, 0});
      segment(cr, c, {0, -r}, {0, r});
      break;
    case MarkerSymbol::X: {
      double d = r * 0.8;
      segment(cr, c, {-d, -d}, {d, d});
      segment(cr, c, {-d, d}, {d, -d});
      break;
    }
    case MarkerSymbol::Star:
    case MarkerSymbol::StarFilled:
      star(cr, c, r * 1.1);
      break;
    case MarkerSymbol::Asterisk:
      for (int i = 0; i < 3; ++i) {
        double ang = kPi / 2 + i * kPi / 3;
        double dx = r * std::cos(ang), dy = r * std::sin(ang);
        segment(cr, c, {-dx, -dy}, {dx, dy});
      }
      break;
    case MarkerSymbol::Hash: {
      double k = r / 3;
      segment(cr, c, {-k, -r}, {-k, r});
      segment(cr, c, {k, -r}, {k, r});
      segment(cr, c, {-r, -k}, {r, -k});
      segment(cr, c, {-r, k}, {r, k});
      break;
    }
    case MarkerSymbol::Y: {
      double d = r * 0.85;
      segment(cr, c, {0, 0}, {-d, -d});
      segment(cr, c, {0, 0}, {d, -d});
      segment(cr, c, {0, 0}, {0, r});
      break;
    }
    case MarkerSymbol::Tack:
      segment(cr, c, {0, -r}, {0, r});
      segment(cr, c, {-r, r}, {r, r});
      break;
    case MarkerSymbol::Union:
      cairo_move_to(cr, c.x - r * 0.8, c.y - r);
      cairo_line_to(cr, c.x - r * 0.8, c.y);
      cairo_arc_negative(cr, c.x, c.y, r * 0.8, kPi, 0);
      cairo_line_to(cr, c.x + r * 0.8, c.y - r);
      break;
    case MarkerSymbol::Ibeam:
      segment(cr, c, {0, -r}, {0, r});
      segment(cr, c, {-r * 0.6, -r}, {r * 0.6, -r});
      segment(cr, c, {-r * 0.6, r}, {r * 0.6, r});
      break;
    case MarkerSymbol::Arrowdown:
      segment(cr, c, {0, -r}, {0, r});
      cairo_move_to(cr, c.x - r * 0.6, c.y + r * 0.3);
      cairo_line_to(cr, c.x, c.y + r);
      cairo_line_to(cr, c.x + r * 0.6, c.y + r * 0.3);
      break;
    case MarkerSymbol::Homedown:
    case MarkerSymbol::HomedownFilled:
      polygon(cr, c,
              {{-r * 0.8, -r}, {r * 0.8, -r}, {r * 0.8, r * 0.15}, {0, r}, {-r * 0.8, r * 0.15}});
      break;
  }
}

void drawMarker(cairo_t* cr, const MarkerStyle& style, Point at) {
  if (!std::isfinite(at.x) || !std::isfinite(at.y) || !(style.size > 0)) return;
  CairoStateGuard guard(cr);
  cairo_new_path(cr);
  markerPath(cr, style.symbol, at, style.size);
  double lw = style.lineWidth > 0 ? style.lineWidth : 1;
  if (markerSymbolFilled(style.symbol)) {
    setSourceColor(cr, style.color);
    if (style.outline.a > 0) {
      cairo_fill_preserve(cr);
      setLineStyle(cr, style.outline, lw, 1);
      cairo_stroke(cr);
    } else {
      cairo_fill(cr);
    }
  } else {
    setLineStyle(cr, style.color, lw, 1);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_stroke(cr);
  }
}

}  // namespace qv::render
