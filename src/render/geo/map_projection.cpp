#include "render/geo/map_projection.h"

#include <proj.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "common/ascii.h"
#include "common/global_options.h"
#include "common/shared_library.h"
#include "common/utf8.h"
#include "render/geo/equal_area.h"

namespace qv::render {

namespace {

constexpr double kEarthCircumference = 40075016.685578;  // metres, at the equator
// Pixels per metre at the deepest tile zoom: no map is drawn larger.
const double kMaxPixelsPerMetre = kTileSize * std::ldexp(1.0, kMaxTileZoom) / kEarthCircumference;

// A number for a PROJ string and the log: at most two decimals, no
// trailing zeros.
std::string num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", std::round(v * 100) / 100);
  std::string s = buf;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  return s == "-0" ? "0" : s;
}

// A longitude taken into [-180, 180).
double normalLon(double lon) {
  if (!std::isfinite(lon)) return 0;
  lon = std::fmod(lon + 180, 360);
  if (lon < 0) lon += 360;
  return lon - 180;
}

// --- PROJ ------------------------------------------------------------------

// PROJ is opened the first time a map needs it (a coordinate system the
// program or the data name): the projections a map chooses itself are
// computed here, and loading PROJ, with the database and network libraries
// it brings, would cost every run more than drawing most maps.
#define QV_PROJ_FUNCTIONS(X)                                                            \
  X(proj_context_create) X(proj_context_destroy) X(proj_log_level) X(proj_create)       \
  X(proj_destroy) X(proj_get_type) X(proj_is_crs) X(proj_crs_get_geodetic_crs)          \
  X(proj_create_crs_to_crs_from_pj) X(proj_normalize_for_visualization)                 \
  X(proj_as_proj_string) X(proj_errno_reset) X(proj_crs_get_coordinate_system)          \
  X(proj_cs_get_axis_info) X(proj_trans_generic) X(proj_context_errno)                  \
  X(proj_context_errno_string) X(proj_info) X(proj_get_area_of_use)

struct ProjFunctions {
  QV_PROJ_FUNCTIONS(QV_LIBRARY_FIELD)
  bool find(const SharedLibrary& library, std::string* why) {
    bool ok = true;
    QV_PROJ_FUNCTIONS(QV_LIBRARY_FIND)
    return ok;
  }
};

LazyLibrary<ProjFunctions> projLibrary(QV_PROJ_SONAME);

// The functions of the loaded library; only called once a context exists.
const ProjFunctions& pj() { return *projLibrary.get(nullptr); }

struct ContextDeleter {
  void operator()(PJ_CONTEXT* c) const { pj().proj_context_destroy(c); }
};
struct PjDeleter {
  void operator()(PJ* p) const { pj().proj_destroy(p); }
};
using ContextPtr = std::unique_ptr<PJ_CONTEXT, ContextDeleter>;
using PjPtr = std::unique_ptr<PJ, PjDeleter>;

// The library, loaded when it is not yet; null with `error` (when given)
// saying why it cannot be.
const ProjFunctions* loadProj(std::string* error) {
  std::string why;
  const ProjFunctions* lib = projLibrary.get(&why);
  if (!lib && error) *error = "PROJ could not be loaded: " + why;
  return lib;
}

// A context with PROJ's log silenced; null when PROJ cannot be loaded or
// started (`error`, when given, then says why).
ContextPtr newContext(std::string* error = nullptr) {
  const ProjFunctions* lib = loadProj(error);
  if (!lib) return nullptr;
  ContextPtr ctx(lib->proj_context_create());
  if (ctx) lib->proj_log_level(ctx.get(), PJ_LOG_NONE);
  else if (error) *error = "PROJ could not be started";
  return ctx;
}

}  // namespace

std::string projVersion(std::string* error) {
  const ProjFunctions* lib = loadProj(error);
  const char* version = lib ? lib->proj_info().version : nullptr;
  return version ? version : "";
}

