// JPEG images (imagery tile services serve them): color, gray and
// progressive images decode to the colors they were written with; damaged,
// truncated or oversized ones give an error naming the input, never a crash;
// and JPEG tiles are drawn like PNG ones.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "common/error.h"
#include "render/paint/canvas.h"
#include "render/tiles/tiles.h"
#include "support.h"

namespace qv::render {
namespace {

// A progressive scan script with one scan per AC coefficient and component:
// 1 + 63 scans for gray, 1 + 189 for color.
std::vector<jpeg_scan_info> scanPerCoefficient(int components) {
  std::vector<jpeg_scan_info> scans;
  jpeg_scan_info dc{};
  dc.comps_in_scan = components;
  for (int c = 0; c < components; ++c) dc.component_index[c] = c;
  scans.push_back(dc);
  for (int c = 0; c < components; ++c)
    for (int k = 1; k < 64; ++k) {
      jpeg_scan_info s{};
      s.comps_in_scan = 1;
      s.component_index[0] = c;
      s.Ss = s.Se = k;
      scans.push_back(s);
    }
  return scans;
}

// A width x height JPEG: the left half `left`, the right half `right`
// (0xRRGGBB); gray images take the red byte.
std::vector<unsigned char> makeJpeg(int width, int height, uint32_t left, uint32_t right,
                                    bool gray = false, bool progressive = false,
                                    const std::vector<jpeg_scan_info>* scans = nullptr) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = static_cast<JDIMENSION>(width);
  c.image_height = static_cast<JDIMENSION>(height);
  c.input_components = gray ? 1 : 3;
  c.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  if (scans) {
    c.scan_info = scans->data();
    c.num_scans = static_cast<int>(scans->size());
  }
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row(size_t(width) * c.input_components);
  for (int x = 0; x < width; ++x) {
    uint32_t k = x < width / 2 ? left : right;
    unsigned char rgb[3] = {static_cast<unsigned char>(k >> 16),
                            static_cast<unsigned char>(k >> 8), static_cast<unsigned char>(k)};
    for (int i = 0; i < c.input_components; ++i) row[size_t(x) * c.input_components + i] = rgb[i];
  }
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<unsigned char> out(buf, buf + size);
  std::free(buf);
  return out;
}

// True when the pixel is opaque and each channel within 6 of 0xRRGGBB.
::testing::AssertionResult near(const Canvas& c, int x, int y, uint32_t rgb) {
  uint32_t p = c.pixelRgba(x, y);
  for (int shift : {24, 16, 8}) {
    int got = int((p >> shift) & 0xFF), want = int((rgb >> (shift - 8)) & 0xFF);
    if (std::abs(got - want) > 6 || (p & 0xFF) != 0xFF)
      return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex << p
                                           << ", expected about " << rgb;
  }
  return ::testing::AssertionSuccess();
}

TEST(Jpeg, ColorGrayAndProgressiveImagesDecode) {
  for (bool progressive : {false, true}) {
    auto bytes = makeJpeg(64, 48, 0x2060C0, 0xE69F00, false, progressive);
    ASSERT_TRUE(looksLikeJpeg(bytes.data(), bytes.size()));
    Canvas c = decodeJpeg(bytes.data(), bytes.size(), "the tile");
    EXPECT_EQ(c.width(), 64);
    EXPECT_EQ(c.height(), 48);
    EXPECT_TRUE(near(c, 5, 5, 0x2060C0));
    EXPECT_TRUE(near(c, 60, 40, 0xE69F00));
  }
  auto gray = makeJpeg(17, 9, 0x404040, 0xC0C0C0, true);
  Canvas g = decodeJpeg(gray.data(), gray.size(), "the tile");
  EXPECT_TRUE(near(g, 1, 1, 0x404040));
  EXPECT_TRUE(near(g, 15, 7, 0xC0C0C0));
}

TEST(Jpeg, DamagedAndOversizedImagesGiveErrorsNamingTheInput) {
  auto expectError = [](const std::vector<unsigned char>& b, const std::string& part,
                        int maxSide = kMaxImageSide) {
    try {
      decodeJpeg(b.data(), b.size(), "\"t.jpg\"", maxSide);
      ADD_FAILURE() << "no error, expected one with: " << part;
    } catch (const qv::UserError& e) {
      std::string m = e.what();
      EXPECT_NE(m.find("\"t.jpg\""), std::string::npos) << m;
      EXPECT_NE(m.find(part), std::string::npos) << m;
    }
  };
  expectError({}, "is not a JPEG image");
  expectError({'G', 'I', 'F', '8'}, "is not a JPEG image");
  expectError({0xFF, 0xD8, 0xFF}, "is not a valid JPEG image");

  auto good = makeJpeg(300, 200, 0x112233, 0x445566);
  expectError(good, "300 x 200", 256);  // tiles larger than the caller allows
  // The frame header (SOF0: FF C0, length, precision, height, width) made
  // to claim 40000 x 40000 pixels: refused before any pixel is decoded.
  auto huge = good;
  for (size_t i = 2; i + 8 < huge.size(); ++i) {
    if (huge[i] == 0xFF && huge[i + 1] == 0xC0) {
      huge[i + 5] = huge[i + 7] = 40000 >> 8;
      huge[i + 6] = huge[i + 8] = 40000 & 0xFF;
      break;
    }
  }
  expectError(huge, "40000 x 40000");

  // Progressive images are decoded up to 100 scans: 64 are fine, 190 (which
  // can take very long to decode when large) are refused.
  auto grayScans = scanPerCoefficient(1);
  auto many = makeJpeg(16, 16, 0x808080, 0x808080, true, false, &grayScans);
  EXPECT_EQ(decodeJpeg(many.data(), many.size(), "t").width(), 16);
  auto colorScans = scanPerCoefficient(3);
  expectError(makeJpeg(16, 16, 0x102030, 0x405060, false, false, &colorScans), "more than 100 scans");

  // Truncated anywhere and bytes flipped at random: an image (libjpeg fills
  // what is missing) or an error, never a crash.
  auto prog = makeJpeg(40, 40, 0xFF0000, 0x00FF00, false, true);
  std::mt19937 rng(11);
  int decoded = 0, refused = 0;
  auto attempt = [&](const std::vector<unsigned char>& b) {
    try {
      Canvas c = decodeJpeg(b.data(), b.size(), "\"t.jpg\"");
      EXPECT_GT(c.width(), 0);
      ++decoded;
    } catch (const qv::UserError&) {
      ++refused;
    }
  };
  for (size_t n = 3; n < prog.size(); n += 7) attempt({prog.begin(), prog.begin() + long(n)});
  for (int i = 0; i < 2000; ++i) {
    auto b = prog;
    for (int k = 1 + int(rng() % 4); k > 0; --k) b[3 + rng() % (b.size() - 3)] = uint8_t(rng());
    attempt(b);
  }
  EXPECT_GT(decoded, 0);
  EXPECT_GT(refused, 0);
}

TEST(Jpeg, JpegTilesAreDrawn) {
  qv::test::TempDir dir;
  auto tile = makeJpeg(256, 256, 0x0072B2, 0x0072B2);
  std::filesystem::create_directories(dir.path() + "/0/0");
  std::ofstream(dir.path() + "/0/0/0.jpg", std::ios::binary)
      .write(reinterpret_cast<const char*>(tile.data()), std::streamsize(tile.size()));
  TileProvider p = imageMapProvider("file://" + dir.path() + "/{z}/{x}/{y}.jpg");
  Canvas c(256, 256);
  c.fill(rgbHex(0xFFFFFF));
  TileDrawResult r = drawTiles(c.painter(), Projection(256, 0, 0), Rect{0, 0, 256, 256}, p,
                               TileFetchOptions{});
  EXPECT_EQ(r.drawn, 1);
  EXPECT_EQ(r.warning, "");
  EXPECT_TRUE(near(c, 128, 128, 0x0072B2));
}

}  // namespace
}  // namespace qv::render
