// Names from files and sources (file names, layers, objects) as messages
// show them: a name may hold anything, and a message is one line of a log
// that a terminal also shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qv {

// Names longer than this are cut in the middle.
inline constexpr size_t kShownNameBytes = 200;

// `name` with control characters and bytes that are not UTF-8 escaped (\n,
// \t, \r, \x1b, \u009b), so that it can neither break a line nor drive a
// terminal, and, when longer than kShownNameBytes, cut in the middle
// ("abc...xyz (1048576 bytes)") so that the message stays readable. An
// ordinary name comes back unchanged.
std::string shownName(std::string_view name);

// `text` with the same escapes, never cut: a line of the log, whatever the
// names and values in it hold, is one line, and only text to a terminal.
std::string escapedText(std::string_view text);

}  // namespace qv
