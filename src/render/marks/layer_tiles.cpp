// "MapLayer": map tiles from the street-map provider (TILEURL=) or from an
// image-map provider at the user's URL (the "url" dynamic value), under
// everything else. When tiles cannot be had, one warning names the provider
// and the reason and the map keeps its plain background.
#include <string>

#include "render/marks/draw.h"

namespace qv::render {

namespace {

class TileLayer final : public PreparedLayer {
 public:
  TileLayer(const Layer& l, TileProvider p) : PreparedLayer(l), provider_(std::move(p)) {
    tiles = true;
  }

  // Tiles cover whatever the map area shows: nothing to fit.
  void project(Env&, const ProjectContext&, std::vector<FitBox>&) override {}

  void draw(Env& env, const DrawContext& dc) override {
    if (env.req.skipTiles) {
      env.tilesFailed = true;
      return;
    }
    TileDrawResult r = drawTiles(*dc.pen, dc.proj, dc.area, provider_, env.req.tiles);
    if (!r.warning.empty()) env.warn(r.warning);
    if (r.drawn > 0) attribution = provider_.attribution;
    else if (!r.warning.empty()) env.tilesFailed = true;
  }

 private:
  TileProvider provider_;
};

bool contains(std::string_view text, std::string_view part) {
  for (size_t i = 0; i + part.size() <= text.size(); ++i)
    if (sameNoCase(text.substr(i, part.size()), part)) return true;
  return false;
}

}  // namespace

std::unique_ptr<PreparedLayer> prepareTiles(Env& env, const Layer& layer) {
  // The layer names its provider; the MapProvider dynamic value says which
  // one the procedure chose when the layer's name does not.
  bool imageMap = contains(layer.provider, "ESRI");
  if (!imageMap && !contains(layer.provider, "OPENSTREETMAP"))
    imageMap = contains(env.dynamic("MapProvider"), "Esri");
  TileProvider provider;
  if (imageMap) {
    std::string url = env.dynamic("url");
    if (url.empty()) {
      env.warn("The image map layer has no URL; the map is drawn on a plain background.");
      return nullptr;
    }
    provider = imageMapProvider(url);
  } else {
    provider = streetMapProvider(env.req.options.text(GlobalOpt::TileUrl));
  }
  if (!tileUrlComplete(provider.urlTemplate)) {
    env.warn("Map tiles from " + provider.name + " cannot be fetched: the tile URL " +
             provider.urlTemplate +
             " lacks {z}, {x} or {y}; the map is drawn on a plain background.");
    return nullptr;
  }
  return std::make_unique<TileLayer>(layer, std::move(provider));
}

}  // namespace qv::render
