// Routines on blank-padded text fields.
//
// A field is a pointer and a length in bytes, padded on the right with blanks
// and not terminated. Trailing blanks are filler: fields that differ only in
// trailing blanks compare equal. Positions are 0-based and "not found" is -1
// unless a routine says otherwise. Letter case is that of ASCII letters
// (bytes above 127 have no case).
//
// Every routine is safe on degenerate arguments: a null field or a negative
// length is treated as an empty field unless the routine says otherwise, and
// nothing is read or written outside the bytes the caller handed in.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/ascii.h"

namespace qv::module {

// Status of wztxxlt for a translation table it does not know.
inline constexpr int32_t kBadTranslateTable = static_cast<int32_t>(0x8000200Au);

// Translation table numbers of wztxxlt.
inline constexpr int kXltIdentity = 0;
inline constexpr int kXltUpper = 2;
inline constexpr int kXltLower = 3;

// Length of the field without its trailing blanks (0 for an all-blank field).
// A length below 1 is returned unchanged.
int wzstrip(const char* field, int length);

// Length of a terminated string; 0 for a null pointer.
int wzstlen(const char* s);

// Compares two fields as if the shorter were filled with blanks. 0 when they
// are equal; otherwise the 1-based position of the first difference, positive
// when a's byte there is greater (bytes compare unsigned), negative otherwise.
// A null field or a negative length counts as length 0.
int wzstcom(const char* a, int alen, const char* b, int blen);

// A text that can stand in the template as one bare word: not empty, and no
// blank, control character, quote, parenthesis, ';', '/' or '='.
bool singleWord(std::string_view s);

// Replaces every `oldByte` of the field by `newByte`, in place.
void vzttl(char* field, int length, char newByte, char oldByte);

// Justifies the non-blank content of the field in place: mode 'L' moves it to
// the start, 'R' to the end, 'C' to floor((length - content) / 2) (either
// case); any other mode leaves the field as it is. Vacated bytes become
// blanks. The content runs from the first to the last non-blank byte. Returns
// the content length; `contentLength` and `contentStart` (either may be null)
// receive it and its new start. An all-blank or empty field gives 0 and 0.
int wzstjls(char* field, int length, char mode, int* contentLength,
            int* contentStart);

// Translates `length` bytes from source into target through table `mode`:
// 2 upper-cases, 3 lower-cases, 0, 1 and 4 copy unchanged. Source and target
// may be the same. Returns 0, or kBadTranslateTable for a mode outside 0..4
// (nothing is written then). A length below 1 or a null pointer does nothing.
int32_t wztxxlt(int mode, const char* source, char* target, int length);

// Upper-cases the field in place, then returns its value read as hexadecimal
// digits, most significant first; 0 for a length below 1 or a null field.
// A byte that is not a hexadecimal digit (a blank too) counts as the digit 0.
// Only the last 8 digits of a longer field contribute.
uint32_t gdcvhex(char* field, int length);

}  // namespace qv::module
