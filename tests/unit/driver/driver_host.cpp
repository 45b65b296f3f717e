#include "driver_host.h"

namespace qv::test {

namespace {

class FakeTemplate final : public host::Template {
 public:
  explicit FakeTemplate(DriverHost* h) : h_(h) {}
  std::string_view className() const override { return "template"; }
  host::Status compile(std::string_view name, std::string_view text) override {
    h_->rendered.compiledName = name;
    h_->rendered.text = text;
    h_->rendered.formatAtCompile = h_->outputFormat();
    return h_->failCompile ? host::kHostFailure : host::kOk;
  }

 private:
  DriverHost* h_;
};

class FakeSource final : public host::DataSource {
 public:
  std::string_view className() const override { return "DataSource"; }
  host::Status init(host::DataObject* data, host::DataSet* ds, host::Object* manager) override {
    data_ = data;
    return data && ds && manager ? host::kOk : host::kHostFailure;
  }
  host::DataObject* data_ = nullptr;
};

class FakeCollection final : public host::DataCollection {
 public:
  explicit FakeCollection(DriverHost* h) : h_(h) {}
  std::string_view className() const override { return "multidata"; }
  host::Status add(host::DataSource* source) override {
    auto* s = dynamic_cast<FakeSource*>(source);
    if (!s || !s->data_) return host::kHostFailure;
    h_->rendered.sources.emplace_back(s->data_->name());
    // A finished data object takes no more columns.
    h_->rendered.finishedObjects = s->data_->addColumn("__probe__") != host::kOk;
    return host::kOk;
  }
  host::Status finish() override {
    h_->rendered.collectionFinished = true;
    return host::kOk;
  }

 private:
  DriverHost* h_;
};

class FakeManager final : public host::GraphManager {
 public:
  explicit FakeManager(DriverHost* h) : h_(h) {}
  std::string_view className() const override { return "graph_manager"; }
  host::Status build(host::DataCollection* data, host::Template* compiled,
                     std::string_view label, std::string_view description,
                     const std::vector<host::DynamicValue>& dynamics,
                     host::AssocArray* byTexts, int /*gradLegends*/) override {
    if (!data || !compiled) return host::kHostFailure;
    h_->rendered.label = label;
    h_->rendered.description = description;
    h_->rendered.dynamics = dynamics;
    h_->rendered.byTexts = byTexts != nullptr;
    h_->rendered.collectionFinished = false;
    return host::kOk;
  }
  host::Status render() override {
    if (!h_->rendered.collectionFinished) return -1;
    ++h_->rendered.renders;
    return h_->renderResult;
  }

 private:
  DriverHost* h_;
};

}  // namespace

DriverHost::DriverHost() {
  setSetting(4429, "STRICT");
  setMacro("SYSSCP", "LIN X64");
  setEnv("QOR_KDLG_CRENDER_PATH", "/opt/renderer");
  rt::ObjectFactoryImpl& f = factory.real;
  f.registerClass("template", [this](std::string_view) {
    return std::make_unique<FakeTemplate>(this);
  });
  f.registerClass("DataSource", [](std::string_view) { return std::make_unique<FakeSource>(); });
  f.registerClass("multidata", [this](std::string_view) {
    return std::make_unique<FakeCollection>(this);
  });
  f.registerClass("graph_manager", [this](std::string_view) {
    return std::make_unique<FakeManager>(this);
  });
}

host::DataSet* DriverHost::addDataSet(std::string library, std::string member,
                                      std::vector<std::pair<std::string, int>> vars,
                                      int64_t observations, std::map<int, int64_t> items) {
  ValueSet s;
  s.library = std::move(library);
  s.member = std::move(member);
  for (auto& [name, type] : vars) {
    ValueVar v;
    v.desc.name = std::move(name);
    v.desc.type = type;
    s.vars.push_back(std::move(v));
  }
  s.observations = observations;
  s.items = std::move(items);
  s.items.emplace(95, 1);  // an ordinary file, unless the test says otherwise
  return addValueSet(std::move(s));
}

host::Status DriverHost::xsproc(const host::Grammar&, int, host::StatementList* out) {
  if (parseStatus) return parseStatus;
  if (program) program(*out);
  out->errors = parseErrors;
  return host::kOk;
}

std::string DriverHost::xpmstr(int set, int number) {
  if (set == 854 && number == 218) return "__MAP__";
  // Longer than the 32 characters a description keeps.
  if (set == 854 && number == 211) return "A map from the TAVLO procedure, for tests";
  return "";
}

}  // namespace qv::test
