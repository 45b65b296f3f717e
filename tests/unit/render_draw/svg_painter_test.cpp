// The SVG writer and the HTML page: shapes as single elements in viewBox
// space, clip groups that close with their state, marks that hold their tip
// and link safely, text that keeps its place, and documents a parser takes.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <regex>

#include "render/canvas.h"
#include "render/html.h"
#include "render/svg_painter.h"
#include "render/text.h"

namespace qv::render {
namespace {

size_t count(const std::string& s, const std::string& what) {
  size_t n = 0;
  for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1)) ++n;
  return n;
}

// "" when the text is well-formed as far as this checker sees (tags nest,
// every '&' starts a reference, no '<' inside a tag's attribute values);
// otherwise what is wrong.
std::string xmlProblem(const std::string& s) {
  std::vector<std::string> open;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '&') {
      static const std::regex ref("&(amp|lt|gt|quot|#39|#[0-9]+);");
      std::smatch m;
      const std::string rest = s.substr(i, 8);
      if (!std::regex_search(rest, m, ref) || m.position(0) != 0) return "bare & at " + std::to_string(i);
      continue;
    }
    if (s[i] != '<') continue;
    size_t end = s.find('>', i);
    if (end == std::string::npos) return "unclosed tag";
    std::string tag = s.substr(i + 1, end - i - 1);
    if (count(tag, "\"") % 2) return "odd quotes in <" + tag.substr(0, 60);
    if (tag.find('<') != std::string::npos) return "'<' inside <" + tag.substr(0, 60);
    if (tag[0] == '?') continue;
    if (tag[0] == '!') continue;  // the HTML doctype
    if (tag[0] == '/') {
      if (open.empty() || open.back() != tag.substr(1)) return "</" + tag.substr(1) + "> closes nothing open";
      open.pop_back();
      continue;
    }
    if (tag.back() == '/') continue;
    const std::string name = tag.substr(0, tag.find_first_of(" \n"));
    if (name == "meta") continue;  // HTML's void element
    open.push_back(name);
  }
  return open.empty() ? "" : "<" + open.back() + "> left open";
}

// When xmllint is there, it parses the document too.
void expectXmllintTakes(const std::string& doc) {
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) return;
  FILE* p = popen("xmllint --noout - 2>&1", "w");
  ASSERT_TRUE(p);
  fwrite(doc.data(), 1, doc.size(), p);
  EXPECT_EQ(pclose(p), 0) << "xmllint refused the document";
}

