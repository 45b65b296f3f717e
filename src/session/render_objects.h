// The objects the procedure hands its graph to: the template compiler
// ("template"), the data sources ("DataSource"), the data collection
// ("multidata") and the graph manager ("graph_manager") that builds the
// graph and renders it, once per BY group when BY groups are in effect.
//
// A rendering is one map file in the output folder, of the kind OUTPUT=
// says: a PNG image of GRAPHWIDTH x GRAPHHEIGHT scaled by GRAPHDPI/96, an
// SVG or a PDF drawing; named tavlo.png, tavlo1.svg, tavlo2.pdf ... across
// the whole run. HTML output makes one page per step holding the maps of
// all its BY groups, under the number of the step's first map. The log
// names every file written. The files of a step are staged as they are
// drawn and put in place only when all were drawn and the step has logged
// no error.
#pragma once

#include <sys/types.h>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "module/host/host.h"
#include "render/graph/compiler.h"
#include "render/graph/data.h"
#include "render/paint/html.h"
#include "render/renderer.h"
#include "runtime/log/log.h"
#include "runtime/objects/objects.h"

namespace qv::rt {

class Workers;

// "proc"/"template": compiles the template text into a graph model. A
// text that does not compile gives an ERROR naming the offending text and
// its position, and a non-zero status.
class CompiledTemplate final : public host::Template {
 public:
  using Compiler = std::function<render::CompileResult(std::string_view)>;
  explicit CompiledTemplate(Log& log, Compiler compiler = render::compileTemplate)
      : log_(log), compiler_(std::move(compiler)) {}
  std::string_view className() const override { return "template"; }
  host::Status compile(std::string_view name, std::string_view text) override;

  const render::GraphModel* model() const { return model_.get(); }
  const std::string& name() const { return name_; }

 private:
  Log& log_;
  Compiler compiler_;
  std::unique_ptr<render::GraphModel> model_;
  std::string name_;
};

// "DataSource": one data object of the graph with the data set it reads.
class DataSourceImpl final : public host::DataSource {
 public:
  std::string_view className() const override { return "DataSource"; }
  // Fails for a missing data object or data set.
  host::Status init(host::DataObject* data, host::DataSet* ds, host::Object* manager) override;

  const host::DataObject* data() const { return data_; }
  host::DataSet* dataSet() const { return ds_; }

 private:
  host::DataObject* data_ = nullptr;
  host::DataSet* ds_ = nullptr;
  host::Object* manager_ = nullptr;
};

// "multidata": the data sources of one graph, in the order added.
class DataCollectionImpl final : public host::DataCollection {
 public:
  std::string_view className() const override { return "multidata"; }
  // Fails for a source that is not ready (not initialised) or after finish().
  host::Status add(host::DataSource* source) override;
  host::Status finish() override;

  const std::vector<const DataSourceImpl*>& sources() const { return sources_; }
  bool finished() const { return finished_; }

