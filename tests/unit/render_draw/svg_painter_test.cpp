// The SVG writer and the HTML page: shapes as single elements in viewBox
// space, clip groups that close with their state, marks that hold their tip
// and link safely, text that keeps its place, and documents a parser takes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <regex>

#include "render/paint/canvas.h"
#include "render/paint/html.h"
#include "render/paint/svg_painter.h"
#include "render/paint/text.h"

namespace qv::render {
namespace {

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// Whether xmllint (libxml2-utils) parses the document as XML: tags nest,
// every '&' starts a reference, no '<' inside attribute values.
::testing::AssertionResult parsesAsXml(const std::string& doc) {
  char path[] = "/tmp/qv_svg_XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return ::testing::AssertionFailure() << "no temporary file";
  const bool written = ::write(fd, doc.data(), doc.size()) == ssize_t(doc.size());
  ::close(fd);
  std::string out;
  FILE* p = ::popen(("xmllint --noout " + std::string(path) + " 2>&1").c_str(), "r");
  char buf[512];
  size_t n;
  while (p && (n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int rc = p ? ::pclose(p) : -1;
  ::unlink(path);
  if (written && rc == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "xmllint (libxml2-utils) refused the document: " << out;
}

std::vector<std::string> attributeValues(const std::string& doc, const std::string& name) {
  std::vector<std::string> out;
  const std::regex re(" " + name + "=\"([^\"]*)\"");
  for (auto it = std::sregex_iterator(doc.begin(), doc.end(), re); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1]);
  return out;
}

TEST(SvgPainter, ShapesAreSingleElementsInViewBoxSpace) {
  SvgPainter p(200, 100, 2);
  // A fill and a stroke of one path: one element with both.
  p.rectangle(10, 10, 20, 30);
  p.setColor(rgbHex(0x3366cc, 0.5));
  p.fillPreserve();
  p.setColor(rgbHex(0x111111));
  p.setLineWidth(1.5);
  p.stroke();
  // The other order: one element with the stroke beneath.
  p.rectangle(40, 10, 5, 5);
  p.strokePreserve();
  p.setColor(rgbHex(0xff0000));
  p.fill();
  // A region of two rings (one a hole) is one path, even-odd.
  p.setFillRule(FillRule::EvenOdd);
  p.rectangle(60, 10, 30, 30);
  p.rectangle(70, 20, 10, 10);
  p.fill();
  p.setFillRule(FillRule::Winding);
  // A transform applies to the coordinates written; Cairo's order.
  p.save();
  p.translate(100, 50);
  p.scale(2, 2);
  p.rectangle(0, 0, 10, 5);
  p.fill();
  // A circle under an uneven scale is an ellipse of curves.
  p.scale(2, 1);
  p.arc(5, 0, 10, 0, 2 * std::numbers::pi);
  p.stroke();
  p.restore();
  // Non-finite coordinates leave the shape out; fractions are rounded.
  p.moveTo(0, 0);
  p.lineTo(NAN, 3);
  p.fill();
  p.moveTo(-0.001, 1.0 / 3);
  p.lineTo(1e30, -2.004);
  p.lineTo(5, 5);
  p.fill();

  const std::string doc = p.document();
  EXPECT_TRUE(parsesAsXml(doc));
  EXPECT_NE(doc.find("width=\"400\" height=\"200\" viewBox=\"0 0 200 100\""), std::string::npos);

  const std::vector<std::string> d = attributeValues(doc, "d");
  ASSERT_EQ(d.size(), 6u) << doc;
  EXPECT_EQ(count(doc, "<path"), 6u);
  EXPECT_EQ(d[0], "M10 10h20v30h-20z");
  EXPECT_NE(doc.find("fill=\"#3366cc\" fill-opacity=\".5\" stroke=\"#111111\" stroke-width=\"1.5\""),
            std::string::npos)
      << doc;
  EXPECT_NE(doc.find("stroke=\"#111111\" stroke-width=\"1.5\" paint-order=\"stroke\""), std::string::npos)
      << "strokePreserve then fill: " << doc;
  EXPECT_EQ(d[2], "M60 10h30v30h-30zM70 20h10v10h-10z");
  EXPECT_EQ(count(doc, "fill-rule=\"evenodd\""), 1u);
  EXPECT_EQ(d[3], "M100 50h20v10h-20z");

  // Numbers: at most two decimals, no exponent, no "-0".
  EXPECT_EQ(d[5], "M0 .33l1000000000-2.33-999999995 7") << doc;
  for (const std::string& v : d) {
    EXPECT_FALSE(std::regex_search(v, std::regex("[eE]|\\.[0-9]{3}|-0(?![.0-9])"))) << v;
  }
}

TEST(SvgPainter, ClipGroupsCloseWithTheirStateAndMarksStayWhole) {
  SvgPainter p(100, 100);
  p.save();
  p.rectangle(0, 0, 50, 50);
  p.clip();
  p.rectangle(1, 1, 2, 2);
  p.fill();
  p.save();
  p.rectangle(10, 10, 20, 20);
  p.clip();
  p.setColor(rgbHex(0x00ff00));
  p.paint();  // covers the inner clip's bounds, under both clips
  p.restore();
  p.restore();
  p.rectangle(90, 90, 5, 5);
  p.fill();  // outside every clip

  // A mark that clips inside itself stays one element.
  p.beginItem({"region", "Alpha", ""});
  p.save();
  p.rectangle(0, 0, 10, 10);
  p.clip();
  p.rectangle(0, 0, 20, 20);
  p.fill();
  p.restore();
  p.rectangle(30, 30, 5, 5);
  p.fill();
  p.endItem();
  // A mark with nothing drawn leaves nothing; stray calls break nothing.
  p.beginItem({"region", "Empty", ""});
  p.endItem();
  p.endItem();
  p.restore();
  p.beginItem({"label", "", ""});  // left open: document() closes it
  p.rectangle(0, 0, 1, 1);
  p.fill();

  const std::string doc = p.document();
  EXPECT_TRUE(parsesAsXml(doc)) << doc;
  EXPECT_EQ(count(doc, "<clipPath"), 3u);
  EXPECT_EQ(count(doc, "class=\"region\""), 1u);
  EXPECT_EQ(doc.find("Empty"), std::string::npos);
  EXPECT_NE(doc.find("<rect x=\"10\" y=\"10\" width=\"20\" height=\"20\" fill=\"#00ff00\"/>"),
            std::string::npos)
      << doc;
  // The shape drawn after both restores is outside any clip group.
  const size_t last = doc.find("M90 90");
  ASSERT_NE(last, std::string::npos);
  const std::string before = doc.substr(0, last);
  EXPECT_EQ(count(before, "<g clip-path"), count(before, "</g>")) << doc;
  // The mark's second shape is in the mark but not under its clip.
  const size_t mark = doc.find("class=\"region\"");
  const size_t second = doc.find("M30 30");
  ASSERT_LT(mark, second);
  const std::string inMark = doc.substr(mark, second - mark);
  EXPECT_EQ(count(inMark, "<g clip-path"), count(inMark, "</g>")) << doc;
  EXPECT_EQ(count(doc.substr(mark), "</g>"), count(doc.substr(mark), "<g") + 1) << doc;
}

TEST(SvgPainter, TipsAndLinksAreEscapedAndOnlySafeLinksKept) {
  const std::string hostile = "</title><script>alert('x')</script> & \"q\"\x01\xff\xc3\n2nd line \xe2\x82\xac";
  SvgPainter p(10, 10);
  const std::vector<std::pair<std::string, bool>> urls = {
      {"javascript:alert(1)", false},
      {" JaVa\tScript:alert(1)", false},
      {"data:text/html,<b>x</b>", false},
      {"vbscript:x", false},
      {"https://example.org/county/1?a=1&b=<2>", true},
      {"mailto:someone@example.org", true},
      {"county.html?id=7", true},
      {"/a:b", true},
  };
  for (const auto& [url, kept] : urls) {
    p.beginItem({"region", hostile, url});
    p.rectangle(0, 0, 1, 1);
    p.fill();
    p.endItem();
  }
  const std::string doc = p.document();
  EXPECT_TRUE(parsesAsXml(doc)) << doc;
  EXPECT_EQ(count(doc, "<script"), 0u);
  EXPECT_EQ(count(doc, "class=\"region\""), urls.size());
  EXPECT_EQ(count(doc, "<title>"), urls.size());
  // Only the safe links, each once, escaped.
  const std::vector<std::string> hrefs = attributeValues(doc, "href");
  EXPECT_EQ(hrefs, (std::vector<std::string>{"https://example.org/county/1?a=1&amp;b=&lt;2&gt;",
                                             "mailto:someone@example.org", "county.html?id=7", "/a:b"}));
  EXPECT_EQ(count(doc, "javascript"), 0u);
  EXPECT_EQ(count(doc, "ript:"), 0u);
  // The tip keeps its line break, its euro sign and its quotes as text;
  // bad bytes and controls become replacement characters.
  const std::string tip = attributeValues(doc, "data-tip").at(0);
  EXPECT_EQ(tip,
            "&lt;/title&gt;&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;"
            "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD&#10;2nd line \xe2\x82\xac");
  EXPECT_NE(doc.find("<title>&lt;/title&gt;"), std::string::npos);

  // A page of two such maps with clips: ids stay unique, references
  // follow them, the caption is text, and the one script is the page's.
  SvgPainter a(10, 10), b(10, 10);
  for (SvgPainter* q : {&a, &b}) {
    q->rectangle(0, 0, 5, 5);
    q->clip();
    q->setLinearGradient({0, 0}, {5, 0}, {{0, rgbHex(0)}, {1, rgbHex(0xffffff, 0.5)}});
    q->paint();
  }
  const std::string page =
      htmlPage("Maps <&>", {{"state=<NV>", a.element()}, {"", b.element()}, {"x", p.element()}});
  EXPECT_EQ(count(page, "<script"), 1u);
  const size_t script = page.find("<script>"), scriptEnd = page.find("</script>");
  ASSERT_LT(script, scriptEnd);
  // Less its script and with its void <meta> elements closed, it is XML.
  EXPECT_TRUE(parsesAsXml(std::regex_replace(page.substr(0, script) + page.substr(scriptEnd + 9),
                                             std::regex("<meta([^>]*[^/])>"), "<meta$1/>")));
  EXPECT_NE(page.find("<title>Maps &lt;&amp;&gt;</title>"), std::string::npos);
  EXPECT_NE(page.find("<figcaption>state=&lt;NV&gt;</figcaption>"), std::string::npos);
  EXPECT_EQ(count(page, "<figcaption>"), 2u);
  std::vector<std::string> ids = attributeValues(page, "id");
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"q-c1", "q-g2", "q1-c1", "q1-g2"}));
  EXPECT_EQ(count(page, "url(#q-c1)"), 1u);
  EXPECT_EQ(count(page, "url(#q1-c1)"), 1u);
  EXPECT_EQ(count(page, "url(#q1-g2)"), 1u);
  EXPECT_EQ(page.find("<?xml"), std::string::npos);
}

// Where plain text lands is checked by the browser test, which compares the
// page with the PNG; here, text stays escaped text, keeps double blanks, and
// turns about its own start.
TEST(SvgPainter, TextStaysEscapedText) {
  FontStyle font;
  font.sizePt = 12;
  TextLayout two("North  <1>\nSouth & co", font, Justify::Left);
  SvgPainter p(300, 300);
  p.drawText(two, 10, 20, rgbHex(0x222222), 2, rgbHex(0xffffff, 0.5));
  // Turned a quarter counterclockwise, and sheared: the turn is about the
  // text's own start, the shear goes with it as a matrix.
  TextLayout one("Turned", font, Justify::Left);
  p.save();
  p.translate(150, 100);
  p.rotate(-std::numbers::pi / 2);
  p.drawText(one, 0, 0, rgbHex(0), 0, {});
  p.restore();
  p.scale(2, 1);
  p.drawText(one, 5, 5, rgbHex(0), 0, {});
  const std::string doc = p.document();
  EXPECT_TRUE(parsesAsXml(doc)) << doc;
  const std::regex textRe("<text([^>]*)>([^<]*)</text>");
  std::vector<std::pair<std::string, std::string>> texts;
  for (auto it = std::sregex_iterator(doc.begin(), doc.end(), textRe); it != std::sregex_iterator(); ++it)
    texts.push_back({(*it)[1], (*it)[2]});
  ASSERT_EQ(texts.size(), 4u) << doc;
  static const std::regex turned(R"re( x="([0-9.]+)" y="([0-9.]+)".* transform="rotate\(-90 \1 \2\)")re");
  EXPECT_TRUE(std::regex_search(texts[2].first, turned)) << texts[2].first;
  EXPECT_NE(texts[3].first.find(" transform=\"matrix(2 0 0 1 0 0)\""), std::string::npos) << texts[3].first;
  EXPECT_EQ(texts[0].second, "North  &lt;1&gt;");
  EXPECT_EQ(texts[1].second, "South &amp; co");
  // Two blanks in a row survive; a plain line needs no preserving.
  EXPECT_NE(texts[0].first.find(" xml:space=\"preserve\""), std::string::npos);
  EXPECT_EQ(texts[1].first.find("xml:space"), std::string::npos);
}

TEST(SvgPainter, ImagesAreEmbeddedPng) {
  Canvas tile(4, 4);
  tile.fill(rgbHex(0x0072b2));
  SvgPainter p(64, 64);
  p.save();
  p.translate(8, 8);
  p.drawImage(tile, {0, 0, 32, 16}, false);
  p.restore();
  p.drawImage(tile, {NAN, 0, 1, 1}, true);  // left out
  const std::string doc = p.document();
  EXPECT_EQ(count(doc, "<image"), 1u);
  EXPECT_NE(doc.find("<image x=\"8\" y=\"8\" width=\"32\" height=\"16\" preserveAspectRatio=\"none\" "
                     "image-rendering=\"pixelated\" href=\"data:image/png;base64,iVBORw0KGgo"),
            std::string::npos)
      << doc.substr(0, 600);
  EXPECT_TRUE(parsesAsXml(doc));
}

}  // namespace
}  // namespace qv::render
