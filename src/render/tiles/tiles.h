// Map tiles: a provider's URL template with {z}, {x} and {y}; fetching over
// HTTP(S) with libcurl (several at once, bounded in time) or reading a local
// folder for file:// URLs; an on-disk cache; and drawing the tiles under a
// projection, scaled to its fractional zoom.
//
// When tiles cannot be had the caller gets ONE warning text naming the
// provider and the reason, and the map keeps its plain background there.
//
// Cache: $QORTAVLO_TILE_CACHE, else $XDG_CACHE_HOME/qortavlo/tiles, else
// ~/.cache/qortavlo/tiles; below it <hash of the URL template>/z/x/y.png.
// A cached tile younger than seven days is used without asking the server;
// an older one is fetched again, and still used when the fetch fails.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/global_options.h"
#include "render/geo/viewport.h"
#include "render/graph/style.h"
#include "render/paint/canvas.h"
#include "render/paint/painter.h"

namespace qv::render {

// TILEURL='s default.
inline constexpr const char* kStreetMapTileUrl = globalOption(GlobalOpt::TileUrl).def;
// Names the application and its version, as the street-map service's tile
// policy asks.
inline constexpr const char* kTileUserAgent = "qortavlo/" QV_VERSION " (map renderer)";

struct TileProvider {
  std::string name;         // for messages ("OpenStreetMap")
  std::string urlTemplate;  // with {z}, {x}, {y}
  std::string attribution;  // the credit line drawn on the map ("" none)
  int maxZoom = kMaxTileZoom;
};

// The street-map provider (attribution "© OpenStreetMap contributors");
// an empty template gives the default URL.
TileProvider streetMapProvider(const std::string& urlTemplate = kStreetMapTileUrl);
// An image-map provider at the user's URL template.
TileProvider imageMapProvider(const std::string& urlTemplate);

// The URL of one tile: {z}, {x} and {y} replaced by the numbers.
std::string expandTileUrl(std::string_view urlTemplate, const TileKey& key);
// True when the template has all of {z}, {x} and {y}.
bool tileUrlComplete(std::string_view urlTemplate);
// 16 hexadecimal digits that name a URL template's cache folder.
std::string tileTemplateHash(std::string_view urlTemplate);
// The cache root from the environment (see above); "" when no folder can be
// named.
std::string defaultTileCacheDir();
// The cache file of a tile below a cache root.
std::string tileCachePath(const std::string& cacheRoot, std::string_view urlTemplate,
                          const TileKey& key);
// The local path a file:// URL names (percent escapes decoded, a
// "localhost" host dropped; a relative path is taken from `baseDir` when that
// is not empty). False when the URL is not a file:// URL.
bool fileUrlPath(std::string_view url, const std::string& baseDir, std::string& path);

struct TileFetchOptions {
  std::string cacheDir;          // cache root; "" takes defaultTileCacheDir()
  bool useCache = true;
  int64_t maxAgeSeconds = 7 * 24 * 3600;
  long connectTimeoutMs = 5000;  // per connection
  long totalTimeoutMs = 15000;   // for the whole run of fetches
  int maxConnections = 2;        // per host; HTTP/2 streams share them
  size_t maxTileBytes = size_t(4) << 20;
  int maxTileSide = 2048;        // pixels
  // The largest side, in pixels, a tile is drawn at on this map (0: any).
  // A larger tile is scaled down to it as it is decoded.
  int drawSide = 0;
  // The decoded tiles of one map together; tiles past it are left out.
  size_t memoryBudget = size_t(256) << 20;
  std::string userAgent = kTileUserAgent;
  std::string baseDir;           // for relative file:// paths
};

struct TileSet {
  std::map<TileKey, std::shared_ptr<Canvas>> images;  // the tiles that came
  int requested = 0;
  int fromCache = 0;   // fresh cache hits
  int downloaded = 0;  // fetched over the network (or read from file://)
  int stale = 0;       // old cache entries used because the fetch failed
  int failed = 0;
  std::string warning;  // "" when every tile came
};

// Waiting for tile servers is bounded for a whole run, not only for one
// map: the time lost to transfers that timed out is counted against
// kTileWaitBudgetMs, and a host that failed (no connection, a timeout, an
// HTTP 5xx answer) kTileHostFailures times is not asked again. Cached tiles
// are still used. beginTileRun() starts the count afresh (tests give a
// smaller budget).
inline constexpr long kTileWaitBudgetMs = 30000;
inline constexpr int kTileHostFailures = 3;
void beginTileRun(long waitBudgetMs = kTileWaitBudgetMs);

// Gets the tiles (keys with x already in 0..2^z-1). Never throws for
// network or file problems: they are summed up in `warning`.
TileSet fetchTiles(const TileProvider& provider, const std::vector<TileKey>& keys,
                   const TileFetchOptions& options);

struct TileDrawResult {
  int zoom = 0;
  int drawn = 0;        // tiles drawn
  std::string warning;  // "" when every tile was drawn
};

// Draws the tiles that cover `viewport` under `proj` (clipped to it) at the
// tile zoom nearest the projection's, scaled to fit. Places without a tile
// keep what was there (the plain background).
TileDrawResult drawTiles(Painter& pen, const Projection& proj, const Rect& viewport,
                         const TileProvider& provider, const TileFetchOptions& options);

// Draws the attribution text in the bottom right corner of `area` on a
// light box (attributionBox: the box).
Rect attributionBox(const Rect& area, std::string_view text, const FontStyle& font);
void drawAttribution(Painter& pen, const Rect& area, std::string_view text, const FontStyle& font);

}  // namespace qv::render
