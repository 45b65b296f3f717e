// The plot statement translator: one SCATTER, BUBBLE, SERIES, TEXT, CHOROMAP,
// OPENSTREETMAP or ESRIMAP statement becomes one template statement.
#pragma once

#include <string>
#include <string_view>

#include "module/host/statements.h"
#include "module/step/step.h"

namespace qv::module {

// Appends the statement's template text to `out`. `primary` non-zero marks
// the plot primary. 0 on success; 1012 after 854/221, 230 or 227; 1 after
// 854/67 or 6 (and from processVariable); otherwise the failing service's
// status. Text written before a failure stays in the stream.
host::Status parsePlot(const host::Statement& node, PlotContext* plot, host::Stream* out,
                       int primary);

// Writes one option that refers to a variable of plot->varData and
// registers the variable as a column of that data set's data object.
// The variable is looked up by `name` when it is not empty, else by
// `number` (from 0). `option` " " registers without writing anything.
// 1 after 854/228 (name not found), 854/229 (number
// not described) or 854/6 (a character variable for an option containing
// "Rotate"); a failed write or host service gives its status.
host::Status processVariable(host::Stream* out, std::string_view option, std::string_view name,
                             int number, PlotContext* plot);

// Restricts the map data to one level of detail: by its DENSITY variable
// when `density` is 0 or more, else by its RESOLUTION variable and the
// graph size. Never fails; see 854/224 and 854/225.
void setResolution(PlotContext* plot, int density);
// The same for the map data `map`; the selection goes on `resp` too when it
// is another view of the same data set.
void setResolution(host::DataSet* map, host::DataSet* resp, int density);

// Replaces *name (a statement keyword) by its default plot name: the
// keyword the first time, then the keyword followed by 1, 2, ... (at most
// 100 characters).
host::Status defaultName(std::string* name, PlotContext* plot);

// Library and member name of a data set ("" for none).
void getDSinfo(host::DataSet* ds, std::string* library, std::string* member);

// Whether `name` is a coordinate variable (LAT, LATITUDE, LONG, LON or
// LONGITUDE in any case). Such a variable cannot name the map's regions;
// ID names them instead.
bool isCoordinateName(std::string_view name);

// Whether `node` is a CHOROMAP statement with a MAPDATA= of its own: a
// further region layer drawn from that data set.
bool ownsMapData(const host::Statement& node);

}  // namespace qv::module
