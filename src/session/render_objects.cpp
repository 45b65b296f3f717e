#include "session/render_objects.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <variant>

#include "common/ascii.h"
#include "common/error.h"
#include "common/progress.h"
#include "common/tempfiles.h"
#include "render/paint/cairo_painter.h"
#include "render/paint/png.h"
#include "render/renderer.h"
#include "runtime/data/dataset.h"
#include "runtime/formats/formats.h"
#include "runtime/program/globals.h"
#include "session/ordered_work.h"

namespace qv::rt {

namespace {

constexpr size_t kSnippetLength = 40;

std::string trimmed(std::string_view s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

}  // namespace

// --- CompiledTemplate ---------------------------------------------------------

host::Status CompiledTemplate::compile(std::string_view name, std::string_view text) {
  model_.reset();
  name_ = name;
  render::CompileResult r = compiler_(text);
  if (r.model) {
    model_ = std::move(r.model);
    model_->name = name_;
    return host::kOk;
  }
  // Name the place: the template is one line, so a character position.
  const size_t at = std::min(r.offset, text.size());
  std::string snippet(text.substr(at, kSnippetLength));
  if (at + kSnippetLength < text.size()) snippet += "...";
  std::string why = r.error.empty() ? std::string("it is not a valid template") : r.error;
  log_.error("The graph template " + name_ + " does not compile at character " +
             std::to_string(at + 1) + " (\"" + snippet + "\"): " + why);
  return host::kHostFailure;
}

// --- DataSourceImpl -------------------------------------------------------------

host::Status DataSourceImpl::init(host::DataObject* data, host::DataSet* ds,
                                  host::Object* manager) {
  if (!data || !ds) return host::kHostFailure;
  data_ = data;
  ds_ = ds;
  manager_ = manager;
  return host::kOk;
}

// --- DataCollectionImpl -----------------------------------------------------------

host::Status DataCollectionImpl::add(host::DataSource* source) {
  const auto* s = dynamic_cast<const DataSourceImpl*>(source);
  if (finished_ || !s || !s->data()) return host::kHostFailure;
  sources_.push_back(s);
  return host::kOk;
}

host::Status DataCollectionImpl::finish() {
  finished_ = true;
  return host::kOk;
}

// --- GraphManagerImpl --------------------------------------------------------------

host::Status GraphManagerImpl::build(host::DataCollection* data, host::Template* compiled,
                                     std::string_view label, std::string_view description,
                                     const std::vector<host::DynamicValue>& dynamics,
                                     host::AssocArray* byTexts, int gradLegends) {
  const auto* collection = dynamic_cast<const DataCollectionImpl*>(data);
  const auto* tmpl = dynamic_cast<const CompiledTemplate*>(compiled);
  if (!collection || !tmpl || !tmpl->model()) return host::kHostFailure;
  data_ = collection;
  compiled_ = tmpl;
  label_ = label;
  description_ = description;
  dynamics_ = dynamics;
  byTexts_ = byTexts;
  gradLegends_ = gradLegends;
  renderings_ = 0;
  return host::kOk;
}

// The value of BY variable k in the current group, in its display format
// when it has one.
std::string GraphManagerImpl::byValue(host::DataSet* ds, size_t k) const {
  const host::VarDesc d = ds->desc(ds->byVarIndex(k));
  host::FormatDesc f;
  const bool formatted = !d.format.empty() && resolveFormat(d.format, &f);
  if (d.type == host::kNumeric) {
    int width = d.formatWidth;
    if (!formatted) {
      resolveFormat("BEST", &f);
      width = 12;
    }
    return trimmed(formatNumber(f, width, d.formatDecimals, ds->byNum(k), missing_));
  }
  // A value is shown (BY line, #BYVALUE) up to the length any text is.
  const std::string_view raw = cutUtf8(ds->byChr(k), 2 * render::kMaxDisplayBytes);
  std::string value = formatted ? formatChar(f, d.formatWidth, raw) : std::string(raw);
  return std::string(cutUtf8(trimmed(value), render::kMaxDisplayBytes));
}

std::vector<ByValue> GraphManagerImpl::byValues(host::DataSet* ds) const {
  std::vector<ByValue> out;
  for (size_t k = 0; k < by_.size(); ++k)
    out.push_back({ds->desc(ds->byVarIndex(k)).name, byValue(ds, k)});
  return out;
}

namespace {

std::string byLineOf(const std::vector<ByValue>& by) {
  std::string line;
  for (const ByValue& v : by) line += (line.empty() ? "" : ", ") + v.name + "=" + v.value;
  return line;
}

}  // namespace

std::string substituteByValues(std::string_view text, const std::vector<ByValue>& by) {
  std::string out;
  // The BY variable a reference names, "(var)" or a number from 1, at
  // `at`: its index and the reference's length, or false.
  auto which = [&](size_t at, size_t* k, size_t* len) {
    if (at < text.size() && text[at] == '(') {
      const size_t close = text.find(')', at);
      if (close == std::string_view::npos) return false;
      const std::string name = trimmed(text.substr(at + 1, close - at - 1));
      for (size_t v = 0; v < by.size(); ++v) {
        if (sameNoCase(by[v].name, name)) {
          *k = v;
          *len = close + 1 - at;
          return true;
        }
      }
      return false;
    }
    size_t e = at;
    while (e < text.size() && e - at < 3 && isDigit(text[e])) ++e;
    if (e == at) return false;
    const size_t n = std::stoul(std::string(text.substr(at, e - at)));
    if (n < 1 || n > by.size()) return false;
    *k = n - 1;
    *len = e - at;
    return true;
  };
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '#') {
      if (startsWithNoCase(text.substr(i), "#BYLINE")) {
        out += byLineOf(by);
        i += 7;
        continue;
      }
      size_t k = 0, len = 0;
      bool done = false;
      for (std::string_view word : {"#BYVALUE", "#BYVAL", "#BYNAME", "#BYVAR"}) {
        if (done || !startsWithNoCase(text.substr(i), word) || !which(i + word.size(), &k, &len)) continue;
        out += word.substr(0, 6) == "#BYVAL" ? by[k].value : by[k].name;
        i += word.size() + len;
        done = true;
      }
      if (done) continue;
    }
    out += text[i++];
  }
  return out;
}

