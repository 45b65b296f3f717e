// What the vector outputs hold, read back through the tools a reader would
// use: one run of the command writes the county choropleth as PNG, PDF and
// SVG (OUTPUT= changed between steps); the SVG is read as text (a marked
// element per county, filled with its class color, titles and legend labels
// as <text>), the PDF is turned back into pixels by pdftoppm and compared
// with the PNG, and its fonts and text are checked with pdffonts and
// pdftotext (poppler-utils, installed by scripts/bootstrap.sh). GRAPHDPI=
// is checked by drawing a map at 96 and 192 pixels per inch.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "pipeline.h"
#include "support.h"
#include "program_run.h"
#include "render/style.h"
#include "visual.h"

namespace qv::test {
namespace {

// Runs a shell command; its standard output, and its exit status in
// `status` (-1 when it could not be started).
std::string runCommand(const std::string& command, int* status) {
  std::string out;
  FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  std::array<char, 4096> buf;
  size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  const int rc = ::pclose(p);
  *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

bool haveTool(const std::string& name) {
  int status = 0;
  runCommand("command -v " + name, &status);
  return status == 0;
}

// The entities the SVG writer writes, decoded (the checks here read ASCII).
std::string xmlUnescape(std::string s) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&#10;", "\n"}, {"&amp;", "&"}};
  for (const auto& [from, to] : kEntities)
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + 1))
      s.replace(at, std::strlen(from), to);
  return s;
}

std::string attribute(const std::string& tag, const std::string& name) {
  std::smatch m;
  return std::regex_search(tag, m, std::regex(" " + name + "=\"([^\"]*)\"")) ? xmlUnescape(m[1]) : "";
}

// The writer's marks: <g class="KIND" ...> up to its matching </g> (clip
// groups may nest inside); the opening tag and the whole element.
struct Element {
  std::string tag, body;
};

std::vector<Element> elementsOfClass(const std::string& svg, const std::string& cls) {
  std::vector<Element> out;
  const std::string open = "<g class=\"" + cls + "\"";
  for (size_t at = svg.find(open); at != std::string::npos; at = svg.find(open, at + 1)) {
    size_t p = at + 1;
    for (int depth = 1; depth > 0;) {
      const size_t g = svg.find("<g", p), shut = svg.find("</g>", p);
      if (shut == std::string::npos) break;
      depth += g < shut ? 1 : -1;
      p = (g < shut ? g : shut) + 2;
    }
    out.push_back({svg.substr(at, svg.find('>', at) - at + 1), svg.substr(at, p - at)});
  }
  return out;
}

// The first fill color in an element as 0xRRGGBB; -1 when there is none.
long fillOf(const std::string& element) {
  std::smatch m;
  return std::regex_search(element, m, std::regex(" fill=\"#([0-9a-f]{6})\""))
             ? std::strtol(m[1].str().c_str(), nullptr, 16)
             : -1;
}

// The texts of all <text> elements, unescaped.
std::vector<std::string> textsOf(const std::string& svg) {
  std::vector<std::string> out;
  static const std::regex textRe("<text[^>]*>([^<]*)</text>");
  for (std::sregex_iterator it(svg.begin(), svg.end(), textRe), end; it != end; ++it)
    out.push_back(xmlUnescape((*it)[1]));
  return out;
}

bool near(long a, long b, int tolerance) {
  for (int s = 0; s < 24; s += 8)
    if (std::abs(((a >> s) & 0xFF) - ((b >> s) & 0xFF)) > tolerance) return false;
  return true;
}

// The county choropleth of the lower 48 states (without Oglala Lakota
// county, which has no rate in the response data: every region has a
// tip), with a title and a key legend. The two COLORMODEL= ends make the
// class colors known: class k of 5 is mixed k/4 of the way from the first
// to the second.
const char* kCountyStep = R"P(
PROC TAVLO MAPDATA=ex.us_counties(WHERE=((ID < 2000 or (ID >= 4000 and ID < 15000)
                                          or (ID >= 16000 and ID < 60000)) and ID ne 46102))
           MAPRESPDATA=ex.unemployment TMPLOUT='counties.tpl';
  CHOROMAP rate / MAPID=ID ID=id NUMLEVELS=5 LEVELTYPE=QUANTILE TIP=(id rate)
                  COLORMODEL=(CXF7FBFF CX08306B) LEGENDLABEL="Unemployment rate";
  KEYLEGEND "CHOROMAP" / TITLE="Unemployment rate";
