// The GDAL/OGR reader module: opens a vector source with GDAL and hands a
// layer's features back in columns (runtime/data/ogr_api.h). Loaded by the
// host only when a GDAL source is opened.
#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_vsi_virtual.h>
#include <gdal.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>
#include <dlfcn.h>
#include <libpq-fe.h>
#include <sched.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>

#include "runtime/data/ogr_api.h"

namespace {

using qv::ogr::Failure;
using qv::ogr::Fault;
using qv::ogr::Field;
using qv::ogr::FieldKind;
using qv::ogr::LayerData;
using qv::ogr::Limits;
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

// What the files GDAL opens during one call of the interface may be: the
// call's thread watches them through the file layer below.
struct FileWatch {
  // The first file refused (not a regular file), with its st_mode.
  std::string refused;
  unsigned mode = 0;
  // A .dbf read alone: its stem ("/data/m" of /data/m.dbf), whose .shp and
  // .shx GDAL is not to see.
  std::string aloneStem;

  bool hidden(std::string_view path) const {
    if (aloneStem.empty() || path.size() != aloneStem.size() + 4 ||
        path.substr(0, aloneStem.size()) != aloneStem || path[aloneStem.size()] != '.')
      return false;
    const std::string ext(path.substr(aloneStem.size() + 1));
    return EQUAL(ext.c_str(), "shp") || EQUAL(ext.c_str(), "shx");
  }
};

thread_local FileWatch* tWatch = nullptr;

// The one check of every file opened for a source: whether `path` exists
// and is no regular file (a FIFO would wait for a writer forever, a device
// be read without end). Such a file is not to be opened; the first one is
// kept for the call, which then fails naming it. Folders are refused too
// unless `foldersAllowed`.
bool refuse(const char* path, bool foldersAllowed) {
  struct stat st {};
  if (!path || ::stat(path, &st) != 0 || S_ISREG(st.st_mode) ||
      (foldersAllowed && S_ISDIR(st.st_mode)))
    return false;
  if (tWatch && tWatch->refused.empty()) {
    tWatch->refused = path;
    tWatch->mode = st.st_mode;
  }
  errno = EACCES;
  return true;
}

// SQLite opens a GeoPackage's files itself (the database, its -journal,
// -wal and -shm) through the system call table of its Unix file layer;
// its "open" goes through the check. SQLite also opens the folder of a
// database to flush it after removing a journal: folders pass here (a
// folder in a file's place fails to open as a file all the same).
sqlite3_syscall_ptr sqliteOpen = nullptr;

int sqliteOpenRegular(const char* path, int flags, int mode) {
  if (refuse(path, true)) return -1;
  return reinterpret_cast<int (*)(const char*, int, int)>(sqliteOpen)(path, flags, mode);
}

// GDAL's file layer for local files, wrapped: every file GDAL opens (the
// source, a driver's sidecar, an .aux.xml) goes through the check first.
class RegularFilesOnly final : public VSIFilesystemHandler {
 public:
  explicit RegularFilesOnly(VSIFilesystemHandler* inner) : inner_(inner) {}
  ~RegularFilesOnly() override { delete inner_; }
  RegularFilesOnly(const RegularFilesOnly&) = delete;
  RegularFilesOnly& operator=(const RegularFilesOnly&) = delete;

  VSIVirtualHandle* Open(const char* name, const char* access, bool setError,
                         CSLConstList options) override {
    if (tWatch && tWatch->hidden(name)) {
      errno = ENOENT;
      return nullptr;
    }
    if (refuse(name, false)) {
      if (setError) VSIError(VSIE_FileError, "%s is not a regular file", name);
      return nullptr;
    }
    return inner_->Open(name, access, setError, options);
  }
  int Stat(const char* name, VSIStatBufL* buf, int flags) override {
    if (tWatch && tWatch->hidden(name)) {
      errno = ENOENT;
      return -1;
    }
    return inner_->Stat(name, buf, flags);
  }
  int Unlink(const char* name) override { return inner_->Unlink(name); }
  int Mkdir(const char* name, long mode) override { return inner_->Mkdir(name, mode); }
  int Rmdir(const char* name) override { return inner_->Rmdir(name); }
  int Rename(const char* from, const char* to) override { return inner_->Rename(from, to); }
  char** ReadDirEx(const char* dir, int max) override { return inner_->ReadDirEx(dir, max); }
  char** SiblingFiles(const char* name) override { return inner_->SiblingFiles(name); }
  int IsCaseSensitive(const char* name) override { return inner_->IsCaseSensitive(name); }
  GIntBig GetDiskFreeSpace(const char* dir) override { return inner_->GetDiskFreeSpace(dir); }
  int SupportsSparseFiles(const char* path) override { return inner_->SupportsSparseFiles(path); }
  bool IsLocal(const char* path) override { return inner_->IsLocal(path); }
  bool SupportsSequentialWrite(const char* path, bool local) override {
    return inner_->SupportsSequentialWrite(path, local);
  }
  bool SupportsRandomWrite(const char* path, bool local) override {
    return inner_->SupportsRandomWrite(path, local);
  }

