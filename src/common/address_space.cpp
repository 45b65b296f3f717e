#include "common/address_space.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace qv {

namespace {

size_t softLimit(int resource) {
  rlimit r{};
  if (::getrlimit(resource, &r) != 0 || r.rlim_cur == RLIM_INFINITY) return 0;
  return static_cast<size_t>(r.rlim_cur);
}

}  // namespace

size_t addressSpaceLimit() { return softLimit(RLIMIT_AS); }

size_t addressSpaceUsed() {
  // The first number of /proc/self/statm is the size in pages.
  const int fd = ::open("/proc/self/statm", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char buf[64];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  ::close(fd);
  size_t pages = 0;
  for (ssize_t i = 0; i < n && buf[i] >= '0' && buf[i] <= '9'; ++i)
    pages = pages * 10 + static_cast<size_t>(buf[i] - '0');
  return pages * static_cast<size_t>(::sysconf(_SC_PAGESIZE));
}

bool roomForThread() {
  const size_t limit = addressSpaceLimit();
  if (limit == 0) return true;
  // A thread's stack is as large as the stack limit (the C library takes
  // 32 MiB when there is none).
  size_t stack = softLimit(RLIMIT_STACK);
  if (stack == 0) stack = size_t{32} << 20;
  return addressSpaceUsed() + stack + limit / 4 <= limit;
}

}  // namespace qv
