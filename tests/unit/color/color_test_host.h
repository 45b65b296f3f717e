// The fake host for the color tests, with the switches they need: memory
// that fails from a size on, after a number of blocks or always; session
// slots whose cleanup hooks run at the end of a session; and a user
// color-name registry that keeps the case of its names and counts lookups.
#pragma once

#include <array>
#include <map>
#include <string>

#include "fake_host.h"

namespace qv::test {

class ColorTestHost : public FakeHost {
 public:
  ~ColorTestHost() override { endSession(); }

  // Runs the slots' cleanup hooks, as the host does at the end of a session.
  void endSession() {
    auto slots = std::move(slots_);
    slots_.clear();
    for (auto& [name, s] : slots)
      if (s.cleanup) s.cleanup(s.value);
  }

  std::map<std::string, std::array<uint8_t, 3>> registry;
  int registryLookups = 0;
  bool failAll = false;        // every allocation fails
  size_t failFromSize = 0;     // allocations of at least this size fail (0: none)
  long allowAllocations = -1;  // allocations left before they fail (-1: no limit)

  void* vmalcp(size_t size) override {
    if (failAll || (failFromSize && size >= failFromSize) || allowAllocations == 0) return nullptr;
    if (allowAllocations > 0) --allowAllocations;
    return FakeHost::vmalcp(size);
  }
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

 private:
  struct Slot {
    void* value;
    void (*cleanup)(void*);
  };
  std::map<std::string, Slot> slots_;
};

}  // namespace qv::test
