#include "module/legends/legends.h"

#include "support.h"

namespace qv::test {
namespace {

using module::parseGradLegend;
using module::parseLegend;

const std::string kAmp = "(*ESC*){unicode '0026'x}";

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

// The end-to-end legends case pins listed order, a marker name bringing
// its plots, the group label, placement among three statements, the
// attribute groups and the failure without names, and module_legend_attrs
// the escaped names and families and a color that is none; these are the
// rest.
TEST_F(KeyLegendTest, NamesTitlesAndPlacement) {
  // Nothing registered and nothing listed: no text at all.
  EXPECT_EQ(key("KEYLEGEND"), "");
  // Listed names are written even when no plot has them.
  EXPECT_EQ(key("KEYLEGEND \"ghost\""), "DiscreteLegend \"ghost\" /;");
  // The table's markers may equally be held as plain texts.
  reg("a", "<Empty>");
  EXPECT_EQ(names.put("c", std::string("<Group>")), 0);
  EXPECT_EQ(key("KEYLEGEND \"<Group>\" \"a\""), "DiscreteLegend \"<Group>\" \"c\" \"a\" /;");

  // The group label is escaped; listed names, no group variable, or a
  // second grouped plot: no group label.
  names.clear();
  reg("s", "<Group>");
  plot.groupVarNumber = 3;
  plot.legendTitle = str("50% share");
  EXPECT_EQ(key("KEYLEGEND"),
            "DiscreteLegend \"s\" / Title=\"50(*ESC*){unicode '0025'x} share\";");
  EXPECT_EQ(key("KEYLEGEND \"s\""), "DiscreteLegend \"s\" /;");
  plot.groupVarNumber = 0;
  EXPECT_EQ(key("KEYLEGEND"), "DiscreteLegend \"s\" /;");
  plot.groupVarNumber = 3;
  reg("t", "<Group>");
  EXPECT_EQ(key("KEYLEGEND"), "DiscreteLegend \"s\" \"t\" /;");

  // Placement among five statements: the fifth has none.
  const char* places[] = {" valign=bottom", " halign=right across=1", " halign=left across=1",
                          " valign=top", ""};
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(key("KEYLEGEND \"a\"", 5, i), std::string("DiscreteLegend \"a\" /") + places[i] + ";");
  EXPECT_TRUE(fake.logLines.empty());
}

class GradLegendTest : public TranslatorTest {
 protected:
  std::string grad(const std::string& stmt) {
    EXPECT_EQ(parseGradLegend(parse(stmt), &plot, &out, 1, 0), host::kOk);
    return take();
  }
};

// One legend per continuous plot, the named one, TITLE= over NOTITLE and
// the flags are pinned by the end-to-end legends case.
TEST_F(GradLegendTest, PlotsTitlesAndFlags) {
  EXPECT_EQ(grad("GRADLEGEND / POSITION=BOTTOM"), "");
  EXPECT_EQ(cont.put("p", str("Rate")), 0);
  EXPECT_EQ(cont.put("q", std::string("Income & tax")), 0);
  EXPECT_EQ(grad("GRADLEGEND / POSITION=TOP BORDER NOBORDER"),
            "ContinuousLegend \"p\" / Location=Outside valign=top orient=horizontal "
            "title=\"Rate\" Border=true;"
            "ContinuousLegend \"q\" / Location=Outside valign=top orient=horizontal "
            "title=\"Income " + kAmp + " tax\" Border=true;");
  // An unregistered name still gets its legend.
  EXPECT_EQ(grad("GRADLEGEND \"zz\" / POSITION=W"),
            "ContinuousLegend \"zz\" / Location=Outside halign=left;");
  // A plot registered without a title text gets none.
  EXPECT_EQ(cont.put("p", host::Value{}), 0);
  EXPECT_EQ(grad("GRADLEGEND \"p\" / NOTITLE"), "ContinuousLegend \"p\" / Location=Outside;");
}

}  // namespace
}  // namespace qv::test