namespace {

// The name files have without OUTNAME=.
constexpr const char* kDefaultStem = "tavlo";

// The kind's word in lower case: .png, .svg, .pdf, .html.
std::string extensionOf(render::OutputKind kind) {
  return "." + lower(optionWord(GlobalOpt::Output, static_cast<int>(kind)));
}

}  // namespace

std::string graphFileName(int n, render::OutputKind kind) {
  return (n <= 0 ? std::string(kDefaultStem) : kDefaultStem + std::to_string(n)) +
         extensionOf(kind);
}

std::string stemFileName(std::string_view stem, int number, int width, render::OutputKind kind) {
  std::string digits = std::to_string(number);
  if (static_cast<int>(digits.size()) < width)
    digits.insert(0, static_cast<size_t>(width) - digits.size(), '0');
  return std::string(stem) + digits + extensionOf(kind);
}

bool isGraphFileName(std::string_view name, std::string_view stem) {
  if (stem.empty()) stem = kDefaultStem;
  if (name.substr(0, stem.size()) != stem) return false;
  size_t i = stem.size();
  while (i < name.size() && isDigit(name[i])) ++i;
  const std::string_view ext = name.substr(i);
  for (int k = 0; k <= static_cast<int>(render::OutputKind::Html); ++k)
    if (ext == extensionOf(static_cast<render::OutputKind>(k))) return true;
  return false;
}

bool formatTipValue(std::string_view format, double value, char missing, std::string* text) {
  host::FormatDesc f;
  int width = 0, decimals = 0;
  if (!resolveFormatText(format, &f, &width, &decimals) || f.character) return false;
  *text = trimmed(formatNumber(f, width, decimals, value, missing));
  return true;
}

// --- DataSetTable -------------------------------------------------------------------

std::string DataSetTable::displayName() const { return ds_->name(); }

std::string DataSetTable::coordinateSystem() const {
  return system_.empty() ? ds_->crs() : system_;
}

void DataSetTable::keepGroupOf(const host::DataSet& byData,
                               const std::vector<host::ByVariable>& by) {
  // Each BY variable here and its value in the group, numbers by value and
  // texts without trailing blanks.
  struct Wanted {
    int var;
    bool numeric;
    double num;
    std::string_view chr;
  };
  auto trimmedEnd = [](std::string_view v) {
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    return v;
  };
  std::vector<Wanted> wanted;
  for (size_t k = 0; k < by.size(); ++k) {
    const int var = ds_->find(by[k].name);
    if (var < 0) return;
    const bool numeric = ds_->desc(var).type == host::kNumeric;
    wanted.push_back({var, numeric, numeric ? byData.byNum(k) : 0.0,
                      numeric ? std::string_view() : trimmedEnd(byData.byChr(k))});
  }
  std::vector<size_t> kept;
  for (size_t pos = lo_; pos < hi_; ++pos) {
    const size_t row = ds_->rowAt(pos);
    const bool same = std::all_of(wanted.begin(), wanted.end(), [&](const Wanted& w) {
      if (!w.numeric) return trimmedEnd(ds_->chrAt(w.var, row)) == w.chr;
      const double v = ds_->numAt(w.var, row);
      return v == w.num || (std::isnan(v) && std::isnan(w.num));
    });
    if (same) kept.push_back(pos);
  }
  rows_ = kept.size();
  positions_ = std::move(kept);
  columns_.clear();
  counts_.reset();
}

DataSetTable::DataSetTable(std::string name, const host::DataSet* ds, char missing)
    : name_(std::move(name)), ds_(ds), missing_(missing) {
  const host::DataSet::Range range = ds->readingRange();
  lo_ = range.lo;
  hi_ = range.hi;
  rows_ = hi_ - lo_;
}

