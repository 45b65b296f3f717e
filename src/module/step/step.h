// The state of one step that the driver hands by address to every statement
// translator. It sits below the translators: classify, attrmaps, legends,
// plots and template include it; it includes only the host interface.
//
// Three parts: what the driver decided before the statements are translated
// (read by the translators, written only by the driver), the step's lookup
// tables (made by the driver, filled by the translators), and what the
// translators leave for the later ones and for the end of the step.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "module/host/host.h"
#include "module/host/owned.h"
#include "module/host/statements.h"

namespace qv::module {

// A CHOROMAP statement with a MAPDATA= of its own: a further region layer,
// drawn from that data set alone (its regions and its response), under
// names of its own that carry its number (2, 3, ... in statement order):
// its data object, its coordinate system and its classification.
struct RegionLayerData {
  const host::Statement* node = nullptr;
  int32_t number = 0;
  host::DataSet* data = nullptr;
  host::DataObject* object = nullptr;
  host::List* columns = nullptr;
  const host::HStr* mapCs = nullptr;  // its MAPCS= escaped, or null
};

// What the driver sets up before the statement loop.
struct StepInputs {
  // Input data sets; null when absent or not used by this step.
  host::DataSet* plotData = nullptr;
  host::DataSet* mapData = nullptr;
  host::DataSet* respData = nullptr;

  // Columns of each data set the template refers to, and its data object.
  // The driver makes the plot list and one of the response or map lists.
  host::List* plotColumns = nullptr;
  host::List* respColumns = nullptr;
  host::List* mapColumns = nullptr;
  host::DataObject* plotDataObject = nullptr;
  host::DataObject* mapDataObject = nullptr;
  host::DataObject* respDataObject = nullptr;

  std::vector<RegionLayerData> regionLayers;  // in statement order

  host::Stream* categorization = nullptr;  // receives the generated range map
  host::Object* manager = nullptr;  // the host's graph manager

  bool byFlag = false;          // BY groups are in effect
  bool cycleAttrs = false;      // cycle data attributes across plots
  int32_t graphDataCounter = 0;  // next GraphData style element
  bool dAttrMapUsable = false;  // DATTRMAP= can be read for attribute maps
  bool rAttrMapUsable = false;  // RATTRMAP= likewise
};

// The lookup tables, made empty by the driver. Values are host strings
// unless said otherwise; variable names are keys in capital letters.
struct StepTables {
  host::AssocArray* plotNames = nullptr;      // plot name -> "<Group>" / "<Empty>"
  host::AssocArray* contLegends = nullptr;    // plot name -> response label
  host::AssocArray* defaultNames = nullptr;   // keyword -> default names given so far (count)
  host::AssocArray* dAttrMapIds = nullptr;    // map IDs of the DATTRMAP= data set
  host::AssocArray* rAttrMapIds = nullptr;    // map IDs of the RATTRMAP= data set
  host::AssocArray* dAttrMapUsage = nullptr;  // group variable -> discrete map instance
  host::AssocArray* rAttrMapUsage = nullptr;  // response variable -> range map instance
  host::AssocArray* attrVars = nullptr;       // variable -> its "__ATTRVAR%d__" name
  host::AssocArray* valueLists = nullptr;     // variable -> its values across BY groups
  // Names in plotNames and contLegends, in capital letters: a name is
  // checked against them in constant time, however many plots there are.
  std::unordered_set<std::string> namesTaken;
};

// What the translators leave behind for later statements and the end of the
// step.
struct TranslatorState {
  // Header words of the statement being translated: a copy of its flag bits
  // (flag n is bit 0x80 >> (n % 8) of byte n / 8, as in the statement
  // nodes), with host::kFlagAnyNames added when any variable names are
  // allowed (name literals are then written).
  uint64_t header[4] = {0, 0, 0, 0};

  // The region layer of its own data the current statement draws (null
  // for any other statement).
  const RegionLayerData* regionLayer = nullptr;
  host::DataSet* varData = nullptr;   // data set the current statement's variables live in
  host::List* varColumns = nullptr;   // its column list
  int32_t groupVarNumber = 0;         // group variable's number plus one; 0 until grouped
  const host::HStr* groupVarName = nullptr;
  int32_t responseVarNumber = 0;      // host number (from 0) of the numeric CHOROMAP response
  const host::HStr* responseName = nullptr;
  const host::HStr* responseLabel = nullptr;
  const host::HStr* legendTitle = nullptr;  // label (or name) of the first group/response
  int32_t numLevels = 0;                     // NUMLEVELS=, then the classes made
  int32_t levelType = 0;                     // LEVELTYPE= code, 0 when not given
  const host::HStr* colorModelName = nullptr;
  host::Held<host::List> colorModelList;    // host strings of 8-character color texts
  const host::HStr* paletteName = nullptr;  // PALETTE= that colors the classes
  std::vector<double> breaks;               // BREAKS= of the current CHOROMAP
  // Where the classes are read from: a region layer's own data set with
  // one value per region (the first row of each region of the variable
  // classRegionVar), or, while classData is null, every observation of the
  // response data.
  host::DataSet* classData = nullptr;
  int32_t classRegionVar = -1;
  int32_t attrVarCounter = 0;

  // BY groups and attribute maps: made by process_bygroup.
  host::Held<host::AssocArray> missingTexts;  // variable -> formatted missing value
  std::vector<host::Held<host::List>> valueListObjects;  // the lists valueLists names
};

// The step record the translators receive.
struct PlotContext : StepInputs, StepTables, TranslatorState {};

// The region layer of its own data that `node` draws, or null.
const RegionLayerData* regionLayerOf(const PlotContext& plot, const host::Statement& node);

// Header flag bits of the copy.
bool plotFlag(const PlotContext& plot, int n);
void setPlotFlag(PlotContext& plot, int n);

}  // namespace qv::module
