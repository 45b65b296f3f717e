// What the renderer's parts share: the environment of one rendering, the
// reading of attribute values (colors, lengths, fonts, attribute blocks),
// group values and their looks, color responses, and the prepared layer
// that each kind of mark implements in its own file.
#pragma once

#include <cmath>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/ascii.h"
#include "render/geo/geometry.h"
#include "render/geo/map_projection.h"
#include "render/geo/viewport.h"
#include "render/graph/data.h"
#include "render/graph/model.h"
#include "render/graph/style.h"
#include "render/paint/canvas.h"
#include "render/paint/markers.h"
#include "render/paint/painter.h"
#include "render/paint/text.h"
#include "render/renderer.h"

namespace qv::render {

// --- The environment of one rendering ---------------------------------------

class Env {
 public:
  Env(const GraphModel& model, const RenderRequest& request);

  const GraphModel& model;
  const RenderRequest& req;
  Style style;
  double percentBase;  // pixels that 100% of a size means (the graph's smaller side)

  // The data called `id` ("__MAP__" is the map data), or null.
  DataTable* table(std::string_view id) const;
  // A dynamic value ("" when there is none).
  std::string dynamic(std::string_view name) const;
  bool hasDynamic(std::string_view name) const;

  // Records a warning (each distinct text once).
  void warn(const std::string& text);
  std::vector<std::string> warnings;
  // Records a message about how this image's data joined (each distinct
  // text once; see RenderResult::dataMessages).
  void dataMessage(bool warning, const std::string& text);
  // How many values a data message names, and their list: "a, b, c", with
  // ", ..." when `count` is more than `shown` holds.
  static constexpr size_t kShownValues = 5;
  static std::string firstValues(const std::vector<std::string>& shown, size_t count);
  std::vector<DataMessage> dataMessages;
  std::vector<ResponseJoin> responseJoins;  // RenderResult::responseJoins
  bool tilesFailed = false;  // a tile layer got no tile at all
  // Whether the output keeps marks apart, with their tips and links.
  bool keepsMarks() const {
    const OutputKind kind = outputKindOf(req.options);
    return kind == OutputKind::Svg || kind == OutputKind::Html;
  }

  // The binding of an attribute variable (DiscreteAttrVar / RangeAttrVar)
  // named `name`, or null when `name` is a plain column.
  const AttrVar* attrVar(std::string_view name) const;

  // The longitude and latitude columns of data whose coordinate system
  // the dynamic value `systemName` (__PLOTCS__, __MAPCS__) names, else the
  // data's own (`dataSystem`, "" for degrees): columns
  // in degrees are returned as they are, others are converted through PROJ
  // (copies kept for the rendering), with a warning when most positions
  // land far outside the system's area of use. When PROJ cannot use the system:
  // false after a warning naming it and `dataName`, or for the map data
  // (`mapData`) UnusableData.
  bool inDegrees(const DataColumn*& x, const DataColumn*& y, std::string_view systemName,
                 std::string_view dataName, std::string_view dataSystem = {},
                 bool mapData = false);

  // Positions the map projection does not take (ALBERSUSA outside its three
  // areas), counted over the layers, with the places they lie in: `rows`
  // rows at `where`, of the region `id` ("" for a point).
  size_t rowsLeftOut = 0;
  void leftOut(const MapProjection& map, size_t rows, LonLat where, std::string_view id = {});
  // The note that counts them and names their places; "" for none.
  std::string leftOutNote() const;

  // The classes map region layers put their regions in (RenderResult).
  std::vector<RegionClasses> regionClasses;

