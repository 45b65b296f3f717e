// Color notations and the name tables.
#include <cstring>

#include "color_fixture.h"
#include "module/color/color_tables.h"

namespace qv::test {
namespace {

using namespace qv::module;

TEST_F(ColorTest, NotationsGiveTheirColors) {
  struct Case {
    const char* text;
    const char* want;  // nullptr: not a color
  } cases[] = {
      {"blue", "CX0000FF"},           {"Blue", "CX0000FF"},
      {"CHARCOAL", "CX4F4F4F"},       {"ORANGE RED", "CXFF8000"},
      {"DMMAGENTA", nullptr},         {"DMMAGENT", "CXFF00FF"},
      {"GRAY80", "CX808080"},         {"GRAYBLUE", nullptr},
      {"GRAY BLUE", "CX808080"},      {"LIGHT BLUE", "CX5757FF"},
      {"DARK GRAY", "CX5E5E5E"},      {"LIGHT GRAY", "CXABABAB"},
      {"VERY LIGHT GRAY", "CXD4D4D4"}, {"DARK BROWN", "CXBD7E00"},
      {"VIVID GREEN", "CX00FF00"},    {"BLUE GREEN", "CX00FFFF"},
      {"GREEN BLUE", "CX00FFFF"},     {"BLUISH GREEN", "CX00FF80"},
      {"GREENISH BLUE", "CX0080FF"},  {"REDDISH", "CX8000FF"},
      {"VERY-LIGHT_BLUE", "CXA8A8FF"}, {"VERY LIGHT BLUE", "CXA8A8FF"},
      {"VERY  LIGHT BLUE", nullptr},  {"H07880FF", "CXFF0101"},
      {"V0FFFFFF", "CX4000FF"},       {"#FF8000", "CXFF8000"},
      {"#ff8000", "CXFF8000"},        {"#FF800", nullptr},
      {"#FF80000", nullptr},          {"FF000000", "CX00FFFF"},
      {"CMYK00FFFF00", "CXFF0000"},   {"CMYK00000080", "CX7F7F7F"},
      {"K00FFFF00", "CXFF0000"},      {"CMYK00FFF", "CXFF000F"},
      {"CMYK00FFFF00X", nullptr},     {"CMYK00FFFF0000000", nullptr},
      {"RGBAFF000080", "CXFF0000"},   {"AFF000080", "CXFF0000"},
      {"RGBAFF0000", nullptr},        {"RGBAFF00008000", nullptr},
      {"_STYLE_", "CX000000"},        {"_style_", nullptr},
      {"VLIB", "CX7674D9"},           {"VLI B", "CX7674D9"},
      {"LIGR", "CXBFBFBF"},           {"vlib and more", "CX7674D9"},
      {"cx12ab9f", "CX12AB9F"},       {"CX12AB9G", nullptr},
      {"H0788ZFF", nullptr},          {"greyish blue", "CX60609F"},
      {"", nullptr},                  {"     ", nullptr},
      {"  red  ", "CXFF0000"},        {"NOTACOLOR", nullptr},
      {"GRAY8", "CX808080"},          {"GRAYISH", nullptr},
  };
  for (const Case& c : cases) {
    size_t before = host_->messages.size();
    EXPECT_EQ(color(c.text), c.want ? c.want : "CX808080") << "text '" << c.text << "'";
    EXPECT_EQ(host_->messages.size() - before, c.want ? 0u : 1u) << "text '" << c.text << "'";
  }
}

TEST_F(ColorTest, FormsAndModels) {
  ColorValue v;
  v.model = kModelRgb;
  EXPECT_EQ(form("GRAY80", &v), kFormGray);
  EXPECT_EQ(v.model, kModelRgb);
  EXPECT_DOUBLE_EQ(v.c1, 128 / 255.0);

  // A non-color comes back as RGB 105/255 gray in the wanted model.
  v = ColorValue{};
  v.model = kModelByteRgb;
  EXPECT_EQ(form("nothing here", &v), kFormNone);
  uint8_t b[3];
  getByteRgb(v, b);
  EXPECT_EQ(rgbText(b[0], b[1], b[2]), "CX696969");
  // Deciding alone logs nothing.
  EXPECT_TRUE(host_->messages.empty());
}

TEST_F(ColorTest, UnknownColorMessageNamesTheText) {
  EXPECT_EQ(color("chartreuse   "), "CX808080");
  ASSERT_EQ(host_->messages.size(), 1u);
  EXPECT_EQ(host_->messages[0].set, 854);
  EXPECT_EQ(host_->messages[0].number, 79);
  EXPECT_EQ(host_->messages[0].args, std::vector<std::string>{"chartreuse"});
}

TEST_F(ColorTest, OnlyTheFirst80CharactersCount) {
  std::string head = "LIGHT BLUE" + std::string(70, ' ');
  EXPECT_EQ(color(head + "junk"), "CX5757FF");
  // Two texts equal in their first 80 characters are one cache entry.
  EXPECT_EQ(color(head + "other junk"), "CX5757FF");
  EXPECT_EQ(ggccache(0)->entries, 1u);
  EXPECT_EQ(color(std::string(80, 'Q') + "RED"), "CX808080");
}

// Every row of the name tables is found by its name (a table out of order
// or a name too long for its field would lose rows to the lookup).
TEST_F(ColorTest, EveryTableNameGivesItsRow) {
  for (const BasicColor& row : spcols) {
    EXPECT_EQ(form(row.name), kFormBasic) << row.name;
    EXPECT_EQ(color(row.name), rgbText(row.red, row.green, row.blue)) << row.name;
  }
  for (const DmColor& row : DMclrs) {
    ASSERT_GE(row.basic, 0);
    ASSERT_LT(row.basic, kBasicColorCount);
    const BasicColor& basic = spcols[row.basic];
    // DMxxx names its basic color (DMMAGENT: MAGENTA, cut to 8 characters).
    std::string_view name = row.name;
    if (name.substr(0, 2) == "DM") {
      EXPECT_EQ(std::string_view(basic.name).substr(0, name.size() - 2), name.substr(2));
    }
    EXPECT_EQ(form(row.name), kFormDm) << row.name;
    EXPECT_EQ(color(row.name), rgbText(basic.red, basic.green, basic.blue)) << row.name;
  }
  for (const ColorCode& row : colcode) {
    uint8_t key[2] = {0xFF, 0xFF};
    ASSERT_TRUE(colcodeKey(row.name, static_cast<int32_t>(std::strlen(row.name)), key)) << row.name;
    EXPECT_EQ(key[0], row.key[0]) << row.name;
    EXPECT_EQ(key[1], row.key[1]) << row.name;
    // Shown as a color, the name gives the row's color (a few short names
    // are read by an earlier notation first, with the same color).
    int32_t f = form(row.name);
    EXPECT_TRUE(f == kFormAbbrev || f == kFormBasic) << row.name << " form " << f;
    EXPECT_EQ(color(row.name), rgbText(row.red, row.green, row.blue)) << row.name;
  }
}

TEST_F(ColorTest, ConversionsToEveryModelAgree) {
  const char* texts[] = {"LIGHT BLUE", "DARK BROWN", "CX12AB9F", "GRAY40", "VIBG", "CMYK10203040"};
  for (const char* t : texts) {
    ColorValue byteValue;
    byteValue.model = kModelByteRgb;
    ASSERT_NE(form(t, &byteValue), kFormNone) << t;
    uint8_t want[3];
    getByteRgb(byteValue, want);
    for (int32_t model : {kModelRgb, kModelHls, kModelHsv, kModelCmyk, kModelRgba}) {
      ColorValue v;
      v.model = model;
      v.black = 0.5;
      form(t, &v);
      ASSERT_EQ(v.model, model) << t;
      ColorValue back;
      convertColor(v, kModelByteRgb, 0, &back);
      uint8_t got[3];
      getByteRgb(back, got);
      for (int i = 0; i < 3; ++i)  // whole-degree hues may move a byte by a little
        EXPECT_NEAR(got[i], want[i], model == kModelHls || model == kModelHsv ? 3 : 0)
            << t << " via model " << model;
    }
  }
  ColorValue gray;
  gray.model = kModelGray;
  form("GRAY40", &gray);
  EXPECT_DOUBLE_EQ(gray.c1, 0x40 / 255.0);

  // HSV sectors beyond the circle give middle gray; zero saturation gives value.
  ColorValue hsv{kModelHsv, 0, 400, 1, 1, 0};
  hsv2rgb(&hsv);
  EXPECT_EQ(hsv.c1, 0.5);
  ColorValue flat{kModelHls, 0, 77, 0.3, 0, 0};
  hls2rgb(&flat);
  EXPECT_EQ(flat.model, kModelRgb);
  EXPECT_EQ(flat.c2, 0.3);
  ColorValue outside;
  BASIC_id2clr(kBasicColorCount, &outside);
  EXPECT_DOUBLE_EQ(outside.c1, 128 / 255.0);
}

// Null texts and negative lengths (any other text is the fuzz corpus's,
// replayed by every test run).
TEST_F(ColorTest, NullAndNegativeLengthsAreAnsweredSafely) {
  char out[8];
  process_color(nullptr, 5, out);
  EXPECT_EQ(std::string(out, 8), "CX808080");
  process_color("RED", -4, out);
  EXPECT_EQ(ggcolor(nullptr, 3, nullptr), kFormNone);
}

}  // namespace
}  // namespace qv::test
