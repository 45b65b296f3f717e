#include "module/text/cleanchars.h"

#include <string_view>

#include <cstring>

namespace qv::module {

namespace {

constexpr int kEscapeLength = 24;
constexpr char kEscQuote[] = "(*ESC*){unicode '0022'x}";
constexpr char kEscPercent[] = "(*ESC*){unicode '0025'x}";
constexpr char kEscAmpersand[] = "(*ESC*){unicode '0026'x}";
static_assert(sizeof(kEscQuote) - 1 == kEscapeLength);
static_assert(sizeof(kEscPercent) - 1 == kEscapeLength);
static_assert(sizeof(kEscAmpersand) - 1 == kEscapeLength);

// The escape of a byte, or null when the byte stands as itself.
inline const char* escapeOf(char c) {
  switch (c) {
    case '"': return kEscQuote;
    case '%': return kEscPercent;
    case '&': return kEscAmpersand;
    default: return nullptr;
  }
}

}  // namespace

const host::HStr* CleanChars(const char* text, int length) {
  host::Host& h = host::host();
  if (text == nullptr || length < 0) length = 0;
  if (length == 0) return h.kdltxt("", 0);

  const size_t n = static_cast<size_t>(length);
  if (!std::memchr(text, '"', n) && !std::memchr(text, '&', n) &&
      !std::memchr(text, '%', n)) {
    return h.kdltxt(text, length);
  }

  size_t total = 0;
  for (size_t i = 0; i < n; ++i) {
    if (escapeOf(text[i])) ++total;
  }

  char* buffer = static_cast<char*>(h.vmalcp(n + kEscapeLength * total));
  if (buffer == nullptr) {
    h.xmemmsg();
    return nullptr;
  }
  size_t out = 0;
  for (size_t i = 0; i < n; ++i) {
    if (const char* esc = escapeOf(text[i])) {
      std::memcpy(buffer + out, esc, kEscapeLength);
      out += kEscapeLength;
    } else {
      buffer[out++] = text[i];
    }
  }
  const host::HStr* result = h.kdltxt(buffer, static_cast<long>(out));
  h.vmfree(buffer);
  return result;
}

const host::HStr* CleanName(const char* text, int length) {
  if (!text || length <= 0) return host::host().kdltxt("", 0);
  std::string_view t(text, static_cast<size_t>(length));
  if (t.find('"') != std::string_view::npos) return CleanChars(text, length);
  return host::host().kdltxt(text, length);
}

}  // namespace qv::module