 private:
  std::vector<std::pair<std::string, size_t>> leftOutPlaces_;  // in the order met
  size_t leftOutElsewhere_ = 0;
  LonLat firstElsewhere_;
  std::set<std::string> warned_;
  std::deque<DataColumn> converted_;
  std::set<std::string> unknownSystems_;
};

// The name a layer is known by in messages: its name, else its statement.
std::string layerName(const Layer& layer);

// --- Attribute values ------------------------------------------------------

// A color from a text: CXrrggbb, #rrggbb or a color name (CSS names, any
// letter case, "grey" and "gray" alike).
bool colorFromText(std::string_view text, Rgba& out);
// A color option value: a CXrrggbb color, a color name, or a style
// reference (TwoColorRamp:startcolor, GraphData2:color).
bool colorOf(const Value& v, const Style& style, Rgba& out);
// The ramp a color model name stands for (TwoColorRamp, ThreeColorRamp,
// their Alt forms); null when the name is none of them.
const std::vector<Rgba>* rampByName(const Style& style, std::string_view name);

// A length in pixels: px (and no unit) as they are, pt, in, cm, mm, and
// percent of `percentOf`. Non-finite or negative results give `fallback`.
double lengthPx(const Value& v, double percentOf, double fallback);
// The n of "GraphData<n>" (any letter case), 0 for another name.
int graphDataNumber(std::string_view element);
// A font size in points from a size value: a dimension (no unit means
// points) or a style reference to a text element's size.
double fontSizePt(const Value& v, const Style& style, double percentOfPx, double fallback);
// The font of a text style element (GraphTitleText, GraphLabelText, ...),
// or `fallback` for another name.
FontStyle fontOfElement(const Style& style, std::string_view element, const FontStyle& fallback);

// Applies a text attribute block (style element and Color, Family, Size,
// Weight, Style overrides) to `font`. Null does nothing.
void applyTextBlock(const Value* block, const Style& style, double percentBase, FontStyle& font);

struct LineLook {
  Rgba color;
  double width = 1;
  int pattern = 1;
};
// Applies a line block (Color, Pattern, Thickness) to `line`.
void applyLineBlock(const Value* block, const Style& style, double percentBase, LineLook& line);

// The color made see-through by a transparency t from 0 (none) to 1 (invisible).
Rgba withTransparency(Rgba c, double t);
// The layer's DataTransparency= (0 when absent or out of range).
double dataTransparency(const Layer& layer);

// --- Group values ----------------------------------------------------------

// One group of a grouped layer.
struct GroupEntry {
  std::string label;                          // the value as shown
  int graphData = 1;                          // the GraphData element it cycles to
  const DiscreteAttrValue* attrs = nullptr;   // its attribute map entry, if any
  bool present = false;                       // occurs in the data drawn
};

class Grouping {
 public:
  // Groups the rows of `table` by `column` (a column name or an attribute
  // variable bound to a discrete attribute map). False, with `problem` set,
  // when the column is not in the table.
  bool init(Env& env, std::string_view column, DataTable* table, bool includeMissing,
            std::string* problem);
  // The group of a row, -1 for a row left out (a missing value when missing
  // groups are not included).
  int group(size_t row) const {
    return row < rowGroup_.size() ? rowGroup_[row] : -1;
  }
  const std::vector<GroupEntry>& entries() const { return entries_; }
  // The entries a legend shows: those present in the data, or every value
  // of an attribute map that asks for all, in the map's order.
  std::vector<int> legendOrder() const;
  const std::string& title() const { return title_; }

 private:
  const DiscreteAttrMap* map_ = nullptr;
  std::vector<GroupEntry> entries_;
  std::vector<int> rowGroup_;
  std::string title_;
};

// The option block `key` (MarkerAttrs, FillAttrs, ...) of a group's
// attribute map entry, or null.
const Value* entryBlock(const GroupEntry& g, Key key);

// --- Color responses -------------------------------------------------------

// One class of a range attribute map, for legends.
struct RangeClass {
  std::string label;
  Rgba color;
};

class ColorResponse {
 public:
  // The colors of `column` in `table`: through the range attribute map an
  // attribute variable binds, else a continuous ramp over the values (the
  // layer's ColorModel=, else the three-color ramp). False, with `problem`
  // set, when the column is not a numeric column of the table.
  bool init(Env& env, const Layer& layer, std::string_view column, DataTable* table,
            std::string* problem);
  // The color of a row; the missing color (or the map's Missing range) for
  // a missing value.
  Rgba rowColor(size_t row) const;
  Rgba color(double v) const;
  // The index of the range of the map that colors `v` (for a missing
  // value, the map's Missing range); -1 for none, or without a range map.
  int classOf(double v) const;
  double value(size_t row) const { return col_ ? col_->number(row) : NAN; }
  bool ranged() const { return map_ != nullptr; }
  double min() const { return min_; }
  double max() const { return max_; }
  const std::vector<Rgba>& ramp() const { return ramp_; }
  // The classes of a range map, in the map's order (with "Missing" when a
  // missing value was met and the map gives it no class).
  std::vector<RangeClass> classes() const;
  const std::string& title() const { return title_; }
  // The response column (its display format writes the legend's values).
  const DataColumn* column() const { return col_; }
  void noteMissing() { sawMissing_ = true; }

 private:
  int rangeOf(double v) const;  // index into the map's ranges, -1 none
  Rgba rangeColor(int index, double v) const;
  double bound(const RangeBound& b) const;