RUN;
)P";
const char* kTitle = "Unemployment rate by county";

// Poppler and Cairo anti-alias the thousands of hairline county borders a
// little differently, and the PNG's text is hinted to the pixel grid while
// the PDF's is not: about 1.5% of the pixels differ by more than 48.
constexpr int kPdfTolerance = 48;
constexpr double kPdfFraction = 0.02;

TEST(Outputs, CountyChoroplethAsPngPdfAndSvg) {
  ProgramRun run(std::string("OPTIONS GRAPHWIDTH=640 GRAPHHEIGHT=400;\nTITLE \"") + kTitle +
                 "\";\nOPTIONS OUTPUT=PNG;" + kCountyStep + "OPTIONS OUTPUT=PDF;" + kCountyStep +
                 "OPTIONS OUTPUT=SVG;" + kCountyStep);
  ASSERT_EQ(run.status(), 0) << run.log();
  for (const char* f : {"tavlo.png", "tavlo1.pdf", "tavlo2.svg"})
    ASSERT_TRUE(run.wrote(f)) << f << "\n" << run.log();

  // The classes the renderer gives the counties, from the same template.
  const std::string tpl = readFile(run.dir() + "/counties.tpl");
  Pipeline p;
  render::RenderResult r =
      p.draw(tpl, {{"RESPONSEDATA", p.open("EX", "unemployment")}},
             p.open("EX", "us_counties",
                    "(ID < 2000 or (ID >= 4000 and ID < 15000) or (ID >= 16000 and ID < 60000)) "
                    "and ID ne 46102"),
             {{"__MAPID__", "ID"}, {"__ID__", "id"}}, 320, 200);
  ASSERT_EQ(r.regionClasses.size(), 1u);
  std::map<long, int> classOf;
  for (const auto& [key, cls] : r.regionClasses[0].regions)
    classOf[std::strtol(key.c_str(), nullptr, 10)] = cls;
  ASSERT_GT(classOf.size(), 3000u);

  // SVG: one marked element per county, filled with its class color.
  const std::string svg = readFile(run.out() + "/tavlo2.svg");
  ASSERT_NE(svg.find("<svg"), std::string::npos) << svg.substr(0, 300);
  const std::vector<Element> regions = elementsOfClass(svg, "region");
  // Every county, however small at this size (a vector drawing can be
  // zoomed into), but Falls Church, which the map data draws as a ring of
  // two distinct points.
  classOf.erase(51610);
  EXPECT_EQ(regions.size(), classOf.size());
  const render::Rgba lo = render::rgbHex(0xF7FBFF), hi = render::rgbHex(0x08306B);
  std::set<long> seen;
  int wrong = 0;
  for (const Element& e : regions) {
    std::string tip = attribute(e.tag, "data-tip");
    if (tip.empty()) tip = attribute(e.body, "data-tip");
    const std::string first = tip.substr(0, tip.find('\n'));
    std::smatch m;
    static const std::regex lastNumber("([0-9]+)\\s*$");
    if (!std::regex_search(first, m, lastNumber)) {
      if (++wrong <= 5) ADD_FAILURE() << "no county number in the tip of " << e.tag;
      continue;
    }
    const long id = std::strtol(m[1].str().c_str(), nullptr, 10);
    EXPECT_TRUE(seen.insert(id).second) << "county " << id << " is marked twice";
    // The tip shows the rate too, and the element says it in a <title>.
    EXPECT_NE(tip.find('\n'), std::string::npos) << tip;
    EXPECT_NE(e.body.find("<title>"), std::string::npos) << e.body.substr(0, 300);
    auto c = classOf.find(id);
    if (c == classOf.end() || c->second < 0) {
      if (++wrong <= 5) ADD_FAILURE() << "county " << id << " has no class";
      continue;
    }
    const long want = long(qv::test::hexOf(render::mix(lo, hi, c->second / 4.0)));
    const long got = fillOf(e.body);
    if (!near(got, want, 2) && ++wrong <= 5)
      ADD_FAILURE() << "county " << id << " in class " << c->second << " is filled " << std::hex
                    << got << ", expected " << want << ": " << e.body.substr(0, 300);
  }
  EXPECT_EQ(wrong, 0);
  for (const auto& [id, cls] : classOf)
    if (!seen.count(id) && ++wrong <= 5) ADD_FAILURE() << "county " << id << " has no element";
  // One <path> per region, not one per ring: the paths are about as many as
  // the marked regions, plus a few for the legend and frame.
  size_t paths = 0;
  for (size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1))
    ++paths;
  EXPECT_GE(paths, regions.size());
  EXPECT_LT(paths, regions.size() + 60);

  // Texts stay text: the title, the legend title and every class label.
  const std::vector<std::string> texts = textsOf(svg);
  auto hasText = [&texts](const std::string& want) {
    for (const std::string& t : texts)
      if (t.find(want) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(hasText(kTitle));
  EXPECT_TRUE(hasText("Unemployment rate"));
  int labels = 0;
  static const std::regex labelRe("DiscreteLabel=\"([^\"]*)\"");
  for (std::sregex_iterator it(tpl.begin(), tpl.end(), labelRe), end; it != end; ++it, ++labels)
    EXPECT_TRUE(hasText((*it)[1].str())) << "legend label " << (*it)[1].str();
  EXPECT_EQ(labels, 5);

  // PDF: drawn back into pixels at 96 per inch, it is the PNG.
  ASSERT_TRUE(haveTool("pdftoppm") && haveTool("pdffonts") && haveTool("pdftotext"))
      << "poppler-utils is missing: run scripts/bootstrap.sh";
  const std::string pdf = run.out() + "/tavlo1.pdf";
  EXPECT_EQ(readFile(pdf).substr(0, 5), "%PDF-");
  int status = 0;
  const std::string out = runCommand(
      "pdftoppm -r 96 -png -singlefile '" + pdf + "' '" + run.dir() + "/from_pdf'", &status);
  ASSERT_EQ(status, 0) << out;
  const render::Canvas fromPdf = render::readPngFile(run.dir() + "/from_pdf.png");
  EXPECT_TRUE(matchesImage(fromPdf, run.image("tavlo.png"), kPdfTolerance, kPdfFraction,
                           "outputs_pdf"));

  // Text stays text, its fonts embedded.
  const std::string fonts = runCommand("pdffonts '" + pdf + "'", &status);
  ASSERT_EQ(status, 0) << fonts;
  std::istringstream lines(fonts);
  std::string line;
  int fontLines = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("name", 0) == 0 || line.rfind("----", 0) == 0 || line.empty()) continue;
    ++fontLines;
    // The columns after the type and encoding: emb sub uni object ID.
    EXPECT_TRUE(std::regex_search(line, std::regex("\\s(yes)\\s+(yes|no)\\s+(yes|no)\\s+\\d+\\s+\\d+\\s*$")))
        << "a font is not embedded: " << line;
  }
  EXPECT_GE(fontLines, 1) << fonts;
  const std::string text = runCommand("pdftotext '" + pdf + "' -", &status);
  ASSERT_EQ(status, 0) << text;
  EXPECT_NE(text.find(kTitle), std::string::npos) << text;
  EXPECT_NE(text.find("Unemployment rate"), std::string::npos) << text;
}

