// A whole file read into memory, with writable bytes and a little padding
// after the end so that scanners may place a sentinel there.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace qv::rt {

struct TextBuffer {
  static constexpr size_t kPadding = 16;
  std::unique_ptr<char[]> bytes;  // size + kPadding bytes, the padding zeroed
  size_t size = 0;

  char* data() { return bytes.get(); }
  const char* data() const { return bytes.get(); }
  std::string_view view() const { return {bytes.get(), size}; }

  static TextBuffer fromText(std::string_view text);
};

// Reads a file whole (regular files, pipes and devices alike). UserError
// naming the file when it cannot be opened or read.
TextBuffer readWholeFile(const std::string& path);

}  // namespace qv::rt
