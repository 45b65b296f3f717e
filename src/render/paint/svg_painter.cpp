#include "render/paint/svg_painter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <new>
#include <numbers>

#include "common/ascii.h"
#include "render/paint/canvas.h"
#include "render/paint/text.h"

namespace qv::render {
namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
// Coordinates beyond this are held at it (far outside any image; the
// hundredths still fit a 64-bit integer).
constexpr double kMaxCoord = 1e9;

long long hundredths(double v) {
  v = std::clamp(v, -kMaxCoord, kMaxCoord);
  return std::llround(v * 100);
}

void appendInt(std::string& out, long long v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// A number in units of 10^-decimals, with no exponent, no trailing zeros,
// no "-0" and no leading "0" before the point.
void appendScaled(std::string& out, long long v, int decimals) {
  static constexpr long long kPow[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  const long long unit = kPow[decimals];
  if (v < 0) {
    out += '-';
    v = -v;
  }
  const long long whole = v / unit;
  long long frac = v % unit;
  if (whole != 0 || frac == 0) appendInt(out, whole);
  if (frac == 0) return;
  out += '.';
  int digits = decimals;
  while (frac % 10 == 0) {
    frac /= 10;
    --digits;
  }
  char buf[8];
  for (int i = digits - 1; i >= 0; --i) {
    buf[i] = char('0' + frac % 10);
    frac /= 10;
  }
  out.append(buf, size_t(digits));
}

// A finite number rounded to `decimals` places (callers check finiteness).
void appendNum(std::string& out, double v, int decimals = 2) {
  static constexpr double kPow[] = {1, 10, 100, 1000, 10000, 100000, 1000000};
  v = std::clamp(v, -kMaxCoord, kMaxCoord);
  appendScaled(out, std::llround(v * kPow[decimals]), decimals);
}

void appendAttr(std::string& out, const char* name, double v, int decimals = 2) {
  out += ' ';
  out += name;
  out += "=\"";
  appendNum(out, v, decimals);
  out += '"';
}

// An affine transform attribute: name="matrix(a b c d e f)".
template <class Matrix>
void appendMatrix(std::string& out, const char* name, const Matrix& m) {
  out += ' ';
  out += name;
  out += "=\"matrix(";
  for (double v : {m.xx, m.yx, m.xy, m.yy}) {
    appendNum(out, std::isfinite(v) ? v : 0, 6);
    out += ' ';
  }
  appendNum(out, std::isfinite(m.x0) ? m.x0 : 0);
  out += ' ';
  appendNum(out, std::isfinite(m.y0) ? m.y0 : 0);
  out += ")\"";
}

double unit(double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; }

std::string hexColor(const Rgba& c) {
  static const char* digits = "0123456789abcdef";
  std::string s = "#";
  for (double part : {c.r, c.g, c.b}) {
    int v = int(std::lround(unit(part) * 255));
    s += digits[v >> 4];
    s += digits[v & 15];
  }
  return s;
}

// The family list of a text: the family as resolved, then a generic one.
std::string fontFamilyList(const std::string& family) {
  const std::string low = lower(family);
  const char* generic = low.find("mono") != std::string::npos ? "monospace"
                        : low.find("serif") != std::string::npos &&
                                  low.find("sans") == std::string::npos
                            ? "serif"
                            : "sans-serif";
  // Words that are CSS identifiers need no quotes ("DejaVu Sans"); any
  // other name, or one that is a CSS keyword, is quoted.
  bool plain = !family.empty() && family.front() != ' ' && family.back() != ' ' &&
               family.find("  ") == std::string::npos;
  for (size_t i = 0; plain && i < family.size(); ++i) {
    const char c = family[i];
    const bool wordStart = i == 0 || family[i - 1] == ' ';
    plain = c == ' ' || isAlpha(c) || c == '_' || (!wordStart && (isDigit(c) || c == '-'));
  }
  for (const char* keyword : {"serif", "sans-serif", "monospace", "cursive", "fantasy", "system-ui",
                              "inherit", "initial", "unset", "default", "revert"})
    if (low == keyword) plain = false;
  std::string css;
  if (plain) {
    css = family;
  } else {
    css = "'";
    for (char c : family) {
      if (c == '\'' || c == '\\') css += '\\';
      css += c;
    }
    css += '\'';
  }
  css += ',';
  css += generic;
  return css;
}

// True when XML's default white-space handling would change the text.
bool needsPreserve(std::string_view s) {
  if (s.empty()) return false;
  if (s.front() == ' ' || s.back() == ' ') return true;
  return s.find("  ") != std::string_view::npos || s.find('\t') != std::string_view::npos;
}

void appendBase64(std::string& out, const std::vector<unsigned char>& data) {
  static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  out.reserve(out.size() + (data.size() + 2) / 3 * 4 + 64);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned v = unsigned(data[i]) << 16 | unsigned(data[i + 1]) << 8 | data[i + 2];
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i < data.size()) {
    const bool two = i + 1 < data.size();
    const unsigned v = unsigned(data[i]) << 16 | (two ? unsigned(data[i + 1]) << 8 : 0u);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += two ? table[(v >> 6) & 63] : '=';
    out += '=';
  }
}

bool near(double a, double b, double scale) { return std::fabs(a - b) <= 1e-9 * scale; }

}  // namespace

void appendXmlEscaped(std::string& out, std::string_view text, bool attribute) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        case '\n': out += attribute ? "&#10;" : "\n"; break;
        case '\t': out += attribute ? "&#9;" : "\t"; break;
        case '\r': out += "&#13;"; break;
        default:
          if (c < 0x20) out += kReplacement;  // XML cannot hold other controls
          else out += char(c);
      }
      ++i;
      continue;
    }
    // A UTF-8 sequence: its length, smallest code point and the range of
    // its second byte (which rules out overlong forms and surrogates).
    size_t len = 0;
    unsigned cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      const unsigned char b = s[i + k];
      if (k == 1 ? (b < lo || b > hi) : (b & 0xC0) != 0x80) ok = false;
      else cp = cp << 6 | (b & 0x3F);
    }
    if (!ok) {
      out += kReplacement;
      ++i;
      continue;
    }
    if (cp == 0xFFFE || cp == 0xFFFF) out += kReplacement;  // not characters in XML
    else out.append(text.substr(i, len));
    i += len;
  }
}