 private:
  VSIFilesystemHandler* inner_;
};

// GDAL reports through a callback; the first failure of a call is its
// reason. Warnings are not failures (a driver warns of fields it widens).
struct ErrorSink {
  std::string first;
  bool noMemory = false;
  static void CPL_STDCALL handler(CPLErr cls, CPLErrorNum num, const char* msg) {
    auto* self = static_cast<ErrorSink*>(CPLGetErrorHandlerUserData());
    if (!self || cls < CE_Failure) return;
    self->noMemory |= num == CPLE_OutOfMemory;
    if (self->first.empty() && msg) self->first = msg;
  }
};

// One call of the interface: GDAL's failures are caught and the files it
// opens watched from here to the end of the call.
class Call {
 public:
  explicit Call(const OpenRequest& req) {
    if (req.tableAlone && req.source.size() > 4)
      watch_.aloneStem = req.source.substr(0, req.source.size() - 4);
    tWatch = &watch_;
    CPLPushErrorHandlerEx(&ErrorSink::handler, &sink_);
  }
  ~Call() {
    CPLPopErrorHandler();
    tWatch = nullptr;
  }
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;

  // Whether a file was refused or memory ran out so far.
  bool refused() const { return !watch_.refused.empty() || sink_.noMemory; }
  // The same, or GDAL reported a failure.
  bool failed() const { return refused() || !sink_.first.empty(); }
  // Fills `f` with what went wrong, `otherwise` when GDAL gave no reason.
  // A refused file comes first: what GDAL says after it is a consequence.
  void describe(Failure* f, const char* otherwise) const {
    if (!watch_.refused.empty()) {
      f->fault = Fault::NotRegular;
      f->text = watch_.refused;
      f->mode = watch_.mode;
    } else if (sink_.noMemory) {
      f->fault = Fault::NoMemory;
    } else {
      f->fault = Fault::Reason;
      f->text = sink_.first.empty() ? std::string(otherwise) : sink_.first;
    }
  }

