#include "module/color/palettes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/ascii.h"

namespace qv::module {

namespace {

// OKLab, a space in which equal steps look like equal changes of color.
struct Lab {
  double l, a, b;
};

double toLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double toGamma(double c) {
  c = c <= 0.0031308 ? 12.92 * c : 1.055 * std::pow(c, 1 / 2.4) - 0.055;
  return std::clamp(c, 0.0, 1.0);
}

Lab toLab(uint32_t rgb) {
  const double r = toLinear(((rgb >> 16) & 0xFF) / 255.0);
  const double g = toLinear(((rgb >> 8) & 0xFF) / 255.0);
  const double b = toLinear((rgb & 0xFF) / 255.0);
  const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
  const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
  const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
  return {0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
          1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
          0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

uint32_t fromLab(const Lab& c) {
  const double l = std::pow(c.l + 0.3963377774 * c.a + 0.2158037573 * c.b, 3);
  const double m = std::pow(c.l - 0.1055613458 * c.a - 0.0638541728 * c.b, 3);
  const double s = std::pow(c.l - 0.0894841775 * c.a - 1.2914855480 * c.b, 3);
  auto byte = [](double v) { return static_cast<uint32_t>(std::lround(toGamma(v) * 255)); };
  return byte(4.0767416621 * l - 3.3077115913 * m + 0.2309699292 * s) << 16 |
         byte(-1.2684380046 * l + 2.6097574011 * m - 0.3413193965 * s) << 8 |
         byte(-0.0041960863 * l - 0.7034186147 * m + 1.7076147010 * s);
}

// The set of `count` colors of a scheme (minCount <= count <= maxCount).
const uint32_t* ownSet(const PaletteInfo& p, int count) {
  int at = p.first;
  for (int k = p.minCount; k < count; ++k) at += k;
  return &kPaletteColors[at];
}

// `count` colors evenly along the path through `stops` (at least two).
std::vector<uint32_t> along(const uint32_t* stops, int n, int count) {
  std::vector<uint32_t> out;
  for (int i = 0; i < count; ++i) {
    const double t = count == 1 ? 0.5 : static_cast<double>(i) / (count - 1);
    const double x = t * (n - 1);
    const int j = std::min(static_cast<int>(x), n - 2);
    const double f = x - j;
    if (f == 0) {
      out.push_back(stops[j]);
      continue;
    }
    const Lab a = toLab(stops[j]), b = toLab(stops[j + 1]);
    out.push_back(fromLab({a.l + f * (b.l - a.l), a.a + f * (b.a - a.a), a.b + f * (b.b - a.b)}));
  }
  return out;
}

std::vector<uint32_t> ordered(std::vector<uint32_t> colors, const PaletteRef& p) {
  if (p.reversed) std::reverse(colors.begin(), colors.end());
  return colors;
}

}  // namespace

std::optional<PaletteRef> findPalette(std::string_view name) {
  PaletteRef ref;
  if (name.size() > 2 && sameNoCase(name.substr(name.size() - 2), "_R")) {
    ref.reversed = true;
    name.remove_suffix(2);
  }
  for (int i = 0; i < kPaletteCount; ++i)
    if (sameNoCase(name, kPalettes[i].name)) {
      ref.info = &kPalettes[i];
      return ref;
    }
  return std::nullopt;
}

std::string paletteNamesText() {
  std::string brewer, ramps;
  for (int i = 0; i < kPaletteCount; ++i) {
    std::string& to = kPalettes[i].kind == PaletteKind::Continuous ? ramps : brewer;
    to += (to.empty() ? "" : ", ") + std::string(kPalettes[i].name);
  }
  return "ColorBrewer's schemes (" + brewer + ") and " + ramps;
}

std::vector<uint32_t> paletteColors(const PaletteRef& p, int count) {
  const PaletteInfo& info = *p.info;
  count = std::max(count, 1);
  if (info.kind == PaletteKind::Continuous) return ordered(along(ownSet(info, 256), 256, count), p);
  if (count >= info.minCount && count <= info.maxCount) {
    const uint32_t* set = ownSet(info, count);
    return ordered(std::vector<uint32_t>(set, set + count), p);
  }
  if (count < info.minCount) {
    const uint32_t* set = ownSet(info, info.minCount);
    if (count == 1) return {set[info.minCount / 2]};
    return ordered({set[0], set[info.minCount - 1]}, p);
  }
  return ordered(along(ownSet(info, info.maxCount), info.maxCount, count), p);
}

std::vector<uint32_t> paletteStops(const PaletteRef& p) {
  if (p.info->kind == PaletteKind::Continuous) return paletteColors(p, 9);
  return paletteColors(p, p.info->maxCount);
}

std::vector<std::string> paletteColorTexts(const std::vector<uint32_t>& colors) {
  std::vector<std::string> out;
  out.reserve(colors.size());
  for (uint32_t c : colors) {
    char text[16];
    std::snprintf(text, sizeof text, "CX%06X", static_cast<unsigned>(c & 0xFFFFFF));
    out.emplace_back(text);
  }
  return out;
}

}  // namespace qv::module
