// The default style, its overrides, colors, symbols and line patterns; the
// canvas and PNG round trips.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "common/error.h"
#include "render/graph/style.h"
#include "render/paint/canvas.h"
#include "render/paint/markers.h"
#include "support.h"

namespace qv::render {
namespace {

TEST(Style, GraphDataCyclesAndOverridesReplaceLists) {
  const Style& s = defaultStyle();
  EXPECT_EQ(graphData(s, 13).contrast, graphData(s, 1).contrast);
  EXPECT_EQ(graphData(s, 0).symbol, graphData(s, 1).symbol);
  EXPECT_EQ(graphData(s, 2).linePattern, s.dataLinePatterns[1]);

  StyleOverrides o;
  o.dataColors = {"CXFF0000", "not-a-color", "cx00ff00"};
  o.dataSymbols = {"StarFilled", "bogus"};
  o.dataLinePatterns = {20, 3};
  o.backgroundColor = "CX12";
  std::vector<std::string> problems;
  Style t = applyOverrides(s, o, &problems);
  ASSERT_EQ(t.dataColors.size(), 2u);
  EXPECT_EQ(graphData(t, 1).fill, rgbHex(0xFF0000));
  EXPECT_EQ(graphData(t, 2).fill, rgbHex(0x00FF00));
  EXPECT_EQ(graphData(t, 3).fill, rgbHex(0xFF0000));  // the list cycles on its own
  EXPECT_EQ(graphData(t, 3).contrast, graphData(s, 3).contrast);  // untouched
  EXPECT_EQ(graphData(t, 2).symbol, MarkerSymbol::StarFilled);
  EXPECT_EQ(graphData(t, 2).linePattern, 3);
  EXPECT_EQ(t.background, s.background);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_NE(problems[0].find("\"not-a-color\" of dataColors"), std::string::npos);
  EXPECT_NE(problems[1].find("\"bogus\""), std::string::npos);
  EXPECT_NE(problems[2].find("BackgroundColor \"CX12\""), std::string::npos);
  // A list with no usable entry keeps the default.
  Style u = applyOverrides(s, StyleOverrides{{"zz"}, {}, {}, {}, "CX000080"}, nullptr);
  EXPECT_EQ(u.dataColors, s.dataColors);
  EXPECT_EQ(u.background, rgbHex(0x000080));
}

TEST(Style, ColorTextsAndRamps) {
  Rgba c;
  EXPECT_TRUE(parseColorText("CXff8000", c));
  EXPECT_EQ(colorText(c), "CXFF8000");
  for (const char* bad : {"", "CX12345", "CX1234567", "XC123456", "CXGG0000", "CX-12345"})
    EXPECT_FALSE(parseColorText(bad, c)) << bad;
  EXPECT_EQ(colorText(Rgba{2, -1, 0.5, 1}), "CXFF0080");  // clamped

  const Style& s = defaultStyle();
  EXPECT_EQ(rampColor(s.threeColorRamp, 0), s.threeColorRamp[0]);
  EXPECT_EQ(rampColor(s.threeColorRamp, 0.5), s.threeColorRamp[1]);
  EXPECT_EQ(rampColor(s.threeColorRamp, 7), s.threeColorRamp[2]);
  EXPECT_EQ(rampColor(s.threeColorRamp, NAN), s.threeColorRamp[0]);
  EXPECT_EQ(rampColor({}, 0.3), Rgba{});
}

TEST(Style, SymbolsAndLinePatternsByName) {
  // How every symbol looks is the visual case "markers".
  MarkerSymbol m;
  EXPECT_TRUE(markerSymbolFromName("CircleFilled", m));
  EXPECT_EQ(m, MarkerSymbol::CircleFilled);
  EXPECT_TRUE(markerSymbolFilled(m));
  EXPECT_FALSE(markerSymbolFromName("circle filled", m));

  int code;
  EXPECT_TRUE(linePatternFromName("thinDot", code));  // any letter case
  EXPECT_EQ(code, 35);
  EXPECT_TRUE(linePatternFromName("3", code));
  EXPECT_EQ(code, 3);
  for (const char* bad : {"", "-", "dash dot", "12345678901"})
    EXPECT_FALSE(linePatternFromName(bad, code)) << bad;

  EXPECT_TRUE(dashArray(1, 2).empty());
  EXPECT_TRUE(dashArray(3, 2).empty());  // no name: solid
  for (int c : kLinePatternCodes) {
    if (c == 1) continue;
    auto thin = dashArray(c, 0.5), thick = dashArray(c, 3);
    ASSERT_FALSE(thin.empty()) << c;
    EXPECT_EQ(thin.size() % 2, 0u);
    EXPECT_TRUE(std::all_of(thin.begin(), thin.end(), [](double v) { return v >= 1; }));
    EXPECT_DOUBLE_EQ(thick[0], thin[0] * 3);  // dashes grow with the line
  }
  EXPECT_NE(dashArray(2, 1), dashArray(5, 1));
}

TEST(Canvas, SizesAndWriteErrors) {
  for (auto wh : {std::pair{0, 10}, std::pair{10, -1}, std::pair{40000, 10}, std::pair{30000, 30000}})
    EXPECT_THROW(Canvas(wh.first, wh.second), qv::UserError);
  try {
    Canvas bad(0, 480);
  } catch (const qv::UserError& e) {
    EXPECT_NE(std::string(e.what()).find("0 x 480"), std::string::npos) << e.what();
  }

  Canvas c(16, 8);
  c.fill(rgbHex(0x336699));
  const auto bytes = c.pngBytes();
  EXPECT_TRUE(looksLikePng(bytes.data(), bytes.size()));
  EXPECT_EQ(c.pixelRgba(-1, 0), 0u);  // outside the image
  qv::test::TempDir dir;
  std::string path = dir.path() + "/out.png";
  c.writePng(path);
  c.writePng(path);  // replaces
  EXPECT_EQ(readPngFile(path).pixelRgba(10, 5), 0x336699FFu);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            1);  // no temporary file left behind
  std::string missing = dir.path() + "/no/such/folder/out.png";
  try {
    c.writePng(missing);
    FAIL() << "no error";
  } catch (const qv::UserError& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos);
  }
}

TEST(Canvas, MalformedPngIsAnError) {
  auto good = Canvas(8, 8).pngBytes();
  std::vector<std::vector<unsigned char>> bad = {
      {},
      {'G', 'I', 'F', '8'},
      std::vector<unsigned char>(good.begin(), good.begin() + 20),  // no full header
      std::vector<unsigned char>(good.begin(), good.begin() + 40),  // cut in the data
  };
  // A header claiming a huge image is refused before anything is decoded.
  auto huge = good;
  huge[16] = 0x00, huge[17] = 0x01, huge[18] = 0x00, huge[19] = 0x00;  // width 65536
  bad.push_back(huge);
  auto flipped = good;
  flipped[25] ^= 0xFF;  // damaged header (checksum, bit depth)
  bad.push_back(flipped);
  for (const auto& b : bad) {
    EXPECT_THROW(decodePng(b.data(), b.size(), "\"t.png\""), qv::UserError)<< b.size();
    try {
      decodePng(b.data(), b.size(), "\"t.png\"");
    } catch (const qv::UserError& e) {
      EXPECT_NE(std::string(e.what()).find("\"t.png\""), std::string::npos) << e.what();
    }
  }
  EXPECT_THROW(decodePng(good.data(), good.size(), "small", 4), qv::UserError);
  EXPECT_THROW(readPngFile("/nonexistent/qv.png"), qv::UserError);
}

}  // namespace
}  // namespace qv::render
