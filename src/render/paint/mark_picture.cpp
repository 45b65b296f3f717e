#include "render/paint/mark_picture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>

#include "render/paint/png.h"
#include "render/paint/text.h"

namespace qv::render {

namespace {

constexpr uint32_t kMaxMarks = 0xFFFFFF;

Rect wholePixels(const Rect& area, int width, int height) {
  const double x0 = std::clamp(std::floor(area.x), 0.0, width - 1.0);
  const double y0 = std::clamp(std::floor(area.y), 0.0, height - 1.0);
  const double x1 = std::clamp(std::ceil(area.right()), x0 + 1, static_cast<double>(width));
  const double y1 = std::clamp(std::ceil(area.bottom()), y0 + 1, static_cast<double>(height));
  return {x0, y0, x1 - x0, y1 - y0};
}

int pixelsOf(double units) { return std::max(1, static_cast<int>(std::lround(units))); }

void putU32(std::vector<unsigned char>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// A text ended by a NUL, with any NUL in it written as U+FFFD.
void putText(std::vector<unsigned char>& out, const std::string& text) {
  size_t at = 0;
  for (size_t nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', at)) {
    out.insert(out.end(), text.begin() + static_cast<ptrdiff_t>(at),
               text.begin() + static_cast<ptrdiff_t>(nul));
    out.insert(out.end(), {0xEF, 0xBF, 0xBD});
    at = nul + 1;
  }
  out.insert(out.end(), text.begin() + static_cast<ptrdiff_t>(at), text.end());
  out.push_back(0);
}

}  // namespace

uint32_t MarkMap::add(ItemInfo info) {
  if (items_.size() < kMaxMarks) {
    items_.push_back(std::move(info));
  } else {
    items_.back() = ItemInfo{std::move(info.kind), "", ""};
  }
  return static_cast<uint32_t>(items_.size());
}

MarkPicture::MarkPicture(int width, int height, const Rect& area, double scale)
    : box_(wholePixels(area, width, height)),
      scale_(scale),
      pictureImage_(pixelsOf(width * scale), pixelsOf(height * scale)),
      marks_(width, height),
      picture_(pictureImage_.cr(), &pictureImage_, scale),
      mapPen_(marks_.image().cr()) {
  cairo_scale(pictureImage_.cr(), scale, scale);
  cairo_set_antialias(marks_.image().cr(), CAIRO_ANTIALIAS_NONE);
  for (Painter* p : {static_cast<Painter*>(&picture_), static_cast<Painter*>(&mapPen_)}) {
    p->rectangle(area.x, area.y, area.width, area.height);
    p->clip();
  }
}

bool MarkPicture::markSource() {
  if (mark_ == 0) return false;
  const uint32_t v = MarkMap::markPixel(mark_);
  cairo_set_source_rgb(mapPen_.cr(), ((v >> 16) & 0xFF) / 255.0, ((v >> 8) & 0xFF) / 255.0,
                       (v & 0xFF) / 255.0);
  return true;
}

void MarkPicture::paintBoth(void (Painter::*call)()) {
  (picture_.*call)();
  if (markSource()) (mapPen_.*call)();
}

void MarkPicture::drawText(const TextLayout& text, double x, double y, const Rgba& color,
                           double haloWidth, const Rgba& halo) {
  picture_.drawText(text, x, y, color, haloWidth, halo);
  if (!markSource()) return;
  const TextExtent e = text.extent();
  cairo_t* cr = mapPen_.cr();
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, x, y, e.width, e.height);
  cairo_fill(cr);
  cairo_restore(cr);
}

void MarkPicture::check(const std::string& what) {
  picture_.check(what);
  mapPen_.check(what);
}

PictureLayer MarkPicture::finish() {
  PictureLayer out;
  out.box = box_;
  out.marks = marks_.size();
  if (marks_.size() > 0) out.kind = marks_.items().front().kind;
  {
    // The area's pixels of the picture.
    const int x0 = static_cast<int>(box_.x * scale_), y0 = static_cast<int>(box_.y * scale_);
    Canvas area(std::min(pixelsOf(box_.width * scale_), pictureImage_.width() - x0),
                std::min(pixelsOf(box_.height * scale_), pictureImage_.height() - y0));
    cairo_set_operator(area.cr(), CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(area.cr(), pictureImage_.surface(), -x0, -y0);
    cairo_paint(area.cr());
    requireDrawn(area.cr(), "the picture of the plot");
    out.png = encodePng(area);
  }
  const std::vector<ItemInfo>& items = marks_.items();
  // No index when no mark has a tip or a link.
  std::vector<std::string> links(items.size());
  size_t textBytes = 0;
  for (size_t i = 0; i < items.size(); ++i) {
    links[i] = safeLinkUrl(items[i].url);
    textBytes += items[i].tip.size() + links[i].size();
  }
  if (textBytes == 0) return out;
  textBytes += 2 * items.size();

  cairo_surface_t* s = marks_.image().surface();
  cairo_surface_flush(s);
  const int x0 = static_cast<int>(box_.x), y0 = static_cast<int>(box_.y);
  const int w = static_cast<int>(box_.width), h = static_cast<int>(box_.height);
  const unsigned char* pixels = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  std::vector<unsigned char> raw;
  raw.reserve(16 + 4 * static_cast<size_t>(w) * static_cast<size_t>(h) + textBytes);
  putU32(raw, static_cast<uint32_t>(w));
  putU32(raw, static_cast<uint32_t>(h));
  putU32(raw, static_cast<uint32_t>(items.size()));
  putU32(raw, 4);
  for (int y = y0; y < y0 + h; ++y) {
    const unsigned char* row = pixels + static_cast<ptrdiff_t>(y) * stride;
    for (int x = x0; x < x0 + w; ++x) {
      uint32_t v;
      std::memcpy(&v, row + 4 * static_cast<size_t>(x), 4);
      // Unantialiased and opaque: a pixel is a mark's number or nothing.
      putU32(raw, (v >> 24) == 0xFF ? v & 0xFFFFFF : 0);
    }
  }
  for (size_t i = 0; i < items.size(); ++i) {
    putText(raw, items[i].tip);
    putText(raw, links[i]);
  }
  out.index = zlibCompress(raw.data(), raw.size(), 6);
  if (out.index.empty()) throw std::bad_alloc();
  return out;
}

}  // namespace qv::render
