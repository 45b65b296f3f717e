// Helpers shared by the drawing tests: temporary folders and generated
// tiles.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "render/geo/viewport.h"
#include "render/graph/style.h"
#include "render/paint/canvas.h"

namespace qv::test {

// A fresh folder under the system's temporary folder, removed with the
// object.
class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qv_render_XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The whole content of a file ("" when it cannot be read).
inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Replaces the calling process (a child just forked) by the command built
// beside the tests, run in `dir` with `args`; it ends with status 127 when
// that cannot be done.
[[noreturn]] inline void execCommand(const std::string& dir, const std::vector<std::string>& args) {
  if (::chdir(dir.c_str()) != 0) ::_exit(127);
  std::string exe = std::string(QV_BINARY_DIR) + "/qortavlo";
  std::vector<char*> argv;
  argv.push_back(exe.data());
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  ::execv(exe.c_str(), argv.data());
  ::_exit(127);
}

// The color of test tile (z, x, y): distinct for every tile of a zoom.
inline render::Rgba tileColor(int z, int x, int y) {
  static const uint32_t colors[] = {0xD55E00, 0x0072B2, 0x009E73, 0xE69F00,
                                    0xCC79A7, 0x56B4E9, 0xF0E442, 0x332288};
  return render::rgbHex(colors[(x + 3 * y + 5 * z) % 8]);
}

// A 256x256 tile in its color with a dark border and a light square in the
// middle, as PNG bytes.
inline std::vector<unsigned char> makeTilePng(int z, int x, int y) {
  render::Canvas c(256, 256);
  c.fill(tileColor(z, x, y));
  cairo_t* cr = c.cr();
  cairo_set_source_rgb(cr, 0.15, 0.15, 0.15);
  cairo_set_line_width(cr, 2);
  cairo_rectangle(cr, 1, 1, 254, 254);
  cairo_stroke(cr);
  cairo_set_source_rgba(cr, 1, 1, 1, 0.6);
  cairo_rectangle(cr, 96, 96, 64, 64);
  cairo_fill(cr);
  return c.pngBytes();
}

// Writes test tile (z, x, y) as z/x/y.png below `dir`.
inline void writeTile(const std::string& dir, int z, int x, int y) {
  const std::filesystem::path p = std::filesystem::path(dir) / std::to_string(z) /
                                  std::to_string(x) / (std::to_string(y) + ".png");
  std::filesystem::create_directories(p.parent_path());
  const auto bytes = makeTilePng(z, x, y);
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Writes the test tiles of zooms z0..z1 over the box from (west, north) to
// (east, south) below `dir` (a whole zoom level takes long to make).
inline void writeTilesOver(const std::string& dir, int z0, int z1, double west, double north,
                           double east, double south) {
  for (int z = z0; z <= z1; ++z) {
    const double n = 1 << z;
    const render::Point a = render::mercatorUnit(west, north), b = render::mercatorUnit(east, south);
    for (int x = static_cast<int>(a.x * n); x <= static_cast<int>(b.x * n); ++x)
      for (int y = static_cast<int>(a.y * n); y <= static_cast<int>(b.y * n); ++y)
        writeTile(dir, z, x, y);
  }
}

// Writes every test tile of zooms 0..maxZoom below `dir`.
inline void writeTileFolder(const std::string& dir, int maxZoom) {
  for (int z = 0; z <= maxZoom; ++z)
    for (int x = 0; x < (1 << z); ++x)
      for (int y = 0; y < (1 << z); ++y) writeTile(dir, z, x, y);
}

}  // namespace qv::test
