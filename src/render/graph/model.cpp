#include "render/graph/model.h"

#include "common/ascii.h"

namespace qv::render {

const Value* Value::find(Attr attr) const {
  for (const AttrOption& o : attrs)
    if (o.attr == attr) return &o.value;
  return nullptr;
}

const Value* Value::role(std::string_view name) const {
  for (const RoleEntry& e : roles)
    if (sameNoCase(e.role, name)) return &e.value;
  return nullptr;
}

const Value* Options::find(Key key) const {
  for (const Option& o : items)
    if (o.key == key) return &o.value;
  return nullptr;
}

const Value* Options::last(Key key) const {
  const Value* v = nullptr;
  for (const Option& o : items)
    if (o.key == key) v = &o.value;
  return v;
}

const ColumnRef* Layer::column(Role role) const {
  for (const ColumnRef& c : columns)
    if (c.role == role) return &c;
  return nullptr;
}

const DiscreteAttrMap* GraphModel::discreteMap(std::string_view n) const {
  for (const DiscreteAttrMap& m : discreteMaps)
    if (sameNoCase(m.name, n)) return &m;
  return nullptr;
}

const RangeAttrMap* GraphModel::rangeMap(std::string_view n) const {
  for (const RangeAttrMap& m : rangeMaps)
    if (sameNoCase(m.name, n)) return &m;
  return nullptr;
}

const Layer* GraphModel::layer(std::string_view n) const {
  for (const Layer& l : layers)
    if (!l.name.empty() && sameNoCase(l.name, n)) return &l;
  return nullptr;
}

}  // namespace qv::render
