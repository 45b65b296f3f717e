#include "module/template/titlefoot.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include "module/color/color.h"
#include "module/text/cleanchars.h"

namespace qv::module {

using host::kOk;
using host::Status;

namespace {

constexpr std::string_view kLabelSize = " textattrs=(size=GraphLabelText:fontsize)";
constexpr size_t kDefaultTitleMax = 32;

std::string formatG(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

// A height with its unit; false when the unit letter asks for no size.
bool heightText(double v, char unit, std::string* out) {
  switch (unit) {
    case 'T': *out = formatG(v) + "pt"; return true;
    case 'C': *out = formatG(v) + "cm"; return true;
    case 'I': *out = formatG(v) + "in"; return true;
    case 'P': *out = formatG(v) + "pct"; return true;
    case 'L': case ' ': case 0: *out = formatG(v * 9) + "pt"; return true;
    case 'A': *out = formatG(v * 12) + "pt"; return true;
    case 'D': return false;
    default: *out = formatG(v); return true;
  }
}

// A box pad or a spacing with its unit; false when the unit asks for none.
bool padText(double v, char unit, std::string* out) {
  switch (unit) {
    case 'T': *out = formatG(v) + "pt"; return true;
    case 'P': *out = formatG(v) + "pct"; return true;
    case 'I': *out = formatG(v) + "in"; return true;
    case 'C': *out = formatG(v) + "cm"; return true;
    case 'A': *out = formatG(v * 12) + "pt"; return true;
    case 'L': case ' ': case 0: *out = formatG(v * 2.7) + "pct"; return true;
    case 'D': return false;
    default: *out = formatG(v); return true;
  }
}

// The template color text of a color name.
void appendColor(std::string& out, const std::string& name) {
  char cx[8];
  process_color(name.data(), static_cast<int32_t>(name.size()), cx);
  out.append(cx, sizeof cx);
}

// `text` escaped for a quoted template string; null when the host could not
// make it (its memory message is then written).
const host::HStr* escape(std::string_view text) {
  return CleanChars(text.data(), static_cast<int>(std::min<size_t>(text.size(), INT_MAX)));
}

// A font given as name/option/option: B sets bold, I italic, N normal (by
// the first letter of each option); the name ends at the first "/".
void setFont(TitleTextAttrs& a, std::string_view font) {
  size_t slash = font.find('/');
  a.font = std::string(font.substr(0, slash));
  while (slash != std::string_view::npos) {
    const size_t next = font.find('/', slash + 1);
    const std::string_view opt = font.substr(slash + 1, next == std::string_view::npos
                                                            ? std::string_view::npos
                                                            : next - slash - 1);
    if (!opt.empty()) {
      switch (opt[0]) {
        case 'B': case 'b': a.bold = 1; break;
        case 'I': case 'i': a.italic = 1; break;
        case 'N': case 'n': a.normal = 1; break;
        default: break;
      }
    }
    slash = next;
  }
}

int32_t thickness(double v) {
  if (!(v > 0)) return 0;
  if (v >= static_cast<double>(INT32_MAX)) return INT32_MAX;
  return static_cast<int32_t>(v);
}

}  // namespace

Status ggtitle(char kind, int* number, TitleFetch* out) {
  if (!number) return host::kHostFailure;
  host::Host& h = host::host();
  const bool known = kind == 'T' || kind == 'F';
  if (*number == 0) {
    *number = known ? std::max(0, h.ggtitleMax(kind)) : 0;
    return kOk;
  }
  if (!out) return kOk;
  *out = TitleFetch{};
  const host::TitleEntry* e = known ? h.ggtitle(kind, *number) : nullptr;
  if (!e) return kOk;
  out->text = e->text.data();
  out->length = static_cast<int>(std::min<size_t>(e->text.size(), INT_MAX));
  out->attrs = e->attrs.empty() ? nullptr : e->attrs.data();
  out->attrCount = static_cast<int>(std::min<size_t>(e->attrs.size(), INT_MAX));
  out->extra = e->extra;
  if (kind == 'T' && *number == 1 && e->extra == 'X' && h.xoptbgt("KDLLANGCHG")) {
    std::string local = h.xoptcgt("KDLLANGTITLE");
    if (local.size() > kDefaultTitleMax) local.resize(kDefaultTitleMax);
    if (!local.empty()) {
      if (const host::HStr* s = h.kdltxt(local.data(), static_cast<long>(local.size()))) {
        const std::string_view v = h.kdlgstr(s);
        out->text = v.data();
        out->length = static_cast<int>(v.size());
      }
    }
  }
  return kOk;
}

Status appendTFAttrs(std::string& out, char kind, int number, const TitleTextAttrs& a,
                     int segment) {
  switch (a.justify) {
    case 'L': out += " halign=left"; break;
    case 'C': out += " halign=center"; break;
    case 'R': out += " halign=right"; break;
    default: break;
  }
  const bool entry = segment == 0;
  // Titles below the first take the label size unless a size is given.
  const bool labelSize = entry && kind == 'T' && number >= 2;
  // Italic and normal count as styling too: a segment marked only ITALIC is
  // written italic.
  const bool styled = !a.font.empty() || !a.color.empty() || a.height >= 0 || a.bold ||
                      a.italic || a.normal;
  if (!styled) {
    if (!entry) return kOk;
    if (labelSize) out += kLabelSize;
  } else {
    out += " textattrs=(";
    if (!a.font.empty()) {
      out += " family=\"";
      // A family is a name: written as given, unless a double quote in it
      // would end the template string early.
      if (a.font.find('"') == std::string::npos) {
        out += a.font;
      } else {
        const host::HStr* e = escape(a.font);
        if (!e) return host::kNoMemory;
        out += host::host().kdlgstr(e);
      }
      out += '"';
    }
    if (!a.color.empty()) {
      out += " color=";
      appendColor(out, a.color);
    }
    if (a.normal) out += " weight=normal style=normal";
    if (a.bold) out += " weight=bold";
    if (a.italic) out += " style=italic";
    std::string size;
    if (a.height >= 0) {
      if (heightText(a.height, a.heightUnit, &size)) out += " size=" + size;
    } else if (labelSize) {
      out += " size=GraphLabelText:fontsize";
    }
    out += ')';
  }
  if (!entry) return kOk;

  // The box around the entry.
  if (!a.backColor.empty()) {
    out += " backgroundcolor=";
    appendColor(out, a.backColor);
    out += " opaque=true";
  }
  std::string pad;
  if (a.border >= 1) {
    out += " border=true";
    if (a.border > 1) out += " borderattrs=(thickness=" + std::to_string(a.border) + ")";
    if (a.boxPad < 0) {
      out += " pad=1pct";
    } else if (padText(a.boxPad, a.boxPadUnit, &pad)) {
      out += " pad=" + pad;
    }
  }
  if (a.centerOnGraph) out += " halignCenter=Graph";
  if (a.border < 1 && a.spacing >= 0 && padText(a.spacing, a.spacingUnit, &pad))
    out += std::string(" pad=(") + (kind == 'T' ? "top=" : "bottom=") + pad + ")";
  return kOk;
}

Status process_titlefoot(host::Stream* out, char kind, int number, int length,
                         const char* text, int attrCount, const host::TitleAttr* attrs,
                         host::AssocArray* byTexts) {
  if (!out) return host::kHostFailure;
  if (!text || length < 0) length = 0;
  if (!attrs) attrCount = 0;
  host::Host& h = host::host();
  const std::string_view all(text ? text : "", static_cast<size_t>(length));

  TitleTextAttrs entry, seg;
  bool afterFirst = false;  // attributes now go to the segment block
  char* lastUnit = nullptr;  // unit of the last height, box pad or spacing
  int segments = 0;
  std::string s;
  for (int i = 0; i < attrCount; ++i) {
    const host::TitleAttr& a = attrs[i];
    TitleTextAttrs& cur = afterFirst ? seg : entry;
    switch (a.kind) {
      case 'T': {
        if (segments == 0) s += kind == 'T' ? "EntryTitle" : "EntryFootnote";
        ++segments;
        afterFirst = true;
        QV_TRY(appendTFAttrs(s, kind, number, seg, segments));
        // The segment's place in the text, kept inside it.
        const size_t off = static_cast<size_t>(std::clamp(a.offset, 0, length));
        const size_t len = std::min(static_cast<size_t>(std::max(a.length, 0)), all.size() - off);
        const host::HStr* e = escape(all.substr(off, len));
        if (!e) return host::kNoMemory;
        const std::string_view escaped = h.kdlgstr(e);
        if (byTexts && all.substr(off, len).find('#') != std::string_view::npos) {
          char name[48];
          std::snprintf(name, sizeof name, "%s%d_%d", kind == 'T' ? "TITLE" : "FOOTNOTE",
                        number, segments);
          QV_TRY(byTexts->put(name, std::string(escaped)));
          s += ' ';
          s += name;
        } else {
          s += " \"";
          s += escaped;
          s += '"';
        }
        break;
      }
      case 'C': cur.color = a.text; break;
      case 'O': cur.backColor = a.text; break;
      case 'F': setFont(cur, a.text); break;
      case 'E': seg.bold = 1; break;
      case 'P': seg.italic = 1; break;
      case 'H':
        cur.height = a.number;
        cur.heightUnit = ' ';
        lastUnit = &cur.heightUnit;
        break;
      case 'W':
        cur.boxPad = a.number;
        cur.boxPadUnit = ' ';
        lastUnit = &cur.boxPadUnit;
        break;
      case 'S':
        cur.spacing = a.number;
        cur.spacingUnit = ' ';
        lastUnit = &cur.spacingUnit;
        break;
      case 'I':
        if (lastUnit) *lastUnit = a.text.empty() ? ' ' : a.text[0];
        break;
      case 'J': {
        const char j = a.text.empty() ? 0 : a.text[0];
        if (j == 'L' || j == 'C' || j == 'R') cur.justify = j;
        if (j == 'C') entry.centerOnGraph = 1;
        break;
      }
      case 'B': cur.border = thickness(a.number); break;
      default: break;
    }
  }
  // An entry without a text segment has nothing to show.
  if (segments == 0) return kOk;
  s += " /";
  QV_TRY(appendTFAttrs(s, kind, number, entry, 0));
  s += ';';
  return out->write(s);
}

Status writeTitlesAndFootnotes(PlotContext* plot, host::Stream* titles,
                               host::Stream* footnotes, host::AssocArray* byTexts) {
  const bool by = plot && plot->byFlag;
  host::AssocArray* table = by ? byTexts : nullptr;
  for (const char kind : {'T', 'F'}) {
    host::Stream* out = kind == 'T' ? titles : footnotes;
    if (!out) continue;
    int highest = 0;
    QV_TRY(ggtitle(kind, &highest, nullptr));
    for (int n = 1; n <= highest; ++n) {
      TitleFetch e;
      int number = n;
      QV_TRY(ggtitle(kind, &number, &e));
      if (!e.text || e.length <= 0) continue;
      if (e.attrCount > 0) {
        if (Status st = process_titlefoot(out, kind, n, e.length, e.text, e.attrCount,
                                          e.attrs, table))
          return st;
        continue;
      }
      const std::string_view text(e.text, static_cast<size_t>(e.length));
      std::string s = kind == 'T' ? "EntryTitle " : "EntryFootnote ";
      if (table && text.find('#') != std::string_view::npos) {
        char name[32];
        std::snprintf(name, sizeof name, "%s%d", kind == 'T' ? "TITLE" : "FOOTNOTE", n);
        QV_TRY(table->put(name, std::string(text)));
        s += name;
      } else {
        // Escaped like the segments of attributed entries, so that a double
        // quote in the text cannot end the template string early.
        const host::HStr* esc = escape(text);
        if (!esc) return host::kNoMemory;
        s += '"';
        s += host::host().kdlgstr(esc);
        s += '"';
      }
      s += kind == 'T' && n != 1 ? " / textattrs=(size=GraphLabelText:fontsize);" : ";";
      QV_TRY(out->write(s));
    }
    // NOBYLINE leaves the BY line out; titles may still name the BY values.
    if (kind == 'T' && by && !host::host().xoptbgt("NOBYLINE")) {
      if (Status st = out->write(
              "EntryTitle __BYLINE__ / textattrs=(size=GraphLabelText:fontsize);"))
        return st;
    }
  }
  return kOk;
}

}  // namespace qv::module
