#include "render/png.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "runtime/common/error.h"

namespace qv::render {

namespace {

// --- Bits, least significant first ----------------------------------------

class BitWriter {
 public:
  explicit BitWriter(std::vector<unsigned char>& out) : out_(out) {}
  void put(uint32_t bits, int count) {
    acc_ |= static_cast<uint64_t>(bits) << filled_;
    filled_ += count;
    while (filled_ >= 8) {
      out_.push_back(static_cast<unsigned char>(acc_));
      acc_ >>= 8;
      filled_ -= 8;
    }
  }
  void flush() {
    if (filled_ > 0) out_.push_back(static_cast<unsigned char>(acc_));
    acc_ = 0;
    filled_ = 0;
  }

 private:
  std::vector<unsigned char>& out_;
  uint64_t acc_ = 0;
  int filled_ = 0;
};

uint32_t reverseBits(uint32_t code, int length) {
  uint32_t r = 0;
  for (int i = 0; i < length; ++i) {
    r = (r << 1) | (code & 1);
    code >>= 1;
  }
  return r;
}

// --- Huffman codes ---------------------------------------------------------

// Code lengths for the frequencies, none longer than `maxLength` (symbols
// with frequency 0 get length 0). At least two symbols get a code, so that
// every decoder accepts the code.
std::vector<uint8_t> codeLengths(const std::vector<uint32_t>& freq, int maxLength) {
  const size_t n = freq.size();
  std::vector<uint8_t> lengths(n, 0);
  std::vector<std::pair<uint32_t, uint32_t>> used;  // (frequency, symbol)
  for (size_t s = 0; s < n; ++s)
    if (freq[s]) used.push_back({freq[s], static_cast<uint32_t>(s)});
  for (uint32_t s = 0; used.size() < 2 && s < n; ++s)
    if (!freq[s]) used.push_back({1, s});
  std::sort(used.begin(), used.end());
  const int m = static_cast<int>(used.size());

  // Lengths by the in-place method of Moffat and Katajainen: A holds the
  // ascending frequencies, then parent links, then the depths.
  std::vector<uint32_t> a(static_cast<size_t>(m));
  for (int i = 0; i < m; ++i) a[static_cast<size_t>(i)] = used[static_cast<size_t>(i)].first;
  auto A = [&](int i) -> uint32_t& { return a[static_cast<size_t>(i)]; };
  A(0) += A(1);
  int root = 0, leaf = 2;
  for (int next = 1; next < m - 1; ++next) {
    if (leaf >= m || A(root) < A(leaf)) {
      A(next) = A(root);
      A(root++) = static_cast<uint32_t>(next);
    } else {
      A(next) = A(leaf++);
    }
    if (leaf >= m || (root < next && A(root) < A(leaf))) {
      A(next) += A(root);
      A(root++) = static_cast<uint32_t>(next);
    } else {
      A(next) += A(leaf++);
    }
  }
  A(m - 2) = 0;
  for (int next = m - 3; next >= 0; --next) A(next) = A(static_cast<int>(A(next))) + 1;
  int avail = 1, usedNodes = 0, depth = 0;
  root = m - 2;
  int next = m - 1;
  while (avail > 0) {
    while (root >= 0 && static_cast<int>(A(root)) == depth) {
      ++usedNodes;
      --root;
    }
    while (avail > usedNodes) {
      A(next--) = static_cast<uint32_t>(depth);
      --avail;
    }
    avail = 2 * usedNodes;
    ++depth;
    usedNodes = 0;
  }

  // Limit the lengths: move codes above the limit to it, then lengthen the
  // deepest shorter codes until the code is complete again.
  std::vector<int> count(65, 0);
  for (int i = 0; i < m; ++i) ++count[std::min<size_t>(A(i), 64)];
  for (int l = maxLength + 1; l <= 64; ++l) {
    count[static_cast<size_t>(maxLength)] += count[static_cast<size_t>(l)];
    count[static_cast<size_t>(l)] = 0;
  }
  uint64_t total = 0;
  for (int l = 1; l <= maxLength; ++l)
    total += static_cast<uint64_t>(count[static_cast<size_t>(l)]) << (maxLength - l);
  while (total > (uint64_t(1) << maxLength)) {
    --count[static_cast<size_t>(maxLength)];
    for (int l = maxLength - 1; l > 0; --l) {
      if (count[static_cast<size_t>(l)]) {
        --count[static_cast<size_t>(l)];
        count[static_cast<size_t>(l) + 1] += 2;
        break;
      }
    }
    --total;
  }
  // The least frequent symbols take the longest codes.
  int pos = 0;
  for (int l = maxLength; l >= 1; --l)
    for (int k = 0; k < count[static_cast<size_t>(l)]; ++k)
      lengths[used[static_cast<size_t>(pos++)].second] = static_cast<uint8_t>(l);
  return lengths;
}

// Canonical codes of the lengths, bit-reversed for writing.
std::vector<uint32_t> canonicalCodes(const std::vector<uint8_t>& lengths) {
  std::array<uint32_t, 17> count{}, next{};
  for (uint8_t l : lengths) ++count[l];
  count[0] = 0;
  uint32_t code = 0;
  for (int bits = 1; bits <= 16; ++bits) {
    code = (code + count[static_cast<size_t>(bits) - 1]) << 1;
    next[static_cast<size_t>(bits)] = code;
  }
  std::vector<uint32_t> codes(lengths.size(), 0);
  for (size_t s = 0; s < lengths.size(); ++s)
    if (lengths[s]) codes[s] = reverseBits(next[lengths[s]]++, lengths[s]);
  return codes;
}

// --- Length and distance codes ----------------------------------------------

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                    33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                    1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct CodeTables {
  std::array<uint8_t, 259> lengthCode{};  // length 3..258 -> index into kLengthBase
  std::array<uint8_t, 512> distLow{};     // distance - 1 < 256
  std::array<uint8_t, 256> distHigh{};    // (distance - 1) >> 7 for larger ones
  CodeTables() {
    for (int c = 0; c < 29; ++c) {
      const int hi = c == 28 ? 258 : kLengthBase[c + 1] - 1;
      for (int l = kLengthBase[c]; l <= hi && l <= 258; ++l) lengthCode[static_cast<size_t>(l)] = static_cast<uint8_t>(c);
    }
    lengthCode[258] = 28;
    for (int c = 0; c < 30; ++c) {
      const int lo = kDistBase[c], hi = c == 29 ? 32768 : kDistBase[c + 1] - 1;
      for (int d = lo; d <= hi; ++d) {
        if (d - 1 < 256) distLow[static_cast<size_t>(d - 1)] = static_cast<uint8_t>(c);
        else distHigh[static_cast<size_t>((d - 1) >> 7)] = static_cast<uint8_t>(c);
      }
    }
  }
  int dist(uint32_t d) const {
    return d - 1 < 256 ? distLow[d - 1] : distHigh[(d - 1) >> 7];
  }
};

const CodeTables& tables() {
  static const CodeTables t;
  return t;
}

// A literal (dist 0) or a match of `value` bytes at `dist` back.
struct Token {
  uint16_t value;
  uint16_t dist;
};

constexpr int kHashBits = 15;
constexpr size_t kWindow = 32768;
constexpr size_t kMaxMatch = 258;
constexpr size_t kBlockTokens = 1 << 15;

inline uint32_t read32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline uint32_t hash4(const unsigned char* p) {
  return (read32(p) * 2654435761u) >> (32 - kHashBits);
}

// The length of the common run of a and b, at most `max`.
inline size_t matchLength(const unsigned char* a, const unsigned char* b, size_t max) {
  size_t n = 0;
  while (n + 8 <= max) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);
    n += 8;
  }
  while (n < max && a[n] == b[n]) ++n;
  return n;
}