// An image halved in each direction, each pixel the mean of four.
render::Canvas halve(const render::Canvas& big) {
  render::Canvas out(big.width() / 2, big.height() / 2);
  cairo_surface_flush(out.surface());
  unsigned char* data = cairo_image_surface_get_data(out.surface());
  const int stride = cairo_image_surface_get_stride(out.surface());
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    for (int x = 0; x < out.width(); ++x) {
      int sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
          const uint32_t p = big.pixelRgba(2 * x + dx, 2 * y + dy);
          for (int k = 0; k < 4; ++k) sum[k] += int((p >> (24 - 8 * k)) & 0xFF);
        }
      uint32_t v[4];
      for (int k = 0; k < 4; ++k) v[k] = uint32_t((sum[k] + 2) / 4);
      // Cairo keeps premultiplied ARGB.
      const uint32_t a = v[3];
      auto pm = [a](uint32_t c) { return (c * a + 127) / 255; };
      row[x] = (a << 24) | (pm(v[0]) << 16) | (pm(v[1]) << 8) | pm(v[2]);
    }
  }
  cairo_surface_mark_dirty(out.surface());
  return out;
}

// Text is hinted to the pixel grid at each size, so a halved 192 pixels
// per inch title or legend differs from the 96 one more than shapes do
// (about 2% of the whole image by more than 40, 0.4% of the map's band).
constexpr int kDpiTolerance = 40;
constexpr double kDpiFraction = 0.03;
constexpr double kDpiMapFraction = 0.01;

