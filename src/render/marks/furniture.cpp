#include "render/marks/furniture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kInset = 6;    // between the frame and a corner's furniture
constexpr double kGap = 4;      // between furniture stacked in one corner
constexpr double kPad = 4;      // inside the light box behind furniture
constexpr double kBarHeight = 6;
// A scale bar holds for one scale: within this much across the map.
constexpr double kScaleSpread = 1.10;
constexpr double kMetresPerMile = 1609.344;
// Graticule lines: positions at most this many degrees apart (finer for
// fine spacings), at most this many lines each way.
constexpr double kGridStep = 0.5;
constexpr double kMaxGridLines = 360;

bool finite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }

bool covers(const Rect& a, const Rect& b) {
  return a.x < b.right() && b.x < a.right() && a.y < b.bottom() && b.y < a.bottom();
}

// The light box behind furniture, as behind the tile credits.
void backBox(Painter& pen, const Rect& box) {
  pen.newPath();
  pen.rectangle(box.x, box.y, box.width, box.height);
  pen.setColor(rgbHex(0xFFFFFF, 0.75));
  pen.fill();
}

void polygon(Painter& pen, std::initializer_list<Point> pts) {
  pen.newPath();
  bool first = true;
  for (const Point& p : pts) {
    if (first) pen.moveTo(p.x, p.y);
    else pen.lineTo(p.x, p.y);
    first = false;
  }
  pen.closePath();
}

// The number of a label, without trailing zeros: "105", "40.5", "0.25".
std::string number(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  std::string s = buf;
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

// Where a graticule line meets the frame: on which edge, and where along
// it (x on the bottom and top edges, y on the left and right ones).
enum class Edge { Bottom, Top, Left, Right };
struct Crossing {
  Edge edge;
  double at;
};

std::vector<Crossing> crossings(const std::vector<Polyline>& pieces, const Rect& area) {
  std::vector<Crossing> out;
  for (const Polyline& piece : pieces)
    for (size_t i = 1; i < piece.size(); ++i) {
      const Point a = piece[i - 1], b = piece[i];
      for (Edge e : {Edge::Bottom, Edge::Top}) {
        const double y = e == Edge::Bottom ? area.bottom() : area.y;
        if ((a.y - y) * (b.y - y) > 0 || a.y == b.y) continue;
        const double x = a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x);
        if (x >= area.x && x <= area.right()) out.push_back({e, x});
      }
      for (Edge e : {Edge::Left, Edge::Right}) {
        const double x = e == Edge::Left ? area.x : area.right();
        if ((a.x - x) * (b.x - x) > 0 || a.x == b.x) continue;
        const double y = a.y + (x - a.x) / (b.x - a.x) * (b.y - a.y);
        if (y >= area.y && y <= area.bottom()) out.push_back({e, y});
      }
    }
  return out;
}

}  // namespace

Rect cornerPlace(const Rect& area, Corner corner, Size2 size, double inset,
                 const std::vector<Rect>& taken) {
  const bool left = corner == Corner::TopLeft || corner == Corner::BottomLeft;
  const bool top = corner == Corner::TopLeft || corner == Corner::TopRight;
  Rect r{left ? area.x + inset : area.right() - inset - size.width,
         top ? area.y + inset : area.bottom() - inset - size.height, size.width, size.height};
  // Each move goes past one rectangle, away from the corner: it ends.
  for (size_t moves = 0; moves <= taken.size(); ++moves) {
    const Rect* hit = nullptr;
    for (const Rect& t : taken)
      if (!t.empty() && covers(r, t)) {
        hit = &t;
        break;
      }
    if (!hit) break;
    r.y = top ? hit->bottom() + kGap : hit->y - kGap - r.height;
  }
  return r;
}

double roundLength(double most) {
  if (!(most > 0) || !std::isfinite(most)) return 0;
  const double base = std::pow(10.0, std::floor(std::log10(most)));
  for (double m : {5.0, 2.0, 1.0})
    if (m * base <= most * (1 + 1e-12)) return m * base;
  return base / 2;
}

