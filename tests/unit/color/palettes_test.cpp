// Named palettes: ColorBrewer's own sets, reversal and letter case, sets
// beyond a scheme's largest interpolated, continuous ramps sampled.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "module/color/palettes.h"

namespace qv::test {
namespace {

using module::findPalette;
using module::paletteColors;
using module::paletteStops;

TEST(Palettes, SetsNamesAndReversal) {
  const auto ylorrd = findPalette("YlOrRd");
  ASSERT_TRUE(ylorrd);
  const std::vector<uint32_t> five = {0xFFFFB2, 0xFECC5C, 0xFD8D3C, 0xF03B20, 0xBD0026};
  EXPECT_EQ(paletteColors(*ylorrd, 5), five);
  const auto reversed = findPalette("ylorrd_r");
  ASSERT_TRUE(reversed);
  EXPECT_EQ(paletteColors(*reversed, 5), std::vector<uint32_t>(five.rbegin(), five.rend()));
  // Fewer classes than the smallest set: its ends (one class: its middle).
  EXPECT_EQ(paletteColors(*ylorrd, 2), (std::vector<uint32_t>{0xFFEDA0, 0xF03B20}));
  EXPECT_EQ(paletteColors(*ylorrd, 1), std::vector<uint32_t>{0xFEB24C});
  const auto set2 = findPalette("SET2");
  ASSERT_TRUE(set2);
  EXPECT_EQ(paletteStops(*set2).size(), 8u);
  EXPECT_EQ(paletteStops(*set2).front(), 0x66C2A5u);
  EXPECT_FALSE(findPalette("YlOrRdd"));
  EXPECT_FALSE(findPalette("_R"));
}

TEST(Palettes, BeyondTheLargestSetAndContinuousRamps) {
  const auto blues = findPalette("Blues");
  ASSERT_TRUE(blues);
  const std::vector<uint32_t> nine = paletteColors(*blues, 9);
  const std::vector<uint32_t> seventeen = paletteColors(*blues, 17);
  ASSERT_EQ(seventeen.size(), 17u);
  // Every other color is one of the nine; those between lie between their
  // neighbours in lightness.
  for (size_t i = 0; i < 9; ++i) EXPECT_EQ(seventeen[2 * i], nine[i]) << i;
  for (size_t i = 1; i < 17; i += 2) {
    auto green = [](uint32_t c) { return (c >> 8) & 0xFF; };
    EXPECT_LE(green(seventeen[i + 1]), green(seventeen[i])) << i;
    EXPECT_LE(green(seventeen[i]), green(seventeen[i - 1])) << i;
  }
  const auto viridis = findPalette("Viridis");
  ASSERT_TRUE(viridis);
  const std::vector<uint32_t> stops = paletteStops(*viridis);
  ASSERT_EQ(stops.size(), 9u);
  EXPECT_EQ(stops.front(), 0x440154u);
  EXPECT_EQ(stops.back(), 0xFDE725u);
  EXPECT_EQ(paletteColors(*viridis, 2), (std::vector<uint32_t>{0x440154, 0xFDE725}));
}

}  // namespace
}  // namespace qv::test
