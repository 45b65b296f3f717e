// Titles and footnotes of the host, written as template statements.
#pragma once

#include <cstdint>
#include <string>

#include "module/host/host.h"
#include "module/step/step.h"

namespace qv::module {

// Text attributes of a whole title or footnote entry, or of its current
// text segment. Sizes start at -1 (not given); a unit letter is the host's:
// T pt, C cm, I in, P pct, A and L the host's cell units, D none, ' ' none.
struct TitleTextAttrs {
  std::string font;       // family, cut at the first "/" ("" none)
  std::string color;      // color name as given ("" none)
  std::string backColor;  // background color name ("" none)
  double height = -1;
  char heightUnit = ' ';
  double boxPad = -1;
  char boxPadUnit = ' ';
  double spacing = -1;
  char spacingUnit = ' ';
  char justify = 0;  // 'L', 'C', 'R'; 0 none
  int32_t border = 0;
  int32_t bold = 0;
  int32_t italic = 0;
  int32_t normal = 0;
  int32_t centerOnGraph = 0;
};

// One entry as the host gives it.
struct TitleFetch {
  int length = 0;
  const char* text = nullptr;
  int attrCount = 0;
  const host::TitleAttr* attrs = nullptr;
  char extra = 0;
};

// Titles ('T') and footnotes ('F') of the host; notes ('N') are none here.
// With *number 0, sets *number to the highest entry number. Otherwise fills
// *out with that entry (all zero when there is none). Title 1 marked 'X' is
// the host's default title: when the host switch KDLLANGCHG is on and the
// host has a localized default title (text option KDLLANGTITLE), that text,
// at most 32 bytes, stands in its place.
host::Status ggtitle(char kind, int* number, TitleFetch* out);

// Appends the attribute text of one segment (`segment` from 1) or, with
// `segment` 0, of the whole entry `number` of `kind` ('T' or 'F').
host::Status appendTFAttrs(std::string& out, char kind, int number, const TitleTextAttrs& a,
                   int segment);

// Writes one title ('T') or footnote ('F') entry that carries text
// attributes into `out`: its `length` bytes of `text` and its `attrCount`
// attribute records. With a BY text table, segments that hold "#" become
// dynamic variables recorded in it.
host::Status process_titlefoot(host::Stream* out, char kind, int number, int length,
                               const char* text, int attrCount, const host::TitleAttr* attrs,
                               host::AssocArray* byTexts);

// The whole title and footnote pass of a step: every title into `titles`
// ("EntryTitle"), then the BY line when BY groups are in effect, and every
// footnote into `footnotes` ("EntryFootnote"). With BY groups, texts that
// hold "#" become dynamic variables recorded in `byTexts`.
host::Status writeTitlesAndFootnotes(PlotContext* plot, host::Stream* titles,
                                     host::Stream* footnotes, host::AssocArray* byTexts);

}  // namespace qv::module
