#include "module/step/step.h"

#include <algorithm>

#include "module/host/statements.h"

namespace qv::module {

// The copy keeps the statement nodes' bit layout, so the node's own flag
// routines read and write it.
bool plotFlag(const PlotContext& plot, int n) {
  host::Statement s;
  std::copy(std::begin(plot.header), std::end(plot.header), s.header);
  return s.flag(n);
}

const RegionLayerData* regionLayerOf(const PlotContext& plot, const host::Statement& node) {
  for (const RegionLayerData& l : plot.regionLayers)
    if (l.node == &node) return &l;
  return nullptr;
}

void setPlotFlag(PlotContext& plot, int n) {
  host::Statement s;
  std::copy(std::begin(plot.header), std::end(plot.header), s.header);
  s.setFlag(n);
  std::copy(std::begin(s.header), std::end(s.header), plot.header);
}

}  // namespace qv::module