std::string safeLinkUrl(std::string_view url) {
  // Browsers drop tabs and line breaks anywhere in a URL and blanks and
  // controls at its ends; judge the scheme of what they would follow.
  std::string u;
  for (char c : url)
    if (c != '\t' && c != '\n' && c != '\r') u += c;
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
  size_t b = 0, e = u.size();
  while (b < e && isBlank(u[b])) ++b;
  while (e > b && isBlank(u[e - 1])) --e;
  u = u.substr(b, e - b);
  if (u.empty()) return "";
  const size_t colon = u.find(':');
  const size_t stop = u.find_first_of("/?#");
  if (colon == std::string::npos || (stop != std::string::npos && stop < colon)) return u;
  const std::string scheme = lower(u.substr(0, colon));
  if (scheme == "http" || scheme == "https" || scheme == "mailto") return u;
  return "";
}

SvgPainter::SvgPainter(double width, double height, double outputScale)
    : width_(std::isfinite(width) && width > 0 ? width : 0),
      height_(std::isfinite(height) && height > 0 ? height : 0),
      outputScale_(std::isfinite(outputScale) && outputScale > 0 ? outputScale : 1) {
  State s;
  s.clipBox = {0, 0, width_, height_};
  stack_.push_back(std::move(s));
}

// --- The document ------------------------------------------------------------

void SvgPainter::embed(std::string_view svg, double x, double y) {
  live();
  flushPending();
  syncClips();
  constexpr std::string_view kOpen = "<svg";
  if (svg.substr(0, kOpen.size()) != kOpen) return;
  body_ += kOpen;
  appendAttr(body_, "x", x);
  appendAttr(body_, "y", y);
  body_.append(svg.substr(kOpen.size()));
  if (body_.back() != '\n') body_ += '\n';
}

std::string SvgPainter::element() const {
  live();
  std::string out;
  appendElement(out);
  return out;
}

std::string SvgPainter::document() const {
  live();
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  appendElement(out);
  return out;
}

