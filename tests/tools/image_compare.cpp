// Compares two PNG images as the visual tests do, for test scripts:
//
//   image_compare [--tolerance N] [--fraction F] [--scale S] [--rows Y0 Y1]
//                 [--diff FILE] ACTUAL EXPECTED
//
// Two pixels match when each of their red, green, blue and alpha parts
// differs by at most N (default 24); the images match when the share of
// pixels that do not is at most F (default 0.004). Exit status 0 when they
// match, 1 when they do not (or differ in size), 2 when an argument or a
// file is bad. With --diff the difference image is written to FILE when
// they do not match. --scale 1/K (0.5, 0.25, ...) first shrinks ACTUAL K
// times in each direction, each pixel the mean of a KxK block (a drawing at
// K times the resolution against one at the plain resolution); --rows
// compares only rows Y0 to Y1-1 of both (a band that holds no text, which
// is hinted to the pixel grid at each size).
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "../unit/render_draw/visual.h"
#include "render/paint/canvas.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr,
               "image_compare: %s\nusage: image_compare [--tolerance N] [--fraction F] "
               "[--scale S] [--rows Y0 Y1] [--diff FILE] ACTUAL EXPECTED\n",
               why);
  return 2;
}

bool number(const char* text, double lo, double hi, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !(v >= lo && v <= hi)) return false;
  *out = v;
  return true;
}

// The image shrunk k times in each direction, each pixel the mean of a
// k x k block (averaged unpremultiplied, stored premultiplied as Cairo keeps
// it).
qv::render::Canvas shrink(const qv::render::Canvas& big, int k) {
  qv::render::Canvas out(big.width() / k, big.height() / k);
  cairo_surface_flush(out.surface());
  unsigned char* data = cairo_image_surface_get_data(out.surface());
  const int stride = cairo_image_surface_get_stride(out.surface());
  const int n = k * k;
  for (int y = 0; y < out.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    for (int x = 0; x < out.width(); ++x) {
      int sum[4] = {0, 0, 0, 0};
      for (int dy = 0; dy < k; ++dy)
        for (int dx = 0; dx < k; ++dx) {
          const uint32_t p = big.pixelRgba(k * x + dx, k * y + dy);
          for (int c = 0; c < 4; ++c) sum[c] += int((p >> (24 - 8 * c)) & 0xFF);
        }
      uint32_t v[4];
      for (int c = 0; c < 4; ++c) v[c] = uint32_t((sum[c] + n / 2) / n);
      const uint32_t a = v[3];
      auto pm = [a](uint32_t c) { return (c * a + 127) / 255; };
      row[x] = (a << 24) | (pm(v[0]) << 16) | (pm(v[1]) << 8) | pm(v[2]);
    }
  }
  cairo_surface_mark_dirty(out.surface());
  return out;
}

// Rows [y0, y1) of an image.
qv::render::Canvas rows(const qv::render::Canvas& c, int y0, int y1) {
  qv::render::Canvas out(c.width(), y1 - y0);
  cairo_set_source_surface(out.cr(), c.surface(), 0, -y0);
  cairo_set_operator(out.cr(), CAIRO_OPERATOR_SOURCE);
  cairo_paint(out.cr());
  cairo_surface_flush(out.surface());
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  double tolerance = 24, fraction = 0.004, scale = 1, y0 = -1, y1 = -1;
  std::string diffPath, files[2];
  int nfiles = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--tolerance") {
      if (!hasValue || !number(argv[++i], 0, 255, &tolerance))
        return usage("--tolerance needs a number from 0 to 255");
    } else if (a == "--fraction") {
      if (!hasValue || !number(argv[++i], 0, 1, &fraction))
        return usage("--fraction needs a number from 0 to 1");
    } else if (a == "--scale") {
      if (!hasValue || !number(argv[++i], 1e-3, 1, &scale) ||
          std::fabs(1 / scale - std::round(1 / scale)) > 1e-9)
        return usage("--scale needs 1/K for a whole number K (0.5, 0.25, ...)");
    } else if (a == "--rows") {
      if (i + 2 >= argc || !number(argv[i + 1], 0, 1e6, &y0) || !number(argv[i + 2], y0 + 1, 1e6, &y1))
        return usage("--rows needs a first row and a later end row");
      i += 2;
    } else if (a == "--diff") {
      if (!hasValue) return usage("--diff needs a file name");
      diffPath = argv[++i];
    } else if (nfiles < 2 && !(a.size() > 1 && a[0] == '-')) {
      files[nfiles++] = a;
    } else {
      return usage(("unexpected argument " + a).c_str());
    }
  }
  if (nfiles != 2) return usage("two images are needed");
  try {
    qv::render::Canvas actual = qv::render::readPngFile(files[0]);
    qv::render::Canvas expected = qv::render::readPngFile(files[1]);
    if (scale != 1) actual = shrink(actual, static_cast<int>(std::lround(1 / scale)));
    if (y0 >= 0) {
      if (y1 > actual.height() || y1 > expected.height())
        return usage("--rows reach below an image");
      actual = rows(actual, int(y0), int(y1));
      expected = rows(expected, int(y0), int(y1));
    }
    if (actual.width() != expected.width() || actual.height() != expected.height()) {
      std::printf("%s is %dx%d, %s is %dx%d\n", files[0].c_str(), actual.width(), actual.height(),
                  files[1].c_str(), expected.width(), expected.height());
      return 1;
    }
    const int tol = static_cast<int>(tolerance);
    const qv::test::ImageDiff d = qv::test::compareImages(actual, expected, tol);
    const double share = d.total ? double(d.differing) / double(d.total) : 0;
    std::printf("%ld of %ld pixels differ (%.3f%%, allowed %.3f%%) by more than %d; largest "
                "difference %d\n",
                d.differing, d.total, share * 100, fraction * 100, tol, d.worst);
    if (share <= fraction) return 0;
    if (!diffPath.empty()) qv::test::diffImage(actual, expected, tol).writePng(diffPath);
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "image_compare: %s\n", e.what());
    return 2;
  }
}
