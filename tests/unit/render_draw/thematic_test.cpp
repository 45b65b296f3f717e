// Thematic maps as the command draws them, read back from their files:
// legend markers that can be read whatever the plotted markers are,
// bubbles whose areas follow their values on one scale per step, the size
// key on that scale, and region labels inside their regions.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "program_run.h"
#include "render/geo/polylabel.h"
#include "render/graph/style.h"
#include "render/paint/text.h"
#include "support.h"

namespace qv::render {
namespace {

// --- Reading an SVG drawing --------------------------------------------------

// One marked element: <g class="KIND" data-tip="TIP"> and what it holds.
struct Mark {
  std::string tip;
  std::string body;
};

// The marks of a kind, in drawing order (nested groups kept in the body).
std::vector<Mark> marks(const std::string& svg, const std::string& kind) {
  std::vector<Mark> out;
  const std::string open = "<g class=\"" + kind + "\"";
  for (size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
    Mark m;
    const size_t head = svg.find('>', at);
    const std::string tag = svg.substr(at, head - at);
    if (const size_t t = tag.find("data-tip=\""); t != std::string::npos)
      m.tip = tag.substr(t + 10, tag.find('"', t + 10) - t - 10);
    int depth = 1;
    size_t p = head + 1;
    while (depth > 0 && p < svg.size()) {
      const size_t nextOpen = svg.find("<g", p), nextClose = svg.find("</g>", p);
      if (nextClose == std::string::npos) break;
      if (nextOpen != std::string::npos && nextOpen < nextClose) {
        ++depth;
        p = nextOpen + 2;
      } else {
        --depth;
        p = nextClose + 4;
      }
    }
    m.body = svg.substr(head + 1, p - head - 1);
    out.push_back(std::move(m));
  }
  return out;
}

std::string attr(const std::string& element, const std::string& name) {
  const std::string key = " " + name + "=\"";
  const size_t at = element.find(key);
  if (at == std::string::npos) return {};
  return element.substr(at + key.size(), element.find('"', at + key.size()) - at - key.size());
}

// The elements <NAME ...>...</NAME> or <NAME .../> of a body, in order.
std::vector<std::string> elements(const std::string& body, const std::string& name) {
  std::vector<std::string> out;
  const std::regex re("<" + name + "\\b[^>]*?(/>|>[^<]*</" + name + ">)");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), re); it != std::sregex_iterator();
       ++it)
    out.push_back(it->str());
  return out;
}

std::vector<double> numbersOf(const std::string& text) {
  std::vector<double> out;
  const std::regex re(R"([-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
       ++it)
    out.push_back(std::stod(it->str()));
  return out;
}

// The rings of a path's d= as the drawing writes it (M, relative l h v c,
// and z); a curve counts by its end point.
std::vector<std::vector<Point>> pathRings(const std::string& d) {
  std::vector<std::vector<Point>> rings;
  const std::regex re(R"([MmLlHhVvCcZz]|[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?)");
  std::vector<std::string> tokens;
  for (auto it = std::sregex_iterator(d.begin(), d.end(), re); it != std::sregex_iterator(); ++it)
    tokens.push_back(it->str());
  Point cur{0, 0};
  char cmd = 0;
  for (size_t i = 0; i < tokens.size();) {
    if (std::isalpha(static_cast<unsigned char>(tokens[i][0]))) {
      cmd = tokens[i++][0];
      if (cmd == 'z' || cmd == 'Z') cmd = 0;
      continue;
    }
    auto num = [&]() { return std::stod(tokens[i++]); };
    switch (cmd) {
      case 'M': cur = {num(), 0}; cur.y = num(); rings.push_back({cur}); cmd = 'L'; break;
      case 'L': cur = {num(), 0}; cur.y = num(); rings.back().push_back(cur); break;
      case 'l': cur.x += num(); cur.y += num(); rings.back().push_back(cur); break;
      case 'h': cur.x += num(); rings.back().push_back(cur); break;
      case 'v': cur.y += num(); rings.back().push_back(cur); break;
      case 'c': {
        double v[6];
        for (double& x : v) x = num();
        cur.x += v[4];
        cur.y += v[5];
        rings.back().push_back(cur);
        break;
      }
      default: ++i; break;
    }
  }
  return rings;
}

