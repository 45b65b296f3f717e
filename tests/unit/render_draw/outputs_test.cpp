// What the vector outputs hold, read back through the tools a reader would
// use: one run of the command writes the county choropleth as PNG, PDF and
// SVG (OUTPUT= changed between steps); the SVG is read as text (a marked
// element per county, one path each, titles and legend labels as <text>),
// the PDF is turned back into pixels by pdftoppm and compared
// with the PNG, and its fonts and text are checked with pdffonts and
// pdftotext (poppler-utils, installed by scripts/bootstrap.sh).
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support.h"
#include "program_run.h"
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

// The texts of all <text> elements (the checks here read plain ASCII).
std::vector<std::string> textsOf(const std::string& svg) {
  std::vector<std::string> out;
  static const std::regex textRe("<text[^>]*>([^<]*)</text>");
  for (std::sregex_iterator it(svg.begin(), svg.end(), textRe), end; it != end; ++it)
    out.push_back((*it)[1]);
  return out;
}

// The county choropleth of the lower 48 states (without Oglala Lakota
// county, which has no rate in the response data: every region has a
// tip), with a title and a key legend.
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

  const std::string tpl = readFile(run.dir() + "/counties.tpl");

  // SVG: a marked element per county (the browser test reads each one's
  // tip and compares the page's pixels with the PNG), and one <path> per
  // region, not one per ring: about as many paths as marked regions, plus a
  // few for the legend and frame.
  const std::string svg = readFile(run.out() + "/tavlo2.svg");
  ASSERT_NE(svg.find("<svg"), std::string::npos) << svg.substr(0, 300);
  size_t regions = 0, paths = 0;
  for (size_t at = svg.find("<g class=\"region\""); at != std::string::npos;
       at = svg.find("<g class=\"region\"", at + 1))
    ++regions;
  for (size_t at = svg.find("<path"); at != std::string::npos; at = svg.find("<path", at + 1))
    ++paths;
  EXPECT_GT(regions, 3000u);
  EXPECT_GE(paths, regions);
  EXPECT_LT(paths, regions + 60);

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

}  // namespace
}  // namespace qv::test
