#include "render/paint/canvas.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <fstream>
#include <memory>
#include <optional>
#include <utility>

// libjpeg's header needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "common/error.h"
#include "common/tempfiles.h"
#include "render/paint/cairo_painter.h"

namespace qv::render {

namespace {

std::string sizeText(int64_t w, int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

void checkSize(int64_t w, int64_t h, const std::string& what, int64_t maxSide = kMaxImageSide) {
  maxSide = std::min<int64_t>(maxSide, kMaxImageSide);
  if (w < 1 || h < 1 || w > maxSide || h > maxSide || w * h > kMaxImagePixels)
    throw qv::UserError(what + " has a size of " + sizeText(w, h) +
                        " pixels, outside the limits (each side 1 to " + std::to_string(maxSide) +
                        " pixels, at most " + std::to_string(kMaxImagePixels) +
                        " pixels in all).");
}

cairo_status_t appendBytes(void* closure, const unsigned char* data, unsigned int length) {
  auto* out = static_cast<std::vector<unsigned char>*>(closure);
  out->insert(out->end(), data, data + length);
  return CAIRO_STATUS_SUCCESS;
}

struct ReadCursor {
  const unsigned char* data;
  size_t size;
  size_t pos;
  bool ranOut = false;  // asked for more than the data holds
};

cairo_status_t readBytes(void* closure, unsigned char* data, unsigned int length) {
  auto* c = static_cast<ReadCursor*>(closure);
  if (c->size - c->pos < length) {
    c->ranOut = true;
    return CAIRO_STATUS_READ_ERROR;
  }
  std::memcpy(data, c->data + c->pos, length);
  c->pos += length;
  return CAIRO_STATUS_SUCCESS;
}

uint32_t readBigEndian32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to decodeJpeg with the message kept here.
struct JpegState {
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = {};
  std::optional<Canvas> canvas;
};

// Progressive images can hold thousands of tiny scans that take very long to
// decode; real tiles have about ten.
constexpr int kMaxJpegScans = 100;

JpegState* stateOf(j_common_ptr cinfo) { return static_cast<JpegState*>(cinfo->client_data); }

[[noreturn]] void onJpegError(j_common_ptr cinfo) {
  JpegState* st = stateOf(cinfo);
  (*cinfo->err->format_message)(cinfo, st->message);
  std::longjmp(st->jump, 1);
}

// Warnings about recoverable damage are not printed: the image is drawn as
// far as it decodes.
void onJpegMessage(j_common_ptr) {}

void onJpegProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxJpegScans) {
    JpegState* st = stateOf(cinfo);
    std::snprintf(st->message, sizeof st->message, "more than %d scans", kMaxJpegScans);
    std::longjmp(st->jump, 1);
  }
}

}  // namespace

void checkGraphSize(int64_t w, int64_t h) { checkSize(w, h, "The graph image"); }

std::string cairoVersion() { return cairo_version_string(); }

Canvas::Canvas(int width, int height) {
  checkSize(width, height, "The graph image");
  surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
  if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
    std::string reason = cairo_status_to_string(cairo_surface_status(surface_));
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
    throw qv::UserError("The graph image of " + sizeText(width, height) +
                        " pixels cannot be made: " + reason + ".");
  }
  cr_ = cairo_create(surface_);
  width_ = width;
  height_ = height;
}

Canvas::Canvas(cairo_surface_t* surface) : surface_(surface) {
  cr_ = cairo_create(surface_);
  width_ = cairo_image_surface_get_width(surface_);
  height_ = cairo_image_surface_get_height(surface_);
}

Painter& Canvas::painter() {
  if (!painter_) painter_ = std::make_unique<CairoPainter>(cr_, this);
  return *painter_;
}

Canvas::~Canvas() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) cairo_surface_destroy(surface_);
}

Canvas::Canvas(Canvas&& other) noexcept
    : surface_(std::exchange(other.surface_, nullptr)),
      cr_(std::exchange(other.cr_, nullptr)),
      width_(std::exchange(other.width_, 0)),
      height_(std::exchange(other.height_, 0)) {
  other.painter_.reset();
}

Canvas& Canvas::operator=(Canvas&& other) noexcept {
  if (this != &other) {
    if (cr_) cairo_destroy(cr_);
    if (surface_) cairo_surface_destroy(surface_);
    surface_ = std::exchange(other.surface_, nullptr);
    cr_ = std::exchange(other.cr_, nullptr);
    width_ = std::exchange(other.width_, 0);
    height_ = std::exchange(other.height_, 0);
    painter_.reset();
    other.painter_.reset();
  }
  return *this;
}