// The absolute points of a path's "d" (M, l, h, v, c, z as the writer
// writes them, a repeated command left out), control points included.
std::vector<Point> pathPoints(const std::string& d) {
  std::vector<Point> pts;
  double x = 0, y = 0, sx = 0, sy = 0;
  size_t i = 0;
  auto num = [&]() {
    while (i < d.size() && d[i] == ' ') ++i;
    size_t used = 0;
    double v = std::stod(d.substr(i), &used);
    i += used;
    return v;
  };
  char c = 0;
  while (i < d.size()) {
    if (std::isalpha(static_cast<unsigned char>(d[i]))) c = d[i++];
    if (c == 'M') {
      x = sx = num();
      y = sy = num();
    } else if (c == 'l') {
      x += num();
      y += num();
    } else if (c == 'h') {
      x += num();
    } else if (c == 'v') {
      y += num();
    } else if (c == 'c') {
      for (int k = 0; k < 2; ++k) {
        double cx = x + num(), cy = y + num();
        pts.push_back({cx, cy});
      }
      x += num();
      y += num();
    } else if (c == 'z') {
      x = sx;
      y = sy;
    } else {
      ADD_FAILURE() << "unexpected '" << c << "' in " << d;
      break;
    }
    pts.push_back({x, y});
  }
  return pts;
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
  EXPECT_EQ(xmlProblem(doc), "");
  expectXmllintTakes(doc);
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

  // The ellipse: centre (100 + 2*2*5, 50) = (120, 50), radii 40 and 20; its
  // stroke widened with the scale.
  double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
  const std::vector<Point> e = pathPoints(d[4]);
  for (const Point& q : e) {
    x0 = std::min(x0, q.x), x1 = std::max(x1, q.x), y0 = std::min(y0, q.y), y1 = std::max(y1, q.y);
  }
  EXPECT_NEAR(x0, 80, 0.02);
  EXPECT_NEAR(x1, 160, 0.02);
  EXPECT_NEAR(y0, 30, 0.02);
  EXPECT_NEAR(y1, 70, 0.02);
  EXPECT_NEAR(e.back().x, e.front().x, 0.02);
  EXPECT_NEAR(e.back().y, e.front().y, 0.02);

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
  EXPECT_EQ(xmlProblem(doc), "") << doc;
  expectXmllintTakes(doc);
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
  EXPECT_EQ(xmlProblem(doc), "") << doc;
  expectXmllintTakes(doc);
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
  EXPECT_EQ(xmlProblem(page.substr(0, script) + page.substr(scriptEnd + 9)), "");
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

TEST(SvgPainter, TextKeepsItsLinesWidthsAndPlace) {
  FontStyle font;
  font.sizePt = 12;
  font.bold = true;
  TextLayout two("North  <1>\nSouth & co", font, Justify::Left);
  const std::vector<TextLayout::Line> lines = two.lines();
  ASSERT_EQ(lines.size(), 2u);

  SvgPainter p(300, 300);
  p.beginItem({"label", "", ""});
  p.drawText(two, 10, 20, rgbHex(0x222222), 2, rgbHex(0xffffff, 0.5));
  p.endItem();
  // Turned a quarter counterclockwise about (150, 100).
  TextLayout one("Turned", font, Justify::Left);
  p.save();
  p.translate(150, 100);
  p.rotate(-std::numbers::pi / 2);
  p.drawText(one, 0, 0, rgbHex(0), 0, {});
  p.restore();
  // Sheared: the matrix goes with the text.
  p.save();
  p.scale(2, 1);
  p.drawText(one, 5, 5, rgbHex(0), 0, {});
  p.restore();

  const std::string doc = p.document();
  EXPECT_EQ(xmlProblem(doc), "") << doc;
  expectXmllintTakes(doc);
  const std::regex textRe("<text([^>]*)>([^<]*)</text>");
  std::vector<std::pair<std::string, std::string>> texts;
  for (auto it = std::sregex_iterator(doc.begin(), doc.end(), textRe); it != std::sregex_iterator(); ++it)
    texts.push_back({(*it)[1], (*it)[2]});
  ASSERT_EQ(texts.size(), 4u) << doc;
  EXPECT_EQ(texts[0].second, "North  &lt;1&gt;");
  EXPECT_EQ(texts[1].second, "South &amp; co");
  auto attr = [](const std::string& tag, const std::string& name) {
    std::smatch m;
    const std::regex re(" " + name + "=\"([^\"]*)\"");
    return std::regex_search(tag, m, re) ? m[1].str() : std::string("(none)");
  };
  for (int i = 0; i < 2; ++i) {
    const std::string& tag = texts[i].first;
    EXPECT_NEAR(std::stod(attr(tag, "x")), 10 + lines[i].x, 0.006);
    EXPECT_NEAR(std::stod(attr(tag, "y")), 20 + lines[i].baseline, 0.006);
    EXPECT_NEAR(std::stod(attr(tag, "textLength")), lines[i].width, 0.006);
    EXPECT_EQ(attr(tag, "lengthAdjust"), "spacingAndGlyphs");
    EXPECT_EQ(attr(tag, "font-weight"), "bold");
    EXPECT_NEAR(std::stod(attr(tag, "font-size")), 16, 0.006);
    EXPECT_EQ(attr(tag, "stroke"), "#ffffff");
    EXPECT_EQ(attr(tag, "paint-order"), "stroke");
    EXPECT_NE(attr(tag, "font-family").find("sans-serif"), std::string::npos);
  }
  // Two blanks in a row survive; a plain line needs no preserving.
  EXPECT_EQ(attr(texts[0].first, "xml:space"), "preserve");
  EXPECT_EQ(attr(texts[1].first, "xml:space"), "(none)");

  // The turned text starts where the transform takes its start, and turns
  // there.
  const TextLayout::Line l = one.lines().at(0);
  const double ex = 150 + l.baseline, ey = 100 - l.x;
  const std::string& turned = texts[2].first;
  EXPECT_NEAR(std::stod(attr(turned, "x")), ex, 0.006);
  EXPECT_NEAR(std::stod(attr(turned, "y")), ey, 0.006);
  char want[96];
  std::snprintf(want, sizeof want, "rotate(-90 %s %s)", attr(turned, "x").c_str(), attr(turned, "y").c_str());
  EXPECT_EQ(attr(turned, "transform"), want);
  EXPECT_EQ(attr(texts[3].first, "transform"), "matrix(2 0 0 1 0 0)");
  EXPECT_NEAR(std::stod(attr(texts[3].first, "x")), 5 + l.x, 0.006);
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
  expectXmllintTakes(doc);
}

}  // namespace
}  // namespace qv::render
