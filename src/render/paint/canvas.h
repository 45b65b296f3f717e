// The image a graph is drawn on: a Cairo ARGB surface of the graph's size,
// written as PNG to a file or to memory; and small helpers that set Cairo's
// source and line state from the style's values.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "render/graph/style.h"
#include "render/paint/painter.h"

namespace qv::render {

// Largest side and pixel count of an image (Cairo's own limit is 32767 a
// side; the pixel cap keeps one image under 1 GiB of memory).
inline constexpr int kMaxImageSide = 32767;
inline constexpr int64_t kMaxImagePixels = int64_t(1) << 28;

// UserError naming the size when a graph of w x h pixels is outside the
// limits above.
void checkGraphSize(int64_t w, int64_t h);

// The version of Cairo the images are drawn with ("1.16.0").
std::string cairoVersion();

class Canvas {
 public:
  // A transparent image of width x height pixels. UserError when the size is
  // not positive or too large, naming the size.
  Canvas(int width, int height);
  // Takes over an image surface (from decodePng).
  explicit Canvas(cairo_surface_t* surface);
  ~Canvas();
  Canvas(Canvas&& other) noexcept;
  Canvas& operator=(Canvas&& other) noexcept;
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;

  int width() const { return width_; }
  int height() const { return height_; }
  cairo_t* cr() const { return cr_; }
  cairo_surface_t* surface() const { return surface_; }
  // A painter that draws on this image, one pixel to a unit.
  Painter& painter();

  // Paints the whole image with a color (the graph background).
  void fill(const Rgba& color);

  // The image as PNG bytes. UserError when Cairo cannot encode it.
  std::vector<unsigned char> pngBytes() const;
  // Writes the PNG to `path`, replacing a file that is there; the file is
  // written whole under a temporary name and then renamed, so a failure
  // leaves no partial image. UserError naming the path and the reason.
  void writePng(const std::string& path) const;

  // The color of a pixel as straight 8-bit RGBA (0 outside the image).
  uint32_t pixelRgba(int x, int y) const;

 private:
  cairo_surface_t* surface_ = nullptr;
  cairo_t* cr_ = nullptr;
  int width_ = 0, height_ = 0;
  std::unique_ptr<Painter> painter_;  // made on first use
};

// Decodes PNG bytes into a canvas. UserError naming `what` (a file name or
// URL, for the message) when the bytes are not a PNG image or the image has
// a side longer than `maxSide` pixels (checked before decoding).
Canvas decodePng(const unsigned char* data, size_t size, const std::string& what,
                 int maxSide = kMaxImageSide);
// Reads a PNG file. UserError naming the path and the reason.
Canvas readPngFile(const std::string& path);

// True when the bytes start with the PNG signature.
bool looksLikePng(const unsigned char* data, size_t size);
// True when the bytes start with a JPEG start-of-image marker.
bool looksLikeJpeg(const unsigned char* data, size_t size);

// Decodes JPEG bytes (baseline or progressive, gray or color) into an
// opaque canvas. UserError naming `what` when the bytes are not a JPEG image,
// are damaged beyond decoding, or the image has a side longer than `maxSide`.
Canvas decodeJpeg(const unsigned char* data, size_t size, const std::string& what,
                  int maxSide = kMaxImageSide);

// Cairo keeps its first error and draws nothing after it, so an image drawn
// past one is not the image asked for: UserError naming `what` was being
// drawn and Cairo's reason when the context or its surface is in an error
// state.
void requireDrawn(cairo_t* cr, const std::string& what);

// Cairo's source from a style color.
void setSourceColor(cairo_t* cr, const Rgba& c);

}  // namespace qv::render
