#include "module/text/textutil.h"

#include <array>
#include <cstring>

namespace qv::module {

namespace {

constexpr char kBlank = ' ';

// The case tables: ASCII letters only; every other byte maps to itself.
constexpr std::array<unsigned char, 256> makeTable(bool upper) {
  std::array<unsigned char, 256> t{};
  for (int i = 0; i < 256; ++i) {
    unsigned char c = static_cast<unsigned char>(i);
    if (upper && c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
    t[i] = c;
  }
  return t;
}

constexpr std::array<unsigned char, 256> kUpper = makeTable(true);
constexpr std::array<unsigned char, 256> kLower = makeTable(false);

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

unsigned char upperByte(unsigned char c) { return kUpper[c]; }
unsigned char lowerByte(unsigned char c) { return kLower[c]; }

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

int wzbcup(const char* a, const char* b, int count) {
  for (int i = 0; i < count; ++i) {
    const unsigned char ca = kUpper[a ? ub(a, i) : kBlank];
    const unsigned char cb = kUpper[b ? ub(b, i) : kBlank];
    if (ca != cb) return static_cast<int>(ca) - static_cast<int>(cb);
  }
  return 0;
}

int wzsteqn(const char* a, int alen, const char* b, int blen) {
  alen = usable(a, alen);
  blen = usable(b, blen);
  if (alen != blen) return 0;
  return wzbcup(a, b, alen) == 0 ? 1 : 0;
}

bool singleWord(std::string_view s) {
  if (s.empty()) return false;
  for (unsigned char ch : s)
    if (ch <= ' ' || ch == 0x7f || ch == ';' || ch == '"' || ch == '\'' || ch == '(' ||
        ch == ')' || ch == '/' || ch == '=')
      return false;
  return true;
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return wzsteqn(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size())) == 1;
}

int wzstndx(const char* field, int length, const char* pattern, int plen) {
  if (pattern == nullptr) return 0;
  if (plen < 0) plen = wzstlen(pattern);
  if (plen == 0) return 0;
  length = usable(field, length);
  if (length < plen) return -1;
  const char first = pattern[0];
  for (int i = 0; i + plen <= length; ++i) {
    if (field[i] == first && std::memcmp(field + i, pattern, plen) == 0) return i;
  }
  return -1;
}

int wzstpos(const char* field, int length, char byte) {
  if (field == nullptr || length < 1) return -1;
  const void* hit = std::memchr(field, static_cast<unsigned char>(byte), length);
  return hit ? static_cast<int>(static_cast<const char*>(hit) - field) : -1;
}

int wzstver(const char* field, int length, const char* set, int setlen) {
  length = usable(field, length);
  setlen = usable(set, setlen);
  bool member[256] = {};
  for (int i = 0; i < setlen; ++i) member[ub(set, i)] = true;
  for (int i = 0; i < length; ++i) {
    if (!member[ub(field, i)]) return i;
  }
  return -1;
}

void wzstrnc(char* field, int length, char newByte, char oldByte) {
  length = usable(field, length);
  for (int i = 0; i < length; ++i) {
    if (field[i] == oldByte) field[i] = newByte;
  }
}

void vzttl(char* field, int length, char newByte, char oldByte) {
  wzstrnc(field, length, newByte, oldByte);
}

void vzmp(const char* source, int slen, char* target, int tlen) {
  tlen = usable(target, tlen);
  slen = usable(source, slen);
  const int n = slen < tlen ? slen : tlen;
  if (n > 0) std::memmove(target, source, n);
  if (tlen > n) std::memset(target + n, kBlank, tlen - n);
}

int vzatl(char byte, const char* field, int length) {
  length = usable(field, length);
  for (int i = 0; i < length; ++i) {
    if (field[i] != byte) return 0;
  }
  return 1;
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

int wzstjus(char* field, int length, char mode) {
  return wzstjls(field, length, mode, nullptr, nullptr);
}

int wzstcat(char* target, int tlen, int separator,
            std::span<const TextPiece> pieces) {
  if (target == nullptr) return 0;
  const bool terminated = tlen < 0;
  // Room for text: a terminated target of -tlen bytes keeps one for the zero.
  const long long room = terminated ? -static_cast<long long>(tlen) - 1 : tlen;
  long long used = 0;
  bool firstPiece = true;
  for (const TextPiece& piece : pieces) {
    if (!firstPiece && separator >= 0) {
      if (used >= room) break;
      target[used++] = static_cast<char>(separator & 0xFF);
    }
    firstPiece = false;
    const int plen = usable(piece.first, piece.second);
    const long long take = plen < room - used ? plen : room - used;
    if (take > 0) std::memcpy(target + used, piece.first, take);
    used += take;
    if (take < plen) break;
  }
  if (terminated) {
    target[used] = '\0';
  } else if (used < room) {
    std::memset(target + used, kBlank, room - used);
  }
  return static_cast<int>(used);
}

int wzstcat(char* target, int tlen, int separator,
            std::initializer_list<TextPiece> pieces) {
  return wzstcat(target, tlen, separator,
                 std::span<const TextPiece>(pieces.begin(), pieces.size()));
}

int32_t wztxxlt(int mode, const char* source, char* target, int length) {
  if (mode < 0 || mode > 4) return kBadTranslateTable;
  if (source == nullptr || target == nullptr || length < 1) return 0;
  const unsigned char* table = mode == kXltUpper   ? kUpper.data()
                               : mode == kXltLower ? kLower.data()
                                                   : nullptr;
  if (table == nullptr) {
    if (source != target) std::memmove(target, source, length);
    return 0;
  }
  for (int i = 0; i < length; ++i) target[i] = static_cast<char>(table[ub(source, i)]);
  return 0;
}

int wzcichr(int32_t value, char* target) {
  if (target == nullptr) return 0;
  char digits[10];
  int nd = 0;
  // Work on the magnitude as unsigned so that the most negative value is safe.
  uint32_t mag = value < 0 ? 0u - static_cast<uint32_t>(value)
                           : static_cast<uint32_t>(value);
  do {
    digits[nd++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  } while (mag != 0);
  int n = 0;
  if (value < 0) target[n++] = '-';
  while (nd > 0) target[n++] = digits[--nd];
  return n;
}

uint32_t gdcvhex(char* field, int length) {
  if (field == nullptr || length < 1) return 0;
  wztxxlt(kXltUpper, field, field, length);
  uint32_t value = 0;
  for (int i = 0; i < length; ++i) {
    const char c = field[i];
    uint32_t d = 0;
    if (c >= '0' && c <= '9') d = static_cast<uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'F') d = static_cast<uint32_t>(c - 'A' + 10);
    value = (value << 4) | d;
  }
  return value;
}

int zlkupc2(const char* key, int klen, const void* table, int count, int width,
            int stride) {
  if (table == nullptr || count < 1 || stride < 1) return ~0;
  const char* base = static_cast<const char*>(table);
  int lo = 0;
  int hi = count - 1;
  while (lo <= hi) {
    const int mid = lo + (hi - lo) / 2;
    const char* entry = base + static_cast<long long>(mid) * stride;
    int elen = width;
    if (width < 0) {
      const void* nul = std::memchr(entry, '\0', stride);
      elen = nul ? static_cast<int>(static_cast<const char*>(nul) - entry) : stride;
    }
    const int c = wzstcom(key, klen, entry, elen);
    if (c == 0) return mid;
    if (c < 0) hi = mid - 1;
    else lo = mid + 1;
  }
  return ~lo;
}

int32_t qmax(int32_t a, int32_t b) { return a > b ? a : b; }
int32_t qmin(int32_t a, int32_t b) { return a < b ? a : b; }

int wztxdotr() { return 0; }

}  // namespace qv::module
