// The GDAL/OGR reader module: opens a vector source with GDAL and hands a
// layer's features back in columns (runtime/data/ogr_api.h). Loaded by the
// host only when a GDAL source is opened.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>
#include <dlfcn.h>
#include <libpq-fe.h>
#include <sched.h>

#include <atomic>
#include <cmath>
#include <exception>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>

#include "runtime/data/ogr_api.h"

namespace {

using qv::ogr::Field;
using qv::ogr::FieldKind;
using qv::ogr::LayerData;
using qv::ogr::OpenRequest;
using qv::ogr::PartKind;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// --- PostgreSQL connections that a signal may have to cancel
//
// GDAL's PostgreSQL driver keeps its libpq connection to itself. The
// module defines libpq's PQconnectdb and PQfinish (below, outside this
// namespace): libgdal, loaded with the module, finds them here first, so
// every connection it makes is seen opening and closing, and its cancel
// object (PQgetCancel) is kept while it is open. A signal handler sends
// each a cancel request with PQcancel, which libpq makes safe there.
//
// The slots form a list that only grows (to the most connections open at
// once) and is read without locks: a slot's cancel object is taken out
// before it is freed, and freed only when no handler is using it.
struct CancelSlot {
  std::atomic<PGconn*> conn{nullptr};  // null: the slot is free
  std::atomic<PGcancel*> cancel{nullptr};
  std::atomic<int> users{0};
  CancelSlot* next = nullptr;
};
std::atomic<CancelSlot*> cancelSlots{nullptr};

void keepCancel(PGconn* conn) {
  PGcancel* cancel = PQgetCancel(conn);
  if (!cancel) return;
  for (CancelSlot* s = cancelSlots.load(); s; s = s->next) {
    PGconn* none = nullptr;
    if (s->conn.compare_exchange_strong(none, conn)) {
      s->cancel.store(cancel);
      return;
    }
  }
  auto* s = new CancelSlot;
  s->conn.store(conn);
  s->cancel.store(cancel);
  s->next = cancelSlots.load();
  while (!cancelSlots.compare_exchange_weak(s->next, s)) {
  }
}

void dropCancel(PGconn* conn) {
  if (!conn) return;
  for (CancelSlot* s = cancelSlots.load(); s; s = s->next) {
    if (s->conn.load() != conn) continue;
    PGcancel* cancel = s->cancel.exchange(nullptr);
    while (s->users.load() != 0) sched_yield();
    if (cancel) PQfreeCancel(cancel);
    s->conn.store(nullptr);
    return;
  }
}

void cancelQueries() {
  for (CancelSlot* s = cancelSlots.load(); s; s = s->next) {
    s->users.fetch_add(1);
    if (PGcancel* cancel = s->cancel.load()) {
      char reason[256];
      PQcancel(cancel, reason, sizeof reason);
    }
    s->users.fetch_sub(1);
  }
}

// GDAL reports through a callback; the first failure of a call is its
// reason. Warnings are not failures (a driver warns of fields it widens).
struct ErrorSink {
  std::string first;
  static void CPL_STDCALL handler(CPLErr cls, CPLErrorNum, const char* msg) {
    auto* self = static_cast<ErrorSink*>(CPLGetErrorHandlerUserData());
    if (self && cls >= CE_Failure && self->first.empty() && msg) self->first = msg;
  }
};

class CaptureErrors {
 public:
  CaptureErrors() { CPLPushErrorHandlerEx(&ErrorSink::handler, &sink_); }
  ~CaptureErrors() { CPLPopErrorHandler(); }
  CaptureErrors(const CaptureErrors&) = delete;
  CaptureErrors& operator=(const CaptureErrors&) = delete;
  const std::string& first() const { return sink_.first; }
  std::string reason(const char* otherwise) const {
    return sink_.first.empty() ? std::string(otherwise) : sink_.first;
  }

