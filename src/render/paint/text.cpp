#include "render/paint/text.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "common/ascii.h"
#include "common/utf8.h"
#include "render/geo/geometry.h"
#include "render/graph/data.h"
#include "render/paint/canvas.h"
#include "render/paint/painter.h"

namespace qv::render {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Length in bytes of the UTF-8 character starting at s[i] (1 for a bad byte,
// so that counting always moves on).
size_t charLen(std::string_view s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
  return std::min(n, s.size() - i);
}

size_t countChars(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i < s.size(); i += charLen(s, i)) ++n;
  return n;
}

bool isSplitChar(std::string_view ch, std::string_view set) {
  for (size_t i = 0; i < set.size(); i += charLen(set, i))
    if (set.substr(i, charLen(set, i)) == ch) return true;
  return false;
}

// Text and its split characters: pieces[k] is followed by seps[k] ("" after
// the last piece).
void cutAtSplitChars(std::string_view text, std::string_view set, std::vector<std::string>& pieces,
                     std::vector<std::string>& seps) {
  std::string cur;
  for (size_t i = 0; i < text.size();) {
    size_t n = charLen(text, i);
    std::string_view ch = text.substr(i, n);
    if (isSplitChar(ch, set)) {
      pieces.push_back(cur);
      seps.emplace_back(ch);
      cur.clear();
    } else {
      cur.append(ch);
    }
    i += n;
  }
  pieces.push_back(cur);
  seps.emplace_back();
}

std::string joinLines(const std::vector<std::string>& lines) {
  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += lines[i];
  }
  return out;
}

// The Pango context every text is laid out in: 96 pixels per inch, no
// hinting, grey antialiasing; one per thread (Pango objects are not shared
// between threads).
PangoContext* layoutContext() {
  struct Holder {
    PangoContext* ctx = nullptr;
    Holder() {
      ctx = pango_font_map_create_context(pango_cairo_font_map_get_default());
      pango_cairo_context_set_resolution(ctx, 96);
      cairo_font_options_t* fo = cairo_font_options_create();
      cairo_font_options_set_hint_style(fo, CAIRO_HINT_STYLE_NONE);
      cairo_font_options_set_hint_metrics(fo, CAIRO_HINT_METRICS_OFF);
      cairo_font_options_set_antialias(fo, CAIRO_ANTIALIAS_GRAY);
      pango_cairo_context_set_font_options(ctx, fo);
      cairo_font_options_destroy(fo);
    }
    ~Holder() { g_object_unref(ctx); }
  };
  thread_local Holder holder;
  return holder.ctx;
}

// The text as Pango and Cairo take it: bad bytes and noncharacters
// (U+FDD0..U+FDEF and the last two code points of every plane) become
// replacement characters. Cairo's PDF surface refuses a noncharacter in the
// text it keeps beside the glyphs, and XML cannot hold U+FFFE and U+FFFF:
// every output shows the same U+FFFD.
std::string drawableText(std::string_view text) {
  gchar* made = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string out;
  out.reserve(text.size());
  for (const gchar* c = made; *c; c = g_utf8_next_char(c)) {
    const gunichar cp = g_utf8_get_char(c);
    if ((cp >= 0xFDD0 && cp <= 0xFDEF) || (cp & 0xFFFE) == 0xFFFE)
      out += "\xEF\xBF\xBD";
    else
      out.append(c, g_utf8_next_char(c) - c);
  }
  g_free(made);
  return out;
}

}  // namespace

void startFontSetup() { (void)pango_cairo_font_map_get_default(); }

void warmUpText() {
  // The default font matched, shaped and a few of its glyphs rendered: the
  // font set, the face and the glyph cache a first label would make.
  TextLayout text("Map 0123456789", FontStyle{}, Justify::Left);
  (void)text.extent();
  Canvas scratch(128, 16);
  pango_cairo_show_layout(scratch.cr(), text.pango());
}