void SvgPainter::appendElement(std::string& out) const {
  // A fill or stroke waiting for its partner is written as it stands.
  std::string pending;
  if (pendingFill_ || pendingStroke_) writeShape(pending, pendingFill_, pendingStroke_, false);
  out.reserve(out.size() + body_.size() + defs_.size() + pending.size() + 512);
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\"";
  appendAttr(out, "width", width_ * outputScale_);
  appendAttr(out, "height", height_ * outputScale_);
  out += " viewBox=\"0 0 ";
  appendNum(out, width_);
  out += ' ';
  appendNum(out, height_);
  // Cairo's defaults where SVG's differ; shapes set fill when they fill.
  out += "\" fill=\"none\" stroke-miterlimit=\"10\">\n";
  if (!defs_.empty()) {
    out += "<defs>\n";
    out += defs_;
    out += "</defs>\n";
  }
  out += body_;
  out += pending;
  for (auto it = open_.rbegin(); it != open_.rend(); ++it) out += it->close;
  if (!open_.empty()) out += '\n';
  out += "</svg>\n";
}

// --- State -----------------------------------------------------------------

void SvgPainter::save() { stack_.push_back(stack_.back()); }

void SvgPainter::restore() {
  if (stack_.size() < 2) return;
  try {
    if (!failed_) flushPending();
  } catch (const std::bad_alloc&) {
    giveUp();
  }
  stack_.pop_back();
}

void SvgPainter::giveUp() noexcept {
  failed_ = true;
  pendingFill_ = pendingStroke_ = false;
  itemActive_ = itemOpen_ = false;
  std::string().swap(body_);
  std::string().swap(defs_);
  std::string().swap(d_);
}

void SvgPainter::live() const {
  if (failed_) throw std::bad_alloc();
}

void SvgPainter::translate(double dx, double dy) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return;
  Matrix& m = stack_.back().m;
  m.x0 += m.xx * dx + m.xy * dy;
  m.y0 += m.yx * dx + m.yy * dy;
}

void SvgPainter::rotate(double radians) {
  if (!std::isfinite(radians)) return;
  Matrix& m = stack_.back().m;
  const double c = std::cos(radians), s = std::sin(radians);
  const Matrix o = m;
  m.xx = o.xx * c + o.xy * s;
  m.yx = o.yx * c + o.yy * s;
  m.xy = -o.xx * s + o.xy * c;
  m.yy = -o.yx * s + o.yy * c;
}

void SvgPainter::scale(double sx, double sy) {
  if (!std::isfinite(sx) || !std::isfinite(sy)) return;
  Matrix& m = stack_.back().m;
  m.xx *= sx;
  m.yx *= sx;
  m.xy *= sy;
  m.yy *= sy;
}

void SvgPainter::clip() {
  live();
  flushPending();
  State& s = stack_.back();
  if (!pathValid_ || pathBoxEmpty_) {
    s.clipEmpty = true;
  } else {
    const int id = ++nextId_;
    defs_ += "<clipPath id=\"q-c";
    appendInt(defs_, id);
    defs_ += "\"><path d=\"";
    defs_ += d_;
    defs_ += '"';
    if (s.rule == FillRule::EvenOdd) defs_ += " clip-rule=\"evenodd\"";
    defs_ += "/></clipPath>\n";
    s.clips.push_back(id);
    s.clipBox.x0 = std::max(s.clipBox.x0, pathBox_.x0);
    s.clipBox.y0 = std::max(s.clipBox.y0, pathBox_.y0);
    s.clipBox.x1 = std::min(s.clipBox.x1, pathBox_.x1);
    s.clipBox.y1 = std::min(s.clipBox.y1, pathBox_.y1);
  }
  clearPath();
}

void SvgPainter::setColor(const Rgba& c) {
  State& s = stack_.back();
  s.source = hexColor(c);
  s.alpha = unit(c.a);
}