 private:
  ErrorSink sink_;
};

void registerDrivers() {
  static std::once_flag once;
  std::call_once(once, [] { GDALAllRegister(); });
}

struct CloseDataset {
  void operator()(GDALDataset* d) const { GDALClose(d); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, CloseDataset>;

DatasetPtr open(const OpenRequest& req, std::string* error, const CaptureErrors& errors) {
  registerDrivers();
  std::vector<const char*> drivers, options;
  for (const auto& d : req.drivers) drivers.push_back(d.c_str());
  for (const auto& o : req.openOptions) options.push_back(o.c_str());
  drivers.push_back(nullptr);
  options.push_back(nullptr);
  DatasetPtr ds(GDALDataset::Open(req.source.c_str(),
                                  GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                  req.drivers.empty() ? nullptr : drivers.data(), options.data()));
  if (!ds) *error = errors.reason("GDAL cannot open it");
  return ds;
}

bool layers(const OpenRequest& req, std::vector<std::string>* names, std::string* error) {
  CaptureErrors errors;
  DatasetPtr ds = open(req, error, errors);
  if (!ds) return false;
  for (OGRLayer* l : ds->GetLayers()) names->push_back(l->GetName());
  return true;
}

FieldKind kindOf(const OGRFieldDefn& f) {
  switch (f.GetType()) {
    case OFTInteger:
    case OFTInteger64: return FieldKind::Integer;
    case OFTReal: return FieldKind::Real;
    case OFTDate: return FieldKind::Date;
    case OFTDateTime: return FieldKind::DateTime;
    case OFTTime: return FieldKind::Time;
    default: return FieldKind::String;
  }
}

std::string isoText(OGRFeature& f, int i, FieldKind kind) {
  int y = 0, m = 0, d = 0, hh = 0, mm = 0, tz = 0;
  float ss = 0;
  if (!f.GetFieldAsDateTime(i, &y, &m, &d, &hh, &mm, &ss, &tz)) return {};
  char buf[64];
  const int sec = static_cast<int>(std::floor(ss));
  if (kind == FieldKind::Date)
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  else if (kind == FieldKind::Time)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", hh, mm, sec);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", y, m, d, hh, mm, sec);
  return buf;
}

// Adds the parts of a geometry, flattened: polygons give their rings (the
// outer one first), lines their parts, points one part each; collections go
// through their members; curves are first made linear.
class GeometryReader {
 public:
  GeometryReader(LayerData& out, bool swapAxes, uint64_t maxPoints)
      : out_(out), swap_(swapAxes), maxPoints_(maxPoints) {}
  bool tooMany = false;

  void add(const OGRGeometry* g) {
    if (!g || g->IsEmpty() || tooMany) return;
    switch (wkbFlatten(g->getGeometryType())) {
      case wkbPoint: {
        const auto* p = g->toPoint();
        part(PartKind::Point);
        point(p->getX(), p->getY(), p->Is3D() ? p->getZ() : kNaN);
        return;
      }
      case wkbLineString:
      case wkbLinearRing:
        curve(g->toLineString(), PartKind::Line);
        return;
      case wkbPolygon:
        for (const OGRLinearRing* r : *g->toPolygon()) curve(r, PartKind::Ring);
        return;
      case wkbMultiPoint:
      case wkbMultiLineString:
      case wkbMultiPolygon:
      case wkbGeometryCollection:
        for (const OGRGeometry* m : *g->toGeometryCollection()) add(m);
        return;
      default:
        if (g->hasCurveGeometry()) {
          std::unique_ptr<OGRGeometry> linear(g->getLinearGeometry());
          if (linear && !linear->hasCurveGeometry()) add(linear.get());
        }
        return;
    }
  }