namespace {

std::string lastError(PJ_CONTEXT* ctx) {
  const int e = pj().proj_context_errno(ctx);
  const char* s = e ? pj().proj_context_errno_string(ctx, e) : nullptr;
  // PROJ has no words for some of its codes ("Unknown error (code 4096)").
  if (!s || !*s || std::string_view(s).substr(0, 13) == "Unknown error")
    return "not a coordinate system PROJ knows";
  return s;
}

// A PROJ string names an operation unless it says it is a CRS.
std::string asCrsDefinition(std::string_view definition) {
  std::string def(definition);
  size_t i = def.find_first_not_of(" \t\r\n");
  if (i != std::string::npos && def[i] == '+' && def.find("type=crs") == std::string::npos)
    def += " +type=crs";
  return def;
}

// The transformation from a CRS's own longitude/latitude to its planar
// coordinates, in longitude-first, easting-first order.
struct ProjTransform {
  ContextPtr ctx;
  PjPtr op;
  double lon0 = 0;
  bool azimuthal = false;
  double metresPerUnit = 1;
  // The PROJ text `op` was made from, to make it again for another thread
  // ("" when it was not made from a text).
  std::string definition;
  std::optional<AreaOfUse> area;  // the CRS's, when PROJ gives one
};

// The same transformation with a PROJ context and operation of its own;
// false when it cannot be made again.
bool copyTransform(const ProjTransform& from, ProjTransform& to) {
  if (from.definition.empty()) return false;
  to.ctx = newContext();
  if (!to.ctx) return false;
  to.op.reset(pj().proj_create(to.ctx.get(), from.definition.c_str()));
  if (!to.op) return false;
  to.lon0 = from.lon0;
  to.azimuthal = from.azimuthal;
  to.metresPerUnit = from.metresPerUnit;
  to.definition = from.definition;
  return true;
}

// Whether a projection is azimuthal, and its central meridian, from its
// PROJ string.
void readKind(std::string_view projString, ProjTransform& t) {
  const std::string name = projParam(projString, "proj");
  for (const char* a : {"laea", "aeqd", "stere", "sterea", "ups", "ortho", "gnom", "nsper",
                        "tpers", "airy", "geos"})
    if (name == a) t.azimuthal = true;
  const std::string lon0 = projParam(projString, "lon_0");
  if (!lon0.empty()) t.lon0 = std::atof(lon0.c_str());
}

bool makeTransform(std::string_view definition, bool toLonLat, ProjTransform& t,
                   std::string* error) {
  t.ctx = newContext(error);
  if (!t.ctx) return false;
  PJ_CONTEXT* ctx = t.ctx.get();
  const std::string def = asCrsDefinition(definition);
  PjPtr crs(pj().proj_create(ctx, def.c_str()));
  if (!crs || !pj().proj_is_crs(crs.get())) {
    *error = crs ? std::string("it is not a coordinate reference system") : lastError(ctx);
    return false;
  }
  PjPtr geo(pj().proj_crs_get_geodetic_crs(ctx, crs.get()));
  if (!geo || pj().proj_get_type(geo.get()) == PJ_TYPE_GEOCENTRIC_CRS) {
    *error = "it has no longitude and latitude on the Earth";
    return false;
  }
  PJ* from = toLonLat ? crs.get() : geo.get();
  PJ* to = toLonLat ? geo.get() : crs.get();
  PjPtr raw(pj().proj_create_crs_to_crs_from_pj(ctx, from, to, nullptr, nullptr));
  if (!raw) {
    *error = lastError(ctx);
    return false;
  }
  t.op.reset(pj().proj_normalize_for_visualization(ctx, raw.get()));
  if (!t.op) {
    *error = lastError(ctx);
    return false;
  }
  // An operation made from CRSs picks among its candidates for every
  // position; one pipeline made again from its own definition does not.
  if (const char* ps = pj().proj_as_proj_string(ctx, t.op.get(), PJ_PROJ_5, nullptr))
    if (PjPtr single{pj().proj_create(ctx, ps)}) {
      t.definition = ps;
      t.op = std::move(single);
    }
  // Central meridian and kind, from the CRS as a PROJ string.
  if (const char* ps = pj().proj_as_proj_string(ctx, crs.get(), PJ_PROJ_5, nullptr))
    readKind(ps, t);
  // The size of a planar unit.
  if (pj().proj_get_type(crs.get()) == PJ_TYPE_GEOGRAPHIC_2D_CRS ||
      pj().proj_get_type(crs.get()) == PJ_TYPE_GEOGRAPHIC_3D_CRS) {
    t.metresPerUnit = kEarthCircumference / 360;  // degrees
  } else if (PjPtr cs{pj().proj_crs_get_coordinate_system(ctx, crs.get())}) {
    double factor = 1;
    if (pj().proj_cs_get_axis_info(ctx, cs.get(), 0, nullptr, nullptr, nullptr, &factor,
                                   nullptr, nullptr, nullptr) &&
        factor > 0 && std::isfinite(factor))
      t.metresPerUnit = factor;
  }
  double w = 0, so = 0, e = 0, n = 0;
  const char* areaName = nullptr;
  if (pj().proj_get_area_of_use(ctx, crs.get(), &w, &so, &e, &n, &areaName) && w >= -180 &&
      e <= 180 && so >= -90 && n <= 90 && so <= n)
    t.area = AreaOfUse{w, so, e, n, areaName ? areaName : ""};
  pj().proj_errno_reset(t.op.get());
  return true;
}

void transform(const ProjTransform& t, Point* pts, size_t n) {
  if (n == 0) return;
  pj().proj_trans_generic(t.op.get(), PJ_FWD, &pts[0].x, sizeof(Point), n, &pts[0].y,
                          sizeof(Point), n, nullptr, 0, 0, nullptr, 0, 0);
}

class ProjProjection final : public MapProjection {
 public:
  ProjProjection(ProjTransform t, std::string description) : t_(std::move(t)) {
    lon0_ = t_.lon0;
    cuts_ = !t_.azimuthal;
    maxScale_ = kMaxPixelsPerMetre * t_.metresPerUnit;
    description_ = std::move(description);
  }
  void forward(Point* pts, size_t n) const override {
    transform(t_, pts, n);
    for (size_t i = 0; i < n; ++i) pts[i].y = -pts[i].y;  // northing up, pixels down
  }
  std::shared_ptr<const MapProjection> copyForThread() const override {
    ProjTransform t;
    if (!copyTransform(t_, t)) return nullptr;
    return std::make_shared<ProjProjection>(std::move(t), description_);
  }