void Canvas::fill(const Rgba& color) {
  cairo_save(cr_);
  cairo_reset_clip(cr_);
  cairo_identity_matrix(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  setSourceColor(cr_, color);
  cairo_paint(cr_);
  cairo_restore(cr_);
}

std::vector<unsigned char> Canvas::pngBytes() const {
  std::vector<unsigned char> out;
  cairo_surface_flush(surface_);
  cairo_status_t st = cairo_surface_write_to_png_stream(surface_, appendBytes, &out);
  if (st != CAIRO_STATUS_SUCCESS)
    throw qv::UserError(std::string("The graph image cannot be encoded as PNG: ") +
                        cairo_status_to_string(st) + ".");
  return out;
}

void Canvas::writePng(const std::string& path) const {
  const std::vector<unsigned char> bytes = pngBytes();
  if (int err = qv::replaceFile(path, bytes.data(), bytes.size()))
    throw qv::UserError("The image file \"" + path + "\" cannot be written: " +
                        std::strerror(err) + ".");
}

uint32_t Canvas::pixelRgba(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  cairo_surface_flush(surface_);
  const unsigned char* row =
      cairo_image_surface_get_data(surface_) + size_t(y) * cairo_image_surface_get_stride(surface_);
  uint32_t argb;
  std::memcpy(&argb, row + size_t(x) * 4, 4);
  uint32_t a = argb >> 24, r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
  if (cairo_image_surface_get_format(surface_) == CAIRO_FORMAT_RGB24) a = 255;
  if (a == 0) return 0;
  if (a < 255) {  // straight alpha from premultiplied
    r = (r * 255 + a / 2) / a;
    g = (g * 255 + a / 2) / a;
    b = (b * 255 + a / 2) / a;
  }
  return (r << 24) | (g << 16) | (b << 8) | a;
}

bool looksLikePng(const unsigned char* data, size_t size) {
  static const unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= 8 && std::memcmp(data, sig, 8) == 0;
}

Canvas decodePng(const unsigned char* data, size_t size, const std::string& what,
                 int maxSide) {
  if (!looksLikePng(data, size))
    throw qv::UserError(what + " is not a PNG image.");
  // The header chunk gives the size; refuse huge images before decoding.
  if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0)
    throw qv::UserError(what + " is not a valid PNG image (no header chunk).");
  checkSize(readBigEndian32(data + 16), readBigEndian32(data + 20), what, maxSide);

  ReadCursor cursor{data, size, 0, false};
  cairo_surface_t* img = cairo_image_surface_create_from_png_stream(readBytes, &cursor);
  cairo_status_t st = cairo_surface_status(img);
  if (st != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(img);
    // The PNG reader reports a short file as a memory failure: say what it is.
    if (cursor.ranOut)
      throw qv::UserError(what + " is a truncated PNG image: it ends after " +
                          std::to_string(size) + " bytes.");
    throw qv::UserError(what + " is not a valid PNG image: " + cairo_status_to_string(st) + ".");
  }
  // Always hand back ARGB32, whatever the file's own pixel format.
  int w = cairo_image_surface_get_width(img), h = cairo_image_surface_get_height(img);
  Canvas out(w, h);
  cairo_set_operator(out.cr(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(out.cr(), img, 0, 0);
  cairo_paint(out.cr());
  cairo_set_operator(out.cr(), CAIRO_OPERATOR_OVER);
  cairo_surface_destroy(img);
  return out;
}

bool looksLikeJpeg(const unsigned char* data, size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

Canvas decodeJpeg(const unsigned char* data, size_t size, const std::string& what,
                  int maxSide) {
  if (!looksLikeJpeg(data, size)) throw qv::UserError(what + " is not a JPEG image.");
  // Everything libjpeg's error jump may skip over lives on the heap, so no
  // local changed after setjmp is read after the jump.
  auto st = std::make_unique<JpegState>();
  jpeg_decompress_struct* cinfo = &st->cinfo;
  cinfo->err = jpeg_std_error(&st->err);
  st->err.error_exit = onJpegError;
  st->err.output_message = onJpegMessage;
  cinfo->client_data = st.get();  // kept by jpeg_create_decompress
  if (setjmp(st->jump)) {
    jpeg_destroy_decompress(cinfo);
    throw qv::UserError(what + " is not a valid JPEG image: " + st->message + ".");
  }
  jpeg_create_decompress(cinfo);
  st->progress.progress_monitor = onJpegProgress;
  cinfo->progress = &st->progress;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(cinfo, TRUE);
  int64_t w = cinfo->image_width, h = cinfo->image_height;
  try {
    checkSize(w, h, what, maxSide);
  } catch (...) {
    jpeg_destroy_decompress(cinfo);
    throw;
  }
  // Decode straight into Cairo's pixel order (0xAARRGGBB in native order)
  // with the alpha byte set to opaque.
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  cinfo->out_color_space = JCS_EXT_BGRA;
#else
  cinfo->out_color_space = JCS_EXT_ARGB;
#endif
  jpeg_start_decompress(cinfo);
  try {
    st->canvas.emplace(static_cast<int>(w), static_cast<int>(h));
  } catch (...) {
    jpeg_destroy_decompress(cinfo);
    throw;
  }
  cairo_surface_t* surface = st->canvas->surface();
  cairo_surface_flush(surface);
  unsigned char* pixels = cairo_image_surface_get_data(surface);
  size_t stride = static_cast<size_t>(cairo_image_surface_get_stride(surface));
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = pixels + size_t(cinfo->output_scanline) * stride;
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  cairo_surface_mark_dirty(surface);
  jpeg_finish_decompress(cinfo);
  jpeg_destroy_decompress(cinfo);
  return std::move(*st->canvas);
}

Canvas readPngFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw qv::UserError("The image file \"" + path + "\" cannot be read: " +
                        std::strerror(errno) + ".");
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  return decodePng(bytes.data(), bytes.size(), "The image file \"" + path + "\"");
}

void requireDrawn(cairo_t* cr, const std::string& what) {
  cairo_status_t st = cairo_status(cr);
  if (st == CAIRO_STATUS_SUCCESS) st = cairo_surface_status(cairo_get_target(cr));
  // Memory is the host's to report, as everywhere else.
  if (st == CAIRO_STATUS_NO_MEMORY) throw std::bad_alloc();
  if (st != CAIRO_STATUS_SUCCESS)
    throw qv::UserError("drawing " + what + " failed (" + cairo_status_to_string(st) +
                        "); no image is written.");
}

void setSourceColor(cairo_t* cr, const Rgba& c) {
  cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}


}  // namespace qv::render
