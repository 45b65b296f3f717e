#include "module/text/textutil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

using namespace qv::module;

TEST(TextUtil, CompareFillsShorterFieldWithBlanks) {
  EXPECT_EQ(wzstcom("AB", 2, "AB  ", 4), 0);
  EXPECT_EQ(wzstcom("AB", 2, "ABC", 3), -3);
  EXPECT_EQ(wzstcom("ABD", 3, "ABC", 3), 3);
  EXPECT_EQ(wzstcom("ABC", 3, "AB", 2), 3);
  // A byte below the blank sorts before the filler, bytes compare unsigned.
  EXPECT_EQ(wzstcom("A\t", 2, "A", 1), -2);
  EXPECT_EQ(wzstcom("\xE9", 1, "z", 1), 1);
  // Null fields and negative lengths are empty fields.
  EXPECT_EQ(wzstcom(nullptr, 5, "   ", 3), 0);
  EXPECT_EQ(wzstcom("A", -4, nullptr, 0), 0);
  EXPECT_EQ(wzstcom(nullptr, 0, "A", 1), -1);
  // Only the given bytes are read.
  EXPECT_EQ(wzstcom("ABX", 2, "AB", 2), 0);
}

TEST(TextUtil, Strip) {
  EXPECT_EQ(wzstrip("     ", 5), 0);
  EXPECT_EQ(wzstrip("a b  ", 5), 3);
  EXPECT_EQ(wzstrip("ab", 0), 0);
  EXPECT_EQ(wzstrip("ab", -3), -3);
  EXPECT_EQ(wzstrip(nullptr, 4), 0);
}

TEST(TextUtil, SearchRoutines) {
  const char* f = "a color=";
  EXPECT_EQ(wzstndx(f, 8, "color", 5), 2);
  EXPECT_EQ(wzstndx(f, 8, "family", 6), -1);
  EXPECT_EQ(wzstndx(f, 8, "color=", -1), 2);  // terminated pattern
  EXPECT_EQ(wzstndx(f, 8, "", 0), 0);
  EXPECT_EQ(wzstndx(f, 8, nullptr, 3), 0);
  EXPECT_EQ(wzstndx(f, 0, "a", 1), -1);
  EXPECT_EQ(wzstndx(nullptr, 8, "a", 1), -1);
  EXPECT_EQ(wzstndx("aab", 3, "ab", 2), 1);
  // A match that would run past the field's length is not a match.
  EXPECT_EQ(wzstndx(f, 5, "color", 5), -1);
  EXPECT_EQ(wzstndx("ab", 2, "abc", 3), -1);

  EXPECT_EQ(wzstver("12.5x", 5, "0123456789.-", 12), 4);
  EXPECT_EQ(wzstver("-3.25", 5, "0123456789.-", 12), -1);
  EXPECT_EQ(wzstver("x1", 2, "0123456789.-", 12), 0);
  EXPECT_EQ(wzstver("ab", 2, nullptr, 4), 0);
  EXPECT_EQ(wzstver("\xFF\xFF", 2, "\xFF", 1), -1);

  EXPECT_EQ(wzstpos("abc=d", 5, '='), 3);
  EXPECT_EQ(wzstpos("abc=d", 3, '='), -1);
  EXPECT_EQ(wzstpos("x\xE9", 2, '\xE9'), 1);
  EXPECT_EQ(wzstpos(nullptr, 5, 'a'), -1);
}

TEST(TextUtil, CaseInsensitiveComparison) {
  EXPECT_EQ(wzbcup("Red", "rED", 3), 0);
  EXPECT_EQ(wzbcup("a", "B", 1), 'A' - 'B');
  EXPECT_EQ(wzbcup(nullptr, "  ", 2), 0);  // null stands for blanks
  // Only ASCII letters have case.
  EXPECT_NE(wzbcup("\xE9", "\xC9", 1), 0);

  EXPECT_EQ(wzsteqn("Blue", 4, "BLUE", 4), 1);
  EXPECT_EQ(wzsteqn("Blue", 4, "BLUE ", 5), 0);  // lengths must be equal
  EXPECT_EQ(wzsteqn(nullptr, 3, "", 0), 1);
}

