// The step driver's pieces that stand on their own: the prescan of the
// statement list and the translators the statement loop calls.
#pragma once

#include <vector>

#include <string_view>

#include "module/host/statements.h"
#include "module/step/step.h"

namespace qv::module {

// Class of the host's graph manager object. Its argument is "1" when every
// input data set can be read more than once, "0" when one can be read only
// front to back.
inline constexpr std::string_view kManagerNamespace = "kdl";
inline constexpr std::string_view kManagerClass = "graph_manager";

// At most this many GRADLEGEND statements are drawn.
inline constexpr int kMaxGradLegends = 4;

// What the prescan learns about the statements of a step.
struct Prescan {
  // The CHOROMAP statement that decides map identifier and response: the
  // first one, replaced by any later one that names a response variable.
  // A CHOROMAP statement with a MAPDATA= of its own is a further region
  // layer and is never the one chosen.
  const host::Statement* choromap = nullptr;
  bool mapMark = false;    // a CHOROMAP statement
  // The CHOROMAP statements with a MAPDATA= of their own, in order.
  std::vector<host::Statement*> regionLayers;
  bool plotMark = false;   // a SCATTER, BUBBLE, SERIES or TEXT statement
  bool textMark = false;   // a TEXT statement
  int tileMark = 0;        // 2 OPENSTREETMAP, 4 ESRIMAP (or-ed)
  bool autoLegend = true;  // no KEYLEGEND or GRADLEGEND statement
  int keyLegends = 0;
  int gradLegends = 0;      // the ones that are drawn (at most four)
  bool positions[10] = {};  // legend positions taken, by compass code 1 to 9
};

// Scans the statements after the PROC statement in written order. Gives
// every drawn GRADLEGEND a position and stores it in the statement's
// POSITION= slot as if the user had written it; warns (854/114) about
// GRADLEGEND statements beyond the fourth and (854/115) about a position
// that another gradient legend holds.
void prescanStatements(host::StatementList& list, Prescan* out);

// The translators the statement loop hands statements to. Tests may put
// their own in place; `stepTranslators() = StepTranslators{}` restores them.
struct StepTranslators {
  host::Status (*plot)(const host::Statement&, PlotContext*, host::Stream*, int);
  host::Status (*legend)(const host::Statement&, PlotContext*, host::Stream*, int, int);
  host::Status (*gradLegend)(const host::Statement&, PlotContext*, host::Stream*, int, int);
  StepTranslators();
};
StepTranslators& stepTranslators();

}  // namespace qv::module