std::string scaleLabel(double units, bool miles) {
  auto text = [](double v) {
    const int decimals = v < 1 ? static_cast<int>(std::ceil(-std::log10(v) - 1e-9)) : 0;
    return number(v, std::clamp(decimals, 0, 12));
  };
  if (miles) return text(units) + " mi";
  if (units < 1) return text(units * 1000) + " m";
  return text(units) + " km";
}

double graticuleStep(double span) {
  constexpr double kSteps[] = {0.01, 0.02, 0.05, 0.1, 0.2, 0.25, 0.5, 1, 2,
                               5,    10,   15,   30,  45,  90};
  for (double s : kSteps)
    if (s >= span / 12) return s;
  return 90;
}

std::string degreeLabel(double degrees, bool meridian) {
  if (meridian) degrees = std::remainder(degrees, 360.0);
  const double a = std::fabs(degrees);
  // Enough decimals for the finest spacing.
  const std::string n = number(a, 2) + "\u00B0";
  if (a < 1e-9 || (meridian && std::fabs(a - 180) < 1e-9)) return n;
  return n + (meridian ? (degrees < 0 ? "W" : "E") : (degrees < 0 ? "S" : "N"));
}

// --- The map furniture --------------------------------------------------------

MapFurniture::MapFurniture(Env& env, const DrawContext& dc, const PlanarContext& planar,
                           const Extent& fitted)
    : env_(env), dc_(dc), planar_(planar) {
  const OptionValues& o = env.req.options;
  scaleCorner_ = static_cast<Corner>(std::max(0, o.choice(GlobalOpt::ScaleBar)));
  arrowCorner_ = static_cast<Corner>(std::max(0, o.choice(GlobalOpt::NorthArrow)));
  grid_ = o.choice(GlobalOpt::Graticule) != 0;  // AUTO, or a number of degrees
  if (!grid_ && scaleCorner_ == Corner::None && arrowCorner_ == Corner::None) return;
  font_ = env.style.graphValueText;
  font_.sizePt = std::min(font_.sizePt, 8.0);
  const MapProjection& map = *planar.map;
  samples_ = sampleMap(dc.proj, dc.area, fitted, map.centralMeridian());
  if (grid_) {
    // The globe's outline is drawn where the map shows both sides of the
    // meridian it is cut along.
    if (!map.isWebMercator() && map.cutsAtAntimeridian()) {
      const double lon0 = map.centralMeridian();
      const Point w = dc.proj.project(lon0 - 180 + 1e-6, 0);
      const Point e = dc.proj.project(lon0 + 180 - 1e-6, 0);
      globe_ = finite(w) && finite(e) && dc.area.contains(w) && dc.area.contains(e);
    }
    makeGrid();
  }
  if (scaleCorner_ != Corner::None && !planScaleBar()) scaleCorner_ = Corner::None;
  if (arrowCorner_ != Corner::None && samples_.where.empty()) {
    notes.push_back("No north arrow is drawn: the map shows no place on the globe.");
    arrowCorner_ = Corner::None;
  }
}

void MapFurniture::paintArea(Painter& pen) const {
  if (!globe_) {
    pen.setColor(env_.style.wallColor);
    pen.paint();
    return;
  }
  pen.setColor(env_.style.background);
  pen.paint();
  const std::vector<Point> ring = globeRing();
  if (ring.size() < 3) return;
  pen.newPath();
  appendRings(pen, {ring});
  pen.setColor(env_.style.wallColor);
  pen.fill();
}