TEST(TextUtil, JustifyInPlace) {
  char f[7] = "  ab  ";
  int n = -1, start = -1;
  EXPECT_EQ(wzstjls(f, 6, 'R', &n, &start), 2);
  EXPECT_EQ(std::string(f, 6), "    ab");
  EXPECT_EQ(n, 2);
  EXPECT_EQ(start, 4);

  std::strcpy(f, "  ab  ");
  wzstjls(f, 6, 'C', &n, &start);
  EXPECT_EQ(std::string(f, 6), "  ab  ");
  EXPECT_EQ(start, 2);

  std::strcpy(f, "  a b ");
  EXPECT_EQ(wzstjls(f, 6, 'l', &n, &start), 3);  // inner blanks belong to the content
  EXPECT_EQ(std::string(f, 6), "a b   ");
  EXPECT_EQ(start, 0);

  std::strcpy(f, "ab    ");
  wzstjls(f, 6, 'c', &n, &start);
  EXPECT_EQ(std::string(f, 6), "  ab  ");

  std::strcpy(f, " ab   ");
  EXPECT_EQ(wzstjls(f, 6, 'X', &n, &start), 2);  // unknown mode: unchanged
  EXPECT_EQ(std::string(f, 6), " ab   ");
  EXPECT_EQ(start, 1);

  std::strcpy(f, "      ");
  EXPECT_EQ(wzstjls(f, 6, 'R', &n, &start), 0);
  EXPECT_EQ(start, 0);
  EXPECT_EQ(wzstjls(nullptr, 6, 'R', &n, &start), 0);

  std::strcpy(f, "ab    ");
  EXPECT_EQ(wzstjus(f, 5, 'R'), 2);  // the sixth byte is outside the field
  EXPECT_EQ(std::string(f, 6), "   ab ");
}

TEST(TextUtil, ConcatenateIntoFixedAndTerminatedTargets) {
  char t[12];
  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzstcat(t, 10, '/', {{"ab", 2}, {"cd", 2}}), 5);
  EXPECT_EQ(std::string(t, 12), "ab/cd     ##");

  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzstcat(t, 4, -1, {{"abc", 3}, {"def", 3}}), 4);  // cut when full
  EXPECT_EQ(std::string(t, 5), "abcd#");

  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzstcat(t, 3, ',', {{"abc", 3}, {"d", 1}}), 3);  // no room for the separator
  EXPECT_EQ(std::string(t, 4), "abc#");

  // A terminated target of 6 bytes holds 5 bytes of text and the zero.
  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzstcat(t, -6, ' ', {{"abc", 3}, {"defg", 4}}), 5);
  EXPECT_EQ(std::string(t, 7), std::string("abc d\0#", 7));
  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzstcat(t, -1, ' ', {{"abc", 3}}), 0);
  EXPECT_EQ(t[0], '\0');
  EXPECT_EQ(t[1], '#');

  // Empty, null and negative-length pieces are empty; a null target gives 0.
  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzstcat(t, 5, '-', {{nullptr, 3}, {"x", -2}, {"y", 1}}), 3);
  EXPECT_EQ(std::string(t, 6), "--y  #");
  EXPECT_EQ(wzstcat(nullptr, 5, '-', {{"y", 1}}), 0);
}

TEST(TextUtil, CopyFillReplace) {
  char t[8];
  std::memset(t, '#', sizeof t);
  vzmp("abc", 3, t, 6);
  EXPECT_EQ(std::string(t, 8), "abc   ##");
  vzmp("abcdefgh", 8, t, 4);
  EXPECT_EQ(std::string(t, 8), "abcd  ##");
  vzmp("xyz", 0, t, 6);
  EXPECT_EQ(std::string(t, 8), "      ##");
  char o[] = "abcdef";
  vzmp(o, 4, o + 2, 4);  // overlapping move
  EXPECT_EQ(std::string(o), "ababcd");

  EXPECT_EQ(vzatl(' ', "   ", 3), 1);
  EXPECT_EQ(vzatl(' ', "  x", 3), 0);
  EXPECT_EQ(vzatl('x', "", 0), 1);
  EXPECT_EQ(vzatl('x', nullptr, 4), 1);

  char r[] = "a_b_c";
  wzstrnc(r, 3, ' ', '_');
  EXPECT_EQ(std::string(r), "a b_c");
  vzttl(r, 5, '-', '_');
  EXPECT_EQ(std::string(r), "a b-c");
}

