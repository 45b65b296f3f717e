// The PNG writer: images read back pixel for pixel by the PNG reader, flat
// and noisy, opaque and with transparency; and the checksums.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "render/canvas.h"
#include "render/png.h"

namespace qv::render {
namespace {

void expectSamePixels(const Canvas& a, const Canvas& b) {
  ASSERT_EQ(a.width(), b.width());
  ASSERT_EQ(a.height(), b.height());
  long differing = 0;
  for (int y = 0; y < a.height(); ++y)
    for (int x = 0; x < a.width(); ++x) differing += a.pixelRgba(x, y) != b.pixelRgba(x, y);
  EXPECT_EQ(differing, 0);
}

Canvas roundTrip(const Canvas& c, size_t* bytes = nullptr) {
  std::vector<unsigned char> png = encodePng(c);
  if (bytes) *bytes = png.size();
  return decodePng(png.data(), png.size(), "the written image");
}

TEST(Png, FlatNoisyOpaqueAndTransparentImagesReadBack) {
  std::mt19937 rng(7);
  // A map-like image: flat areas, lines and text edges.
  Canvas flat(333, 211);
  flat.fill(rgbHex(0xF4F4F0));
  cairo_t* cr = flat.cr();
  cairo_set_source_rgb(cr, 0.2, 0.4, 0.8);
  cairo_rectangle(cr, 20, 20, 150, 90);
  cairo_fill(cr);
  cairo_set_line_width(cr, 0.7);
  cairo_set_source_rgb(cr, 0, 0, 0);
  for (int i = 0; i < 40; ++i) cairo_line_to(cr, rng() % 333, rng() % 211);
  cairo_stroke(cr);
  size_t flatBytes = 0;
  expectSamePixels(roundTrip(flat, &flatBytes), flat);
  // About as small as the usual compressor's default makes it.
  EXPECT_LT(flatBytes, flat.pngBytes().size() * 5 / 4) << flat.pngBytes().size();

  // Noise, opaque: nothing to find for the matcher.
  Canvas noise(257, 129);
  noise.fill(rgbHex(0));
  {
    cairo_surface_flush(noise.surface());
    auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(noise.surface()));
    const int stride = cairo_image_surface_get_stride(noise.surface()) / 4;
    for (int y = 0; y < 129; ++y)
      for (int x = 0; x < 257; ++x) px[y * stride + x] = 0xFF000000u | (rng() & 0xFFFFFFu);
    cairo_surface_mark_dirty(noise.surface());
  }
  expectSamePixels(roundTrip(noise), noise);

  // Transparency: a half-transparent disk on a transparent image, and
  // long runs that need every length and distance code.
  Canvas alpha(400, 300);
  cairo_t* ca = alpha.cr();
  cairo_set_source_rgba(ca, 0.9, 0.1, 0.3, 0.5);
  cairo_arc(ca, 200, 150, 120, 0, 6.3);
  cairo_fill(ca);
  for (int k = 0; k < 60; ++k) {
    cairo_set_source_rgba(ca, (rng() % 256) / 255.0, 0.5, 0.5, (rng() % 256) / 255.0);
    cairo_rectangle(ca, rng() % 400, rng() % 300, 1 + rng() % 40, 1 + rng() % 3);
    cairo_fill(ca);
  }
  expectSamePixels(roundTrip(alpha), alpha);

  Canvas one(1, 1);
  expectSamePixels(roundTrip(one), one);
}

}  // namespace
}  // namespace qv::render