void SvgPainter::setLinearGradient(Point from, Point to, const std::vector<GradientStop>& stops) {
  live();
  State& s = stack_.back();
  if (stops.empty() || !std::isfinite(from.x) || !std::isfinite(from.y) || !std::isfinite(to.x) ||
      !std::isfinite(to.y)) {
    s.source = "none";
    s.alpha = 1;
    return;
  }
  const Matrix& m = s.m;
  const int id = ++nextId_;
  defs_ += "<linearGradient id=\"q-g";
  appendInt(defs_, id);
  defs_ += "\" gradientUnits=\"userSpaceOnUse\"";
  // Under a map that keeps right angles the endpoints are moved; otherwise
  // the gradient takes the transform, so that its bands stay as drawn.
  const double sc = std::fabs(m.xx) + std::fabs(m.yx) + 1e-300;
  const bool conformal = near(m.xx, m.yy, sc) && near(m.xy, -m.yx, sc);
  const Point a = conformal ? m.apply(from.x, from.y) : from;
  const Point b = conformal ? m.apply(to.x, to.y) : to;
  appendAttr(defs_, "x1", a.x);
  appendAttr(defs_, "y1", a.y);
  appendAttr(defs_, "x2", b.x);
  appendAttr(defs_, "y2", b.y);
  if (!conformal) {
    appendMatrix(defs_, "gradientTransform", m);
  }
  defs_ += '>';
  for (const GradientStop& st : stops) {
    defs_ += "<stop";
    appendAttr(defs_, "offset", unit(st.offset), 4);
    defs_ += " stop-color=\"" + hexColor(st.color) + '"';
    if (unit(st.color.a) < 1) appendAttr(defs_, "stop-opacity", unit(st.color.a));
    defs_ += "/>";
  }
  defs_ += "</linearGradient>\n";
  s.source = "url(#q-g" + std::to_string(id) + ')';
  s.alpha = 1;
}

void SvgPainter::setLineWidth(double width) {
  if (std::isfinite(width) && width >= 0) stack_.back().lineWidth = width;
}

void SvgPainter::setDash(const std::vector<double>& dashes) {
  double sum = 0;
  bool ok = true;
  for (double d : dashes) {
    if (!std::isfinite(d) || d < 0) ok = false;
    else sum += d;
  }
  // A pattern with a negative, non-finite or only zero lengths draws solid.
  if (!ok || sum <= 0) stack_.back().dashes.clear();
  else stack_.back().dashes = dashes;
}

void SvgPainter::setLineCap(LineCap cap) { stack_.back().cap = cap; }
void SvgPainter::setLineJoin(LineJoin join) { stack_.back().join = join; }
void SvgPainter::setFillRule(FillRule rule) { stack_.back().rule = rule; }

// --- The path ----------------------------------------------------------------

// A command letter, left out when it repeats the one before (SVG repeats
// the last command for more numbers).
void SvgPainter::pathCommand(char c) {
  if (lastCommand_ != c) d_ += c;
  lastCommand_ = c;
}

void SvgPainter::clearPath() {
  d_.clear();
  lastCommand_ = 0;
  pathValid_ = true;
  hasPoint_ = false;
  subpathHasSegment_ = false;
  pathBoxEmpty_ = true;
  ++pathVersion_;
}

// Adds a point in viewBox space to the path: 'M' starts a subpath there, 'L'
// draws a line to it, 'C' is a curve's point (the caller writes three).
void SvgPainter::pathPoint(Point p, char command) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
    pathValid_ = false;
    return;
  }
  const long long qx = hundredths(p.x), qy = hundredths(p.y);
  const double bx = double(qx) / 100, by = double(qy) / 100;
  if (pathBoxEmpty_) {
    pathBox_ = {bx, by, bx, by};
    pathBoxEmpty_ = false;
  } else {
    pathBox_.x0 = std::min(pathBox_.x0, bx);
    pathBox_.y0 = std::min(pathBox_.y0, by);
    pathBox_.x1 = std::max(pathBox_.x1, bx);
    pathBox_.y1 = std::max(pathBox_.y1, by);
  }
  auto number = [this](long long v) {
    const char last = d_.empty() ? 'M' : d_.back();
    if (v >= 0 && (isDigit(last) || last == '.')) d_ += ' ';
    appendScaled(d_, v, 2);
  };
  if (command == 'M') {
    d_ += 'M';
    lastCommand_ = 'M';
    number(qx);
    number(qy);
    curX_ = startX_ = qx;
    curY_ = startY_ = qy;
    subpathHasSegment_ = false;
    hasPoint_ = true;
    return;
  }
  if (command == 'L') {
    const long long dx = qx - curX_, dy = qy - curY_;
    // A step that moves nothing at this precision adds nothing, unless
    // it is all the subpath has (a dot with round caps).
    if (dx == 0 && dy == 0 && subpathHasSegment_) return;
    if (dy == 0 && dx != 0) {
      pathCommand('h');
      number(dx);
    } else if (dx == 0 && dy != 0) {
      pathCommand('v');
      number(dy);
    } else {
      pathCommand('l');
      number(dx);
      number(dy);
    }
  } else {  // one of a curve's three points, relative to the segment's start
    number(qx - curX_);
    number(qy - curY_);
    return;
  }
  curX_ = qx;
  curY_ = qy;
  subpathHasSegment_ = true;
}

