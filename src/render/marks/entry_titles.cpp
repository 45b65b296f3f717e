// "EntryTitle" and "EntryFootnote": one line each, made of text segments
// (each in its own text attributes over the line's), aligned by halign=,
// with an optional background, border and pad. Dynamic segments (TITLE1,
// __BYLINE__) take their text from the dynamic values of the rendering. A
// line too wide for the graph is drawn in a smaller size until it fits.
#include <algorithm>
#include <cmath>

#include "render/marks/draw.h"

namespace qv::render {

namespace {

struct Segment {
  std::string text;
  FontStyle font;
};

class TitleBlock final : public Block {
 public:
  Size2 layout(double maxWidth, double maxHeight) override {
    const double frame = 2 * (pad_ + borderWidth());
    scale_ = 1;
    for (int attempt = 0; attempt < 6; ++attempt) {
      measure();
      const double w = width_ + frame;
      if (w <= maxWidth || scale_ < 0.45) break;
      scale_ *= std::max(0.45, maxWidth / w * 0.98);
    }
    Size2 s{width_ + frame, height_ + frame + spaceBefore_};
    if (s.height > maxHeight) s.height = maxHeight;
    return s;
  }

  void draw(Painter& pen, const Rect& boxIn) override {
    Rect box{boxIn.x, boxIn.y + spaceBefore_, boxIn.width, boxIn.height - spaceBefore_};
    StateGuard g(pen);
    if (background.a > 0) {
      pen.rectangle(box.x, box.y, box.width, box.height);
      pen.setColor(background);
      pen.fill();
    }
    if (border > 0) {
      const double b = borderWidth();
      pen.rectangle(box.x + b / 2, box.y + b / 2, box.width - b, box.height - b);
      setLineStyle(pen, borderColor, b, 1);
      pen.stroke();
    }
    double x = box.x + (box.width - width_) / 2;
    const double top = box.y + pad_ + borderWidth();
    for (size_t i = 0; i < segments.size(); ++i) {
      const Segment& s = segments[i];
      LabelStyle ls;
      ls.font = s.font;
      ls.font.sizePt *= scale_;
      ls.position = TextPosition::BottomRight;
      ls.pad = 0;
      ls.justify = Justify::Left;
      drawLabel(pen, {x, top + baseline_ - extents_[i].baseline}, s.text, ls);
      x += extents_[i].width;
    }
  }

  double borderWidth() const { return border > 0 ? std::max(1.0, border) : 0; }
  void setPad(double p) { pad_ = p; }
  void setSpaceBefore(double s) { spaceBefore_ = s; }

  std::vector<Segment> segments;
  Rgba background{0, 0, 0, 0};
  double border = 0;
  Rgba borderColor = rgbHex(0x000000);

 private:
  void measure() {
    extents_.clear();
    width_ = 0;
    double above = 0, below = 0;
    for (const Segment& s : segments) {
      FontStyle f = s.font;
      f.sizePt *= scale_;
      TextExtent e = measureText(s.text, f);
      extents_.push_back(e);
      width_ += e.width;
      above = std::max(above, e.baseline);
      below = std::max(below, e.height - e.baseline);
    }
    baseline_ = above;
    height_ = above + below;
  }

  double pad_ = 0, spaceBefore_ = 0, scale_ = 1;
  double width_ = 0, height_ = 0, baseline_ = 0;
  std::vector<TextExtent> extents_;
};

double halignOf(const Value* v, double fallback) {
  if (!v) return fallback;
  if (sameNoCase(v->text, "left")) return 0;
  if (sameNoCase(v->text, "right")) return 1;
  return 0.5;
}

}  // namespace

std::string decodeTextEscapes(std::string_view text) {
  static constexpr std::string_view prefix = "(*ESC*){unicode '";
  static constexpr std::string_view suffix = "'x}";
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text.compare(i, prefix.size(), prefix) == 0) {
      const size_t hexAt = i + prefix.size();
      const size_t end = text.find(suffix, hexAt);
      if (end != std::string_view::npos && end - hexAt >= 2 && end - hexAt <= 6) {
        unsigned long code = 0;
        bool ok = true;
        for (size_t k = hexAt; k < end && ok; ++k) {
          char c = text[k];
          int d = c >= '0' && c <= '9' ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
          ok = d >= 0;
          code = code * 16 + static_cast<unsigned long>(d < 0 ? 0 : d);
        }
        if (ok && code > 0 && code < 0x110000 && !(code >= 0xD800 && code < 0xE000)) {
          // UTF-8 of the code point.
          if (code < 0x80) {
            out += static_cast<char>(code);
          } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          }
          i = end + suffix.size();
          continue;
        }
      }
    }
    out += text[i++];
  }
  return out;
}

std::vector<PlacedBlock> makeTitles(Env& env, const std::vector<TextEntry>& entries,
                                    bool footnotes) {
  std::vector<PlacedBlock> out;
  const Style& st = env.style;
  const double graphHeight = env.req.options.integer(GlobalOpt::GraphHeight);
  for (const TextEntry& e : entries) {
    FontStyle base = footnotes ? st.graphFootnoteText : st.graphTitleText;
    applyTextBlock(e.options.find(Key::TextAttrs), st, graphHeight, base);
    auto b = std::make_unique<TitleBlock>();
    bool any = false;
    const Value* segmentHalign = nullptr;
    for (const TextSegment& s : e.segments) {
      Segment seg;
      seg.text = s.dynamic ? decodeTextEscapes(env.dynamic(s.text)) : s.text;
      seg.font = base;
      applyTextBlock(s.options.find(Key::TextAttrs), st, graphHeight, seg.font);
      if (!segmentHalign) segmentHalign = s.options.find(Key::Halign);
      any = any || !seg.text.empty();
      b->segments.push_back(std::move(seg));
    }
    if (!any) continue;
    if (const Value* bg = e.options.find(Key::BackgroundColor)) colorOf(*bg, st, b->background);
    if (const Value* border = e.options.find(Key::Border); border && border->flag) {
      b->border = 1;
      if (const Value* ba = e.options.find(Key::BorderAttrs)) {
        if (const Value* t = ba->find(Attr::Thickness)) b->border = std::min(lengthPx(*t, graphHeight, 1), 20.0);
        if (const Value* c = ba->find(Attr::Color)) colorOf(*c, st, b->borderColor);
      }
    }
    // pad= is the box's pad (one length); pad=(top=) / (bottom=) is space
    // before the line.
    double pad = b->background.a > 0 || b->border > 0 ? 2 : 0;
    if (const Value* p = e.options.find(Key::Pad)) {
      if (p->kind == Value::Kind::Block) {
        const Value* s = p->find(footnotes ? Attr::Bottom : Attr::Top);
        if (!s) s = p->find(footnotes ? Attr::Top : Attr::Bottom);
        if (s) b->setSpaceBefore(std::min(lengthPx(*s, graphHeight, 0), graphHeight / 4));
      } else {
        pad = std::min(lengthPx(*p, graphHeight, pad), graphHeight / 8);
      }
    }
    b->setPad(pad);
    PlacedBlock pb;
    pb.side = footnotes ? Side::Bottom : Side::Top;
    pb.halign = halignOf(e.options.find(Key::Halign), halignOf(segmentHalign, 0.5));
    pb.block = std::move(b);
    out.push_back(std::move(pb));
  }
  return out;
}

}  // namespace qv::render
