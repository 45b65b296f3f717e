// The host-session color cache: one entry per distinct color text, so that
// a text seen before is never parsed again. The entries form a list, newest
// first, hung from an anchor kept in the session slot "__CCH_GRAPH". Beside
// the list two hash indexes (by text, by canonical code) find in constant
// time the entry the list walk would find.
#include <cstring>
#include <new>
#include <string_view>

#include "module/color/color.h"
#include "module/color/color_cache.h"
#include "module/entry/entry.h"
#include "module/text/textutil.h"

namespace qv::module {

namespace {

constexpr std::string_view kSlotName = "__CCH_GRAPH";
constexpr size_t kFirstCapacity = 64;

constexpr int kCodeLength = static_cast<int>(sizeof(ColorCacheEntry::code));

bool hostReady() { return v_global_gcb_anchor != nullptr; }

uint64_t hashBytes(const char* s, size_t n) {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  for (size_t i = 0; i < n; ++i) {
    h ^= static_cast<unsigned char>(s[i]);
    h *= 1099511628211ull;
  }
  return h;
}

// Forms whose canonical code is compared with the upper-cased text.
bool codeMatchesUpper(int32_t form) { return form == kFormCx || form == kFormRgba; }

bool textMatches(const ColorCacheEntry& e, const char* text, int32_t length) {
  return e.textLength == length &&
         (length == 0 || (e.text != nullptr && std::memcmp(e.text, text, length) == 0));
}

bool codeMatches(const ColorCacheEntry& e, const char* text, int32_t length,
                 const char* upper) {
  if (codeMatchesUpper(e.form)) return wzstcom(upper, length, e.code, kCodeLength) == 0;
  // A user color name keeps its case: only the same text finds its code, so
  // that the answer for a text never depends on which texts came before.
  if (e.form == kFormUser) return wzstcom(text, length, e.code, kCodeLength) == 0;
  return false;
}

bool entryMatches(const ColorCacheEntry& e, const char* text, int32_t length,
                  const char* upper) {
  return textMatches(e, text, length) || codeMatches(e, text, length, upper);
}

// --- the indexes ----------------------------------------------------------

void indexDrop(detail::CacheIndex* idx) {
  if (idx->slots) host::host().vmfree(idx->slots);
  idx->slots = nullptr;
  idx->capacity = 0;
  idx->count = 0;
}

// Places an entry without growing (there is room).
void indexPlace(detail::CacheIndex* idx, uint64_t hash, ColorCacheEntry* e) {
  size_t mask = idx->capacity - 1;
  size_t i = static_cast<size_t>(hash) & mask;
  while (idx->slots[i].entry != nullptr) i = (i + 1) & mask;
  idx->slots[i] = {hash, e};
  ++idx->count;
}

void indexInsert(detail::CacheIndex* idx, uint64_t hash, ColorCacheEntry* e) {
  if (idx->off) return;
  if ((idx->count + 1) * 2 > idx->capacity) {
    size_t capacity = idx->capacity ? idx->capacity * 2 : kFirstCapacity;
    size_t bytes = capacity * sizeof(detail::CacheIndexSlot);
    void* block = host::host().vmalcp(bytes);
    if (block == nullptr) {
      // The index is only a shortcut: without it the list walk answers.
      indexDrop(idx);
      idx->off = true;
      return;
    }
    std::memset(block, 0, bytes);
    detail::CacheIndex grown{static_cast<detail::CacheIndexSlot*>(block), capacity, 0, false};
    for (size_t i = 0; i < idx->capacity; ++i)
      if (idx->slots[i].entry) indexPlace(&grown, idx->slots[i].hash, idx->slots[i].entry);
    indexDrop(idx);
    *idx = grown;
  }
  indexPlace(idx, hash, e);
}

template <class Pred>
ColorCacheEntry* indexFind(const detail::CacheIndex& idx, uint64_t hash, Pred matches) {
  if (idx.capacity == 0) return nullptr;
  size_t mask = idx.capacity - 1;
  ColorCacheEntry* best = nullptr;
  for (size_t i = static_cast<size_t>(hash) & mask; idx.slots[i].entry; i = (i + 1) & mask) {
    ColorCacheEntry* e = idx.slots[i].entry;
    if (idx.slots[i].hash == hash && matches(*e) && (!best || e->serial > best->serial))
      best = e;
  }
  return best;
}

uint64_t codeHash(const ColorCacheEntry& e) {
  return hashBytes(e.code, static_cast<size_t>(wzstrip(e.code, kCodeLength)));
}

ColorCacheEntry* newer(ColorCacheEntry* a, ColorCacheEntry* b) {
  if (!a) return b;
  if (!b) return a;
  return a->serial > b->serial ? a : b;
}

}  // namespace

namespace detail {

ColorCacheEntry* cacheWalk(ColorCache* cache, const char* text, int32_t length,
                           const char* upper) {
  if (cache->lastUsed && entryMatches(cache->anchor, text, length, upper))
    return cache->lastUsed;
  for (ColorCacheEntry* e = cache->anchor.next; e; e = e->next)
    if (entryMatches(*e, text, length, upper)) return e;
  return nullptr;
}

ColorCacheEntry* cacheFind(ColorCache* cache, const char* text, int32_t length,
                           const char* upper) {
  if (cache->lastUsed && entryMatches(cache->anchor, text, length, upper))
    return cache->lastUsed;
  if (cache->byText.off || cache->byCode.off) return cacheWalk(cache, text, length, upper);

  ColorCacheEntry* found = indexFind(cache->byText, hashBytes(text, length),
                                     [&](const ColorCacheEntry& e) {
                                       return textMatches(e, text, length);
                                     });
  size_t n = static_cast<size_t>(wzstrip(upper, length));
  if (n <= sizeof(ColorCacheEntry::code)) {
    found = newer(found, indexFind(cache->byCode, hashBytes(upper, n),
                                   [&](const ColorCacheEntry& e) {
                                     return codeMatchesUpper(e.form) &&
                                            codeMatches(e, text, length, upper);
                                   }));
  }
  n = static_cast<size_t>(wzstrip(text, length));
  if (n <= sizeof(ColorCacheEntry::code)) {
    found = newer(found, indexFind(cache->byCode, hashBytes(text, n),
                                   [&](const ColorCacheEntry& e) {
                                     return e.form == kFormUser &&
                                            codeMatches(e, text, length, upper);
                                   }));
  }
  return found;
}

ColorCacheEntry* cacheAdd(ColorCache* cache, const char* text, int32_t length) {
  host::Host& h = host::host();
  void* block = h.vmalcp(sizeof(ColorCacheEntry));
  if (block == nullptr) {
    h.xmemmsg();
    return nullptr;
  }
  std::memset(block, 0, sizeof(ColorCacheEntry));
  auto* e = new (block) ColorCacheEntry{};
  e->text = static_cast<char*>(h.vmalcp(length > 0 ? static_cast<size_t>(length) : 1));
  if (e->text == nullptr) {
    h.vmfree(e);
    h.xmemmsg();
    return nullptr;
  }
  if (length > 0) std::memcpy(e->text, text, static_cast<size_t>(length));
  e->textLength = length;
  std::memset(e->code, ' ', sizeof e->code);
  e->serial = ++cache->serial;
  e->next = cache->anchor.next;
  cache->anchor.next = e;
  ++cache->entries;
  indexInsert(&cache->byText, hashBytes(e->text, static_cast<size_t>(length)), e);
  return e;
}

void cacheIndexCode(ColorCache* cache, ColorCacheEntry* e) {
  if (codeMatchesUpper(e->form) || e->form == kFormUser)
    indexInsert(&cache->byCode, codeHash(*e), e);
}

void cacheUse(ColorCache* cache, ColorCacheEntry* e) {
  ColorCacheEntry* head = cache->anchor.next;
  cache->anchor = *e;
  cache->anchor.next = head;
  cache->lastUsed = e;
}

}  // namespace detail

ColorCache* ggccache(int create) {
  if (!hostReady()) return nullptr;
  host::Host& h = host::host();
  void** slot = h.sessionSlot(kSlotName, create != 0, &ggcchln);
  if (slot == nullptr) return nullptr;
  if (*slot != nullptr) return static_cast<ColorCache*>(*slot);
  if (!create) return nullptr;
  void* block = h.vmalcp(sizeof(ColorCache));
  if (block == nullptr) {
    h.xmemmsg();
    return nullptr;
  }
  std::memset(block, 0, sizeof(ColorCache));
  auto* cache = new (block) ColorCache{};
  std::memset(cache->anchor.code, ' ', sizeof cache->anchor.code);
  *slot = cache;
  return cache;
}

void ggcchln(void* anchor) {
  if (anchor == nullptr || !hostReady()) return;
  host::Host& h = host::host();
  auto* cache = static_cast<ColorCache*>(anchor);
  ColorCacheEntry* e = cache->anchor.next;
  indexDrop(&cache->byText);
  indexDrop(&cache->byCode);
  h.vmfree(cache);
  while (e) {
    ColorCacheEntry* next = e->next;
    if (e->text) h.vmfree(e->text);
    h.vmfree(e);
    e = next;
  }
}

}  // namespace qv::module
