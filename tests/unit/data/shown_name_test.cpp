// Names as messages show them: nothing in a name can break a log line or
// drive a terminal, and a long one is cut in the middle with its length.
#include <gtest/gtest.h>

#include <string>

#include "common/shown_name.h"

namespace qv {
namespace {

TEST(ShownName, EscapesWhatATerminalWouldObeyAndKeepsText) {
  EXPECT_EQ(shownName("states_2020 é 東京 🗺"), "states_2020 é 東京 🗺");
  EXPECT_EQ(shownName("a\nERROR: forged"), "a\\nERROR: forged");
  EXPECT_EQ(shownName("x\x1b[2Jy\t\r\x7f"), "x\\x1b[2Jy\\t\\r\\x7f");
  EXPECT_EQ(shownName(std::string("nul\0end", 7)), "nul\\x00end");
  // U+009B, the 8-bit form of the escape sequence introducer, and bytes
  // that are no UTF-8 (a lone one, a cut character, an overlong form).
  EXPECT_EQ(shownName("a\xc2\x9b" "2J"), "a\\u009b2J");
  EXPECT_EQ(shownName("a\x9b" "2J \xe6\x9d z \xc0\xaf"), "a\\x9b2J \\xe6\\x9d z \\xc0\\xaf");
}

TEST(ShownName, CutsALongNameInTheMiddleOnCharacterBoundaries) {
  EXPECT_EQ(shownName(std::string(kShownNameBytes, 'a')), std::string(kShownNameBytes, 'a'));
  const std::string name = "start" + std::string(1048576, 'n') + "end";
  const std::string shown = shownName(name);
  EXPECT_LT(shown.size(), kShownNameBytes + 30);
  EXPECT_EQ(shown.substr(0, 5), "start");
  EXPECT_NE(shown.find("n...n"), std::string::npos) << shown;
  EXPECT_EQ(shown.substr(shown.size() - 19), "end (1048584 bytes)");
  // Two-byte characters throughout: neither half ends inside one.
  std::string wide;
  for (int i = 0; i < 300; ++i) wide += "é";
  const std::string cut = shownName(wide);
  EXPECT_EQ(cut.find("\\x"), std::string::npos) << cut;
  EXPECT_NE(cut.find("é...é"), std::string::npos) << cut;
  EXPECT_NE(cut.find("(600 bytes)"), std::string::npos) << cut;
}

}  // namespace
}  // namespace qv
