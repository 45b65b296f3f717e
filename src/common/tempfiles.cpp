#include "common/tempfiles.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "common/progress.h"
#include "common/remote_cancel.h"

namespace qv {

namespace {

// The signals that end the run, each with the log line it ends with.
struct Ending {
  int signal;
  std::string_view line;
};
constexpr Ending kEndings[] = {
    {SIGINT, "ERROR: The run was ended by the signal SIGINT.\n"},
    {SIGTERM, "ERROR: The run was ended by the signal SIGTERM.\n"},
    {SIGHUP, "ERROR: The run was ended by the signal SIGHUP.\n"},
    {SIGQUIT, "ERROR: The run was ended by the signal SIGQUIT.\n"},
};
static_assert(std::size(kEndings) == 4, "every signal the handler takes has its line");

sigset_t endingSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const Ending& e : kEndings) sigaddset(&set, e.signal);
  return set;
}

// The register, read by the signal handler without locks or allocation:
// chunks of slots, each null or a registered path (a C string of its own).
// Chunks are added as more files are staged and never freed, so whatever
// the handler reaches stays valid.
constexpr size_t kChunkSlots = 256;
struct Chunk {
  std::atomic<char*> slots[kChunkSlots] = {};
  std::atomic<Chunk*> next{nullptr};
};
static_assert(std::atomic<char*>::is_always_lock_free && std::atomic<Chunk*>::is_always_lock_free,
              "read from a signal handler");
Chunk firstChunk;

// What registering and forgetting need besides (never touched by the
// handler): the free slots and the slot of each path, under a lock. Made
// once and kept, so that no thread finds it gone at exit.
struct Books {
  std::mutex lock;
  Chunk* last = nullptr;  // the newest chunk; null before the first is used
  size_t slots = 0;       // in all chunks
  std::vector<std::atomic<char*>*> free;  // with room for every slot
  std::unordered_map<std::string, std::atomic<char*>*> slotOf;
};
Books& books() {
  static Books* b = new Books;
  return *b;
}

// The log's descriptors, for the handler's last line.
std::atomic<int> logStream{-1}, logFile{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

// Work under SignalsHeld, counted so that the handler waits for it; once
// the handler has begun (`ending`) no more starts.
std::atomic<bool> ending{false};
std::atomic<int> busy{0};

mode_t currentUmask() {
  mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

}  // namespace

void writeWhole(int fd, std::string_view line) {
  if (fd < 0) return;
  pollfd p{fd, POLLOUT, 0};
  if (::poll(&p, 1, 1000) != 1 || (p.revents & POLLOUT) == 0) return;
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR) continue;
    else return;
  }
}

