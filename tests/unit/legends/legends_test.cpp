#include "module/legends/legends.h"

#include "support.h"

namespace qv::test {
namespace {

using module::parseGradLegend;
using module::parseLegend;

const std::string kAmp = "(*ESC*){unicode '0026'x}";
const std::string kQuote = "(*ESC*){unicode '0022'x}";

class KeyLegendTest : public TranslatorTest {
 protected:
  // Registers a plot in the plot-name table with its marker.
  void reg(const std::string& name, const std::string& marker) {
    EXPECT_EQ(names.put(name, str(marker)), 0);
  }
  std::string key(const std::string& stmt, int count = 1, int index = 0) {
    EXPECT_EQ(parseLegend(parse(stmt), &plot, &out, count, index), host::kOk);
    return take();
  }
};

TEST_F(KeyLegendTest, NamesListedOrRegistered) {
  // Nothing registered and nothing listed: no text at all.
  EXPECT_EQ(key("KEYLEGEND"), "");
  // Listed names are written even when no plot has them.
  EXPECT_EQ(key("KEYLEGEND \"ghost\""), "DiscreteLegend \"ghost\" /;");

  reg("a", "<Empty>");
  reg("b", "<Group>");
  EXPECT_EQ(key("KEYLEGEND"), "DiscreteLegend \"a\" \"b\" /;");
  // Listed order wins over table order.
  EXPECT_EQ(key("KEYLEGEND \"b\" \"a\""), "DiscreteLegend \"b\" \"a\" /;");
  // A listed name also brings every plot whose marker is that same host
  // string; the table's markers may equally be held as plain texts.
  EXPECT_EQ(names.put("c", std::string("<Group>")), 0);
  EXPECT_EQ(key("KEYLEGEND \"<Group>\" \"a\""),
            "DiscreteLegend \"<Group>\" \"b\" \"c\" \"a\" /;");
  EXPECT_TRUE(fake.logLines.empty());
}

TEST_F(KeyLegendTest, NoNamedPlotFailsWithTheLiteralLine) {
  reg("", "<Empty>");
  const host::Statement& node = parse("KEYLEGEND / TITLE=\"t\"");
  EXPECT_EQ(parseLegend(node, &plot, &out, 1, 0), host::kUserError);
  EXPECT_EQ(take(), "DiscreteLegend \"\";");
  ASSERT_EQ(fake.logLines.size(), 1u);
  EXPECT_EQ(fake.logLines[0],
            "%1zKEYLEGEND statement failed. NAME= is required on at least one PLOT statement "
            "and the KEYLEGEND statement.");
  // Naming the plot on the statement is enough.
  EXPECT_EQ(key("KEYLEGEND \"x\""), "DiscreteLegend \"x\" /;");
}

TEST_F(KeyLegendTest, TitleFromTitleOptionOrGroupLabel) {
  plot.groupVarNumber = 3;
  plot.legendTitle = str("Region");
  reg("s", "<Group>");
  EXPECT_EQ(key("KEYLEGEND"), "DiscreteLegend \"s\" / Title=\"Region\";");
  // TITLE= is escaped and replaces the group label.
  EXPECT_EQ(key("KEYLEGEND / TITLE=\"Sales & \"\"more\"\"\""),
            "DiscreteLegend \"s\" / Title=\"Sales " + kAmp + " " + kQuote + "more" + kQuote +
                "\";");
  // The group label itself is escaped too.
  plot.legendTitle = str("50% share");
  EXPECT_EQ(key("KEYLEGEND"),
            "DiscreteLegend \"s\" / Title=\"50(*ESC*){unicode '0025'x} share\";");
  // Listed names, no group variable, or a second plot: no group label.
  EXPECT_EQ(key("KEYLEGEND \"s\""), "DiscreteLegend \"s\" /;");
  plot.groupVarNumber = 0;
  EXPECT_EQ(key("KEYLEGEND"), "DiscreteLegend \"s\" /;");
  plot.groupVarNumber = 3;
  reg("t", "<Group>");
  EXPECT_EQ(key("KEYLEGEND"), "DiscreteLegend \"s\" \"t\" /;");
}

TEST_F(KeyLegendTest, PlacementBySeveralStatements) {
  reg("a", "<Empty>");
  EXPECT_EQ(key("KEYLEGEND", 1, 0), "DiscreteLegend \"a\" /;");
  const char* places[] = {" valign=bottom", " halign=right across=1", " halign=left across=1",
                          " valign=top", ""};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(key("KEYLEGEND", 5, i), std::string("DiscreteLegend \"a\" /") + places[i] + ";");
}

TEST_F(KeyLegendTest, TitleAndValueAttributes) {
  reg("a", "<Empty>");
  EXPECT_EQ(key("KEYLEGEND / TITLEATTRS=(SIZE=12PT WEIGHT=BOLD)"),
            "DiscreteLegend \"a\" / TitleAttrs=( Size=12pt Weight=bold);");
  EXPECT_EQ(key("KEYLEGEND / TITLEATTRS=GraphTitleText"),
            "DiscreteLegend \"a\" / TitleAttrs=GraphTitleText;");
  // Overrides in the fixed order whatever the written order; size before
  // family; every unit code has its text.
  EXPECT_EQ(key("KEYLEGEND / TITLE=\"T\" TITLEATTRS=GraphTitleText(STYLE=ITALIC FAMILY=\"Arial\" "
                "WEIGHT=NORMAL SIZE=1.5 COLOR=blue) VALUEATTRS=(SIZE=10PX STYLE=NORMAL) "
                "AUTOITEMSIZE"),
            "DiscreteLegend \"a\" / Title=\"T\" TitleAttrs=GraphTitleText( Color=CX0000FF "
            "Size=1.5 Family=\"Arial\" Weight=normal Style=italic) ValueAttrs=( Size=10px "
            "Style=normal) AutoItemSize=true;");
  EXPECT_EQ(key("KEYLEGEND / VALUEATTRS=(SIZE=2PCT)"),
            "DiscreteLegend \"a\" / ValueAttrs=( Size=2%);");
  // A color that is not one is reported and written gray.
  EXPECT_EQ(key("KEYLEGEND / TITLEATTRS=(COLOR=nosuchcolor)"),
            "DiscreteLegend \"a\" / TitleAttrs=( Color=CX808080);");
  ASSERT_EQ(fake.messages.size(), 1u);
  EXPECT_EQ(fake.messages[0].number, 79);
}

TEST_F(KeyLegendTest, DoubleQuotesInNamesCannotBreakTheTemplate) {
  reg("say \"hi\" & go", "<Empty>");
  reg("Sales & Costs", "<Empty>");
  // An ordinary name stays as the plot wrote it; one with a double quote is
  // escaped, as is a family with one.
  EXPECT_EQ(key("KEYLEGEND / VALUEATTRS=(FAMILY='My \"Font\"')"),
            "DiscreteLegend \"say " + kQuote + "hi" + kQuote + " " + kAmp +
                " go\" \"Sales & Costs\" / ValueAttrs=( Family=\"My " + kQuote + "Font" +
                kQuote + "\");");
}

class GradLegendTest : public TranslatorTest {
 protected:
  std::string grad(const std::string& stmt) {
    EXPECT_EQ(parseGradLegend(parse(stmt), &plot, &out, 1, 0), host::kOk);
    return take();
  }
};

TEST_F(GradLegendTest, OneLegendPerChosenPlot) {
  EXPECT_EQ(grad("GRADLEGEND / POSITION=BOTTOM"), "");
  EXPECT_EQ(cont.put("p", str("Rate")), 0);
  EXPECT_EQ(grad("GRADLEGEND / POSITION=BOTTOM"),
            "ContinuousLegend \"p\" / Location=Outside valign=bottom orient=horizontal "
            "title=\"Rate\";");
  EXPECT_EQ(cont.put("q", std::string("Income & tax")), 0);
  EXPECT_EQ(cont.put("r", str("Age")), 0);
  EXPECT_EQ(grad("GRADLEGEND / POSITION=RIGHT"),
            "ContinuousLegend \"p\" / Location=Outside halign=right title=\"Rate\";"
            "ContinuousLegend \"q\" / Location=Outside halign=right title=\"Income " +
                kAmp +
                " tax\";"
                "ContinuousLegend \"r\" / Location=Outside halign=right title=\"Age\";");
  // A named plot: only that one; an unregistered name still gets its legend.
  EXPECT_EQ(grad("GRADLEGEND \"r\" / POSITION=TOP"),
            "ContinuousLegend \"r\" / Location=Outside valign=top orient=horizontal "
            "title=\"Age\";");
  EXPECT_EQ(grad("GRADLEGEND \"zz\" / POSITION=W"),
            "ContinuousLegend \"zz\" / Location=Outside halign=left;");
}

TEST_F(GradLegendTest, TitlesFlagsAndAttributes) {
  EXPECT_EQ(cont.put("p", str("Rate")), 0);
  EXPECT_EQ(grad("GRADLEGEND / POSITION=LEFT NOTITLE"),
            "ContinuousLegend \"p\" / Location=Outside halign=left;");
  // TITLE= wins over NOTITLE and over the default title.
  EXPECT_EQ(grad("GRADLEGEND / NOTITLE TITLE=\"a%b\""),
            "ContinuousLegend \"p\" / Location=Outside Title=\"a(*ESC*){unicode '0025'x}b\";");
  EXPECT_EQ(grad("GRADLEGEND / POSITION=S BORDER NOBORDER INTEGER EXTRACTSCALE "
                 "TITLEATTRS=(WEIGHT=BOLD SIZE=9PT)"),
            "ContinuousLegend \"p\" / Location=Outside valign=bottom orient=horizontal "
            "title=\"Rate\" TitleAttrs=( Size=9pt Weight=bold) extractscale=true "
            "Integer=true Border=true;");
  EXPECT_EQ(grad("GRADLEGEND / NOBORDER"),
            "ContinuousLegend \"p\" / Location=Outside title=\"Rate\" Border=false;");
  // A plot registered without a title text gets none.
  EXPECT_EQ(cont.put("p", host::Value{}), 0);
  EXPECT_EQ(grad("GRADLEGEND"), "ContinuousLegend \"p\" / Location=Outside;");
}

}  // namespace
}  // namespace qv::test
