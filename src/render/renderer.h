// The renderer: draws a compiled graph model with its data into an image.
//
// Layout: titles on top, footnotes at the bottom, the key legends below the
// map (or where their placement says), gradient legends where their position
// says, and the map in the rest, in the projection MAPPROJECTION= asks for
// (by default one chosen for where the data lie), fitted to what the layers
// draw (map regions, lines, markers and labels) with a margin, or to the
// box MAPEXTENT= gives.
// The tile layer is drawn first, then the graticule (furniture.h), the
// other layers in template order, one file per kind of mark
// (layer_*.cpp), the map furniture over them, then legends (legend.cpp)
// and titles (titles.cpp).
//
// Nothing the data holds makes drawing fail: a column a layer names that the
// data lacks, or a tile provider that cannot be reached, gives a warning and
// the rest is drawn.
#pragma once

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/error.h"
#include "common/global_options.h"
#include "render/geo/map_projection.h"
#include "render/graph/data.h"
#include "render/graph/model.h"
#include "render/marks/label_space.h"
#include "render/paint/canvas.h"
#include "render/tiles/tiles.h"

namespace qv::render {

class PdfPage;

// The data a program gave cannot be drawn at all (map data in a coordinate
// system PROJ cannot use): the step ends with this ERROR and no image.
class UnusableData : public qv::UserError {
 public:
  using qv::UserError::UserError;
};

// The kind of file a graph becomes, in the order of OUTPUT='s words. Png
// is an image of GRAPHDPI; Pdf and Svg are vector drawings; Html is an SVG
// drawing meant for a page (the host puts the maps of a step on one page,
// see html.h).
enum class OutputKind { Png, Svg, Pdf, Html };
static_assert(optionWord(GlobalOpt::Output, static_cast<int>(OutputKind::Png)) == "PNG" &&
              optionWord(GlobalOpt::Output, static_cast<int>(OutputKind::Html)) == "HTML");

// In HTML, a layer with more marks than this is drawn as one picture, with
// a map of its marks that finds the tip and link under the pointer (see
// mark_picture.h): a page of one element per mark grows by about 300 bytes
// a mark and loads slowly. Below it, and always in SVG, each mark is an
// element of its own.
inline constexpr size_t kPictureMarks = 20000;

// The kind the options ask for.
inline OutputKind outputKindOf(const OptionValues& options) {
  return static_cast<OutputKind>(std::max(0, options.choice(GlobalOpt::Output)));
}

// The output's pixels per layout pixel: GRAPHDPI= / 96 for a PNG, else 1.
double outputScale(const OptionValues& options);
// A side of GRAPHWIDTH= or GRAPHHEIGHT= in the output's pixels at `scale`
// (one more than an image may have when it is too long).
int outputSide(int side, double scale);

// The size scale of a BUBBLE plot: the radius in pixels of a SIZE value.
// When no value is negative a bubble's area is proportional to its value:
// the largest value takes the largest radius, a value v the radius
// largest radius x sqrt(v / largest value), and the smallest radius is only
// a floor that keeps small values visible. With negative values the size
// follows the absolute value, the area running linearly from the smallest
// radius at the smallest absolute value to the largest radius at the
// largest.
struct BubbleScale {
  bool proportional = true;  // no value is negative
  double low = 0, high = 0;  // the smallest and the largest absolute value
  double minRadius = 0, maxRadius = 0;  // pixels
  // 0 for a value that is not finite.
  double radius(double value) const;
};

// The size scales of a step's BUBBLE plots by the plot's place among the
// model's layers (none for another layer, or a plot without sizes).
using BubbleScales = std::vector<std::optional<BubbleScale>>;

// Everything one image is drawn from, besides the model.
struct RenderRequest {
  // The global options: the layout size in pixels at 96 per inch
  // (GRAPHWIDTH x GRAPHHEIGHT), the kind of file, the pixels per inch of a
  // PNG (the image is the layout scaled by GRAPHDPI/96; vector outputs keep
  // their size), the street-map tile URL, the projection, what becomes of
  // overlapping labels, the map furniture and MAPEXTENT=.
  OptionValues options;
  // The text of a number in a display format such as DOLLAR8.2 (TIPFORMAT=);
  // false when the format is not known (the value's own text is shown).
  // Unset: formats are not known.
  std::function<bool(std::string_view format, double value, std::string* text)> formatValue;
  // The data sources by their data object names (PLOTDATA, RESPONSEDATA).
  std::vector<DataTable*> data;
  // The map data (the "__MAP__" data), or null.
  DataTable* mapData = nullptr;
  // The map data of the region layers of their own (CHOROMAP statements
  // with a MAPDATA= of their own), each named as its layer's dataID names
  // it; its coordinate system is the table's.
  std::vector<DataTable*> regionMaps;
  // The dynamic values by name: __MAPID__, __ID__, MapProvider, url, and
  // the texts of dynamic titles (TITLE1, __BYLINE__), already substituted
  // for the BY group being drawn.
  std::map<std::string, std::string, std::less<>> dynamics;
  TileFetchOptions tiles;
  // The number of GRADLEGEND statements of the step (a step whose
  // template asks for no gradient legend is told why none is drawn).
  int gradLegendStatements = 0;
  // The projection chosen for the whole step (its BY groups share it); null:
  // chosen from what this image shows.
  MapProjectionPtr stepProjection;
  // The bubble size scales chosen for the whole step, so that a value has
  // one size on the maps of every BY group; null: from this image's data.
  std::shared_ptr<const BubbleScales> stepBubbles;
  // The threads this image may use for its largest layers (points by the
  // million): 1 when several images are drawn at once.
  unsigned threads = 1;
  // Set when an earlier image of the same graph could get no tile at all:
  // the tile layer then keeps the plain background without asking again.
  bool skipTiles = false;
  // The image of one BY group: the responses that match no region are not
  // told in its join note but handed back (RenderResult::responseJoins), for
  // the host to tell once for the step which match no region in any group.
  bool byGroup = false;
  // Pdf output as a page of a document of several (RenderResult::page),
  // not a file of its own.
  bool pdfPage = false;
  // The map of one BY group as a panel of a page of small multiples
  // (BYPANELS=): around it only what changes from group to group, the
  // titles and footnotes that name BY values and its BY line, which
  // captions it in any case; no legend. Svg output is the <svg> element
  // alone, for the page.
  bool panel = false;
};

// The classes of one map region layer colored through a range attribute
// map (the classified response or a RATTRMAP= map): for each region, by
// its identifier as regions are joined to the response (a number in its
// shortest form, "48" for "048"), the index of the range that colored it
// in the map's order; -1 when no range took its value.
struct RegionClasses {
  std::string layer;  // the layer's name
  std::vector<std::pair<std::string, int>> regions;  // in map data order
};

// A message about how the data of one image joined: response rows to map
// regions, values to a discrete attribute map. Under BY groups it may
// differ from group to group (the host says once what every group shares).
struct DataMessage {
  bool warning = false;  // else a note
  std::string text;      // one sentence, ending with "."
  bool operator==(const DataMessage&) const = default;
};

// How the response rows of one map region layer joined its regions, each
// row by its position in the response data (DataTable::firstRow() added).
struct ResponseJoin {
  std::string response;  // the response data as messages name it
  std::vector<size_t> joined;  // rows a region took
  // Rows no region took, with their identifiers as the data write them
  // ("" for a missing one).
  std::vector<std::pair<size_t, std::string>> unjoined;
};

// The responses of a step's BY groups that match no region in any group:
// a response another group's regions take is no news.
class StepResponseJoins {
 public:
  void add(const ResponseJoin& join);
  // One note per response data set that has such rows.
  std::vector<std::string> notes() const;
  void clear() { byResponse_.clear(); }

