#include "module/legends/legends.h"

#include <cstdio>
#include <string>
#include <string_view>

#include "module/color/color.h"
#include "module/grammar/grammar.h"
#include "module/text/cleanchars.h"

namespace qv::module {

using host::kOk;
using host::Slot;
using host::Statement;
using host::Status;

namespace {

constexpr std::string_view kKeyLegendFailed =
    "%1zKEYLEGEND statement failed. NAME= is required on at least one PLOT statement and "
    "the KEYLEGEND statement.";

// Unit texts of the size unit codes 1 to 6.
constexpr const char* kUnitTexts[] = {"", "px", "in", "cm", "mm", "%", "pt"};

std::string formatG(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// A table value as a host string: markers and titles are host strings, but
// a plain text is interned so that it compares by identity just the same.
const host::HStr* hostString(const host::Value& v) {
  if (const auto* p = std::get_if<const host::HStr*>(&v)) return *p;
  if (const auto* s = std::get_if<std::string>(&v))
    return host::host().kdltxt(s->data(), static_cast<long>(s->size()));
  return nullptr;
}

// Escapes `text` for a quoted template string and appends it. A null result
// means the host could not make the string (its memory message is written).
Status appendEscaped(std::string& out, std::string_view text) {
  host::Host& h = host::host();
  const host::HStr* e = CleanChars(text.data(), static_cast<int>(text.size()));
  if (!e) return host::kNoMemory;
  out += h.kdlgstr(e);
  return kOk;
}

// A text that names something in the template, written as held unless it
// holds a double quote (CleanName).
Status appendVerbatim(std::string& out, std::string_view text) {
  const host::HStr* e = CleanName(text.data(), static_cast<int>(text.size()));
  if (!e) return host::kNoMemory;
  out += host::host().kdlgstr(e);
  return kOk;
}

// A plot name in a list: a blank and the name in double quotes.
Status appendName(std::string& out, std::string_view name) {
  out += " \"";
  QV_TRY(appendVerbatim(out, name));
  out += '"';
  return kOk;
}

// " TitleAttrs=" or " ValueAttrs=": the style element name, then the given
// overrides in parentheses (size before family, no blank before ")").
Status appendTextAttrs(std::string& out, std::string_view option, const Slot& group) {
  if (group.kind != host::kSlotGroup) return kOk;
  const Slot& color = group.attr(host::kAttrColor);
  const Slot& size = group.attr(host::kAttrSize);
  const Slot& family = group.attr(host::kAttrFamily);
  const Slot& weight = group.attr(host::kAttrWeight);
  const Slot& style = group.attr(host::kAttrStyle);
  const bool overrides = color.present() || size.present() || family.present() ||
                         weight.present() || style.present();
  if (group.text.empty() && !overrides) return kOk;
  out += option;
  out += group.text;
  if (!overrides) return kOk;
  out += '(';
  if (color.present()) {
    char cx[8];
    process_color(color.text.data(), static_cast<int32_t>(color.text.size()), cx);
    out += " Color=";
    out.append(cx, sizeof cx);
  }
  if (size.present()) {
    out += " Size=";
    out += formatG(size.number);
    if (size.unit >= 1 && size.unit <= 6) out += kUnitTexts[size.unit];
  }
  if (family.present()) {
    out += " Family=\"";
    QV_TRY(appendVerbatim(out, family.text));
    out += '"';
  }
  if (weight.present()) out += weight.number == 2 ? " Weight=bold" : " Weight=normal";
  if (style.present()) out += style.number == 2 ? " Style=italic" : " Style=normal";
  out += ')';
  return kOk;
}

bool givenText(const Slot& s) { return s.kind == host::kSlotText; }

}  // namespace

Status parseLegend(const Statement& node, PlotContext* plot, host::Stream* out, int count,
                   int index) {
  if (!plot || !out) return host::kHostFailure;
  host::Host& h = host::host();
  host::AssocArray* table = plot->plotNames;
  const size_t entries = table ? table->size() : 0;
  const Slot& names = node.slot(Opt::LegendNames);
  const bool listed = names.kind == host::kSlotList && !names.list.empty();
  if (entries == 0 && !listed) return kOk;

  std::string s = "DiscreteLegend";
  bool groupTitle = false;
  if (listed) {
    // Each listed name, then the plots whose marker is that same host string.
    for (const Slot& name : names.list) {
      QV_TRY(appendName(s, name.text));
      const host::HStr* id = h.kdltxt(name.text.data(), static_cast<long>(name.text.size()));
      if (!id) continue;
      for (size_t i = 0; i < entries; ++i) {
        if (hostString(table->valueAt(i)) != id) continue;
        QV_TRY(appendName(s, table->keyAt(i)));
      }
    }
  } else {
    const host::HStr* group = h.kdltxt("<Group>", 7);
    if (entries == 1 && plot->groupVarNumber != 0 && group &&
        hostString(table->valueAt(0)) == group)
      groupTitle = true;
    int named = 0;
    for (size_t i = 0; i < entries; ++i) {
      const std::string_view name = table->keyAt(i);
      QV_TRY(appendName(s, name));
      if (!name.empty()) ++named;
    }
    if (named == 0) {
      h.xpslog(kKeyLegendFailed);
      s += ';';
      Status st = out->write(s);
      return st ? st : host::kUserError;
    }
  }
  s += " /";

  // Several key legends share the legend area: each index has its place.
  if (count >= 2) {
    switch (index) {
      case 0: s += " valign=bottom"; break;
      case 1: s += " halign=right across=1"; break;
      case 2: s += " halign=left across=1"; break;
      case 3: s += " valign=top"; break;
      default: break;
    }
  }

  const Slot& title = node.slot(Opt::Title);
  if (givenText(title)) {
    s += " Title=\"";
    QV_TRY(appendEscaped(s, title.text));
    s += '"';
  } else if (groupTitle && plot->legendTitle) {
    s += " Title=\"";
    QV_TRY(appendEscaped(s, h.kdlgstr(plot->legendTitle)));
    s += '"';
  }
  QV_TRY(appendTextAttrs(s, " TitleAttrs=", node.slot(Opt::TitleAttrs)));
  QV_TRY(appendTextAttrs(s, " ValueAttrs=", node.slot(Opt::ValueAttrs)));
  if (node.flag(Flag::AutoItemSize)) s += " AutoItemSize=true";
  s += ';';
  return out->write(s);
}

Status parseGradLegend(const Statement& node, PlotContext* plot, host::Stream* out, int,
                       int) {
  if (!plot || !out) return host::kHostFailure;
  host::Host& h = host::host();
  host::AssocArray* table = plot->contLegends;
  const size_t entries = table ? table->size() : 0;
  const Slot& plotName = node.slot(Opt::LegendPlot);
  const bool named = givenText(plotName);
  if (entries == 0 && !named) return kOk;

  // What every legend of this statement shares: all but name and title.
  const Slot& pos = node.slot(Opt::LegendPosition);
  const int position = pos.present() ? static_cast<int>(pos.number) : 0;
  const Slot& title = node.slot(Opt::Title);
  std::string tail;
  QV_TRY(appendTextAttrs(tail, " TitleAttrs=", node.slot(Opt::TitleAttrs)));
  if (node.flag(Flag::ExtractScale)) tail += " extractscale=true";
  if (node.flag(Flag::Integer)) tail += " Integer=true";
  if (node.flag(Flag::Border)) {
    tail += " Border=true";
  } else if (node.flag(Flag::NoBorder)) {
    tail += " Border=false";
  }
  tail += ';';

  auto legend = [&](std::string_view name, const host::HStr* defaultTitle) -> Status {
    std::string s = "ContinuousLegend";
    QV_TRY(appendName(s, name));
    s += " / Location=Outside";
    switch (position) {
      case Code::Top: s += " valign=top orient=horizontal"; break;
      case Code::Right: s += " halign=right"; break;
      case Code::Bottom: s += " valign=bottom orient=horizontal"; break;
      case Code::Left: s += " halign=left"; break;
      default: break;
    }
    if (givenText(title)) {
      s += " Title=\"";
      QV_TRY(appendEscaped(s, title.text));
      s += '"';
    } else if (defaultTitle && !h.kdlgstr(defaultTitle).empty() &&
               !node.flag(Flag::NoTitle)) {
      s += " title=\"";
      QV_TRY(appendEscaped(s, h.kdlgstr(defaultTitle)));
      s += '"';
    }
    s += tail;
    return out->write(s);
  };

  if (named) {
    const host::Value* v = table ? table->get(plotName.text) : nullptr;
    return legend(plotName.text, v ? hostString(*v) : nullptr);
  }
  for (size_t i = 0; i < entries; ++i) {
    QV_TRY(legend(table->keyAt(i), hostString(table->valueAt(i))));
  }
  return kOk;
}

}  // namespace qv::module