  const Style* style_ = nullptr;
  const DataColumn* col_ = nullptr;
  const RangeAttrMap* map_ = nullptr;
  std::vector<Rgba> ramp_;
  double min_ = 0, max_ = 0, maxAbs_ = 0;
  mutable bool sawMissing_ = false;
  std::string title_;
};

// --- Legends ---------------------------------------------------------------

// One entry of a discrete legend.
struct LegendItem {
  enum class Kind { Fill, Marker, Line, Text, Bubble };
  Kind kind = Kind::Fill;
  std::string label;
  Rgba fill{0, 0, 0, 0};
  LineLook line;          // outline of a fill, or the line
  MarkerStyle marker;
  FontStyle font;         // Text: the sample's font
};

// The size key of a BUBBLE plot: its size scale, and the SIZE column whose
// label titles the key and whose display format writes its values.
struct SizeKey {
  BubbleScale scale;
  const DataColumn* column = nullptr;
};

// --- Tips and links --------------------------------------------------------

// The tip and link of each row of a layer's data, for outputs that keep
// marks apart: the tip variables labelled (TIPLABEL=, else the variable's
// label) and formatted (TIPFORMAT=, else the variable's own format), one per
// line as "label: value", and the URL= value.
class MarkTips {
 public:
  // Reads the tip and URL columns of `table` when the output keeps marks
  // apart (a warning names a tip variable the table lacks).
  void init(Env& env, const Layer& layer, DataTable* table);
  // The mark of a row (`row` SIZE_MAX: a mark of no row, with no tip).
  ItemInfo info(const char* kind, size_t row) const;

 private:
  struct Part {
    std::string label;
    const DataColumn* column = nullptr;
    std::string format;
  };
  const Env* env_ = nullptr;
  std::vector<Part> parts_;
  const DataColumn* url_ = nullptr;
};

// --- Prepared layers -------------------------------------------------------

// What a layer draws with, once the map area and projection are known.
struct DrawContext {
  Painter* pen = nullptr;
  Projection proj;
  Rect area;  // the map area in pixels
  GeometryOptions geo;
  // Where the TEXT labels and data labels go (LABELOVERLAP=); null draws
  // each where it asks to go.
  LabelSpace* labels = nullptr;
};

// What a layer projects with, once the map projection and area are known.
struct ProjectContext {
  PlanarContext planar;
  Rect area;  // the map area in pixels
  unsigned threads = 1;  // threads a layer may project on
};

class PreparedLayer {
 public:
  explicit PreparedLayer(const Layer& l) : layer(l) {}
  virtual ~PreparedLayer() = default;
  // Takes what the layer shows into planar map coordinates and adds it,
  // with how far its marks reach in pixels, to what the map must fit.
  virtual void project(Env& env, const ProjectContext& pc, std::vector<FitBox>& fit) = 0;
  virtual void draw(Env& env, const DrawContext& dc) = 0;
  // What the layer draws above every layer, once all are drawn (a region
  // layer's labels, so that no later plot covers them).
  virtual void drawAbove(Env&, const DrawContext&) {}
  // How many marks it has (points, bubbles, labels, regions or lines with
  // a position), once projected: an HTML page holds a layer of many as one
  // picture (see renderer.h).
  virtual size_t markCount() const { return 0; }

