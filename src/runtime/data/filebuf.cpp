#include "runtime/data/filebuf.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "runtime/common/error.h"

namespace qv::rt {

namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

TextBuffer::~TextBuffer() { release(); }

void TextBuffer::release() {
  if (map_) ::munmap(map_, mapSize_);
  map_ = nullptr;
  mapSize_ = 0;
  heap_.reset();
  data_ = "";
  size_ = 0;
}

TextBuffer::TextBuffer(TextBuffer&& o) noexcept { *this = std::move(o); }

TextBuffer& TextBuffer::operator=(TextBuffer&& o) noexcept {
  if (this != &o) {
    release();
    data_ = std::exchange(o.data_, "");
    size_ = std::exchange(o.size_, 0);
    heap_ = std::move(o.heap_);
    map_ = std::exchange(o.map_, nullptr);
    mapSize_ = std::exchange(o.mapSize_, 0);
  }
  return *this;
}

TextBuffer TextBuffer::fromText(std::string_view text) {
  TextBuffer b;
  b.heap_.reset(new char[text.size() + 1]);
  if (!text.empty()) std::memcpy(b.heap_.get(), text.data(), text.size());
  b.heap_[text.size()] = '\0';
  b.data_ = b.heap_.get();
  b.size_ = text.size();
  return b;
}

TextBuffer readWholeFile(const std::string& path) {
  auto fail = [&](const char* what) {
    return UserError("Cannot " + std::string(what) + " " + path + ": " + std::strerror(errno) + ".");
  };
  Fd f{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (f.fd < 0) throw fail("open");
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) throw fail("read");
  if (S_ISDIR(st.st_mode)) throw UserError("Cannot read " + path + ": it is a folder.");

  TextBuffer b;
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    size_t size = static_cast<size_t>(st.st_size);
    void* m = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, f.fd, 0);
    if (m != MAP_FAILED) {
      b.map_ = m;
      b.mapSize_ = size;
      b.data_ = static_cast<const char*>(m);
      b.size_ = size;
      return b;
    }
    // Not mappable: read it instead.
  }

  // A pipe or device (or a file that cannot be mapped): read until the end.
  size_t capacity = S_ISREG(st.st_mode) ? static_cast<size_t>(st.st_size) + 1 : 1 << 16;
  std::unique_ptr<char[]> buf(new char[capacity]);
  size_t used = 0;
  for (;;) {
    if (used == capacity) {
      size_t bigger = capacity * 2;
      std::unique_ptr<char[]> nb(new char[bigger]);
      std::memcpy(nb.get(), buf.get(), used);
      buf = std::move(nb);
      capacity = bigger;
    }
    ssize_t n = ::read(f.fd, buf.get() + used, capacity - used);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail("read");
    }
    if (n == 0) break;
    used += static_cast<size_t>(n);
  }
  b.heap_ = std::move(buf);
  b.data_ = b.heap_.get();
  b.size_ = used;
  return b;
}

}  // namespace qv::rt