std::vector<Point> MapFurniture::globeRing() const {
  const double lon0 = planar_.map->centralMeridian();
  const double w = lon0 - 180 + 1e-7, e = lon0 + 180 - 1e-7;
  std::vector<LonLat> edge;
  for (int lat = -90; lat <= 90; ++lat) edge.push_back({w, double(lat)});
  for (int k = 1; k < 360; ++k) edge.push_back({w + (e - w) * k / 360, 90});
  for (int lat = 90; lat >= -90; --lat) edge.push_back({e, double(lat)});
  for (int k = 359; k > 0; --k) edge.push_back({w + (e - w) * k / 360, -90});
  Ring ring;
  for (const LonLat& p : edge)
    if (const Point px = dc_.proj.project(p); finite(px)) ring.push_back(px);
  dropCloseVertices(ring, dc_.geo.minSpacing, true);
  return clipRing(ring, dc_.geo.clip);
}

void MapFurniture::makeGrid() {
  const Extent& v = samples_.visible;
  if (!v.valid) return;
  const MapProjection& map = *planar_.map;
  const double lon0 = map.centralMeridian();
  const bool cuts = map.cutsAtAntimeridian();
  double step = env_.req.options.number(GlobalOpt::Graticule);
  if (env_.req.options.choice(GlobalOpt::Graticule) > 0) {  // AUTO
    const double midLat = (v.minLat + v.maxLat) / 2;
    const double across = (v.maxLon - v.minLon) * std::max(0.2, std::cos(midLat * kPi / 180));
    step = graticuleStep(std::max(v.maxLat - v.minLat, across));
  }
  if (!(step > 0)) return;
  while ((v.maxLon - v.minLon) / step > kMaxGridLines ||
         (v.maxLat - v.minLat) / step > kMaxGridLines)
    step *= 2;
  step_ = step;
  // Longitudes: on the cut meridian the globe's outline stands (an
  // azimuthal map shows it once).
  double lonLo = v.minLon, lonHi = v.maxLon;
  if (samples_.allLongitudes && cuts) {
    lonLo += 1e-7;
    lonHi -= 1e-7;
  }
  const double latLo = std::max(-90.0, v.minLat), latHi = std::min(90.0, v.maxLat);
  auto add = [&](bool meridian, double degrees, LonLat from, LonLat to) {
    const double span = std::max(std::fabs(to.lon - from.lon), std::fabs(to.lat - from.lat));
    const double most = std::min(kGridStep, step / 4);
    const size_t n = static_cast<size_t>(std::clamp(std::ceil(span / most), 1.0, 2000.0));
    // A run of positions the projection draws as one part.
    std::vector<Polyline> planar;
    PlanarBox box;
    std::vector<LonLat> run;
    auto flush = [&] {
      if (run.size() >= 2) planarLine(planar_, run, planar, box);
      run.clear();
    };
    for (size_t i = 0; i <= n; ++i) {
      const double t = static_cast<double>(i) / static_cast<double>(n);
      const LonLat p{from.lon + (to.lon - from.lon) * t, from.lat + (to.lat - from.lat) * t};
      if (map.refusesSome()) {
        if (!run.empty() && !map.samePart(run.back(), p)) flush();
        if (!map.accepts(p)) {
          flush();
          continue;
        }
      }
      run.push_back(p);
    }
    flush();
    GridLine line;
    line.meridian = meridian;
    line.degrees = degrees;
    line.pixels = pixelLines(dc_.proj, planar, dc_.geo);
    if (!line.pixels.empty()) lines_.push_back(std::move(line));
  };
  for (double k = std::ceil(lonLo / step - 1e-9); k * step <= lonHi + 1e-9; ++k) {
    const double lon = k * step;
    if (std::fabs(std::remainder(lon - lon0 - 180, 360.0)) < 1e-6 && (cuts || lon > lon0))
      continue;
    add(true, lon, {lon, latLo}, {lon, latHi});
  }
  for (double k = std::ceil(latLo / step - 1e-9); k * step <= latHi + 1e-9; ++k) {
    const double lat = k * step;
    if (std::fabs(lat) > 90 - 1e-9) continue;
    add(false, lat, {lonLo, lat}, {lonHi, lat});
  }
}