namespace {

void onSignal(int sig) {
  // A second signal, on another thread, leaves the ending to the first.
  if (ending.exchange(true))
    for (;;) ::pause();
  // Work under way finishes first, for at most two seconds: a log line
  // stuck on a full pipe does not keep the run from ending.
  for (int i = 0; i < 20'000 && busy.load() != 0; ++i) {
    const timespec pauseBriefly{0, 100'000};
    ::nanosleep(&pauseBriefly, nullptr);
  }
  for (Chunk* c = &firstChunk; c; c = c->next.load())
    for (auto& slot : c->slots)
      if (char* p = slot.load()) ::unlink(p);
  // A statement a database server runs for the run would go on without it.
  cancelRemoteWork();
  for (const Ending& e : kEndings)
    if (e.signal == sig) {
      // The line goes where a progress line may show: that is erased.
      if (progressLineShownOn() >= 0 && progressLineShownOn() == logStream.load())
        writeWhole(logStream.load(), "\r\x1b[K");
      writeWhole(logStream.load(), e.line);
      if (logFile.load() != logStream.load()) writeWhole(logFile.load(), e.line);
    }
  // Ended by the same signal, the process gives its parent the status a
  // shell shows as 128 + the signal's number. A quit asked for leaves no
  // core file behind.
  if (sig == SIGQUIT) ::prctl(PR_SET_DUMPABLE, 0);
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::_exit(128 + sig);
}

// Registers a path; false when there is no memory for it.
bool registerTempFile(const std::string& path) {
  char* copy = ::strdup(path.c_str());
  if (!copy) return false;
  Books& b = books();
  try {
    std::lock_guard<std::mutex> hold(b.lock);
    if (b.free.empty()) {
      b.free.reserve(b.slots + kChunkSlots);
      Chunk* c = b.last ? new Chunk : &firstChunk;
      for (size_t i = kChunkSlots; i-- > 0;) b.free.push_back(&c->slots[i]);
      if (b.last) b.last->next.store(c);
      b.last = c;
      b.slots += kChunkSlots;
    }
    auto [at, added] = b.slotOf.try_emplace(path, nullptr);
    if (added) {
      at->second = b.free.back();
      b.free.pop_back();
    }
    std::free(at->second->exchange(copy));
    return true;
  } catch (const std::bad_alloc&) {
    std::free(copy);
    return false;
  }
}

}  // namespace

SignalsHeld::SignalsHeld() {
  const sigset_t all = endingSignals();
  pthread_sigmask(SIG_BLOCK, &all, &old_);
  busy.fetch_add(1);
  if (ending.load()) {
    // The run is being ended by a signal: nothing more is done.
    busy.fetch_sub(1);
    for (;;) ::pause();
  }
}

SignalsHeld::~SignalsHeld() {
  busy.fetch_sub(1);
  pthread_sigmask(SIG_SETMASK, &old_, nullptr);
}

void logSignalsTo(int stream, int file) {
  logStream.store(stream);
  logFile.store(file);
}

void forgetTempFile(const std::string& path) {
  const SignalsHeld held;
  Books& b = books();
  char* p = nullptr;
  {
    std::lock_guard<std::mutex> hold(b.lock);
    auto it = b.slotOf.find(path);
    if (it == b.slotOf.end()) return;
    p = it->second->exchange(nullptr);
    // The free list has room for every slot: this never allocates.
    b.free.push_back(it->second);
    b.slotOf.erase(it);
  }
  std::free(p);
}

void removeTempFile(const std::string& path) {
  ::unlink(path.c_str());
  forgetTempFile(path);
}

int createTempBeside(const std::string& target, std::string& path) {
  std::string pattern = target + ".XXXXXX";
  const SignalsHeld held;
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  int err = errno;
  if (fd >= 0) {
    // mkostemp makes the file 0600; an image or template is as readable as
    // any file the user makes.
    ::fchmod(fd, 0666 & ~currentUmask());
    if (registerTempFile(pattern)) {
      path = std::move(pattern);
    } else {
      // A file a signal would leave behind is not made.
      ::close(fd);
      ::unlink(pattern.c_str());
      fd = -1;
      err = ENOMEM;
    }
  }
  errno = err;
  return fd;
}

int writeTempBeside(const std::string& target, const void* data, size_t size, std::string& path,
                    struct stat* st) {
  std::string tmp;
  const int fd = createTempBeside(target, tmp);
  if (fd < 0) return errno;
  const char* bytes = static_cast<const char*>(data);
  size_t done = 0;
  int err = 0;
  while (done < size && err == 0) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n > 0) done += static_cast<size_t>(n);
    else if (n == 0) err = EIO;
    else if (errno != EINTR) err = errno;
  }
  if (err == 0 && st && ::fstat(fd, st) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err != 0) {
    removeTempFile(tmp);
    return err;
  }
  path = std::move(tmp);
  return 0;
}

int replaceFile(const std::string& target, const void* data, size_t size) {
  std::string tmp;
  if (int err = writeTempBeside(target, data, size, tmp)) return err;
  if (std::rename(tmp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    removeTempFile(tmp);
    return err;
  }
  forgetTempFile(tmp);
  return 0;
}

void removeTempFilesOnSignal() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  // The other signals wait while the handler runs on this thread.
  sa.sa_mask = endingSignals();
  for (const Ending& e : kEndings) ::sigaction(e.signal, &sa, nullptr);
}

}  // namespace qv
