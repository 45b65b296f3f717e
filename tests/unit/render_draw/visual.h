// Visual tests: compare a drawing with a reference PNG kept in
// tests/visual/<name>.<W>x<H>.png.
//
// Two pixels match when each of their red, green, blue and alpha parts
// differs by at most `tolerance`; the drawing passes when the share of
// pixels that do not match is at most `allowedFraction` (so font hinting
// and anti-aliasing differences between machines do not fail it). On
// failure <name>.actual.png and <name>.diff.png are written into
// <build>/visual/ and the message gives the numbers. With the environment
// variable QORTAVLO_REBASELINE=1 the drawing is written as the new
// reference instead.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "render/canvas.h"

namespace qv::test {

struct VisualOptions {
  int tolerance = 24;              // per color part, 0..255
  double allowedFraction = 0.004;  // of all pixels
};

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

::testing::AssertionResult matchesReference(const render::Canvas& actual, const std::string& name,
                                            const VisualOptions& options = {});

}  // namespace qv::test
