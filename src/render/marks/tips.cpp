// Tips and links of marks: the text a reader sees when the pointer rests on
// a mark, and the address it leads to.
#include "render/marks/draw.h"

namespace qv::render {

void MarkTips::init(Env& env, const Layer& layer, DataTable* table) {
  env_ = &env;
  if (!env.keepsMarks() || !table) return;
  if (!layer.tipNone)
    for (const Tip& t : layer.tips) {
      const DataColumn* c = table->column(t.column);
      if (!c) {
        env.warn("The tips of " + layerName(layer) + " leave out " + t.column +
                 ": it is not in the data " + table->displayName() + ".");
        continue;
      }
      parts_.push_back({t.label ? *t.label : c->label.empty() ? c->name : c->label, c, t.format});
    }
  if (const ColumnRef* u = layer.column(Role::Url)) {
    url_ = table->column(u->column);
    if (!url_)
      env.warn("The marks of " + layerName(layer) + " have no links: " + u->column +
               " is not in the data " + table->displayName() + ".");
  }
}

ItemInfo MarkTips::info(const char* kind, size_t row) const {
  ItemInfo out;
  out.kind = kind;
  if (row == SIZE_MAX) return out;
  for (const Part& p : parts_) {
    if (row >= p.column->size()) continue;
    std::string value;
    const auto& format = env_->req.formatValue;
    if (p.column->numeric && !p.format.empty() && format && !p.column->missing(row))
      format(p.format, p.column->num[row], &value);
    if (value.empty()) value = p.column->text(row);
    if (!out.tip.empty()) out.tip += '\n';
    out.tip += p.label + ": " + value;
  }
  if (url_ && row < url_->size()) out.url = url_->text(row);
  return out;
}

}  // namespace qv::render