TextLayout::TextLayout(std::string_view text, const FontStyle& font, Justify justify)
    : font_(font) {
  layout_ = pango_layout_new(layoutContext());
  PangoFontDescription* fd = pango_font_description_new();
  pango_font_description_set_family(fd, font.family.empty() ? "Sans" : font.family.c_str());
  double px = std::isfinite(font.sizePt) && font.sizePt > 0 ? font.sizePt * kPxPerPt : 12;
  sizePx_ = std::min(px, 2000.0);
  pango_font_description_set_absolute_size(fd, sizePx_ * PANGO_SCALE);
  pango_font_description_set_weight(fd, font.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_style(fd, font.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
  pango_layout_set_font_description(layout_, fd);
  pango_font_description_free(fd);

  pango_layout_set_alignment(layout_, justify == Justify::Left    ? PANGO_ALIGN_LEFT
                                      : justify == Justify::Right ? PANGO_ALIGN_RIGHT
                                                                  : PANGO_ALIGN_CENTER);
  // A text is laid out up to kMaxDisplayBytes: a huge value would cost
  // gigabytes of layout for nothing anyone can read.
  const std::string valid = drawableText(qv::cutUtf8(text, kMaxDisplayBytes));
  pango_layout_set_text(layout_, valid.c_str(), static_cast<int>(valid.size()));
}

TextLayout::~TextLayout() {
  if (layout_) g_object_unref(layout_);
}

TextExtent TextLayout::extent() const {
  PangoRectangle logical;
  pango_layout_get_extents(layout_, nullptr, &logical);
  TextExtent e;
  e.width = double(logical.width) / PANGO_SCALE;
  e.height = double(logical.height) / PANGO_SCALE;
  e.baseline = double(pango_layout_get_baseline(layout_)) / PANGO_SCALE;
  e.lines = pango_layout_get_line_count(layout_);
  return e;
}

std::string TextLayout::family() const {
  const PangoFontDescription* want = pango_layout_get_font_description(layout_);
  PangoFont* f = pango_context_load_font(pango_layout_get_context(layout_), want);
  std::string name;
  if (f) {
    PangoFontDescription* got = pango_font_describe(f);
    if (const char* fam = pango_font_description_get_family(got)) name = fam;
    pango_font_description_free(got);
    g_object_unref(f);
  }
  if (name.empty()) name = font_.family.empty() ? "Sans" : font_.family;
  return name;
}

std::vector<TextLayout::Line> TextLayout::lines() const {
  std::vector<Line> out;
  const char* text = pango_layout_get_text(layout_);
  PangoLayoutIter* it = pango_layout_get_iter(layout_);
  do {
    PangoLayoutLine* line = pango_layout_iter_get_line_readonly(it);
    PangoRectangle logical;
    pango_layout_iter_get_line_extents(it, nullptr, &logical);
    Line l;
    l.text.assign(text + line->start_index, static_cast<size_t>(line->length));
    l.x = double(logical.x) / PANGO_SCALE;
    l.width = double(logical.width) / PANGO_SCALE;
    l.baseline = double(pango_layout_iter_get_baseline(it)) / PANGO_SCALE;
    out.push_back(std::move(l));
  } while (pango_layout_iter_next_line(it));
  pango_layout_iter_free(it);
  return out;
}

bool textPositionFromName(std::string_view name, TextPosition& out) {
  for (const TextPositionName& p : kTextPositions) {
    if (sameNoCase(p.name, name)) {
      out = p.pos;
      return true;
    }
  }
  return false;
}

std::string_view textPositionName(TextPosition p) {
  for (const TextPositionName& e : kTextPositions)
    if (e.pos == p) return e.name;
  return "Center";
}

std::vector<std::string> splitText(std::string_view text, const TextSplit& split) {
  if (split.policy == SplitPolicy::None || split.splitChars.empty() ||
      (split.policy == SplitPolicy::Split && split.maxChars <= 0))
    return {std::string(text)};
  std::vector<std::string> pieces, seps;
  cutAtSplitChars(text, split.splitChars, pieces, seps);
  auto withSep = [&](size_t k) {
    return split.dropSplitChar ? pieces[k] : pieces[k] + seps[k];
  };
  std::vector<std::string> lines;
  if (split.policy == SplitPolicy::SplitAlways) {
    for (size_t k = 0; k < pieces.size(); ++k) lines.push_back(withSep(k));
    return lines;
  }
  // Split: fill each line with pieces while it stays within maxChars; the
  // split character between two pieces on one line stays in the text.
  const size_t limit = static_cast<size_t>(split.maxChars);
  std::string line = pieces[0];
  size_t k = 0;
  for (size_t next = 1; next < pieces.size(); ++next) {
    std::string joined = line + seps[k] + pieces[next];
    if (countChars(joined) <= limit) {
      line = std::move(joined);
    } else {
      lines.push_back(split.dropSplitChar ? line : line + seps[k]);
      line = pieces[next];
    }
    k = next;
  }
  lines.push_back(line);
  return lines;
}

Point labelOffset(TextPosition position, double w, double h, double pad) {
  switch (position) {
    case TextPosition::Center: return {-w / 2, -h / 2};
    case TextPosition::Top: return {-w / 2, -h - pad};
    case TextPosition::Bottom: return {-w / 2, pad};
    case TextPosition::Left: return {-w - pad, -h / 2};
    case TextPosition::Right: return {pad, -h / 2};
    case TextPosition::TopLeft: return {-w - pad, -h - pad};
    case TextPosition::TopRight: return {pad, -h - pad};
    case TextPosition::BottomLeft: return {-w - pad, pad};
    case TextPosition::BottomRight: return {pad, pad};
  }
  return {-w / 2, -h / 2};
}

TextExtent measureText(std::string_view text, const FontStyle& font, const TextSplit& split,
                       Justify justify) {
  if (text.empty()) return {};
  TextLayout l(joinLines(splitText(text, split)), font, justify);
  return l.extent();
}

Rect drawLabel(Painter& p, Point at, std::string_view text, const LabelStyle& style) {
  if (text.empty() || !std::isfinite(at.x) || !std::isfinite(at.y)) return Rect{at.x, at.y, 0, 0};
  return LaidOutLabel(text, style).draw(p, at, style.position);
}

Rect LabelBox::bounds() const {
  double x0 = corner[0].x, x1 = x0, y0 = corner[0].y, y1 = y0;
  for (const Point& p : corner) {
    x0 = std::min(x0, p.x);
    x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y);
    y1 = std::max(y1, p.y);
  }
  return Rect{x0, y0, x1 - x0, y1 - y0};
}

bool LabelBox::overlaps(const LabelBox& other) const {
  // Separating axes: the edge directions of both blocks. Two blocks overlap
  // when their shadows overlap on every one of them.
  constexpr double kTouch = 0.01;
  const LabelBox* boxes[2] = {this, &other};
  for (const LabelBox* b : boxes) {
    for (int e = 0; e < 2; ++e) {
      const Point a = b->corner[static_cast<size_t>(e)];
      const Point c = b->corner[static_cast<size_t>(e + 1)];
      double ax = c.x - a.x, ay = c.y - a.y;
      const double len = std::hypot(ax, ay);
      if (!(len > 0)) continue;
      ax /= len;
      ay /= len;
      double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
      for (int k = 0; k < 2; ++k)
        for (const Point& p : boxes[k]->corner) {
          const double d = p.x * ax + p.y * ay;
          lo[k] = std::min(lo[k], d);
          hi[k] = std::max(hi[k], d);
        }
      if (hi[0] <= lo[1] + kTouch || hi[1] <= lo[0] + kTouch) return false;
    }
  }
  return true;
}

double labelTurn(double rotateDeg) {
  return std::isfinite(rotateDeg) ? std::fmod(rotateDeg, 360) : 0;
}

LabelBox labelBox(Point at, double w, double h, TextPosition position, double pad,
                  double rotateDeg, const LabelMargins& grow) {
  pad = std::isfinite(pad) && pad > 0 ? pad : 0;
  const Point off = labelOffset(position, w, h, pad);
  const double ang = -labelTurn(rotateDeg) * kPi / 180;
  const double c = std::cos(ang), s = std::sin(ang);
  const double x0 = off.x - grow.left, x1 = off.x + w + grow.right;
  const double y0 = off.y - grow.top, y1 = off.y + h + grow.bottom;
  const double cx[4] = {x0, x1, x1, x0};
  const double cy[4] = {y0, y0, y1, y1};
  LabelBox b;
  for (size_t i = 0; i < 4; ++i)
    b.corner[i] = Point{at.x + cx[i] * c - cy[i] * s, at.y + cx[i] * s + cy[i] * c};
  return b;
}

LaidOutLabel::LaidOutLabel(std::string_view text, const LabelStyle& style) : style_(style) {
  if (text.empty()) return;
  layout_ = std::make_unique<TextLayout>(joinLines(splitText(text, style.split)), style.font,
                                         style.justify);
  extent_ = layout_->extent();
}

LaidOutLabel::~LaidOutLabel() = default;

LabelBox LaidOutLabel::box(Point at, TextPosition position, const LabelMargins& grow) const {
  return labelBox(at, extent_.width, extent_.height, position, style_.pad, style_.rotateDeg, grow);
}

Rect LaidOutLabel::draw(Painter& p, Point at, TextPosition position) const {
  if (!layout_ || !std::isfinite(at.x) || !std::isfinite(at.y)) return Rect{at.x, at.y, 0, 0};
  StateGuard guard(p);
  const LabelStyle& style = style_;
  const TextExtent& e = extent_;
  double pad = std::isfinite(style.pad) && style.pad > 0 ? style.pad : 0;
  Point off = labelOffset(position, e.width, e.height, pad);

  p.translate(at.x, at.y);
  p.rotate(-labelTurn(style.rotateDeg) * kPi / 180);
  Rgba halo = style.backlightColor;
  double haloWidth = 0;
  if (style.backlight > 0) {
    if (halo.a <= 0)
      halo = luminance(style.font.color) < 0.4 ? rgbHex(0xFFFFFF) : rgbHex(0x000000);
    halo.a *= std::min(style.backlight, 1.0);
    haloWidth = std::clamp(style.font.sizePt * kPxPerPt * 0.3, 2.0, 12.0);
  }
  p.drawText(*layout_, off.x, off.y, style.font.color, haloWidth, halo);

  // The box of the rotated block in the caller's space.
  return labelBox(at, e.width, e.height, position, pad, style.rotateDeg).bounds();
}

}  // namespace qv::render
