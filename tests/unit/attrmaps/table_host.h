// A host for the attribute-map and BY-group tests: the module's fake host
// with small in-memory data sets that have rows, display formats and BY
// groups, and an object factory that can refuse the n-th object.
#pragma once

#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "fake_host.h"
#include "runtime/objects/objects.h"

namespace qv::test {

// A cell: a number (NaN is missing) or a text.
using Cell = std::variant<double, std::string>;

struct TableColumn {
  std::string name;
  int type = host::kCharacter;  // kNumeric or kCharacter
  std::string format;           // e.g. "DOLLAR8.2", "" for none
};

struct Table {
  std::string library = "WORK";
  std::string member;
  std::vector<TableColumn> columns;
  std::vector<std::vector<Cell>> rows;
  // Reading state.
  std::vector<size_t> groupStart;  // BY groups: first row of each, plus the end
  bool byActive = false;
  long group = -1;
  size_t lo = 0, hi = 0, cursor = 0;
  bool current = false;
  size_t row = 0;
};

class RecordingFactory final : public host::ObjectFactory {
 public:
  host::Object* create(std::string_view ns, std::string_view cls,
                       std::string_view arg = {}) override;
  void release(host::Object* o) override { real.release(o); }
  size_t live() const { return real.liveObjects(); }

  rt::ObjectFactoryImpl real;
  int made = 0;
  int failAt = 0;  // the n-th create from now answers null (see failCreateAt)
  void failCreateAt(int n) { failAt = n > 0 ? made + n : 0; }
};

class TableHost final : public FakeHost {
 public:
  // A data set; rows hold one cell per column ("" and NaN are missing).
  host::DataSet* addTable(std::string member, std::vector<TableColumn> columns,
                          std::vector<std::vector<Cell>> rows);
  Table* table(host::DataSet* ds);

  void setBy(std::vector<std::string> names);  // the step's BY variables
  RecordingFactory factory;
  bool failRewind = false;  // xrewind answers a failure
  int nextCalls = 0;        // xnext calls that answered an observation

  host::ObjectFactory* xobinit() override { return &factory; }
  host::Status xoinfo(host::DataSet* ds, int item, int64_t* out) override;
  host::Status xvfind(host::DataSet* ds, std::string_view name, int* number) override;
  host::Status xvname(host::DataSet* ds, int number, host::VarDesc* out) override;
  int xvcount(host::DataSet* ds) override;
  std::string dsLibrary(host::DataSet* ds) override;
  std::string dsMember(host::DataSet* ds) override;
  host::Status xrewind(host::DataSet* ds) override;
  bool xnext(host::DataSet* ds) override;
  double xgetnum(host::DataSet* ds, int number) override;
  std::string_view xgetchr(host::DataSet* ds, int number) override;
  const std::vector<host::ByVariable>& xbyvars() override { return by_; }
  host::Status xbyinit(host::DataSet* ds) override;
  bool xbynext(host::DataSet* ds) override;
  host::Status xbyrwnd(host::DataSet* ds, bool toFirst) override;
  host::Status xfrname(std::string_view name, host::FormatDesc* out) override;
  std::string xfxpn(const host::FormatDesc& f, int width, int decimals, double value) override;
  std::string xfxpc(const host::FormatDesc& f, int width, std::string_view value) override;

 private:
  void setRange(Table& t);
  std::deque<Table> tables_;
  std::vector<host::ByVariable> by_;
};

}  // namespace qv::test
