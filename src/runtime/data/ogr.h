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

#include "runtime/data/library.h"
#include "runtime/data/table.h"

namespace qv::rt {

// Whether a library's place is a GDAL connection string ("PG:dbname=gis",
// "postgresql://...": a scheme of two or more letters and a colon) rather
// than a folder.
bool isConnectionString(std::string_view place);

// The text with the values of password=... (and the password of a
// user:password@ address) shown as "***", for messages and the log.
std::string hidePasswords(std::string_view text);

// The layer names of a source (a file, or a database for kind Database).
// UserError naming `what` and GDAL's reason when it cannot be opened.
std::vector<std::string> ogrLayerNames(const std::string& source, FileKind kind,
                                       const std::string& what);

// The condition in the database's SQL under which a database layer's rows
// are read for the WHERE selection `where` ("" for every row): see
// WhereExpr::sqlCondition. Columns that stand for the map rows' ID are not
// handed over.
std::string databaseCondition(const ResolvedFile& file, const std::string& where);

// Reads the layer `file.object` ("" the first) of `file.path`. `filter` is
// an attribute filter in the source's SQL ("" none). Every file GDAL opens
// for it must be a regular file; the table may take at most
// geo::kMaxTableBytes. `warn` receives the text of a WARNING (a coordinate
// system file that is not understood).
Table readOgrTable(const ResolvedFile& file, const std::string& filter, VarNameRule names,
                   const NoteFn& note, const NoteFn& warn);

}  // namespace qv::rt
