#include "render/tiles/tiles.h"

// The functions are called through pointers (see curlLibrary below), which
// libcurl's type-checking macros would not let through.
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <set>

#include "common/ascii.h"
#include "common/error.h"
#include "common/filebuf.h"
#include "common/shared_library.h"
#include "common/tempfiles.h"
#include "render/geo/geometry.h"
#include "render/paint/text.h"

namespace qv::render {

namespace {

// What the run has spent on tile servers (see beginTileRun).
struct TileRun {
  std::mutex mutex;
  long budgetMs = kTileWaitBudgetMs;
  long waitedMs = 0;                    // lost to transfers that timed out
  std::map<std::string, int> failures;  // by host
} tileRun;

// The cache files of the tiles some map of the run is fetching now. A map
// that needs one of them waits for that fetch and reads the cache, so a
// tile is fetched once however many threads draw maps at the same time.
struct TileClaims {
  std::mutex mutex;
  std::condition_variable done;
  std::set<std::string> fetching;
} tileClaims;

// The host part of an http(s) URL ("tile.example.org:8080").
std::string urlHost(std::string_view url) {
  size_t b = url.find("://");
  b = b == std::string_view::npos ? 0 : b + 3;
  size_t e = url.find_first_of("/?#", b);
  return std::string(url.substr(b, e == std::string_view::npos ? url.size() - b : e - b));
}

// libcurl is opened the first time a tile is fetched over the network:
// loading it, with the TLS and other libraries it brings, would cost every
// run, and most draw no network tiles.
#define QV_CURL_FUNCTIONS(X)                                                              \
  X(curl_global_init) X(curl_multi_init) X(curl_multi_setopt) X(curl_multi_add_handle)   \
  X(curl_multi_perform) X(curl_multi_info_read) X(curl_multi_poll)                        \
  X(curl_multi_remove_handle) X(curl_multi_cleanup) X(curl_easy_init) X(curl_easy_setopt) \
  X(curl_easy_getinfo) X(curl_easy_strerror) X(curl_easy_cleanup)

struct CurlFunctions {
  QV_CURL_FUNCTIONS(QV_LIBRARY_FIELD)
  bool find(const SharedLibrary& library, std::string* why) {
    bool ok = true;
    QV_CURL_FUNCTIONS(QV_LIBRARY_FIND)
    if (ok && curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
      *why = "it could not be started";
      return false;
    }
    return ok;
  }
};

LazyLibrary<CurlFunctions> curlLibrary(QV_CURL_SONAME);

// Reads a whole file of at most `limit` bytes; false with `error` set when
// it cannot be read or is larger.
bool readFile(const std::string& path, size_t limit, std::vector<unsigned char>& out,
              std::string& error) {
  // Only a regular file: a FIFO would block the run, a device never end.
  const char* kind = nullptr;
  const int fd = qv::openRegularFd(path, &kind);
  if (fd < 0) {
    error = kind ? "\"" + path + "\" is not a regular file"
                 : "\"" + path + "\" cannot be read: " + std::strerror(errno);
    return false;
  }
  FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    error = "\"" + path + "\" cannot be read: " + std::strerror(errno);
    return false;
  }
  out.clear();
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
    if (out.size() + n > limit) {
      std::fclose(f);
      error = "\"" + path + "\" is larger than " + std::to_string(limit) + " bytes";
      return false;
    }
    out.insert(out.end(), buf, buf + n);
  }
  bool bad = std::ferror(f) != 0;
  int err = errno;
  std::fclose(f);
  if (bad) {
    error = "\"" + path + "\" cannot be read: " + std::strerror(err);
    return false;
  }
  return true;
}

// Writes a file whole under a temporary name, then renames it into place.
void writeFileAtomically(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  // A cache that cannot be written only costs a fetch next time.
  (void)qv::replaceFile(path, bytes.data(), bytes.size());
}

