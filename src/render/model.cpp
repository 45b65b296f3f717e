#include "render/model.h"

#include <cctype>

namespace qv::render {

namespace {

bool sameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

const Value* findIn(const std::vector<Option>& items, std::string_view name) {
  for (const Option& o : items)
    if (sameName(o.name, name)) return &o.value;
  return nullptr;
}

}  // namespace

const Value* Value::find(std::string_view name) const { return findIn(options, name); }

const Value* OptionList::find(std::string_view name) const { return findIn(items, name); }

const ColumnRef* Layer::column(Role role) const {
  for (const ColumnRef& c : columns)
    if (c.role == role) return &c;
  return nullptr;
}

const DiscreteAttrMap* GraphModel::discreteMap(std::string_view n) const {
  for (const DiscreteAttrMap& m : discreteMaps)
    if (sameName(m.name, n)) return &m;
  return nullptr;
}

const RangeAttrMap* GraphModel::rangeMap(std::string_view n) const {
  for (const RangeAttrMap& m : rangeMaps)
    if (sameName(m.name, n)) return &m;
  return nullptr;
}

const Layer* GraphModel::layer(std::string_view n) const {
  for (const Layer& l : layers)
    if (!l.name.empty() && sameName(l.name, n)) return &l;
  return nullptr;
}

}  // namespace qv::render
