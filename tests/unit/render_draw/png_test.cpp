// The PNG writer: images read back pixel for pixel by the PNG reader, opaque
// and with transparency (the writer turns Cairo's premultiplied pixels into
// straight ones), and about as small as Cairo's own encoder makes them.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "render/paint/canvas.h"
#include "render/paint/png.h"
#include "visual.h"

namespace qv::render {
namespace {

void expectSamePixels(const Canvas& a, const Canvas& b) {
  EXPECT_TRUE(qv::test::matchesImage(a, b, 0, 0, "png_round_trip"));
}

Canvas roundTrip(const Canvas& c, size_t* bytes = nullptr) {
  std::vector<unsigned char> png = encodePng(c);
  if (bytes) *bytes = png.size();
  return decodePng(png.data(), png.size(), "the written image");
}

TEST(Png, OpaqueAndTransparentImagesReadBack) {
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

  // Transparency: a half-transparent disk and bars of every alpha on a
  // transparent image.
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

  // Written in the image's own memory (opaque) or beside it: the same file.
  for (Canvas* c : {&flat, &alpha, &one}) {
    const std::vector<unsigned char> kept = encodePng(*c);
    EXPECT_EQ(encodePngSpending(*c), kept) << c->width() << " x " << c->height();
  }
}

}  // namespace
}  // namespace qv::render
