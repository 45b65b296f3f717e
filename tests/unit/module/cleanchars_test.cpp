#include "module/text/cleanchars.h"

#include <gtest/gtest.h>

#include <string>

#include "fake_host.h"

using qv::module::CleanChars;
using qv::test::FakeHost;

namespace {

const std::string kQ = "(*ESC*){unicode '0022'x}";
const std::string kP = "(*ESC*){unicode '0025'x}";
const std::string kA = "(*ESC*){unicode '0026'x}";

class CleanCharsTest : public ::testing::Test {
 protected:
  void SetUp() override { fake.install(); }
  std::string clean(const std::string& s) {
    const qv::host::HStr* h = CleanChars(s.data(), static_cast<int>(s.size()));
    EXPECT_NE(h, nullptr);
    return std::string(fake.kdlgstr(h));
  }
  FakeHost fake;
};

}  // namespace

TEST_F(CleanCharsTest, ReplacesTheThreeCharactersInPlace) {
  EXPECT_EQ(clean("\""), kQ);
  const std::string out = clean("ab%cdef&gh");
  EXPECT_EQ(out.size(), 56u);
  EXPECT_EQ(out, "ab" + kP + "cdef" + kA + "gh");
  EXPECT_EQ(clean("\"%&"), kQ + kP + kA);  // adjacent ones each replaced
  // A zero byte inside the text is an ordinary byte.
  EXPECT_EQ(clean(std::string("a\0\"", 3)), std::string("a\0", 2) + kQ);
  // Escaping twice changes nothing more: the escapes hold none of the three.
  const std::string once = clean("50% & \"x\"");
  EXPECT_EQ(clean(once), once);
  EXPECT_EQ(fake.liveBlocks(), 0u);
}

TEST_F(CleanCharsTest, PlainTextPassesWithoutCopy) {
  const std::string plain = "it's a;b\\c \xC3\xA9\x01";
  const int calls = fake.allocCalls();
  const qv::host::HStr* h = CleanChars(plain.data(), static_cast<int>(plain.size()));
  EXPECT_EQ(h, fake.kdltxt(plain.data(), static_cast<long>(plain.size())));
  EXPECT_EQ(fake.allocCalls(), calls);
  // Only `length` bytes are examined: the quote after them is not seen.
  const char text[] = "ab\"";
  EXPECT_EQ(fake.kdlgstr(CleanChars(text, 2)), "ab");
  // Empty, negative and null texts are the empty text.
  const qv::host::HStr* empty = fake.kdltxt("", 0);
  EXPECT_EQ(CleanChars("abc", -5), empty);
  EXPECT_EQ(CleanChars(nullptr, 7), empty);
}

TEST_F(CleanCharsTest, FailuresReturnNullAndReleaseTheBuffer) {
  // No work buffer: the memory message is written and null comes back.
  fake.failAllocAt(1);
  EXPECT_EQ(CleanChars("a&b", 3), nullptr);
  EXPECT_EQ(fake.memMessages(), 1);
  EXPECT_EQ(fake.liveBlocks(), 0u);
  // The next call works again.
  EXPECT_EQ(clean("a&b"), "a" + kA + "b");

  // The host cannot make the string: null, and the buffer is still released.
  fake.failStrings = true;
  EXPECT_EQ(CleanChars("a%b", 3), nullptr);
  EXPECT_EQ(fake.liveBlocks(), 0u);
  EXPECT_EQ(fake.memMessages(), 1);
}
