// PNG writing for finished maps, with libpng. Maps are mostly flat color:
// the SUB and UP filters with zlib's run-length strategy compress them about
// as well as the default settings and several times faster, which matters
// for large images and a million markers.
#pragma once

#include <vector>

#include "render/canvas.h"

namespace qv::render {

// The PNG bytes of a canvas: 8-bit RGB when every pixel is opaque, else
// 8-bit RGBA (straight alpha). UserError when the image cannot be encoded.
std::vector<unsigned char> encodePng(const Canvas& canvas);

}  // namespace qv::render