void SvgPainter::userPoint(double x, double y, char command) {
  pathPoint(stack_.back().m.apply(x, y), command);
}

void SvgPainter::newPath() {
  flushPending();
  clearPath();
}

void SvgPainter::newSubPath() {
  flushPending();
  hasPoint_ = false;
  ++pathVersion_;
}

bool SvgPainter::changePath(std::initializer_list<double> coordinates) {
  flushPending();
  ++pathVersion_;
  for (double v : coordinates)
    if (!std::isfinite(v)) {
      pathValid_ = false;
      return false;
    }
  return true;
}

void SvgPainter::moveTo(double x, double y) {
  if (changePath({x, y})) userPoint(x, y, 'M');
}

void SvgPainter::lineTo(double x, double y) {
  if (changePath({x, y})) userPoint(x, y, hasPoint_ ? 'L' : 'M');
}

void SvgPainter::curveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
  if (!changePath({x1, y1, x2, y2, x3, y3})) return;
  const Matrix& m = stack_.back().m;
  if (!hasPoint_) userPoint(x1, y1, 'M');
  const Point p1 = m.apply(x1, y1), p2 = m.apply(x2, y2), p3 = m.apply(x3, y3);
  if (!std::isfinite(p1.x + p1.y + p2.x + p2.y + p3.x + p3.y)) {
    pathValid_ = false;
    return;
  }
  curveSegment(p1, p2, p3);
}

void SvgPainter::curveSegment(Point p1, Point p2, Point p3) {
  pathCommand('c');
  pathPoint(p1, 'C');
  pathPoint(p2, 'C');
  pathPoint(p3, 'C');
  curX_ = hundredths(p3.x);
  curY_ = hundredths(p3.y);
  subpathHasSegment_ = true;
}

void SvgPainter::arcPath(double cx, double cy, double r, double a0, double a1, bool negative) {
  if (!changePath({cx, cy, r, a0, a1})) return;
  if (r <= 0) {  // as Cairo does: a line to the center
    lineTo(cx, cy);
    return;
  }
  // The sweep as Cairo takes it: the end angle moved by whole turns to lie
  // after (before, for arcNegative) the start; more than two turns are
  // drawn as one or two, by parity, which looks the same.
  double sweep = negative ? a0 - a1 : a1 - a0;
  if (sweep < 0) sweep = std::fmod(sweep, kTwoPi) + kTwoPi;
  if (sweep >= 2 * kTwoPi) sweep = std::fmod(sweep, 2 * kTwoPi) + 2 * kTwoPi;
  const double dir = negative ? -1 : 1;
  userPoint(cx + r * std::cos(a0), cy + r * std::sin(a0), hasPoint_ ? 'L' : 'M');
  if (sweep <= 0) return;
  const int segments = std::max(1, int(std::ceil(sweep / (std::numbers::pi / 2) - 1e-9)));
  const double step = dir * sweep / segments;
  const double k = 4.0 / 3.0 * std::tan(step / 4) * r;
  double t0 = a0;
  for (int i = 0; i < segments; ++i) {
    const double t1 = i + 1 == segments ? a0 + dir * sweep : t0 + step;
    const double c0 = std::cos(t0), s0 = std::sin(t0), c1 = std::cos(t1), s1 = std::sin(t1);
    const Matrix& m = stack_.back().m;
    const Point p1 = m.apply(cx + r * c0 - k * s0, cy + r * s0 + k * c0);
    const Point p2 = m.apply(cx + r * c1 + k * s1, cy + r * s1 - k * c1);
    const Point p3 = m.apply(cx + r * c1, cy + r * s1);
    curveSegment(p1, p2, p3);
    t0 = t1;
  }
}

void SvgPainter::arc(double cx, double cy, double r, double a0, double a1) {
  arcPath(cx, cy, r, a0, a1, false);
}

void SvgPainter::arcNegative(double cx, double cy, double r, double a0, double a1) {
  arcPath(cx, cy, r, a0, a1, true);
}

void SvgPainter::closePath() {
  flushPending();
  ++pathVersion_;
  if (!hasPoint_) return;
  d_ += 'z';
  lastCommand_ = 'z';
  curX_ = startX_;
  curY_ = startY_;
  subpathHasSegment_ = false;
}

