// Routines on blank-padded text fields.
//
// A field is a pointer and a length in bytes, padded on the right with blanks
// and not terminated. Trailing blanks are filler: fields that differ only in
// trailing blanks compare equal. Positions are 0-based and "not found" is -1
// unless a routine says otherwise. Letter case is folded through a single-byte
// ASCII case table (bytes above 127 have no case).
//
// Every routine is safe on degenerate arguments: a null field or a negative
// length is treated as an empty field unless the routine says otherwise, and
// nothing is read or written outside the bytes the caller handed in.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>
#include <utility>

namespace qv::module {

// One piece of a concatenation: bytes and their length (a negative length or
// a null pointer is an empty piece).
using TextPiece = std::pair<const char*, int>;

// Status of wztxxlt for a translation table it does not know.
inline constexpr int32_t kBadTranslateTable = static_cast<int32_t>(0x8000200Au);

// Translation table numbers of wztxxlt.
inline constexpr int kXltIdentity = 0;
inline constexpr int kXltUpper = 2;
inline constexpr int kXltLower = 3;

// The case table: upper- and lower-case form of a byte.
unsigned char upperByte(unsigned char c);
unsigned char lowerByte(unsigned char c);

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

// Compares `count` bytes without regard to case: 0 when equal, otherwise the
// case-folded byte of a minus that of b at the first difference. A null
// pointer stands for `count` blanks; a count below 1 gives 0.
int wzbcup(const char* a, const char* b, int count);

// 1 when both lengths are equal and the fields are equal without regard to
// case, otherwise 0. Negative lengths count as 0 (null fields as length 0).
int wzsteqn(const char* a, int alen, const char* b, int blen);

// wzsteqn on two views: whether they are equal without regard to case.
bool equalNoCase(std::string_view a, std::string_view b);

// A text that can stand in the template as one bare word: not empty, and no
// blank, control character, quote, parenthesis, ';', '/' or '='.
bool singleWord(std::string_view s);

// Position of the first occurrence of the pattern in the field. A pattern
// length below 0 means the pattern is terminated. An empty or null pattern
// gives 0; otherwise an empty field (or one shorter than the pattern) gives -1.
int wzstndx(const char* field, int length, const char* pattern, int plen);

// Position of the first occurrence of `byte`; -1 when absent, for a null
// field or for a length below 1.
int wzstpos(const char* field, int length, char byte);

// Position of the first byte that does not occur in `set`; -1 when every
// byte occurs in it (also for an empty field). An empty or null set, or a
// negative set length, is a set with no bytes.
int wzstver(const char* field, int length, const char* set, int setlen);

// Replaces every `oldByte` of the field by `newByte`, in place.
void wzstrnc(char* field, int length, char newByte, char oldByte);
// The same as wzstrnc.
void vzttl(char* field, int length, char newByte, char oldByte);

// Copies the first min(slen, tlen) bytes of source into target (the two may
// overlap) and fills the rest of target with blanks. A source length below 1
// or a null source blanks the whole target.
void vzmp(const char* source, int slen, char* target, int tlen);

// 1 when every byte of the field is `byte` (also for a length below 1 or a
// null field), otherwise 0.
int vzatl(char byte, const char* field, int length);

// Justifies the non-blank content of the field in place: mode 'L' moves it to
// the start, 'R' to the end, 'C' to floor((length - content) / 2) (either
// case); any other mode leaves the field as it is. Vacated bytes become
// blanks. The content runs from the first to the last non-blank byte. Returns
// the content length; `contentLength` and `contentStart` (either may be null)
// receive it and its new start. An all-blank or empty field gives 0 and 0.
int wzstjls(char* field, int length, char mode, int* contentLength,
            int* contentStart);

// wzstjls returning only the content length.
int wzstjus(char* field, int length, char mode);

// Concatenates the pieces into target while room remains (a piece that does
// not fit whole is cut), with the byte `separator` between pieces when
// separator is not negative. A target length n >= 0 is a field of n bytes whose
// rest is filled with blanks; a negative target length -n is a terminated
// target of n bytes: at most n - 1 bytes of text, then a zero byte. Returns
// the number of text bytes written (blank fill and terminator not counted).
// A null target gives 0 and writes nothing.
int wzstcat(char* target, int tlen, int separator,
            std::span<const TextPiece> pieces);
int wzstcat(char* target, int tlen, int separator,
            std::initializer_list<TextPiece> pieces);

// Translates `length` bytes from source into target through table `mode`:
// 2 upper-cases, 3 lower-cases, 0, 1 and 4 copy unchanged. Source and target
// may be the same. Returns 0, or kBadTranslateTable for a mode outside 0..4
// (nothing is written then). A length below 1 or a null pointer does nothing.
int32_t wztxxlt(int mode, const char* source, char* target, int length);

// Writes the decimal digits of value, with a leading '-' when negative, no
// terminator; returns the number of characters (at most 11). A null target
// gives 0.
int wzcichr(int32_t value, char* target);

// Upper-cases the field in place, then returns its value read as hexadecimal
// digits, most significant first; 0 for a length below 1 or a null field.
// A byte that is not a hexadecimal digit (a blank too) counts as the digit 0.
// Only the last 8 digits of a longer field contribute.
uint32_t gdcvhex(char* field, int length);

// Binary search of `count` entries of `stride` bytes each, sorted ascending in
// wzstcom order of their first `width` bytes; a negative width means each entry
// is a terminated string (read no further than the stride). Returns the index
// of the entry equal to the key under wzstcom, or the one's complement of the
// position where the key would be inserted (so always negative when absent).
// A null table, a count below 1 or a stride below 1 gives ~0 (-1).
int zlkupc2(const char* key, int klen, const void* table, int count, int width,
            int stride);

// The larger and the smaller of two integers.
int32_t qmax(int32_t a, int32_t b);
int32_t qmin(int32_t a, int32_t b);

// Placeholder of the text-routine table; does nothing and returns 0.
int wztxdotr();

}  // namespace qv::module