std::unique_ptr<render::DataColumn> DataSetTable::described(int var) const {
  const host::VarDesc d = ds_->desc(var);
  auto col = std::make_unique<render::DataColumn>();
  col->name = d.name;
  col->label = d.label.empty() ? d.name : d.label;
  col->numeric = d.type == host::kNumeric;
  host::FormatDesc f;
  if (!d.format.empty() && resolveFormat(d.format, &f)) {
    const int width = d.formatWidth, decimals = d.formatDecimals;
    const char missing = missing_;
    col->format = d.format;
    if (col->numeric)
      col->formatNumber = [f, width, decimals, missing](double v) {
        return formatNumber(f, width, decimals, v, missing);
      };
    else
      col->formatText = [f, width](std::string_view v) { return formatChar(f, width, v); };
  }
  return col;
}

void DataSetTable::noteTooLong(const std::string& var) {
  longTexts_.push_back("Values of the variable " + var + " in " + ds_->name() +
                       " are longer than " + std::to_string(render::kMaxDisplayBytes) +
                       " bytes; they are shown cut there.");
}

const render::DataColumn* DataSetTable::runColumn(std::string_view name) {
  for (const auto& c : runColumns_)
    if (sameNoCase(c->name, name)) return c.get();
  const int var = ds_->find(name);
  const rt::Column* stored = var < 0 ? nullptr : ds_->storedColumn(var);
  size_t first = 0;
  if (!stored || !stored->runs || positions_ || rows_ == 0 ||
      !ds_->consecutiveRows(lo_, hi_, &first))
    return column(name);
  // The runs of the rows read, counted from the first of them, and their
  // values as the table holds them.
  auto col = described(var);
  const std::vector<size_t>& r = *stored->runs;
  const size_t k0 = stored->slot(first), k1 = stored->slot(first + rows_ - 1) + 1;
  auto runs = std::make_shared<std::vector<size_t>>();
  runs->reserve(k1 - k0 + 1);
  for (size_t k = k0; k < k1; ++k) runs->push_back(k == k0 ? 0 : r[k] - first);
  runs->push_back(rows_);
  if (col->numeric) {
    col->num = render::Numbers::view(stored->num.data() + k0, k1 - k0);
  } else {
    bool tooLong = false;
    col->chr.reserve(k1 - k0);
    for (size_t k = k0; k < k1; ++k) {
      col->chr.push_back(stored->str(r[k]));
      tooLong = tooLong || col->chr.back().size() > render::kMaxDisplayBytes;
    }
    if (tooLong && std::none_of(columns_.begin(), columns_.end(), [&](const auto& c) {
          return sameNoCase(c->name, col->name);
        }))
      noteTooLong(col->name);
  }
  col->runs = std::move(runs);
  runColumns_.push_back(std::move(col));
  return runColumns_.back().get();
}

const render::DataColumn* DataSetTable::column(std::string_view name) {
  for (const auto& c : columns_)
    if (sameNoCase(c->name, name)) return c.get();
  const int var = ds_->find(name);
  if (var < 0) return nullptr;
  const host::VarDesc d = ds_->desc(var);
  auto col = described(var);
  bool tooLong = false;
  size_t first = 0;
  const rt::Column& stored = *ds_->storedColumn(var);
  // Numbers of consecutive rows of the table are taken as it stores them.
  const bool whole = col->numeric && !positions_ && ds_->consecutiveRows(lo_, hi_, &first);
  const bool viewed = whole && !stored.runs && stored.num.size() >= first + rows_;
  const bool byRuns = whole && stored.runs;
  if (viewed) {
    // The rows as the table stores them: no copy (the data set outlives
    // the drawing, as the texts' views already need).
    col->num = render::Numbers::view(stored.num.data() + first, rows_);
  } else if (byRuns) {
    // Values held once per run, given to each row of the run.
    std::vector<double> values(rows_);
    stored.numbers(first, rows_, values.data());
    col->num = std::move(values);
  } else if (col->numeric) {
    std::vector<double> values;
    values.reserve(rows_);
    eachPosition([&](size_t pos) { values.push_back(ds_->numAt(var, ds_->rowAt(pos))); });
    col->num = std::move(values);
  } else {
    col->chr.reserve(rows_);
    eachPosition([&](size_t pos) {
      col->chr.push_back(ds_->chrAt(var, ds_->rowAt(pos)));
      tooLong = tooLong || col->chr.back().size() > render::kMaxDisplayBytes;
    });
  }
  if (tooLong && std::none_of(runColumns_.begin(), runColumns_.end(), [&](const auto& c) {
        return sameNoCase(c->name, d.name) && c->runs;
      }))
    noteTooLong(d.name);
  columns_.push_back(std::move(col));
  return columns_.back().get();
}

const render::DataColumn* DataSetTable::rowCounts() {
  const std::vector<double>* counts = ds_->rowCounts();
  if (!counts) return nullptr;
  if (!counts_) {
    counts_ = std::make_unique<render::DataColumn>();
    std::vector<double> values;
    values.reserve(rows_);
    eachPosition([&](size_t pos) {
      const size_t row = ds_->rowAt(pos);
      values.push_back(row < counts->size() ? (*counts)[row] : 1);
    });
    counts_->num = std::move(values);
  }
  return counts_.get();
}

