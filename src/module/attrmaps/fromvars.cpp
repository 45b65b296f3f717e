// Attribute maps made from the values of plot variables: under BY groups
// the plots refer to generated attribute variables, and each gets a map that
// lists every value met in any group, so a value keeps its attributes from
// one map to the next.

#include <string>

#include "module/attrmaps/attrmaps.h"
#include "module/attrmaps/mapdata.h"
#include "module/host/statements.h"

namespace qv::module {

using host::kOk;
using host::Status;

std::string nameLiteral(std::string_view name) {
  std::string out = "'";
  for (char c : name) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += "'n";
  return out;
}

host::Status scriptVVNVar(host::Stream* out, const host::HStr* name) {
  if (!out || !name) return kOk;
  const std::string_view text = host::host().kdlgstr(name);
  if (text.empty()) return kOk;
  return attrmap::put(out, nameLiteral(text));
}

namespace {

const host::List* valueList(const host::Value& v) {
  const auto* p = std::get_if<void*>(&v);
  return p && *p ? dynamic_cast<const host::List*>(static_cast<host::Object*>(*p)) : nullptr;
}

bool blank(std::string_view s) { return s.find_first_not_of(' ') == std::string_view::npos; }

// The map of one variable: its bindings, header and values.
Status writeMap(const PlotContext& plot, std::string_view var, const host::List& values,
                const std::string& name, host::Stream* out) {
  const bool anyNames = plotFlag(plot, host::kFlagAnyNames);
  const std::string written = anyNames ? nameLiteral(var) : std::string(var);
  std::string text;
  if (const host::Value* a = plot.attrVars ? plot.attrVars->get(var) : nullptr) {
    text += "DiscreteAttrVar attrvar=" + std::string(attrmap::valueText(*a)) + " var=" +
            written + " attrmap=\"" + name + "\";";
  }
  const std::string sortExpression = "eval(sort(" + written + ", RETAIN=ALL))";
  if (const host::Value* b = plot.attrVars ? plot.attrVars->get(sortExpression) : nullptr) {
    text += "DiscreteAttrVar attrvar=" + std::string(attrmap::valueText(*b)) + " var=" +
            sortExpression + " attrmap=\"" + name + "\";";
  }
  text += "DiscreteAttrMap name=\"" + name + "\" / autocycleattrs=1;";

  // A blank value is the missing one: written as its format shows it, when
  // the variable's format gives it a text of its own.
  std::string missing;
  if (const host::Value* m = plot.missingTexts ? plot.missingTexts->get(var) : nullptr)
    missing = std::string(attrmap::valueText(*m));
  if (missing.empty()) missing = attrmap::characterVariable(plot, var) ? " " : ".";
  for (size_t i = 0; i < values.size(); ++i) {
    const std::string_view v = attrmap::valueText(values.at(i));
    std::string esc;
    if (!attrmap::escaped(blank(v) ? std::string_view(missing) : v, &esc))
      return host::kNoMemory;
    text += "Value \"" + esc + "\";";
  }
  return attrmap::put(out, text);
}

}  // namespace

host::Status createAttrMapsFromVars(PlotContext* plot, host::Stream* out, int) {
  if (!plot || !out || !plot->valueLists || plot->valueLists->size() == 0) return kOk;
  const host::AssocArray& lists = *plot->valueLists;
  for (size_t i = 0; i < lists.size(); ++i) {
    const host::List* values = valueList(lists.valueAt(i));
    if (!values) return host::kHostFailure;
    if (i > 0) {
      QV_TRY(attrmap::put(out, "EndDiscreteAttrMap;"));
    }
    const std::string name = i == 0 ? "__ATTRMAP__" : "__ATTRMAP__" + std::to_string(i);
    QV_TRY(writeMap(*plot, lists.keyAt(i), *values, name, out));
  }
  return attrmap::put(out, "EndDiscreteAttrMap;");
}

}  // namespace qv::module
