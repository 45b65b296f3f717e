// A small in-memory host for module unit tests.
//
// Interns host strings, hands out memory with malloc (with a switch to make a
// chosen allocation fail), records messages, log lines and the exit code, and
// answers options, settings, macro and environment variables from maps the
// test fills. Every other service answers "not available": a non-zero status,
// false, null or an empty value.
#pragma once

#include <array>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "module/host/host.h"

namespace qv::test {

// Test hosts hand a data set to the module as the address of its record:
// the record in `sets` behind the handle `ds`, or null.
template <class Record>
Record* recordOf(std::deque<Record>& sets, host::DataSet* ds) {
  for (Record& s : sets)
    if (reinterpret_cast<host::DataSet*>(&s) == ds) return &s;
  return nullptr;
}

class FakeHost : public host::Host {
 public:
  struct Message {
    int set = 0;
    int number = 0;
    std::vector<std::string> args;  // each argument as text (numbers with %g / %lld)
  };

  FakeHost() = default;
  ~FakeHost() override;  // uninstalls itself when it is the current host
  FakeHost(const FakeHost&) = delete;
  FakeHost& operator=(const FakeHost&) = delete;

  // Makes this the host the module reaches through host::host().
  void install();

  // Memory: the n-th vmalcp call from now (1 = the next one) returns null;
  // 0 turns the failure off. It fails once, then allocations work again.
  void failAllocAt(int n);
  size_t liveBlocks() const { return live_.size(); }
  int allocCalls() const { return allocCalls_; }
  int memMessages() const { return memMessages_; }

  // Host strings: when set, kdltxt answers null.
  bool failStrings = false;

  // What the module wrote.
  std::vector<Message> messages;
  std::vector<std::string> logLines;        // xpslog
  std::vector<host::Status> serviceErrors;  // xprrlog
  std::optional<host::Status> exitCode;     // xexit

  // Settings the test chooses (names are matched without regard to case).
  void setSwitch(std::string_view option, bool on);
  void setTextOption(std::string_view option, std::string value);
  void setSetting(int number, std::string value);
  void setMacro(std::string_view name, std::string value);
  void setEnv(std::string_view name, std::string value);
  void clearEnv(std::string_view name);

  // Data sets of variables that the test fills. xvname, xvfind, xvcount,
  // xsortvals, xoinfo, xrewind, xbyrwnd and the data set names answer from
  // them; a handle that is not one of them gets "not available" as before.
  struct ValueVar {
    host::VarDesc desc;          // number is set by addValueSet
    std::vector<double> values;  // NaN is missing
  };
  struct ValueSet {
    std::vector<ValueVar> vars;
    std::string library, member, object;
    std::map<int, int64_t> items;   // xoinfo answers that take the place of the usual ones
    int64_t observations = -1;      // -1: the number of values of the first variable
    bool countable = true;          // false: xoinfo cannot tell the count
    bool byActive = false;          // xbyrwnd answers only under BY groups
    host::Status sortStatus = 0;    // non-zero: xsortvals fails with it
    std::vector<double> sortExtra;  // handed back (unsorted) with a failing status
    int sorts = 0, rewinds = 0, byRewinds = 0;  // calls seen
  };
  host::DataSet* addValueSet(ValueSet set);
  // The set behind a handle (null when the handle is not a value set).
  ValueSet* valueSet(host::DataSet* ds);

  // --- host::Host ---
  bool xjsymgc(std::string_view name, std::string* value) override;
  bool xoptbgt(std::string_view option) override;
  void xoptbst(std::string_view option, bool on) override;
  std::string xoptcgt(std::string_view option) override;
  host::Status xyrcgef(int setting, std::string* value) override;

  host::Status xoinfo(host::DataSet*, int, int64_t*) override;
  host::Status xvfind(host::DataSet*, std::string_view, int*) override;
  host::Status xvname(host::DataSet*, int, host::VarDesc*) override;
  int xvcount(host::DataSet*) override;
  std::string dsLibrary(host::DataSet* ds) override;
  std::string dsMember(host::DataSet* ds) override;
  std::string dsObject(host::DataSet* ds) override;
  host::Status xsortvals(host::DataSet*, int, bool, std::vector<double>*) override;
  host::Status xrewind(host::DataSet*) override;
  bool xnext(host::DataSet*) override { return false; }
  double xgetnum(host::DataSet*, int) override;
  std::string_view xgetchr(host::DataSet*, int) override { return {}; }
  host::Status xselpush(host::DataSet*, std::string_view) override;

  const std::vector<host::ByVariable>& xbyvars() override { return byVars_; }
  host::Status xbyinit(host::DataSet*) override;
  bool xbynext(host::DataSet*) override { return false; }
  host::Status xbyrwnd(host::DataSet*, bool) override;

  host::Status xfrname(std::string_view, host::FormatDesc*) override;
  std::string xfxpn(const host::FormatDesc&, int, int, double) override { return {}; }
  std::string xfxpc(const host::FormatDesc&, int, std::string_view) override { return {}; }

  void xpmlog(int set, int number, std::initializer_list<host::Arg> args = {}) override;
  std::string xpmstr(int, int) override { return {}; }
  void xpslog(std::string_view line) override { logLines.emplace_back(line); }
  void xprrlog(host::Status code) override { serviceErrors.push_back(code); }

  void xexit(host::Status code) override { exitCode = code; }
  void* vmalcp(size_t size) override;
  void vmfree(void* block) override;
  void xmemmsg() override { ++memMessages_; }

  host::ObjectFactory* xobinit() override { return nullptr; }
  const host::HStr* kdltxt(const char* chars, long length) override;
  std::string_view kdlgstr(const host::HStr* s) override;

  // Titles ('T') and footnotes ('F') served by ggtitle, by kind and number.
  std::map<char, std::map<int, host::TitleEntry>> titles;
  int ggtitleMax(char kind) override;
  const host::TitleEntry* ggtitle(char kind, int number) override;

  std::string& outputFormat() override { return outputFormat_; }
  host::Status wzosvar(std::string_view name, std::string* value) override;

  host::Status xsproc(const host::Grammar&, int, host::StatementList*) override {
    return host::kHostFailure;
  }
  void** sessionSlot(std::string_view name, bool create, void (*cleanup)(void*)) override;
  bool colorRegistry(std::string_view name, uint8_t rgb[3]) override;
  // User color names answered by colorRegistry (upper-case keys).
  std::map<std::string, std::array<uint8_t, 3>> colorNames;

 private:
  struct Slot {
    void* value;
    void (*cleanup)(void*);
  };
  std::map<std::string, Slot> slots_;
  std::deque<ValueSet> valueSets_;  // nodes are stable: handles point into it
  std::set<std::string> strings_;  // nodes are stable: handles point into it
  std::set<void*> live_;
  int allocCalls_ = 0;
  int failAt_ = 0;  // allocation number that fails, 0 for none
  int memMessages_ = 0;
  std::map<std::string, bool> switches_;
  std::map<std::string, std::string> textOptions_;
  std::map<int, std::string> settings_;
  std::map<std::string, std::string> macros_;
  std::map<std::string, std::string> env_;
  std::vector<host::ByVariable> byVars_;
  std::string outputFormat_ = "PNG";
};

}  // namespace qv::test