// A circle as the drawing writes one (from its rightmost point, four
// curves): its centre and radius.
struct Circle {
  Point centre;
  double radius = 0;
};
Circle circleOf(const std::string& path) {
  const std::string d = attr(path, "d");
  const size_t c = d.find('c');
  if (d.empty() || d[0] != 'M' || c == std::string::npos) return {};
  const std::vector<double> m = numbersOf(d.substr(1, c - 1));
  const std::vector<double> curve = numbersOf(d.substr(c + 1));
  if (m.size() != 2 || curve.size() < 6) return {};
  const double r = curve[5];
  return {{m[0] - r, m[1]}, r};
}

// A label's block as drawn: from its <text> (x, baseline y, textLength) and
// the layout of its text in the data label font.
struct TextBlock {
  std::string text;
  Rect box;
};
TextBlock textBlock(const std::string& element, const FontStyle& font) {
  TextBlock b;
  b.text = element.substr(element.find('>') + 1);
  b.text = b.text.substr(0, b.text.find('<'));
  const TextExtent e = measureText(b.text, font);
  b.box = {std::stod(attr(element, "x")), std::stod(attr(element, "y")) - e.baseline,
           std::stod(attr(element, "textLength")), e.height};
  return b;
}

std::string svgOf(const qv::test::ProgramRun& run, const std::string& name = "tavlo.svg") {
  return qv::test::readFile(run.out() + "/" + name);
}

// The bubbles of a drawing by their tip ("v: 4").
std::map<std::string, Circle> bubblesByTip(const std::string& svg) {
  std::map<std::string, Circle> out;
  for (const Mark& m : marks(svg, "bubble")) out[m.tip] = circleOf(elements(m.body, "path").at(0));
  return out;
}

const char* kStates = "MAPDATA=ex.us_states(WHERE=(ID < 60 and ID not in (2, 15)))";

// Points in three groups across the lower 48, with sizes.
const char* kPoints =
    "name,lon,lat,g,v\n"
    "a,-120,45,one,1\n"
    "b,-100,40,two,4\n"
    "c,-85,35,three,0.001\n"
    "d,-75,42,one,2.25\n"
    "e,-95,32,two,9\n";

// --- Legend markers ------------------------------------------------------------

// How much of `color` over white a pixel shows (0 none, 1 all), or -1 when
// it is not a mix of the two.
double share(const Canvas& image, int x, int y, uint32_t color) {
  const uint32_t p = image.pixelRgba(x, y) >> 8;
  double dot = 0, norm = 0, off = 0;
  double a[3], c[3];
  for (int k = 0; k < 3; ++k) {
    a[k] = 255.0 - ((p >> (16 - 8 * k)) & 0xFF);
    c[k] = 255.0 - ((color >> (16 - 8 * k)) & 0xFF);
    dot += a[k] * c[k];
    norm += c[k] * c[k];
  }
  const double t = dot / norm;
  for (int k = 0; k < 3; ++k) off = std::max(off, std::fabs(a[k] - t * c[k]));
  return off <= 40 ? t : -1;
}

// Markers of 2 pixels at 70% transparency in three groups and colors: each
// key-legend marker is at least 8 pixels across (pixels at least half its
// color) and opaque (its middle is the color itself). The map's faint
// markers never come that close to the colors. A dashed line's entry shows
// its dashes.
TEST(ThematicLegends, MarkersCanBeReadWhateverThePlottedOnes) {
  const uint32_t colors[] = {0xE00000, 0x00A000, 0x0000E0};
  qv::test::ProgramRun run(
      std::string("PROC TAVLO ") + kStates + " PLOTDATA=pts;\n"
      "  CHOROMAP / MAPID=ID;\n"
      "  STYLEATTRS DATACONTRASTCOLORS=(CXE00000 CX00A000 CX0000E0)\n"
      "             DATASYMBOLS=(CircleFilled SquareFilled TriangleFilled);\n"
      "  SCATTER X=lon Y=lat / GROUP=g MARKERATTRS=(SIZE=2px) TRANSPARENCY=0.7;\n"
      "  SERIES X=lon Y=lat / LINEATTRS=(COLOR=CXC000C0 PATTERN=DASH THICKNESS=2);\n"
      "RUN;\n",
      {{"pts.csv", kPoints}});
  ASSERT_EQ(run.status(), 0) << run.log();
  const Canvas image = run.image();
  for (uint32_t color : colors) {
    int x0 = image.width(), x1 = -1, y0 = image.height(), y1 = -1;
    double most = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const double t = share(image, x, y, color);
        if (t < 0.5) continue;
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        most = std::max(most, t);
      }
    ASSERT_GE(x1, 0) << std::hex << color;
    EXPECT_GE(x1 - x0 + 1, 8) << std::hex << color;
    EXPECT_LE(x1 - x0 + 1, 14) << std::hex << color;  // one marker, in the legend
    EXPECT_GE(y1 - y0 + 1, 7) << std::hex << color;
    EXPECT_GT(most, 0.97) << std::hex << color;
  }
  // The line's sample: on its row of the legend, at least two dashes.
  int bestRuns = 0;
  for (int y = image.height() * 3 / 4; y < image.height(); ++y) {
    int runs = 0;
    bool in = false;
    for (int x = 0; x < image.width(); ++x) {
      const bool on = share(image, x, y, 0xC000C0) > 0.5;
      runs += on && !in;
      in = on;
    }
    bestRuns = std::max(bestRuns, runs);
  }
  EXPECT_GE(bestRuns, 2);
}