 private:
  void part(PartKind k) {
    out_.partKind.push_back(k);
    out_.firstPoint.push_back(out_.firstPoint.back());
  }
  void point(double x, double y, double z) {
    if (out_.x.size() >= maxPoints_) {
      tooMany = true;
      return;
    }
    if (swap_) std::swap(x, y);
    out_.x.push_back(x);
    out_.y.push_back(y);
    out_.z.push_back(z);
    out_.hasZ |= !std::isnan(z);
    ++out_.firstPoint.back();
  }
  void curve(const OGRSimpleCurve* c, PartKind k) {
    if (!c || c->getNumPoints() == 0) return;
    part(k);
    const bool z = c->Is3D();
    for (int i = 0; i < c->getNumPoints() && !tooMany; ++i)
      point(c->getX(i), c->getY(i), z ? c->getZ(i) : kNaN);
  }

  LayerData& out_;
  bool swap_;
  uint64_t maxPoints_;
};

// Whether the first axis of the data is a north or south one, so that x and
// y must be swapped to read as east and north.
bool northFirst(const OGRSpatialReference& srs) {
  const std::vector<int>& mapping = srs.GetDataAxisToSRSAxisMapping();
  if (mapping.empty()) return false;
  OGRAxisOrientation orientation = OAO_Other;
  srs.GetAxis(srs.IsGeographic() ? "GEOGCS" : "PROJCS", std::abs(mapping[0]) - 1, &orientation);
  return orientation == OAO_North || orientation == OAO_South;
}

// The system as a definition PROJ takes: "" for longitude and latitude,
// else the EPSG code when it has one, else WKT.
std::string crsText(const OGRSpatialReference& srs) {
  if (srs.IsGeographic()) return {};
  const char* auth = srs.GetAuthorityName(nullptr);
  const char* code = srs.GetAuthorityCode(nullptr);
  if (auth && code && EQUAL(auth, "EPSG")) return std::string("EPSG:") + code;
  char* wkt = nullptr;
  const char* const options[] = {"FORMAT=WKT2_2019", nullptr};
  std::string text;
  if (srs.exportToWkt(&wkt, options) == OGRERR_NONE && wkt) text = wkt;
  CPLFree(wkt);
  return text;
}

OGRLayer* layerOf(GDALDataset& ds, const std::string& name, std::string* error) {
  OGRLayer* layer = name.empty() ? ds.GetLayer(0) : ds.GetLayerByName(name.c_str());
  if (!layer) *error = name.empty() ? "it holds no layer" : "it has no layer " + name;
  return layer;
}

void describeFields(OGRFeatureDefn& defn, std::vector<Field>* out) {
  out->resize(static_cast<size_t>(defn.GetFieldCount()));
  for (int i = 0; i < defn.GetFieldCount(); ++i) {
    const OGRFieldDefn& d = *defn.GetFieldDefn(i);
    Field& f = (*out)[static_cast<size_t>(i)];
    f.name = d.GetNameRef();
    f.kind = kindOf(d);
    f.width = d.GetWidth();
    f.precision = d.GetPrecision();
    if (d.GetType() == OFTInteger)
      f.bits = d.GetSubType() == OFSTBoolean ? 1 : d.GetSubType() == OFSTInt16 ? 16 : 32;
    else if (d.GetType() == OFTInteger64)
      f.bits = 64;
    else if (d.GetType() == OFTReal)
      f.bits = d.GetSubType() == OFSTFloat32 ? 32 : 64;
  }
}

bool fields(const OpenRequest& req, const std::string& layerName, std::vector<Field>* out,
            std::string* driver, std::string* error) {
  CaptureErrors errors;
  DatasetPtr ds = open(req, error, errors);
  OGRLayer* layer = ds ? layerOf(*ds, layerName, error) : nullptr;
  if (!layer) return false;
  describeFields(*layer->GetLayerDefn(), out);
  if (GDALDriver* d = ds->GetDriver()) *driver = d->GetDescription();
  return true;
}

bool read(const OpenRequest& req, const std::string& layerName, const std::string& filter,
          uint64_t maxPoints, LayerData* out, std::string* error) {
  CaptureErrors errors;
  DatasetPtr ds = open(req, error, errors);
  OGRLayer* layer = ds ? layerOf(*ds, layerName, error) : nullptr;
  if (!layer) return false;
  if (!filter.empty() && layer->SetAttributeFilter(filter.c_str()) != OGRERR_NONE) {
    *error = errors.reason("the filter is not taken");
    return false;
  }
  out->name = layer->GetName();
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  out->hasGeometry = defn->GetGeomFieldCount() > 0;
  bool swap = false;
  if (const OGRSpatialReference* srs = layer->GetSpatialRef()) {
    out->crs = crsText(*srs);
    swap = northFirst(*srs);
  }
  const int nfields = defn->GetFieldCount();
  describeFields(*defn, &out->fields);
  GeometryReader geometry(*out, swap, maxPoints);
  layer->ResetReading();
  for (auto& feature : *layer) {
    out->fids.push_back(feature->GetFID());
    for (int i = 0; i < nfields; ++i) {
      Field& f = out->fields[static_cast<size_t>(i)];
      const bool set = feature->IsFieldSetAndNotNull(i);
      switch (f.kind) {
        case FieldKind::Integer:
          f.numbers.push_back(set ? static_cast<double>(feature->GetFieldAsInteger64(i)) : kNaN);
          break;
        case FieldKind::Real:
          f.numbers.push_back(set ? feature->GetFieldAsDouble(i) : kNaN);
          break;
        case FieldKind::String:
          f.texts.emplace_back(set ? feature->GetFieldAsString(i) : "");
          break;
        default:
          f.texts.push_back(set ? isoText(*feature, i, f.kind) : std::string());
      }
    }
    if (out->hasGeometry) geometry.add(feature->GetGeometryRef());
    out->firstPart.push_back(out->partKind.size());
    if (geometry.tooMany) {
      *error = "it has more than " + std::to_string(maxPoints) + " coordinates";
      return false;
    }
  }
  // A driver that meets damaged data mid-way reports it and ends the loop
  // early: the layer is then not read whole.
  if (!errors.first().empty()) {
    *error = errors.first();
    return false;
  }
  return true;
}

// Nothing is thrown to the host: memory exhaustion and the like come back
// as the reason.
template <class F>
bool guarded(std::string* error, F&& f) {
  try {
    return f();
  } catch (const std::exception& e) {
    *error = e.what();
  } catch (...) {
    *error = "an unexpected failure in the GDAL reader";
  }
  return false;
}

const qv::ogr::Api kApi{
    qv::ogr::kApiVersion,
    [](const OpenRequest& req, std::vector<std::string>* names, std::string* error) {
      return guarded(error, [&] { return layers(req, names, error); });
    },
    [](const OpenRequest& req, const std::string& layer, std::vector<Field>* out,
       std::string* driver, std::string* error) {
      return guarded(error, [&] { return fields(req, layer, out, driver, error); });
    },
    [](const OpenRequest& req, const std::string& layer, const std::string& filter,
       uint64_t maxPoints, LayerData* out, std::string* error) {
      return guarded(error, [&] { return read(req, layer, filter, maxPoints, out, error); });
    },
    cancelQueries,
    [] { return GDALVersionInfo("RELEASE_NAME"); }};

template <class F>
F nextDefinition(const char* name) {
  return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

extern "C" const qv::ogr::Api* qortavlo_ogr_api() { return &kApi; }

// libpq's own, with the connection's cancel object kept while it is open
// (see CancelSlot).
extern "C" PGconn* PQconnectdb(const char* conninfo) {
  static const auto real = nextDefinition<PGconn* (*)(const char*)>("PQconnectdb");
  PGconn* conn = real ? real(conninfo) : nullptr;
  if (conn && PQstatus(conn) == CONNECTION_OK) keepCancel(conn);
  return conn;
}

extern "C" void PQfinish(PGconn* conn) {
  static const auto real = nextDefinition<void (*)(PGconn*)>("PQfinish");
  dropCancel(conn);
  if (real) real(conn);
}
