// UTF-8 text cut to a byte budget without splitting a character.
#pragma once

#include <cstddef>
#include <string_view>

namespace qv {

// The longest prefix of `s` of at most `max` bytes that ends on a character
// boundary.
inline std::string_view cutUtf8(std::string_view s, size_t max) {
  if (s.size() <= max) return s;
  size_t n = max;
  // Step back over continuation bytes so that no character is split.
  while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
  return s.substr(0, n);
}

}  // namespace qv
