#include "common/shown_name.h"


#include "common/utf8.h"

namespace qv {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The length of the UTF-8 character at the start of `s` (1 to 4), or 0 when
// it does not start with one (a stray or overlong byte, a cut character).
size_t utf8Length(std::string_view s) {
  const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  const auto cont = [&](size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
  const unsigned c = b(0);
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if ((c == 0xE0 && b(1) < 0xA0) || (c == 0xED && b(1) >= 0xA0)) return 0;  // overlong, surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if ((c == 0xF0 && b(1) < 0x90) || (c == 0xF4 && b(1) >= 0x90)) return 0;  // overlong, too high
    return 4;
  }
  return 0;
}

void appendEscaped(std::string& out, std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const size_t n = utf8Length(s.substr(i));
    if (n == 1 && c >= 0x20 && c != 0x7F) {
      out += s[i];
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (n == 0 || n == 1) {  // another control character, or a byte that is no character
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (n == 2 && c == 0xC2 && static_cast<unsigned char>(s[i + 1]) < 0xA0) {
      // U+0080 to U+009F: the 8-bit controls, which some terminals obey.
      const auto u = static_cast<unsigned char>(s[i + 1]);
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out.append(s.substr(i, n));
    }
    i += n ? n : 1;
  }
}

}  // namespace

std::string shownName(std::string_view name) {
  std::string out;
  if (name.size() <= kShownNameBytes) {
    appendEscaped(out, name);
    return out;
  }
  // The first and the last part, each cut on a character boundary.
  const size_t part = (kShownNameBytes - 3) / 2;
  const std::string_view head = cutUtf8(name, part);
  size_t from = name.size() - part;
  while (from < name.size() && (static_cast<unsigned char>(name[from]) & 0xC0) == 0x80) ++from;
  appendEscaped(out, head);
  out += "...";
  appendEscaped(out, name.substr(from));
  out += " (" + std::to_string(name.size()) + " bytes)";
  return out;
}

std::string escapedText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  appendEscaped(out, text);
  return out;
}

}  // namespace qv