constexpr uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5,
                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// Writes one block of tokens with its own Huffman codes.
void writeBlock(BitWriter& bw, const std::vector<Token>& tokens, bool last) {
  const CodeTables& t = tables();
  std::vector<uint32_t> litFreq(286, 0), distFreq(30, 0);
  for (const Token& k : tokens) {
    if (k.dist == 0) {
      ++litFreq[k.value];
    } else {
      ++litFreq[257u + t.lengthCode[k.value]];
      ++distFreq[static_cast<size_t>(t.dist(k.dist))];
    }
  }
  litFreq[256] = 1;  // end of block
  std::vector<uint8_t> litLen = codeLengths(litFreq, 15);
  std::vector<uint8_t> distLen = codeLengths(distFreq, 15);
  std::vector<uint32_t> litCode = canonicalCodes(litLen), distCode = canonicalCodes(distLen);

  int hlit = 286, hdist = 30;
  while (hlit > 257 && litLen[static_cast<size_t>(hlit) - 1] == 0) --hlit;
  while (hdist > 1 && distLen[static_cast<size_t>(hdist) - 1] == 0) --hdist;

  // The lengths of both codes, run-length coded with symbols 16, 17, 18.
  std::vector<uint8_t> all(litLen.begin(), litLen.begin() + hlit);
  all.insert(all.end(), distLen.begin(), distLen.begin() + hdist);
  struct Run {
    uint8_t symbol, extra;
  };
  std::vector<Run> runs;
  for (size_t i = 0; i < all.size();) {
    const uint8_t v = all[i];
    size_t j = i + 1;
    while (j < all.size() && all[j] == v) ++j;
    size_t n = j - i;
    if (v == 0) {
      while (n >= 11) {
        const size_t k = std::min<size_t>(n, 138);
        runs.push_back({18, static_cast<uint8_t>(k - 11)});
        n -= k;
      }
      if (n >= 3) {
        runs.push_back({17, static_cast<uint8_t>(n - 3)});
        n = 0;
      }
      while (n--) runs.push_back({0, 0});
    } else {
      runs.push_back({v, 0});
      --n;
      while (n >= 3) {
        const size_t k = std::min<size_t>(n, 6);
        runs.push_back({16, static_cast<uint8_t>(k - 3)});
        n -= k;
      }
      while (n--) runs.push_back({v, 0});
    }
    i = j;
  }
  std::vector<uint32_t> clFreq(19, 0);
  for (const Run& r : runs) ++clFreq[r.symbol];
  std::vector<uint8_t> clLen = codeLengths(clFreq, 7);
  std::vector<uint32_t> clCode = canonicalCodes(clLen);
  int hclen = 19;
  while (hclen > 4 && clLen[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

  bw.put(last ? 1 : 0, 1);
  bw.put(2, 2);  // dynamic codes
  bw.put(static_cast<uint32_t>(hlit - 257), 5);
  bw.put(static_cast<uint32_t>(hdist - 1), 5);
  bw.put(static_cast<uint32_t>(hclen - 4), 4);
  for (int i = 0; i < hclen; ++i) bw.put(clLen[kCodeLengthOrder[i]], 3);
  for (const Run& r : runs) {
    bw.put(clCode[r.symbol], clLen[r.symbol]);
    if (r.symbol == 16) bw.put(r.extra, 2);
    else if (r.symbol == 17) bw.put(r.extra, 3);
    else if (r.symbol == 18) bw.put(r.extra, 7);
  }
  for (const Token& k : tokens) {
    if (k.dist == 0) {
      bw.put(litCode[k.value], litLen[k.value]);
      continue;
    }
    const int lc = t.lengthCode[k.value];
    bw.put(litCode[257u + static_cast<uint32_t>(lc)], litLen[257u + static_cast<uint32_t>(lc)]);
    if (kLengthExtra[lc]) bw.put(static_cast<uint32_t>(k.value - kLengthBase[lc]), kLengthExtra[lc]);
    const int dc = t.dist(k.dist);
    bw.put(distCode[static_cast<size_t>(dc)], distLen[static_cast<size_t>(dc)]);
    if (kDistExtra[dc]) bw.put(static_cast<uint32_t>(k.dist - kDistBase[dc]), kDistExtra[dc]);
  }
  bw.put(litCode[256], litLen[256]);
}

// --- Filters -----------------------------------------------------------------

inline uint8_t paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return static_cast<uint8_t>(a);
  return static_cast<uint8_t>(pb <= pc ? b : c);
}

// The sum of a filtered row's bytes taken as signed magnitudes.
inline uint64_t cost(const uint8_t* row, size_t n) {
  uint64_t s = 0;
  for (size_t i = 0; i < n; ++i) s += row[i] < 128 ? row[i] : 256 - row[i];
  return s;
}

void putU32(std::vector<unsigned char>& out, uint32_t v) {
  out.push_back(static_cast<unsigned char>(v >> 24));
  out.push_back(static_cast<unsigned char>(v >> 16));
  out.push_back(static_cast<unsigned char>(v >> 8));
  out.push_back(static_cast<unsigned char>(v));
}

void chunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data,
           size_t size) {
  putU32(out, static_cast<uint32_t>(size));
  const size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  putU32(out, crc32Of(out.data() + at, size + 4));
}

}  // namespace

