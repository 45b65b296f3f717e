// The plot context: one record per step, zeroed at the start of the step and
// handed by address to every statement translator. The driver fills the
// fields of the first block, in this order; the translators own the rest.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "module/host/host.h"

namespace qv::module {

struct PlotContext {
  // Header words of the statement being translated: a copy of its flag bits
  // (see header flags below), with flag 55 added when any variable names
  // are allowed (name literals are then written).
  uint64_t header[4] = {0, 0, 0, 0};

  // Lookup tables, created empty by the driver.
  host::AssocArray* plotNames = nullptr;      // plot name -> "<Group>" / "<Empty>"
  host::AssocArray* contLegends = nullptr;    // plot name -> response label
  host::AssocArray* defaultNames = nullptr;   // keyword -> default names given so far
  host::AssocArray* dAttrMapIds = nullptr;    // map IDs of the DATTRMAP= data set
  host::AssocArray* rAttrMapIds = nullptr;    // map IDs of the RATTRMAP= data set
  host::AssocArray* dAttrMapUsage = nullptr;  // group variable -> discrete map instance
  host::AssocArray* rAttrMapUsage = nullptr;  // response variable -> range map instance
  host::AssocArray* attrVars = nullptr;       // variable -> generated attribute variable
  host::AssocArray* attrVarList = nullptr;    // generated attribute variable -> variable
  host::AssocArray* valueLists = nullptr;     // variable -> its values across BY groups
  host::AssocArray* columnTypes = nullptr;    // X and Y columns -> type code

  host::Object* stringManager = nullptr;

  int32_t byFlag = 0;            // BY groups are in effect
  int32_t cycleAttrs = 0;        // cycle data attributes across plots
  int32_t graphDataCounter = 0;  // next GraphData style element

  host::Object* manager = nullptr;  // the host's graph manager

  int32_t dAttrMapUsable = 0;  // DATTRMAP= can be read for attribute maps
  int32_t rAttrMapUsable = 0;  // RATTRMAP= likewise

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

  host::Stream* categorization = nullptr;  // receives the generated range map

  // --- Owned by the translators --------------------------------------------
  host::DataSet* varData = nullptr;   // data set the current statement's variables live in
  host::List* varColumns = nullptr;   // its column list
  int32_t groupVarNumber = 0;         // 0 until a plot is grouped
  int32_t groupVarType = 0;
  const host::HStr* groupVarName = nullptr;
  int32_t responseVarNumber = 0;
  const host::HStr* responseName = nullptr;
  const host::HStr* responseLabel = nullptr;
  const host::HStr* legendTitle = nullptr;  // label (or name) of the first group/response
  int32_t numLevels = 0;                     // NUMLEVELS=, then the classes made
  int32_t levelType = 0;                     // LEVELTYPE= code, 0 when not given
  const host::HStr* colorModelName = nullptr;
  host::List* colorModelList = nullptr;      // made by the translators, released by the driver
  int32_t attrVarCounter = 0;
  const host::HStr* missingText = nullptr;  // formatted missing value of an attribute variable

  // --- Plot statements (plots/) ---------------------------------------------
  // Conventions of the fields above as the plot translator fills them:
  // groupVarNumber is the group variable's number plus one (0: no grouped
  // plot yet); responseVarNumber is the host number (from 0) of the numeric
  // CHOROMAP response in respData; colorModelList holds host strings of
  // 8-character color texts; the usage tables map a variable name in capital
  // letters to its map instance name, attrVars the same name to its
  // "__ATTRVAR%d__" name, attrVarList that name (or a map instance name) to
  // the group variable's name, plotNames "<Group>"/"<Empty>" and contLegends
  // the response label, all as host strings; defaultNames holds counts.
  //
  // Axis records: set by the first variable written for X= and for Y= in
  // the step. Type 0 not set, 22 plain, 24 date or time format, 25 discrete.
  int32_t xAxisType = 0;
  int32_t yAxisType = 0;
  // Names in plotNames and contLegends, in capital letters: a name is
  // checked against them in constant time, however many plots there are.
  std::unordered_set<std::string> namesTaken;
  const host::HStr* xAxisFormat = nullptr;  // format name of a type-24 axis
  const host::HStr* yAxisFormat = nullptr;
  int32_t xAxisInterval = 0;  // isDateTime class of that format
  int32_t yAxisInterval = 0;

  // --- BY groups and attribute maps (attrmaps) -------------------------------
  // Made by process_bygroup, released by releaseByGroupValues.
  host::List* groupValues = nullptr;     // distinct raw values of the group variable, all groups
  host::List* groupFormatted = nullptr;  // their formatted texts (variable with a format)
  const host::HStr* groupFormat = nullptr;  // the group variable's format name
  int32_t groupFormatWidth = 0;
  int32_t groupFormatDecimals = 0;
  host::AssocArray* missingTexts = nullptr;  // variable -> formatted missing value of its format
};

// Header flag bits of the copy (flag n is bit 0x80 >> (n % 8) of header
// byte n / 8, the same layout as the statement nodes).
bool plotFlag(const PlotContext& plot, int n);
void setPlotFlag(PlotContext& plot, int n);

}  // namespace qv::module
