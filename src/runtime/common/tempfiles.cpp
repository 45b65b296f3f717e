#include "runtime/common/tempfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace qv::rt {

namespace {

// A fixed table of C strings: the signal handler reads it without locks or
// allocation. A run writes a handful of files at once; past the table's
// size a file is still written, only not removed on a signal.
constexpr int kSlots = 256;
std::atomic<char*> slots[kSlots];

mode_t currentUmask() {
  mode_t m = ::umask(0);
  ::umask(m);
  return m;
}

void onSignal(int sig) {
  for (auto& slot : slots)
    if (char* p = slot.load()) ::unlink(p);
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

}  // namespace

void registerTempFile(const std::string& path) {
  char* copy = ::strdup(path.c_str());
  if (!copy) return;
  for (auto& slot : slots) {
    char* expected = nullptr;
    if (slot.compare_exchange_strong(expected, copy)) return;
  }
  std::free(copy);
}

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
  int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return -1;
  // mkostemp makes the file 0600; an image or template is as readable as
  // any file the user makes.
  ::fchmod(fd, 0666 & ~currentUmask());
  path = std::move(pattern);
  registerTempFile(path);
  return fd;
}

void removeTempFilesOnSignal() {
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace qv::rt
