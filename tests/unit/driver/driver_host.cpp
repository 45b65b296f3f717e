#include "driver_host.h"

#include "common/ascii.h"

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
    h_->rendered.checkAtCompile = h_->crenderCheck();
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
    std::string cols;
    for (const std::string& c : s->data_->columns()) cols += (cols.empty() ? "" : " ") + c;
    h_->rendered.columns.push_back(cols);
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
                     host::AssocArray* byTexts) override {
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
  FakeDataSet ds;
  ds.library = std::move(library);
  ds.member = std::move(member);
  ds.vars = std::move(vars);
  ds.observations = observations;
  ds.items = std::move(items);
  sets_.push_back(std::move(ds));
  return reinterpret_cast<host::DataSet*>(&sets_.back());
}

FakeDataSet* DriverHost::find(host::DataSet* ds) {
  return recordOf(sets_, ds);
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

host::Status DriverHost::xoinfo(host::DataSet* ds, int item, int64_t* out) {
  FakeDataSet* s = find(ds);
  if (!s) return host::kHostFailure;
  if (auto it = s->items.find(item); it != s->items.end()) {
    *out = it->second;
    return host::kOk;
  }
  switch (item) {
    case 3: case 24: *out = s->observations; break;
    case 28: case 95: *out = 1; break;
    case 41: *out = -1; break;
    default: *out = 0; break;
  }
  return host::kOk;
}

host::Status DriverHost::xvfind(host::DataSet* ds, std::string_view name, int* number) {
  FakeDataSet* s = find(ds);
  for (size_t i = 0; s && i < s->vars.size(); ++i) {
    const std::string& v = s->vars[i].first;
    if (sameNoCase(v, name)) {
      *number = int(i);
      return host::kOk;
    }
  }
  return host::kHostFailure;
}

host::Status DriverHost::xvname(host::DataSet* ds, int number, host::VarDesc* out) {
  FakeDataSet* s = find(ds);
  if (!s || number < 0 || number >= int(s->vars.size())) return host::kHostFailure;
  out->number = number;
  out->name = s->vars[number].first;
  out->type = s->vars[number].second;
  return host::kOk;
}

int DriverHost::xvcount(host::DataSet* ds) {
  FakeDataSet* s = find(ds);
  return s ? int(s->vars.size()) : 0;
}
std::string DriverHost::dsLibrary(host::DataSet* ds) {
  FakeDataSet* s = find(ds);
  return s ? s->library : "";
}
std::string DriverHost::dsMember(host::DataSet* ds) {
  FakeDataSet* s = find(ds);
  return s ? s->member : "";
}
std::string DriverHost::dsObject(host::DataSet* ds) {
  FakeDataSet* s = find(ds);
  return s ? s->object : "";
}

}  // namespace qv::test