TEST(TextUtil, TranslateTables) {
  char s[] = "Ab\xE9z";
  char t[5] = {};
  EXPECT_EQ(wztxxlt(2, s, t, 4), 0);
  EXPECT_EQ(std::string(t, 4), "AB\xE9Z");
  EXPECT_EQ(wztxxlt(3, s, s, 4), 0);  // in place
  EXPECT_EQ(std::string(s), "ab\xE9z");
  EXPECT_EQ(wztxxlt(0, "Q", t, 1), 0);
  EXPECT_EQ(t[0], 'Q');
  std::memcpy(t, "KEEP", 4);
  EXPECT_EQ(wztxxlt(5, "abcd", t, 4), kBadTranslateTable);
  EXPECT_EQ(wztxxlt(-1, "abcd", t, 4), kBadTranslateTable);
  EXPECT_EQ(std::string(t, 4), "KEEP");
}

TEST(TextUtil, NumbersToAndFromText) {
  char t[16];
  std::memset(t, '#', sizeof t);
  EXPECT_EQ(wzcichr(-120, t), 4);
  EXPECT_EQ(std::string(t, 5), "-120#");
  EXPECT_EQ(wzcichr(0, t), 1);
  EXPECT_EQ(t[0], '0');
  EXPECT_EQ(wzcichr(INT32_MIN, t), 11);
  EXPECT_EQ(std::string(t, 11), "-2147483648");

  char h[] = "ff80a0";
  EXPECT_EQ(gdcvhex(h, 2), 0xFFu);
  EXPECT_EQ(std::string(h), "FF80a0");  // only the field is upper-cased
  EXPECT_EQ(gdcvhex(h, 6), 0xFF80A0u);
  char bad[] = "1G";
  EXPECT_EQ(gdcvhex(bad, 2), 0x10u);  // a non-hex byte reads as 0
  EXPECT_EQ(gdcvhex(bad, 0), 0u);
  EXPECT_EQ(gdcvhex(nullptr, 3), 0u);
}

TEST(TextUtil, TableLookup) {
  // Fixed width 8, blank-padded, sorted.
  static const char colors[] =
      "BLACK   "
      "BLUE    "
      "GREEN   "
      "RED     "
      "WHITE   ";
  EXPECT_EQ(zlkupc2("RED", 3, colors, 5, 8, 8), 3);
  EXPECT_EQ(zlkupc2("RED     ", 8, colors, 5, 8, 8), 3);
  const int reddish = zlkupc2("REDDISH", 7, colors, 5, 8, 8);
  EXPECT_LT(reddish, 0);
  EXPECT_EQ(~reddish, 4);  // would go before WHITE
  EXPECT_EQ(zlkupc2("AAA", 3, colors, 5, 8, 8), ~0);
  EXPECT_EQ(zlkupc2("ZZZ", 3, colors, 5, 8, 8), ~5);
  EXPECT_LT(zlkupc2("red", 3, colors, 5, 8, 8), 0);  // case matters
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(zlkupc2(colors + 8 * i, 8, colors, 5, 8, 8), i);
  }
  // Entries with extra bytes after the compared width (e.g. RGB values).
  static const char rows[] = "AQUA\0\0\0\x10" "BLUE\0\0\0\x20";
  // Width 4: compares the names only.
  EXPECT_EQ(zlkupc2("BLUE", 4, rows, 2, 4, 8), 1);
  // Terminated entries: the zero ends each name.
  EXPECT_EQ(zlkupc2("AQUA", 4, rows, 2, -1, 8), 0);
  EXPECT_EQ(zlkupc2("AQ", 2, rows, 2, -1, 8), ~0);
  EXPECT_EQ(zlkupc2("RED", 3, colors, 0, 8, 8), ~0);
  EXPECT_EQ(zlkupc2("RED", 3, nullptr, 5, 8, 8), ~0);
}