// A tile image from bytes; null with `error` set when they are not a usable
// PNG or JPEG image (street maps serve PNG, imagery services mostly JPEG).
// A tile more than twice the side it is drawn at (drawSide, 0: any) is
// scaled down to that side at once, so a map holds its tiles near drawing
// size whatever size the server sends.
std::shared_ptr<Canvas> decodeTile(const std::vector<unsigned char>& bytes, const std::string& what,
                                   const TileFetchOptions& o, std::string& error) {
  try {
    Canvas img = looksLikeJpeg(bytes.data(), bytes.size())
                     ? decodeJpeg(bytes.data(), bytes.size(), what, o.maxTileSide)
                     : decodePng(bytes.data(), bytes.size(), what, o.maxTileSide);
    const int side = std::max(img.width(), img.height());
    // Tiles of the usual size are drawn as they are; only ones far larger
    // than their place on the map are made smaller first.
    if (o.drawSide <= 0 || side <= 2 * o.drawSide) return std::make_shared<Canvas>(std::move(img));
    const double f = double(o.drawSide) / side;
    auto small = std::make_shared<Canvas>(std::max(1, int(std::lround(img.width() * f))),
                                          std::max(1, int(std::lround(img.height() * f))));
    cairo_t* cr = small->cr();
    cairo_scale(cr, double(small->width()) / img.width(), double(small->height()) / img.height());
    cairo_set_source_surface(cr, img.surface(), 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_paint(cr);
    // The context would keep the large image alive as its source.
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_identity_matrix(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    return small;
  } catch (const qv::UserError& e) {
    error = e.what();
    if (!error.empty() && error.back() == '.') error.pop_back();
    return nullptr;
  }
}

struct Job {
  TileKey key;
  std::string url;
  std::string cachePath;          // "" when not cached
  std::shared_ptr<Canvas> stale;  // an old cache entry to fall back on
  std::vector<unsigned char> body;
  size_t limit = 0;
  bool tooBig = false;
  bool hostFailed = false;  // counts against the host (see TileRun)
  CURL* easy = nullptr;
  bool done = false;
  std::string error;
};

size_t writeBody(char* ptr, size_t size, size_t nmemb, void* userdata) {
  auto* job = static_cast<Job*>(userdata);
  size_t n = size * nmemb;
  if (job->body.size() + n > job->limit) {
    job->tooBig = true;
    return 0;  // makes curl stop with a write error
  }
  job->body.insert(job->body.end(), ptr, ptr + n);
  return n;
}

bool hostUnreachable(CURLcode c) {
  return c == CURLE_COULDNT_RESOLVE_HOST || c == CURLE_COULDNT_RESOLVE_PROXY ||
         c == CURLE_COULDNT_CONNECT;
}

std::string secondsText(long ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", ms / 1000.0);
  return buf;
}

// Runs the HTTP(S) jobs with one multi handle. Each job ends with `body`
// filled (done, no error) or with `error` set.
void runTransfers(std::vector<Job*>& jobs, const TileFetchOptions& o) {
  if (jobs.empty()) return;
  std::string why;
  const CurlFunctions* loaded = curlLibrary.get(&why);
  if (!loaded) {
    for (Job* j : jobs) j->error = "the network library " + why;
    return;
  }
  const CurlFunctions& net = *loaded;
  CURLM* multi = net.curl_multi_init();
  if (!multi) {
    for (Job* j : jobs) j->error = "the network library cannot be started";
    return;
  }
  long perHost = std::max(1, o.maxConnections);
  net.curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, perHost);
  net.curl_multi_setopt(multi, CURLMOPT_PIPELINING, long(CURLPIPE_MULTIPLEX));

  // What is left of the run's time for tiles, and hosts given up on.
  long total;
  {
    std::lock_guard<std::mutex> lock(tileRun.mutex);
    const long left = tileRun.budgetMs - tileRun.waitedMs;
    total = std::min(std::max(1L, o.totalTimeoutMs), left);
    for (Job* j : jobs) {
      if (left <= 0) {
        j->error = "this run has already waited " + secondsText(tileRun.waitedMs) +
                   " seconds for map tiles that did not come, and asks for no more";
      } else if (int n = tileRun.failures[urlHost(j->url)]; n >= kTileHostFailures) {
        j->error = "the server " + urlHost(j->url) + " failed " + std::to_string(n) +
                   " times in this run and is not asked again";
      }
    }
  }
  for (Job* j : jobs) {
    if (!j->error.empty()) continue;
    CURL* e = net.curl_easy_init();
    if (!e) {
      j->error = j->url + ": the network library cannot make a transfer";
      continue;
    }
    j->easy = e;
    j->limit = o.maxTileBytes;
    net.curl_easy_setopt(e, CURLOPT_URL, j->url.c_str());
    net.curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    net.curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    net.curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    net.curl_easy_setopt(e, CURLOPT_MAXREDIRS, 3L);
    net.curl_easy_setopt(e, CURLOPT_USERAGENT, o.userAgent.c_str());
    net.curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, std::max(1L, o.connectTimeoutMs));
    net.curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, total);
    net.curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    net.curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, writeBody);
    net.curl_easy_setopt(e, CURLOPT_WRITEDATA, j);
    net.curl_easy_setopt(e, CURLOPT_PRIVATE, j);
    net.curl_multi_add_handle(multi, e);
  }

  using Clock = std::chrono::steady_clock;
  const auto started = Clock::now();
  const auto deadline = started + std::chrono::milliseconds(std::max(1L, total));
  std::string unreachable;  // set when the host cannot be reached at all
  int running = 1;
  while (running > 0 && unreachable.empty()) {
    if (net.curl_multi_perform(multi, &running) != CURLM_OK) break;
    int left;
    while (CURLMsg* msg = net.curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE) continue;
      Job* j = nullptr;
      net.curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, reinterpret_cast<char**>(&j));
      if (!j) continue;
      j->done = true;
      CURLcode rc = msg->data.result;
      long status = 0;
      net.curl_easy_getinfo(msg->easy_handle, CURLINFO_RESPONSE_CODE, &status);
      if (j->tooBig) {
        j->error = j->url + ": the tile is larger than " + std::to_string(o.maxTileBytes) + " bytes";
      } else if (rc != CURLE_OK) {
        j->error = j->url + ": " + net.curl_easy_strerror(rc);
        if (hostUnreachable(rc)) unreachable = j->error;
      } else if (status != 200) {
        j->error = j->url + ": the server answered HTTP " + std::to_string(status);
        j->hostFailed = status >= 500;
      }
      if (rc != CURLE_OK && !j->tooBig) j->hostFailed = true;
    }
    if (running == 0 || !unreachable.empty()) break;
    auto now = Clock::now();
    if (now >= deadline) break;
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    net.curl_multi_poll(multi, nullptr, 0, static_cast<int>(std::min<long long>(wait, 100)),
                        nullptr);
  }

  bool timedOut = false;
  for (Job* j : jobs) {
    if (j->easy && !j->done && j->error.empty()) {
      // Once the host proved unreachable, the rest would fail the same way.
      j->error = !unreachable.empty()
                     ? unreachable
                     : j->url + ": no answer within " + secondsText(total) + " seconds";
      j->hostFailed = unreachable.empty();
      timedOut = timedOut || unreachable.empty();
    }
    if (j->easy) {
      net.curl_multi_remove_handle(multi, j->easy);
      net.curl_easy_cleanup(j->easy);
      j->easy = nullptr;
    }
  }
  net.curl_multi_cleanup(multi);

  std::lock_guard<std::mutex> lock(tileRun.mutex);
  if (timedOut)
    tileRun.waitedMs += static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count());
  // A host counts one failure for each map whose tiles it failed to give.
  std::set<std::string> failedHosts;
  for (Job* j : jobs)
    if (j->hostFailed || (!unreachable.empty() && j->error == unreachable))
      failedHosts.insert(urlHost(j->url));
  for (const std::string& h : failedHosts) ++tileRun.failures[h];
}


}  // namespace