 private:
  ProjTransform t_;
};

class WebMercator final : public MapProjection {
 public:
  WebMercator(double lon0, std::string description) {
    lon0_ = lon0;
    webMercator_ = true;
    maxScale_ = kTileSize * std::ldexp(1.0, kMaxTileZoom);
    description_ = std::move(description);
  }
  void forward(Point* pts, size_t n) const override {
    for (size_t i = 0; i < n; ++i) pts[i] = mercatorUnit(pts[i].x, pts[i].y);
  }
  std::shared_ptr<const MapProjection> copyForThread() const override {
    return std::make_shared<WebMercator>(*this);
  }
};

// --- ALBERSUSA ---------------------------------------------------------------

struct LonLatBox {
  double lon0, lon1, lat0, lat1;
  bool contains(double lon, double lat) const {
    return lon >= lon0 && lon <= lon1 && lat >= lat0 && lat <= lat1;
  }
};

constexpr LonLatBox kLower48{-125, -66.5, 24, 50};
// Alaska reaches across the antimeridian with the western Aleutians.
constexpr LonLatBox kAlaskaWest{-180, -129.5, 50.5, 72}, kAlaskaEast{170, 180, 50.5, 56};
constexpr LonLatBox kHawaii{-161, -154, 18, 23};

// The places ALBERSUSA leaves out, as their regions are known: state FIPS
// code, postal code, ISO 3166 code, name, and where they lie.
struct Territory {
  int fips;
  const char* postal;
  const char* iso;
  const char* name;
  LonLatBox box;
};
constexpr Territory kTerritories[] = {
    {72, "PR", "PRI", "Puerto Rico", {-68.0, -65.2, 17.8, 18.6}},
    {78, "VI", "VIR", "the U.S. Virgin Islands", {-65.1, -64.5, 17.6, 18.5}},
    {66, "GU", "GUM", "Guam", {144.5, 145.1, 13.1, 13.8}},
    {69, "MP", "MNP", "the Northern Mariana Islands", {144.8, 146.2, 13.9, 20.7}},
    {60, "AS", "ASM", "American Samoa", {-171.2, -168.0, -14.7, -10.9}},
    {74, "UM", "UMI", "the U.S. Minor Outlying Islands", {1, 0, 1, 0}},  // scattered: no box
};

// The territory a region identifier names: a state FIPS code ("72"), a
// county's ("72001"), a postal or ISO code, or the name (any letter case,
// "Commonwealth of the Northern Mariana Islands" too).
const Territory* territoryById(std::string_view id) {
  id = trimBlanks(id);
  if (id.empty()) return nullptr;
  const bool digits = std::all_of(id.begin(), id.end(), [](char c) { return isDigit(c); });
  if (digits && id.size() <= 5) {
    int code = std::atoi(std::string(id).c_str());
    if (id.size() > 2) code /= 1000;  // a county: the state's code leads
    for (const Territory& t : kTerritories)
      if (t.fips == code) return &t;
    return nullptr;
  }
  const std::string key = upper(id);
  for (const Territory& t : kTerritories) {
    std::string name = upper(t.name);
    if (name.rfind("THE ", 0) == 0) name.erase(0, 4);
    if (key == t.postal || key == t.iso || key == name || key == "THE " + name ||
        (key.size() > name.size() && key.compare(key.size() - name.size(), name.size(), name) == 0))
      return &t;
  }
  return nullptr;
}

class AlbersUsa final : public MapProjection {
 public:
  bool init(std::string* error) {
    auto lower48 =
        EqualArea::fromProjString("+proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=37.5 +lon_0=-96");
    auto alaska = EqualArea::fromProjString("+proj=aea +lat_1=55 +lat_2=65 +lat_0=50 +lon_0=-154");
    auto hawaii = EqualArea::fromProjString("+proj=aea +lat_1=8 +lat_2=18 +lat_0=3 +lon_0=-157");
    if (!lower48 || !alaska || !hawaii) {
      *error = "the Albers projections could not be made";
      return false;
    }
    lower48_ = *lower48;
    alaska_ = *alaska;
    hawaii_ = *hawaii;
    lon0_ = -96;
    maxScale_ = kMaxPixelsPerMetre;
    description_ =
        "ALBERSUSA (the lower 48 states in +proj=aea +lat_1=29.5 +lat_2=45.5 +lat_0=37.5 "
        "+lon_0=-96, Alaska and Hawaii as insets below them)";
    // The insets sit below the south-western states: Alaska at a third of
    // its size from the lower 48's western edge, Hawaii to its right, both
    // with their bottoms at the latitude of the Florida Keys.
    const Box l48 = boxOf(lower48_, {-124.8, -66.9, 24.5, 49.4}, 1);
    const Box ak = boxOf(alaska_, {-179.99, -129.9, 51.2, 71.4}, kAlaskaScale);
    const Box hi = boxOf(hawaii_, {-160.3, -154.8, 18.9, 22.3}, 1);
    const double gap = (l48.x1 - l48.x0) * 0.02;
    alaskaShift_ = {l48.x0 - ak.x0, l48.y1 - ak.y1};
    hawaiiShift_ = {l48.x0 + (ak.x1 - ak.x0) + 2 * gap - hi.x0, l48.y1 - hi.y1};
    return true;
  }