// --- Bubbles ---------------------------------------------------------------------

// Areas follow values: 1 and 4 have radii in the ratio 2, 2.25 and 9 too,
// and the largest value takes the largest radius. BRADIUSMIN= keeps 0.001
// visible as a floor and moves no other bubble.
TEST(ThematicBubbles, AreasFollowTheValues) {
  const std::string step = std::string("PROC TAVLO ") + kStates + " PLOTDATA=pts;\n"
                           "  CHOROMAP / MAPID=ID;\n  BUBBLE X=lon Y=lat SIZE=v / TIP=(v)";
  qv::test::ProgramRun run("OPTIONS OUTPUT=SVG;\n" + step + " BRADIUSMAX=30;\nRUN;\n" + step +
                               " BRADIUSMAX=30 BRADIUSMIN=3;\nRUN;\n",
                           {{"pts.csv", kPoints}});
  ASSERT_EQ(run.status(), 0) << run.log();
  std::map<std::string, Circle> plain = bubblesByTip(svgOf(run)),
                                floored = bubblesByTip(svgOf(run, "tavlo1.svg"));
  ASSERT_EQ(plain.size(), 5u);
  EXPECT_NEAR(plain["v: 4"].radius / plain["v: 1"].radius, 2, 0.04);
  EXPECT_NEAR(plain["v: 9"].radius / plain["v: 2.25"].radius, 2, 0.04);
  EXPECT_NEAR(plain["v: 9"].radius, 30, 0.05);
  EXPECT_LT(plain["v: 0.001"].radius, 3);
  EXPECT_NEAR(floored["v: 0.001"].radius, 3, 0.05);
  for (const char* tip : {"v: 1", "v: 2.25", "v: 4", "v: 9"})
    EXPECT_NEAR(floored[tip].radius, plain[tip].radius, 0.02) << tip;
}

// Under BY the scale is the step's: 4 has one radius in both groups' maps,
// though each group's largest value differs, and the size key is the same
// on both. A key circle has the area of a bubble of its value.
TEST(ThematicBubbles, OneScaleForEveryGroupAndItsKey) {
  const std::string points =
      "g,lon,lat,v\n"
      "x,-110,40,4\n"
      "x,-100,35,1\n"
      "y,-90,40,4\n"
      "y,-80,35,100\n";
  qv::test::ProgramRun run(std::string("OPTIONS OUTPUT=SVG;\nPROC TAVLO ") + kStates +
                               " PLOTDATA=pts;\n  CHOROMAP / MAPID=ID;\n"
                               "  BUBBLE X=lon Y=lat SIZE=v / TIP=(v);\n  BY g;\nRUN;\n",
                           {{"pts.csv", points}});
  ASSERT_EQ(run.status(), 0) << run.log();
  const std::string first = svgOf(run), second = svgOf(run, "tavlo1.svg");
  std::map<std::string, Circle> x = bubblesByTip(first), y = bubblesByTip(second);
  ASSERT_TRUE(x.count("v: 4") && y.count("v: 4") && y.count("v: 100"));
  EXPECT_NEAR(x["v: 4"].radius, y["v: 4"].radius, 0.01);
  EXPECT_NEAR(y["v: 100"].radius / y["v: 4"].radius, 5, 0.1);

  // The size key: circles of round values, each followed by its label.
  const double scale = y["v: 100"].radius * y["v: 100"].radius / 100;  // area per value
  for (const std::string* svg : {&first, &second}) {
    int keyCircles = 0;
    for (const Mark& m : marks(*svg, "legend")) {
      if (m.body.find(">v</text>") == std::string::npos) continue;  // titled by SIZE's label
      std::vector<std::string> parts;
      const std::regex re(R"(<path\b[^>]*/>|<text\b[^>]*>[^<]*</text>)");
      for (auto it = std::sregex_iterator(m.body.begin(), m.body.end(), re);
           it != std::sregex_iterator(); ++it)
        parts.push_back(it->str());
      for (size_t i = 0; i + 2 < parts.size(); ++i) {
        const Circle c = circleOf(parts[i]);
        if (!(c.radius > 0) || parts[i + 2].rfind("<text", 0) != 0) continue;
        const double value = numbersOf(parts[i + 2].substr(parts[i + 2].find('>'))).at(0);
        EXPECT_NEAR(c.radius * c.radius / value, scale, scale * 0.03) << value;
        ++keyCircles;
      }
    }
    EXPECT_GE(keyCircles, 2);
    EXPECT_LE(keyCircles, 4);
  }
}