void SvgPainter::rectangle(double x, double y, double w, double h) {
  moveTo(x, y);
  lineTo(x + w, y);
  lineTo(x + w, y + h);
  lineTo(x, y + h);
  closePath();
}

// --- Drawing -------------------------------------------------------------------

bool SvgPainter::drawable() const { return !stack_.back().clipEmpty; }

void SvgPainter::appendPaint(std::string& out, const char* what, const State& s) const {
  out += ' ';
  out += what;
  out += "=\"";
  out += s.source;
  out += '"';
  if (s.alpha < 1) {
    out += ' ';
    out += what;
    out += "-opacity=\"";
    appendNum(out, s.alpha);
    out += '"';
  }
}

void SvgPainter::appendStroke(std::string& out, const State& s) const {
  appendPaint(out, "stroke", s);
  // Cairo strokes in the user space of the moment of stroking.
  const double k = std::sqrt(std::fabs(s.m.xx * s.m.yy - s.m.xy * s.m.yx));
  appendAttr(out, "stroke-width", std::isfinite(k) ? s.lineWidth * k : s.lineWidth);
  if (!s.dashes.empty() && std::isfinite(k)) {
    out += " stroke-dasharray=\"";
    for (size_t i = 0; i < s.dashes.size(); ++i) {
      if (i) out += ' ';
      appendNum(out, s.dashes[i] * k);
    }
    out += '"';
  }
  if (s.cap == LineCap::Round) out += " stroke-linecap=\"round\"";
  if (s.cap == LineCap::Square) out += " stroke-linecap=\"square\"";
  if (s.join == LineJoin::Round) out += " stroke-linejoin=\"round\"";
  if (s.join == LineJoin::Bevel) out += " stroke-linejoin=\"bevel\"";
}

// Writes the path as one element: filled with the pending fill's state (or
// the current one) and stroked with the current state (or the pending
// stroke's), the stroke beneath when `strokeFirst`.
void SvgPainter::writeShape(std::string& out, bool doFill, bool doStroke, bool strokeFirst) const {
  if (!pathValid_ || pathBoxEmpty_ || d_.empty()) return;
  out += "<path d=\"";
  out += d_;
  out += '"';
  if (doFill) {
    const State& f = pendingFill_ ? pendingState_ : stack_.back();
    appendPaint(out, "fill", f);
    if (f.rule == FillRule::EvenOdd) out += " fill-rule=\"evenodd\"";
  }
  if (doStroke) appendStroke(out, pendingStroke_ ? pendingState_ : stack_.back());
  if (doFill && doStroke && strokeFirst) out += " paint-order=\"stroke\"";
  out += "/>\n";
}

void SvgPainter::flushPending() {
  if (!pendingFill_ && !pendingStroke_) return;
  writeShape(body_, pendingFill_, pendingStroke_, false);
  pendingFill_ = pendingStroke_ = false;
}

void SvgPainter::fillPreserve() { paintPreserved(true); }

void SvgPainter::strokePreserve() { paintPreserved(false); }

void SvgPainter::paintPreserved(bool fill) {
  live();
  if (!pathValid_ || pathBoxEmpty_) return;
  bool& other = fill ? pendingStroke_ : pendingFill_;
  if (other && pendingVersion_ == pathVersion_) {
    // The other paint of the same path is waiting: one element with both
    // (a stroke drawn before its fill is painted beneath it).
    writeShape(body_, true, true, fill);
    other = false;
    return;
  }
  flushPending();
  if (!drawable()) return;
  syncClips();
  (fill ? pendingFill_ : pendingStroke_) = true;
  pendingVersion_ = pathVersion_;
  pendingState_ = stack_.back();
}

void SvgPainter::fill() {
  fillPreserve();
  flushPending();
  clearPath();
}

void SvgPainter::stroke() {
  strokePreserve();
  flushPending();
  clearPath();
}

void SvgPainter::paint() {
  live();
  flushPending();
  const State& s = stack_.back();
  const Box& b = s.clipBox;
  if (!drawable() || !(b.x1 > b.x0 && b.y1 > b.y0)) return;
  syncClips();
  body_ += "<rect";
  appendAttr(body_, "x", b.x0);
  appendAttr(body_, "y", b.y0);
  appendAttr(body_, "width", b.x1 - b.x0);
  appendAttr(body_, "height", b.y1 - b.y0);
  appendPaint(body_, "fill", s);
  body_ += "/>\n";
}