void MapFurniture::drawBeneath(Painter& pen) const {
  if (lines_.empty()) return;
  ItemGuard item(pen, ItemInfo{"graticule", "", ""});
  StateGuard guard(pen);
  pen.newPath();
  for (const GridLine& l : lines_) appendPolylines(pen, l.pixels);
  setLineStyle(pen, rgbHex(0x707070, 0.55), 0.6, 1);
  pen.stroke();
}

void MapFurniture::drawLabels(Painter& pen, const std::vector<Rect>& taken) const {
  const Rect& area = dc_.area;
  LabelStyle ls;
  ls.font = font_;
  ls.font.color = rgbHex(0x404040);
  ls.pad = 0;
  ls.backlight = 0.8;
  std::vector<Rect> drawn;
  // Where labels would overlap, every second (fourth) line's goes first.
  std::vector<const GridLine*> order;
  for (const GridLine& l : lines_) order.push_back(&l);
  auto rank = [&](const GridLine* l) {
    const long long k = std::llround(l->degrees / step_);
    return k % 4 == 0 ? 0 : k % 2 == 0 ? 1 : 2;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](const GridLine* a, const GridLine* b) { return rank(a) < rank(b); });
  for (const GridLine* line : order) {
    const GridLine& l = *line;
    const std::vector<Crossing> all = crossings(l.pixels, area);
    // Meridians are labelled at the bottom edge, else the top; parallels
    // at the left, else the right.
    constexpr Edge kPreferred[2][4] = {{Edge::Left, Edge::Right, Edge::Bottom, Edge::Top},
                                       {Edge::Bottom, Edge::Top, Edge::Left, Edge::Right}};
    std::optional<Crossing> where;
    for (Edge e : kPreferred[l.meridian ? 1 : 0]) {
      for (const Crossing& c : all)
        if (c.edge == e) {
          where = c;
          break;
        }
      if (where) break;
    }
    const LaidOutLabel label(degreeLabel(l.degrees, l.meridian), ls);
    if (label.empty()) continue;
    Point at;
    TextPosition pos = TextPosition::Center;
    if (where) {
      switch (where->edge) {
        case Edge::Bottom: at = {where->at, area.bottom() - 2}; pos = TextPosition::Top; break;
        case Edge::Top: at = {where->at, area.y + 2}; pos = TextPosition::Bottom; break;
        case Edge::Left: at = {area.x + 2, where->at}; pos = TextPosition::Right; break;
        case Edge::Right: at = {area.right() - 2, where->at}; pos = TextPosition::Left; break;
      }
    } else {
      // A line that ends inside the frame, at the globe's outline: a
      // meridian is labelled below its southern end, a parallel inside
      // its western one.
      Point end{NAN, NAN};
      for (const Polyline& piece : l.pixels)
        for (const Point& p : piece) {
          if (!area.contains(p)) continue;
          if (!finite(end) || (l.meridian ? p.y > end.y : p.x < end.x)) end = p;
        }
      if (!finite(end)) continue;
      at = l.meridian ? Point{end.x, end.y + 2} : Point{end.x + 3, end.y};
      pos = l.meridian ? TextPosition::Bottom : TextPosition::Right;
    }
    // Kept whole inside the frame.
    Rect box = label.box(at, pos).bounds();
    const double dx =
        std::max(0.0, area.x + 2 - box.x) - std::max(0.0, box.right() - (area.right() - 2));
    const double dy =
        std::max(0.0, area.y + 2 - box.y) - std::max(0.0, box.bottom() - (area.bottom() - 2));
    box.x += dx;
    box.y += dy;
    at = {at.x + dx, at.y + dy};
    const Rect room = box.inflated(2);
    auto clash = [&](const Rect& r) { return covers(room, r); };
    if (std::any_of(drawn.begin(), drawn.end(), clash) ||
        std::any_of(taken.begin(), taken.end(), clash))
      continue;
    label.draw(pen, at, pos);
    drawn.push_back(box);
  }
}

