// A host for the plot translator's tests: the module's fake host with data
// sets whose variables have types, labels and formats, selections that are
// recorded, a graph size, and the runtime's object factory.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "fake_host.h"
#include "module/host/statements.h"
#include "runtime/objects/objects.h"

namespace qv::test {

struct TestVar {
  TestVar(std::string n, int t = host::kNumeric, std::string l = {}, std::string f = {})
      : name(std::move(n)), type(t), label(std::move(l)), format(std::move(f)) {}
  std::string name;
  int type;
  std::string label;
  std::string format;
};

struct TestDataSet {
  std::string library = "WORK";
  std::string member;
  std::vector<TestVar> vars;
  int64_t selected = 0;  // item 35
  std::vector<std::string> pushed;  // selections pushed
};

class PlotsHost final : public FakeHost {
 public:
  PlotsHost() {
    setTextOption("GRAPHWIDTH", "640");
    setTextOption("GRAPHHEIGHT", "480");
  }

  host::DataSet* addDataSet(std::string member, std::vector<TestVar> vars,
                            std::string library = "WORK");
  TestDataSet* find(host::DataSet* ds);

  rt::ObjectFactoryImpl factory;

  host::ObjectFactory* xobinit() override { return &factory; }
  std::string xpmstr(int set, int number) override;
  host::Status xoinfo(host::DataSet* ds, int item, int64_t* out) override;
  host::Status xvfind(host::DataSet* ds, std::string_view name, int* number) override;
  host::Status xvname(host::DataSet* ds, int number, host::VarDesc* out) override;
  int xvcount(host::DataSet* ds) override;
  std::string dsLibrary(host::DataSet* ds) override;
  std::string dsMember(host::DataSet* ds) override;
  host::Status xselpush(host::DataSet* ds, std::string_view where) override;
  host::Status xselpop(host::DataSet* ds) override;

 private:
  std::deque<TestDataSet> sets_;
};

}  // namespace qv::test