uint32_t crc32Of(const unsigned char* data, size_t size, uint32_t crc) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

uint32_t adler32Of(const unsigned char* data, size_t size, uint32_t adler) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  while (size > 0) {
    const size_t n = std::min<size_t>(size, 5552);
    for (size_t i = 0; i < n; ++i) {
      a += data[i];
      b += a;
    }
    a %= 65521;
    b %= 65521;
    data += n;
    size -= n;
  }
  return (b << 16) | a;
}

std::vector<unsigned char> deflateBytes(const unsigned char* data, size_t size) {
  std::vector<unsigned char> out;
  out.reserve(size / 4 + 64);
  BitWriter bw(out);
  std::vector<int32_t> head(size_t(1) << kHashBits, -1);
  std::vector<Token> tokens;
  tokens.reserve(kBlockTokens + 1);
  size_t i = 0;
  while (i < size) {
    size_t len = 0, dist = 0;
    if (i + 4 <= size) {
      const uint32_t h = hash4(data + i);
      const int32_t cand = head[h];
      head[h] = static_cast<int32_t>(i);
      if (cand >= 0 && i - static_cast<size_t>(cand) <= kWindow &&
          read32(data + cand) == read32(data + i)) {
        len = 4 + matchLength(data + cand + 4, data + i + 4, std::min(kMaxMatch, size - i) - 4);
        dist = i - static_cast<size_t>(cand);
      }
    }
    if (len >= 4) {
      tokens.push_back({static_cast<uint16_t>(len), static_cast<uint16_t>(dist)});
      // The positions inside the match join the hash too (the last few
      // cannot start a four-byte key).
      const size_t end = std::min(i + len, size >= 4 ? size - 3 : 0);
      for (size_t k = i + 1; k < end; ++k) head[hash4(data + k)] = static_cast<int32_t>(k);
      i += len;
    } else {
      tokens.push_back({data[i], 0});
      ++i;
    }
    if (tokens.size() >= kBlockTokens) {
      writeBlock(bw, tokens, false);
      tokens.clear();
    }
  }
  writeBlock(bw, tokens, true);
  bw.flush();
  return out;
}

