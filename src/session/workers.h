// Threads kept for the whole run. A step that draws its BY groups at once
// runs them on these, so what a drawing thread sets up once (its font map,
// its heap) is done a single time, and early: asked for when the step
// begins, it happens while the step's data are still being read.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qv::rt {

class Workers {
 public:
  // `setUp` runs first on each thread made, before any task.
  explicit Workers(std::function<void()> setUp = {});
  // Waits for the threads; no task may be running.
  ~Workers();
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Makes threads now until there are `n`; they set themselves up at once,
  // on their own time, and this returns without waiting for them. Answers
  // how many there are: fewer when the system makes no more.
  unsigned reserve(unsigned n);

  // Runs task(k) on threads k = 0 .. m-1, m = n or as many as there can be
  // (made if there are fewer), and returns m at once; join() waits until
  // all m have returned. One set of tasks at a time; `task` must not throw.
  unsigned launch(unsigned n, std::function<void(unsigned)> task);
  void join();

 private:
  void loop(unsigned k);

  std::function<void()> setUp_;
  std::mutex mutex_;
  std::condition_variable wake_, finished_;
  std::function<void(unsigned)> task_;  // under mutex_
  unsigned wanted_ = 0;                 // threads that run the task
  unsigned running_ = 0;                // of those, not yet returned
  uint64_t round_ = 0;                  // counts the launches
  bool stop_ = false;
  std::vector<std::thread> threads_;
};

// What a thread that draws maps sets up once: its font map, with the
// default font matched and drawn, and its heap on large pages.
void setUpDrawingThread();

}  // namespace qv::rt
