// PNG writing for finished maps: the rows unfiltered, compressed at once by
// libdeflate's fastest level (faster than zlib's fastest; maps are mostly
// flat color, and come out smaller than with filtered rows), in chunks
// written here.
#pragma once

#include <vector>

#include "render/paint/canvas.h"

namespace qv::render {

// The PNG bytes of a canvas: 8-bit RGB when every pixel is opaque, else
// 8-bit RGBA (straight alpha). UserError when the image cannot be encoded.
std::vector<unsigned char> encodePng(const Canvas& canvas);
// The same, using the image's memory as work space: the canvas holds no
// image afterwards (for a map whose file is all that is kept of it).
std::vector<unsigned char> encodePngSpending(Canvas& canvas);

// `n` bytes as a zlib stream, compressed by libdeflate at `level` (1, the
// fastest, to 12); empty when that fails. bad_alloc without memory.
std::vector<unsigned char> zlibCompress(const unsigned char* data, size_t n, int level);

}  // namespace qv::render