  bool accepts(LonLat p) const override { return areaOf(p.lon, p.lat) >= 0; }
  bool refusesSome() const override { return true; }
  bool samePart(LonLat a, LonLat b) const override {
    return areaOf(a.lon, a.lat) == areaOf(b.lon, b.lat);
  }
  std::string placeOf(LonLat p, std::string_view id) const override {
    if (const Territory* t = territoryById(id)) return t->name;
    const double lon = normalLon(p.lon);
    for (const Territory& t : kTerritories)
      if (t.box.contains(lon, p.lat)) return t.name;
    return {};
  }

  void forward(Point* pts, size_t n) const override {
    if (n == 0) return;
    place(areaOf(pts[0].x, pts[0].y), pts, n);
  }
  void forwardPoints(Point* pts, size_t n) const override {
    for (size_t i = 0; i < n; ++i) place(areaOf(pts[i].x, pts[i].y), pts + i, 1);
  }
  std::shared_ptr<const MapProjection> copyForThread() const override {
    return std::make_shared<AlbersUsa>(*this);
  }

 private:
  static constexpr double kAlaskaScale = 0.35;
  struct Box {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
  };

  // 0 the lower 48, 1 Alaska, 2 Hawaii, -1 elsewhere.
  static int areaOf(double lon, double lat) {
    lon = normalLon(lon);
    if (kLower48.contains(lon, lat)) return 0;
    if (kAlaskaWest.contains(lon, lat) || kAlaskaEast.contains(lon, lat)) return 1;
    if (kHawaii.contains(lon, lat)) return 2;
    return -1;
  }

