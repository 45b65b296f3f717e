// Tile URLs, the cache, the local folder, HTTP over a loopback server, and
// the single warning when tiles cannot be had. No test contacts anything
// but 127.0.0.1.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include "render/tiles/tiles.h"
#include "support.h"
#include "tile_server.h"

namespace qv::render {
namespace {

using qv::test::HttpAnswer;
using qv::test::TempDir;
using qv::test::tileAnswer;
using qv::test::TileServer;

// The opaque color of test tile (z, x, y) as 0xRRGGBBAA.
uint32_t rgbaOf(int z, int x, int y) {
  const Rgba c = qv::test::tileColor(z, x, y);
  auto b = [](double v) { return uint32_t(std::lround(v * 255)); };
  return b(c.r) << 24 | b(c.g) << 16 | b(c.b) << 8 | 0xFF;
}

TileFetchOptions optionsWithCache(const std::string& dir) {
  TileFetchOptions o;
  o.cacheDir = dir;
  return o;
}

std::vector<TileKey> allTiles(int z) {
  std::vector<TileKey> keys;
  for (int x = 0; x < (1 << z); ++x)
    for (int y = 0; y < (1 << z); ++y) keys.push_back({z, x, y});
  return keys;
}

TEST(TileUrl, ExpandsPlaceholdersNamesCacheFilesAndLocalPaths) {
  // Other orders (as image services use) and repeated or unknown braces.
  const std::pair<const char*, const char*> expansions[] = {
      {"https://a.example/{z}/{x}/{y}.png", "https://a.example/3/5/7.png"},
      {"https://h/tile/{z}/{y}/{x}?k={x}&s={s}", "https://h/tile/3/7/5?k=5&s={s}"},
      {"{z", "{z"},
  };
  for (const auto& [tmpl, want] : expansions) EXPECT_EQ(expandTileUrl(tmpl, {3, 5, 7}), want);
  EXPECT_TRUE(tileUrlComplete(kStreetMapTileUrl));
  EXPECT_FALSE(tileUrlComplete("https://h/{z}/{x}.png"));

  std::string h = tileTemplateHash(kStreetMapTileUrl);
  EXPECT_EQ(h.size(), 16u);
  EXPECT_NE(h, tileTemplateHash("https://tile.openstreetmap.org/{z}/{x}/{y}.png?"));
  EXPECT_EQ(tileCachePath("/c", kStreetMapTileUrl, {4, 3, 2}), "/c/" + h + "/4/3/2.png");

  // file:// URLs name local paths, relative ones from the program's folder;
  // bad escapes stay as written. Other schemes are not local.
  const std::pair<const char*, const char*> files[] = {
      {"file:///data/tiles/1/2/3.png", "/data/tiles/1/2/3.png"},
      {"FILE://localhost/data/my%20tiles/1.png", "/data/my tiles/1.png"},
      {"file://tiles/1/2/3.png", "/prog/tiles/1/2/3.png"},
      {"file:///a%00b%zz%4", "/a%00b%zz%4"},
  };
  for (const auto& [url, want] : files) {
    std::string p;
    EXPECT_TRUE(fileUrlPath(url, "/prog", p)) << url;
    EXPECT_EQ(p, want);
  }
  std::string p;
  EXPECT_FALSE(fileUrlPath("https://h/1.png", "", p));
}

TEST(Tiles, LocalFolderGivesTilesAndNamesMissingOnes) {
  TempDir dir;
  qv::test::writeTileFolder(dir.path(), 1);
  TileProvider p = streetMapProvider("file://" + dir.path() + "/{z}/{x}/{y}.png");
  TileSet set = fetchTiles(p, allTiles(1), TileFetchOptions{});
  EXPECT_EQ(set.requested, 4);
  EXPECT_EQ(set.downloaded, 4);
  EXPECT_EQ(set.failed, 0);
  EXPECT_EQ(set.warning, "");
  ASSERT_EQ(set.images.size(), 4u);
  const Canvas& t = *set.images.at({1, 1, 0});
  EXPECT_EQ(t.width(), 256);
  EXPECT_EQ(t.pixelRgba(40, 40), rgbaOf(1, 1, 0));

  // Zoom 2 is not in the folder; one broken file at zoom 1 is not a PNG.
  FILE* f = std::fopen((dir.path() + "/1/0/0.png").c_str(), "wb");
  std::fputs("not an image", f);
  std::fclose(f);
  std::vector<TileKey> keys = allTiles(1);
  keys.push_back({2, 0, 0});
  set = fetchTiles(p, keys, TileFetchOptions{});
  EXPECT_EQ(set.failed, 2);
  EXPECT_EQ(set.images.size(), 3u);
  EXPECT_NE(set.warning.find("2 of 5 map tiles from OpenStreetMap could not be fetched"),
            std::string::npos)
      << set.warning;
  EXPECT_NE(set.warning.find(dir.path() + "/1/0/0.png"), std::string::npos) << set.warning;

  // A truncated tile is called truncated, and a FIFO in a tile folder is
  // refused instead of waited on.
  std::filesystem::resize_file(dir.path() + "/1/0/1.png", 100);
  std::filesystem::remove(dir.path() + "/1/1/0.png");
  ASSERT_EQ(::mkfifo((dir.path() + "/1/1/0.png").c_str(), 0600), 0);
  set = fetchTiles(p, {{1, 0, 1}}, TileFetchOptions{});
  EXPECT_NE(set.warning.find("truncated"), std::string::npos) << set.warning;
  set = fetchTiles(p, {{1, 1, 0}}, TileFetchOptions{});
  EXPECT_NE(set.warning.find("not a regular file"), std::string::npos) << set.warning;

  // No tile at all: one warning, plain background.
  set = fetchTiles(streetMapProvider("file:///nonexistent/qv/{z}/{x}/{y}.png"), allTiles(1),
                   TileFetchOptions{});
  EXPECT_TRUE(set.images.empty());
  EXPECT_NE(set.warning.find("Map tiles from OpenStreetMap could not be fetched"),
            std::string::npos);
  EXPECT_NE(set.warning.find("/nonexistent/qv/"), std::string::npos);
  EXPECT_NE(set.warning.find("plain background"), std::string::npos);
}

TEST(Tiles, BadTemplatesWarnWithoutFetching) {
  TileSet set = fetchTiles(streetMapProvider("https://127.0.0.1:1/{z}/{x}.png"), allTiles(0),
                           TileFetchOptions{});
  EXPECT_EQ(set.failed, 1);
  EXPECT_NE(set.warning.find("lacks one of {z}, {x} and {y}"), std::string::npos) << set.warning;
  set = fetchTiles(imageMapProvider("ftp://127.0.0.1/{z}/{x}/{y}.png"), allTiles(0),
                   TileFetchOptions{});
  EXPECT_NE(set.warning.find("Map tiles from Esri"), std::string::npos) << set.warning;
  EXPECT_NE(set.warning.find("not an http://, https:// or file:// URL"), std::string::npos);
}

TEST(Tiles, HttpFetchesOnceThenServesFromCache) {
  TempDir cache;
  TileServer server(tileAnswer);
  TileProvider p = streetMapProvider(server.base() + "/{z}/{x}/{y}.png");
  TileFetchOptions o = optionsWithCache(cache.path());

  TileSet first = fetchTiles(p, allTiles(2), o);
  EXPECT_EQ(first.warning, "");
  EXPECT_EQ(first.downloaded, 16);
  EXPECT_EQ(first.images.size(), 16u);
  EXPECT_EQ(server.requests(), 16);
  EXPECT_NE(server.lastUserAgent().find("qortavlo"), std::string::npos);
  std::string cached = tileCachePath(cache.path(), p.urlTemplate, {2, 3, 1});
  EXPECT_TRUE(std::filesystem::exists(cached));

  TileSet second = fetchTiles(p, allTiles(2), o);
  EXPECT_EQ(second.fromCache, 16);
  EXPECT_EQ(second.downloaded, 0);
  EXPECT_EQ(server.requests(), 16);  // no second request
  EXPECT_EQ(second.images.at({2, 3, 1})->pixelRgba(10, 10),
            first.images.at({2, 3, 1})->pixelRgba(10, 10));

  // An entry older than the freshness limit is fetched again; a damaged one
  // is dropped and fetched again.
  struct utimbuf old{std::time(nullptr) - 8 * 24 * 3600, std::time(nullptr) - 8 * 24 * 3600};
  ASSERT_EQ(::utime(cached.c_str(), &old), 0);
  std::string damaged = tileCachePath(cache.path(), p.urlTemplate, {2, 0, 0});
  FILE* f = std::fopen(damaged.c_str(), "wb");
  std::fputs("\x89PNG\r\n\x1a\n garbage", f);
  std::fclose(f);
  TileSet third = fetchTiles(p, allTiles(2), o);
  EXPECT_EQ(third.warning, "");
  EXPECT_EQ(third.downloaded, 2);
  EXPECT_EQ(third.fromCache, 14);
  EXPECT_EQ(server.requests(), 18);
}

TEST(Tiles, StaleCacheCoversAnUnreachableServer) {
  TempDir cache;
  std::string tmpl;
  {
    TileServer server(tileAnswer);
    tmpl = server.base() + "/{z}/{x}/{y}.png";
    fetchTiles(streetMapProvider(tmpl), allTiles(1), optionsWithCache(cache.path()));
    EXPECT_EQ(server.requests(), 4);
  }
  // The server is gone; make the entries old. They are still drawn.
  time_t t = std::time(nullptr) - 30 * 24 * 3600;
  struct utimbuf old{t, t};
  for (const TileKey& k : allTiles(1))
    ::utime(tileCachePath(cache.path(), tmpl, k).c_str(), &old);
  TileSet set = fetchTiles(streetMapProvider(tmpl), allTiles(1), optionsWithCache(cache.path()));
  EXPECT_EQ(set.stale, 4);
  EXPECT_EQ(set.images.size(), 4u);
  EXPECT_EQ(set.warning, "");
}

TEST(Tiles, UnreachableServerGivesOneWarningQuickly) {
  TempDir cache;
  int port = qv::test::closedLoopbackPort();
  TileProvider p =
      streetMapProvider("http://127.0.0.1:" + std::to_string(port) + "/{z}/{x}/{y}.png");
  // A refused connection fails at once: with timeouts of a minute, a fetch
  // that waited for them would overrun the generous guard below.
  TileFetchOptions o = optionsWithCache(cache.path());
  o.connectTimeoutMs = o.totalTimeoutMs = 60000;
  auto start = std::chrono::steady_clock::now();
  TileSet set = fetchTiles(p, allTiles(3), o);
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(secs, 30.0);
  EXPECT_TRUE(set.images.empty());
  EXPECT_EQ(set.failed, 64);
  EXPECT_NE(set.warning.find("Map tiles from OpenStreetMap could not be fetched"),
            std::string::npos);
  EXPECT_NE(set.warning.find("127.0.0.1:" + std::to_string(port)), std::string::npos)
      << set.warning;
  EXPECT_NE(set.warning.find("connect"), std::string::npos) << set.warning;
  // Nothing is cached for failures.
  EXPECT_FALSE(std::filesystem::exists(cache.path() + "/" + tileTemplateHash(p.urlTemplate)));
}

// Bad answers fail their tiles with a warning that says why, and only good
// tiles are cached: errors and bodies that are not PNG, a server that never
// answers (cut off at the total timeout) and bodies over the size limit.
TEST(Tiles, BadAnswersFailTheirTiles) {
  struct Case {
    const char* what;
    std::function<HttpAnswer(const std::string&)> answer;
    int zoom, timeoutMs, maxBytes, failed;
    const char* warning;
  };
  const Case cases[] = {
      {"errors and non-PNG bodies",
       [](const std::string& path) -> HttpAnswer {
         if (path == "/1/0/0.png") return {500, "text/plain", "boom"};
         if (path == "/1/0/1.png") return {200, "image/png", "<html>not a tile</html>"};
         if (path == "/1/1/0.png") return {200, "image/jpeg", std::string("\xFF\xD8\xFF\xE0 jpeg", 9)};
         return tileAnswer(path);
       },
       1, 0, 0, 3, "3 of 4 map tiles"},
      {"slow", [](const std::string&) { return HttpAnswer{200, "image/png", "", true}; }, 1, 600, 0,
       4, "could not be fetched"},
      {"oversized",
       [](const std::string&) { return HttpAnswer{200, "image/png", std::string(300000, 'x')}; },
       0, 0, 100000, 1, "larger than 100000 bytes"},
  };
  for (const Case& c : cases) {
    TempDir cache;
    TileServer server(c.answer);
    const std::string url = server.base() + "/{z}/{x}/{y}.png";
    TileFetchOptions o = optionsWithCache(cache.path());
    if (c.timeoutMs) o.totalTimeoutMs = c.timeoutMs;
    if (c.maxBytes) o.maxTileBytes = c.maxBytes;
    // The slow server is cut off at 0.6 s; without that cut the fetch
    // would wait for the default 15 s. The guard is far above the former.
    const auto start = std::chrono::steady_clock::now();
    TileSet set = fetchTiles(streetMapProvider(url), allTiles(c.zoom), o);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 10.0)
        << c.what;
    EXPECT_EQ(set.failed, c.failed) << c.what;
    EXPECT_NE(set.warning.find(c.warning), std::string::npos) << c.what << ": " << set.warning;
    const int good = (1 << c.zoom) * (1 << c.zoom) - c.failed;
    EXPECT_EQ(int(set.images.size()), good) << c.what;
    if (good == 1) {
      EXPECT_FALSE(std::filesystem::exists(tileCachePath(cache.path(), url, {1, 0, 1})));
      EXPECT_TRUE(std::filesystem::exists(tileCachePath(cache.path(), url, {1, 1, 1})));
    }
  }
}

TEST(Tiles, DrawnTilesLandWhereTheProjectionPutsThem) {
  TempDir dir;
  qv::test::writeTileFolder(dir.path(), 2);
  TileProvider p = streetMapProvider("file://" + dir.path() + "/{z}/{x}/{y}.png");
  // The world at zoom 1 exactly (512 px), shifted so tiles start at 10, 20.
  Canvas c(300, 300);
  c.fill(rgbHex(0xFFFFFF));
  Projection proj(512, 10, 20);
  TileDrawResult r = drawTiles(c.painter(), proj, Rect{0, 0, 300, 300}, p, TileFetchOptions{});
  EXPECT_EQ(r.zoom, 1);
  // Columns -1 (the world repeated to the left), 0 and 1; rows 0 and 1.
  EXPECT_EQ(r.drawn, 6);
  EXPECT_EQ(r.warning, "");
  EXPECT_EQ(c.pixelRgba(50, 5), 0xFFFFFFFFu);  // above the world: no tiles
  EXPECT_EQ(c.pixelRgba(5, 60), rgbaOf(1, 1, 0));  // wrapped
  EXPECT_EQ(c.pixelRgba(50, 60), rgbaOf(1, 0, 0));
  EXPECT_EQ(c.pixelRgba(280, 60), rgbaOf(1, 1, 0));
  EXPECT_EQ(c.pixelRgba(50, 290), rgbaOf(1, 0, 1));

  // A fractional zoom (1.7) takes zoom 2 tiles, drawn smaller than 256 px.
  Canvas d(300, 300);
  Projection p2(256 * std::pow(2.0, 1.7), 0, 0);
  r = drawTiles(d.painter(), p2, Rect{0, 0, 300, 300}, p, TileFetchOptions{});
  EXPECT_EQ(r.zoom, 2);
  double side = 256 * std::pow(2.0, 1.7) / 4;  // about 208 px
  EXPECT_EQ(d.pixelRgba(int(side) + 20, 20), rgbaOf(2, 1, 0));
}

// A server whose tiles are 2048 px wide: each is kept at the size it is
// drawn, and what one map holds stays within its budget.
TEST(Tiles, HugeTilesAreHeldAtDrawingSizeWithinTheBudget) {
  TempDir cache;
  Canvas big(2048, 2048);
  big.fill(rgbHex(0x0072B2));
  const std::vector<unsigned char> png = big.pngBytes();
  const std::string body(png.begin(), png.end());
  TileServer server([&](const std::string&) { return HttpAnswer{200, "image/png", body}; });
  TileFetchOptions o = optionsWithCache(cache.path());
  o.drawSide = 256;
  TileSet set = fetchTiles(streetMapProvider(server.base() + "/{z}/{x}/{y}.png"), allTiles(1), o);
  ASSERT_EQ(set.images.size(), 4u) << set.warning;
  for (const auto& [key, img] : set.images) EXPECT_EQ(img->width(), 256);
  EXPECT_EQ(set.images.begin()->second->pixelRgba(128, 128), 0x0072B2FFu);

  // A budget for two such tiles: the rest are left out with the warning.
  o.memoryBudget = 2 * 256 * 256 * 4;
  set = fetchTiles(streetMapProvider(server.base() + "/{z}/{x}/{y}.png"), allTiles(1), o);
  EXPECT_EQ(set.images.size(), 2u);
  EXPECT_NE(set.warning.find("2 of 4 map tiles"), std::string::npos) << set.warning;
  EXPECT_NE(set.warning.find("would need more than"), std::string::npos) << set.warning;
}

// Waiting is bounded for the whole run: a server that hangs costs one wait
// budget over many maps, and one that keeps failing is given up on.
TEST(Tiles, ARunWaitsForTilesWithinOneBudget) {
  TempDir cache;
  beginTileRun(1200);
  TileServer hanging([](const std::string&) { return HttpAnswer{200, "image/png", "", true}; });
  TileFetchOptions o = optionsWithCache(cache.path());
  o.totalTimeoutMs = 500;
  // 200 groups that each waited out their 0.5 s would take 100 s; within
  // the run's budget they take about 1.2 s, far below the guard.
  auto start = std::chrono::steady_clock::now();
  std::string last;
  for (int group = 0; group < 200; ++group)
    last = fetchTiles(streetMapProvider(hanging.base() + "/{z}/{x}/{y}.png"), allTiles(0), o)
               .warning;
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(secs, 30.0);
  EXPECT_TRUE(last.find("asks for no more") != std::string::npos ||
              last.find("is not asked again") != std::string::npos)
      << last;

  beginTileRun();
  TileServer failing([](const std::string&) { return HttpAnswer{503, "text/plain", "busy"}; });
  const std::string url = failing.base() + "/{z}/{x}/{y}.png";
  for (int map = 0; map < kTileHostFailures; ++map) fetchTiles(streetMapProvider(url), allTiles(0), o);
  const int asked = failing.requests();
  EXPECT_EQ(asked, kTileHostFailures);
  last = fetchTiles(streetMapProvider(url), allTiles(0), o).warning;
  EXPECT_EQ(failing.requests(), asked);
  EXPECT_NE(last.find("is not asked again"), std::string::npos) << last;
  beginTileRun();
}

}  // namespace
}  // namespace qv::render
