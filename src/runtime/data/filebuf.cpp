#include "runtime/data/filebuf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/common/error.h"

namespace qv::rt {

namespace {

TextBuffer allocate(size_t size) {
  TextBuffer b;
  b.bytes.reset(new char[size + TextBuffer::kPadding]);
  b.size = size;
  std::memset(b.bytes.get() + size, 0, TextBuffer::kPadding);
  return b;
}

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

TextBuffer TextBuffer::fromText(std::string_view text) {
  TextBuffer b = allocate(text.size());
  if (!text.empty()) std::memcpy(b.bytes.get(), text.data(), text.size());
  return b;
}

TextBuffer readWholeFile(const std::string& path) {
  Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0)
    throw UserError("Cannot open " + path + ": " + std::strerror(errno) + ".");
  struct stat st {};
  if (::fstat(f.fd, &st) != 0)
    throw UserError("Cannot read " + path + ": " + std::strerror(errno) + ".");
  if (S_ISDIR(st.st_mode)) throw UserError("Cannot read " + path + ": it is a folder.");

  size_t capacity = S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) : 1 << 16;
  TextBuffer b = allocate(capacity);
  size_t used = 0;
  for (;;) {
    if (used == capacity) {
      // Full: look for more before enlarging (a pipe, or a file that grew
      // while being read), so that a regular file is never copied.
      char probe;
      ssize_t m = ::read(f.fd, &probe, 1);
      if (m < 0 && errno == EINTR) continue;
      if (m < 0) throw UserError("Cannot read " + path + ": " + std::strerror(errno) + ".");
      if (m == 0) break;
      size_t bigger = capacity * 2 + 4096;
      TextBuffer nb = allocate(bigger);
      if (used) std::memcpy(nb.bytes.get(), b.bytes.get(), used);
      b = std::move(nb);
      capacity = bigger;
      b.bytes[used++] = probe;
      continue;
    }
    ssize_t n = ::read(f.fd, b.bytes.get() + used, capacity - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw UserError("Cannot read " + path + ": " + std::strerror(errno) + ".");
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  b.size = used;
  std::memset(b.bytes.get() + used, 0, TextBuffer::kPadding);
  return b;
}

}  // namespace qv::rt