// --- Drawing and writing ---------------------------------------------------------------

render::RenderRequest GraphManagerImpl::request(host::DataSet* byData,
                                               std::vector<std::unique_ptr<DataSetTable>>& tables) const {
  render::RenderRequest req;
  req.options = options();
  req.threads = threadCount(SIZE_MAX);
  req.formatValue = [missing = missing_](std::string_view format, double value, std::string* text) {
    return formatTipValue(format, value, missing, text);
  };
  req.tiles.baseDir = output_.baseDir;
  req.skipTiles = tilesFailed_;
  req.gradLegendStatements = gradLegends_;
  req.stepProjection = stepProjection_;
  req.stepBubbles = stepBubbles_;
  for (const DataSourceImpl* s : data_->sources()) {
    tables.push_back(std::make_unique<DataSetTable>(std::string(s->data()->name()),
                                                    s->dataSet(), missing_));
    req.data.push_back(tables.back().get());
  }
  for (const host::DynamicValue& v : dynamics_) {
    if (v.dataSet && v.regionLayer) {
      // A region layer's own map: drawn in every group's map, unless it has
      // the BY variables, when it shows the group's rows.
      auto table = std::make_unique<DataSetTable>(v.name, v.dataSet, missing_);
      if (!v.value.empty()) table->setCoordinateSystem(render::decodeTextEscapes(v.value));
      const bool grouped = std::all_of(by_.begin(), by_.end(), [&](const host::ByVariable& b) {
        return v.dataSet->find(b.name) >= 0;
      });
      if (byData && byData != v.dataSet && grouped) table->keepGroupOf(*byData, by_);
      req.regionMaps.push_back(table.get());
      tables.push_back(std::move(table));
    } else if (v.dataSet) {
      tables.push_back(std::make_unique<DataSetTable>(v.name, v.dataSet, missing_));
      if (!req.mapData) req.mapData = tables.back().get();
    } else {
      req.dynamics[v.name] = v.value;
    }
  }
  if (byData) {
    const std::vector<ByValue> by = byValues(byData);
    req.dynamics["__BYLINE__"] = byLineOf(by);
    if (byTexts_) {
      for (size_t i = 0; i < byTexts_->size(); ++i) {
        const host::Value& value = byTexts_->valueAt(i);
        std::string text;
        if (const auto* str = std::get_if<std::string>(&value)) text = *str;
        else if (const auto* h = std::get_if<const host::HStr*>(&value))
          text = std::string(StringPool::text(*h));
        req.dynamics[std::string(byTexts_->keyAt(i))] = substituteByValues(text, by);
      }
    }
  }
  return req;
}

void GraphManagerImpl::logOnce(const std::vector<std::string>& lines, bool warnings) {
  for (const std::string& line : lines) {
    if (!warned_.insert(line).second) continue;
    if (warnings) log_.warning(line);
    else log_.note(line);
  }
}

void GraphManagerImpl::logGroupMessages() {
  auto inGroup = [](const std::vector<render::DataMessage>& list, const render::DataMessage& m) {
    return std::find(list.begin(), list.end(), m) != list.end();
  };
  for (const auto& [byLine, messages] : groupMessages_) {
    for (const render::DataMessage& m : messages) {
      const bool everyGroup = std::all_of(groupMessages_.begin(), groupMessages_.end(),
                                          [&](const auto& g) { return inGroup(g.second, m); });
      if (everyGroup) {
        logOnce({m.text}, m.warning);
        continue;
      }
      const std::string text = "BY group " + byLine + ": " + m.text;
      if (m.warning) log_.warning(text);
      else log_.note(text);
    }
  }
  groupMessages_.clear();
  logOnce(responseJoins_.notes(), false);
  responseJoins_.clear();
}

bool GraphManagerImpl::chooseProjection() {
  std::vector<std::unique_ptr<DataSetTable>> tables;
  try {
    render::StepChoice step = render::chooseStep(*compiled_->model(), request(nullptr, tables));
    const render::ProjectionChoice& c = step.projection;
    logOnce(c.warnings, true);
    if (!c.note.empty()) logOnce({c.note}, false);
    stepProjection_ = c.projection;
    stepBubbles_ = std::move(step.bubbles);
  } catch (const render::UnusableData& e) {
    log_.error(e.what());
    dataError_ = true;
    return false;
  } catch (const std::exception& e) {
    log_.error(std::string("The map could not be drawn: ") + e.what());
    return false;
  }
  return true;
}

std::unique_ptr<GraphManagerImpl::Job> GraphManagerImpl::prepare(host::DataSet* byData) const {
  auto job = std::make_unique<Job>();
  job->req = request(byData, job->tables);
  if (byData) {
    job->byLine = byLineOf(byValues(byData));
    job->req.byGroup = true;
  }
  return job;
}