  void place(int area, Point* pts, size_t n) const {
    if (area < 0) {
      for (size_t i = 0; i < n; ++i) pts[i] = {NAN, NAN};
      return;
    }
    const EqualArea& t = area == 0 ? lower48_ : area == 1 ? alaska_ : hawaii_;
    t.forward(pts, n);
    const double s = area == 1 ? kAlaskaScale : 1;
    const Point shift = area == 0 ? Point{0, 0} : area == 1 ? alaskaShift_ : hawaiiShift_;
    for (size_t i = 0; i < n; ++i) pts[i] = {pts[i].x * s + shift.x, -pts[i].y * s + shift.y};
  }

  // The planar box (y down) of a lon/lat box's outline, scaled.
  static Box boxOf(const EqualArea& t, LonLatBox b, double scale) {
    std::vector<Point> pts;
    for (int i = 0; i <= 20; ++i) {
      const double f = i / 20.0;
      const double lon = b.lon0 + (b.lon1 - b.lon0) * f, lat = b.lat0 + (b.lat1 - b.lat0) * f;
      pts.insert(pts.end(), {{lon, b.lat0}, {lon, b.lat1}, {b.lon0, lat}, {b.lon1, lat}});
    }
    t.forward(pts.data(), pts.size());
    Box box;
    for (const Point& p : pts) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
      box.x0 = std::min(box.x0, p.x * scale);
      box.x1 = std::max(box.x1, p.x * scale);
      box.y0 = std::min(box.y0, -p.y * scale);
      box.y1 = std::max(box.y1, -p.y * scale);
    }
    return box;
  }

  EqualArea lower48_, alaska_, hawaii_;
  Point alaskaShift_, hawaiiShift_;
};

// --- Converting data coordinates ---------------------------------------------

class ProjConverter final : public CoordinateConverter {
 public:
  explicit ProjConverter(ProjTransform t) : t_(std::move(t)) {}
  void toLonLat(Point* pts, size_t n) const override { transform(t_, pts, n); }
  const AreaOfUse* areaOfUse() const override { return t_.area ? &*t_.area : nullptr; }

 private:
  ProjTransform t_;
};

