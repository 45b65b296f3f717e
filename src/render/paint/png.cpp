#include "render/paint/png.h"

#include <libdeflate.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/error.h"

namespace qv::render {

namespace {

// An opaque row (premultiplying changed nothing) as red, green and blue
// bytes: where the machine is little-endian, four pixels to three words.
// Each group of pixels is read before its bytes are written.
void opaqueRow(const uint32_t* row, int w, unsigned char* out) {
  int x = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; x + 4 <= w; x += 4) {
      // 0xAARRGGBB byte-swapped and shifted: R, G, B in the low bytes.
      const uint32_t q0 = __builtin_bswap32(row[x]) >> 8, q1 = __builtin_bswap32(row[x + 1]) >> 8,
                     q2 = __builtin_bswap32(row[x + 2]) >> 8,
                     q3 = __builtin_bswap32(row[x + 3]) >> 8;
      const uint32_t words[3] = {q0 | q1 << 24, q1 >> 8 | q2 << 16, q2 >> 16 | q3 << 8};
      std::memcpy(out + 3 * static_cast<size_t>(x), words, 12);
    }
  }
  for (; x < w; ++x) {
    const uint32_t p = row[x];
    unsigned char* d = out + 3 * static_cast<size_t>(x);
    d[0] = static_cast<unsigned char>(p >> 16);
    d[1] = static_cast<unsigned char>(p >> 8);
    d[2] = static_cast<unsigned char>(p);
  }
}

// One row of Cairo's premultiplied pixels as straight RGB bytes (`opaque`:
// every pixel opaque, or an RGB24 image) or RGBA bytes.
void convertRow(const uint32_t* row, int w, bool opaque, unsigned char* out) {
  if (opaque) {
    opaqueRow(row, w, out);
    return;
  }
  for (int x = 0; x < w; ++x) {
    const uint32_t p = row[x];
    uint32_t a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    if (a != 255) {
      if (a == 0) {
        r = g = b = 0;
      } else {
        r = (r * 255 + a / 2) / a;
        g = (g * 255 + a / 2) / a;
        b = (b * 255 + a / 2) / a;
      }
    }
    unsigned char* d = out + static_cast<size_t>(x) * 4;
    d[0] = static_cast<unsigned char>(std::min(r, 255u));
    d[1] = static_cast<unsigned char>(std::min(g, 255u));
    d[2] = static_cast<unsigned char>(std::min(b, 255u));
    d[3] = static_cast<unsigned char>(a);
  }
}