void GraphManagerImpl::draw(Job& job, const render::MapProjectionPtr& projection) const {
  job.rendered = false;
  job.result = {};
  job.drawn = {};
  job.error.clear();
  job.fatal = nullptr;
  job.req.stepProjection = projection;
  try {
    job.result = render::renderGraph(*compiled_->model(), job.req);
    job.rendered = true;
    render::RenderResult& r = job.result;
    if (job.req.panel) {
      // A panel is kept as drawn until its page is.
      if (!r.canvas && r.document.empty() && !r.page)
        throw std::runtime_error("the renderer gave no drawing");
      job.drawn.panel.canvas = std::move(r.canvas);
      job.drawn.panel.svg = std::move(r.document);
      job.drawn.panel.page = std::move(r.page);
    } else if (render::outputKindOf(job.req.options) == render::OutputKind::Png) {
      if (!r.canvas) throw std::runtime_error("the renderer gave no image");
      const std::vector<unsigned char> png = render::encodePngSpending(*r.canvas);
      job.drawn.bytes.assign(png.begin(), png.end());
      job.drawn.width = r.canvas->width();
      job.drawn.height = r.canvas->height();
      r.canvas.reset();  // the file is all that is kept of a map in flight
    } else {
      // Never an empty file in place of a drawing.
      if (job.req.pdfPage) {
        if (!r.page) throw std::runtime_error("the renderer gave no page");
        job.drawn.page = std::move(r.page);
      } else {
        if (r.document.empty()) throw std::runtime_error("the renderer gave no drawing");
        job.drawn.bytes = std::move(r.document);
      }
      job.drawn.width = job.req.options.integer(GlobalOpt::GraphWidth);
      job.drawn.height = job.req.options.integer(GlobalOpt::GraphHeight);
    }
  } catch (const std::bad_alloc&) {
    job.fatal = std::current_exception();  // the host's memory message and code
  } catch (const render::UnusableData& e) {
    job.error = e.what();
    job.dataError = true;
  } catch (const std::exception& e) {
    job.error = std::string("The map could not be drawn: ") + e.what();
  } catch (...) {
    job.fatal = std::current_exception();
  }
}

bool GraphManagerImpl::take(Job& job) {
  if (job.rendered) {
    render::RenderResult& r = job.result;
    // Every BY group meets the same problems: each is logged once.
    logOnce(r.notes, false);
    for (const std::string& line : r.imageNotes) log_.note(line);
    logOnce(r.warnings, true);
    if (!by_.empty()) {
      groupMessages_.emplace_back(job.byLine, std::move(r.dataMessages));
      for (const render::ResponseJoin& j : r.responseJoins) responseJoins_.add(j);
    } else {
      for (const render::DataMessage& m : r.dataMessages) logOnce({m.text}, m.warning);
    }
    tilesFailed_ = tilesFailed_ || r.tilesFailed;
    for (const auto& t : job.tables) logOnce(t->longTexts(), true);
  }
  if (job.fatal) std::rethrow_exception(job.fatal);
  if (!job.error.empty()) {
    log_.error(job.error);
    dataError_ = job.dataError;
    return false;
  }
  return true;
}

const OptionValues& GraphManagerImpl::options() const {
  static const OptionValues defaults;
  return output_.options ? *output_.options : defaults;
}

unsigned GraphManagerImpl::threadCount(size_t groups) const {
  return static_cast<unsigned>(std::min<size_t>(
      threadsAllowed(options().integer(GlobalOpt::Threads)), std::max<size_t>(groups, 1)));
}

// --- Writing images -------------------------------------------------------------------

StagedImages::~StagedImages() { discard(); }

bool StagedImages::add(const std::string& final, const std::vector<unsigned char>& bytes,
                       std::string* why) {
  return add(final,
             std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), why);
}

bool StagedImages::add(const std::string& final, std::string_view bytes, std::string* why) {
  Staged f;
  f.final = final;
  struct stat st {};
  if (int err = writeTempBeside(final, bytes.data(), bytes.size(), f.tmp, &st)) {
    *why = std::strerror(err);
    return false;
  }
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  files_.push_back(std::move(f));
  return true;
}

bool StagedImages::commit(std::vector<std::string>* written, std::string* why) {
  for (size_t i = 0; i < files_.size(); ++i) {
    Staged& f = files_[i];
    if (std::rename(f.tmp.c_str(), f.final.c_str()) != 0) {
      *why = f.final + ": " + std::strerror(errno);
      // The images this step put in place go again, if they are still ours
      // (another run may have replaced one since).
      for (size_t k = 0; k < i; ++k) {
        struct stat st {};
        if (::stat(files_[k].final.c_str(), &st) == 0 && st.st_dev == files_[k].dev &&
            st.st_ino == files_[k].ino)
          ::unlink(files_[k].final.c_str());
      }
      files_.erase(files_.begin(), files_.begin() + static_cast<ptrdiff_t>(i));
      discard();
      return false;
    }
    forgetTempFile(f.tmp);
    written->push_back(f.final);
  }
  files_.clear();
  return true;
}

void StagedImages::discard() {
  for (const Staged& f : files_) removeTempFile(f.tmp);
  files_.clear();
}