 private:
  std::vector<const DataSourceImpl*> sources_;
  bool finished_ = false;
};

// Where and how large the images of a graph are made.
struct GraphOutput {
  // The global options, read when the graph is drawn (the step may set
  // GRAPHFORMAT= for its duration): the size, kind and density of the
  // images, THREADS= and what the renderer reads. Null: the defaults.
  const OptionValues* options = nullptr;
  // The run's threads that draw the groups besides the step's own (null:
  // threads are made for the step).
  Workers* workers = nullptr;
  // The title of an HTML page: the step's first title ("" for none).
  std::string pageTitle;
  std::string outDir = ".";       // --out
  std::string baseDir;            // the program's folder: relative file:// tile paths
  int* graphsWritten = nullptr;   // numbers the images across the run (null: from 0)
  std::vector<std::string>* filesWritten = nullptr;  // the run's files put in place, added to
  // OUTNAME=: the last number each stem was given in the run (default
  // names count under "tavlo"); null: from 1.
  std::map<std::string, int>* stemNumbers = nullptr;
  // True when the step has already failed (an ERROR was logged): no image
  // is written then.
  std::function<bool()> stepFailed;
};

// The file name of the n-th graph of a run (from 0) in the output kind:
// tavlo.png, tavlo1.png, tavlo2.svg, tavlo3.pdf, tavlo4.html, ...
std::string graphFileName(int n, render::OutputKind kind = render::OutputKind::Png);
// The file name of graph `number` under an OUTNAME= stem, the number padded
// with zeros to `width` digits: canton07.png.
std::string stemFileName(std::string_view stem, int number, int width, render::OutputKind kind);

// True when `name` is one a graph of a run may have in the output folder:
// the file name stem (OUTNAME=, "" for the default "tavlo"), digits if any,
// and the extension of an output kind.
bool isGraphFileName(std::string_view name, std::string_view stem);

// The text of `value` in the numeric display format `format` (DOLLAR8.2,
// COMMA10., 8.2), without leading and trailing blanks; false for a format
// not known or a character format. `missing` shows a missing value.
bool formatTipValue(std::string_view format, double value, char missing, std::string* text);

// One BY variable of the group being drawn: its name and its value as shown.
struct ByValue {
  std::string name;
  std::string value;
};

// A title text for one BY group: #BYLINE becomes the BY line
// ("var=value, ..."), #BYVALUE(var) / #BYVAL(var) / #BYVALn the value and
// #BYNAME(var) / #BYVAR(var) / #BYVARn the name of a BY variable (n from
// 1; names in any letter case). A reference to no BY variable stays as
// written.
std::string substituteByValues(std::string_view text, const std::vector<ByValue>& by);

// A data set seen by the renderer: the observations it reads now (those of
// the current BY group when BY iteration is on), columns read on first use,
// display texts in the variables' formats. It keeps the positions it reads
// and never moves the data set's cursor, so tables of several BY groups of
// one data set are read on several threads at once.
class DataSetTable final : public render::DataTable {
 public:
  DataSetTable(std::string name, const host::DataSet* ds, char missing);
  std::string_view name() const override { return name_; }
  std::string displayName() const override;
  size_t rows() const override { return rows_; }
  size_t firstRow() const override { return lo_; }
  std::string coordinateSystem() const override;
  // The coordinate system the program gives the data (MAPCS= of a region
  // layer of its own), in place of the data set's own.
  void setCoordinateSystem(std::string system) { system_ = std::move(system); }
  // Reads only the observations whose BY values are those of the current
  // group of `byData` (another data set with every BY variable `by`).
  void keepGroupOf(const host::DataSet& byData, const std::vector<host::ByVariable>& by);
  const render::DataColumn* column(std::string_view name) override;
  // A column the table holds in runs (a map feature's identifier and
  // properties, SEGMENT) comes with one value per run, not per row.
  const render::DataColumn* runColumn(std::string_view name) override;
  const render::DataColumn* rowCounts() override;
  // Warnings for the character variables read whose values are too long to
  // show whole (one per variable).
  const std::vector<std::string>& longTexts() const { return longTexts_; }

 private:
  std::string name_;
  const host::DataSet* ds_;
  char missing_;
  size_t lo_ = 0, hi_ = 0;  // the positions read, in the data set's selection
  size_t rows_ = 0;
  // The positions read when they are not lo_ .. hi_ (keepGroupOf).
  std::optional<std::vector<size_t>> positions_;
  // Calls `f` with each position read, in order.
  template <class F>
  void eachPosition(F&& f) const {
    if (positions_)
      for (size_t pos : *positions_) f(pos);
    else
      for (size_t pos = lo_; pos < hi_; ++pos) f(pos);
  }
  std::string system_;
  // A variable's column (name, label, type, display format) without its
  // values; the warning for its texts too long to show.
  std::unique_ptr<render::DataColumn> described(int var) const;
  void noteTooLong(const std::string& var);
  std::vector<std::unique_ptr<render::DataColumn>> columns_, runColumns_;
  std::unique_ptr<render::DataColumn> counts_;
  std::vector<std::string> longTexts_;
};

// The images of one step, written to temporary files beside their final
// names as they are drawn (so BY groups do not pile up in memory), and
// renamed into place only when the step succeeds: a failed step leaves the
// folder as it was, and never removes a file it did not make.
class StagedImages {
 public:
  StagedImages() = default;
  ~StagedImages();  // discards what was not committed
  StagedImages(const StagedImages&) = delete;
  StagedImages& operator=(const StagedImages&) = delete;

