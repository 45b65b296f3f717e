// Working state of one parsePlot call and the helpers its parts share.
#pragma once

#include <string>
#include <string_view>

#include "common/ascii.h"
#include "module/grammar/grammar.h"
#include "module/host/statements.h"
#include "module/step/step.h"

namespace qv::module::plots {

// Plot classes as ints: they choose the attribute option names (the
// grammar's statement table gives each statement's).
inline constexpr int kMapLayer = static_cast<int>(PlotClass::None);
inline constexpr int kPoint = static_cast<int>(PlotClass::Point);
inline constexpr int kLine = static_cast<int>(PlotClass::Line);
inline constexpr int kArea = static_cast<int>(PlotClass::Area);

enum class Kind { Scatter, Series, Bubble, Choromap, StreetMap, ImageMap, Text, Unknown };

struct PlotCall {
  const host::Statement& node;
  PlotContext* plot;
  host::Stream* out;

  Kind kind = Kind::Unknown;
  int plotClass = kMapLayer;
  bool region = false;     // CHOROMAP
  bool mapLayer = false;   // OPENSTREETMAP, ESRIMAP
  bool grouped = false;    // a group or color-group reference was written
  bool continuous = false; // a continuous color response was written
  int32_t classes = 0;     // the classes a CHOROMAP response was divided into
  std::string keyword;     // statement keyword, trailing blanks removed, at most 32
  std::string attrId;      // ATTRID= when DATTRMAP= is usable, else ""
  std::string rattrId;     // RATTRID= when RATTRMAP= is usable, else ""
  std::string defaultLabel;  // label (or name) of the TEXT= variable
  bool hasDefaultLabel = false;

  host::Status st = host::kOk;  // first failed write; later writes are skipped

  PlotCall(const host::Statement& n, PlotContext* p, host::Stream* o)
      : node(n), plot(p), out(o) {}

  const host::Slot& slot(Opt o) const { return node.slot(o); }
  bool has(Opt o) const { return node.slot(o).present(); }
  bool flag(int n) const { return plotFlag(*plot, n); }

  void w(std::string_view text) {
    if (st == host::kOk && !text.empty()) st = out->write(text);
  }
  void number(double v);       // "%g"
  void unit(int code);         // "px", "in", ...; nothing for 0 or out of range
  void numberUnit(const host::Slot& s) { number(s.number); unit(s.unit); }
  void color(const host::Slot& s);  // 8-character color text
  void graphData();            // "GraphData" and the counter

  // Whether cycling defaults apply: cycling on, a data plot, no group yet.
  bool defaults() const {
    return plot->cycleAttrs && !region && !mapLayer && plot->groupVarNumber == 0;
  }
};

// "%g" text of a number.
std::string gText(double v);

// Describes the variable of a slot in data set `ds`: by number when the slot
// was resolved in `ds`, else by name. 1 after 854/228 or 854/229 naming
// `option`.
host::Status describeVar(host::DataSet* ds, const host::Slot& s, std::string_view option,
                         host::VarDesc* out);

// processVariable for the variable of a slot (by number when it was
// resolved in the current variable data set, else by name).
host::Status slotVariable(PlotCall& c, std::string_view option, const host::Slot& s);

// Map instance name of ATTRID= (discrete) or RATTRID= (range) for the
// variable `var`, or "" when there is none: the id is looked up in the
// plot context's id table (854/80 or 854/122 when absent) and the variable
// must not be bound to another instance in the usage table (854/81 or
// 854/123 naming `who`).
std::string attrMapInstance(PlotCall& c, bool range, std::string_view var);
// Records the binding of `var` to `instance` in the usage table.
host::Status bindAttrMap(PlotCall& c, bool range, std::string_view var,
                         std::string_view instance);
// The "__ATTRVAR%d__" name of a variable (reused, or newly numbered).
host::Status attrVarName(PlotCall& c, std::string_view var, std::string* name);
// Keeps the label (or name) of a grouping variable as the legend title
// when none is kept yet.
host::Status keepLegendTitle(PlotCall& c, const host::VarDesc& d);
// Writes a group reference `option` (" Group=" or " colorGroup=") for the
// variable of slot `v` described by `d`: the column itself, or, through a
// discrete attribute map or under BY groups, a map instance or generated
// attribute variable. Marks the plot grouped and keeps the legend title.
host::Status groupReference(PlotCall& c, const host::Slot& v, const host::VarDesc& d,
                            std::string_view option);
// Template name of a DATALABELPOS= code (2 to 10); null for another code.
const char* labelPositionName(int code);
// Interns a text; kHostFailure when the host cannot make it.
host::Status intern(std::string_view text, const host::HStr** out);

// Parts of the statement, in the order they are written.
host::Status writeRegionBlock(PlotCall& c);      // CHOROMAP: data, keys, response
host::Status writeAttributeBlocks(PlotCall& c);  // markers ... fill
host::Status writeTail(PlotCall& c);             // BUBBLE radii and TEXT layout options
// SPLITCHAR=, SPLITCHARNODROP and SPLITJUSTIFY= of TEXT.
host::Status writeSplitOptions(PlotCall& c);

}  // namespace qv::module::plots
