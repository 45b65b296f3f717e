#include "module/template/titles.h"

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
  // H, W, S, B with a number; a unit record follows H, W and S.
  EntryBuilder& size(char kind, double v, char unit = ' ') {
    TitleAttr a;
    a.kind = kind;
    a.number = v;
    e.attrs.push_back(a);
    if (kind != 'B') attr('I', std::string(1, unit));
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

TEST_F(TitlesTest, PlainTitlesAndFootnotes) {
  title('T', 1, "Unemployment");
  title('T', 2, "by state");
  title('T', 4, "");  // no text: skipped
  title('T', 5, "Rate: 5% & \"rising\"");
  title('F', 1, "Source");
  title('F', 2, "Note");
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, &foot, nullptr), host::kOk);
  // A double quote in a plain title is escaped so that the template still
  // reads; so are the other two characters that cannot stand in a string.
  EXPECT_EQ(take(), "EntryTitle \"Unemployment\";EntryTitle \"by state\"" + kLabel +
                        "EntryTitle \"Rate: 5(*ESC*){unicode '0025'x} (*ESC*){unicode '0026'x} " +
                        kQuote + "rising" + kQuote + "\"" + kLabel);
  EXPECT_EQ(foot.text(), "EntryFootnote \"Source\";EntryFootnote \"Note\";");
  // Without titles nothing at all is written.
  fake.titles.clear();
  EXPECT_EQ(foot.open(true), 0);
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, &foot, nullptr), host::kOk);
  EXPECT_EQ(take(), "");
  EXPECT_EQ(foot.text(), "");
}

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

  // Without BY groups the same texts are quoted and there is no BY line.
  plot.byFlag = 0;
  byTexts.clear();
  EXPECT_EQ(foot.open(true), 0);
  ASSERT_EQ(writeTitlesAndFootnotes(&plot, &out, &foot, &byTexts), host::kOk);
  EXPECT_EQ(take(), "EntryTitle \"Sales in #BYVAL(region)\";EntryTitle \"All " + kQuote +
                        "regions" + kQuote + "\"" + kLabel +
                        "EntryTitle \"Year \" \"#BYVAL(year)\" / textattrs=( color=CXFF0000 "
                        "size=GraphLabelText:fontsize);");
  EXPECT_EQ(byTexts.size(), 0u);
}

TEST_F(TitlesTest, SegmentsCarryTheirOwnAttributes) {
  // TITLE1 COLOR=red HEIGHT=14pt JUSTIFY=LEFT "Unemployment " BOLD "2008";
  EntryBuilder b;
  b.attr('C', "red").size('H', 14, 'T').attr('J', "L").text("Unemployment ").attr('E').text(
      "2008");
  EXPECT_EQ(entry('T', 1, b.e),
            "EntryTitle \"Unemployment \" textattrs=( weight=bold) \"2008\" / halign=left "
            "textattrs=( color=CXFF0000 size=14pt);");

  // After the first segment attributes belong to the segments and stay in
  // effect; an italic-only segment is written italic.
  EntryBuilder c;
  c.text("a").attr('C', "blue").text("b").attr('P').text("c\"d").attr('J', "R").text("e");
  EXPECT_EQ(entry('F', 1, c.e),
            "EntryFootnote \"a\" textattrs=( color=CX0000FF) \"b\" textattrs=( color=CX0000FF "
            "style=italic) \"c" +
                kQuote +
                "d\" halign=right textattrs=( color=CX0000FF style=italic) \"e\" /;");

  // A font with options; title 2 takes the label size when it has none.
  EntryBuilder f;
  f.attr('F', "Arial/bo/it").text("x");
  EXPECT_EQ(entry('T', 2, f.e),
            "EntryTitle \"x\" / textattrs=( family=\"Arial\" weight=bold style=italic "
            "size=GraphLabelText:fontsize);");
  EntryBuilder g;
  g.text("x").attr('F', "Times/n").text("y");
  EXPECT_EQ(entry('T', 2, g.e),
            "EntryTitle \"x\" textattrs=( family=\"Times\" weight=normal style=normal) \"y\"" +
                kLabel);
  // A family holding a double quote is escaped.
  EntryBuilder q;
  q.attr('F', "A\"B").text("x");
  EXPECT_EQ(entry('T', 1, q.e),
            "EntryTitle \"x\" / textattrs=( family=\"A" + kQuote + "B\");");
}

TEST_F(TitlesTest, HeightUnits) {
  const std::pair<char, std::string> cases[] = {
      {'T', "size=2pt"}, {'C', "size=2cm"},  {'I', "size=2in"}, {'P', "size=2pct"},
      {'L', "size=18pt"}, {' ', "size=18pt"}, {'A', "size=24pt"}, {'X', "size=2"}};
  for (const auto& [unit, text] : cases) {
    EntryBuilder b;
    b.size('H', 2, unit).text("x");
    EXPECT_EQ(entry('T', 1, b.e), "EntryTitle \"x\" / textattrs=( " + text + ");") << unit;
  }
  // D writes no size: on title 2 not even the label size.
  EntryBuilder d;
  d.size('H', 2, 'D').text("x");
  EXPECT_EQ(entry('T', 2, d.e), "EntryTitle \"x\" / textattrs=();");
  // A height given after the first segment sizes the segments.
  EntryBuilder s;
  s.text("x").size('H', 1.5, 'C').text("y");
  EXPECT_EQ(entry('F', 3, s.e), "EntryFootnote \"x\" textattrs=( size=1.5cm) \"y\" /;");
}

TEST_F(TitlesTest, BoxPadAndSpacing) {
  // Background color and a thin border with the default pad.
  EntryBuilder a;
  a.attr('O', "yellow").size('B', 1).text("x");
  EXPECT_EQ(entry('T', 1, a.e),
            "EntryTitle \"x\" / backgroundcolor=CXFFFF00 opaque=true border=true pad=1pct;");
  // A thick border and every pad unit; spacing is ignored with a border.
  const std::pair<char, std::string> pads[] = {
      {'T', "pad=3pt"}, {'P', "pad=3pct"}, {'I', "pad=3in"}, {'C', "pad=3cm"},
      {'A', "pad=36pt"}, {'L', "pad=8.1pct"}, {' ', "pad=8.1pct"}, {'D', ""},
      {'Q', "pad=3"}};
  for (const auto& [unit, text] : pads) {
    EntryBuilder b;
    b.size('B', 2).size('W', 3, unit).size('S', 1, 'T').text("x");
    EXPECT_EQ(entry('T', 1, b.e), "EntryTitle \"x\" / border=true borderattrs=(thickness=2)" +
                                      (text.empty() ? "" : " " + text) + ";")
        << unit;
  }
  // Without a border, spacing pads the side away from the graph; centred
  // justification also centres the entry on the graph.
  EntryBuilder t;
  t.attr('J', "C").size('S', 2).text("x");
  EXPECT_EQ(entry('T', 2, t.e),
            "EntryTitle \"x\" / halign=center textattrs=(size=GraphLabelText:fontsize) "
            "halignCenter=Graph pad=(top=5.4pct);");
  EntryBuilder f;
  f.size('S', 4, 'T').size('B', 0).text("x");
  EXPECT_EQ(entry('F', 1, f.e), "EntryFootnote \"x\" / pad=(bottom=4pt);");
  // A box given after the first segment belongs to the segment block,
  // which writes no box.
  EntryBuilder late;
  late.text("x").size('B', 1).text("y");
  EXPECT_EQ(entry('T', 1, late.e), "EntryTitle \"x\" \"y\" /;");
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
