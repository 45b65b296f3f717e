#include "runtime/session/render_objects.h"

#include <algorithm>

#include "runtime/common/error.h"
#include "runtime/data/dataset.h"
#include "runtime/formats/formats.h"

namespace qv::rt {

namespace {

constexpr size_t kSnippetLength = 40;

std::string trimmed(std::string_view s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string_view::npos) return {};
  const size_t e = s.find_last_not_of(' ');
  return std::string(s.substr(b, e - b + 1));
}

std::string plural(int64_t n, std::string_view word) {
  return std::to_string(n) + " " + std::string(word) + (n == 1 ? "" : "s");
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
                                     host::AssocArray* byTexts) {
  const auto* collection = dynamic_cast<const DataCollectionImpl*>(data);
  const auto* tmpl = dynamic_cast<const CompiledTemplate*>(compiled);
  if (!collection || !tmpl || !tmpl->model()) return host::kHostFailure;
  data_ = collection;
  compiled_ = tmpl;
  label_ = label;
  description_ = description;
  dynamics_ = dynamics;
  byTexts_ = byTexts;
  renderings_ = 0;
  return host::kOk;
}

// The BY line of the current group: "var=value, var=value", each value in
// its variable's display format when it has one.
std::string GraphManagerImpl::byLine(host::DataSet* ds) const {
  std::string line;
  for (size_t k = 0; k < by_.size(); ++k) {
    const host::VarDesc d = ds->desc(ds->byVarIndex(k));
    host::FormatDesc f;
    const bool formatted = !d.format.empty() && resolveFormat(d.format, &f);
    std::string value;
    if (d.type == host::kNumeric) {
      int width = d.formatWidth;
      if (!formatted) {
        resolveFormat("BEST", &f);
        width = 12;
      }
      value = trimmed(formatNumber(f, width, d.formatDecimals, ds->byNum(k), missing_));
    } else {
      value = formatted ? formatChar(f, d.formatWidth, ds->byChr(k)) : std::string(ds->byChr(k));
      value = trimmed(value);
    }
    if (!line.empty()) line += ", ";
    line += d.name + "=" + value;
  }
  return line;
}

std::string GraphManagerImpl::describe(std::string_view byLine,
                                       const host::DataSet* byData) const {
  std::string text = "Graph " + label_ + " from template " + compiled_->name();
  if (!description_.empty()) text += " (\"" + description_ + "\")";
  if (!byLine.empty()) text += " for " + std::string(byLine);
  text += ": data ";
  if (data_->sources().empty()) text += "none";
  bool first = true;
  for (const DataSourceImpl* source : data_->sources()) {
    host::DataSet* ds = source->dataSet();
    int64_t observations = ds->info(24);
    if (ds == byData) {
      // The observations of this BY group.
      observations = 0;
      ds->rewind();
      while (ds->next()) ++observations;
    }
    std::string columns;
    for (const std::string& c : source->data()->columns()) columns += (columns.empty() ? "" : ", ") + c;
    if (columns.empty()) columns = "no columns";
    text += (first ? "" : ", ") + std::string(source->data()->name()) + " (" + columns + "; " +
            plural(observations, "observation") + ")";
    first = false;
  }
  text += "; dynamic values ";
  if (dynamics_.empty()) text += "none";
  first = true;
  for (const host::DynamicValue& v : dynamics_) {
    text += (first ? "" : ", ") + v.name + "=" + (v.dataSet ? v.dataSet->name() : v.value);
    first = false;
  }
  return text + ".";
}

host::Status GraphManagerImpl::render() {
  if (!data_ || !compiled_) return -1;
  if (by_.empty()) {
    log_.note(describe({}, nullptr));
    ++renderings_;
    return host::kOk;
  }
  // The groups come from the first data set of the graph that has every BY
  // variable: the plot data when there is one.
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
    log_.error("No data set of the graph " + label_ + " has the BY variables " + names + ".");
    return -2;
  }
  try {
    byData->setBy(by_);
  } catch (const UserError& e) {
    log_.error(e.what());
    return -2;
  }
  while (byData->byNext()) {
    log_.note(describe(byLine(byData), byData));
    ++renderings_;
  }
  byData->byRewind(true);
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
                                              ctx->missing ? ctx->missing() : '.');
  });
}

}  // namespace qv::rt
