// Jobs done on a few threads and handed back in the order they were given:
// the caller prepares each job, and takes the results one by one, oldest
// first, so whatever it logs or writes comes in the same order however many
// threads there are. The caller is one of the threads: while the oldest job
// is not done it does the next one not started; the others come from the
// run's Workers. With one thread a job is done when it is taken.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "session/workers.h"

namespace qv::rt {

template <class Job>
class OrderedWork {
 public:
  // `work(job, worker)` does one job on worker number `worker` (from 0;
  // 0 is the caller); it must not throw.
  using Work = std::function<void(Job&, unsigned)>;

  OrderedWork(Workers& workers, unsigned threads, Work work)
      : workers_(workers), work_(std::move(work)) {
    if (threads > 1) helpers_ = workers_.launch(threads - 1, [this](unsigned k) { run(k + 1); });
  }
  // Jobs not started are dropped; the running ones are finished first.
  ~OrderedWork() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      queue_.clear();
    }
    wake_.notify_all();
    if (helpers_) workers_.join();
  }
  OrderedWork(const OrderedWork&) = delete;
  OrderedWork& operator=(const OrderedWork&) = delete;

  void submit(std::unique_ptr<Job> job) {
    auto slot = std::make_unique<Slot>();
    slot->job = std::move(job);
    Slot* s = slot.get();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_.push_back(std::move(slot));
      queue_.push_back(s);
    }
    if (helpers_) wake_.notify_one();
  }

  // Jobs given and not yet taken.
  size_t pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.size();
  }

  // The oldest job once it is done; null when none is pending.
  std::unique_ptr<Job> next() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (slots_.empty()) return nullptr;
    while (!slots_.front()->done) {
      if (queue_.empty()) {
        done_.wait(lock);
        continue;
      }
      Slot* s = queue_.front();
      queue_.pop_front();
      lock.unlock();
      work_(*s->job, 0);
      lock.lock();
      s->done = true;
    }
    std::unique_ptr<Slot> slot = std::move(slots_.front());
    slots_.pop_front();
    return std::move(slot->job);
  }

 private:
  struct Slot {
    std::unique_ptr<Job> job;
    bool done = false;  // under mutex_
  };

  void run(unsigned worker) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
      if (stop_) return;
      Slot* s = queue_.front();
      queue_.pop_front();
      lock.unlock();
      work_(*s->job, worker);
      lock.lock();
      s->done = true;
      done_.notify_all();
    }
  }

  Workers& workers_;
  unsigned helpers_ = 0;  // threads besides the caller
  Work work_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<std::unique_ptr<Slot>> slots_;  // given and not taken, oldest first
  std::deque<Slot*> queue_;                  // not started yet
  bool stop_ = false;
};

}  // namespace qv::rt
