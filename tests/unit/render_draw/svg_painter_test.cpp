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

#include <libdeflate.h>

#include "render/paint/canvas.h"
#include "render/paint/html.h"
#include "render/paint/mark_picture.h"
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

// A layer drawn as one picture: each mark is found in its mark map where
// it is drawn on top (fills, strokes, text by its box), clipped to the map
// area; what is drawn outside a mark is in the picture only. Its tips and
// links come back whole (a NUL in a tip replaced, an unsafe link dropped),
// and the page's element holds nothing of them but base64.
TEST(MarkPicture, MarksAreFoundWhereTheyAreOnTop) {
  MarkPicture pic(100, 80, Rect{10.5, 10.5, 60, 50}, 2);
  using namespace std::string_literals;
  pic.beginItem({"region", "A\0<b>\nline 2"s, "https://example.org/a?x=1&y=2"});
  pic.rectangle(0, 0, 40, 40);  // reaches outside the area: clipped
  pic.setColor(rgbHex(0x336699));
  pic.fill();
  pic.endItem();
  pic.setColor(rgbHex(0xff0000));
  pic.rectangle(62, 50, 8, 10);  // no mark
  pic.fill();
  pic.beginItem({"region", "B", "javascript:alert(1)"});
  pic.setLineWidth(4);
  pic.setDash({1, 3});  // hit along its whole length
  pic.moveTo(20, 30);
  pic.lineTo(60, 30);
  pic.stroke();
  pic.endItem();
  FontStyle font;
  font.sizePt = 12;
  TextLayout label("Label", font, Justify::Left);
  pic.beginItem({"label", "C", ""});
  pic.save();
  pic.translate(5, 0);
  pic.drawText(label, 20, 35, rgbHex(0), 0, {});
  pic.restore();
  pic.endItem();
  pic.check("the test");
  const PictureLayer layer = pic.finish();
  EXPECT_EQ(layer.kind, "region");
  EXPECT_EQ(layer.marks, 3u);
  EXPECT_EQ(layer.box.x, 10);
  EXPECT_EQ(layer.box.y, 10);
  EXPECT_EQ(layer.box.width, 61);
  EXPECT_EQ(layer.box.height, 51);
  const Canvas png = decodePng(layer.png.data(), layer.png.size(), "the picture");
  EXPECT_EQ(png.width(), 122);
  EXPECT_EQ(png.height(), 102);
  EXPECT_EQ(png.pixelRgba(10, 10), 0x336699ffu);  // (15, 15) in units
  EXPECT_EQ(png.pixelRgba(112, 90), 0xff0000ffu);  // (66, 55)
  EXPECT_EQ(png.pixelRgba(0, 0), 0u);               // outside the area

  // The index unpacked.
  std::vector<unsigned char> raw(1 << 20);
  size_t got = 0;
  libdeflate_decompressor* d = libdeflate_alloc_decompressor();
  ASSERT_EQ(libdeflate_zlib_decompress(d, layer.index.data(), layer.index.size(), raw.data(),
                                       raw.size(), &got),
            LIBDEFLATE_SUCCESS);
  libdeflate_free_decompressor(d);
  raw.resize(got);
  auto word = [&](size_t at) {
    return uint32_t(raw[at]) | uint32_t(raw[at + 1]) << 8 | uint32_t(raw[at + 2]) << 16 |
           uint32_t(raw[at + 3]) << 24;
  };
  const uint32_t w = word(0), h = word(4);
  ASSERT_EQ(w, 61u);
  ASSERT_EQ(h, 51u);
  EXPECT_EQ(word(8), 3u);
  EXPECT_EQ(word(12), 4u);
  // The mark at (x, y) in units.
  auto at = [&](int x, int y) { return word(16 + 4 * (size_t(y - 10) * w + size_t(x - 10))); };
  EXPECT_EQ(at(11, 11), 1u);
  EXPECT_EQ(at(39, 20), 1u);
  EXPECT_EQ(at(30, 30), 2u);  // the line over A
  EXPECT_EQ(at(57, 30), 2u);  // between its dashes
  EXPECT_EQ(at(66, 55), 0u);  // painted, but no mark
  EXPECT_EQ(at(30, 38), 3u);  // the label's box over A
  EXPECT_EQ(at(30, 50), 3u);
  EXPECT_EQ(at(23, 38), 1u);  // left of it (it was moved 5 to the right)
  const std::string texts(raw.begin() + 16 + 4 * w * h, raw.end());
  EXPECT_EQ(texts, "A\xEF\xBF\xBD<b>\nline 2\0https://example.org/a?x=1&y=2\0B\0\0C\0\0"s);

  SvgPainter svg(100, 80);
  svg.drawPicture(layer);
  const std::string doc = svg.document();
  EXPECT_TRUE(parsesAsXml(doc));
  EXPECT_EQ(count(doc, "<g class=\"marks\" data-kind=\"region\" data-marks=\"3\" data-index=\""), 1u);
  EXPECT_NE(doc.find("<image x=\"10\" y=\"10\" width=\"61\" height=\"51\" preserveAspectRatio=\"none\" "
                     "pointer-events=\"none\" href=\"data:image/png;base64,"),
            std::string::npos);
  EXPECT_EQ(count(doc, "<b>"), 0u);
  EXPECT_EQ(count(doc, "example.org"), 0u);
}

}  // namespace
}  // namespace qv::render