void SvgPainter::drawImage(const Canvas& image, const Rect& dest, bool smooth) {
  live();
  flushPending();
  if (!drawable() || image.width() <= 0 || image.height() <= 0) return;
  if (!std::isfinite(dest.x) || !std::isfinite(dest.y) || !std::isfinite(dest.width) ||
      !std::isfinite(dest.height) || dest.empty())
    return;
  const Matrix& m = stack_.back().m;
  const bool upright = m.xy == 0 && m.yx == 0 && m.xx > 0 && m.yy > 0;
  const Point at = upright ? m.apply(dest.x, dest.y) : Point{dest.x, dest.y};
  const double w = upright ? dest.width * m.xx : dest.width;
  const double h = upright ? dest.height * m.yy : dest.height;
  if (!std::isfinite(at.x + at.y + w + h)) return;
  const std::vector<unsigned char> png = image.pngBytes();
  syncClips();
  body_ += "<image";
  appendAttr(body_, "x", at.x);
  appendAttr(body_, "y", at.y);
  appendAttr(body_, "width", w);
  appendAttr(body_, "height", h);
  body_ += " preserveAspectRatio=\"none\"";
  if (!smooth) body_ += " image-rendering=\"pixelated\"";
  if (!upright) {
    appendMatrix(body_, "transform", m);
  }
  body_ += " href=\"data:image/png;base64,";
  appendBase64(body_, png);
  body_ += "\"/>\n";
}

void SvgPainter::drawPicture(const PictureLayer& layer) {
  live();
  flushPending();
  if (!drawable() || layer.png.empty() || layer.box.empty()) return;
  syncClips();
  body_ += "<g class=\"marks\" data-kind=\"";
  appendXmlEscaped(body_, layer.kind, true);
  body_ += "\" data-marks=\"";
  appendInt(body_, static_cast<long long>(layer.marks));
  body_ += '"';
  if (!layer.index.empty()) {
    body_ += " data-index=\"";
    appendBase64(body_, layer.index);
    body_ += '"';
  }
  body_ += "><image";
  appendAttr(body_, "x", layer.box.x);
  appendAttr(body_, "y", layer.box.y);
  appendAttr(body_, "width", layer.box.width);
  appendAttr(body_, "height", layer.box.height);
  body_ += " preserveAspectRatio=\"none\" pointer-events=\"none\" href=\"data:image/png;base64,";
  appendBase64(body_, layer.png);
  body_ += "\"/></g>\n";
}

void SvgPainter::drawText(const TextLayout& text, double x, double y, const Rgba& color,
                          double haloWidth, const Rgba& halo) {
  live();
  flushPending();
  if (!drawable() || !std::isfinite(x) || !std::isfinite(y)) return;
  const std::vector<TextLayout::Line> lines = text.lines();
  const Matrix& m = stack_.back().m;
  // How the text is placed: straight, scaled evenly (the scale goes into
  // the font size), turned about its own start (rotate), or under any
  // other transform (matrix, coordinates left in user space).
  const double sc = std::hypot(m.xx, m.yx);
  const bool conformal = sc > 0 && std::isfinite(sc) && near(m.xx, m.yy, sc) && near(m.xy, -m.yx, sc);
  const bool straight = conformal && near(m.yx, 0, sc) && m.xx > 0;
  const double k = conformal ? sc : 1;
  const double angle = std::atan2(m.yx, m.xx) * 180 / std::numbers::pi;

  // What every line shares.
  std::string common;
  common += " font-family=\"";
  appendXmlEscaped(common, fontFamilyList(text.family()), true);
  common += '"';
  const double sizePx = text.sizePx();
  common += " font-size=\"";
  appendNum(common, std::isfinite(sizePx) ? sizePx * k : 12);
  common += '"';
  if (text.font().bold) common += " font-weight=\"bold\"";
  if (text.font().italic) common += " font-style=\"italic\"";
  common += " fill=\"" + hexColor(color) + '"';
  if (unit(color.a) < 1) appendAttr(common, "fill-opacity", unit(color.a));
  if (haloWidth > 0 && std::isfinite(haloWidth)) {
    common += " stroke=\"" + hexColor(halo) + '"';
    if (unit(halo.a) < 1) appendAttr(common, "stroke-opacity", unit(halo.a));
    appendAttr(common, "stroke-width", haloWidth * k);
    common += " stroke-linejoin=\"round\" paint-order=\"stroke\"";
  }

  bool synced = false;
  for (const TextLayout::Line& line : lines) {
    if (line.text.empty()) continue;
    const double ux = x + line.x, uy = y + line.baseline;
    const Point at = conformal ? m.apply(ux, uy) : Point{ux, uy};
    if (!std::isfinite(at.x) || !std::isfinite(at.y)) continue;
    if (!synced) {
      syncClips();
      synced = true;
    }
    body_ += "<text";
    appendAttr(body_, "x", at.x);
    appendAttr(body_, "y", at.y);
    body_ += common;
    if (std::isfinite(line.width) && line.width > 0) {
      appendAttr(body_, "textLength", line.width * k);
      body_ += " lengthAdjust=\"spacingAndGlyphs\"";
    }
    if (needsPreserve(line.text)) body_ += " xml:space=\"preserve\" style=\"white-space:pre\"";
    if (conformal && !straight) {
      body_ += " transform=\"rotate(";
      appendNum(body_, angle);
      body_ += ' ';
      appendNum(body_, at.x);
      body_ += ' ';
      appendNum(body_, at.y);
      body_ += ")\"";
    } else if (!conformal) {
      appendMatrix(body_, "transform", m);
    }
    body_ += '>';
    appendXmlEscaped(body_, line.text, false);
    body_ += "</text>\n";
  }
}