void putU32(std::vector<unsigned char>& out, uint32_t v) {
  const unsigned char b[4] = {static_cast<unsigned char>(v >> 24),
                              static_cast<unsigned char>(v >> 16),
                              static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
  out.insert(out.end(), b, b + 4);
}

// A chunk: length, type, data and the CRC of type and data.
void putChunk(std::vector<unsigned char>& out, const char type[4], const unsigned char* data,
              size_t n) {
  putU32(out, static_cast<uint32_t>(n));
  const size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  if (n) out.insert(out.end(), data, data + n);
  putU32(out, libdeflate_crc32(0, out.data() + at, n + 4));
}

struct CompressorFree {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

// The PNG of a canvas; with `spend`, an opaque image's own memory holds
// its rows on the way.
std::vector<unsigned char> encode(const Canvas& canvas, bool spend) {
  cairo_surface_t* s = canvas.surface();
  if (cairo_status_t st = cairo_surface_status(s); st != CAIRO_STATUS_SUCCESS)
    throw qv::UserError(std::string("The image cannot be encoded as PNG: ") +
                        cairo_status_to_string(st) + ".");
  cairo_surface_flush(s);
  const int w = canvas.width(), h = canvas.height();
  const unsigned char* pixels = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  if (!pixels || w <= 0 || h <= 0) throw qv::UserError("The image cannot be encoded as PNG.");
  const bool rgb24 = cairo_image_surface_get_format(s) == CAIRO_FORMAT_RGB24;
  auto rowAt = [&](int y) {
    return reinterpret_cast<const uint32_t*>(pixels + static_cast<ptrdiff_t>(y) * stride);
  };

  bool opaque = true;
  for (int y = 0; y < h && opaque && !rgb24; ++y) {
    const uint32_t* row = rowAt(y);
    for (int x = 0; x < w; ++x)
      if ((row[x] >> 24) != 255) {
        opaque = false;
        break;
      }
  }

  // The rows, each after its filter byte (0: none), compressed at once.
  // Maps are large areas of flat color with antialiased edges: unfiltered
  // rows at libdeflate's fastest level encode faster than zlib's fastest
  // and come out smaller than SUB/UP rows with run-length coding
  // (bench/png_choices.cpp measures the choices on given maps).
  const size_t rowBytes = static_cast<size_t>(w) * (opaque ? 3 : 4) + 1;
  const size_t rawBytes = rowBytes * static_cast<size_t>(h);
  // An opaque image's rows (3 bytes a pixel and one more) fit in its own
  // memory (4 bytes a pixel) and are written there when it may be spent:
  // each row's bytes end before the next image row begins, and a pixel is
  // read before its bytes are written (the filter byte last), so nothing
  // is overwritten before it is read. That spares a buffer of the image's
  // size (fresh memory costs more than the conversion).
  std::unique_ptr<unsigned char[]> own;
  unsigned char* raw;
  if (spend && opaque && w > 1) {
    raw = cairo_image_surface_get_data(s);
  } else {
    own.reset(new unsigned char[rawBytes]);
    raw = own.get();
  }
  for (int y = 0; y < h; ++y) {
    unsigned char* line = raw + rowBytes * static_cast<size_t>(y);
    convertRow(rowAt(y), w, opaque, line + 1);
    line[0] = 0;
  }
  const std::vector<unsigned char> packed = zlibCompress(raw, rawBytes, 1);
  const size_t packedBytes = packed.size();
  if (packedBytes == 0) throw qv::UserError("The image cannot be encoded as PNG.");
  own.reset();

  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<unsigned char> out(kSignature, kSignature + 8);
  out.reserve(8 + 25 + packedBytes + 12 * (packedBytes / (1u << 30) + 1) + 12);
  std::vector<unsigned char> ihdr;
  putU32(ihdr, static_cast<uint32_t>(w));
  putU32(ihdr, static_cast<uint32_t>(h));
  // 8 bits a sample; RGB (2) or RGBA (6); deflate; adaptive filtering; no
  // interlace.
  const unsigned char rest[5] = {8, static_cast<unsigned char>(opaque ? 2 : 6), 0, 0, 0};
  ihdr.insert(ihdr.end(), rest, rest + 5);
  putChunk(out, "IHDR", ihdr.data(), ihdr.size());
  // A chunk holds less than 2^31 bytes: a larger stream goes in several.
  for (size_t at = 0; at < packedBytes; at += size_t{1} << 30)
    putChunk(out, "IDAT", packed.data() + at, std::min(packedBytes - at, size_t{1} << 30));
  putChunk(out, "IEND", nullptr, 0);
  return out;
}

}  // namespace

std::vector<unsigned char> zlibCompress(const unsigned char* data, size_t n, int level) {
  std::unique_ptr<libdeflate_compressor, CompressorFree> zc(libdeflate_alloc_compressor(level));
  if (!zc) throw std::bad_alloc();
  std::vector<unsigned char> out(libdeflate_zlib_compress_bound(zc.get(), n));
  out.resize(libdeflate_zlib_compress(zc.get(), data, n, out.data(), out.size()));
  return out;
}

std::vector<unsigned char> encodePng(const Canvas& canvas) { return encode(canvas, false); }

std::vector<unsigned char> encodePngSpending(Canvas& canvas) {
  std::vector<unsigned char> png = encode(canvas, true);
  cairo_surface_mark_dirty(canvas.surface());
  return png;
}

}  // namespace qv::render
