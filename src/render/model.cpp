#include "render/model.h"

#include "render/data.h"

namespace qv::render {

namespace {

const Value* findIn(const std::vector<Option>& items, std::string_view name) {
  for (const Option& o : items)
    if (sameNameNoCase(o.name, name)) return &o.value;
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
    if (sameNameNoCase(m.name, n)) return &m;
  return nullptr;
}

const RangeAttrMap* GraphModel::rangeMap(std::string_view n) const {
  for (const RangeAttrMap& m : rangeMaps)
    if (sameNameNoCase(m.name, n)) return &m;
  return nullptr;
}

const Layer* GraphModel::layer(std::string_view n) const {
  for (const Layer& l : layers)
    if (!l.name.empty() && sameNameNoCase(l.name, n)) return &l;
  return nullptr;
}

}  // namespace qv::render