  // Writes `bytes` to a new file beside `final`; false with the reason.
  bool add(const std::string& final, const std::vector<unsigned char>& bytes, std::string* why);
  bool add(const std::string& final, std::string_view bytes, std::string* why);
  // Renames every file into place, in order, appending the final names to
  // `written`. On a failure the ones already renamed are removed again and
  // the rest discarded: false with the reason.
  bool commit(std::vector<std::string>* written, std::string* why);
  void discard();
  size_t size() const { return files_.size(); }

 private:
  struct Staged {
    std::string tmp, final;
    dev_t dev = 0;
    ino_t ino = 0;
  };
  std::vector<Staged> files_;
};

// "graph_manager".
class GraphManagerImpl final : public host::GraphManager {
 public:
  // `by`: the step's BY variables (none: one rendering); `missing`: the
  // character a missing BY value shows as.
  GraphManagerImpl(Log& log, std::vector<host::ByVariable> by, char missing,
                   GraphOutput output = {})
      : log_(log), by_(std::move(by)), missing_(missing), output_(std::move(output)) {}
  std::string_view className() const override { return "graph_manager"; }

  // Fails unless the template has compiled and the collection is ours.
  host::Status build(host::DataCollection* data, host::Template* compiled,
                     std::string_view label, std::string_view description,
                     const std::vector<host::DynamicValue>& dynamics,
                     host::AssocArray* byTexts, int gradLegends) override;
  // One rendering, or one per BY group. -1 when the graph was not built,
  // 112 when an image could not be drawn (after an ERROR saying why). BY
  // variables that no data set of the graph has, data out of BY order, or
  // an output folder that cannot be made or written are the program's or
  // the user's to mend: an ERROR is logged, no image is left and the answer
  // is 0. Memory exhaustion is thrown (std::bad_alloc) to the caller.
  host::Status render() override;

  int renderings() const { return renderings_; }
  // The files written by the last render(), in order.
  const std::vector<std::string>& written() const { return written_; }

