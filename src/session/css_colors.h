// The CSS color names (the named colors of CSS Color Module Level 4), which
// OPTIONS COLORNAMES=CSS; turns on as user color names.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

namespace qv::rt {

// Every CSS name, in upper case, with its red, green and blue.
std::map<std::string, std::array<uint8_t, 3>> cssColorNames();

}  // namespace qv::rt