void beginTileRun(long waitBudgetMs) {
  std::lock_guard<std::mutex> lock(tileRun.mutex);
  tileRun.budgetMs = waitBudgetMs;
  tileRun.waitedMs = 0;
  tileRun.failures.clear();
}

TileProvider streetMapProvider(const std::string& urlTemplate) {
  TileProvider p;
  p.name = "OpenStreetMap";
  p.urlTemplate = urlTemplate.empty() ? std::string(kStreetMapTileUrl) : urlTemplate;
  p.attribution = "\xC2\xA9 OpenStreetMap contributors";
  p.maxZoom = 19;
  return p;
}

TileProvider imageMapProvider(const std::string& urlTemplate) {
  TileProvider p;
  p.name = "Esri";
  p.urlTemplate = urlTemplate;
  p.attribution = "Powered by Esri";
  p.maxZoom = 19;
  return p;
}

std::string expandTileUrl(std::string_view t, const TileKey& key) {
  std::string out;
  out.reserve(t.size() + 16);
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] == '{' && i + 2 < t.size() && t[i + 2] == '}') {
      char c = t[i + 1];
      if (c == 'z' || c == 'x' || c == 'y') {
        out += std::to_string(c == 'z' ? key.z : c == 'x' ? key.x : key.y);
        i += 2;
        continue;
      }
    }
    out += t[i];
  }
  return out;
}

