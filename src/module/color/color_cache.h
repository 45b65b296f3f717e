// The session color cache's inner operations, shared by the parser.
#pragma once

#include <cstdint>

#include "module/color/color.h"

namespace qv::module::detail {

// The entry a lookup of `text` (case kept, `length` bytes) and its upper-
// cased form `upper` (`length` bytes) finds: the anchor's entry when it
// matches, else the newest matching entry of the list. An entry matches on
// its exact text, or on its canonical code. Null when none matches.
ColorCacheEntry* cacheFind(ColorCache* cache, const char* text, int32_t length,
                           const char* upper);

// The same answer by the anchor and the list walk alone (the index is only
// a shortcut).
ColorCacheEntry* cacheWalk(ColorCache* cache, const char* text, int32_t length,
                           const char* upper);

// Makes a zero-filled entry holding a copy of the text and links it at the
// front of the list. Null when memory runs out (already reported).
ColorCacheEntry* cacheAdd(ColorCache* cache, const char* text, int32_t length);

// Records the canonical code just stored in the entry.
void cacheIndexCode(ColorCache* cache, ColorCacheEntry* entry);

// Makes the entry the one used last: the anchor copies it.
void cacheUse(ColorCache* cache, ColorCacheEntry* entry);

}  // namespace qv::module::detail
