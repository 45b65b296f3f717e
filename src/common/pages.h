// Memory that is about to be filled, asked to come in transparent huge
// pages: one fault per 2 MiB instead of one per 4 KiB page, which on a
// virtual machine costs more than filling the page. A hint; nothing changes
// where the system gives none.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace qv {

// Asks for huge pages on the whole 2 MiB ranges within [p, p + bytes).
inline void adviseHugePages(const void* p, size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + bytes) & ~(kHuge - 1);
  if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

}  // namespace qv
