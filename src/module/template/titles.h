// Titles and footnotes of the host, written as template statements.
#pragma once

#include "module/host/host.h"

namespace qv::module {

// Writes one title ('T') or footnote ('F') entry that carries text
// attributes into `out`: its `length` bytes of `text` and its `attrCount`
// attribute records. With a BY text table, segments that hold "#" become
// dynamic variables recorded in it.
host::Status process_titlefoot(host::Stream* out, char kind, int number, int length,
                               const char* text, int attrCount, const host::TitleAttr* attrs,
                               host::AssocArray* byTexts);

}  // namespace qv::module
