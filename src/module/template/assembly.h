// Template assembly: the translators write into streams of their own while
// the statements are processed; at the end the streams are joined, in a
// fixed order and inside a fixed frame, into the main stream.
#pragma once

#include <string_view>

#include "module/host/statements.h"
#include "module/step/step.h"

namespace qv::module {

// The template streams, in the order the driver makes them.
enum TemplateStream : int {
  kMainStream,
  kPlotsStream,
  kAttrMapStream,
  kCategorizationStream,
  kKeyLegendStream,
  kInnerLegendStream,  // made and released, never written or copied
  kGradLegendStream,
  kTitlesStream,
  kFootnotesStream,
  kTemplateStreamCount
};

// The name the template is defined and compiled under.
inline constexpr std::string_view kTemplateName = "tavlo";

// What the assembly reads besides the streams.
struct AssemblyInput {
  host::Stream* streams[kTemplateStreamCount] = {};
  const host::StatementList* statements = nullptr;  // PROC first; STYLEATTRS read from it
  bool byGroups = false;                            // BY groups are in effect
  const host::AssocArray* byTexts = nullptr;        // dynamic title texts (BY only)
};

// The automatic legend, for a step without KEYLEGEND and GRADLEGEND
// statements: a discrete legend from the plot-name table into `keyLegends`
// and a continuous legend from the first entry of the continuous-legend
// table into `gradLegends`.
host::Status writeAutoLegend(const PlotContext& plot, host::Stream* keyLegends,
                             host::Stream* gradLegends);

// The begingraph options of one STYLEATTRS statement. A color that is not
// a color is left out of its list (854/79 names it); the list still closes.
host::Status writeStyleAttrs(const host::Statement& node, host::Stream* out);

// Joins the streams into the main stream. Every stream must be closed; the
// main stream is empty and is left closed with the whole template in it.
// A failed read or write ends with the service's code; no memory for the
// copy buffer with 1016 after the host's memory message.
host::Status assembleTemplate(const AssemblyInput& in);

}  // namespace qv::module
