// A host for the plot translator's tests: the module's fake host with data
// sets whose variables have types, labels and formats, selections that are
// recorded, a graph size, and the runtime's object factory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fake_host.h"
#include "runtime/objects/objects.h"

namespace qv::test {

struct TestVar {
  TestVar(std::string n, int t = host::kNumeric, std::string l = {}, std::string f = {})
      : name(std::move(n)), type(t), label(std::move(l)), format(std::move(f)) {}
  std::string name;
  int type;
  std::string label, format;
};

// What the host knows of a data set besides its variables.
struct TestDataSet {
  std::string member;
  int64_t selected = 0;             // item 35
  std::vector<std::string> pushed;  // selections pushed
};

class PlotsHost final : public FakeHost {
 public:
  PlotsHost() {
    setTextOption("GRAPHWIDTH", "640");
    setTextOption("GRAPHHEIGHT", "480");
  }

  host::DataSet* addDataSet(std::string member, const std::vector<TestVar>& vars) {
    ValueSet set;
    for (const TestVar& v : vars) {
      ValueVar var;
      var.desc.name = v.name;
      var.desc.type = v.type;
      var.desc.label = v.label;
      var.desc.format = v.format;
      set.vars.push_back(std::move(var));
    }
    host::DataSet* ds = addValueSet(std::move(set));
    sets_[ds].member = std::move(member);
    return ds;
  }
  TestDataSet* find(host::DataSet* ds) {
    auto it = sets_.find(ds);
    return it == sets_.end() ? nullptr : &it->second;
  }

  rt::ObjectFactoryImpl factory;

  host::ObjectFactory* xobinit() override { return &factory; }
  std::string xpmstr(int set, int number) override {
    if (set == 854 && number == 241) return "Regions";
    return set == 854 && number == 218 ? "__MAP__" : "";
  }
  host::Status xoinfo(host::DataSet* ds, int item, int64_t* out) override {
    TestDataSet* s = find(ds);
    if (!s) return host::kHostFailure;
    *out = item == 35 ? s->selected : 0;
    return host::kOk;
  }
  std::string dsLibrary(host::DataSet* ds) override { return find(ds) ? "WORK" : ""; }
  std::string dsMember(host::DataSet* ds) override { return find(ds) ? find(ds)->member : ""; }
  host::Status xselpush(host::DataSet* ds, std::string_view where) override {
    TestDataSet* s = find(ds);
    if (!s) return host::kHostFailure;
    s->pushed.emplace_back(where);
    return host::kOk;
  }

 private:
  std::map<host::DataSet*, TestDataSet> sets_;
};

}  // namespace qv::test