// --- Clips and marks -------------------------------------------------------------

void SvgPainter::syncClips() {
  const std::vector<int>& want = stack_.back().clips;
  // The clip groups open now, in order, and where each stands in open_.
  size_t matched = 0, cut = open_.size();
  for (size_t i = 0; i < open_.size(); ++i) {
    if (open_[i].clip == 0) continue;
    if (matched < want.size() && want[matched] == open_[i].clip) {
      ++matched;
    } else {
      cut = i;
      break;
    }
  }
  // Close from the first group that is not wanted (and whatever lies
  // above it, the mark too when it was opened inside that group).
  while (open_.size() > cut) {
    if (open_.back().clip == 0) itemOpen_ = false;
    body_ += open_.back().close;
    body_ += '\n';
    open_.pop_back();
  }
  for (size_t i = matched; i < want.size(); ++i) {
    body_ += "<g clip-path=\"url(#q-c";
    appendInt(body_, want[i]);
    body_ += ")\">\n";
    open_.push_back({want[i], "</g>"});
  }
  if (itemActive_ && !itemOpen_) openMark();
}

void SvgPainter::openMark() {
  markStart_ = body_.size();
  const std::string url = safeLinkUrl(item_.url);
  if (!url.empty()) {
    body_ += "<a href=\"";
    appendXmlEscaped(body_, url, true);
    body_ += "\" target=\"_blank\" rel=\"noopener\">";
  }
  body_ += "<g";
  if (!item_.kind.empty()) {
    body_ += " class=\"";
    appendXmlEscaped(body_, item_.kind, true);
    body_ += '"';
  }
  if (!item_.tip.empty()) {
    body_ += " data-tip=\"";
    appendXmlEscaped(body_, item_.tip, true);
    body_ += "\"><title>";
    appendXmlEscaped(body_, item_.tip, false);
    body_ += "</title>\n";
  } else {
    body_ += ">\n";
  }
  open_.push_back({0, url.empty() ? "</g>" : "</g></a>"});
  markEnd_ = body_.size();
  itemOpen_ = true;
}

void SvgPainter::beginItem(const ItemInfo& info) {
  live();
  if (itemActive_) endItem();
  flushPending();
  item_ = info;
  itemActive_ = true;
  syncClips();
}

void SvgPainter::endItem() {
  if (!itemActive_ || failed_) return;
  try {
    flushPending();
    itemActive_ = false;
    if (!itemOpen_) return;
    itemOpen_ = false;
    if (!open_.empty() && open_.back().clip == 0 && body_.size() == markEnd_) {
      // Nothing was drawn in the mark: it leaves no element.
      body_.resize(markStart_);
      open_.pop_back();
      return;
    }
    while (!open_.empty()) {
      const Open o = open_.back();
      open_.pop_back();
      body_ += o.close;
      body_ += '\n';
      if (o.clip == 0) break;
    }
  } catch (const std::bad_alloc&) {
    giveUp();
  }
}

}  // namespace qv::render
