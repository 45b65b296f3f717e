// Jobs done on a few worker threads and handed back in the order they were
// given: the caller prepares each job, the workers do them, and the caller
// takes the results one by one, oldest first, so whatever it logs or
// writes comes in the same order however many threads there are. With one
// thread (or none) a job is done on the calling thread when it is taken.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::rt {

template <class Job>
class OrderedWork {
 public:
  // `work(job, worker)` does one job on worker number `worker` (from 0);
  // it must not throw.
  using Work = std::function<void(Job&, unsigned)>;

  OrderedWork(unsigned threads, Work work) : work_(std::move(work)) {
    if (threads < 2) return;
    workers_.reserve(threads);
    for (unsigned w = 0; w < threads; ++w) workers_.emplace_back([this, w] { run(w); });
  }
  // Jobs not started are dropped; the running ones are finished first.
  ~OrderedWork() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
      queue_.clear();
    }
    wake_.notify_all();
    for (std::thread& t : workers_) t.join();
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
      if (!workers_.empty()) queue_.push_back(s);
    }
    if (!workers_.empty()) wake_.notify_one();
  }

  // Jobs given and not yet taken.
  size_t pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return slots_.size();
  }

  // The oldest job once it is done; null when none is pending.
  std::unique_ptr<Job> next() {
    std::unique_ptr<Slot> slot;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (slots_.empty()) return nullptr;
      if (!workers_.empty()) done_.wait(lock, [&] { return slots_.front()->done; });
      slot = std::move(slots_.front());
      slots_.pop_front();
    }
    if (workers_.empty()) work_(*slot->job, 0);
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

  Work work_;
  mutable std::mutex mutex_;
  std::condition_variable wake_, done_;
  std::deque<std::unique_ptr<Slot>> slots_;  // given and not taken, oldest first
  std::deque<Slot*> queue_;                  // not started yet
  bool stop_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace qv::rt
