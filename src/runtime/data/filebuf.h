// A whole file held in memory: mapped when it is a regular file, else read
// into a heap block (pipes, devices, texts made by tests). A mapped file
// must not be cut short by another program while it is being parsed; the
// readers copy what they keep, so the mapping lives only for one parse.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace qv::rt {

class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(TextBuffer&& o) noexcept;
  TextBuffer& operator=(TextBuffer&& o) noexcept;
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }

  static TextBuffer fromText(std::string_view text);

 private:
  friend TextBuffer readWholeFile(const std::string& path);
  void release();

  const char* data_ = "";
  size_t size_ = 0;
  std::unique_ptr<char[]> heap_;
  void* map_ = nullptr;  // a mapping of map_size_ bytes, unmapped at the end
  size_t mapSize_ = 0;
};

// Reads a file whole (regular files, pipes and devices alike). UserError
// naming the file when it cannot be opened or read.
TextBuffer readWholeFile(const std::string& path);

}  // namespace qv::rt