bool MapFurniture::planScaleBar() {
  if (samples_.where.empty()) {
    notes.push_back("No scale bar is drawn: the map shows no place on the globe.");
    return false;
  }
  // The scale at the map's centre.
  const Rect& area = dc_.area;
  const Point centre{area.x + area.width / 2, area.y + area.height / 2};
  const LonLat near = samples_.where[static_cast<size_t>(samples_.nearest(centre))];
  LonLat at;
  GroundFrame here;
  if (positionAt(dc_.proj, centre, near, &at)) here = groundFrameAt(dc_.proj, at);
  if (!here.ok) here = groundFrameAt(dc_.proj, near);
  // And how far it strays across the map.
  double lo = INFINITY, hi = 0;
  for (const LonLat& p : samples_.where) {
    const GroundFrame g = groundFrameAt(dc_.proj, p);
    if (!g.ok) continue;
    lo = std::min(lo, g.metresPerPixel);
    hi = std::max(hi, g.metresPerPixel);
  }
  if (!here.ok || !(here.metresPerPixel > 0) || !(lo > 0) || hi > lo * kScaleSpread) {
    const double spread = lo > 0 && std::isfinite(hi / lo) ? hi / lo - 1 : INFINITY;
    notes.push_back(
        "No scale bar is drawn: the scale of the map varies " +
        (spread < 9.995 ? "by " + number(spread * 100, 0) + "%" : std::string("tenfold or more")) +
        " across it, more than the 10% one bar can stand for (as on world-wide and most polar "
        "maps).");
    return false;
  }
  const bool miles = env_.req.options.choice(GlobalOpt::ScaleUnits) == 1;
  const double unit = miles ? kMetresPerMile : 1000;
  const double length = roundLength(here.metresPerPixel * area.width / 4 / unit);
  if (!(length > 0)) return false;
  barPixels_ = length * unit / here.metresPerPixel;
  barLabel_ = scaleLabel(length, miles);
  return true;
}

void MapFurniture::drawScaleBar(Painter& pen, const Rect& box) const {
  ItemGuard item(pen, ItemInfo{"scalebar", "", ""});
  StateGuard guard(pen);
  backBox(pen, box);
  LabelStyle ls;
  ls.font = font_;
  ls.pad = 0;
  const LaidOutLabel label(barLabel_, ls);
  // On whole pixels, so that its ends are sharp.
  const double x = std::floor(box.x + kPad) + 0.5;
  const double y = std::floor(box.y + (box.height - kBarHeight) / 2) + 0.5;
  const double half = barPixels_ / 2;
  pen.newPath();
  pen.rectangle(x, y, half, kBarHeight);
  pen.setColor(rgbHex(0x000000));
  pen.fill();
  pen.newPath();
  pen.rectangle(x + half, y, half, kBarHeight);
  pen.setColor(rgbHex(0xFFFFFF));
  pen.fill();
  pen.newPath();
  pen.rectangle(x, y, barPixels_, kBarHeight);
  setLineStyle(pen, rgbHex(0x000000), 1, 1);
  pen.stroke();
  label.draw(pen, {x + barPixels_ + kGap + 1, box.y + box.height / 2}, TextPosition::Right);
}

