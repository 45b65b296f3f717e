#include "module/template/titles.h"

namespace qv::module {

// Not written yet: attributed entries leave no text.
host::Status process_titlefoot(host::Stream*, char, int, int, const char*, int,
                               const host::TitleAttr*, host::AssocArray*) {
  return host::kOk;
}

}  // namespace qv::module
