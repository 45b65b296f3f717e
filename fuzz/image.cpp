// libFuzzer target: see entries/entries.h.
#include "entries/entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return qv::fuzz::tileImage(data, size);
}
