#include "visual.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/error.h"

namespace qv::test {

namespace {

int part(uint32_t rgba, int shift) { return static_cast<int>((rgba >> shift) & 0xFF); }

// The largest difference of one of the four parts of two pixels.
int worstPart(uint32_t p, uint32_t q) {
  int worst = 0;
  for (int s = 0; s < 32; s += 8) worst = std::max(worst, std::abs(part(p, s) - part(q, s)));
  return worst;
}

bool rebaseline() {
  const char* v = std::getenv("QORTAVLO_REBASELINE");
  return v && std::strcmp(v, "1") == 0;
}

}  // namespace

ImageDiff compareImages(const render::Canvas& a, const render::Canvas& b, int tolerance) {
  ImageDiff d;
  d.total = long(a.width()) * a.height();
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const int worst = worstPart(a.pixelRgba(x, y), b.pixelRgba(x, y));
      d.worst = std::max(d.worst, worst);
      if (worst > tolerance) ++d.differing;
    }
  }
  return d;
}

render::Canvas diffImage(const render::Canvas& a, const render::Canvas& b, int tolerance) {
  render::Canvas out(a.width(), a.height());
  cairo_surface_flush(out.surface());
  unsigned char* data = cairo_image_surface_get_data(out.surface());
  int stride = cairo_image_surface_get_stride(out.surface());
  for (int y = 0; y < a.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(data + size_t(y) * stride);
    for (int x = 0; x < a.width(); ++x) {
      const uint32_t q = b.pixelRgba(x, y);
      if (worstPart(a.pixelRgba(x, y), q) > tolerance) {
        row[x] = 0xFFFF0000u;  // opaque red
      } else {
        // The reference, faded to light gray.
        int gray = (part(q, 24) + part(q, 16) + part(q, 8)) / 3;
        uint32_t v = static_cast<uint32_t>(191 + gray / 4);
        row[x] = 0xFF000000u | (v << 16) | (v << 8) | v;
      }
    }
  }
  cairo_surface_mark_dirty(out.surface());
  return out;
}

std::string visualCaseDir(const std::string& name) {
  return std::string(QV_SOURCE_DIR) + "/tests/visual/" + name;
}

::testing::AssertionResult matchesImage(const render::Canvas& actual,
                                        const render::Canvas& expected, int tolerance,
                                        double share, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path outDir = fs::path(QV_BINARY_DIR) / "visual";
  fs::create_directories(outDir);
  const fs::path actualPath = outDir / (name + ".actual.png");
  if (expected.width() != actual.width() || expected.height() != actual.height()) {
    actual.writePng(actualPath.string());
    return ::testing::AssertionFailure()
           << name << ": the reference is " << expected.width() << "x" << expected.height()
           << ", the drawing " << actual.width() << "x" << actual.height();
  }
  const ImageDiff d = compareImages(actual, expected, tolerance);
  const double fraction = d.total ? double(d.differing) / double(d.total) : 0;
  if (fraction <= share) return ::testing::AssertionSuccess();

  const fs::path diffPath = outDir / (name + ".diff.png");
  actual.writePng(actualPath.string());
  diffImage(actual, expected, tolerance).writePng(diffPath.string());
  return ::testing::AssertionFailure()
         << name << ": " << d.differing << " of " << d.total << " pixels differ ("
         << fraction * 100 << "%, allowed " << share * 100 << "%) by more than " << tolerance
         << "; largest difference " << d.worst << ". Drawing: " << actualPath.string()
         << ", difference: " << diffPath.string();
}

::testing::AssertionResult matchesReference(const render::Canvas& actual, const std::string& name) {
  namespace fs = std::filesystem;
  const fs::path ref = fs::path(visualCaseDir(name)) / "expected.png";
  int tolerance = -1;
  double allowedFraction = -1;
  std::ifstream(fs::path(visualCaseDir(name)) / "tolerance") >> tolerance >> allowedFraction;
  if (tolerance < 0 || tolerance > 255 || !(allowedFraction >= 0 && allowedFraction <= 1))
    return ::testing::AssertionFailure()
           << visualCaseDir(name) << "/tolerance holds no line \"PART SHARE\" (e.g. 24 0.004)";

  if (rebaseline()) {
    fs::create_directories(ref.parent_path());
    actual.writePng(ref.string());
    return ::testing::AssertionSuccess() << "wrote the reference " << ref.string();
  }
  if (!fs::exists(ref)) {
    const fs::path outDir = fs::path(QV_BINARY_DIR) / "visual";
    fs::create_directories(outDir);
    const fs::path actualPath = outDir / (name + ".actual.png");
    actual.writePng(actualPath.string());
    return ::testing::AssertionFailure()
           << "no reference image " << ref.string() << "; the drawing is in " << actualPath.string()
           << " (run with QORTAVLO_REBASELINE=1 to make it the reference)";
  }
  return matchesImage(actual, render::readPngFile(ref.string()), tolerance, allowedFraction, name);
}

}  // namespace qv::test
