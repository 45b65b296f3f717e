// Runs independent tasks 0..n-1 on a few threads: the calling thread and
// up to threads-1 more, each taking the next task number in turn. An
// exception thrown by a task is kept and the one of the lowest task number
// is thrown again once every thread has finished. A thread that cannot be
// made (the system makes no more, no memory for it, no room left in a
// limited address space) is not made: the ones there are do the work.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <thread>
#include <vector>

#include "common/address_space.h"
#include "common/cores.h"

namespace qv {

template <class F>
void parallelFor(size_t n, unsigned threads, F&& task) {
  if (threads > n) threads = static_cast<unsigned>(n);
  if (threads <= 1) {
    for (size_t i = 0; i < n; ++i) task(i);
    return;
  }
  std::atomic<size_t> next{0};
  std::vector<std::exception_ptr> errors(n);
  auto work = [&] {
    for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < n;) {
      try {
        task(i);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  std::vector<std::thread> pool;
  try {
    pool.reserve(threads - 1);
    for (unsigned t = 1; t < threads && roomForThread(); ++t) pool.emplace_back(work);
  } catch (...) {
    // No more threads to be had: the ones there are do the work.
  }
  work();
  for (auto& t : pool) t.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
}

}  // namespace qv
