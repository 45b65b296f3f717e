#include "module/template/titlefoot.h"

#include <initializer_list>

#include "support.h"

namespace qv::test {
namespace {

using host::TitleAttr;
using host::TitleEntry;
using module::process_titlefoot;
using module::writeTitlesAndFootnotes;

const std::string kQuote = "(*ESC*){unicode '0022'x}";
const std::string kLabel = " / textattrs=(size=GraphLabelText:fontsize);";

// Builds an entry the way the host's title reader stores one: text
// segments point into the concatenated text, attributes stand in order.
class EntryBuilder {
 public:
  EntryBuilder& text(const std::string& s) {
    TitleAttr a;
    a.kind = 'T';
    a.offset = static_cast<int>(e.text.size());
    a.length = static_cast<int>(s.size());
    e.text += s;
    e.attrs.push_back(a);
    return *this;
  }
  EntryBuilder& attr(char kind, const std::string& value = {}) {
    TitleAttr a;
    a.kind = kind;
    a.text = value;
    e.attrs.push_back(a);
    return *this;
  }
  TitleEntry e;
};

class TitlesTest : public TranslatorTest {
 protected:
  void SetUp() override {
    TranslatorTest::SetUp();
    EXPECT_EQ(foot.open(true), 0);
  }
  // One attributed entry through process_titlefoot.
  std::string entry(char kind, int number, const TitleEntry& e,
                    host::AssocArray* by = nullptr) {
    EXPECT_EQ(process_titlefoot(&out, kind, number, static_cast<int>(e.text.size()),
                                e.text.data(), static_cast<int>(e.attrs.size()),
                                e.attrs.data(), by),
              host::kOk);
    return take();
  }
  void title(char kind, int n, const std::string& text) {
    TitleEntry e;
    e.number = n;
    e.text = text;
    fake.titles[kind][n] = e;
  }
  rt::MemoryStream foot;
  rt::AssocArrayImpl byTexts;
};

TEST_F(TitlesTest, ByGroupsNameTextsWithSubstitutions) {
  title('T', 1, "Sales in #BYVAL(region)");
  title('T', 2, "All \"regions\"");
  title('F', 1, "#BYLINE");
  EntryBuilder b;
  b.attr('C', "red").text("Year ").text("#BYVAL(year)");
  b.e.number = 3;
  fake.titles['T'][3] = b.e;
  plot.byFlag = 1;
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, &foot, &byTexts), host::kOk);
  EXPECT_EQ(take(), "EntryTitle TITLE1;EntryTitle \"All " + kQuote + "regions" + kQuote +
                        "\"" + kLabel +
                        "EntryTitle \"Year \" TITLE3_2 / textattrs=( color=CXFF0000 "
                        "size=GraphLabelText:fontsize);"
                        "EntryTitle __BYLINE__ / textattrs=(size=GraphLabelText:fontsize);");
  EXPECT_EQ(foot.text(), "EntryFootnote FOOTNOTE1;");
  ASSERT_EQ(byTexts.size(), 3u);
  EXPECT_EQ(byTexts.keyAt(0), "TITLE1");
  EXPECT_EQ(std::get<std::string>(byTexts.valueAt(0)), "Sales in #BYVAL(region)");
  EXPECT_EQ(byTexts.keyAt(1), "TITLE3_2");
  EXPECT_EQ(byTexts.keyAt(2), "FOOTNOTE1");

}

TEST_F(TitlesTest, MalformedEntriesAreHandledSafely) {
  // No text segment at all: nothing is written.
  EntryBuilder none;
  none.attr('C', "red");
  EXPECT_EQ(entry('T', 1, none.e), "");
  // Segments that point outside the text are kept inside it.
  TitleEntry e;
  e.text = "abc";
  TitleAttr bad;
  bad.kind = 'T';
  bad.offset = 2;
  bad.length = 50;
  TitleAttr worse = bad;
  worse.offset = -4;
  worse.length = -1;
  TitleAttr past = bad;
  past.offset = 9;
  TitleAttr unit;  // a unit with nothing before it, and an unknown kind
  unit.kind = 'I';
  unit.text = "T";
  TitleAttr odd;
  odd.kind = 'Z';
  e.attrs = {unit, odd, bad, worse, past};
  EXPECT_EQ(entry('T', 1, e), "EntryTitle \"c\" \"\" \"\" /;");
  EXPECT_EQ(process_titlefoot(&out, 'T', 1, -5, nullptr, 3, nullptr, nullptr), host::kOk);
  EXPECT_EQ(process_titlefoot(nullptr, 'T', 1, 0, "", 0, nullptr, nullptr), host::kHostFailure);
  EXPECT_EQ(take(), "");
}

TEST_F(TitlesTest, DefaultTitleAndFailures) {
  // The host's default title: replaced only when the host has a localized one.
  title('T', 1, "The Map Procedure");
  fake.titles['T'][1].extra = 'X';
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, nullptr, nullptr), host::kOk);
  EXPECT_EQ(take(), "EntryTitle \"The Map Procedure\";");
  fake.setSwitch("KDLLANGCHG", true);
  fake.setTextOption("KDLLANGTITLE", "Die Kartenprozedur, sehr lang und noch laenger");
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, nullptr, nullptr), host::kOk);
  EXPECT_EQ(take(), "EntryTitle \"Die Kartenprozedur, sehr lang un\";");
  fake.titles['T'][1].extra = 0;
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, nullptr, nullptr), host::kOk);
  EXPECT_EQ(take(), "EntryTitle \"The Map Procedure\";");

  // A stream that refuses the text, or a BY text table that does, passes
  // its status up.
  rt::MemoryStream closed;
  EXPECT_NE(writeTitlesAndFootnotes(&plot, &closed, nullptr, nullptr), host::kOk);
  fake.failStrings = true;
  EXPECT_EQ(writeTitlesAndFootnotes(&plot, &out, nullptr, nullptr), host::kNoMemory);
}

}  // namespace
}  // namespace qv::test
