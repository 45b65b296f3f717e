// Drawing whole templates in-process: data sets opened by the runtime (the
// example data, or files written for a test), the template compiled, and
// the renderer run on them as the graph manager runs it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "render/graph/compiler.h"
#include "render/renderer.h"
#include "runtime/data/dataset.h"
#include "session/render_objects.h"
#include "support.h"

namespace qv::test {

class Pipeline {
 public:
  Pipeline() {
    libs_.assign("WORK", dir_.path());
    libs_.assign("EX", std::string(QV_SOURCE_DIR) + "/examples/data");
  }

  const std::string& dir() const { return dir_.path(); }

  // LABELOVERLAP= of the images drawn.
  render::LabelOverlap labelOverlap = render::LabelOverlap::Show;
  // OUTPUT= of the drawings ("" for PNG).
  std::string output;

  struct Source {
    std::string name;      // PLOTDATA, RESPONSEDATA
    host::DataSet* data;
  };
  // The map data of region layers of their own (__MAP__2, ...).
  std::vector<Source> regionMaps;

  // Writes a file into the test's folder (member `name` of WORK).
  void write(const std::string& name, const std::string& content) {
    std::ofstream(std::filesystem::path(dir_.path()) / name, std::ios::binary) << content;
  }

  // Opens member `member` of library `lib` (WORK: the test's folder, EX:
  // the example data), optionally with a WHERE= selection.
  host::DataSet* open(const std::string& lib, const std::string& member,
                      const std::string& where = "") {
    rt::DataSetRef r;
    r.library = lib;
    r.member = member;
    r.options.where = where;
    rt::OpenSettings s;
    s.programDir = dir_.path();
    open_.push_back(rt::openDataSet(r, libs_, cache_, s, rt::NoteFn()));
    return open_.back().get();
  }

  // Compiles `text` (failing the test when it does not compile) and draws
  // it. `map` is the map data; `dynamics` the dynamic values.
  render::RenderResult draw(const std::string& text, const std::vector<Source>& sources,
                            host::DataSet* map = nullptr,
                            std::map<std::string, std::string, std::less<>> dynamics = {},
                            int width = 640, int height = 480,
                            const std::string& tileUrl = "",
                            const std::string& projection = "AUTO") {
    render::CompileResult c = render::compileTemplate(text);
    EXPECT_TRUE(c.model) << c.error << " at " << c.offset;
    model_ = std::move(c.model);
    if (!model_) return {};
    render::RenderRequest req;
    req.options.setNumber(GlobalOpt::GraphWidth, width);
    req.options.setNumber(GlobalOpt::GraphHeight, height);
    if (!tileUrl.empty()) req.options.setText(GlobalOpt::TileUrl, tileUrl);
    req.options.setText(GlobalOpt::MapProjection, projection);
    req.options.setText(GlobalOpt::LabelOverlap,
                        std::string(optionWord(GlobalOpt::LabelOverlap, static_cast<int>(labelOverlap))));
    if (!output.empty()) req.options.setText(GlobalOpt::Output, output);
    req.tiles.cacheDir = dir_.path() + "/cache";
    req.tiles.totalTimeoutMs = 4000;
    req.tiles.connectTimeoutMs = 1000;
    tables_.clear();
    for (const Source& s : sources) {
      tables_.push_back(std::make_unique<rt::DataSetTable>(s.name, s.data, '.'));
      req.data.push_back(tables_.back().get());
    }
    if (map) {
      tables_.push_back(std::make_unique<rt::DataSetTable>("__MAP__", map, '.'));
      req.mapData = tables_.back().get();
    }
    for (const Source& s : regionMaps) {
      tables_.push_back(std::make_unique<rt::DataSetTable>(s.name, s.data, '.'));
      req.regionMaps.push_back(tables_.back().get());
    }
    req.dynamics = std::move(dynamics);
    return render::renderGraph(*model_, req);
  }

 private:
  TempDir dir_;
  rt::Libraries libs_;
  rt::DataCache cache_;
  std::vector<std::unique_ptr<host::DataSet>> open_;
  std::vector<std::unique_ptr<rt::DataSetTable>> tables_;
  std::unique_ptr<render::GraphModel> model_;
};

// The template text around overlay statements and legends.
inline std::string graphTemplate(const std::string& head, const std::string& overlay,
                                 const std::string& legends = "", const std::string& foot = "",
                                 const std::string& dynamics = "") {
  return "define statgraph tavlo;" + (dynamics.empty() ? "" : "dynamic " + dynamics + ";") +
         "begingraph /" + head + ";" + overlay + foot +
         (legends.empty() ? "" : "layout GlobalLegend;" + legends + "endlayout;") +
         "endgraph;end;";
}

// The color of a pixel as 0xRRGGBB (alpha left out).
inline uint32_t rgbAt(const render::Canvas& c, double x, double y) {
  return c.pixelRgba(static_cast<int>(x), static_cast<int>(y)) >> 8;
}

// How many pixels of the image are 0xRRGGBB.
inline long pixelsOf(const render::Canvas& c, uint32_t rgb) {
  long n = 0;
  for (int y = 0; y < c.height(); ++y)
    for (int x = 0; x < c.width(); ++x) n += (c.pixelRgba(x, y) >> 8) == rgb;
  return n;
}

inline uint32_t hexOf(const render::Rgba& c) {
  auto b = [](double v) { return static_cast<uint32_t>(v * 255 + 0.5); };
  return (b(c.r) << 16) | (b(c.g) << 8) | b(c.b);
}

}  // namespace qv::test
