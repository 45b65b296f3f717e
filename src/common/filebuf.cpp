#include "common/filebuf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "common/error.h"

namespace qv {

namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

UserError systemError(const char* what, const std::string& path) {
  return UserError("Cannot " + std::string(what) + " " + path + ": " + std::strerror(errno) + ".");
}

}  // namespace

TextBuffer TextBuffer::fromText(std::string_view text) {
  TextBuffer b;
  b.heap_.reset(new char[text.size() + 1]);
  if (!text.empty()) std::memcpy(b.heap_.get(), text.data(), text.size());
  b.heap_[text.size()] = '\0';
  b.size_ = text.size();
  return b;
}

const char* notRegularFile(unsigned mode) {
  if (S_ISREG(mode)) return "";
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

int openRegularFd(const std::string& path, const char** kind) {
  *kind = nullptr;
  // O_NONBLOCK: opening a FIFO must not wait for a writer. It changes
  // nothing for a regular file, and is cleared once the file is known.
  Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)};
  if (f.fd < 0) return -1;
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) return -1;
  if (const char* k = notRegularFile(st.st_mode); *k) {
    *kind = k;
    return -1;
  }
  ::fcntl(f.fd, F_SETFL, ::fcntl(f.fd, F_GETFL) & ~O_NONBLOCK);
  return std::exchange(f.fd, -1);
}

int openRegularFile(const std::string& path) {
  const char* kind = nullptr;
  const int fd = openRegularFd(path, &kind);
  if (fd >= 0) return fd;
  if (kind) throw UserError("Cannot read " + path + ": it is " + kind + ", not a regular file.");
  throw systemError("open", path);
}

TextBuffer readToEnd(int fd, const std::string& name, size_t limit, bool* tooLong) {
  if (tooLong) *tooLong = false;
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw systemError("read", name);

  // Read into a block of the file's size (a pipe's is 0); a file that grows
  // meanwhile is read to its new end, one that shrinks ends where its data
  // ends.
  size_t capacity = static_cast<size_t>(std::min<uint64_t>(st.st_size, limit)) + 1;
  std::unique_ptr<char[]> buf(new char[capacity]);
  size_t used = 0;
  for (;;) {
    if (used > limit) {
      if (tooLong) *tooLong = true;
      used = limit;
      break;
    }
    if (used + 1 == capacity) {
      // Full: look for more before growing, so a file that kept its size
      // costs one block of its size.
      char probe[4096];
      ssize_t n = ::read(fd, probe, sizeof probe);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw systemError("read", name);
      if (n == 0) break;
      size_t bigger = std::max(capacity * 2, used + static_cast<size_t>(n) + 1);
      std::unique_ptr<char[]> nb(new char[bigger]);
      std::memcpy(nb.get(), buf.get(), used);
      std::memcpy(nb.get() + used, probe, static_cast<size_t>(n));
      buf = std::move(nb);
      capacity = bigger;
      used += static_cast<size_t>(n);
      continue;
    }
    ssize_t n = ::read(fd, buf.get() + used, capacity - 1 - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw systemError("read", name);
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  buf[used] = '\0';
  TextBuffer b;
  b.heap_ = std::move(buf);
  b.size_ = used;
  return b;
}

TextBuffer readWholeFile(const std::string& path) {
  Fd f{openRegularFile(path)};
  return readToEnd(f.fd, path, SIZE_MAX - 1, nullptr);
}

}  // namespace qv
