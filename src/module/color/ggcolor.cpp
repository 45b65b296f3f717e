// The color parser: recognises every color notation a user
// may write and gives the color in the model the caller wants.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

#include "module/color/color.h"
#include "module/color/color_cache.h"
#include "module/color/color_tables.h"
#include "module/entry/entry.h"
#include "module/host/messages.h"
#include "module/text/textutil.h"

namespace qv::module {

namespace {

// --- Text helpers ------------------------------------------------------------

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

bool allHex(const char* s, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!isHexDigit(s[i])) return false;
  return true;
}

// True when the n bytes at s begin with `word`.
bool beginsWith(const char* s, int32_t n, std::string_view word) {
  return static_cast<size_t>(std::max(n, 0)) >= word.size() &&
         std::memcmp(s, word.data(), word.size()) == 0;
}

// Binary search of a table of rows whose `name` points to a terminated name,
// sorted by the names as blank-padded fields: the row whose name equals the
// key, or -1.
template <class Row>
int32_t findNamedRow(const char* key, int32_t keyLength, const Row* table, int32_t count) {
  int32_t lo = 0, hi = count - 1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    const char* name = table[mid].name;
    int32_t c = wzstcom(key, keyLength, name, wzstlen(name));
    if (c == 0) return mid;
    if (c < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return -1;
}

int32_t skipBlanks(const char* s, int32_t pos, int32_t n) {
  while (pos < n && s[pos] == ' ') ++pos;
  return pos;
}

// --- Recognition -------------------------------------------------------------

constexpr int32_t kWorkLength = 80;

// Value of two checked hexadecimal digits (copied: gdcvhex works in place).
uint8_t byteAt(const char* digits) {
  char pair[2] = {digits[0], digits[1]};
  return static_cast<uint8_t>(gdcvhex(pair, 2));
}

void setRgbBytes(ColorValue* v, uint8_t r, uint8_t g, uint8_t b) {
  v->model = kModelRgb;
  v->c1 = r / 255.0, v->c2 = g / 255.0, v->c3 = b / 255.0, v->c4 = 0;
}

// CMYK from 5 to 15 digits: the first four pairs; digits missing from a
// short code count as 0.
int32_t cmykForm(const char* digits, int32_t n, ColorValue* v) {
  char pairs[8];
  std::memset(pairs, '0', sizeof pairs);
  std::memcpy(pairs, digits, static_cast<size_t>(std::min(n, 8)));
  v->model = kModelCmyk;
  v->c1 = byteAt(pairs) / 255.0;
  v->c2 = byteAt(pairs + 2) / 255.0;
  v->c3 = byteAt(pairs + 4) / 255.0;
  v->c4 = byteAt(pairs + 6) / 255.0;
  return kFormCmyk;
}

// Reads at most one word of a list at pos; its code, or 0 (nothing read).
template <size_t N>
int32_t readWord(const char* u, int32_t n, int32_t* pos, const ColorWord (&list)[N]) {
  for (const ColorWord& w : list) {
    if (beginsWith(u + *pos, n - *pos, w.word)) {
      *pos = skipBlanks(u, *pos + static_cast<int32_t>(std::strlen(w.word)), n);
      return w.code;
    }
  }
  return 0;
}

// Mean-like mix of two hue codes' angles where blue (0) counts as 360 next
// to green, so that blue and green meet at cyan.
constexpr int32_t kBlue = 1, kGreen = 7, kBlackLite = 1, kWhiteLite = 7, kGraySat = 2;

double hueMix(int32_t a, int32_t b, double wa, double wb) {
  double ha = hue_values[a], hb = hue_values[b];
  if (a == kBlue && b == kGreen) ha = 360;
  if (b == kBlue && a == kGreen) hb = 360;
  return wa * ha + wb * hb;
}

// Descriptive color-name words (VERY LIGHT GRAYISH BLUE): true and an RGB
// color for a valid combination.
bool colorWords(const char* u, int32_t n, ColorValue* v) {
  int32_t pos = skipBlanks(u, 0, n);
  int32_t lc = readWord(u, n, &pos, lite_names);
  int32_t sc = readWord(u, n, &pos, sat_names);
  int32_t m = readWord(u, n, &pos, huish_names);
  int32_t h1 = readWord(u, n, &pos, hue_names);
  int32_t h2 = m == 0 ? readWord(u, n, &pos, hue_names) : 0;

  if (m == 0 && h1 == 0 && h2 == 0 && lc != kBlackLite && lc != kWhiteLite && sc != kGraySat)
    return false;

  double hueDeg = 0;
  if (h1 && h2)
    hueDeg = hueMix(h1, h2, 0.5, 0.5);
  else if (h1 && m)
    hueDeg = hueMix(h1, m, 0.75, 0.25);
  else if (h1)
    hueDeg = hue_values[h1];
  else if (m) {
    hueDeg = 0.25 * hue_values[m];
    if (hueDeg < 0) hueDeg += 360;
  }
  v->model = kModelHls;
  v->c1 = std::fmod(std::trunc(hueDeg), 360.0);
  v->c2 = lite_values[lc];
  v->c3 = sat_values[sc];
  v->c4 = 0;
  hls2rgb(v);
  return true;
}

// Finds the colcode row of a key, or -1.
int32_t colcodeRow(const uint8_t key[2]) {
  int32_t lo = 0, hi = kColorCodeCount - 1;
  while (lo <= hi) {
    int32_t mid = lo + (hi - lo) / 2;
    int c = std::memcmp(key, colcode[mid].key, 2);
    if (c == 0) return mid;
    if (c < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return -1;
}

// The rules in their order; the first that applies decides. `w` is a
// working copy of the upper-cased field (kWorkLength bytes, blank-filled)
// that the rules may change. Returns the form, 0 for not a color.
int32_t recognise(char* w, int32_t n, ColorValue* v) {
  const int32_t first16 = wzstrip(w, 16);

  if (n == 8 && allHex(w, 8)) return cmykForm(w, 8, v);

  if (first16 > 8 && (beginsWith(w, n, "CMYK") || (w[0] == 'K' && allHex(w + 1, 8)))) {
    int32_t p = beginsWith(w, n, "CMYK") ? 4 : 1;
    if (n > 16 || !allHex(w + p, n - p)) return kFormNone;
    return cmykForm(w + p, n - p, v);
  }

  if (n > 8 && first16 > 8 && (beginsWith(w, n, "RGBA") || (w[0] == 'A' && allHex(w + 1, 8)))) {
    int32_t p = beginsWith(w, n, "RGBA") ? 4 : 1;
    if (n - p != 8 || !allHex(w + p, 8)) return kFormNone;
    v->model = kModelRgba;
    v->c1 = byteAt(w + p) / 255.0;
    v->c2 = byteAt(w + p + 2) / 255.0;
    v->c3 = byteAt(w + p + 4) / 255.0;
    v->c4 = byteAt(w + p + 6) / 255.0;
    return kFormRgba;
  }

  if (n == 8 && beginsWith(w, n, "CX")) {
    if (!allHex(w + 2, 6)) return kFormNone;
    setRgbBytes(v, byteAt(w + 2), byteAt(w + 4), byteAt(w + 6));
    return kFormCx;
  }

  if (n == 8 && w[0] == 'H') {
    if (!allHex(w + 1, 7)) return kFormNone;
    v->model = kModelHls;
    v->c1 = static_cast<double>(gdcvhex(w + 1, 3) % 360);
    v->c2 = byteAt(w + 4) / 255.0;
    v->c3 = byteAt(w + 6) / 255.0;
    v->c4 = 0;
    return kFormHls;
  }

  if (n == 7 && w[0] == '#') {
    if (!allHex(w + 1, 6)) return kFormNone;
    setRgbBytes(v, byteAt(w + 1), byteAt(w + 3), byteAt(w + 5));
    return kFormHash;
  }

  if (n >= 6 && w[4] != ' ' && (beginsWith(w, n, "GRAY") || beginsWith(w, n, "GREY")) &&
      !beginsWith(w, n, "GRAYISH") && !beginsWith(w, n, "GREYISH")) {
    if (!allHex(w + 4, 2)) return kFormNone;
    v->model = kModelGray;
    v->c1 = v->c2 = v->c3 = byteAt(w + 4) / 255.0;
    v->c4 = 0;
    return kFormGray;
  }

  // This host has no display manager: a display-manager name gives its
  // basic color.
  if (int32_t row = findNamedRow(w, n, DMclrs, kDmColorCount); row >= 0) {
    BASIC_id2clr(DMclrs[row].basic, v);
    return kFormDm;
  }

  if (int32_t row = findNamedRow(w, std::min(n, 7), spcols, kBasicColorCount); row >= 0) {
    BASIC_id2clr(row, v);
    return kFormBasic;
  }

  vzttl(w, n, ' ', '-');
  vzttl(w, n, ' ', '_');
  if (colorWords(w, n, v)) return kFormWords;

  uint8_t key[2];
  if (colcodeKey(w, n, key)) {
    if (int32_t row = colcodeRow(key); row >= 0) {
      setRgbBytes(v, colcode[row].red, colcode[row].green, colcode[row].blue);
      return kFormAbbrev;
    }
  }

  if (n == 8 && w[0] == 'V' && allHex(w + 1, 7)) {
    v->model = kModelHsv;
    v->c1 = static_cast<double>(gdcvhex(w + 1, 3) % 360);
    v->c2 = byteAt(w + 4) / 255.0;
    v->c3 = byteAt(w + 6) / 255.0;
    v->c4 = 0;
    return kFormHsv;
  }
  return kFormNone;
}

// The canonical code of a recognised text (see ColorCacheEntry::code).
void setCanonicalCode(ColorCacheEntry* e, const char* text, int32_t n, const char* upper) {
  std::memset(e->code, ' ', sizeof e->code);
  if (e->form == kFormCx) {
    std::memcpy(e->code, upper, 8);
  } else if (e->form == kFormRgba) {
    std::memcpy(e->code, upper, sizeof e->code);
  } else if (e->form == kFormUser) {
    if (n <= 8) {
      std::memcpy(e->code, text, static_cast<size_t>(n));
    } else {
      static const char digits[] = "0123456789ABCDEF";
      uint8_t rgb[3];
      getByteRgb(e->value, rgb);
      e->code[0] = 'C';
      e->code[1] = 'X';
      for (int i = 0; i < 3; ++i) {
        e->code[2 + 2 * i] = digits[rgb[i] >> 4];
        e->code[3 + 2 * i] = digits[rgb[i] & 15];
      }
    }
  }
}

// The answer for a text that is not a color: RGB 105/255 gray in the
// wanted model.
int32_t notAColor(ColorValue* value, int32_t wanted, double black) {
  if (value) {
    ColorValue gray;
    gray.model = kModelRgb;
    gray.c1 = gray.c2 = gray.c3 = 105 / 255.0;
    convertColor(gray, wanted, black, value);
  }
  return kFormNone;
}

}  // namespace

bool colcodeKey(const char* upper, int32_t length, uint8_t key[2]) {
  if (upper == nullptr || length < 0) length = 0;
  int32_t pos = skipBlanks(upper, 0, length);
  int32_t p = 0;
  for (int32_t i = 0; i < kPrefixCount; ++i) {
    if (beginsWith(upper + pos, length - pos, prefix[i])) {
      p = i + 1;
      pos += static_cast<int32_t>(std::strlen(prefix[i]));
      break;
    }
  }
  int32_t t[3] = {0, 0, 0};
  for (int32_t k = 0; k < 3; ++k) {
    int32_t at = skipBlanks(upper, pos, length);
    int32_t code = 0;
    for (int32_t i = 0; i < kHueCodeCount && code == 0; ++i) {
      if (beginsWith(upper + at, length - at, hue[i])) {
        code = i + 1;
        at += static_cast<int32_t>(std::strlen(hue[i]));
      }
    }
    if (code == 0) break;  // a failed try consumes nothing
    t[k] = code;
    pos = at;
  }
  if (pos < length && upper[pos] != ' ') return false;
  key[0] = static_cast<uint8_t>(p * 16 + t[0]);
  key[1] = static_cast<uint8_t>(t[1] * 16 + t[2]);
  return true;
}

int32_t ggcolor(const char* text, int32_t length, ColorValue* value) {
  const int32_t wanted = value ? value->model : kModelByteRgb;
  const double black = value ? value->black : 0;
  if (text == nullptr || length < 0) length = 0;
  length = wzstrip(text, length);

  // Only the first 80 characters count.
  const int32_t n = std::min(length, kWorkLength);
  char upper[kWorkLength];
  std::memset(upper, ' ', sizeof upper);
  if (n > 0) std::memcpy(upper, text, static_cast<size_t>(n));
  wztxxlt(kXltUpper, upper, upper, kWorkLength);

  ColorCache* cache = ggccache(1);
  if (cache == nullptr) return notAColor(value, wanted, black);

  ColorCacheEntry* e = detail::cacheFind(cache, text, n, upper);
  if (e != nullptr && e->form != kFormNone) {
    detail::cacheUse(cache, e);
    if (value) convertColor(e->value, wanted, black, value);
    return e->form;
  }
  // A text seen before as not a color is parsed again in its own entry (the
  // registry may have learnt it since); only a new text takes a new entry.
  if (e == nullptr) {
    e = detail::cacheAdd(cache, text, n);
    if (e == nullptr) return notAColor(value, wanted, black);
  }

  ColorValue v;
  int32_t form = kFormNone;
  uint8_t rgb[3];
  if (n > 0 && host::host().colorRegistry(std::string_view(text, static_cast<size_t>(n)), rgb)) {
    setByteRgb(&v, rgb[0], rgb[1], rgb[2]);
    form = kFormUser;
  } else if (n == 7 && std::memcmp(text, "_STYLE_", 7) == 0) {
    setByteRgb(&v, 0, 0, 0);
    form = kFormUser;
  } else {
    char work[kWorkLength];
    std::memcpy(work, upper, sizeof work);
    form = recognise(work, n, &v);
  }

  e->form = form;
  e->value = form != kFormNone ? v : ColorValue{};
  setCanonicalCode(e, text, n, upper);
  detail::cacheIndexCode(cache, e);
  detail::cacheUse(cache, e);

  if (form == kFormNone) return notAColor(value, wanted, black);
  if (value) convertColor(e->value, wanted, black, value);
  return form;
}

void process_color(const char* text, int32_t length, char out[8]) {
  if (text == nullptr || length < 0) length = 0;
  const int32_t n = wzstrip(text, length);
  ColorValue v;
  v.model = kModelByteRgb;
  if (ggcolor(text, n, &v) != kFormNone) {
    static const char digits[] = "0123456789ABCDEF";
    uint8_t rgb[3];
    getByteRgb(v, rgb);
    out[0] = 'C';
    out[1] = 'X';
    for (int i = 0; i < 3; ++i) {
      out[2 + 2 * i] = digits[rgb[i] >> 4];
      out[3 + 2 * i] = digits[rgb[i] & 15];
    }
    return;
  }
  if (v_global_gcb_anchor != nullptr)
    host::host().xpmlog(kMsgNotAColor, {std::string_view(text, static_cast<size_t>(n))});
  std::memcpy(out, "CX808080", 8);
}

}  // namespace qv::module
