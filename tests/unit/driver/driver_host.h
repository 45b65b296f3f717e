// A host for driver tests: the module's fake host with its data sets named
// and typed, a parse that hands back a statement list the test builds, and
// the runtime's object factory behind a counter that can refuse the n-th
// object.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_host.h"
#include "module/host/statements.h"
#include "runtime/objects/objects.h"

namespace qv::test {

class CountingFactory final : public host::ObjectFactory {
 public:
  host::Object* create(std::string_view ns, std::string_view cls,
                       std::string_view arg = {}) override {
    ++made;
    if (made == failAt) return nullptr;
    return real.create(ns, cls, arg);
  }
  void release(host::Object* o) override { real.release(o); }
  size_t live() const { return real.liveObjects(); }

  rt::ObjectFactoryImpl real;
  int made = 0;
  int failAt = 0;  // the n-th create answers null
};

// What a step handed to rendering (through the fake classes "template",
// "DataSource", "multidata" and "graph_manager" the driver host registers).
struct Rendered {
  std::string compiledName;  // name the template was compiled under
  std::string text;          // the template text compiled
  std::string label, description;
  std::vector<host::DynamicValue> dynamics;
  std::vector<std::string> sources;  // data object names, in the order added
  bool finishedObjects = false;      // every data object was finished before its source
  bool byTexts = false;              // a BY text table came with the build
  bool collectionFinished = false;   // before the render call
  int renders = 0;
  // The output format as the template compiler saw it.
  std::string formatAtCompile;
};

class DriverHost final : public FakeHost {
 public:
  DriverHost();

  host::DataSet* addDataSet(std::string library, std::string member,
                            std::vector<std::pair<std::string, int>> vars,
                            int64_t observations = 3, std::map<int, int64_t> items = {});

  std::function<void(host::StatementList&)> program;  // what the parse gives
  int parseErrors = 0;
  host::Status parseStatus = 0;
  CountingFactory factory;
  bool noVarNameRule = false;  // the variable-name setting cannot be read

  Rendered rendered;           // what the last step handed to rendering
  bool failCompile = false;    // the template does not compile
  host::Status renderResult = 0;

  host::Status xsproc(const host::Grammar&, int, host::StatementList* out) override;
  host::ObjectFactory* xobinit() override { return &factory; }
  host::Status xyrcgef(int setting, std::string* value) override {
    return noVarNameRule ? host::kHostFailure : FakeHost::xyrcgef(setting, value);
  }
  std::string xpmstr(int set, int number) override;
};

}  // namespace qv::test
