// Named palettes (PALETTE=): ColorBrewer's sequential, diverging and
// qualitative schemes, each with its own color set for every class count it
// defines, and the perceptually uniform ramps viridis, cividis, magma,
// inferno and plasma.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv::module {

enum class PaletteKind : uint8_t { Sequential, Diverging, Qualitative, Continuous };

struct PaletteInfo {
  const char* name;     // as its authors spell it ("YlOrRd", "viridis")
  PaletteKind kind;
  bool colorBlindSafe;  // readable with the common color-vision deficiencies
  int minCount;         // the smallest and largest class counts with a set
  int maxCount;         // of their own (continuous ramps: 256 samples)
  int first;            // index in kPaletteColors of the minCount set
};

inline constexpr int kPaletteCount = 40;
extern const PaletteInfo kPalettes[];
// The sets of every palette, one after another: for a scheme, the set of
// minCount colors, then of minCount + 1, ... up to maxCount (0xRRGGBB).
extern const uint32_t kPaletteColors[];

// A palette as a user named it: `_R` at the end reverses it.
struct PaletteRef {
  const PaletteInfo* info = nullptr;
  bool reversed = false;
};

// The palette `name` names, in any letter case; nothing when none does.
std::optional<PaletteRef> findPalette(std::string_view name);

// The families' names for a message: "ColorBrewer's schemes (Blues, BuGn,
// ...) and viridis, cividis, magma, inferno, plasma".
std::string paletteNamesText();

// `count` colors (at least 1) for that many classes, in the palette's
// order (reversed for `_R`): the scheme's own set when it has one for `count`; fewer classes
// than its smallest set take the ends of that set (one class its middle);
// more than its largest are interpolated along the largest set in OKLab.
// Continuous ramps are sampled evenly from end to end.
std::vector<uint32_t> paletteColors(const PaletteRef& p, int count);

// The stops of a continuous color model through the palette, and the colors
// groups cycle through: a scheme's largest set, or nine even samples of a
// continuous ramp.
std::vector<uint32_t> paletteStops(const PaletteRef& p);

// The template's color texts of 0xRRGGBB colors ("CXRRGGBB"), as a color
// list written by hand gives them.
std::vector<std::string> paletteColorTexts(const std::vector<uint32_t>& colors);

}  // namespace qv::module