  const Layer& layer;
  WrapExtent extent;               // what the layer shows, for fitting the map
  std::vector<LegendItem> items;   // the entries of a discrete legend for it
  std::string groupTitle;          // the label of its group variable
  // A continuous color response: its scale, for a gradient legend.
  std::optional<ColorResponse> scale;
  // A BUBBLE plot: its size scale, for its bubbles and its size key.
  std::optional<SizeKey> sizeKey;
  bool tiles = false;              // a tile layer (covers the map area)
  std::string attribution;         // a tile provider's credit line, drawn last
};

using PreparedLayers = std::vector<std::unique_ptr<PreparedLayer>>;

// One per kind of mark; null when the layer cannot be drawn (after a
// warning naming the layer and why).
std::unique_ptr<PreparedLayer> prepareTiles(Env& env, const Layer& layer);
std::unique_ptr<PreparedLayer> prepareRegions(Env& env, const Layer& layer);
std::unique_ptr<PreparedLayer> prepareScatter(Env& env, const Layer& layer);
std::unique_ptr<PreparedLayer> prepareBubbles(Env& env, const Layer& layer);
std::unique_ptr<PreparedLayer> prepareSeries(Env& env, const Layer& layer);
std::unique_ptr<PreparedLayer> prepareText(Env& env, const Layer& layer);

// The table of a point layer (its dataID=) and its X and Y columns in
// degrees; false after a warning when any of them is missing or their
// coordinate system is not known.
bool pointColumns(Env& env, const Layer& layer, DataTable*& table, const DataColumn*& x,
                  const DataColumn*& y);

// Groups a point plot's rows by its Group= column (with its
// includemissinggroup=): true with `g` made, `rowGroup` holding each row's
// group (-1 for a row left out) and `groupTitle` set. False when the plot has
// no Group= column, or when the column cannot be used (after a warning that
// names the plot `name`).
bool groupRows(Env& env, const Layer& layer, DataTable* table, const std::string& name,
               Grouping& g, std::vector<int>& rowGroup, std::string& groupTitle);

// The marker look of a plot's group (of the plot when `g` is null): the
// GraphData element, the plot's Markerattrs= overrides, then the group's
// attribute map entry, with the plot's DataTransparency=.
MarkerStyle markerLook(Env& env, const Layer& layer, const GroupEntry* g);

// The planar positions of a point plot's rows (non-finite for a row with
// missing coordinates, a row whose group is -1 and a position the
// projection does not take, which is counted in env.rowsLeftOut); their
// box is returned with the overhang `reach` on every side (`any` false when
// no row has a position).
PlanarBox projectPoints(Env& env, const ProjectContext& pc, const DataColumn* x,
                        const DataColumn* y, const std::vector<int>* rowGroup, double reach,
                        std::vector<Point>& planar);

// Counts the rows of a point plot that the projection does not take in
// env.leftOut, with their places (as projectRowBlocks leaves them out).
void countRowsLeftOut(Env& env, const PlanarContext& pc, const DataColumn* x,
                      const DataColumn* y, const std::vector<int>* rowGroup);

// The same a block of rows at a time (rows from..to-1), for layers that
// keep the points in another form: `take(first, points, n)` gets rows
// first..first+n-1. Rows the projection does not take are counted in
// *leftOut (when given).
void projectRowBlocks(const PlanarContext& pc, const DataColumn* x, const DataColumn* y,
                      const std::vector<int>* rowGroup, size_t* leftOut,
                      const std::function<void(size_t, const Point*, size_t)>& take,
                      size_t from = 0, size_t to = SIZE_MAX);

// How far a label at planar `p` reaches from its point, as a fit box: its
// block at its position with `grow` around it (a box drawn behind it), or
// the circle around that when it is turned. Past a couple of thousand
// labels (`measure` false) its width is estimated from its characters
// instead of measured. Nothing for an empty text.
std::optional<FitBox> labelFitBox(Point p, std::string_view text, const LabelStyle& ls,
                                  bool measure, const LabelMargins& grow = {});
// Whether the labels of a plot of `n` rows are measured for the fit.
inline bool measureLabels(size_t n) { return n <= 2000; }

// The data labels of a point plot (its DataLabel= column), laid out.
struct DataLabels {
  const DataColumn* labels = nullptr;
  LabelStyle style;
  // Prepares the labels of `layer` (a warning when the column is not in
  // `table`); none when the plot asks for none.
  void init(Env& env, const Layer& layer, DataTable* table, TextPosition defaultPosition,
            double clearance);
  // Adds a fit box for each label that reaches beyond its point.
  void addFit(const std::vector<Point>& planar, std::vector<FitBox>& fit) const;
  // Draws each label next to its point, where dc.labels lets it go.
  void draw(const DrawContext& dc, const std::vector<Point>& planar) const;
};

// A text label style from a layer's text block (TextAttrs= or
// DataLabelAttrs=) over the data text element.
FontStyle layerFont(Env& env, const Layer& layer, Key option);

// --- Blocks around the map ---------------------------------------------------

struct Size2 {
  double width = 0, height = 0;
};

// A block laid out beside the map: a legend or a title line.
class Block {
 public:
  virtual ~Block() = default;
  // Lays the block out within `maxWidth` x `maxHeight`; its size.
  virtual Size2 layout(double maxWidth, double maxHeight) = 0;
  virtual void draw(Painter& pen, const Rect& box) = 0;
};

enum class Side { Top, Bottom, Left, Right, Inside };

struct PlacedBlock {
  std::unique_ptr<Block> block;
  Side side = Side::Bottom;
  double halign = 0.5;  // 0 left, 0.5 center, 1 right (top and bottom blocks)
};

// The legends of the template (key legends and gradient legends) as blocks.
std::vector<PlacedBlock> makeLegends(Env& env, const PreparedLayers& layers);
// Title and footnote lines as blocks.
std::vector<PlacedBlock> makeTitles(Env& env, const std::vector<TextEntry>& entries,
                                    bool footnotes);

}  // namespace qv::render