bool GraphManagerImpl::outputFolder(std::string* dir) {
  namespace fs = std::filesystem;
  std::error_code ec;
  *dir = output_.outDir.empty() ? std::string(".") : output_.outDir;
  if (fs::is_directory(*dir, ec)) return true;
  if (fs::exists(*dir, ec)) {
    log_.error("The output folder " + *dir + " cannot be used: it is a file, not a folder.");
    return false;
  }
  fs::create_directories(*dir, ec);
  if (ec) {
    log_.error("The output folder " + *dir + " cannot be made: " + ec.message() + ".");
    return false;
  }
  return true;
}

std::string GraphManagerImpl::fileName(size_t index, size_t files) const {
  const render::OutputKind kind = render::outputKindOf(options());
  const std::string& stem = options().text(GlobalOpt::OutName);
  if (stem.empty()) {
    const int first = output_.graphsWritten ? *output_.graphsWritten : 0;
    return graphFileName(first + static_cast<int>(index), kind);
  }
  // Numbered on from the stem's last number, all as wide as the step's
  // largest, so that they sort as they were drawn.
  int first = 1;
  if (output_.stemNumbers)
    if (auto it = output_.stemNumbers->find(stem); it != output_.stemNumbers->end())
      first += it->second;
  const int last = first + static_cast<int>(std::max<size_t>(files, 1)) - 1;
  return stemFileName(stem, first + static_cast<int>(index),
                      static_cast<int>(std::to_string(last).size()), kind);
}

bool GraphManagerImpl::stage(StagedImages& staged, const std::string& dir,
                             std::string_view bytes) {
  namespace fs = std::filesystem;
  const std::string path =
      (fs::path(dir) / fileName(staged.size(), stepFiles_)).lexically_normal();
  std::string why;
  if (staged.add(path, bytes, &why)) return true;
  log_.error("The map could not be written in the folder " + dir + " (" +
             fs::path(path).filename().string() + "): " + why + ".");
  return false;
}

bool GraphManagerImpl::stagePanelPage(StagedImages& staged, const std::string& dir,
                                      const render::RenderRequest& step, int columns) {
  const render::OutputKind kind = render::outputKindOf(options());
  const size_t first = pageSpans_.empty() ? 0 : pageSpans_.back().second;
  std::vector<const render::Panel*> these;
  for (const render::Panel& p : panels_) these.push_back(&p);
  std::string bytes, size;
  try {
    // Ids of the panels numbered after those the HTML page gives its pages.
    render::RenderResult r = render::renderPanelPage(*compiled_->model(), step, these, columns,
                                                     stepFiles_ + first);
    logOnce(r.warnings, true);
    size = std::to_string(static_cast<int>(r.pageWidth)) + " x " +
           std::to_string(static_cast<int>(r.pageHeight));
    if (kind == render::OutputKind::Png) {
      const std::vector<unsigned char> png = render::encodePngSpending(*r.canvas);
      bytes.assign(png.begin(), png.end());
      size = std::to_string(r.canvas->width()) + " x " + std::to_string(r.canvas->height());
    } else {
      bytes = std::move(r.document);
    }
  } catch (const UserError& e) {
    log_.error(std::string("The maps could not be drawn as panels: ") + e.what());
    return false;
  }
  pageSpans_.emplace_back(first, first + panels_.size());
  panels_.clear();
  sizes_.push_back(size);
  if (kind != render::OutputKind::Html) return stage(staged, dir, bytes);
  pageMaps_.push_back({"", std::move(bytes)});
  return true;
}

bool GraphManagerImpl::stagePage(StagedImages& staged, const std::string& dir) {
  // The page is titled by the step's first title; a title that names BY
  // values belongs to one map, not to the page of them all.
  std::string title = output_.pageTitle;
  if (!by_.empty() && upper(title).find("#BY") != std::string::npos) title.clear();
  if (title.find_first_not_of(' ') == std::string::npos) title = "tavlo";
  const std::string page = render::htmlPage(trimmed(title), pageMaps_);
  pageMaps_.clear();
  return stage(staged, dir, page);
}

