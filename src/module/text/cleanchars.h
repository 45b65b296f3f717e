// Escaping of user text placed inside a double-quoted template string.
#pragma once

#include "module/host/host.h"

namespace qv::module {

// Replaces each double quote, percent sign and ampersand of the `length`
// bytes at `text` by the template's Unicode escape ("(*ESC*){unicode '0022'x}",
// "...'0025'x}", "...'0026'x}", 24 bytes each) and returns the result as a host
// string; every other byte, a zero byte included, is kept as it is. The output
// is `length` + 23 bytes per replaced character. A text without any of the
// three characters is handed to the host unchanged, with no copy.
//
// A negative length, or a null text, is treated as an empty text.
//
// Returns null when the host cannot make the string, or when the work buffer
// cannot be had: the memory message has then been written (xmemmsg) and the
// caller ends the step with host::kNoMemory (1016). The work buffer is always
// released before return.
const host::HStr* CleanChars(const char* text, int length);

// A text that names something in the template (a plot name, a font family)
// is written as held, so that every reference to it reads the same bytes;
// only a double quote, which would end the template string early and leave
// the template unreadable, sends it through CleanChars. Null as CleanChars.
const host::HStr* CleanName(const char* text, int length);

}  // namespace qv::module
