// The session color cache: what it keeps, what it finds, how it ends.
#include <cctype>
#include <cstring>
#include <vector>

#include "color_fixture.h"
#include "module/color/color_cache.h"

namespace qv::test {
namespace {

using namespace qv::module;

TEST_F(ColorTest, RepeatedTextsAreParsedOnce) {
  EXPECT_EQ(color("RED"), "CXFF0000");
  EXPECT_EQ(color("RED   "), "CXFF0000");
  EXPECT_EQ(host_->registryLookups, 1);
  // A CX or RGBA code in any case finds the entry of its canonical code.
  EXPECT_EQ(color("cx0000ff"), "CX0000FF");
  EXPECT_EQ(color("CX0000FF"), "CX0000FF");
  EXPECT_EQ(color("Cx0000fF"), "CX0000FF");
  EXPECT_EQ(color("rgba11223344"), "CX112233");
  EXPECT_EQ(color("RGBA11223344"), "CX112233");
  EXPECT_EQ(ggccache(0)->entries, 3u);
  EXPECT_EQ(host_->registryLookups, 3);

  // The anchor copies the entry used last.
  color("RED");
  const ColorCache* cache = ggccache(0);
  EXPECT_EQ(cache->anchor.form, kFormBasic);
  EXPECT_EQ(std::string(cache->anchor.text, cache->anchor.textLength), "RED");
  EXPECT_EQ(std::string(cache->anchor.code, 16), std::string(16, ' '));
}

TEST_F(ColorTest, CachedColorsComeBackInAnyModel) {
  ColorValue v;
  v.model = kModelByteRgb;
  ASSERT_EQ(form("LIGHT BLUE", &v), kFormWords);
  v = ColorValue{};
  v.model = kModelRgb;
  ASSERT_EQ(form("LIGHT BLUE", &v), kFormWords);
  EXPECT_DOUBLE_EQ(v.c1, 2 * 0.67 - 1);  // not rounded to a byte on the way
  EXPECT_DOUBLE_EQ(v.c3, 1.0);
}

TEST_F(ColorTest, TextsThatAreNotColorsKeepOneEntryAndAreAskedAgain) {
  for (int i = 0; i < 3; ++i) EXPECT_EQ(color("Teal"), "CX808080");
  EXPECT_EQ(ggccache(0)->entries, 1u);
  EXPECT_EQ(host_->messages.size(), 3u);
  EXPECT_EQ(host_->registryLookups, 3);
  // Once the registry knows the name, the same entry becomes a color.
  host_->registry["Teal"] = {0x00, 0x80, 0x80};
  EXPECT_EQ(color("Teal"), "CX008080");
  EXPECT_EQ(form("Teal"), kFormUser);
  EXPECT_EQ(ggccache(0)->entries, 1u);
}

TEST_F(ColorTest, UserColorNamesAreKeptForTheSessionAndKeepTheirCase) {
  host_->registry["Brand"] = {0x12, 0x34, 0x56};
  host_->registry["RED"] = {0x01, 0x02, 0x03};
  host_->registry["CorporateBlue"] = {0x00, 0x22, 0xCC};
  EXPECT_EQ(color("Brand"), "CX123456");
  EXPECT_EQ(color("RED"), "CX010203");        // the registry comes before the rules
  EXPECT_EQ(color("red"), "CXFF0000");
  EXPECT_EQ(color("BRAND"), "CX808080");      // another text, not in the registry
  EXPECT_EQ(color("CorporateBlue"), "CX0022CC");
  EXPECT_EQ(color("CX0022CC"), "CX0022CC");
  host_->registry["Brand"] = {0xFF, 0xFF, 0xFF};
  EXPECT_EQ(color("Brand"), "CX123456");      // never parsed again in the session
}

TEST_F(ColorTest, StyleIsCaseSensitiveWhateverCameFirst) {
  EXPECT_EQ(color("_STYLE_"), "CX000000");
  EXPECT_EQ(color("_style_"), "CX808080");
  host_->endSession();
  EXPECT_EQ(color("_style_"), "CX808080");
  EXPECT_EQ(color("_STYLE_"), "CX000000");
  EXPECT_EQ(color("_style_"), "CX808080");
}

// A mix of texts: colors, codes in both cases, user names and non-colors.
std::vector<std::string> mixedTexts(int n) {
  const char* bases[] = {"RED", "light blue", "cx%06x", "CX%06X", "vlib", "Brand%d",
                         "#%06x", "rgba%08x", "junk%d", "_STYLE_", "_style_", "GRAY%02x"};
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) {
    char buf[64];
    std::snprintf(buf, sizeof buf, bases[i % std::size(bases)], (i * 7919) % 4096);
    out.push_back(buf);
  }
  return out;
}

TEST_F(ColorTest, TheIndexFindsWhatTheListWalkFinds) {
  for (int i = 0; i < 20; ++i) host_->registry["Brand" + std::to_string(i * 7919 % 4096)] = {1, 2, 3};
  std::vector<std::string> texts = mixedTexts(1500);
  texts.insert(texts.end(), {"CX010203", "cx010203", "Brand2731", "CX010203"});
  std::vector<std::string> first;
  for (const std::string& t : texts) first.push_back(color(t));
  ColorCache* cache = ggccache(0);
  ASSERT_FALSE(cache->byText.off);
  for (size_t i = 0; i < texts.size(); ++i) {
    for (std::string t : {texts[i], texts[(i * 31) % texts.size()]}) {
      char upper[80];
      std::memset(upper, ' ', sizeof upper);
      for (size_t k = 0; k < t.size() && k < 80; ++k) upper[k] = static_cast<char>(std::toupper(t[k]));
      int32_t n = static_cast<int32_t>(t.size());
      EXPECT_EQ(detail::cacheFind(cache, t.data(), n, upper), detail::cacheWalk(cache, t.data(), n, upper)) << t;
    }
    EXPECT_EQ(color(texts[i]), first[i]) << texts[i];
  }

  // Without the index (its blocks cannot be had) the answers are the same.
  host_->endSession();
  host_->failFromSize = 512;
  for (int round = 0; round < 2; ++round)
    for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(color(texts[i]), first[i]) << texts[i];
  EXPECT_TRUE(ggccache(0)->byText.off);
}

TEST_F(ColorTest, MemoryExhaustionGivesGrayAndLosesNothing) {
  host_->failAll = true;
  EXPECT_EQ(color("RED"), "CX808080");
  EXPECT_GE(host_->memMessages(), 1);
  EXPECT_EQ(host_->messages.size(), 1u);
  host_->failAll = false;
  EXPECT_EQ(color("RED"), "CXFF0000");

  // The entry is had but not its text copy, then not even the entry.
  int before = host_->memMessages();
  host_->allowAllocations = 1;
  EXPECT_EQ(color("BLUE"), "CX808080");
  host_->allowAllocations = 0;
  EXPECT_EQ(color("GREEN"), "CX808080");
  EXPECT_EQ(host_->memMessages(), before + 2);
  host_->allowAllocations = -1;
  EXPECT_EQ(color("BLUE"), "CX0000FF");
  EXPECT_EQ(ggccache(0)->entries, 2u);
}

}  // namespace
}  // namespace qv::test
