// The message catalog: every catalogued message the procedure and the
// runtime write, kept in one table sorted by (set, number).
//
// Set 854 is the procedure's own; 855 and 860 are data access and file
// output; 129 is the runtime's (parser start-up, memory, failed services).
// Where a caller passes a length and a text, it reaches the catalog as one
// text argument. Entries whose text is used as a value rather than logged
// (854/211, 854/218, 854/241) are NOTE entries without arguments.

#include <algorithm>
#include <iterator>

#include "runtime/log/log.h"

namespace qv::rt {

namespace {

constexpr Severity N = Severity::Note;
constexpr Severity W = Severity::Warning;
constexpr Severity E = Severity::Error;

constexpr CatalogEntry kCatalog[] = {
    {129, 1, E, "Out of memory: a request for working storage could not be met.", 0},
    {129, 2, E, "A runtime service failed with code {1}.", 1},
    {129, 54, E, "The statement parser could not be started.", 0},
    {129, 60, N,
     "The plot data {1} was aggregated in the database: {2} rows counted there, {3} cells "
     "returned.",
     3},
    {129, 61, N, "The plot data {1} is read row by row, not aggregated in the database: {2}.",
     2},

    // {1}: the option, e.g. COLORRESPONSE or Rotate=.
    {854, 6, E, "The variable for {1} must be numeric, not character.", 1},
    {854, 67, E, "DISCRETEOFFSET= must lie between -0.5 and 0.5.", 0},
    {854, 68, W,
     "The DATTRMAP= data set needs the variables ID and VALUE; no discrete "
     "attribute maps are made from it.",
     0},
    // Where a color is required gray takes its place; STYLEATTRS lists and
    // BACKCOLOR= leave it out.
    {854, 79, W,
     "{1} is not a color; gray (CX808080) is used where a color is required, "
     "and STYLEATTRS leaves it out.",
     1},
    {854, 80, W,
     "ATTRID={1} names no map of the DATTRMAP= data set; the plot is drawn "
     "without it.",
     1},
    // The group variable already uses another map instance in this step.
    {854, 81, W,
     "The group variable is already tied to a different attribute map in this "
     "step; ATTRID={1} is not applied to it.",
     1},
    {854, 94, W, "{1} is neither a format nor AUTO; this tip item is skipped.", 1},
    {854, 103, W,
     "The RATTRMAP= data set needs the variables ID and MIN; no range "
     "attribute maps are made from it.",
     0},
    {854, 110, W,
     "The attribute map column {1} must be numeric; the attribute is left out.", 1},
    {854, 111, W,
     "The value of {1} must lie between 0 and 1; the attribute is left out.", 1},
    {854, 114, W, "At most four GRADLEGEND statements are drawn; this one is ignored.", 0},
    // {1}: the position code (1 to 9) that another gradient legend holds.
    {854, 115, W,
     "The GRADLEGEND position {1} is already taken; the legend is placed "
     "elsewhere.",
     1},
    // {1}: the map ID, {2}: the observation.
    {854, 117, W,
     "A range of the RATTRMAP= data set has no MIN value (map {1}, observation "
     "{2}); its attribute map is dropped.",
     2},
    {854, 118, W,
     "A MIN value of the RATTRMAP= data set is neither a number nor _MIN_, "
     "_NEGMAX_ or _NEGMAXABS_ (map {1}, observation {2}); its attribute map is "
     "dropped.",
     2},
    {854, 119, W,
     "A MIN value of the RATTRMAP= data set holds characters that do not "
     "belong in a number (map {1}, observation {2}); its attribute map is "
     "dropped.",
     2},
    {854, 120, W,
     "A MAX value of the RATTRMAP= data set is neither a number nor _MAX_ or "
     "_MAXABS_ (map {1}, observation {2}); its attribute map is dropped.",
     2},
    {854, 121, W,
     "A MAX value of the RATTRMAP= data set is blank, missing or not a "
     "number (map {1}, observation {2}); its attribute map is dropped.",
     2},
    {854, 122, W,
     "RATTRID={1} names no map of the RATTRMAP= data set; the plot is drawn "
     "without it.",
     1},
    // The color-response variable already uses another range map instance.
    {854, 123, W,
     "The variable {1} is already tied to a different range attribute map in "
     "this step; RATTRID= is not applied to it.",
     1},
    {854, 125, W,
     "The RATTRMAP= data set has no MAX variable; the attribute map {1} is "
     "dropped.",
     1},
    // Data set item 159: the data set can only be read once, front to back.
    {854, 134, W,
     "The {1}= data set can only be read sequentially; no attribute maps are "
     "made from it.",
     1},
    {854, 200, E, "The {1} procedure cannot draw maps on this platform.", 1},
    {854, 201, E,
     "The PROC TAVLO statement needs at least one of MAPDATA=, MAPRESPDATA= "
     "and PLOTDATA=.",
     0},
    {854, 202, E, "A map needs a CHOROMAP, OPENSTREETMAP or ESRIMAP statement.", 0},
    {854, 203, E, "MAPRESPDATA= must name a different data set from MAPDATA=.", 0},
    {854, 206, E, "The MAPDATA= data set has no observations.", 0},
    {854, 207, N,
     "GRAPHFORMAT={1} is taken as PNG for maps; the kind of file written is set by "
     "OPTIONS OUTPUT= alone (OUTPUT=SVG writes SVG files, OUTPUT=PDF PDF files).",
     1},
    {854, 208, W,
     "Only one tile layer can be drawn; this OPENSTREETMAP statement is "
     "ignored.",
     0},
    {854, 209, W, "Only one tile layer can be drawn; this ESRIMAP statement is ignored.", 0},
    {854, 210, E, "The ESRIMAP statement needs URL=.", 0},
    // The default description of the graph (at most 32 characters).
    {854, 211, N, "Map drawn by the TAVLO procedure", 0},
    {854, 212, E, "The graph template could not be compiled.", 0},
    {854, 215, N, "The graph template was written to {1}.", 1},
    // The name of the map data object; region layers refer to it by this name.
    {854, 218, N, "__MAP__", 0},
    {854, 219, E, "The map identifier variable is not in the MAPDATA= data set.", 0},
    {854, 220, E,
     "The map identifier variable of the MAPDATA= data set could not be "
     "described.",
     0},
    // {1}: the variable number; {2}, {3}: library and member.
    {854, 221, E, "The SIZE= variable (number {1}) is not in the data set {2}.{3}.", 3},
    {854, 222, E,
     "The map identifier is character but the response identifier is "
     "numeric; both must be of one type.",
     0},
    {854, 223, E,
     "The map identifier is numeric but the response identifier is "
     "character; both must be of one type.",
     0},
    {854, 224, W,
     "DENSITY= needs a DENSITY variable in the map data; the map detail is "
     "chosen by RESOLUTION instead.",
     0},
    // Data set item 35: a WHERE selection is already in effect.
    {854, 225, W,
     "DENSITY= is ignored because the MAPDATA= data set is already "
     "selected with WHERE.",
     0},
    {854, 226, E,
     "The map renderer is not available: QOR_KDLG_CRENDER_PATH names no "
     "usable folder.",
     0},
    {854, 227, E,
     "The map data set {1}.{2} has no ID variable; name the region variable "
     "with MAPID=.",
     2},
    // {1}: the option; {2}: the variable; {3}, {4}: library and member.
    {854, 228, E, "The {1} variable {2} is not in the data set {3}.{4}.", 4},
    {854, 229, E,
     "Variable number {1} of the data set {2}.{3} could not be described.", 3},
    {854, 230, E, "The SIZE= variable {1} must be numeric, not character.", 1},
    {854, 231, E, "A tile layer needs a CHOROMAP statement or a plot statement.", 0},
    {854, 232, E,
     "The response identifier variable is not in the MAPRESPDATA= data set; "
     "name it with ID=.",
     0},
    {854, 233, E,
     "The response identifier variable of the MAPRESPDATA= data set could not "
     "be described.",
     0},
    {854, 234, W,
     "The CHOROMAP statement names no response variable; the data set {1}.{2} "
     "given as MAPRESPDATA= is not used.",
     2},
    {854, 235, W, "The step has no plot statement; the PLOTDATA= data set is not used.", 0},
    {854, 236, E, "The MAPRESPDATA= data set has no observations.", 0},
    {854, 237, E, "The PLOTDATA= data set has no observations.", 0},
    {854, 238, W, "The step has no CHOROMAP statement; the MAPDATA= data set is not used.", 0},
    {854, 239, E,
     "The MAPDATA= data set can only be read sequentially and cannot be used "
     "for a map.",
     0},
    {854, 240, E,
     "A SERIES statement cannot read a PLOTDATA= data set that can only be "
     "read sequentially.",
     0},
    // The default legend label of a region layer.
    {854, 241, N, "Regions", 0},
    // {1}, {2}: the longitude and latitude variables; {3}: the data set.
    {854, 242, N, "The map coordinates are read from {1} (longitude) and {2} (latitude) of {3}.",
     3},
    {854, 243, E,
     "The map data set needs a longitude variable (LONG, LON, LONGITUDE or X) "
     "and a latitude variable (LAT, LATITUDE or Y).",
     0},
    {854, 244, W,
     "COLORMODEL= lists fewer colors than there are classes; a color ramp is "
     "used instead.",
     0},
    {854, 245, E, "The {1}= text could not be prepared for the template.", 1},
    {854, 246, W,
     "{1}= applies only to a numeric response that is not DISCRETE; it is "
     "ignored.",
     1},
    // {1}: the classes asked for; {2}: the distinct values.
    {854, 247, N,
     "{1} classes were asked for, but the response has only {2} distinct values; {2} "
     "classes are made, one for each value.",
     2},
    // {1}: the count; {2}: the response; {3}, {4}: the first and last break.
    {854, 248, N,
     "{1} values of {2} lie outside BREAKS= ({3} to {4}); each is drawn in the nearest "
     "class.",
     4},
    // {1}: the break; {2}: the break before it.
    {854, 249, E, "BREAKS= must list ascending numbers, but {1} follows {2}.", 2},
    // {1}: the symbol as written; {2}: the statement (SCATTER, SERIES).
    {854, 250, W,
     "The marker symbol \"{1}\" of {2} is not a single word; it is left out.", 2},
    {854, 251, E, "BREAKS= needs at least two numbers: the bounds of one class.", 0},
    // {1}: the data set; {2}: the response; {3}: the count; {4}: the first regions.
    {854, 252, W,
     "Regions of {1} whose rows disagree in {2} ({3} in all): {4}. Each is classified by "
     "the value of its first row.",
     4},
    // {1}: COLORMODEL, DATACOLORS or DATACONTRASTCOLORS.
    {854, 253, W, "{1}= and PALETTE= are both given; the colors of {1}= are used.", 1},
    // {1}: the name as written; {2}: the families and their names.
    {854, 254, W,
     "PALETTE={1} is not a known palette; the default colors are used. The palettes are "
     "{2}; _R at the end of a name reverses it.",
     2},
    // After 854/222 or 854/223 when the character identifiers are digits
    // with leading zeros. {1}: the numeric side's column as the file names
    // it; {2}: its data set; {3}: the sidecar file; {4}: a code, e.g. 01001.
    {854, 255, N,
     "The character identifiers look like codes with leading zeros ({4}); the "
     "column {1} of {2} was read as numbers, which drops them. To keep the zeros, "
     "list it in the schema sidecar {3} as a field with \"name\": \"{1}\", "
     "\"type\": \"string\".",
     4},
    // {1}: the statement.
    {854, 256, W,
     "PALETTE= colors a numeric color response, and this {1} statement has none; it is "
     "ignored. Groups take their colors from STYLEATTRS PALETTE=.",
     1},
    // {1}: LEVELTYPE or NUMLEVELS.
    {854, 257, W, "{1}= is ignored: BREAKS= gives the classes.", 1},
    // {1}: the name; {2}: the statement that repeats it.
    {854, 260, W,
     "NAME={1} of this {2} statement is already the name of an earlier plot; the {2} "
     "plot is drawn, and legends that name {1} refer to the earlier plot.",
     2},
    {854, 261, W, "The step has no CHOROMAP statement; the MAPRESPDATA= data set is not used.",
     0},
    // {1}, {2}: library and member of a CHOROMAP statement's own MAPDATA=.
    {854, 262, E, "The MAPDATA= data set {1}.{2} of a CHOROMAP statement has no observations.",
     2},
    {854, 263, W,
     "FILLATTRS= fills the regions of a CHOROMAP statement that has a MAPDATA= of its own "
     "and no response variable; it is ignored here.",
     0},
    {854, 264, W,
     "MAPCS= of a CHOROMAP statement names the coordinate system of its own MAPDATA=; "
     "without one it is ignored.",
     0},
    {854, 265, W,
     "ID= is ignored: a CHOROMAP statement with a MAPDATA= of its own reads its response "
     "from that data set.",
     0},
    {854, 266, W,
     "Every CHOROMAP statement has a MAPDATA= of its own; the MAPRESPDATA= data set is "
     "not used.",
     0},
    {854, 267, W,
     "Every CHOROMAP statement has a MAPDATA= of its own; the MAPDATA= data set of the "
     "PROC TAVLO statement is not used.",
     0},

    // Item 95 of PLOTDATA= answered 0: the data set is not open for reading.
    {855, 7, E, "The data set could not be opened for reading.", 0},
    // {1}: the file as TMPLOUT= names it.
    {860, 45, W, "The template file {1} could not be written.", 1},
};

constexpr bool before(const CatalogEntry& a, const CatalogEntry& b) {
  return a.set < b.set || (a.set == b.set && a.number < b.number);
}

constexpr bool strictlySorted() {
  for (size_t i = 1; i < std::size(kCatalog); ++i) {
    if (!before(kCatalog[i - 1], kCatalog[i])) return false;
  }
  return true;
}

static_assert(strictlySorted(), "catalog entries must be in (set, number) order, once each");

}  // namespace

const CatalogEntry* catalogBegin() { return std::begin(kCatalog); }

const CatalogEntry* catalogEnd() { return std::end(kCatalog); }

const CatalogEntry* findMessage(int set, int number) {
  CatalogEntry key{set, number, Severity::Note, nullptr, 0};
  const CatalogEntry* it = std::lower_bound(catalogBegin(), catalogEnd(), key, before);
  if (it == catalogEnd() || it->set != set || it->number != number) return nullptr;
  return it;
}

}  // namespace qv::rt
