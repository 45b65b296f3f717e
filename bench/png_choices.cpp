// The PNG encoder's choices measured on real maps: each row filter set,
// zlib strategy and level through libpng, and libdeflate's levels on
// unfiltered rows (what the map writer does), timed (best of 7 encodings)
// on the images given, with the size each gives. Not a Google Benchmark: a
// table to choose from.
//
// Usage: build-bench/png_choices MAP.png ...   (maps drawn by qortavlo)
#include <libdeflate.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct Image {
  int w = 0, h = 0;
  std::vector<unsigned char> rgb;
};

void append(png_structp p, png_bytep d, png_size_t n) {
  auto* v = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(p));
  v->insert(v->end(), d, d + n);
}
void flush(png_structp) {}

size_t encode(const Image& img, int filters, int strategy, int level) {
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, append, flush);
  png_set_IHDR(png, info, img.w, img.h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, filters);
  png_set_compression_strategy(png, strategy);
  png_set_compression_level(png, level);
  png_write_info(png, info);
  for (int y = 0; y < img.h; ++y)
    png_write_row(png, const_cast<png_bytep>(&img.rgb[static_cast<size_t>(y) * img.w * 3]));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out.size();
}

// The zlib stream of the unfiltered rows by libdeflate at `level` (the
// PNG's chunks around it add a few dozen bytes).
size_t deflateRows(const Image& img, int level) {
  const size_t row = static_cast<size_t>(img.w) * 3;
  std::vector<unsigned char> raw;
  raw.reserve((row + 1) * static_cast<size_t>(img.h));
  for (int y = 0; y < img.h; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), img.rgb.begin() + static_cast<std::ptrdiff_t>(row * y),
               img.rgb.begin() + static_cast<std::ptrdiff_t>(row * (y + 1)));
  }
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  std::vector<unsigned char> out(libdeflate_zlib_compress_bound(c, raw.size()));
  const size_t n = libdeflate_zlib_compress(c, raw.data(), raw.size(), out.data(), out.size());
  libdeflate_free_compressor(c);
  return n;
}

template <class F>
void timeIt(const char* filters, const char* strategy, int level, F encode) {
  double best = 1e9;
  size_t bytes = 0;
  for (int i = 0; i < 7; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    bytes = encode();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - t0;
    best = std::min(best, took.count());
  }
  std::printf("%-8s %-10s %5d %10.2f %10zu\n", filters, strategy, level, best * 1000, bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: png_choices MAP.png ...\n");
    return 2;
  }
  const struct {
    const char* name;
    int filters;
  } filters[] = {{"none", PNG_FILTER_NONE},
                 {"sub", PNG_FILTER_SUB},
                 {"up", PNG_FILTER_UP},
                 {"sub|up", PNG_FILTER_SUB | PNG_FILTER_UP},
                 {"all", PNG_ALL_FILTERS}};
  const struct {
    const char* name;
    int strategy;
  } strategies[] = {{"default", Z_DEFAULT_STRATEGY}, {"rle", Z_RLE}, {"filtered", Z_FILTERED}};
  for (int a = 1; a < argc; ++a) {
    png_image read;
    std::memset(&read, 0, sizeof read);
    read.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&read, argv[a])) {
      std::fprintf(stderr, "%s: %s\n", argv[a], read.message);
      return 1;
    }
    read.format = PNG_FORMAT_RGB;
    Image img;
    img.w = static_cast<int>(read.width);
    img.h = static_cast<int>(read.height);
    img.rgb.resize(PNG_IMAGE_SIZE(read));
    if (!png_image_finish_read(&read, nullptr, img.rgb.data(), 0, nullptr)) {
      std::fprintf(stderr, "%s: %s\n", argv[a], read.message);
      return 1;
    }
    std::printf("%s (%d x %d)\n%-8s %-10s %5s %10s %10s\n", argv[a], img.w, img.h, "filters",
                "strategy", "level", "ms", "bytes");
    for (const auto& f : filters)
      for (const auto& s : strategies)
        for (int level : {1, 3, 6, 9})
          timeIt(f.name, s.name, level, [&] { return encode(img, f.filters, s.strategy, level); });
    for (int level : {1, 2, 3, 6, 9})
      timeIt("none", "libdeflate", level, [&] { return deflateRows(img, level); });
  }
  return 0;
}
