#include "common/tempfiles.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "common/remote_cancel.h"

namespace qv {

namespace {

// A fixed table of C strings: the signal handler reads it without locks or
// allocation. A run writes a handful of files at once; past the table's
// size a file is still written, only not removed on a signal.
constexpr int kSlots = 256;
std::atomic<char*> slots[kSlots];

// A file is made and registered as one step against the handler, which may
// run on any thread: once it starts no file is made, and it waits for the
// ones being made to be registered before it removes them.
std::atomic<bool> ending{false};
std::atomic<int> making{0};

// Keeps SIGINT and SIGTERM from this thread while it makes a file, so the
// handler never runs on a thread that holds `making`.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t both;
    sigemptyset(&both);
    sigaddset(&both, SIGINT);
    sigaddset(&both, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &both, &old_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t old_;
};

mode_t currentUmask() {
  mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

void onSignal(int sig) {
  // A second signal, on another thread, leaves the ending to the first.
  if (ending.exchange(true))
    for (;;) ::pause();
  while (making.load() != 0) {
    const timespec pauseBriefly{0, 100'000};
    ::nanosleep(&pauseBriefly, nullptr);
  }
  for (auto& slot : slots)
    if (char* p = slot.load()) ::unlink(p);
  // A statement a database server runs for the run would go on without it.
  cancelRemoteWork();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void registerTempFile(const std::string& path) {
  char* copy = ::strdup(path.c_str());
  if (!copy) return;
  for (auto& slot : slots) {
    char* expected = nullptr;
    if (slot.compare_exchange_strong(expected, copy)) return;
  }
  std::free(copy);
}

}  // namespace

void forgetTempFile(const std::string& path) {
  for (auto& slot : slots) {
    char* p = slot.load();
    if (p && path == p) {
      char* expected = p;
      if (slot.compare_exchange_strong(expected, nullptr)) {
        std::free(p);
        return;
      }
    }
  }
}

void removeTempFile(const std::string& path) {
  ::unlink(path.c_str());
  forgetTempFile(path);
}

int createTempBeside(const std::string& target, std::string& path) {
  std::string pattern = target + ".XXXXXX";
  const SignalsHeld held;
  making.fetch_add(1);
  if (ending.load()) {
    // The run is being ended by a signal: nothing more is made.
    making.fetch_sub(1);
    for (;;) ::pause();
  }
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd >= 0) {
    // mkostemp makes the file 0600; an image or template is as readable as
    // any file the user makes.
    ::fchmod(fd, 0666 & ~currentUmask());
    path = std::move(pattern);
    registerTempFile(path);
  }
  const int err = errno;
  making.fetch_sub(1);
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
  // Either signal waits while the handler runs on this thread.
  sigemptyset(&sa.sa_mask);
  sigaddset(&sa.sa_mask, SIGINT);
  sigaddset(&sa.sa_mask, SIGTERM);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace qv
