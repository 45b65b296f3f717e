#include "module/text/textutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace qv::module;

// The field routines the color parser, the plot keywords and the classes
// use: null fields, negative lengths and bytes above 127 never read or write
// outside the bytes handed in.
TEST(TextUtil, FieldsAreBlankPaddedAndSafeOnDegenerateArguments) {
  EXPECT_EQ(wzstcom("AB", 2, "AB  ", 4), 0);
  EXPECT_EQ(wzstcom("AB", 2, "ABC", 3), -3);
  EXPECT_EQ(wzstcom("A\t", 2, "A", 1), -2);  // below the filler blank
  EXPECT_EQ(wzstcom("\xE9", 1, "z", 1), 1);  // bytes compare unsigned
  EXPECT_EQ(wzstcom(nullptr, 5, "   ", 3), 0);
  EXPECT_EQ(wzstcom("A", -4, nullptr, 0), 0);
  EXPECT_EQ(wzstcom("ABX", 2, "AB", 2), 0);  // only the given bytes are read

  EXPECT_EQ(wzstrip("a b  ", 5), 3);
  EXPECT_EQ(wzstrip("ab", -3), -3);
  EXPECT_EQ(wzstrip(nullptr, 4), 0);
}

TEST(TextUtil, JustifyTranslateAndReadHex) {
  char f[7] = "  ab  ";
  int n = -1, start = -1;
  EXPECT_EQ(wzstjls(f, 6, 'R', &n, &start), 2);
  EXPECT_EQ(std::string(f, 6), "    ab");
  EXPECT_EQ(start, 4);
  std::strcpy(f, "  a b ");
  EXPECT_EQ(wzstjls(f, 6, 'l', &n, &start), 3);  // inner blanks belong to the content
  EXPECT_EQ(std::string(f, 6), "a b   ");
  std::strcpy(f, "      ");
  EXPECT_EQ(wzstjls(f, 6, 'R', &n, &start), 0);
  EXPECT_EQ(wzstjls(nullptr, 6, 'R', &n, &start), 0);

  char s[] = "Ab\xE9z-_";
  EXPECT_EQ(wztxxlt(kXltUpper, s, s, 4), 0);
  EXPECT_EQ(std::string(s, 4), "AB\xE9Z");
  EXPECT_EQ(wztxxlt(5, s, s, 4), kBadTranslateTable);
  vzttl(s, 6, ' ', '-');
  EXPECT_EQ(std::string(s), "AB\xE9Z _");

  char h[] = "ff80a0";
  EXPECT_EQ(gdcvhex(h, 2), 0xFFu);
  EXPECT_EQ(std::string(h), "FF80a0");  // only the field is upper-cased
  char bad[] = "1G";
  EXPECT_EQ(gdcvhex(bad, 2), 0x10u);  // a non-hex byte reads as 0
  EXPECT_EQ(gdcvhex(nullptr, 3), 0u);
}
