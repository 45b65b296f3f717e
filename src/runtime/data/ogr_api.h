// The interface between the host and its GDAL/OGR reader.
//
// The reader is a module of its own (qortavlo-ogr.so beside the executable),
// loaded with dlopen the first time a GDAL source is opened, so that a run
// that reads none pays nothing for GDAL. Both sides are built together by
// the same compiler; the version below still guards against a stale module.
// Nothing is thrown across the boundary: failures come back as a Failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::ogr {

inline constexpr int kApiVersion = 6;

enum class FieldKind : uint8_t { Integer, Real, String, Date, DateTime, Time };

struct Field {
  std::string name;
  FieldKind kind = FieldKind::String;
  // How the source stores it: Integer 1 (a boolean), 16, 32 or 64 bits;
  // Real 32 or 64 bits (a NUMERIC too); and a declared NUMERIC(width,
  // precision) (0 undeclared).
  int bits = 0;
  int width = 0, precision = 0;
  // Numeric kinds: one number per feature (NaN missing). Others: one text
  // per feature ("" missing); dates and times as ISO texts
  // (2020-01-31, 2020-01-31T12:30:00, 12:30:00).
  std::vector<double> numbers;
  std::vector<std::string> texts;
};

enum class PartKind : uint8_t { Point, Line, Ring };

// One layer's features in columns. Coordinates are x = east (longitude),
// y = north (latitude), whatever axis order the layer's system declares.
struct LayerData {
  std::string name;
  // A definition PROJ takes ("EPSG:n", else WKT), or "" when the
  // coordinates are longitude and latitude in degrees (or the layer says
  // nothing of its system).
  std::string crs;
  bool hasGeometry = false;
  std::vector<Field> fields;
  std::vector<int64_t> fids;  // one per feature
  // Geometry: feature f has parts [firstPart[f], firstPart[f+1]); part p
  // has points [firstPoint[p], firstPoint[p+1]).
  std::vector<uint64_t> firstPart{0};
  std::vector<PartKind> partKind;
  std::vector<uint64_t> firstPoint{0};
  std::vector<double> x, y, z;  // z is NaN where a point has none
  bool hasZ = false;
  // A coordinate system file (a Shapefile's .prj) that GDAL found but could
  // not make sense of ("" none): the layer then declares no system.
  std::string unreadSystemFile;
};

struct OpenRequest {
  std::string source;             // a file path or a connection string
  std::vector<std::string> drivers;  // GDAL driver names allowed (empty: any)
  std::vector<std::string> openOptions;  // NAME=VALUE
  // A .dbf read as a table of its own: a Shapefile (.shp, .shx) of the same
  // name beside it is not looked at.
  bool tableAlone = false;
};

// What a table may take: the coordinates read, and the bytes of the table
// the host makes of the layer (one row per vertex, each repeating its
// feature's attributes), counted as features are read.
struct Limits {
  uint64_t maxPoints = 0;
  uint64_t maxTableBytes = 0;
};

// Why a call failed.
enum class Fault : uint8_t {
  Reason,      // `text`: GDAL's reason, or the reader's
  NotRegular,  // `text`: a file GDAL was to open that is no regular file
               // (a folder, FIFO or device; `mode` is its st_mode)
  NoMemory,    // memory ran out
  TooLarge,    // the table would take more than Limits::maxTableBytes:
               // `bytes`, counted up to the feature where that was seen
};

struct Failure {
  Fault fault = Fault::Reason;
  std::string text;
  unsigned mode = 0;
  uint64_t bytes = 0;
};

struct Api {
  int version;
  // The names of the source's layers, in GDAL's order.
  // Every file GDAL opens for a call (the source, its sidecars, SQLite's
  // journals) must be a regular file: any other is not read, and the call
  // fails naming it.
  bool (*layers)(const OpenRequest& req, std::vector<std::string>* names, Failure* failure);
  // The fields of one layer ("" the first), without their values, the
  // name of the GDAL driver that reads it ("PostgreSQL"), and the name of
  // its geometry column when the layer declares its geometries points (""
  // for none, or geometries of another type).
  bool (*fields)(const OpenRequest& req, const std::string& layer, std::vector<Field>* out,
                 std::string* driver, std::string* pointColumn, Failure* failure);
  // Reads one layer ("" the first); `filter` is an attribute filter in the
  // source's SQL ("" none). Reading stops at the first limit passed.
  bool (*read)(const OpenRequest& req, const std::string& layer, const std::string& filter,
               const Limits& limits, LayerData* out, Failure* failure);
  // Runs one statement in the source's SQL (a SELECT) and gives its answer
  // as fields, a value per row, without geometry (`fids` counts the rows).
  // The statement runs on the connection the reader opens, with its time
  // limits, and a cancel request (below) reaches it.
  bool (*query)(const OpenRequest& req, const std::string& sql, LayerData* out,
                Failure* failure);
  // Asks every database server to cancel the statement it runs for this
  // process (a PostgreSQL cancel request). Safe to call from a signal
  // handler, on any thread: no allocation, no lock.
  void (*cancelQueries)();
  // The version of the GDAL the module runs on ("3.6.2").
  const char* (*gdalVersion)();
};

}  // namespace qv::ogr

// The module's one entry point.
extern "C" const qv::ogr::Api* qortavlo_ogr_api();
