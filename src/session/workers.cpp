#include "session/workers.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "common/address_space.h"
#include "common/pages.h"
#include "render/paint/text.h"

namespace qv::rt {

Workers::Workers(std::function<void()> setUp) : setUp_(std::move(setUp)) {}

Workers::~Workers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : threads_) t.join();
}

unsigned Workers::reserve(unsigned n) {
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    while (threads_.size() < n && roomForThread()) {
      const auto k = static_cast<unsigned>(threads_.size());
      threads_.emplace_back([this, k] { loop(k); });
    }
  } catch (...) {
    // No more threads to be had (the system makes no more, or no memory
    // for one): those there are do the work.
  }
  return static_cast<unsigned>(threads_.size());
}

unsigned Workers::launch(unsigned n, std::function<void(unsigned)> task) {
  n = std::min(n, reserve(n));
  if (n == 0) return 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = std::move(task);
    wanted_ = running_ = n;
    ++round_;
  }
  wake_.notify_all();
  return n;
}

void Workers::join() {
  std::unique_lock<std::mutex> lock(mutex_);
  finished_.wait(lock, [&] { return running_ == 0; });
  task_ = nullptr;
}

void Workers::loop(unsigned k) {
  // Setting up only saves time later: a thread that cannot still works.
  try {
    if (setUp_) setUp_();
  } catch (...) {
  }
  uint64_t seen = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stop_ || (round_ != seen && k < wanted_); });
    if (stop_) return;
    seen = round_;
    const std::function<void(unsigned)>& task = task_;
    lock.unlock();
    task(k);
    lock.lock();
    if (--running_ == 0) finished_.notify_all();
  }
}

namespace {

// A thread's first map touches every page of its allocator's heap afresh,
// one fault per 4 KiB page, which on a virtual machine costs about as much
// as drawing. Ask for transparent huge pages on the heap of this thread's
// arena: glibc gives a thread other than the first a heap of its own, a
// mapping of 64 MiB aligned to its size. Memory of the main heap (below the
// program break) is left alone; it has its own advice.
void adviseHeapLargePages() {
  constexpr uintptr_t kHeapBytes = uintptr_t{64} << 20;
  void* probe = std::malloc(64);
  const auto at = reinterpret_cast<uintptr_t>(probe);
  if (probe && at > reinterpret_cast<uintptr_t>(sbrk(0)))
    adviseHugePages(reinterpret_cast<void*>(at & ~(kHeapBytes - 1)), kHeapBytes);
  std::free(probe);
}

}  // namespace

void setUpDrawingThread() {
  adviseHeapLargePages();
  render::warmUpText();
}

}  // namespace qv::rt