// A projection computed here (equal_area.h): no PROJ objects, so one
// serves every thread.
class FormulaProjection final : public MapProjection {
 public:
  FormulaProjection(const EqualArea& p, std::string description) : p_(p) {
    lon0_ = p.centralMeridian();
    cuts_ = !p.azimuthal();
    maxScale_ = kMaxPixelsPerMetre;
    description_ = std::move(description);
  }
  void forward(Point* pts, size_t n) const override {
    p_.forward(pts, n);
    for (size_t i = 0; i < n; ++i) pts[i].y = -pts[i].y;  // northing up, pixels down
  }
  std::shared_ptr<const MapProjection> copyForThread() const override {
    return std::make_shared<FormulaProjection>(*this);
  }

 private:
  EqualArea p_;
};

// One of the projections named here, on the WGS 84 ellipsoid; `params`
// is how the log shows it. Null for parameters no projection takes.
MapProjectionPtr makeNamedProj(const std::string& params, const std::string& name) {
  auto p = EqualArea::fromProjString(params);
  if (!p) return nullptr;
  return std::make_shared<FormulaProjection>(*p, name + " (" + params + ")");
}

}  // namespace

bool AreaOfUse::farOutside(double lon, double lat) const {
  // Degrees east of the west edge, and the box's width, both around the
  // globe.
  double width = east - west, east_of = std::fmod(lon - west, 360);
  if (width < 0) width += 360;
  if (east_of < 0) east_of += 360;
  const double lonOut = east_of <= width ? 0 : std::min(east_of - width, 360 - east_of);
  const double latOut = std::max({south - lat, lat - north, 0.0});
  return lonOut > std::max(10.0, width) || latOut > std::max(10.0, north - south);
}

std::string AreaOfUse::described() const {
  auto lon = [](double v) { return num(std::fabs(v)) + (v < 0 ? " W" : " E"); };
  auto lat = [](double v) { return num(std::fabs(v)) + (v < 0 ? " S" : " N"); };
  // Some areas list dozens of countries: the first ones tell where.
  constexpr size_t kLongest = 80;
  std::string where(name.size() > kLongest ? cutUtf8(name, kLongest) : name);
  while (!where.empty() && (where.back() == '.' || where.back() == ' ')) where.pop_back();
  if (name.size() > kLongest) where += "...";
  return (where.empty() ? "" : where + ": ") + lon(west) + " to " + lon(east) + ", " +
         lat(south) + " to " + lat(north);
}

const Extent& WrapExtent::shorter() const {
  const bool wrap = plain.valid && plain.maxLon - plain.minLon > 180 &&
                    shifted.maxLon - shifted.minLon < plain.maxLon - plain.minLon;
  return wrap ? shifted : plain;
}

MapProjectionPtr makeWebMercator(double lon0, std::string description) {
  if (description.empty()) description = "Web Mercator";
  return std::make_shared<WebMercator>(normalLon(lon0), std::move(description));
}

MapProjectionPtr makeProjProjection(std::string_view definition, std::string_view name,
                                    std::string* error) {
  ProjTransform t;
  if (!makeTransform(definition, false, t, error)) return nullptr;
  std::string description(name);
  if (description.empty()) description = std::string(definition);
  else description += " (" + std::string(definition) + ")";
  return std::make_shared<ProjProjection>(std::move(t), std::move(description));
}

MapProjectionPtr makeAlbersUsa() {
  auto p = std::make_shared<AlbersUsa>();
  std::string error;
  if (!p->init(&error)) return nullptr;
  return p;
}

