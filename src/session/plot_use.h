// What a step's statements ask of its plot data, read from their words
// before any data set is opened: whether its points may be read as cells
// counted in the database (runtime/data/aggregate.h), which needs a step
// whose one plot is a SCATTER that takes nothing of single rows.
#pragma once

#include <string>

#include "runtime/program/program.h"

namespace qv::rt {

struct PlotDataUse {
  bool countable = false;  // one plot statement, a SCATTER without per-row options
  // Why the points cannot be counted (a clause: "its SCATTER has TIP="),
  // "" when they can, or the step has no plot at all.
  std::string why;
  std::string x, y, group;  // X=, Y=, GROUP= of the SCATTER
  bool tiles = false;       // a map tile statement (the map is Web Mercator under AUTO)
  bool plotCs = false;      // PLOTCS= gives the data's own coordinate system
};

PlotDataUse plotDataUse(const Step& step);

}  // namespace qv::rt