 private:
  struct Rows {
    std::unordered_set<size_t> joined;
    std::map<size_t, std::string> unjoined;
  };
  std::vector<std::pair<std::string, Rows>> byResponse_;
};

struct RenderResult {
  // The image (Png output).
  std::unique_ptr<Canvas> canvas;
  // The drawing of the other outputs: the PDF file's bytes, the SVG file,
  // or for Html the <svg> element alone, for a page.
  std::string document;
  // Pdf output under RenderRequest::pdfPage: the page, for a PdfBook.
  std::shared_ptr<PdfPage> page;
  // What could not be drawn as asked, one message each, without a severity
  // word (the host logs them as warnings).
  std::vector<std::string> warnings;
  // What the host notes, one line each (the projection chosen, positions
  // left out).
  std::vector<std::string> notes;
  // Notes about this image alone, which the host logs for every image (the
  // labels left out so as not to overlap others).
  std::vector<std::string> imageNotes;
  // How this image's data joined (duplicate response identifiers, regions
  // and responses without a partner, values no attribute map entry takes).
  std::vector<DataMessage> dataMessages;
  // byGroup: how the responses of each map region layer joined.
  std::vector<ResponseJoin> responseJoins;
  // The TEXT labels and data labels left out (LABELOVERLAP=HIDE or MOVE).
  size_t labelsLeftOut = 0;
  // For tests: the box of every TEXT label and data label drawn within the
  // map area, in drawing order (with the box drawn behind a TEXT label).
  std::vector<LabelBox> labelBoxes;
  // A tile layer got no tile at all.
  bool tilesFailed = false;
  // For tests and checks: the classes of the regions, one entry per map
  // region layer with a range attribute map, in template order.
  std::vector<RegionClasses> regionClasses;
  // Where the map went: its area in pixels and the projection of the layers
  // (for a page of panels, the area of the panels).
  Rect mapArea;
  // A page of panels: its size in layout pixels.
  double pageWidth = 0, pageHeight = 0;
  Projection projection;
};

// Draws one image. Throws qv::UserError when the image size is not usable
// (naming the size), or when Cairo fails while drawing (naming what was
// being drawn and Cairo's reason), UnusableData when the data cannot be
// drawn: no image is then to be written.
RenderResult renderGraph(const GraphModel& model, const RenderRequest& request);

// What the images of a step's BY groups share, chosen once from the data of
// `request` (every BY group's): the projection, from what the layers show,
// and the size scale of every BUBBLE plot.
struct StepChoice {
  ProjectionChoice projection;
  std::shared_ptr<const BubbleScales> bubbles;
};
// Throws UnusableData as renderGraph does.
StepChoice chooseStep(const GraphModel& model, const RenderRequest& request);

// A panel of a page of small multiples: the map of one BY group drawn
// under RenderRequest::panel, in the output's kind.
struct Panel {
  std::shared_ptr<const Canvas> canvas;  // Png
  std::string svg;                       // Svg and Html: the <svg> element
  std::shared_ptr<const PdfPage> page;   // Pdf (drawn with RenderRequest::pdfPage)
};

// How `panels` panels of `columns` to a row fall on pages: the number on
// each page, in order, as many rows on a page as the largest image holds.
// `step` is the request of the step's data (every group's): its titles,
// footnotes and legends take room on each page. UserError when not even
// one row fits.
std::vector<size_t> panelPages(const GraphModel& model, const RenderRequest& step, size_t panels,
                               int columns);

// Draws one page of small multiples: the step's titles and footnotes that
// are the same for every group, once, the panels in rows of `columns`
// (each GRAPHWIDTH x GRAPHHEIGHT), and below them the legends of the
// step's data. The element ids of an SVG panel are numbered from
// `idBase` + 1 on (html.h), so that they stay unique among those of other
// pages on one HTML page.
RenderResult renderPanelPage(const GraphModel& model, const RenderRequest& step,
                             const std::vector<const Panel*>& panels, int columns,
                             size_t idBase = 0);

// Decodes the escapes the procedure writes in quoted texts
// ("(*ESC*){unicode '0022'x}" and its kind) in a dynamic text.
std::string decodeTextEscapes(std::string_view text);

}  // namespace qv::render