// Rows [y0, y1) of an image.
render::Canvas rows(const render::Canvas& c, int y0, int y1) {
  render::Canvas out(c.width(), y1 - y0);
  cairo_set_source_surface(out.cr(), c.surface(), 0, -y0);
  cairo_set_operator(out.cr(), CAIRO_OPERATOR_SOURCE);
  cairo_paint(out.cr());
  cairo_surface_flush(out.surface());
  return out;
}

// GRAPHDPI=192 doubles the pixels and keeps the layout: regions with their
// outlines, a line, markers (drawn straight into pixels) and the title all
// land where the 96 pixels per inch drawing has them.
TEST(Outputs, GraphDpiDoublesThePixelsNotTheLayout) {
  const std::string step = R"P(
PROC TAVLO MAPDATA=ex.us_states(WHERE=(ID in (4, 6, 32, 41, 49, 16, 53)))
           PLOTDATA=ex.outlines_airports(WHERE=((outline_lon = . and airport_lon = .)
                    or (outline_lon > -125 and outline_lon < -109 and outline_lat > 31)
                    or iata in ('SFO' 'LAX' 'SAN' 'SEA' 'GEG' 'PDX' 'BOI' 'SLC' 'LAS'
                                'RNO' 'PHX' 'TUS' 'FLG' 'SMF' 'EUG')));
  CHOROMAP / MAPID=ID LINEATTRS=(COLOR=black THICKNESS=1);
  SERIES X=outline_lon Y=outline_lat / LINEATTRS=(COLOR=red THICKNESS=2);
  SCATTER X=airport_lon Y=airport_lat / MARKERATTRS=(SYMBOL=circlefilled SIZE=10 COLOR=blue);
RUN;
)P";
  ProgramRun run("OPTIONS GRAPHWIDTH=320 GRAPHHEIGHT=240;\nTITLE \"Western airports\";\n" + step +
                 "OPTIONS GRAPHDPI=192;\n" + step);
  ASSERT_EQ(run.status(), 0) << run.log();
  ASSERT_TRUE(run.wrote("tavlo.png") && run.wrote("tavlo1.png")) << run.log();
  const render::Canvas small = run.image("tavlo.png");
  const render::Canvas big = run.image("tavlo1.png");
  EXPECT_EQ(small.width(), 320);
  EXPECT_EQ(small.height(), 240);
  ASSERT_EQ(big.width(), 640);
  ASSERT_EQ(big.height(), 480);
  const render::Canvas halved = halve(big);
  EXPECT_TRUE(matchesImage(halved, small, kDpiTolerance, kDpiFraction, "graphdpi_halved"));
  // The band of the map, between the title and the legend, holds no text.
  EXPECT_TRUE(matchesImage(rows(halved, 36, 192), rows(small, 36, 192), kDpiTolerance,
                           kDpiMapFraction, "graphdpi_map"));
}

}  // namespace
}  // namespace qv::test
