// The objects the procedure hands its graph to: the template compiler
// ("template"), the data sources ("DataSource"), the data collection
// ("multidata") and the graph manager ("graph_manager") that builds the
// graph and renders it, once per BY group when BY groups are in effect.
//
// Until the renderer draws images, a rendering is one NOTE in the log that
// names the graph, its data sources (data object, columns, observations)
// and its dynamic values, with the BY line of its group.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "module/host/host.h"
#include "render/compiler.h"
#include "runtime/log/log.h"
#include "runtime/objects/objects.h"

namespace qv::rt {

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

// "graph_manager".
class GraphManagerImpl final : public host::GraphManager {
 public:
  // `by`: the step's BY variables (none: one rendering); `missing`: the
  // character a missing BY value shows as.
  GraphManagerImpl(Log& log, std::vector<host::ByVariable> by, char missing)
      : log_(log), by_(std::move(by)), missing_(missing) {}
  std::string_view className() const override { return "graph_manager"; }

  // Fails unless the template has compiled and the collection is ours.
  host::Status build(host::DataCollection* data, host::Template* compiled,
                     std::string_view label, std::string_view description,
                     const std::vector<host::DynamicValue>& dynamics,
                     host::AssocArray* byTexts) override;
  // One rendering, or one per BY group. -1 when the graph was not built,
  // -2 when no data set of the graph has the BY variables.
  host::Status render() override;

  int renderings() const { return renderings_; }

 private:
  std::string describe(std::string_view byLine, const host::DataSet* byData) const;
  std::string byLine(host::DataSet* ds) const;

  Log& log_;
  std::vector<host::ByVariable> by_;
  char missing_;
  const DataCollectionImpl* data_ = nullptr;
  const CompiledTemplate* compiled_ = nullptr;
  std::string label_, description_;
  std::vector<host::DynamicValue> dynamics_;
  host::AssocArray* byTexts_ = nullptr;
  int renderings_ = 0;
};

// What the classes above need from the session, read when an object is made.
struct RenderContext {
  Log* log = nullptr;
  std::function<std::vector<host::ByVariable>()> byVariables;
  std::function<char()> missing;
};

// Registers the four classes with the factory.
void registerRenderClasses(ObjectFactoryImpl& factory, RenderContext context);

}  // namespace qv::rt
