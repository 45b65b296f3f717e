// Names as the host compares and checks them: ASCII letters folded, valid
// names of letters, digits and underscores.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv::rt {

inline constexpr size_t kMaxNameBytes = 32;

// Case-insensitive comparison of ASCII texts, as names are compared.
bool sameName(std::string_view a, std::string_view b);
std::string upperCase(std::string_view s);
// Letters, digits and underscores, not starting with a digit, 1 to 32 bytes.
bool isValidName(std::string_view s);

}  // namespace qv::rt
