// Reader of TopoJSON files as map data, with the same rows as GeoJSON (see
// geojson.h): one row per vertex with ID, the properties, SEGMENT, LONG, LAT.
//
// A topology's object is read: a GeometryCollection object gives one feature
// per member (a member that is itself a collection is one feature whose
// geometries are its parts). Arcs are decoded: with a "transform" their
// positions are delta-encoded integers scaled and translated, and the
// results are rounded to 6 decimals (more when the quantization is finer, so
// that distinct positions stay distinct); without one they are taken as
// written. A negative arc index i means arc ~i reversed. Lines and rings are
// joined as arcs meet (the first position of each later arc stands for the
// last of the one before); a line of one position is padded to 2 and a ring
// of fewer than 4 to 4 by repeating its first position. As in GeoJSON, each
// line part ends with a row whose LONG and LAT are missing.
//
// Malformed input (invalid JSON, wrong types, an arc index out of range, an
// unknown geometry type, a missing object) gives one UserError naming the
// file and the place (byte offset or JSON path like
// objects.states.geometries[3].arcs[0][1]).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "runtime/data/table.h"

namespace qv::rt {

// Reads object `object` ("" for the first) of a topology.
Table parseTopoJson(std::string_view text, const std::string& file, const std::string& object,
                    VarNameRule names, const NoteFn& note);

// The names of a topology's objects in file order; empty when the text is
// not a topology (or not JSON). Quick: nothing else is decoded.
std::vector<std::string> topoJsonObjectNames(std::string_view text);
// The same for a file; empty as well when it cannot be read.
std::vector<std::string> topoJsonObjectNamesOfFile(const std::string& path);

}  // namespace qv::rt
