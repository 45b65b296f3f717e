#include "fake_host.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/ascii.h"
#include "module/entry/entry.h"

namespace qv::test {

namespace {

std::string argText(const host::Arg& a) {
  if (const auto* i = std::get_if<long long>(&a.v)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&a.v)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", *d);
    return buf;
  }
  return std::get<std::string>(a.v);
}

}  // namespace

FakeHost::~FakeHost() {
  void* self = static_cast<host::Host*>(this);
  if (module::v_global_gcb_anchor == self) module::mcn_main(nullptr, nullptr);
  for (auto& [name, slot] : slots_)
    if (slot.cleanup && slot.value) slot.cleanup(slot.value);
  for (void* b : live_) std::free(b);
}

void FakeHost::install() { module::mcn_main(static_cast<host::Host*>(this), nullptr); }

void FakeHost::failAllocAt(int n) { failAt_ = n > 0 ? allocCalls_ + n : 0; }

void FakeHost::setSwitch(std::string_view option, bool on) { switches_[upper(option)] = on; }
void FakeHost::setTextOption(std::string_view option, std::string value) {
  textOptions_[upper(option)] = std::move(value);
}
void FakeHost::setSetting(int number, std::string value) { settings_[number] = std::move(value); }
void FakeHost::setMacro(std::string_view name, std::string value) {
  macros_[upper(name)] = std::move(value);
}
void FakeHost::setEnv(std::string_view name, std::string value) {
  env_[std::string(name)] = std::move(value);
}

void FakeHost::clearEnv(std::string_view name) { env_.erase(std::string(name)); }

bool FakeHost::xjsymgc(std::string_view name, std::string* value) {
  auto it = macros_.find(upper(name));
  if (it == macros_.end()) return false;
  if (value) *value = it->second;
  return true;
}

bool FakeHost::xoptbgt(std::string_view option) {
  auto it = switches_.find(upper(option));
  return it != switches_.end() && it->second;
}

void FakeHost::xoptbst(std::string_view option, bool on) { setSwitch(option, on); }

std::string FakeHost::xoptcgt(std::string_view option) {
  auto it = textOptions_.find(upper(option));
  return it == textOptions_.end() ? std::string() : it->second;
}

host::Status FakeHost::xyrcgef(int setting, std::string* value) {
  auto it = settings_.find(setting);
  if (it == settings_.end()) return host::kHostFailure;
  if (value) *value = it->second;
  return host::kOk;
}

host::DataSet* FakeHost::addValueSet(ValueSet set) {
  for (size_t i = 0; i < set.vars.size(); ++i) set.vars[i].desc.number = static_cast<int>(i);
  valueSets_.push_back(std::move(set));
  return reinterpret_cast<host::DataSet*>(&valueSets_.back());
}

FakeHost::ValueSet* FakeHost::valueSet(host::DataSet* ds) {
  return recordOf(valueSets_, ds);
}

host::Status FakeHost::xoinfo(host::DataSet* ds, int item, int64_t* out) {
  ValueSet* s = valueSet(ds);
  if (s == nullptr || out == nullptr) return host::kNoSuchOperation;
  if (auto it = s->items.find(item); it != s->items.end()) {
    *out = it->second;
    return host::kOk;
  }
  int64_t n = s->observations;
  if (n < 0) n = s->vars.empty() ? 0 : static_cast<int64_t>(s->vars[0].values.size());
  switch (item) {
    case 3:
    case 24:
      if (!s->countable) return host::kHostFailure;
      *out = n;
      return host::kOk;
    case 28: *out = 1; return host::kOk;
    case 35: *out = 0; return host::kOk;
    case 41: *out = -1; return host::kOk;
    default: *out = 0; return host::kOk;
  }
}

host::Status FakeHost::xvfind(host::DataSet* ds, std::string_view name, int* number) {
  ValueSet* s = valueSet(ds);
  if (s == nullptr) return host::kHostFailure;
  for (const ValueVar& v : s->vars) {
    if (sameNoCase(v.desc.name, name)) {
      if (number) *number = v.desc.number;
      return host::kOk;
    }
  }
  return host::kHostFailure;
}

host::Status FakeHost::xvname(host::DataSet* ds, int number, host::VarDesc* out) {
  ValueSet* s = valueSet(ds);
  if (s == nullptr || number < 0 || static_cast<size_t>(number) >= s->vars.size())
    return host::kHostFailure;
  if (out) *out = s->vars[static_cast<size_t>(number)].desc;
  return host::kOk;
}

int FakeHost::xvcount(host::DataSet* ds) {
  ValueSet* s = valueSet(ds);
  return s ? static_cast<int>(s->vars.size()) : 0;
}

