// Compares two PNG images as the visual tests do, for test scripts:
//
//   image_compare [--tolerance N] [--fraction F] [--diff FILE] ACTUAL EXPECTED
//
// Two pixels match when each of their red, green, blue and alpha parts
// differs by at most N (default 24); the images match when the share of
// pixels that do not is at most F (default 0.004). Exit status 0 when they
// match, 1 when they do not (or differ in size), 2 when an argument or a
// file is bad. With --diff the difference image is written to FILE when
// they do not match.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "../unit/render_draw/visual.h"
#include "render/canvas.h"

namespace {

int usage(const char* why) {
  std::fprintf(stderr,
               "image_compare: %s\nusage: image_compare [--tolerance N] [--fraction F] "
               "[--diff FILE] ACTUAL EXPECTED\n",
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

}  // namespace

int main(int argc, char** argv) {
  double tolerance = 24, fraction = 0.004;
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
    const qv::render::Canvas actual = qv::render::readPngFile(files[0]);
    const qv::render::Canvas expected = qv::render::readPngFile(files[1]);
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
