// A whole file held in memory, read with read() rather than mapped: a file
// cut short by another program while it is read then gives short data or an
// error, never a signal. Only regular files are read; a device, FIFO or
// folder is refused before anything is read from it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace qv {

class TextBuffer {
 public:
  TextBuffer() = default;
  TextBuffer(TextBuffer&& o) noexcept = default;
  TextBuffer& operator=(TextBuffer&& o) noexcept = default;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  const char* data() const { return heap_ ? heap_.get() : ""; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data(), size_}; }

  static TextBuffer fromText(std::string_view text);

 private:
  friend TextBuffer readToEnd(int fd, const std::string& name, size_t limit, bool* tooLong);

  std::unique_ptr<char[]> heap_;  // size_ bytes and a terminating NUL
  size_t size_ = 0;
};

// What kind of file `mode` (st_mode) is, in a user's words ("a folder", "a
// FIFO", "a device"), or "" for a regular file.
const char* notRegularFile(unsigned mode);

// Opens `path` for reading without blocking on a FIFO and checks that it is
// a regular file. Returns the descriptor; -1 with errno set when it cannot
// be opened, or with *kind set (notRegularFile's words) when it is no
// regular file.
int openRegularFd(const std::string& path, const char** kind);
// The same, with a UserError naming the file (and what it is) for -1.
int openRegularFile(const std::string& path);

// Reads `fd` to its end, or to `limit` bytes: *tooLong (when given) then
// says more was there. UserError naming `name` when it cannot be read.
TextBuffer readToEnd(int fd, const std::string& name, size_t limit, bool* tooLong);

// Reads a regular file whole. UserError naming the file when it cannot be
// opened or read, or is not a regular file.
TextBuffer readWholeFile(const std::string& path);

}  // namespace qv
