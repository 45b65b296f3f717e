#include "module/template/assembly.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "module/color/color.h"
#include "module/color/palettes.h"
#include "module/grammar/grammar.h"
#include "module/host/messages.h"
#include "module/text/cleanchars.h"
#include "module/text/textutil.h"

namespace qv::module {

using host::kOk;
using host::Slot;
using host::Status;

namespace {

constexpr std::string_view kGroupMark = "<Group>";

// The text of a table value: a host string or a plain text.
std::string_view valueText(const host::Value& v) {
  if (const auto* s = std::get_if<const host::HStr*>(&v)) return host::host().kdlgstr(*s);
  if (const auto* t = std::get_if<std::string>(&v)) return *t;
  return {};
}

// Writes pieces in order; the first failure ends the run with its code.
Status put(host::Stream* out, std::initializer_list<std::string_view> pieces) {
  for (std::string_view p : pieces)
    QV_TRY(out->write(p));
  return kOk;
}

// A blank and the name in double quotes: how a plot name stands in a list.
// A plot name in a list, written as the plot wrote it (CleanName).
Status putName(host::Stream* out, std::string_view name) {
  const host::HStr* written = CleanName(name.data(), static_cast<int>(name.size()));
  if (!written) return host::kNoMemory;
  return put(out, {" \"", host::host().kdlgstr(written), "\""});
}

// The escaped form of a user text; null when it cannot be made (the host
// has written the memory message when its buffer was the cause).
const host::HStr* escaped(std::string_view text) {
  return CleanChars(text.data(), static_cast<int>(text.size()));
}

// The template color of a color text, or false (after 854/79 naming the
// text) when it is not a color. The form decides: the gray that
// process_color would put in the place of a non-color is no color the user
// asked for.
bool colorOf(const std::string& text, char out[8]) {
  const int length = wzstrip(text.data(), static_cast<int>(text.size()));
  if (ggcolor(text.data(), length, nullptr) == kFormNone) {
    host::host().xpmlog(kMsgNotAColor, {std::string_view(text.data(), static_cast<size_t>(std::max(length, 0)))});
    return false;
  }
  process_color(text.data(), length, out);
  return true;
}

Status putColorList(host::Stream* out, std::string_view option, const Slot& slot) {
  QV_TRY(put(out, {option}));
  for (const Slot& entry : slot.list) {
    char color[8];
    if (!colorOf(entry.text, color)) continue;
    QV_TRY(put(out, {std::string_view(color, 8), " "}));
  }
  return put(out, {")"});
}

// DATASYMBOLS=: symbols are written bare, so one that is not a single word
// is left out with the warning plot statements give for theirs.
Status putSymbolList(host::Stream* out, const Slot& slot) {
  QV_TRY(put(out, {" dataSymbols=( "}));
  for (const Slot& entry : slot.list) {
    if (!singleWord(entry.text)) {
      host::host().xpmlog(kMsgSymbolNotWord, {entry.text, "STYLEATTRS"});
      continue;
    }
    QV_TRY(put(out, {entry.text, " "}));
  }
  return put(out, {")"});
}

Status putCodeList(host::Stream* out, std::string_view option, const Slot& slot) {
  QV_TRY(put(out, {option}));
  for (const Slot& entry : slot.list) {
    char number[32];
    std::snprintf(number, sizeof number, "%d", static_cast<int>(entry.number));
    QV_TRY(put(out, {number, " "}));
  }
  return put(out, {")"});
}

// A failed service: the memory message for exhaustion, else the code
// reported; the code goes back up unchanged.
Status failed(Status st) {
  if (st == host::kNoMemory) host::host().xmemmsg();
  else host::host().xprrlog(st);
  return st;
}

// Appends the whole of `from` to `main` through the copy buffer.
Status copyStream(host::Stream* from, host::Stream* main, char* buffer, int64_t capacity) {
  const int64_t length = from->length();
  if (length <= 0) return kOk;
  if (length > capacity) return failed(host::kHostFailure);
  if (Status st = from->open(false)) return failed(st);
  const int64_t got = from->read(buffer, static_cast<size_t>(length));
  Status st = from->close();
  if (got != length) return failed(host::kHostFailure);
  if (st) return failed(st);
  if ((st = main->write(buffer, static_cast<size_t>(length)))) return failed(st);
  return kOk;
}

bool nonEmpty(const host::Stream* s) { return s && s->length() > 0; }

}  // namespace

// --- Automatic legend ------------------------------------------------------------

Status writeAutoLegend(const PlotContext& plot, host::Stream* keyLegends,
                       host::Stream* gradLegends) {
  const host::AssocArray* names = plot.plotNames;
  const host::AssocArray* continuous = plot.contLegends;
  const size_t entries = names ? names->size() : 0;
  const bool response = plot.responseName != nullptr || plot.responseVarNumber != 0;

  if (entries > 0 && !response) {
    QV_TRY(put(keyLegends, {"DiscreteLegend"}));
    for (size_t i = 0; i < entries; ++i)
      QV_TRY(putName(keyLegends, names->keyAt(i)));
    QV_TRY(put(keyLegends, {";"}));
  } else if (entries > 0) {
    // With a response, the legend names the first grouped plot only; the
    // statement end is written whenever the table had entries, so with no
    // grouped plot the key-legend stream receives ";" alone.
    for (size_t i = 0; i < entries; ++i) {
      if (valueText(names->valueAt(i)) != kGroupMark) continue;
      QV_TRY(put(keyLegends, {"DiscreteLegend"}));
      QV_TRY(putName(keyLegends, names->keyAt(i)));
      if (plot.legendTitle) {
        const host::HStr* title = escaped(host::host().kdlgstr(plot.legendTitle));
        if (!title) return host::kNoMemory;
        if (Status st = put(keyLegends, {"/ title=\"", host::host().kdlgstr(title), "\""}))
          return st;
      }
      break;
    }
    QV_TRY(put(keyLegends, {";"}));
  }

  if (continuous && continuous->size() > 0) {
    QV_TRY(put(gradLegends, {"ContinuousLegend"}));
    QV_TRY(putName(gradLegends, continuous->keyAt(0)));
    QV_TRY(put(gradLegends, {" /", " Location=Outside", " valign=bottom"}));
    const std::string_view title = valueText(continuous->valueAt(0));
    if (!title.empty()) {
      const host::HStr* text = escaped(title);
      if (!text) return host::kNoMemory;
      if (Status st = put(gradLegends, {" title=\"", host::host().kdlgstr(text), "\""}))
        return st;
    }
    QV_TRY(put(gradLegends, {";"}));
  }
  return kOk;
}

// --- STYLEATTRS --------------------------------------------------------------------

namespace {

// The colors PALETTE= gives the groups, in the palette's order, as a list
// written by hand gives them; empty without a known palette (an unknown
// name is reported). A list the statement gives itself wins, with a
// warning.
std::vector<std::string> styleAttrsPalette(const host::Statement& node) {
  const Slot& given = node.slot(Opt::Palette);
  if (!given.present()) return {};
  host::Host& h = host::host();
  for (auto [opt, name] : {std::pair{Opt::DataColors, "DATACOLORS"},
                           std::pair{Opt::DataContrastColors, "DATACONTRASTCOLORS"}})
    if (node.slot(opt).present()) h.xpmlog(kMsgPaletteGivesWay, {name});
  const std::optional<PaletteRef> p = findPalette(given.text);
  if (!p) {
    h.xpmlog(kMsgUnknownPalette, {given.text, paletteNamesText()});
    return {};
  }
  return paletteColorTexts(paletteStops(*p));
}

Status putTexts(host::Stream* out, std::string_view option, const std::vector<std::string>& t) {
  QV_TRY(put(out, {option}));
  for (const std::string& color : t) QV_TRY(put(out, {color, " "}));
  return put(out, {")"});
}

}  // namespace

Status writeStyleAttrs(const host::Statement& node, host::Stream* out) {
  const std::vector<std::string> palette = styleAttrsPalette(node);
  if (const Slot& s = node.slot(Opt::DataColors); s.present())
    QV_TRY(putColorList(out, " dataColors=( ", s));
  else if (!palette.empty())
    QV_TRY(putTexts(out, " dataColors=( ", palette));
  if (const Slot& s = node.slot(Opt::DataContrastColors); s.present())
    QV_TRY(putColorList(out, " dataContrastColors=( ", s));
  else if (!palette.empty())
    QV_TRY(putTexts(out, " dataContrastColors=( ", palette));
  if (const Slot& s = node.slot(Opt::DataSymbols); s.present())
    QV_TRY(putSymbolList(out, s));
  if (const Slot& s = node.slot(Opt::DataLinePatterns); s.present())
    QV_TRY(putCodeList(out, " dataLinePatterns=( ", s));
  if (const Slot& s = node.slot(Opt::BackColor); s.present()) {
    char color[8];
    if (colorOf(s.text, color))
      QV_TRY(put(out, {" BackgroundColor=", std::string_view(color, 8)}));
  }
  return kOk;
}

// --- Assembly ------------------------------------------------------------------------

Status assembleTemplate(const AssemblyInput& in) {
  host::Host& h = host::host();
  host::Stream* const* streams = in.streams;
  host::Stream* main = streams[kMainStream];
  if (!main || !in.statements || in.statements->empty()) return failed(host::kHostFailure);
  for (int i = 0; i < kTemplateStreamCount; ++i)
    if (!streams[i]) return failed(host::kHostFailure);
  const host::Statement& proc = in.statements->nodes.front();

  // One buffer, as long as the longest stream, serves every copy.
  int64_t longest = 0;
  for (int i = 0; i < kTemplateStreamCount; ++i)
    if (i != kMainStream) longest = std::max(longest, streams[i]->length());
  char* buffer = static_cast<char*>(h.vmalcp(static_cast<size_t>(std::max<int64_t>(longest, 1))));
  if (!buffer) {
    h.xmemmsg();
    return host::kNoMemory;
  }

  auto frame = [&](std::initializer_list<std::string_view> pieces) -> Status {
    Status st = put(main, pieces);
    return st ? failed(st) : kOk;
  };
  auto copy = [&](int id) { return copyStream(streams[id], main, buffer, longest); };
  const bool titles = nonEmpty(streams[kTitlesStream]);
  const bool footnotes = nonEmpty(streams[kFootnotesStream]);

  Status st = main->open(true);
  if (st) st = failed(st);
  if (!st) st = frame({"define statgraph ", kTemplateName, ";"});
  if (!st && in.byGroups) {
    st = frame({"dynamic __BYLINE__;"});
    if (!st && in.byTexts && in.byTexts->size() > 0) {
      st = frame({"dynamic"});
      for (size_t i = 0; !st && i < in.byTexts->size(); ++i)
        st = frame({" ", in.byTexts->keyAt(i)});
      if (!st) st = frame({";"});
    }
  }
  if (!st) st = frame({"begingraph /"});
  if (!st && proc.flag(host::kFlagOpaque)) st = frame({" opaque=false"});
  for (const host::Statement& node : in.statements->nodes) {
    if (st) break;
    if (node.statement != static_cast<int>(Stmt::StyleAttrs)) continue;
    if ((st = writeStyleAttrs(node, main))) st = failed(st);
  }
  if (!st) st = frame({";"});
  // Attribute maps, then the classification of a CHOROMAP response: a
  // region layer colored by the classification needs its map even when
  // other attribute maps exist.
  if (!st) st = copy(kAttrMapStream);
  if (!st) st = copy(kCategorizationStream);
  if (!st) st = copy(kTitlesStream);
  if (!st) st = frame({"layout overlaymap"});
  if (!st && (titles || footnotes)) {
    st = frame({" /", titles && footnotes ? " pad=(top=5 bottom=5)"
                      : titles           ? " pad=(top=5)"
                                         : " pad=(bottom=5)"});
  }
  if (!st) st = frame({";"});
  if (!st) st = copy(kPlotsStream);
  if (!st) st = copy(kGradLegendStream);
  if (!st) st = frame({"endlayout;"});
  if (!st) st = copy(kFootnotesStream);
  // The key legends always get the global legend layout below the map,
  // also when a gradient legend holds the bottom of the plot area: that
  // legend sits inside the overlay's outer edge, so the two do not meet,
  // and leaving the key legends out would lose what the user asked for.
  if (!st && nonEmpty(streams[kKeyLegendStream])) {
    st = frame({"layout GlobalLegend;"});
    if (!st) st = copy(kKeyLegendStream);
    if (!st) st = frame({"endlayout;"});
  }
  if (!st) st = frame({"endgraph;", "end;"});
  Status closed = main->close();
  h.vmfree(buffer);
  if (!st && closed) st = failed(closed);
  return st;
}

}  // namespace qv::module
