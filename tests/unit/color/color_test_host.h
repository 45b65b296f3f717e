// A small host for the color tests: memory with accounting and failure
// switches, session slots with cleanup hooks, a user color-name registry and
// a message record. Services the color code does not use answer with errors.
#pragma once

#include <array>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "module/host/host.h"

namespace qv::test {

class ColorTestHost : public host::Host {
 public:
  struct Message {
    int set, number;
    std::string text;
  };

  ~ColorTestHost() override { endSession(); }

  // Runs the slots' cleanup hooks, as the host does at the end of a session.
  void endSession() {
    auto slots = std::move(slots_);
    slots_.clear();
    for (auto& [name, s] : slots)
      if (s.cleanup) s.cleanup(s.value);
  }

  size_t liveBlocks() const { return live_.size(); }

  std::map<std::string, std::array<uint8_t, 3>> registry;
  int registryLookups = 0;
  std::vector<Message> messages;
  int memoryMessages = 0;
  bool failAll = false;           // every allocation fails
  size_t failFromSize = 0;        // allocations of at least this size fail (0: none)
  long allowAllocations = -1;     // allocations left before they fail (-1: no limit)

  // Memory.
  void* vmalcp(size_t size) override {
    if (failAll || (failFromSize && size >= failFromSize) || allowAllocations == 0) return nullptr;
    if (allowAllocations > 0) --allowAllocations;
    void* p = std::malloc(size ? size : 1);
    live_[p] = size;
    return p;
  }
  void vmfree(void* block) override {
    if (block && live_.erase(block)) std::free(block);
  }
  void xmemmsg() override { ++memoryMessages; }

  // Session slots and the registry.
  void** sessionSlot(std::string_view name, bool create, void (*cleanup)(void*)) override {
    auto it = slots_.find(std::string(name));
    if (it == slots_.end()) {
      if (!create) return nullptr;
      it = slots_.emplace(std::string(name), Slot{nullptr, cleanup}).first;
    }
    return &it->second.value;
  }
  bool colorRegistry(std::string_view name, uint8_t rgb[3]) override {
    ++registryLookups;
    auto it = registry.find(std::string(name));
    if (it == registry.end()) return false;
    for (int i = 0; i < 3; ++i) rgb[i] = it->second[i];
    return true;
  }

  // Messages.
  void xpmlog(int set, int number, std::initializer_list<host::Arg> args) override {
    std::string text;
    for (const host::Arg& a : args)
      if (auto s = std::get_if<std::string>(&a.v)) text += *s;
    messages.push_back({set, number, text});
  }
  std::string xpmstr(int, int) override { return {}; }
  void xpslog(std::string_view) override {}
  void xprrlog(host::Status) override {}

  // Everything else is not needed here.
  host::Status xsproc(const host::Grammar&, int, host::StatementList*) override { return host::kHostFailure; }
  bool xjsymgc(std::string_view, std::string*) override { return false; }
  bool xoptbgt(std::string_view) override { return false; }
  void xoptbst(std::string_view, bool) override {}
  std::string xoptcgt(std::string_view) override { return {}; }
  host::Status xyrcgef(int, std::string*) override { return host::kHostFailure; }
  host::Status xoinfo(host::DataSet*, int, int64_t*) override { return host::kHostFailure; }
  host::Status xvfind(host::DataSet*, std::string_view, int*) override { return host::kHostFailure; }
  host::Status xvname(host::DataSet*, int, host::VarDesc*) override { return host::kHostFailure; }
  int xvcount(host::DataSet*) override { return 0; }
  std::string dsLibrary(host::DataSet*) override { return {}; }
  std::string dsMember(host::DataSet*) override { return {}; }
  std::string dsObject(host::DataSet*) override { return {}; }
  host::Status xsortvals(host::DataSet*, int, bool, std::vector<double>*) override { return host::kHostFailure; }
  host::Status xrewind(host::DataSet*) override { return host::kHostFailure; }
  bool xnext(host::DataSet*) override { return false; }
  double xgetnum(host::DataSet*, int) override { return 0; }
  std::string_view xgetchr(host::DataSet*, int) override { return {}; }
  host::Status xselpush(host::DataSet*, std::string_view) override { return host::kHostFailure; }
  host::Status xselpop(host::DataSet*) override { return host::kHostFailure; }
  const std::vector<host::ByVariable>& xbyvars() override { return byVars_; }
  host::Status xbyinit(host::DataSet*) override { return host::kHostFailure; }
  bool xbynext(host::DataSet*) override { return false; }
  host::Status xbyrwnd(host::DataSet*, bool) override { return host::kHostFailure; }
  host::Status xfrname(std::string_view, host::FormatDesc*) override { return host::kHostFailure; }
  std::string xfxpn(const host::FormatDesc&, int, int, double) override { return {}; }
  std::string xfxpc(const host::FormatDesc&, int, std::string_view) override { return {}; }
  void xexit(host::Status) override {}
  host::ObjectFactory* xobinit() override { return nullptr; }
  const host::HStr* kdltxt(const char*, long) override { return nullptr; }
  std::string_view kdlgstr(const host::HStr*) override { return {}; }
  int ggtitleMax(char) override { return 0; }
  const host::TitleEntry* ggtitle(char, int) override { return nullptr; }
  bool& crenderCheck() override { return crender_; }
  std::string& outputFormat() override { return format_; }
  host::Status wzosvar(std::string_view, std::string*) override { return host::kEnvNotFound; }

 private:
  struct Slot {
    void* value;
    void (*cleanup)(void*);
  };
  std::map<std::string, Slot> slots_;
  std::map<void*, size_t> live_;
  std::vector<host::ByVariable> byVars_;
  bool crender_ = false;
  std::string format_ = "PNG";
};

}  // namespace qv::test
