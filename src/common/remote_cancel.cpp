#include "common/remote_cancel.h"

#include <atomic>

namespace qv {

namespace {

std::atomic<void (*)()> routine{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free, "read from a signal handler");

}  // namespace

void setRemoteCancel(void (*cancel)()) { routine.store(cancel); }

void cancelRemoteWork() {
  if (void (*cancel)() = routine.load()) cancel();
}

}  // namespace qv
