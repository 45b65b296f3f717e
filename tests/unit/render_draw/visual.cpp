#include "visual.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/common/error.h"

namespace qv::test {

namespace {

int part(uint32_t rgba, int shift) { return static_cast<int>((rgba >> shift) & 0xFF); }

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
      uint32_t p = a.pixelRgba(x, y), q = b.pixelRgba(x, y);
      int worst = 0;
      for (int s = 0; s < 32; s += 8) worst = std::max(worst, std::abs(part(p, s) - part(q, s)));
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
      uint32_t p = a.pixelRgba(x, y), q = b.pixelRgba(x, y);
      int worst = 0;
      for (int s = 0; s < 32; s += 8) worst = std::max(worst, std::abs(part(p, s) - part(q, s)));
      if (worst > tolerance) {
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

::testing::AssertionResult matchesReference(const render::Canvas& actual, const std::string& name) {
  namespace fs = std::filesystem;
  std::string size = std::to_string(actual.width()) + "x" + std::to_string(actual.height());
  fs::path ref = fs::path(visualCaseDir(name)) / "expected.png";
  fs::path outDir = fs::path(QV_BINARY_DIR) / "visual";
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
  fs::create_directories(outDir);
  fs::path actualPath = outDir / (name + ".actual.png");
  if (!fs::exists(ref)) {
    actual.writePng(actualPath.string());
    return ::testing::AssertionFailure()
           << "no reference image " << ref.string() << "; the drawing is in " << actualPath.string()
           << " (run with QORTAVLO_REBASELINE=1 to make it the reference)";
  }
  render::Canvas expected = render::readPngFile(ref.string());
  if (expected.width() != actual.width() || expected.height() != actual.height()) {
    actual.writePng(actualPath.string());
    return ::testing::AssertionFailure()
           << "reference " << ref.string() << " is " << expected.width() << "x"
           << expected.height() << ", the drawing " << size;
  }
  ImageDiff d = compareImages(actual, expected, tolerance);
  double fraction = d.total ? double(d.differing) / double(d.total) : 0;
  if (fraction <= allowedFraction) return ::testing::AssertionSuccess();

  fs::path diffPath = outDir / (name + ".diff.png");
  actual.writePng(actualPath.string());
  diffImage(actual, expected, tolerance).writePng(diffPath.string());
  std::ostringstream msg;
  msg << name << ": " << d.differing << " of " << d.total << " pixels differ (" << fraction * 100
      << "%, allowed " << allowedFraction * 100 << "%) by more than "
      << tolerance << "; largest difference " << d.worst << ". Drawing: "
      << actualPath.string() << ", difference: " << diffPath.string();
  return ::testing::AssertionFailure() << msg.str();
}

}  // namespace qv::test