 private:
  // One drawn map: the file's bytes (for HTML the <svg> element, for the
  // page), and its size for the log.
  struct Drawn {
    std::string bytes;
    std::shared_ptr<render::PdfPage> page;  // a page of the step's PDF file instead
    render::Panel panel;  // a panel of a page of small multiples instead
    int width = 0, height = 0;
  };
  // One map to draw, made on the calling thread and drawn on any: its
  // request and tables, then what came of it.
  struct Job {
    std::vector<std::unique_ptr<DataSetTable>> tables;
    render::RenderRequest req;
    std::string byLine;        // "" without BY groups
    bool rendered = false;     // the renderer answered (its messages are in `result`)
    render::RenderResult result;
    Drawn drawn;
    std::string error;         // the ERROR that ends the step ("" none)
    bool dataError = false;    // `error` is about the data the program gave
    std::exception_ptr fatal;  // thrown again where the job is taken
  };
  // The map of the current BY group (of everything without BY groups).
  std::unique_ptr<Job> prepare(host::DataSet* byData) const;
  // Draws the job's map and encodes its file with `projection` (the
  // step's, or a copy of it this thread alone uses). Reads nothing that
  // changes while maps are drawn; never throws.
  void draw(Job& job, const render::MapProjectionPtr& projection) const;
  // Logs what the drawing of a job said, in the order of the groups;
  // false after an ERROR.
  bool take(Job& job);
  // The global options the graph is drawn with.
  const OptionValues& options() const;
  // How many threads draw the BY groups of `groups` maps.
  unsigned threadCount(size_t groups) const;
  // The request of one image: the data of the current BY group (`byData`,
  // or everything when null) in `tables`, which must outlive it.
  render::RenderRequest request(host::DataSet* byData,
                                std::vector<std::unique_ptr<DataSetTable>>& tables) const;
  // Chooses the projection and the bubble scales the BY groups share;
  // false after an ERROR.
  bool chooseProjection();
  // Logs each line once per render() (warnings, or notes).
  void logOnce(const std::vector<std::string>& lines, bool warnings);
  // Logs how the data of the BY groups joined: a message every group gives
  // once, any other with the BY group it belongs to; then the responses
  // that match no region in any group.
  void logGroupMessages();
  // The output folder, made when missing; false after an ERROR.
  bool outputFolder(std::string* dir);
  // The name of the step's file `index` (from 0), of `files` in all.
  std::string fileName(size_t index, size_t files) const;
  // Writes the next file of the step under a temporary name; false after
  // an ERROR naming the folder and the reason.
  bool stage(StagedImages& staged, const std::string& dir, std::string_view bytes);
  // Stages the HTML page of the step's maps; false after an ERROR.
  bool stagePage(StagedImages& staged, const std::string& dir);
  // Draws a page of the panels kept, `columns` to a row, around them what
  // `step` (the step's data) gives, and stages it (for HTML, keeps it for
  // the page); false after an ERROR.
  bool stagePanelPage(StagedImages& staged, const std::string& dir,
                      const render::RenderRequest& step, int columns);
  std::string byValue(host::DataSet* ds, size_t k) const;
  std::vector<ByValue> byValues(host::DataSet* ds) const;

  Log& log_;
  std::vector<host::ByVariable> by_;
  char missing_;
  const DataCollectionImpl* data_ = nullptr;
  const CompiledTemplate* compiled_ = nullptr;
  std::string label_, description_;
  std::vector<host::DynamicValue> dynamics_;
  host::AssocArray* byTexts_ = nullptr;
  int gradLegends_ = 0;  // GRADLEGEND statements the step drew
  GraphOutput output_;
  std::set<std::string> warned_;  // warnings of this render(), each logged once
  // The data join messages of each BY group drawn (its BY line first).
  std::vector<std::pair<std::string, std::vector<render::DataMessage>>> groupMessages_;
  render::StepResponseJoins responseJoins_;  // of the BY groups drawn
  bool tilesFailed_ = false;      // no tile came for an earlier BY group: ask no more
  // The step's ERROR was about the program's data (the user's error code),
  // not a failure of drawing.
  bool dataError_ = false;
  host::Status failed() const { return dataError_ ? host::kOk : host::kHostFailure; }
  render::MapProjectionPtr stepProjection_;  // shared by the BY groups of a render()
  std::shared_ptr<const render::BubbleScales> stepBubbles_;  // the same
  std::vector<render::HtmlMap> pageMaps_;    // HTML: the maps of the step's page
  std::vector<render::Panel> panels_;        // BYPANELS=: the panels of the page in hand
  // BYPANELS=: the groups (from, to) on each page staged.
  std::vector<std::pair<size_t, size_t>> pageSpans_;
  std::vector<std::string> sizes_;           // "W x H" of each file staged, for the log
  size_t stepFiles_ = 1;                     // the files the step writes (names are padded to it)
  int renderings_ = 0;
  std::vector<std::string> written_;
};

// What the classes above need from the session, read when an object is made.
struct RenderContext {
  Log* log = nullptr;
  std::function<std::vector<host::ByVariable>()> byVariables;
  std::function<char()> missing;
  // The image settings of the moment (read when a graph manager is made).
  std::function<GraphOutput()> output;
};

// Registers the four classes with the factory.
void registerRenderClasses(ObjectFactoryImpl& factory, RenderContext context);

}  // namespace qv::rt