std::string FakeHost::dsLibrary(host::DataSet* ds) {
  ValueSet* s = valueSet(ds);
  return s ? s->library : "";
}
std::string FakeHost::dsMember(host::DataSet* ds) {
  ValueSet* s = valueSet(ds);
  return s ? s->member : "";
}
std::string FakeHost::dsObject(host::DataSet* ds) {
  ValueSet* s = valueSet(ds);
  return s ? s->object : "";
}

host::Status FakeHost::xsortvals(host::DataSet* ds, int number, bool distinct,
                                 std::vector<double>* out) {
  ValueSet* s = valueSet(ds);
  if (s == nullptr || out == nullptr || number < 0 ||
      static_cast<size_t>(number) >= s->vars.size())
    return host::kHostFailure;
  ++s->sorts;
  if (s->sortStatus != 0) {
    *out = s->sortExtra;
    return s->sortStatus;
  }
  out->clear();
  for (double v : s->vars[static_cast<size_t>(number)].values)
    if (!std::isnan(v)) out->push_back(v);
  std::sort(out->begin(), out->end());
  if (distinct) out->erase(std::unique(out->begin(), out->end()), out->end());
  return host::kOk;
}

host::Status FakeHost::xrewind(host::DataSet* ds) {
  ValueSet* s = valueSet(ds);
  if (s == nullptr) return host::kHostFailure;
  ++s->rewinds;
  return host::kOk;
}

double FakeHost::xgetnum(host::DataSet*, int) { return std::nan(""); }
host::Status FakeHost::xselpush(host::DataSet*, std::string_view) { return host::kHostFailure; }
host::Status FakeHost::xbyinit(host::DataSet*) { return host::kHostFailure; }
host::Status FakeHost::xbyrwnd(host::DataSet* ds, bool) {
  ValueSet* s = valueSet(ds);
  if (s == nullptr || !s->byActive) return host::kHostFailure;
  ++s->byRewinds;
  return host::kOk;
}
host::Status FakeHost::xfrname(std::string_view, host::FormatDesc*) { return host::kHostFailure; }

void FakeHost::xpmlog(int set, int number, std::initializer_list<host::Arg> args) {
  Message m{set, number, {}};
  for (const host::Arg& a : args) m.args.push_back(argText(a));
  messages.push_back(std::move(m));
}

void* FakeHost::vmalcp(size_t size) {
  ++allocCalls_;
  if (allocCalls_ == failAt_) {
    failAt_ = 0;
    return nullptr;
  }
  void* b = std::malloc(size ? size : 1);
  if (b) live_.insert(b);
  return b;
}

void FakeHost::vmfree(void* block) {
  if (block == nullptr) return;
  if (live_.erase(block) != 0) std::free(block);  // not ours, or freed twice: left alone
}

const host::HStr* FakeHost::kdltxt(const char* chars, long length) {
  if (failStrings) return nullptr;
  std::string text;
  if (chars != nullptr) {
    text = length < 0 ? std::string(chars) : std::string(chars, static_cast<size_t>(length));
  }
  const std::string& node = *strings_.insert(std::move(text)).first;
  return reinterpret_cast<const host::HStr*>(&node);
}

std::string_view FakeHost::kdlgstr(const host::HStr* s) {
  if (s == nullptr) return {};
  return *reinterpret_cast<const std::string*>(s);
}

int FakeHost::ggtitleMax(char kind) {
  auto it = titles.find(kind);
  return it == titles.end() || it->second.empty() ? 0 : it->second.rbegin()->first;
}

const host::TitleEntry* FakeHost::ggtitle(char kind, int number) {
  auto it = titles.find(kind);
  if (it == titles.end()) return nullptr;
  auto e = it->second.find(number);
  return e == it->second.end() ? nullptr : &e->second;
}

host::Status FakeHost::wzosvar(std::string_view name, std::string* value) {
  auto it = env_.find(std::string(name));
  if (it == env_.end()) return host::kEnvNotFound;
  if (value) *value = it->second;
  return host::kOk;
}

void** FakeHost::sessionSlot(std::string_view name, bool create, void (*cleanup)(void*)) {
  auto it = slots_.find(std::string(name));
  if (it == slots_.end()) {
    if (!create) return nullptr;
    it = slots_.emplace(std::string(name), Slot{nullptr, cleanup}).first;
  }
  return &it->second.value;
}

bool FakeHost::colorRegistry(std::string_view name, uint8_t rgb[3]) {
  auto it = colorNames.find(upper(name));
  if (it == colorNames.end()) return false;
  for (int i = 0; i < 3; ++i) rgb[i] = it->second[i];
  return true;
}

}  // namespace qv::test
