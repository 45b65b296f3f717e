// The progress line: when standard error is a terminal and a step has run
// for more than two seconds, one line there says what the step is doing
// and how far it has come, rewritten in place (a carriage return, then the
// line, then an erase to its end) as it goes, e.g.
//   TAVLO 0:07 reading WORK.POINTS: 96 of 194 MB (49%)
//   TAVLO 0:12 drawing the BY groups: 31 of 50
//   TAVLO 0:03 waiting for the database: WORK.GPS
// and erased when the step ends. It never goes into the log file, nor to a
// standard error that is not a terminal.
//
// A thread wakes ten times a second to draw it; the work only stores its
// count (ProgressTask::set, an atomic store) where it is done anyway, at a
// block of rows or a map, never once a row. Log lines written to the
// terminal while the line shows erase it first and draw it again after
// (ProgressPause), so that the two never mix.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace qv {

// Shows the line on descriptor `fd` from now on, when it is a terminal;
// false when it is not shown. (QORTAVLO_PROGRESS_AFTER_MS in the
// environment sets how long a step runs before it shows, for tests.)
bool startProgressLine(int fd);
// Erases the line and stops its thread.
void stopProgressLine();

// The step that runs: the line shows once it has run for two seconds,
// headed by `name`, and is erased when it ends.
void progressStepBegin(const std::string& name);
void progressStepEnd();

// What the step is doing, for as long as the task lives (the latest task
// begun is the one shown): `what`, and with a `total` how far of it,
// counted in `unit` ("MB" counts bytes and shows megabytes; others are
// shown as they are counted).
class ProgressTask {
 public:
  explicit ProgressTask(std::string what, uint64_t total = 0, std::string unit = {});
  ~ProgressTask();
  ProgressTask(const ProgressTask&) = delete;
  ProgressTask& operator=(const ProgressTask&) = delete;

  void set(uint64_t done) { done_.store(done, std::memory_order_relaxed); }

  // Sets the count of the latest task begun (none: nothing), for a reader
  // that does not know whether a task counts its work.
  static void setLatest(uint64_t done);

 private:
  friend struct ProgressState;
  std::string what_, unit_;
  uint64_t total_;
  std::atomic<uint64_t> done_{0};
  ProgressTask* outer_;
};

// Erases the line from `fd` while it lives, when it shows there, and
// draws it again after: for a log line written to the same terminal.
class ProgressPause {
 public:
  explicit ProgressPause(int fd);
  ~ProgressPause();
  ProgressPause(const ProgressPause&) = delete;
  ProgressPause& operator=(const ProgressPause&) = delete;

 private:
  bool held_;
};

// For the signal handler: the descriptor the line shows on, -1 when it
// shows nowhere (async-signal-safe).
int progressLineShownOn() noexcept;

}  // namespace qv