host::Status GraphManagerImpl::render() {
  if (!data_ || !compiled_) return -1;
  written_.clear();
  warned_.clear();
  groupMessages_.clear();
  responseJoins_.clear();
  dataError_ = false;
  pageMaps_.clear();
  sizes_.clear();
  tilesFailed_ = false;
  stepProjection_.reset();
  stepBubbles_.reset();
  const OptionValues& options = this->options();
  const render::OutputKind kind = render::outputKindOf(options);
  const bool page = kind == render::OutputKind::Html;
  // BYPANELS=: a BY step's maps are the panels of pages.
  const int columns = options.integer(GlobalOpt::ByPanels);
  const bool paneled = columns > 0 && !by_.empty();
  panels_.clear();
  pageSpans_.clear();
  // A BY step's PDF maps are the pages of one file.
  const bool book = kind == render::OutputKind::Pdf && !by_.empty() && !paneled;
  std::optional<render::PdfBook> pdf;
  stepFiles_ = 1;
  if (const std::string& format = options.text(GlobalOpt::GraphFormat);
      !format.empty() && format != "PNG") {
    const std::string setting = options.spelled(GlobalOpt::GraphFormat);
    if (kind == render::OutputKind::Png)
      log_.warning("The renderer writes PNG images; " + setting + " is drawn as PNG.");
    else
      log_.warning(setting + " does not choose the kind of map file; " +
                   globalOption(GlobalOpt::Output).name + "= does.");
  }
  // Each map is written as soon as it is drawn, under a temporary name;
  // they take their names only when the whole step has succeeded. The maps
  // of an HTML page are kept until the page is whole.
  std::string dir;
  if (!outputFolder(&dir)) return host::kOk;
  StagedImages staged;
  // BYPANELS=: the request of the step's data, for the pages, and how many
  // panels go on each page.
  std::vector<std::unique_ptr<DataSetTable>> stepTables;
  render::RenderRequest stepRequest;
  std::vector<size_t> pageCounts;
  // Keeps one drawn map: staged as its own file, or kept for the page
  // (under its BY line, `caption`), or added to the PDF file.
  auto keep = [&](std::string caption, Drawn& drawn) {
    if (paneled) {
      // A page is drawn as soon as its panels are.
      panels_.push_back(std::move(drawn.panel));
      if (panels_.size() < pageCounts[pageSpans_.size()]) return true;
      return stagePanelPage(staged, dir, stepRequest, columns);
    }
    const std::string size = std::to_string(drawn.width) + " x " + std::to_string(drawn.height);
    if (page || book) {
      if (sizes_.empty()) sizes_.push_back(size);
      if (page) {
        pageMaps_.push_back({std::move(caption), std::move(drawn.bytes)});
        return true;
      }
      try {
        if (!pdf) pdf.emplace(drawn.width, drawn.height);
        pdf->add(*drawn.page);
      } catch (const UserError& e) {
        log_.error(std::string("The map could not be drawn: ") + e.what());
        return false;
      }
      drawn.page.reset();
      return true;
    }
    sizes_.push_back(size);
    return stage(staged, dir, drawn.bytes);
  };
  if (by_.empty()) {
    const ProgressTask task("drawing the map");
    std::unique_ptr<Job> job = prepare(nullptr);
    draw(*job, stepProjection_);
    if (!take(*job)) return failed();
    ++renderings_;
    if (!keep("", job->drawn)) return host::kOk;
  } else {
    // The groups come from the first data set of the graph that has every
    // BY variable: the plot data when there is one.
    std::vector<host::DataSet*> candidates;
    for (const DataSourceImpl* s : data_->sources()) candidates.push_back(s->dataSet());
    for (const host::DynamicValue& v : dynamics_)
      if (v.dataSet) candidates.push_back(v.dataSet);
    host::DataSet* byData = nullptr;
    for (host::DataSet* ds : candidates) {
      const bool all = std::all_of(by_.begin(), by_.end(),
                                   [&](const host::ByVariable& b) { return ds->find(b.name) >= 0; });
      if (all) {
        byData = ds;
        break;
      }
    }
    if (!byData) {
      std::string names;
      for (const host::ByVariable& b : by_) names += (names.empty() ? "" : " ") + b.name;
      // A fault of the program, not of the host: the ERROR ends the step
      // with the user-error code, and nothing is drawn.
      log_.error("No data set of the graph " + label_ + " has the BY variables " + names + ".");
      return host::kOk;
    }
    // One projection and one bubble scale for every BY group, chosen from
    // all of them.
    if (!chooseProjection()) return dataError_ ? host::kOk : host::Status{-3};
    if (paneled) stepRequest = request(nullptr, stepTables);
    try {
      byData->setBy(by_);
      if (paneled)
        pageCounts = render::panelPages(*compiled_->model(), stepRequest, byData->groupCount(),
                                        columns);
    } catch (const UserError& e) {
      log_.error((paneled ? "The maps could not be drawn as panels: " : "") + std::string(e.what()));
      byData->byRewind(true);
      return host::kOk;
    }
    if (paneled) stepFiles_ = pageCounts.size();
    else if (!page && !book) stepFiles_ = byData->groupCount();
    bool ok = true, kept = true;
    ProgressTask task("drawing the BY groups", byData->groupCount());
    uint64_t taken = 0;
    {
      // The groups are drawn on the threads, each with a projection of its
      // own (PROJ objects serve one thread), and taken in their order: the
      // log and the files are those of drawing them one after another. A
      // few groups per thread are in flight, so a long BY series does not
      // pile up in memory.
      unsigned threads = threadCount(byData->groupCount());
      std::vector<render::MapProjectionPtr> projections(threads, stepProjection_);
      if (threads > 1 && stepProjection_) {
        for (render::MapProjectionPtr& p : projections)
          if (!(p = stepProjection_->copyForThread())) threads = 1;
        if (threads == 1) projections.assign(1, stepProjection_);
      }
      std::optional<Workers> own;
      Workers& workers = output_.workers ? *output_.workers : own.emplace(setUpDrawingThread);
      OrderedWork<Job> work(workers, threads, [&](Job& job, unsigned worker) {
        draw(job, projections[worker]);
      });
      const size_t window = threads > 1 ? 2 * static_cast<size_t>(threads) : 1;
      // With map tiles the first group is drawn alone: a provider that has
      // none is asked once, and the later groups do not ask it again.
      const auto& layers = compiled_->model()->layers;
      bool alone = std::any_of(layers.begin(), layers.end(), [](const render::Layer& l) {
        return l.kind == render::LayerKind::Map;
      });
      bool more = true;
      while (ok && kept) {
        while (more && work.pending() < (alone ? 1 : window)) {
          if (!(more = byData->byNext())) break;
          std::unique_ptr<Job> job = prepare(byData);
          job->req.skipTiles = tilesFailed_;
          job->req.panel = paneled;
          job->req.pdfPage = book || (paneled && kind == render::OutputKind::Pdf);
          if (threads > 1) job->req.threads = 1;  // the groups share the threads
          work.submit(std::move(job));
        }
        std::unique_ptr<Job> job = work.next();
        if (!job) break;
        // An earlier group that got no tile, taken after this one was
        // given out: this one is drawn again without asking for tiles, as
        // it would have been drawn one group after another.
        if (tilesFailed_ && !job->req.skipTiles) {
          job->req.skipTiles = true;
          draw(*job, stepProjection_);
        }
        ok = take(*job);
        task.set(++taken);
        alone = false;
        if (ok) {
          ++renderings_;
          kept = keep(job->byLine, job->drawn);
        }
      }
    }
    byData->byRewind(true);
    if (!ok) return failed();
    if (!kept) return host::kOk;
    logGroupMessages();
  }
  if (page && !stagePage(staged, dir)) return host::kOk;
  if (pdf) {
    std::string bytes;
    try {
      bytes = pdf->finish();
    } catch (const UserError& e) {
      log_.error(std::string("The map could not be drawn: ") + e.what());
      return host::kHostFailure;
    }
    pdf.reset();
    if (!stage(staged, dir, bytes)) return host::kOk;
  }
  if (output_.stepFailed && output_.stepFailed()) {
    log_.note("No map was written because of the errors above.");
    return host::kOk;
  }
  std::string why;
  if (!staged.commit(&written_, &why)) {
    log_.error("The maps could not be put in place in the folder " + dir + ": " + why + ".");
    written_.clear();
    return host::kOk;
  }
  // Every file counts in the run's numbering, whatever its name; the
  // numbers of a stem go on from its last.
  const int files = static_cast<int>(written_.size());
  if (output_.graphsWritten) *output_.graphsWritten += files;
  if (output_.stemNumbers && files > 0) {
    const std::string& stem = options.text(GlobalOpt::OutName);
    if (stem.empty()) {
      const int last = output_.graphsWritten ? *output_.graphsWritten - 1 : files - 1;
      int& n = (*output_.stemNumbers)[kDefaultStem];
      n = std::max(n, last);
    } else {
      (*output_.stemNumbers)[stem] += files;
    }
  }
  if (output_.filesWritten)
    output_.filesWritten->insert(output_.filesWritten->end(), written_.begin(), written_.end());
  for (size_t i = 0; paneled && i < written_.size() && i < sizes_.size(); ++i) {
    const std::string maps = std::to_string(renderings_);
    if (page) {
      log_.note("The " + maps + " maps were written as panels to " + written_[i] + ".");
    } else if (pageSpans_.size() == 1) {
      log_.note("The " + maps + " maps were written as panels to " + written_[i] + " (" +
                sizes_[i] + ").");
    } else if (i < pageSpans_.size()) {
      log_.note("Maps " + std::to_string(pageSpans_[i].first + 1) + " to " +
                std::to_string(pageSpans_[i].second) + " of the " + maps +
                " were written as panels to " + written_[i] + " (" + sizes_[i] + ").");
    }
  }
  for (size_t i = 0; !paneled && i < written_.size() && i < sizes_.size(); ++i) {
    if ((page || book) && renderings_ > 1)
      log_.note("The " + std::to_string(renderings_) + " maps were written to " + written_[i] +
                " (" + sizes_[i] + " each).");
    else
      log_.note("The map was written to " + written_[i] + " (" + sizes_[i] + ").");
  }
  return host::kOk;
}

// --- Registration ---------------------------------------------------------------------

void registerRenderClasses(ObjectFactoryImpl& factory, RenderContext context) {
  auto ctx = std::make_shared<RenderContext>(std::move(context));
  factory.registerClass("template", [ctx](std::string_view) {
    return std::make_unique<CompiledTemplate>(*ctx->log);
  });
  factory.registerClass("DataSource", [](std::string_view) {
    return std::make_unique<DataSourceImpl>();
  });
  factory.registerClass("multidata", [](std::string_view) {
    return std::make_unique<DataCollectionImpl>();
  });
  factory.registerClass("graph_manager", [ctx](std::string_view) {
    std::vector<host::ByVariable> by = ctx->byVariables ? ctx->byVariables()
                                                        : std::vector<host::ByVariable>{};
    return std::make_unique<GraphManagerImpl>(*ctx->log, std::move(by),
                                              ctx->missing ? ctx->missing() : '.',
                                              ctx->output ? ctx->output() : GraphOutput{});
  });
}

}  // namespace qv::rt
