// Splitting, placing and measuring text.
#include <gtest/gtest.h>

#include <cmath>

#include "render/paint/canvas.h"
#include "render/paint/text.h"

namespace qv::render {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitText, PoliciesCharactersAndWidths) {
  TextSplit always{SplitPolicy::SplitAlways, "*", true, 0};
  EXPECT_EQ(splitText("New*York*City", always), (Lines{"New", "York", "City"}));
  always.dropSplitChar = false;
  EXPECT_EQ(splitText("New*York*City", always), (Lines{"New*", "York*", "City"}));
  EXPECT_EQ(splitText("a**b", TextSplit{SplitPolicy::SplitAlways, "*", true, 0}),
            (Lines{"a", "", "b"}));
  // Several split characters, and multi-byte ones.
  EXPECT_EQ(splitText("a/b-c", TextSplit{SplitPolicy::SplitAlways, "/-", true, 0}),
            (Lines{"a", "b", "c"}));
  EXPECT_EQ(splitText("S\xC3\xA3o\xC2\xB7Paulo", TextSplit{SplitPolicy::SplitAlways, "\xC2\xB7", true, 0}),
            (Lines{"S\xC3\xA3o", "Paulo"}));

  // Split fills lines up to the width, counting characters, not bytes.
  TextSplit fit{SplitPolicy::Split, " ", true, 10};
  EXPECT_EQ(splitText("the quick brown fox jumps", fit), (Lines{"the quick", "brown fox", "jumps"}));
  EXPECT_EQ(splitText("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9", fit),
            (Lines{"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"}));
  EXPECT_EQ(splitText("extraordinarily long", fit), (Lines{"extraordinarily", "long"}));
  EXPECT_EQ(splitText("aaaa bbbb cccc", TextSplit{SplitPolicy::Split, " ", false, 9}),
            (Lines{"aaaa bbbb ", "cccc"}));
  // Without a width, or without the policy, the text stays whole.
  EXPECT_EQ(splitText("a b", TextSplit{SplitPolicy::Split, " ", true, 0}), (Lines{"a b"}));
  EXPECT_EQ(splitText("a b", TextSplit{}), (Lines{"a b"}));
  EXPECT_EQ(splitText("", TextSplit{SplitPolicy::SplitAlways, " ", true, 0}), (Lines{""}));
  // A stray continuation byte counts as one character and is kept.
  EXPECT_EQ(splitText("a\x80 b", TextSplit{SplitPolicy::SplitAlways, " ", true, 0}),
            (Lines{"a\x80", "b"}));
}

// Where each of the nine positions puts a label is the visual case
// "text_labels".
TEST(Label, MeasuresAndBoxesFollowTheLayout) {
  TextPosition p;
  ASSERT_TRUE(textPositionFromName("bottomRIGHT", p));  // any letter case
  EXPECT_EQ(p, TextPosition::BottomRight);
  EXPECT_FALSE(textPositionFromName("north", p));

  FontStyle f;
  f.sizePt = 10;
  TextExtent one = measureText("Denver", f);
  TextExtent longer = measureText("Denver, Colorado", f);
  EXPECT_GT(one.width, 10);
  EXPECT_GT(longer.width, one.width);
  EXPECT_EQ(one.lines, 1);
  TextExtent two = measureText("Denver Colorado", f, TextSplit{SplitPolicy::SplitAlways, " ", true, 0});
  EXPECT_EQ(two.lines, 2);
  EXPECT_GT(two.height, one.height * 1.8);
  FontStyle big = f;
  big.sizePt = 20;
  EXPECT_NEAR(measureText("Denver", big).width, 2 * one.width, one.width * 0.15);
  EXPECT_EQ(measureText("", f).width, 0);

  Canvas c(200, 200);
  c.fill(rgbHex(0xFFFFFF));
  LabelStyle ls;
  ls.font = f;
  ls.position = TextPosition::TopRight;
  ls.pad = 4;
  Rect box = drawLabel(c.painter(), {100, 100}, "Denver", ls);
  EXPECT_NEAR(box.x, 104, 1e-9);
  EXPECT_NEAR(box.bottom(), 96, 1e-9);
  EXPECT_NEAR(box.width, one.width, 1e-9);
  // Turned a quarter: the box stands upright, right of the point.
  ls.rotateDeg = 90;
  ls.position = TextPosition::Center;
  Rect up = drawLabel(c.painter(), {50, 100}, "Denver", ls);
  EXPECT_NEAR(up.width, one.height, 1e-6);
  EXPECT_NEAR(up.height, one.width, 1e-6);
  // Bad UTF-8 and odd sizes draw without trouble; nothing for no text.
  ls.font.sizePt = -3;
  Rect odd = drawLabel(c.painter(), {50, 50}, "bad \xFF\xFE bytes", ls);
  EXPECT_GT(odd.height, 0);
  EXPECT_EQ(drawLabel(c.painter(), {50, 50}, "", ls).width, 0);
  EXPECT_EQ(drawLabel(c.painter(), {NAN, 50}, "x", ls).width, 0);
  // The state of the caller is untouched.
  EXPECT_FALSE(cairo_has_current_point(c.cr()));
}

}  // namespace
}  // namespace qv::render
