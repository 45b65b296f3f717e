// Colors: every color the procedure writes into the graph
// template is read here from the user's notation and turned into the
// template's color text "CXrrggbb".
//
// `process_color` is what the rest of the module calls. `ggcolor` is the
// parser underneath; callers that only need to know whether a text is a
// color call it with a null value and test for a nonzero form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/host/host.h"

namespace qv::module {

// Color models of a ColorValue.
enum ColorModel : int32_t {
  kModelRgb = 1,      // c1 red, c2 green, c3 blue, each 0..1
  kModelCmyk = 2,     // c1 cyan, c2 magenta, c3 yellow, c4 black, each 0..1
  kModelHls = 3,      // c1 hue (whole degrees, 0 blue, 120 red, 240 green),
                      // c2 lightness, c3 saturation
  kModelHsv = 4,      // c1 hue (whole degrees, 0 red, 120 green, 240 blue),
                      // c2 saturation, c3 value
  kModelGray = 5,     // c1 = c2 = c3 = gray level 0..1
  kModelRgba = 6,     // RGB plus c4 alpha
  kModelByteRgb = 7,  // red, green, blue bytes in the first bytes of c1
};

// The notation a color text was recognised in (0: not a color).
enum ColorForm : int32_t {
  kFormNone = 0,
  kFormCx = 1,       // CXrrggbb
  kFormHls = 2,      // Hhhhllss
  kFormGray = 3,     // GRAYll / GREYll
  kFormCmyk = 4,     // CMYK..., K..., or 8 hexadecimal digits
  kFormHsv = 5,      // Vhhhssvv
  kFormWords = 6,    // color-name words (LIGHT GRAYISH BLUE)
  kFormDm = 7,       // display-manager name (DMRED)
  kFormBasic = 8,    // basic color name (RED, CREAM)
  kFormAbbrev = 9,   // abbreviated name (VLIB)
  kFormHash = 10,    // #rrggbb
  kFormUser = 11,    // user color name from the registry, or "_STYLE_"
  kFormRgba = 12,    // RGBArrggbbaa / Arrggbbaa
};

// A color in one model. On input to ggcolor, `model` names the model wanted
// back; `black` is the black factor used only when CMYK is wanted.
struct ColorValue {
  int32_t model = kModelRgb;
  double black = 0;
  double c1 = 0, c2 = 0, c3 = 0, c4 = 0;
};

// Byte RGB keeps its three bytes in the first bytes of c1's storage.
void setByteRgb(ColorValue* v, uint8_t red, uint8_t green, uint8_t blue);
void getByteRgb(const ColorValue& v, uint8_t out[3]);

// One color text seen in the host session.
struct ColorCacheEntry {
  int32_t textLength;      // bytes of `text`
  char* text;              // the caller's text, case kept, trailing blanks gone
  char code[16];           // canonical code, blank-padded (all blanks: none)
  int32_t form;            // 0 when the text is not a color
  ColorValue value;        // as recognised, in its own model
  ColorCacheEntry* next;   // the next older entry
  uint64_t serial;         // creation order (newer is larger)
};

namespace detail {
// Open-addressed index from a key (an entry's text, or its canonical code)
// to entries. It only speeds up finding what the list walk would find.
struct CacheIndexSlot {
  uint64_t hash;
  ColorCacheEntry* entry;
};
struct CacheIndex {
  CacheIndexSlot* slots;   // null until first use
  size_t capacity;         // a power of two, or 0
  size_t count;
  bool off;                // an allocation failed: the list walk serves alone
};
}  // namespace detail

// The session's color cache. `anchor.next` starts the list of entries,
// newest first; the anchor's other fields copy the entry used last.
struct ColorCache {
  ColorCacheEntry anchor;
  ColorCacheEntry* lastUsed;  // the entry the anchor copies (null at first)
  uint64_t serial;            // serial of the newest entry
  uint64_t entries;           // number of entries in the list
  detail::CacheIndex byText;  // entry text -> entry
  detail::CacheIndex byCode;  // canonical code -> entries that have one
};

// Writes the template color text of `text` (not terminated, `length` bytes,
// trailing blanks allowed) into out: exactly 8 characters, no terminator.
// A text that is not a color logs message 854/79 and gives "CX808080".
// Returns 0 in every case.
void process_color(const char* text, int32_t length, char out[8]);

// Recognises a color text. Returns its form (1 to 12), or 0 when the text
// is not a color. When `value` is not null, its model names the model wanted
// back and it receives the color (for a non-color: RGB 105/255 gray, in the
// wanted model). Texts longer than 80 bytes are judged on their first 80.
int32_t ggcolor(const char* text, int32_t length, ColorValue* value);

// The session's color cache, made when missing and `create` is nonzero.
// Null when there is none or it cannot be made.
ColorCache* ggccache(int create);

// The cache's cleanup hook: frees the anchor, every entry and its text.
void ggcchln(void* anchor);

// HLS (this system's hue scale) to RGB in place; the model becomes RGB.
void hls2rgb(ColorValue* v);
// HSV (usual hue scale) to RGB in place; the model becomes RGB.
void hsv2rgb(ColorValue* v);

// Sets v to the RGB of row `index` of `spcols` (medium gray when out of range).
void BASIC_id2clr(int index, ColorValue* v);

// Converts `from` into the model `wanted` (see ColorModel), writing `out`.
// `black` is the black factor used for CMYK. Unknown models give RGB.
void convertColor(const ColorValue& from, int32_t wanted, double black,
                  ColorValue* out);

// Reads an abbreviated color name (prefix and up to three hue codes) from
// the upper-cased text: true and the `colcode` key when the name is used up
// or followed by a blank.
bool colcodeKey(const char* upper, int32_t length, uint8_t key[2]);

}  // namespace qv::module
