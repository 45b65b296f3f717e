#include "module/text/numtext.h"

#include <charconv>
#include <cmath>

namespace qv::module {

std::string roundTripText(double v) {
  if (v == 0) return "0";  // negative zero too
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
  if (ec != std::errc()) return "0";  // cannot happen: the buffer holds any double
  return std::string(buf, end);
}

bool plainNumberText(std::string_view text) {
  std::string_view body = text;
  if (!body.empty() && body.front() == '-') body.remove_prefix(1);
  bool digit = false, point = false;
  for (char c : body) {
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  // A run of digits too long for a double reads as no number.
  double value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

}  // namespace qv::module