bool tileUrlComplete(std::string_view t) {
  return t.find("{z}") != std::string_view::npos && t.find("{x}") != std::string_view::npos &&
         t.find("{y}") != std::string_view::npos;
}

std::string tileTemplateHash(std::string_view t) {
  uint64_t h = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : t) {
    h ^= c;
    h *= 1099511628211ull;
  }
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
  return buf;
}

std::string defaultTileCacheDir() {
  if (const char* d = std::getenv("QORTAVLO_TILE_CACHE"); d && *d) return d;
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && *x && x[0] == '/')
    return std::string(x) + "/qortavlo/tiles";
  if (const char* home = std::getenv("HOME"); home && *home)
    return std::string(home) + "/.cache/qortavlo/tiles";
  return "";
}

std::string tileCachePath(const std::string& root, std::string_view urlTemplate,
                          const TileKey& key) {
  return root + "/" + tileTemplateHash(urlTemplate) + "/" + std::to_string(key.z) + "/" +
         std::to_string(key.x) + "/" + std::to_string(key.y) + ".png";
}

bool fileUrlPath(std::string_view url, const std::string& baseDir, std::string& path) {
  if (!startsWithNoCase(url, "file://")) return false;
  std::string_view rest = url.substr(7);
  if (startsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
  std::string p;
  for (size_t i = 0; i < rest.size(); ++i) {
    auto hex = [](char c) {
      return std::isxdigit(static_cast<unsigned char>(c))
                 ? (std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                : std::tolower(c) - 'a' + 10)
                 : -1;
    };
    if (rest[i] == '%' && i + 2 < rest.size() && hex(rest[i + 1]) >= 0 && hex(rest[i + 2]) >= 0) {
      char c = static_cast<char>(hex(rest[i + 1]) * 16 + hex(rest[i + 2]));
      if (c != '\0') {
        p += c;
        i += 2;
        continue;
      }
    }
    p += rest[i];
  }
  if (!p.empty() && p[0] != '/' && !baseDir.empty()) p = baseDir + "/" + p;
  path = std::move(p);
  return true;
}

TileSet fetchTiles(const TileProvider& provider, const std::vector<TileKey>& keysIn,
                   const TileFetchOptions& o) {
  TileSet set;
  std::vector<TileKey> keys = keysIn;
  std::sort(keys.begin(), keys.end());
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  set.requested = static_cast<int>(keys.size());
  if (keys.empty()) return set;

  std::string firstError;
  auto fail = [&](const std::string& why) {
    ++set.failed;
    if (firstError.empty()) firstError = why;
  };
  // Decoded tiles stay within the map's memory budget.
  size_t held = 0;
  auto keep = [&](const TileKey& k, std::shared_ptr<Canvas> img) {
    size_t bytes = size_t(img->width()) * size_t(img->height()) * 4;
    if (held + bytes > o.memoryBudget) {
      fail("the decoded tiles of this map would need more than " +
           std::to_string(o.memoryBudget >> 20) + " MB");
      return false;
    }
    held += bytes;
    set.images[k] = std::move(img);
    return true;
  };
  const std::string& tmpl = provider.urlTemplate;
  const bool local = startsWithNoCase(tmpl, "file://");
  const bool remote = startsWithNoCase(tmpl, "http://") || startsWithNoCase(tmpl, "https://");

  if (!tileUrlComplete(tmpl)) {
    set.failed = set.requested;
    firstError = "the tile URL \"" + tmpl + "\" lacks one of {z}, {x} and {y}";
  } else if (!local && !remote) {
    set.failed = set.requested;
    firstError = "the tile URL \"" + tmpl + "\" is not an http://, https:// or file:// URL";
  } else if (local) {
    for (const TileKey& k : keys) {
      std::string path, err;
      fileUrlPath(expandTileUrl(tmpl, k), o.baseDir, path);
      std::vector<unsigned char> bytes;
      if (!readFile(path, o.maxTileBytes, bytes, err)) {
        fail(err);
        continue;
      }
      auto img = decodeTile(bytes, "\"" + path + "\"", o, err);
      if (!img) {
        fail(err);
        continue;
      }
      if (keep(k, std::move(img))) ++set.downloaded;
    }
  } else {
    std::string root = o.useCache ? (o.cacheDir.empty() ? defaultTileCacheDir() : o.cacheDir) : "";
    // What came for each tile, settled in key order below whatever order
    // the tiles came in: the kept tiles, the counts and the first error do
    // not depend on which map of the run fetched a tile first.
    struct Got {
      std::shared_ptr<Canvas> img;
      int* count = nullptr;
      std::string error;
    };
    std::map<TileKey, Got> got;
    // Tiles another map is fetching now are taken from the cache once it
    // has them, in a later round that claims them all at once.
    std::map<TileKey, std::string> cachePaths;
    if (!root.empty())
      for (const TileKey& k : keys) cachePaths.emplace(k, tileCachePath(root, tmpl, k));
    // The claims of this round, given up however the round ends (a throw
    // must not leave other maps waiting for them).
    struct Claims {
      std::vector<const std::string*> paths;
      ~Claims() {
        if (paths.empty()) return;
        {
          std::lock_guard<std::mutex> lock(tileClaims.mutex);
          for (const std::string* p : paths) tileClaims.fetching.erase(*p);
        }
        tileClaims.done.notify_all();
      }
    };
    std::vector<TileKey> todo = keys;
    for (bool first = true; !todo.empty(); first = false) {
      std::vector<TileKey> mine, later;
      Claims claims;
      if (root.empty()) {
        mine.swap(todo);
      } else {
        std::unique_lock<std::mutex> lock(tileClaims.mutex);
        auto busy = [&](const TileKey& k) { return tileClaims.fetching.count(cachePaths[k]) > 0; };
        if (!first)
          tileClaims.done.wait(lock, [&] { return std::none_of(todo.begin(), todo.end(), busy); });
        for (const TileKey& k : todo) {
          if (busy(k)) {
            later.push_back(k);
          } else {
            tileClaims.fetching.insert(cachePaths[k]);
            claims.paths.push_back(&cachePaths[k]);
            mine.push_back(k);
          }
        }
      }
      std::vector<Job> jobs;
      jobs.reserve(mine.size());
      const time_t now = std::time(nullptr);
      for (const TileKey& k : mine) {
        Job j;
        j.key = k;
        j.url = expandTileUrl(tmpl, k);
        if (!root.empty()) {
          j.cachePath = cachePaths[k];
          struct stat st;
          if (::stat(j.cachePath.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            std::vector<unsigned char> bytes;
            std::string err;
            std::shared_ptr<Canvas> img;
            if (readFile(j.cachePath, o.maxTileBytes, bytes, err))
              img = decodeTile(bytes, j.cachePath, o, err);
            if (!img) {
              std::remove(j.cachePath.c_str());  // a damaged entry is fetched again
            } else if (int64_t(now - st.st_mtime) <= o.maxAgeSeconds) {
              got[k] = {std::move(img), &set.fromCache, {}};
              continue;
            } else {
              j.stale = std::move(img);
            }
          }
        }
        jobs.push_back(std::move(j));
      }
      std::vector<Job*> pending;
      for (Job& j : jobs) pending.push_back(&j);
      runTransfers(pending, o);
      for (Job& j : jobs) {
        std::shared_ptr<Canvas> img;
        std::string err = j.error;
        if (err.empty()) img = decodeTile(j.body, j.url, o, err);
        if (img) {
          if (!j.cachePath.empty()) writeFileAtomically(j.cachePath, j.body);
          got[j.key] = {std::move(img), &set.downloaded, {}};
        } else if (j.stale) {
          got[j.key] = {std::move(j.stale), &set.stale, {}};
        } else {
          got[j.key] = {nullptr, nullptr, err};
        }
      }
      todo.swap(later);
    }
    for (auto& [k, g] : got) {
      if (!g.img) fail(g.error);
      else if (keep(k, std::move(g.img))) ++*g.count;
    }
  }

  if (set.failed > 0) {
    if (set.failed == set.requested)
      set.warning = "Map tiles from " + provider.name + " could not be fetched (" + firstError +
                    "); the map is drawn on a plain background.";
    else
      set.warning = std::to_string(set.failed) + " of " + std::to_string(set.requested) +
                    " map tiles from " + provider.name + " could not be fetched (" + firstError +
                    "); the map is blank there.";
  }
  return set;
}

TileDrawResult drawTiles(Painter& pen, const Projection& proj, const Rect& viewport,
                         const TileProvider& provider, const TileFetchOptions& options) {
  TileDrawResult result;
  if (viewport.empty()) return result;
  TileRange range = chooseTiles(proj, viewport, provider.maxZoom);
  result.zoom = range.z;
  if (range.empty()) return result;

  std::vector<TileKey> keys;
  TileFetchOptions o = options;
  double side = 0;
  for (int y = range.y0; y <= range.y1; ++y)
    for (int x = range.x0; x <= range.x1; ++x) {
      keys.push_back({range.z, wrapTileX(x, range.z), y});
      Rect r = tileRect(proj, range.z, x, y);
      side = std::max({side, r.width, r.height});
    }
  // Tiles are kept at the size they are drawn (and a pixel more, for the
  // scaling filter); a server's larger tiles cost no more memory.
  if (o.drawSide <= 0 && side > 0) o.drawSide = static_cast<int>(std::ceil(side)) + 1;
  TileSet set = fetchTiles(provider, keys, o);
  result.warning = set.warning;

  StateGuard guard(pen);
  pen.rectangle(viewport.x, viewport.y, viewport.width, viewport.height);
  pen.clip();
  for (int y = range.y0; y <= range.y1; ++y) {
    for (int x = range.x0; x <= range.x1; ++x) {
      auto it = set.images.find(TileKey{range.z, wrapTileX(x, range.z), y});
      if (it == set.images.end()) continue;
      const Canvas& img = *it->second;
      Rect r = tileRect(proj, range.z, x, y);
      if (r.empty()) continue;
      // A tile drawn pixel for pixel is copied as it is; others smoothed.
      const bool oneToOne = pen.pixelScale() == 1 && std::fabs(r.width - img.width()) < 1e-9 &&
                            std::fabs(r.height - img.height()) < 1e-9;
      pen.drawImage(img, r, !oneToOne);
      ++result.drawn;
    }
  }
  return result;
}

namespace {
constexpr double kAttributionPad = 2;
}  // namespace

Rect attributionBox(const Rect& area, std::string_view text, const FontStyle& font) {
  if (text.empty() || area.empty()) return {};
  const double pad = kAttributionPad;
  TextExtent e = measureText(text, font);
  return Rect{area.right() - e.width - 2 * pad, area.bottom() - e.height - 2 * pad,
              e.width + 2 * pad, e.height + 2 * pad};
}

void drawAttribution(Painter& pen, const Rect& area, std::string_view text, const FontStyle& font) {
  if (text.empty() || area.empty()) return;
  const double pad = kAttributionPad;
  const Rect box = attributionBox(area, text, font);
  StateGuard guard(pen);
  pen.rectangle(area.x, area.y, area.width, area.height);
  pen.clip();
  pen.rectangle(box.x, box.y, box.width, box.height);
  pen.setColor(rgbHex(0xFFFFFF, 0.75));
  pen.fill();
  LabelStyle ls;
  ls.font = font;
  ls.position = TextPosition::BottomRight;
  ls.pad = 0;
  ls.justify = Justify::Right;
  drawLabel(pen, {box.x + pad, box.y + pad}, text, ls);
}

}  // namespace qv::render
