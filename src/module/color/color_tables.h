// The color name tables: basic names, display-manager names, the words of
// descriptive color names and the abbreviated-name codes. Name tables are
// sorted for binary search, comparing names as blank-padded fields.
#pragma once

#include <cstdint>

namespace qv::module {

// Basic color names (at most 7 characters; longer texts are compared on
// their first 7, so CHARCOAL finds CHARCOA).
struct BasicColor {
  const char* name;
  uint8_t red, green, blue;
};
inline constexpr int kBasicColorCount = 43;
extern const BasicColor spcols[kBasicColorCount];

// Display-manager color names (at most 8 characters), the host's color
// number for each, and the row of `spcols` used without a display manager.
struct DmColor {
  const char* name;
  int32_t dmNumber;
  int32_t basic;
};
inline constexpr int kDmColorCount = 15;
extern const DmColor DMclrs[kDmColorCount];

// A word of a descriptive color name and its code (aliases share a code).
struct ColorWord {
  const char* word;
  int32_t code;
};
inline constexpr int kLiteNameCount = 9;
inline constexpr int kSatNameCount = 7;
inline constexpr int kHueNameCount = 7;
extern const ColorWord lite_names[kLiteNameCount];   // lightness
extern const ColorWord sat_names[kSatNameCount];     // saturation
extern const ColorWord huish_names[kHueNameCount];   // hue modifier
extern const ColorWord hue_names[kHueNameCount];     // hue
// Values by code; index 0 is the value when no word was read.
extern const double lite_values[8];
extern const double sat_values[6];
extern const double hue_values[8];   // HLS degrees (0 blue, 120 red, 240 green)

// Abbreviated names: a prefix code (position from 1) and up to three hue
// codes (position from 1) make the 2-byte key of `colcode`:
//   key[0] = prefix * 16 + hue1, key[1] = hue2 * 16 + hue3.
inline constexpr int kPrefixCount = 13;
inline constexpr int kHueCodeCount = 15;
extern const char* const prefix[kPrefixCount];
extern const char* const hue[kHueCodeCount];

struct ColorCode {
  uint8_t key[2];
  uint8_t red, green, blue;
  const char* name;   // the abbreviated name that reads as this key
};
inline constexpr int kColorCodeCount = 266;
extern const ColorCode colcode[kColorCodeCount];

}  // namespace qv::module
