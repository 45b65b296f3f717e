#include "common/progress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>

#include "common/shown_name.h"
#include "common/tempfiles.h"

namespace qv {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kTick = std::chrono::milliseconds(100);

// The descriptor the line shows on now, for the signal handler.
std::atomic<int> shownOn{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

void writeAll(int fd, const std::string& s) {
  const SignalsHeld held;
  writeWhole(fd, s);
}

// "m:ss" (or "h:mm:ss") of a duration.
std::string clockText(Clock::duration d) {
  const long long s = std::chrono::duration_cast<std::chrono::seconds>(d).count();
  char buf[32];
  if (s >= 3600)
    std::snprintf(buf, sizeof buf, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
  else
    std::snprintf(buf, sizeof buf, "%lld:%02lld", s / 60, s % 60);
  return buf;
}

}  // namespace

struct ProgressState {
  std::mutex lock;
  std::condition_variable wake;
  std::thread ticker;
  int fd = -1;  // where the line shows (a terminal); -1: nowhere
  Clock::duration after = std::chrono::seconds(2);
  bool stop = false;
  bool inStep = false;
  std::string step;
  Clock::time_point began;
  ProgressTask* latest = nullptr;
  std::string shown;  // the text on the terminal now, "" for none

  // The line for now, cut to the terminal's width so that it never wraps
  // (a wrapped line is not rewritten in place).
  std::string text() const {
    std::string t = step + " " + clockText(Clock::now() - began) + " ";
    if (!latest) {
      t += "working";
    } else {
      t += latest->what_;
      const uint64_t done = latest->done_.load(std::memory_order_relaxed);
      const uint64_t total = latest->total_;
      const bool mb = latest->unit_ == "MB";
      auto count = [&](uint64_t n) { return std::to_string(mb ? (n + (1u << 19)) >> 20 : n); };
      if (total > 0) {
        t += ": " + count(std::min(done, total)) + " of " + count(total);
        if (!latest->unit_.empty()) t += " " + latest->unit_;
        t += " (" + std::to_string(std::min(done, total) * 100 / total) + "%)";
      } else if (done > 0) {
        t += ": " + count(done);
        if (!latest->unit_.empty()) t += " " + latest->unit_;
      }
    }
    t = escapedText(t);
    winsize ws{};
    const size_t columns = ::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col - 1 : 79;
    if (t.size() > columns) {
      size_t cut = columns;
      while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) --cut;
      t.resize(cut);
    }
    return t;
  }
  void draw(const std::string& t) {
    writeAll(fd, "\r" + t + "\x1b[K");
    shown = t;
    shownOn.store(fd);
  }
  void erase() {
    if (shown.empty()) return;
    writeAll(fd, "\r\x1b[K");
    shown.clear();
    shownOn.store(-1);
  }
  void run() {
    std::unique_lock<std::mutex> l(lock);
    while (!stop) {
      wake.wait_for(l, kTick);
      if (stop || !inStep || Clock::now() - began < after) continue;
      if (std::string t = text(); t != shown) draw(t);
    }
    erase();
  }
};

namespace {

ProgressState& state() {
  static ProgressState* s = new ProgressState;  // kept: no thread finds it gone at exit
  return *s;
}

}  // namespace

bool startProgressLine(int fd) {
  if (fd < 0 || !::isatty(fd)) return false;
  ProgressState& s = state();
  std::lock_guard<std::mutex> l(s.lock);
  if (s.fd >= 0) return true;
  // For tests: how long a step runs before the line shows.
  if (const char* ms = std::getenv("QORTAVLO_PROGRESS_AFTER_MS"))
    s.after = std::chrono::milliseconds(std::strtoll(ms, nullptr, 10));
  try {
    s.stop = false;
    s.ticker = std::thread([&s] { s.run(); });
  } catch (const std::system_error&) {
    return false;  // no thread for it: the run goes on without the line
  }
  s.fd = fd;
  return true;
}

void stopProgressLine() {
  ProgressState& s = state();
  {
    std::lock_guard<std::mutex> l(s.lock);
    if (s.fd < 0) return;
    s.stop = true;
  }
  s.wake.notify_all();
  s.ticker.join();
  std::lock_guard<std::mutex> l(s.lock);
  s.fd = -1;
}

void progressStepBegin(const std::string& name) {
  ProgressState& s = state();
  std::lock_guard<std::mutex> l(s.lock);
  s.inStep = true;
  s.step = name;
  s.began = Clock::now();
}

void progressStepEnd() {
  ProgressState& s = state();
  std::lock_guard<std::mutex> l(s.lock);
  s.inStep = false;
  if (s.fd >= 0) s.erase();
}

ProgressTask::ProgressTask(std::string what, uint64_t total, std::string unit)
    : what_(std::move(what)), unit_(std::move(unit)), total_(total) {
  ProgressState& s = state();
  std::lock_guard<std::mutex> l(s.lock);
  outer_ = s.latest;
  s.latest = this;
}

ProgressTask::~ProgressTask() {
  ProgressState& s = state();
  std::lock_guard<std::mutex> l(s.lock);
  // Tasks end in the order they began on their thread; one of another
  // thread that ends first is taken out where it stands.
  for (ProgressTask** t = &s.latest; *t; t = &(*t)->outer_)
    if (*t == this) {
      *t = outer_;
      break;
    }
}

void ProgressTask::setLatest(uint64_t done) {
  ProgressState& s = state();
  std::lock_guard<std::mutex> l(s.lock);
  if (s.latest) s.latest->set(done);
}

ProgressPause::ProgressPause(int fd) : held_(false) {
  ProgressState& s = state();
  if (fd < 0) return;
  s.lock.lock();
  if (s.fd != fd || s.shown.empty()) {
    s.lock.unlock();
    return;
  }
  held_ = true;
  s.erase();
}

ProgressPause::~ProgressPause() {
  if (!held_) return;
  ProgressState& s = state();
  s.draw(s.text());
  s.lock.unlock();
}

int progressLineShownOn() noexcept { return shownOn.load(); }

}  // namespace qv
