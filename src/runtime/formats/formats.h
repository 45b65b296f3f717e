// Display formats: names such as DOLLAR8.2, BEST12., DATE9. or $CHAR10.,
// and the text they give a value.
//
// Numeric results are right-justified in the field (callers strip blanks
// when they need to); character results are left-aligned. Dates are days
// from 1 January 1960 (0 = 01JAN1960), times are seconds, datetimes are
// seconds from 1 January 1960 00:00, on the proleptic Gregorian calendar
// with no time zone and no locale.
//
// None of these routines throws: malformed names and literals give false,
// and a value that cannot be shown in its field gives "*" repeated.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "module/host/host.h"

namespace qv::rt {

// Splits a format name into its parts: "DOLLAR8.2" gives "DOLLAR", 8, 2;
// "BEST6." gives "BEST", 6; "$CHAR10." gives "$CHAR", 10; "8.2" gives "" (the
// standard numeric format), 8, 2; "$10." gives "$", 10; "BEST." gives "BEST"
// without a width. The name comes back in capital letters; width and
// decimals are 0 when not written. The trailing "." may be left out when a
// name is written ("DATE9"); the bare w.d form needs it. Blanks around the
// text are ignored. False when the text is no format name (then the outputs
// are left unchanged).
bool parseFormatName(std::string_view text, std::string* name, int* width,
                     int* decimals, bool* hasWidth, bool* hasDecimals);

// Resolves a format by name, case-insensitively, with or without width,
// decimals and trailing "." ("comma", "COMMA10.2", "8.2", "$12."). Fills the
// canonical name ("F" for the standard numeric format, "$" for the standard
// character format), the character flag, the default width and decimals and
// the allowed widths. A character format's default width is 0: without a
// width the value is shown as it is. False for an unknown name or an empty
// text.
bool resolveFormat(std::string_view name, host::FormatDesc* out);

// resolveFormat and parseFormatName in one: the format of a text such as
// "DOLLAR8.2" with the width and decimals written (0 when not written).
bool resolveFormatText(std::string_view text, host::FormatDesc* out,
                       int* width, int* decimals);

// A number in a numeric format. Width and decimals 0 (or less) mean the
// format's defaults; a width outside the format's range is brought into it.
// A missing value (NaN) shows as `missingChar` right-aligned. A value that
// does not fit is shown with fewer decimals, then in E notation, and
// finally as "*" repeated over the width. A character format shows the
// number as BEST does.
std::string formatNumber(const host::FormatDesc& f, int width, int decimals,
                         double v, char missingChar = '.');

// A number as plain text: the shortest that reads back as the same number
// (1001, 0.1, 1e+20); "" for a missing value.
std::string plainNumberText(double v);

// A text in a character format: left-aligned, cut or blank-padded to the
// width (0: the text as it is). The width counts bytes; a cut never splits
// a UTF-8 character (the field is blank-padded instead).
std::string formatChar(const host::FormatDesc& f, int width,
                       std::string_view v);

// Literals of the program text, given without their quotes and suffix.
// "01jan2020", "1JAN2020", "01jan20" (a two-digit year yy is 2000+yy when
// yy < 20, else 1900+yy) -> days since 1 January 1960.
bool parseDateLiteral(std::string_view text, double* days);
// "12:30", "12:30:15.5", "9:05pm" -> seconds (hours may exceed 24).
bool parseTimeLiteral(std::string_view text, double* seconds);
// "01jan2020:12:30", "01jan2020:12:30:15" -> seconds since 1960-01-01 00:00.
bool parseDateTimeLiteral(std::string_view text, double* seconds);

// Civil calendar arithmetic on the proleptic Gregorian calendar: days since
// 1 January 1960 for a year, month (1..12) and day, and back. Exact for
// years within +-10^15.
int64_t daysFromCivil(int64_t year, int month, int day);
void civilFromDays(int64_t days, int64_t* year, int* month, int* day);

}  // namespace qv::rt
