// Visual tests: compare a drawing with the reference of its case folder,
// tests/visual/<name>/expected.png, within the folder's tolerance (see
// tests/visual/README.md).
//
// Two pixels match when each of their red, green, blue and alpha parts
// differs by at most the tolerance; the drawing passes when the share of
// pixels that do not match is at most the allowed share (so font hinting
// and anti-aliasing differences between machines do not fail it). On
// failure <name>.actual.png and <name>.diff.png are written into
// <build>/visual/ and the message gives the numbers. With the environment
// variable QORTAVLO_REBASELINE=1 the drawing is written as the new
// reference instead.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "render/paint/canvas.h"

namespace qv::test {

struct ImageDiff {
  long differing = 0;  // pixels outside the tolerance
  long total = 0;
  int worst = 0;       // largest difference of one part
};

// Compares two images of the same size.
ImageDiff compareImages(const render::Canvas& actual, const render::Canvas& expected,
                        int tolerance);
// An image that shows the reference faded, differing pixels in red.
render::Canvas diffImage(const render::Canvas& actual, const render::Canvas& expected,
                         int tolerance);

// The folder of the case `name`.
std::string visualCaseDir(const std::string& name);

// Whether at most `share` of the pixels of two drawings differ by more than
// `tolerance`; on failure both are kept as <build>/visual/<name>.actual.png
// and .diff.png.
::testing::AssertionResult matchesImage(const render::Canvas& actual,
                                        const render::Canvas& expected, int tolerance,
                                        double share, const std::string& name);

::testing::AssertionResult matchesReference(const render::Canvas& actual, const std::string& name);

}  // namespace qv::test