std::vector<unsigned char> encodePng(const Canvas& canvas) {
  cairo_surface_t* s = canvas.surface();
  cairo_surface_flush(s);
  const int w = canvas.width(), h = canvas.height();
  const unsigned char* pixels = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  if (!pixels || w <= 0 || h <= 0) throw rt::UserError("The image cannot be encoded as PNG.");
  const bool rgb24 = cairo_image_surface_get_format(s) == CAIRO_FORMAT_RGB24;

  bool opaque = true;
  for (int y = 0; y < h && opaque; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(pixels + static_cast<ptrdiff_t>(y) * stride);
    if (rgb24) break;
    for (int x = 0; x < w; ++x)
      if ((row[x] >> 24) != 255) {
        opaque = false;
        break;
      }
  }
  const size_t bpp = opaque ? 3 : 4;
  const size_t rowBytes = static_cast<size_t>(w) * bpp;

  // Straight-alpha rows, each behind the filter that makes it smallest.
  std::vector<unsigned char> raw((rowBytes + 1) * static_cast<size_t>(h));
  std::vector<uint8_t> cur(rowBytes), prev(rowBytes, 0);
  std::array<std::vector<uint8_t>, 4> cand;
  for (auto& c : cand) c.resize(rowBytes);
  for (int y = 0; y < h; ++y) {
    const auto* row = reinterpret_cast<const uint32_t*>(pixels + static_cast<ptrdiff_t>(y) * stride);
    for (int x = 0; x < w; ++x) {
      const uint32_t p = row[x];
      uint32_t a = rgb24 ? 255 : p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, b = p & 0xFF;
      if (a != 255) {
        if (a == 0) {
          r = g = b = 0;
        } else {
          r = (r * 255 + a / 2) / a;
          g = (g * 255 + a / 2) / a;
          b = (b * 255 + a / 2) / a;
        }
      }
      uint8_t* d = &cur[static_cast<size_t>(x) * bpp];
      d[0] = static_cast<uint8_t>(std::min(r, 255u));
      d[1] = static_cast<uint8_t>(std::min(g, 255u));
      d[2] = static_cast<uint8_t>(std::min(b, 255u));
      if (bpp == 4) d[3] = static_cast<uint8_t>(a);
    }
    for (size_t i = 0; i < rowBytes; ++i) {
      const int left = i >= bpp ? cur[i - bpp] : 0, up = prev[i], ul = i >= bpp ? prev[i - bpp] : 0;
      cand[0][i] = cur[i];
      cand[1][i] = static_cast<uint8_t>(cur[i] - left);
      cand[2][i] = static_cast<uint8_t>(cur[i] - up);
      cand[3][i] = static_cast<uint8_t>(cur[i] - paeth(left, up, ul));
    }
    static constexpr uint8_t kFilterType[4] = {0, 1, 2, 4};
    int best = 0;
    uint64_t bestCost = cost(cand[0].data(), rowBytes);
    for (int f = 1; f < 4; ++f) {
      const uint64_t c = cost(cand[static_cast<size_t>(f)].data(), rowBytes);
      if (c < bestCost) {
        bestCost = c;
        best = f;
      }
    }
    unsigned char* out = &raw[static_cast<size_t>(y) * (rowBytes + 1)];
    out[0] = kFilterType[best];
    std::memcpy(out + 1, cand[static_cast<size_t>(best)].data(), rowBytes);
    prev.swap(cur);
  }

  std::vector<unsigned char> z = {0x78, 0x01};
  std::vector<unsigned char> body = deflateBytes(raw.data(), raw.size());
  z.insert(z.end(), body.begin(), body.end());
  putU32(z, adler32Of(raw.data(), raw.size()));

  std::vector<unsigned char> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  unsigned char ihdr[13];
  for (int k = 0; k < 4; ++k) {
    ihdr[k] = static_cast<unsigned char>(static_cast<uint32_t>(w) >> (24 - 8 * k));
    ihdr[4 + k] = static_cast<unsigned char>(static_cast<uint32_t>(h) >> (24 - 8 * k));
  }
  ihdr[8] = 8;                    // bits per sample
  ihdr[9] = opaque ? 2 : 6;       // RGB or RGBA
  ihdr[10] = ihdr[11] = ihdr[12] = 0;
  chunk(png, "IHDR", ihdr, sizeof ihdr);
  // IDAT chunks of at most 1 MiB each.
  for (size_t at = 0; at < z.size(); at += size_t(1) << 20)
    chunk(png, "IDAT", z.data() + at, std::min(z.size() - at, size_t(1) << 20));
  chunk(png, "IEND", nullptr, 0);
  return png;
}

}  // namespace qv::render
