#include "module/text/textutil.h"

#include <cstring>

namespace qv::module {

namespace {

constexpr char kBlank = ' ';

// An effective field length: 0 for a null field or a negative length.
inline int usable(const void* p, int length) {
  return (p == nullptr || length < 0) ? 0 : length;
}

inline unsigned char ub(const char* p, int i) {
  return static_cast<unsigned char>(p[i]);
}

// Byte i of a blank-padded field of n bytes.
inline unsigned char padded(const char* p, int n, int i) {
  return i < n ? ub(p, i) : static_cast<unsigned char>(kBlank);
}

}  // namespace

int wzstrip(const char* field, int length) {
  if (length < 1) return length;
  if (field == nullptr) return 0;
  while (length > 0 && field[length - 1] == kBlank) --length;
  return length;
}

int wzstlen(const char* s) {
  return s == nullptr ? 0 : static_cast<int>(std::strlen(s));
}

int wzstcom(const char* a, int alen, const char* b, int blen) {
  alen = usable(a, alen);
  blen = usable(b, blen);
  const int n = alen > blen ? alen : blen;
  for (int i = 0; i < n; ++i) {
    const unsigned char ca = padded(a, alen, i);
    const unsigned char cb = padded(b, blen, i);
    if (ca != cb) return ca > cb ? i + 1 : -(i + 1);
  }
  return 0;
}

bool singleWord(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char ch : s)
    if (ch <= ' ' || ch == 0x7f || ch == ';' || ch == '"' || ch == '\'' || ch == '(' ||
        ch == ')' || ch == '/' || ch == '=')
      return false;
  return true;
}

void vzttl(char* field, int length, char newByte, char oldByte) {
  length = usable(field, length);
  for (int i = 0; i < length; ++i) {
    if (field[i] == oldByte) field[i] = newByte;
  }
}

int wzstjls(char* field, int length, char mode, int* contentLength,
            int* contentStart) {
  length = usable(field, length);
  int first = 0;
  while (first < length && field[first] == kBlank) ++first;
  int n = 0;
  int start = 0;
  if (first < length) {
    const int end = wzstrip(field, length);  // one past the last non-blank
    n = end - first;
    switch (mode) {
      case 'L': case 'l': start = 0; break;
      case 'R': case 'r': start = length - n; break;
      case 'C': case 'c': start = (length - n) / 2; break;
      default: start = first; break;
    }
    if (start != first) {
      std::memmove(field + start, field + first, n);
      std::memset(field, kBlank, start);
      std::memset(field + start + n, kBlank, length - start - n);
    }
  }
  if (contentLength) *contentLength = n;
  if (contentStart) *contentStart = start;
  return n;
}

int32_t wztxxlt(int mode, const char* source, char* target, int length) {
  if (mode < 0 || mode > 4) return kBadTranslateTable;
  if (source == nullptr || target == nullptr || length < 1) return 0;
  if (mode == kXltUpper) {
    for (int i = 0; i < length; ++i) target[i] = upperAscii(source[i]);
  } else if (mode == kXltLower) {
    for (int i = 0; i < length; ++i) target[i] = lowerAscii(source[i]);
  } else if (source != target) {
    std::memmove(target, source, length);
  }
  return 0;
}

uint32_t gdcvhex(char* field, int length) {
  if (field == nullptr || length < 1) return 0;
  wztxxlt(kXltUpper, field, field, length);
  uint32_t value = 0;
  for (int i = 0; i < length; ++i) {
    const char c = field[i];
    uint32_t d = 0;
    if (isDigit(c)) d = static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    value = (value << 4) | d;
  }
  return value;
}

}  // namespace qv::module
