// Options written after the plot's name: BUBBLE's radii, CONTRIBUTEOFFSETS=
// and TEXT's layout options, in their fixed order.

#include "module/plots/plotcall.h"

namespace qv::module::plots {

using host::kOk;
using host::Slot;
using host::Status;

namespace {

constexpr const char* kPositions[] = {"Top",        "TopRight", "Right",   "BottomRight", "Bottom",
                                      "BottomLeft", "Left",     "TopLeft", "Center"};
constexpr const char* kPolicies[] = {"none", "split", "splitalways"};

void numberWithUnit(PlotCall& c, Opt o, std::string_view option) {
  if (!c.has(o)) return;
  c.w(option);
  c.numberUnit(c.slot(o));
}

void plainNumber(PlotCall& c, Opt o, std::string_view option) {
  if (!c.has(o)) return;
  c.w(option);
  c.number(c.slot(o).number);
}

void writePad(PlotCall& c) {
  const Slot& pad = c.slot(Opt::Pad);
  if (pad.kind == host::kSlotNumber) {
    c.w(" pad=");
    c.numberUnit(pad);
    return;
  }
  if (pad.kind != host::kSlotSides) return;
  static constexpr const char* kSides[] = {" left=", " right=", " top=", " bottom="};
  c.w(" pad=(");
  for (int side : {host::kPadLeft, host::kPadRight, host::kPadTop, host::kPadBottom}) {
    if (side >= static_cast<int>(pad.list.size()) || !pad.list[side].present()) continue;
    c.w(kSides[side]);
    c.numberUnit(pad.list[side]);
  }
  c.w(")");
}

void writeContributeOffsets(PlotCall& c) {
  const Slot& o = c.slot(Opt::ContributeOffsets);
  if (o.kind == host::kSlotEnum) {
    const int code = static_cast<int>(o.number);
    if (code != Code::OffsetsAll && code != Code::OffsetsNone) return;
    c.w(" contributeOffsets=");
    c.w(code == Code::OffsetsAll ? "All" : "None");
    return;
  }
  if (o.kind != host::kSlotList) return;
  static constexpr const char* kSides[] = {" XMIN", " XMAX", " YMIN", " YMAX"};  // codes 1 to 4
  c.w(" contributeOffsets=(");
  for (const Slot& item : o.list) {
    const int code = static_cast<int>(item.number);
    if (code >= 1 && code <= 4) c.w(kSides[code - 1]);
  }
  c.w(")");
}

}  // namespace

Status writeTail(PlotCall& c) {
  numberWithUnit(c, Opt::BRadiusMin, " bubbleradiusmin=");
  numberWithUnit(c, Opt::BRadiusMax, " bubbleradiusmax=");
  const Slot& rotate = c.slot(Opt::Rotate);
  if (rotate.isVariable()) {
    QV_TRY(slotVariable(c, " Rotate=", rotate));
  } else if (rotate.kind == host::kSlotNumber) {
    c.w(" Rotate=");
    c.number(rotate.number);
  }
  writePad(c);
  writeContributeOffsets(c);
  if (c.kind == Kind::Text && c.flag(Flag::Backlight)) {
    c.w(" backlight=");
    if (c.has(Opt::Backlight)) c.number(c.slot(Opt::Backlight).number);
    else c.w("auto");
  }
  const Slot& position = c.slot(Opt::Position);
  if (position.kind == host::kSlotEnum) {
    const int code = static_cast<int>(position.number);
    if (code >= 1 && code <= 9) {
      c.w(" position=");
      c.w(kPositions[code - 1]);
    }
  }
  plainNumber(c, Opt::SplitWidth, " splitwidth=");
  if (c.has(Opt::SizeResponse)) {
    QV_TRY(slotVariable(c, " SizeResponse=", c.slot(Opt::SizeResponse)));
  }
  numberWithUnit(c, Opt::SizeMin, " SizeMin=");
  numberWithUnit(c, Opt::SizeMax, " SizeMax=");
  plainNumber(c, Opt::SizeMaxResponse, " SizeMaxResponse=");
  if (c.has(Opt::SplitPolicy)) {
    const int code = static_cast<int>(c.slot(Opt::SplitPolicy).number);
    c.w(" splitpolicy=");
    c.w(code >= 1 && code <= 3 ? kPolicies[code - 1] : "none");
  }
  if (c.kind == Kind::Text) {
    QV_TRY(writeSplitOptions(c));
    const bool outline = c.flag(Flag::Outline), fill = c.flag(Flag::Fill);
    if (outline || fill) {
      c.w(" Display=(");
      if (outline) c.w(" Outline");
      if (fill) c.w(" Fill");
      c.w(")");
    }
  }
  return kOk;
}

}  // namespace qv::module::plots
