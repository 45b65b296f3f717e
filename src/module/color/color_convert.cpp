// Conversions between the color models of a ColorValue.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/color/color.h"
#include "module/color/color_tables.h"

namespace qv::module {

namespace {

double clamp01(double c) {
  if (!(c > 0)) return 0;  // also NaN
  return c < 1 ? c : 1;
}

uint8_t toByte(double c) { return static_cast<uint8_t>(std::floor(clamp01(c) * 255 + 0.5)); }

// One RGB component of an HLS color from the (turned) hue angle x.
double hlsComponent(double m1, double m2, double x) {
  if (x > 360) x -= 360;
  if (x < 0) x += 360;
  if (x < 60) return m1 + (m2 - m1) * x / 60;
  if (x < 180) return m2;
  if (x < 240) return m1 + (m2 - m1) * (240 - x) / 60;
  return m1;
}

// Hue on the usual scale (0 red, 120 green, 240 blue) of an RGB color, in
// degrees [0, 360); 0 for a gray.
double usualHue(double r, double g, double b, double mx, double d) {
  if (d <= 0) return 0;
  double h;
  if (mx == r)
    h = 60 * std::fmod((g - b) / d + 6, 6);
  else if (mx == g)
    h = 60 * ((b - r) / d + 2);
  else
    h = 60 * ((r - g) / d + 4);
  return h;
}

// Rounds a hue to whole degrees in [0, 360).
double wholeDegrees(double h) {
  double w = std::fmod(std::floor(h + 0.5), 360);
  return w < 0 ? w + 360 : w;
}

}  // namespace

void setByteRgb(ColorValue* v, uint8_t red, uint8_t green, uint8_t blue) {
  v->model = kModelByteRgb;
  v->c1 = v->c2 = v->c3 = v->c4 = 0;
  const uint8_t bytes[3] = {red, green, blue};
  std::memcpy(&v->c1, bytes, sizeof bytes);
}

void getByteRgb(const ColorValue& v, uint8_t out[3]) { std::memcpy(out, &v.c1, 3); }

void hls2rgb(ColorValue* v) {
  const double h = v->c1, l = v->c2, s = v->c3;
  if (s == 0) {
    v->c1 = v->c2 = v->c3 = l;
  } else {
    // This system's hue 0 is blue: turn it onto the usual scale.
    long whole = std::isfinite(h) ? static_cast<long>(std::fmod(std::trunc(h), 360.0)) : 0;
    double hp = static_cast<double>(((whole + 240) % 360 + 360) % 360);
    double m2 = l <= 0.5 ? l * (1 + s) : l + s - l * s;
    double m1 = 2 * l - m2;
    v->c1 = hlsComponent(m1, m2, hp + 120);
    v->c2 = hlsComponent(m1, m2, hp);
    v->c3 = hlsComponent(m1, m2, hp - 120);
  }
  v->model = kModelRgb;
}

void hsv2rgb(ColorValue* v) {
  const double h = v->c1, s = v->c2, val = v->c3;
  double r, g, b;
  if (s == 0) {
    r = g = b = val;
  } else {
    double sector = std::floor(h / 60);
    double f = h / 60 - sector;
    double p = val * (1 - s), q = val * (1 - s * f), t = val * (1 - s * (1 - f));
    int i = (sector >= 0 && sector <= 5) ? static_cast<int>(sector) : -1;
    switch (i) {
      case 0: r = val, g = t, b = p; break;
      case 1: r = q, g = val, b = p; break;
      case 2: r = p, g = val, b = t; break;
      case 3: r = p, g = q, b = val; break;
      case 4: r = t, g = p, b = val; break;
      case 5: r = val, g = p, b = q; break;
      default: r = g = b = 0.5; break;
    }
  }
  v->c1 = r, v->c2 = g, v->c3 = b, v->c4 = 0;
  v->model = kModelRgb;
}

void BASIC_id2clr(int index, ColorValue* v) {
  v->model = kModelRgb;
  v->c4 = 0;
  if (index < 0 || index >= kBasicColorCount) {
    v->c1 = v->c2 = v->c3 = 128 / 255.0;
    return;
  }
  v->c1 = spcols[index].red / 255.0;
  v->c2 = spcols[index].green / 255.0;
  v->c3 = spcols[index].blue / 255.0;
}

void convertColor(const ColorValue& from, int32_t wanted, double black, ColorValue* out) {
  if (from.model == wanted) {
    *out = from;
    out->black = black;
    return;
  }
  // First to RGB.
  double r = 0, g = 0, b = 0, alpha = 1;
  switch (from.model) {
    case kModelCmyk: {
      double k = from.c4;
      r = 1 - std::min(1.0, from.c1 * (1 - k) + k);
      g = 1 - std::min(1.0, from.c2 * (1 - k) + k);
      b = 1 - std::min(1.0, from.c3 * (1 - k) + k);
      break;
    }
    case kModelHls: {
      ColorValue t = from;
      hls2rgb(&t);
      r = t.c1, g = t.c2, b = t.c3;
      break;
    }
    case kModelHsv: {
      ColorValue t = from;
      hsv2rgb(&t);
      r = t.c1, g = t.c2, b = t.c3;
      break;
    }
    case kModelGray:
      r = g = b = from.c1;
      break;
    case kModelRgba:
      r = from.c1, g = from.c2, b = from.c3, alpha = from.c4;
      break;
    case kModelByteRgb: {
      uint8_t bytes[3];
      getByteRgb(from, bytes);
      r = bytes[0] / 255.0, g = bytes[1] / 255.0, b = bytes[2] / 255.0;
      break;
    }
    default:  // RGB
      r = from.c1, g = from.c2, b = from.c3;
      break;
  }
  r = clamp01(r), g = clamp01(g), b = clamp01(b), alpha = clamp01(alpha);

  // Then to the wanted model.
  ColorValue v;
  v.black = black;
  const double mx = std::max({r, g, b}), mn = std::min({r, g, b}), d = mx - mn;
  switch (wanted) {
    case kModelByteRgb:
      setByteRgb(&v, toByte(r), toByte(g), toByte(b));
      v.black = black;
      break;
    case kModelRgba:
      v.model = kModelRgba;
      v.c1 = r, v.c2 = g, v.c3 = b, v.c4 = alpha;
      break;
    case kModelGray: {
      double level = clamp01(0.299 * r + 0.587 * g + 0.114 * b);
      v.model = kModelGray;
      v.c1 = v.c2 = v.c3 = level;
      break;
    }
    case kModelHls: {
      double l = (mx + mn) / 2;
      double s = 0;
      if (d > 0) s = l <= 0.5 ? d / (mx + mn) : d / (2 - mx - mn);
      v.model = kModelHls;
      // This system's hue is the usual one turned back by 240 degrees.
      v.c1 = d > 0 ? wholeDegrees(usualHue(r, g, b, mx, d) + 120) : 0;
      v.c2 = l;
      v.c3 = clamp01(s);
      break;
    }
    case kModelHsv:
      v.model = kModelHsv;
      v.c1 = d > 0 ? wholeDegrees(usualHue(r, g, b, mx, d)) : 0;
      v.c2 = mx > 0 ? d / mx : 0;
      v.c3 = mx;
      break;
    case kModelCmyk: {
      double k = clamp01(black) * (1 - mx);
      v.model = kModelCmyk;
      if (k < 1) {
        v.c1 = clamp01((1 - r - k) / (1 - k));
        v.c2 = clamp01((1 - g - k) / (1 - k));
        v.c3 = clamp01((1 - b - k) / (1 - k));
      }
      v.c4 = k;
      break;
    }
    default:
      v.model = kModelRgb;
      v.c1 = r, v.c2 = g, v.c3 = b;
      break;
  }
  *out = v;
}

}  // namespace qv::module