ProjectionChoice chooseProjection(std::string_view setting, const WrapExtent& extent, bool tiles,
                                  bool given) {
  ProjectionChoice out;
  std::string key = upper(trimBlanks(setting));
  if (key.empty()) key = "AUTO";

  // Where the data lie.
  const Extent e = extent.valid() ? extent.shorter() : Extent{-180, -90, 180, 90, true};
  const double lonSpan = e.maxLon - e.minLon, latSpan = e.maxLat - e.minLat;
  const bool worldWide = lonSpan > 180 || latSpan > 120;
  const double lon0 = worldWide ? 0 : normalLon((e.minLon + e.maxLon) / 2);
  const double lat0 = (e.minLat + e.maxLat) / 2;

  if (tiles) {
    if (key != "AUTO" && key != "MERCATOR" && key != "EPSG:3857")
      out.warnings.push_back("The map is drawn in Web Mercator, as its map tiles are: " +
                             std::string(globalOption(GlobalOpt::MapProjection).name) + "=" +
                             std::string(setting) + " is not used beside a tile layer.");
    out.projection = makeWebMercator(lon0, "Web Mercator (+proj=merc +lon_0=" + num(lon0) + ")");
  } else if (key == "MERCATOR") {
    out.projection = makeWebMercator(lon0, "Mercator (+proj=merc +lon_0=" + num(lon0) + ")");
  } else if (key == "EQUALEARTH") {
    out.projection =
        makeNamedProj("+proj=eqearth +lon_0=" + num(lon0), "Equal Earth");
  } else if (key == "ALBERSUSA") {
    out.projection = makeAlbersUsa();
  } else if (key != "AUTO") {
    std::string error;
    out.projection = makeProjProjection(setting, "", &error);
    if (!out.projection) {
      out.warnings.push_back("The map projection " + std::string(setting) +
                             " is not known to PROJ (" + error +
                             "); a projection is chosen for the data instead.");
      key = "AUTO";
    }
  }

  if (key == "AUTO" && !tiles) {
    // An equal-area projection fitted to where the data lie.
    const bool beyond60 = e.minLat >= 60 || e.maxLat <= -60;
    const bool pole = e.maxLat >= 89.9 || e.minLat <= -89.9;
    if (beyond60 || (!worldWide && pole)) {
      const bool north = lat0 > 0;
      const double plon = lonSpan > 180 ? 0 : lon0;
      out.projection = makeNamedProj("+proj=laea +lat_0=" + std::string(north ? "90" : "-90") +
                                         " +lon_0=" + num(plon),
                                     "Lambert azimuthal equal-area, polar");
    } else if (worldWide) {
      out.projection = makeNamedProj("+proj=eqearth +lon_0=0", "Equal Earth");
    } else if (std::fabs(e.minLat + e.maxLat) < 10) {
      out.projection = makeNamedProj(
          "+proj=laea +lat_0=" + num(lat0) + " +lon_0=" + num(lon0),
          "Lambert azimuthal equal-area");
    } else {
      out.projection = makeNamedProj("+proj=aea +lat_1=" + num(e.minLat + latSpan / 6) +
                                         " +lat_2=" + num(e.minLat + latSpan * 5 / 6) +
                                         " +lat_0=" + num(lat0) + " +lon_0=" + num(lon0),
                                     "Albers equal-area conic");
    }
    if (out.projection)
      out.note = "The map projection is " + out.projection->description() + ", chosen for " +
                 (given ? std::string(globalOption(GlobalOpt::MapExtent).name) + "="
                        : std::string("the extent of the data")) +
                 ".";
  } else if (out.projection) {
    out.note = "The map projection is " + out.projection->description() +
               (tiles ? ", the projection of the map tiles." : ".");
  }
  // Nothing could be made: no projection takes the parameters.
  if (!out.projection) {
    out.warnings.push_back("The map projection could not be made; the map is drawn in Web "
                           "Mercator.");
    out.projection = makeWebMercator(lon0);
    out.note.clear();
  }
  return out;
}

std::unique_ptr<CoordinateConverter> makeCoordinateConverter(std::string_view definition,
                                                             std::string* error) {
  ProjTransform t;
  if (!makeTransform(definition, true, t, error)) return nullptr;
  return std::make_unique<ProjConverter>(std::move(t));
}

}  // namespace qv::render