Rect MapFurniture::northArrow(Painter* pen, Point c, Point n) const {
  const Point p{-n.y, n.x};
  auto at = [&](double along, double across) {
    return Point{c.x + n.x * along + p.x * across, c.y + n.y * along + p.y * across};
  };
  const Point tip = at(13, 0), left = at(-11, 6), notch = at(-6, 0), right = at(-11, -6);
  LabelStyle ls;
  ls.font = font_;
  ls.font.bold = true;
  ls.font.sizePt = 9;
  ls.pad = 0;
  const LaidOutLabel letter("N", ls);
  const TextExtent e = letter.extent();
  const Point mid = at(13 + 3 + std::max(e.width, e.height) / 2, 0);
  double x0 = std::min({tip.x, left.x, right.x, mid.x - e.width / 2});
  double x1 = std::max({tip.x, left.x, right.x, mid.x + e.width / 2});
  double y0 = std::min({tip.y, left.y, right.y, mid.y - e.height / 2});
  double y1 = std::max({tip.y, left.y, right.y, mid.y + e.height / 2});
  if (pen) {
    polygon(*pen, {tip, left, notch, right});
    pen->setColor(rgbHex(0xFFFFFF));
    pen->fillPreserve();
    setLineStyle(*pen, rgbHex(0x000000), 1, 1);
    pen->setLineJoin(LineJoin::Round);
    pen->stroke();
    polygon(*pen, {tip, left, notch});
    pen->setColor(rgbHex(0x000000));
    pen->fill();
    letter.draw(*pen, mid, TextPosition::Center);
  }
  return Rect{x0 - c.x, y0 - c.y, x1 - x0, y1 - y0};
}

bool MapFurniture::northAt(Point px, Point* north) const {
  const int k = samples_.nearest(px);
  if (k < 0) return false;
  LonLat at;
  if (!positionAt(dc_.proj, px, samples_.where[static_cast<size_t>(k)], &at)) return false;
  const GroundFrame g = groundFrameAt(dc_.proj, at);
  if (!g.ok) return false;
  *north = g.north;
  return true;
}

void MapFurniture::drawAbove(Painter& pen, std::vector<Rect> taken) {
  const Rect& area = dc_.area;
  // The corners first, the scale bar nearest its corner.
  Rect barBox;
  if (scaleCorner_ != Corner::None) {
    const TextExtent e = measureText(barLabel_, font_);
    const Size2 size{kPad + barPixels_ + kGap + 1 + e.width + kPad,
                     2 * kPad + std::max(kBarHeight, e.height)};
    barBox = cornerPlace(area, scaleCorner_, size, kInset, taken);
    taken.push_back(barBox);
  }
  Rect arrowBox;
  Point arrowAt, north;
  if (arrowCorner_ != Corner::None) {
    // Sized for the direction near its corner, then drawn for the
    // direction where it stands.
    const Rect guess = cornerPlace(area, arrowCorner_, {40, 40}, kInset, taken);
    if (northAt({guess.x + 20, guess.y + 20}, &north)) {
      const Rect b = northArrow(nullptr, {0, 0}, north);
      arrowBox = cornerPlace(area, arrowCorner_, {b.width + 2 * kPad, b.height + 2 * kPad},
                             kInset, taken);
      arrowAt = {arrowBox.x + kPad - b.x, arrowBox.y + kPad - b.y};
      northAt(arrowAt, &north);
      taken.push_back(arrowBox);
    } else {
      notes.push_back("No north arrow is drawn: its corner of the map lies off the globe.");
      arrowCorner_ = Corner::None;
    }
  }
  if (grid_ && (globe_ || !lines_.empty())) {
    ItemGuard item(pen, ItemInfo{"graticule", "", ""});
    StateGuard guard(pen);
    if (globe_) {
      const std::vector<Point> ring = globeRing();
      if (ring.size() >= 3) {
        pen.newPath();
        appendRings(pen, {ring});
        setLineStyle(pen, rgbHex(0x707070), 1, 1);
        pen.stroke();
      }
    }
    drawLabels(pen, taken);
  }
  if (scaleCorner_ != Corner::None) drawScaleBar(pen, barBox);
  if (arrowCorner_ != Corner::None) {
    ItemGuard item(pen, ItemInfo{"northarrow", "", ""});
    StateGuard guard(pen);
    backBox(pen, arrowBox);
    northArrow(&pen, arrowAt, north);
  }
}

}  // namespace qv::render
