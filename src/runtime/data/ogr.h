// Sources read through GDAL/OGR: Shapefiles, GeoPackages, FlatGeobuf, GML,
// KML and dBase files, and databases named by a connection string.
//
// A layer with geometry gives the map rows of a GeoJSON file: ID, the
// attributes, SEGMENT, LONG, LAT (and ALT when some point has a third
// number), one row per vertex; a line part ends with a row whose LONG and
// LAT are missing; a point gives one row. ID is the layer's "id" (or "ID")
// attribute when it has one, else the feature id (FID); like a GeoJSON ID it
// is numeric when every value reads as a number. The attributes keep their
// GDAL types: integers and reals are numeric, dates, date-times and times
// numeric with the DATE9., DATETIME19. and TIME8. formats, the rest
// character. A layer without geometry is a plain table of its attributes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/data/connection.h"
#include "runtime/data/dsref.h"
#include "runtime/data/library.h"
#include "runtime/data/ogr_api.h"
#include "runtime/data/where.h"
#include "runtime/data/table.h"

namespace qv::rt {

// The version of GDAL ("3.6.2"), loading the GDAL reader as the first
// GDAL source would; "" with `error` set when the reader cannot be loaded.
std::string ogrVersion(std::string* error);

// The layer names of a source (a file, or a database for kind Database).
// UserError naming `what` and GDAL's reason when it cannot be opened.
std::vector<std::string> ogrLayerNames(const std::string& source, FileKind kind,
                                       const std::string& what);

// The condition in the database's SQL under which a database table's rows
// are read for the data set options (WHERE=), "" for every row. The
// database selects only where it gives the rows this side would select
// (WhereExpr::postgresCondition): a PostgreSQL table, a selection not
// under RENAME= (whose names it may use), FIRSTOBS= or OBS= (which count
// the rows before it), and columns that keep their names in the table (not
// those the map rows' columns stand for). The selection is still applied
// to the rows read.
std::string databaseCondition(const ResolvedFile& file, const DataSetOptions& options);

// A database table as the reader describes it: its fields, the GDAL driver
// ("PostgreSQL"), and its geometry column when its geometries are points
// ("" else). UserError naming the data set when it cannot be opened.
struct DatabaseTable {
  std::vector<ogr::Field> fields;
  std::string driver;
  std::string pointColumn;
};
DatabaseTable databaseTable(const ResolvedFile& file);

// The selection databaseCondition hands over, and whether it is the whole
// of WHERE= (SqlSelection::whole).
SqlSelection databaseSelection(const ResolvedFile& file, const DataSetOptions& options,
                               const DatabaseTable& table);

// The answer of a statement in the database's SQL, run as the table's rows
// are read (time limits, cancelling on a signal). UserError naming `what`
// and the database's reason when it fails.
ogr::LayerData databaseQuery(const ResolvedFile& file, const std::string& sql,
                             const std::string& what);

// Reads the layer `file.object` ("" the first) of `file.path`. `filter` is
// an attribute filter in the source's SQL ("" none). Every file GDAL opens
// for it must be a regular file; the table may take at most
// geo::kMaxTableBytes. `warn` receives the text of a WARNING (a coordinate
// system file that is not understood).
Table readOgrTable(const ResolvedFile& file, const std::string& filter, VarNameRule names,
                   const NoteFn& note, const NoteFn& warn);

}  // namespace qv::rt
