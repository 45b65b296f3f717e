// Whole programs whose marks must survive what comes before or after them:
// tiles written after the data layers, a label turned by a huge angle, and
// the map area under STYLEATTRS BACKCOLOR=; checked pixel by pixel.
#include <gtest/gtest.h>

#include "pipeline.h"
#include "program_run.h"
#include "render/graph/style.h"
#include "tile_server.h"

namespace qv::render {
namespace {

using qv::test::ProgramRun;

// Pixels of `rgb` in the left and the right half of the image.
std::pair<long, long> halves(const Canvas& c, uint32_t rgb) {
  long left = 0, right = 0;
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x)
      if ((c.pixelRgba(x, y) >> 8) == rgb) (x < c.width() / 2 ? left : right)++;
  return {left, right};
}

constexpr uint32_t kMagenta = 0xFF00FF, kRed = 0xFF0000;

// Two small squares far apart over the United States, and two points.
const std::vector<std::pair<std::string, std::string>> kData = {
    {"m.csv",
     "id,segment,long,lat\n"
     "1,1,-110,38\n1,1,-108,38\n1,1,-108,40\n1,1,-110,40\n"
     "2,1,-90,38\n2,1,-88,38\n2,1,-88,40\n2,1,-90,40\n"},
    {"pts.csv", "x,y,name,turn\n-105,39,AAAA,1e308\n-92,39,BBBB,0\n"}};

TEST(DrawOrder, TilesBeneathDataLayersWrittenBeforeThem) {
  qv::test::TileServer server(qv::test::tileAnswer);
  ProgramRun run("OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240 TILEURL='" + server.base() +
                     "/{z}/{x}/{y}.png';\n"
                     "PROC TAVLO PLOTDATA=pts;\n"
                     "  SCATTER X=x Y=y / MARKERATTRS=(SYMBOL=squarefilled SIZE=16 COLOR=CXFF00FF);\n"
                     "  OSM;\n"
                     "RUN;\n"
                     "PROC TAVLO MAPDATA=m;\n"
                     "  CHOROMAP / MAPID=id;\n"
                     "  OPENSTREETMAP;\n"
                     "RUN;\n",
                 kData);
  ASSERT_EQ(run.status(), 0) << run.log();
  ASSERT_TRUE(run.wrote("tavlo1.png")) << run.log();
  EXPECT_GT(server.requests(), 0);
  // Both markers above the tiles, each square whole (16 px less its edges).
  const auto [left, right] = halves(run.image("tavlo.png"), kMagenta);
  EXPECT_GT(left, 150) << run.log();
  EXPECT_GT(right, 150);
  // Both regions above the tiles.
  const auto [a, b] = halves(run.image("tavlo1.png"), qv::test::hexOf(defaultStyle().emptyRegionFill));
  EXPECT_GT(a, 400);
  EXPECT_GT(b, 400);
}

TEST(DrawOrder, HugeRotationTurnsOneLabelAndSpoilsNothingAfterIt) {
  // The first row's angle is 1e308 degrees; the marks drawn after it (the
  // second label, the markers of a later plot, the frame) must all be there,
  // and a constant ROTATE= of 1e308 draws too.
  ProgramRun run(
      "OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240;\n"
      "PROC TAVLO MAPDATA=m PLOTDATA=pts;\n"
      "  CHOROMAP / MAPID=id;\n"
      "  TEXT X=x Y=y TEXT=name / ROTATE=turn TEXTATTRS=(COLOR=CXFF0000 SIZE=14PT);\n"
      "  SCATTER X=x Y=y / MARKERATTRS=(SYMBOL=squarefilled SIZE=8 COLOR=CXFF00FF);\n"
      "RUN;\n"
      "PROC TAVLO MAPDATA=m PLOTDATA=pts;\n"
      "  CHOROMAP / MAPID=id;\n"
      "  TEXT X=x Y=y TEXT=name / ROTATE=1e308 TEXTATTRS=(COLOR=CXFF0000 SIZE=14PT);\n"
      "RUN;\n",
      kData);
  ASSERT_EQ(run.status(), 0) << run.log();
  ASSERT_TRUE(run.wrote("tavlo1.png")) << run.log();
  const Canvas img = run.image("tavlo.png");
  const auto [left, right] = halves(img, kRed);
  EXPECT_GT(left, 20) << "the turned label";
  EXPECT_GT(right, 20) << "the label after it";
  EXPECT_GT(qv::test::pixelsOf(img, kMagenta), 2 * 30) << "the markers of the next plot";
  EXPECT_GT(qv::test::pixelsOf(img, 0xA0A0A0), 300) << "the frame of the map";
  const auto [left1, right1] = halves(run.image("tavlo1.png"), kRed);
  EXPECT_GT(left1, 20);
  EXPECT_GT(right1, 20);

  // Should a context still go wrong, the image is refused, naming the mark.
  Canvas c(10, 10);
  EXPECT_NO_THROW(requireDrawn(c.cr(), "the plot TEXT"));
  cairo_scale(c.cr(), 0, 0);
  try {
    requireDrawn(c.cr(), "the plot TEXT");
    ADD_FAILURE() << "a context in an error state was taken";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("drawing the plot TEXT failed (invalid matrix"),
              std::string::npos)
        << e.what();
  }
}

TEST(DrawOrder, BackcolorFillsTheMapAreaToo) {
  ProgramRun run(
      "OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240;\n"
      "PROC TAVLO MAPDATA=m;\n"
      "  CHOROMAP / MAPID=id;\n"
      "  STYLEATTRS BACKCOLOR=CX80E0FF;\n"
      "RUN;\n",
      kData);
  ASSERT_EQ(run.status(), 0) << run.log();
  const Canvas img = run.image();
  // The middle of the map lies between the two squares: the map's wall.
  EXPECT_EQ(img.pixelRgba(160, 110) >> 8, 0x80E0FFu);
  EXPECT_EQ(qv::test::pixelsOf(img, qv::test::hexOf(defaultStyle().wallColor)), 0);
  EXPECT_GT(qv::test::pixelsOf(img, 0x80E0FF), 320 * 240 / 3);
}

}  // namespace
}  // namespace qv::render
