// Points counted in the database: the plot data of a SCATTER that needs
// nothing of single rows, read from a PostgreSQL table as the cells of a
// grid over the points, one row per occupied cell (and BY and GROUP=
// value) with the count of its points, instead of every row.
//
// Two queries, each one plain aggregate that a distributed PostgreSQL runs
// on its shards and adds up: first the points (rows with coordinates) and
// their extent,
//
//   SELECT count(*) AS n, min(x) AS x0, max(x) AS x1, min(y) AS y0,
//     max(y) AS y1 FROM "points" WHERE (<WHERE= as SQL>) AND <valid>
//
// then the cells, `width` x `height` of them over that extent (a cell is no
// more than a pixel of a map showing the points), each drawn at the mean
// of its points (their sums divided by their count here),
//
//   SELECT "state" AS k0, count(*) AS n, sum(x) AS x, sum(y) AS y
//   FROM "points" WHERE (<WHERE= as SQL>) AND <valid>
//   GROUP BY "state", (floor((x - x0) * kx) * height + floor((y - y0) * ky))::int8
//   ORDER BY ...
//
// where x and y are the columns X= and Y= name (or ST_X and ST_Y of a
// point geometry, for its LONG and LAT), and <valid> leaves out missing,
// NaN and infinite coordinates. WHERE= reaches the database through
// WhereExpr::postgresCondition and must be handed over whole.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "module/host/host.h"
#include "runtime/data/dsref.h"
#include "runtime/data/library.h"
#include "runtime/data/table.h"

namespace qv::rt {

struct AggregateRequest {
  std::string x, y;                  // the SCATTER's X= and Y=
  std::vector<host::ByVariable> by;  // the step's BY variables
  std::string group;                 // GROUP= ("" none)
  bool always = false;               // ALWAYS: whatever the table's size
  uint64_t pixels = 0;               // AUTO counts the points of a table of more rows
  int width = 1, height = 1;         // the map's pixels across and down
  // Latitudes are binned as Web Mercator stretches them (a map under tiles).
  bool mercator = false;
  // MAPEXTENT=, the box the map shows (lonmin latmin lonmax latmax); empty
  // when the map fits the data.
  std::vector<double> window;
  // Receives each statement sent (DEBUG=SQL); unset: none.
  std::function<void(const std::string&)> debug;
};

struct Aggregated {
  std::shared_ptr<const Table> table;  // one row per cell, Table::rowCounts set
  uint64_t rows = 0;                   // the rows the database counted
};

// Reads the plot data `file` as cells counted in the database. Nothing
// (and *whyNot empty) when the data set is no PostgreSQL table, or AUTO
// found no more rows than pixels: its rows are then read as always.
// Nothing with *whyNot set (a clause: "WHERE= cannot be handed to the
// database whole") when it cannot be counted there. UserError naming the
// data set (library and member) and the database's reason when a query
// fails: never a quiet fall-back to reading every row.
std::optional<Aggregated> aggregateInDatabase(const ResolvedFile& file,
                                              const DataSetOptions& options,
                                              const AggregateRequest& req, std::string* whyNot);

}  // namespace qv::rt
