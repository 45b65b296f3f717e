// Reader of GeoJSON files as map data: one row per vertex with ID, the
// feature's properties, SEGMENT, LONG and LAT.
//
// A FeatureCollection, a single Feature or a bare geometry is read. ID is the
// feature's "id", else its "id" (or "ID") property. SEGMENT numbers the rings
// and parts of a feature from 1 (a polygon's holes follow its outer ring; a
// MultiPoint's points are parts); a GeometryCollection's members go on with
// the numbering. A Point gives one row. Each LineString, and each part of a
// MultiLineString, ends with one more row of its segment whose LONG and LAT
// are missing, so that a line plot breaks between parts. Properties become columns in the
// order they first appear; a column is numeric when every value present is a
// number (a JSON number, or a text that reads as one under the CSV rule),
// else character. A position's third number (elevation or depth) becomes
// the numeric column ALT, missing where a position has two; the column is
// there only when some position has a third number.
//
// Malformed input (invalid JSON, wrong types, a ring of fewer than 4
// positions, a LineString of one, an unknown geometry type) gives one
// UserError naming the file and the place: the byte offset with line and
// column for invalid JSON, else the JSON path of the value, like
// features[12].geometry.coordinates[0].
#pragma once

#include <string>
#include <string_view>

#include "runtime/data/table.h"

namespace qv::rt {

// Reads GeoJSON text; `file` names it in messages.
Table parseGeoJson(std::string_view text, const std::string& file, VarNameRule names,
                   const NoteFn& note);

// Reads GeoJSON or TopoJSON text, as its "type" says ("Topology" is
// TopoJSON); `object` picks the topology's object ("" the first). With
// `records`, a text that is a JSON list is read as a list of records, one
// row per object (see records.cpp).
Table parseGeoData(std::string_view text, const std::string& file, const std::string& object,
                   VarNameRule names, const NoteFn& note, bool records = false);

// Reads a file with parseGeoData.
Table readGeoDataFile(const std::string& path, const std::string& object, VarNameRule names,
                      const NoteFn& note, bool records = false);

}  // namespace qv::rt