// --- Region labels -------------------------------------------------------------

// The states and their labels, each by its tip (TIP=(NAME)): the label's
// block and the state's projected rings.
struct Labelled {
  std::map<std::string, TextBlock> labels;
  std::map<std::string, std::vector<std::vector<Point>>> regions;
};
Labelled labelled(const std::string& svg) {
  Labelled out;
  const FontStyle font = defaultStyle().graphDataText;
  for (const Mark& m : marks(svg, "label"))
    out.labels[m.tip] = textBlock(elements(m.body, "text").at(0), font);
  for (const Mark& m : marks(svg, "region"))
    out.regions[m.tip] = pathRings(attr(elements(m.body, "path").at(0), "d"));
  return out;
}

std::string statesProgram(const std::string& overlap) {
  return "OPTIONS OUTPUT=SVG GRAPHWIDTH=1000 GRAPHHEIGHT=640 LABELOVERLAP=" + overlap +
         ";\nPROC TAVLO " + kStates +
         ";\n  CHOROMAP / MAPID=ID DATALABEL=NAME TIP=(NAME);\nRUN;\n";
}

// Every label stands inside its own state, as drawn (Michigan's two
// peninsulas and Florida's bent shape among them): the middle of its block
// is inside the state's projected rings.
TEST(ThematicRegionLabels, EachLabelInsideItsState) {
  qv::test::ProgramRun run(statesProgram("SHOW"));
  ASSERT_EQ(run.status(), 0) << run.log();
  const Labelled l = labelled(svgOf(run));
  EXPECT_EQ(l.labels.size(), 49u);  // the lower 48 and the District of Columbia
  for (const char* name : {"NAME: Michigan", "NAME: Florida"}) EXPECT_EQ(l.labels.count(name), 1u);
  for (const auto& [tip, label] : l.labels) {
    ASSERT_EQ(l.regions.count(tip), 1u) << tip;
    EXPECT_EQ("NAME: " + label.text, tip);
    const Point middle{label.box.x + label.box.width / 2, label.box.y + label.box.height / 2};
    EXPECT_GT(distanceInside(l.regions.at(tip), middle), 0) << tip;
  }
}

// Under HIDE no two labels overlap, and those left out (the states too
// small for their names) are counted.
TEST(ThematicRegionLabels, HiddenLabelsLeaveNoOverlap) {
  qv::test::ProgramRun run(statesProgram("HIDE"));
  ASSERT_EQ(run.status(), 0) << run.log();
  const Labelled l = labelled(svgOf(run));
  std::smatch note;
  ASSERT_TRUE(std::regex_search(run.log(), note, std::regex(R"((\d+) labels? that would overlap)")))
      << run.log();
  EXPECT_EQ(l.labels.size() + std::stoul(note[1]), 49u);
  EXPECT_GT(l.labels.size(), 30u);
  std::vector<Rect> boxes;
  for (const auto& [tip, label] : l.labels) boxes.push_back(label.box);
  for (size_t i = 0; i < boxes.size(); ++i)
    for (size_t j = i + 1; j < boxes.size(); ++j) {
      const Rect& a = boxes[i];
      const Rect& b = boxes[j];
      const bool apart = a.right() <= b.x + 0.05 || b.right() <= a.x + 0.05 ||
                         a.bottom() <= b.y + 0.05 || b.bottom() <= a.y + 0.05;
      EXPECT_TRUE(apart) << i << " " << j;
    }
}

}  // namespace
}  // namespace qv::render
