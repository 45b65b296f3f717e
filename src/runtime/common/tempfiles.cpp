#include "runtime/common/tempfiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
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
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESETHAND;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace qv::rt
