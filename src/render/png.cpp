#include "render/png.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "runtime/common/error.h"

namespace qv::render {

namespace {

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

[[noreturn]] void fail(png_structp png, png_const_charp message) {
  auto* why = static_cast<std::string*>(png_get_error_ptr(png));
  if (why) *why = message ? message : "unknown error";
  png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// One row of Cairo's premultiplied ARGB32 (or RGB24) pixels as straight RGB
// or RGBA bytes.
void convertRow(const uint32_t* row, int w, bool rgb24, bool opaque, unsigned char* out) {
  const size_t bpp = opaque ? 3 : 4;
  for (int x = 0; x < w; ++x) {
    const uint32_t p = row[x];
    uint32_t a = rgb24 ? 255 : p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
    if (a != 255) {
      if (a == 0) {
        r = g = b = 0;
      } else {
        r = (r * 255 + a / 2) / a;
        g = (g * 255 + a / 2) / a;
        b = (b * 255 + a / 2) / a;
      }
    }
    unsigned char* d = out + static_cast<size_t>(x) * bpp;
    d[0] = static_cast<unsigned char>(std::min(r, 255u));
    d[1] = static_cast<unsigned char>(std::min(g, 255u));
    d[2] = static_cast<unsigned char>(std::min(b, 255u));
    if (bpp == 4) d[3] = static_cast<unsigned char>(a);
  }
}

}  // namespace

std::vector<unsigned char> encodePng(const Canvas& canvas) {
  cairo_surface_t* s = canvas.surface();
  if (cairo_status_t st = cairo_surface_status(s); st != CAIRO_STATUS_SUCCESS)
    throw rt::UserError(std::string("The image cannot be encoded as PNG: ") +
                        cairo_status_to_string(st) + ".");
  cairo_surface_flush(s);
  const int w = canvas.width(), h = canvas.height();
  const unsigned char* pixels = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  if (!pixels || w <= 0 || h <= 0) throw rt::UserError("The image cannot be encoded as PNG.");
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

  std::vector<unsigned char> out;
  std::vector<unsigned char> line(static_cast<size_t>(w) * (opaque ? 3 : 4));
  std::string why;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &why, fail, ignoreWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!png || !info) {
    png_destroy_write_struct(&png, &info);
    throw rt::UserError("The image cannot be encoded as PNG: out of memory.");
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw rt::UserError("The image cannot be encoded as PNG: " + why + ".");
  }
  png_set_write_fn(png, &out, appendBytes, flushNothing);
  png_set_IHDR(png, info, static_cast<png_uint_32>(w), static_cast<png_uint_32>(h), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Maps are large areas of flat color with antialiased edges: unfiltered
  // rows at zlib's fastest level come out smaller than SUB/UP filtering with
  // run-length coding (4% on the county map, 11% on a million points) and
  // encode up to twice as fast (bench/png_choices.cpp measures the choices).
  png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_set_compression_level(png, 1);
  png_write_info(png, info);
  for (int y = 0; y < h; ++y) {
    convertRow(rowAt(y), w, rgb24, opaque, line.data());
    png_write_row(png, line.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

}  // namespace qv::render