 private:
  FileWatch watch_;
  ErrorSink sink_;
};

void registerDrivers() {
  static std::once_flag once;
  std::call_once(once, [] {
    VSIFileManager::InstallHandler("", new RegularFilesOnly(VSIFileManager::GetHandler("")));
    if (sqlite3_vfs* vfs = sqlite3_vfs_find("unix"); vfs && vfs->iVersion >= 3) {
      sqliteOpen = vfs->xGetSystemCall(vfs, "open");
      if (sqliteOpen)
        vfs->xSetSystemCall(vfs, "open", reinterpret_cast<sqlite3_syscall_ptr>(&sqliteOpenRegular));
    }
    GDALAllRegister();
  });
}

struct CloseDataset {
  void operator()(GDALDataset* d) const { GDALClose(d); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, CloseDataset>;

DatasetPtr open(const OpenRequest& req, Failure* failure, const Call& call) {
  registerDrivers();
  std::vector<const char*> drivers, options;
  for (const auto& d : req.drivers) drivers.push_back(d.c_str());
  for (const auto& o : req.openOptions) options.push_back(o.c_str());
  drivers.push_back(nullptr);
  options.push_back(nullptr);
  DatasetPtr ds(GDALDataset::Open(req.source.c_str(),
                                  GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
                                  req.drivers.empty() ? nullptr : drivers.data(), options.data()));
  if (!ds) call.describe(failure, "GDAL cannot open it");
  return ds;
}

// Whether no file was refused (nor memory ran out) in the call, nor, when
// `gdalFailures`, GDAL reported a failure; else fills `failure`. A file
// refused on the way fails a call that GDAL itself got through (a sidecar
// it could do without).
bool clean(const Call& call, Failure* failure, bool gdalFailures) {
  if (gdalFailures ? !call.failed() : !call.refused()) return true;
  call.describe(failure, "GDAL could not read it");
  return false;
}

bool layers(const OpenRequest& req, std::vector<std::string>* names, Failure* failure) {
  Call call(req);
  DatasetPtr ds = open(req, failure, call);
  if (!ds) return false;
  for (OGRLayer* l : ds->GetLayers()) names->push_back(l->GetName());
  return clean(call, failure, false);
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

OGRLayer* layerOf(GDALDataset& ds, const std::string& name, Failure* failure) {
  OGRLayer* layer = name.empty() ? ds.GetLayer(0) : ds.GetLayerByName(name.c_str());
  if (!layer) {
    failure->fault = Fault::Reason;
    failure->text = name.empty() ? "it holds no layer" : "it has no layer " + name;
  }
  return layer;
}

// The file beside a Shapefile with extension `ext` (lower case, else upper
// case, as GDAL looks for them), or "" when there is none.
std::string besideShapefile(const std::string& shp, const char* ext) {
  for (const std::string& e : {std::string(ext), std::string(CPLString(ext).toupper())}) {
    const std::string path = CPLResetExtension(shp.c_str(), e.c_str());
    VSIStatBufL st;
    if (VSIStatL(path.c_str(), &st) == 0) return path;
  }
  return {};
}

bool isShapefile(GDALDataset& ds, const OpenRequest& req) {
  return ds.GetDriver() && EQUAL(ds.GetDriver()->GetDescription(), "ESRI Shapefile") &&
         EQUAL(CPLGetExtension(req.source.c_str()), "shp");
}

// A Shapefile whose .dbf GDAL could not take is read without attributes
// and without a word: its .dbf must be among the files GDAL reads.
bool attributesTaken(GDALDataset& ds, const OpenRequest& req, Failure* failure) {
  if (!isShapefile(ds, req)) return true;
  const std::string dbf = besideShapefile(req.source, "dbf");
  if (dbf.empty()) return true;  // the host tells of a missing .dbf
  char** files = ds.GetFileList();
  const bool taken = CSLFindString(files, dbf.c_str()) >= 0;
  CSLDestroy(files);
  if (taken) return true;
  failure->fault = Fault::Reason;
  failure->text = std::string(CPLGetFilename(dbf.c_str())) +
                  ", which holds its attributes, is not a dBase file GDAL can read";
  return false;
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
            std::string* driver, std::string* pointColumn, Failure* failure) {
  Call call(req);
  DatasetPtr ds = open(req, failure, call);
  OGRLayer* layer = ds ? layerOf(*ds, layerName, failure) : nullptr;
  if (!layer) return false;
  describeFields(*layer->GetLayerDefn(), out);
  if (GDALDriver* d = ds->GetDriver()) *driver = d->GetDescription();
  pointColumn->clear();
  if (layer->GetLayerDefn()->GetGeomFieldCount() == 1 &&
      wkbFlatten(layer->GetGeomType()) == wkbPoint && layer->GetGeometryColumn())
    *pointColumn = layer->GetGeometryColumn();
  return clean(call, failure, false);
}

// Appends the values of a feature's fields to `out` (whose fields are
// described), a value per field.
void addValues(OGRFeature& feature, LayerData* out) {
  for (size_t i = 0; i < out->fields.size(); ++i) {
    Field& f = out->fields[i];
    const int k = static_cast<int>(i);
    const bool set = feature.IsFieldSetAndNotNull(k);
    switch (f.kind) {
      case FieldKind::Integer:
        f.numbers.push_back(set ? static_cast<double>(feature.GetFieldAsInteger64(k)) : kNaN);
        break;
      case FieldKind::Real:
        f.numbers.push_back(set ? feature.GetFieldAsDouble(k) : kNaN);
        break;
      case FieldKind::String:
        f.texts.emplace_back(set ? feature.GetFieldAsString(k) : "");
        break;
      default:
        f.texts.push_back(set ? isoText(feature, k, f.kind) : std::string());
    }
  }
}

// A PostgreSQL connection string as libpq takes it: a URI as it is, "PG:"
// cut off the keyword form; "" for another source.
std::string libpqConnection(const std::string& source) {
  if (EQUALN(source.c_str(), "postgresql://", 13) || EQUALN(source.c_str(), "postgres://", 11))
    return source;
  if (EQUALN(source.c_str(), "PG:", 3)) return source.substr(3);
  return {};
}

// The reason libpq gives, "" for none.
std::string pqReason(const char* message) { return message ? message : ""; }

// A statement run on a connection of its own, straight through libpq: the
// whole answer comes in one exchange (no cursor, so the server may plan it
// for all its rows and on its parallel workers). The connection is opened
// through PQconnectdb (above), so a signal cancels what it runs; it takes
// the statements the request opens a GDAL connection with
// (PRELUDE_STATEMENTS=: the statement time-out) first.
bool postgresQuery(const OpenRequest& req, const std::string& conninfo, const std::string& sql,
                   LayerData* out, Failure* failure) {
  failure->fault = Fault::Reason;
  struct Finish {
    PGconn* conn;
    ~Finish() { PQfinish(conn); }
  } conn{PQconnectdb(conninfo.c_str())};
  if (!conn.conn) {
    failure->fault = Fault::NoMemory;
    return false;
  }
  if (PQstatus(conn.conn) != CONNECTION_OK) {
    failure->text = pqReason(PQerrorMessage(conn.conn));
    return false;
  }
  auto run = [&](const std::string& statement, ExecStatusType expected) -> PGresult* {
    PGresult* r = PQexec(conn.conn, statement.c_str());
    if (r && PQresultStatus(r) == expected) return r;
    failure->text = pqReason(r ? PQresultErrorMessage(r) : PQerrorMessage(conn.conn));
    if (failure->text.empty()) failure->text = "the database did not answer the query";
    PQclear(r);
    return nullptr;
  };
  for (const std::string& o : req.openOptions) {
    if (!EQUALN(o.c_str(), "PRELUDE_STATEMENTS=", 19)) continue;
    PGresult* r = run(o.substr(19), PGRES_COMMAND_OK);
    if (!r) return false;
    PQclear(r);
  }
  PGresult* r = run(sql, PGRES_TUPLES_OK);
  if (!r) return false;
  struct Clear {
    PGresult* r;
    ~Clear() { PQclear(r); }
  } clear{r};
  const int rows = PQntuples(r), cols = PQnfields(r);
  out->fields.resize(static_cast<size_t>(cols));
  for (int c = 0; c < cols; ++c) {
    Field& f = out->fields[static_cast<size_t>(c)];
    f.name = PQfname(r, c);
    // bigint, smallint, integer; real, double precision, numeric.
    switch (PQftype(r, c)) {
      case 20: case 21: case 23: f.kind = FieldKind::Integer; f.bits = 64; break;
      case 700: case 701: case 1700: f.kind = FieldKind::Real; f.bits = 64; break;
      default: f.kind = FieldKind::String;
    }
    const bool numeric = f.kind != FieldKind::String;
    if (numeric) f.numbers.resize(static_cast<size_t>(rows));
    else f.texts.resize(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
      const bool null = PQgetisnull(r, i, c);
      const char* v = PQgetvalue(r, i, c);
      if (numeric) f.numbers[static_cast<size_t>(i)] = null ? kNaN : CPLAtof(v);
      else if (!null) f.texts[static_cast<size_t>(i)] = v;
    }
  }
  out->fids.resize(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) out->fids[static_cast<size_t>(i)] = i;
  return true;
}

bool query(const OpenRequest& req, const std::string& sql, LayerData* out, Failure* failure) {
  if (const std::string conninfo = libpqConnection(req.source); !conninfo.empty())
    return postgresQuery(req, conninfo, sql, out, failure);
  Call call(req);
  DatasetPtr ds = open(req, failure, call);
  if (!ds) return false;
  OGRLayer* answer = ds->ExecuteSQL(sql.c_str(), nullptr, nullptr);
  if (!answer) {
    call.describe(failure, "the database did not answer the query");
    return false;
  }
  struct Release {
    GDALDataset* ds;
    OGRLayer* layer;
    ~Release() { ds->ReleaseResultSet(layer); }
  } release{ds.get(), answer};
  describeFields(*answer->GetLayerDefn(), &out->fields);
  answer->ResetReading();
  for (auto& feature : *answer) {
    out->fids.push_back(static_cast<int64_t>(out->fids.size()));
    addValues(*feature, out);
    if (call.failed()) break;
  }
  return clean(call, failure, true);
}

// The bytes of the table the host makes of the features read so far (see
// ogrTable in runtime/data/ogr.cpp): a layer with geometry gives a row per
// vertex (and one after each line part) holding ID, SEGMENT, LONG, LAT (ALT)
// and every attribute again; one without, a row per feature. A feature
// without points, which gives no row, still holds its attributes here, and
// each feature its id.
class TableBytes {
 public:
  explicit TableBytes(const LayerData& d) : d_(d) {}
  // Counts feature `f`, whose parts begin at part `firstPart`.
  uint64_t add(size_t f, size_t firstPart) {
    uint64_t rows = 1;
    if (d_.hasGeometry) {
      rows = 0;
      for (size_t p = firstPart; p < d_.partKind.size(); ++p)
        rows += d_.firstPoint[p + 1] - d_.firstPoint[p] + (d_.partKind[p] == PartKind::Line);
      if (d_.hasZ && !z_) total_ += rows_ * 8;  // the ALT column, for the rows before
      z_ = d_.hasZ;
    }
    uint64_t perRow = 8 + (d_.hasGeometry ? 8 * (z_ ? 4 : 3) : 0);
    for (const Field& field : d_.fields)
      perRow += field.kind == FieldKind::String ? 8 + field.texts[f].size() : 8;
    rows_ += rows;
    total_ += 8 + (rows ? rows : 1) * perRow;
    return total_;
  }

 private:
  const LayerData& d_;
  uint64_t rows_ = 0, total_ = 0;
  bool z_ = false;
};

bool read(const OpenRequest& req, const std::string& layerName, const std::string& filter,
          const Limits& limits, LayerData* out, Failure* failure) {
  Call call(req);
  DatasetPtr ds = open(req, failure, call);
  OGRLayer* layer = ds ? layerOf(*ds, layerName, failure) : nullptr;
  if (!layer) return false;
  if (!filter.empty() && layer->SetAttributeFilter(filter.c_str()) != OGRERR_NONE) {
    call.describe(failure, "the filter is not taken");
    return false;
  }
  if (!attributesTaken(*ds, req, failure)) return false;
  out->name = layer->GetName();
  OGRFeatureDefn* defn = layer->GetLayerDefn();
  out->hasGeometry = defn->GetGeomFieldCount() > 0;
  bool swap = false;
  if (const OGRSpatialReference* srs = layer->GetSpatialRef()) {
    out->crs = crsText(*srs);
    swap = northFirst(*srs);
  } else if (isShapefile(*ds, req)) {
    out->unreadSystemFile = besideShapefile(req.source, "prj");
  }
  describeFields(*defn, &out->fields);
  GeometryReader geometry(*out, swap, limits.maxPoints);
  TableBytes bytes(*out);
  layer->ResetReading();
  for (auto& feature : *layer) {
    const size_t index = out->fids.size(), firstPart = out->partKind.size();
    out->fids.push_back(feature->GetFID());
    addValues(*feature, out);
    if (out->hasGeometry) geometry.add(feature->GetGeometryRef());
    out->firstPart.push_back(out->partKind.size());
    if (geometry.tooMany) {
      failure->fault = Fault::Reason;
      failure->text = "it has more than " + std::to_string(limits.maxPoints) + " coordinates";
      return false;
    }
    // Checked feature by feature: a layer may have no end (a view that
    // makes its rows).
    if (const uint64_t b = bytes.add(index, firstPart); b > limits.maxTableBytes) {
      failure->fault = Fault::TooLarge;
      failure->bytes = b;
      return false;
    }
    // A file refused mid-way (a sidecar read late) fails the read at once.
    if (call.failed()) break;
  }
  // A driver that meets damaged data mid-way reports it and ends the loop
  // early: the layer is then not read whole.
  return clean(call, failure, true);
}

// Nothing is thrown to the host: memory exhaustion and the like come back
// as a failure.
template <class F>
bool guarded(Failure* failure, F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    failure->fault = Fault::NoMemory;
  } catch (const std::exception& e) {
    failure->fault = Fault::Reason;
    failure->text = e.what();
  } catch (...) {
    failure->fault = Fault::Reason;
    failure->text = "an unexpected failure in the GDAL reader";
  }
  return false;
}

const qv::ogr::Api kApi{
    qv::ogr::kApiVersion,
    [](const OpenRequest& req, std::vector<std::string>* names, Failure* failure) {
      return guarded(failure, [&] { return layers(req, names, failure); });
    },
    [](const OpenRequest& req, const std::string& layer, std::vector<Field>* out,
       std::string* driver, std::string* pointColumn, Failure* failure) {
      return guarded(failure,
                     [&] { return fields(req, layer, out, driver, pointColumn, failure); });
    },
    [](const OpenRequest& req, const std::string& layer, const std::string& filter,
       const Limits& limits, LayerData* out, Failure* failure) {
      return guarded(failure, [&] { return read(req, layer, filter, limits, out, failure); });
    },
    [](const OpenRequest& req, const std::string& sql, LayerData* out, Failure* failure) {
      return guarded(failure, [&] { return query(req, sql, out, failure); });
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
