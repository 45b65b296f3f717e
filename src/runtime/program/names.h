// Names as the host checks them: valid names of letters, digits and
// underscores, at most 32 bytes. Names compare without regard to the case of
// their ASCII letters (qv::sameNoCase, qv::upper in common/ascii.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/ascii.h"

namespace qv::rt {

inline constexpr size_t kMaxNameBytes = 32;

// Letters, digits and underscores, not starting with a digit, 1 to 32 bytes.
constexpr bool isValidName(std::string_view s) {
  if (s.empty() || s.size() > kMaxNameBytes || !isNameStart(s[0])) return false;
  for (char c : s)
    if (!isNameChar(c)) return false;
  return true;
}

}  // namespace qv::rt
