// The CSS color names (the named colors of CSS Color Module Level 4): the
// names the template's color values may use, and the user color names that
// OPTIONS COLORNAMES=CSS; turns on.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qv {

struct CssColor {
  std::string_view name;  // lower case, no blanks ("aliceblue")
  uint32_t rgb;           // 0xRRGGBB
};

// Every CSS name with its color, in alphabetical order (148, the gray/grey
// spellings each counted).
std::span<const CssColor> cssColors();

// The color of a CSS name in any letter case, blanks ignored ("Alice Blue");
// nothing when it is no CSS name.
std::optional<uint32_t> cssColor(std::string_view name);

}  // namespace qv
