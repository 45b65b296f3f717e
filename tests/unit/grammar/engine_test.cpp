#include <gtest/gtest.h>

#include "support.h"

namespace qv::test {
namespace {

using host::Slot;
using host::Statement;
using host::StatementList;
namespace Flag = module::Flag;
using module::Opt;
using module::Stmt;

class Engine : public ::testing::Test {
 protected:
  FakeEnv env;
  StatementList list;

  void SetUp() override {
    env.add("pts", "lon lat pop name $city kind link a1 a2 a3 b $c d");
    env.add("maps", "ID SEGMENT LONG LAT state");
    env.add("resp", "fips pop $region rate link");
  }
  // Parses the program; the PROC statement is added in front unless given.
  void parse(std::string program, int trace = 0) {
    if (program.rfind("PROC", 0) != 0)
      program = "PROC TAVLO PLOTDATA=pts MAPDATA=maps MAPRESPDATA=resp;\n" + program;
    ASSERT_EQ(rt::parseStatements(module::tavloGrammar(), lex(program), env, trace, &list), 0);
    EXPECT_EQ(list.errors, static_cast<int>(env.errors.size()));
  }
  const Statement& node(size_t i) { return list.nodes.at(i); }
  const Slot& slot(size_t i, Opt o) { return node(i).slot(o); }
  void expectClean() { EXPECT_EQ(list.errors, 0) << env.allErrors(); }
};

TEST_F(Engine, TileStatementsAndAliases) {
  parse("osm; ESRI URL='http://tiles/{z}'; OPENSTREETMAP; EsriMap url=\"u\";");
  expectClean();
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(node(1).keyword, "OSM");
  EXPECT_STREQ(node(1).name, "OPENSTREETMAP");
  EXPECT_EQ(node(1).statement, static_cast<int>(Stmt::OpenStreetMap));
  EXPECT_EQ(node(2).keyword, "ESRI");
  EXPECT_EQ(node(2).statement, static_cast<int>(Stmt::EsriMap));
  EXPECT_EQ(slot(2, Opt::EsriUrl).kind, host::kSlotText);
  EXPECT_EQ(slot(2, Opt::EsriUrl).text, "http://tiles/{z}");

}

TEST_F(Engine, EnumerationsAndRanges) {
  parse("CHOROMAP / DENSITY=HI; CHOROMAP / den=l; CHOROMAP / DENS=Medium;\n"
        "CHOROMAP / DENSITY=0 LEVELTYPE=QUANTILE NUMLEVELS=5;\n"
        "SCATTER X=lon Y=lat / TRANSPARENCY=1 DATALABELPOS=TOPRIGHT;\n"
        "TEXT X=lon Y=lat TEXT=name / BACKLIGHT=0.5 POSITION=nw SPLITPOLICY=SPLITALWAYS;");
  expectClean();
  EXPECT_EQ(slot(1, Opt::Density).kind, host::kSlotEnum);
  EXPECT_EQ(slot(1, Opt::Density).number, 6);
  EXPECT_EQ(slot(2, Opt::Density).number, 1);
  EXPECT_EQ(slot(3, Opt::Density).number, 3);
  EXPECT_EQ(slot(4, Opt::Density).number, 0);
  EXPECT_TRUE(slot(4, Opt::Density).present());
  EXPECT_EQ(slot(4, Opt::LevelType).number, module::Code::LevelQuantile);
  EXPECT_EQ(slot(4, Opt::NumLevels).number, 5);
  EXPECT_EQ(slot(5, Opt::Transparency).number, 1);
  EXPECT_EQ(slot(5, Opt::DataLabelPos).number, 7);
  EXPECT_TRUE(node(6).flag(Flag::Backlight));
  EXPECT_EQ(slot(6, Opt::Backlight).number, 0.5);
  EXPECT_EQ(slot(6, Opt::Position).kind, host::kSlotEnum);
  EXPECT_EQ(slot(6, Opt::Position).number, module::Code::TopLeft);
  EXPECT_EQ(slot(6, Opt::SplitPolicy).number, 3);
}

TEST_F(Engine, LeadingOperands) {
  parse("BUBBLE SIZE=pop Y=lat X=lon;\nTEXT TEXT=name X=lon Y=lat;\n"
        "CHOROMAP rate;\nKEYLEGEND 'a' \"b\" / TITLE='Key';\nGRADLEGEND 'p';");
  expectClean();
  EXPECT_EQ(slot(1, Opt::X).var.number, 0);
  EXPECT_EQ(slot(1, Opt::Y).var.number, 1);
  EXPECT_EQ(slot(1, Opt::Size).var.number, 2);
  EXPECT_TRUE(slot(1, Opt::Size).isVariable());
  EXPECT_EQ(slot(2, Opt::TextVar).var.name, "name");
  EXPECT_EQ(slot(3, Opt::Response).var.number, 3);
  EXPECT_EQ(slot(3, Opt::Response).var.source, host::VarSource::MapRespData);
  ASSERT_EQ(slot(4, Opt::LegendNames).list.size(), 2u);
  EXPECT_EQ(slot(4, Opt::LegendNames).list[1].text, "b");
  EXPECT_EQ(slot(4, Opt::Title).text, "Key");
  EXPECT_EQ(slot(5, Opt::LegendPlot).text, "p");
}

TEST_F(Engine, ListsPadAndUnits) {
  parse("STYLEATTRS DATALINEPATTERNS=(DASH 3 SOLID) DATACOLORS=(red 'CX00FF00' \"very light blue\")"
        " DATASYMBOLS=(circle star) BACKCOLOR=white;\n"
        "TEXT X=lon Y=lat TEXT=name / PAD=5PCT SIZEMIN=3 in SIZEMAX=5% ROTATE=-45;\n"
        "TEXT X=lon Y=lat TEXT=name / PAD=(LEFT=2MM TOP=1) ROTATE=pop POSITION=kind;\n"
        "BUBBLE X=lon Y=lat SIZE=pop / BRADIUSMIN=2 BRADIUSMAX=10PX;\n"
        "SCATTER X=lon Y=lat / CONTRIBUTEOFFSETS=(TOP LEFT) COLORMODEL=(red 'blue');\n"
        "SCATTER X=lon Y=lat / CONTRIBUTEOFFSETS=NONE COLORMODEL=TwoColorRamp;");
  expectClean();
  const Slot& pat = slot(1, Opt::DataLinePatterns);
  ASSERT_EQ(pat.kind, host::kSlotList);
  ASSERT_EQ(pat.list.size(), 3u);
  EXPECT_EQ(pat.list[0].number, 20);
  EXPECT_EQ(pat.list[1].number, 3);
  EXPECT_EQ(pat.list[2].number, 1);
  const Slot& colors = slot(1, Opt::DataColors);
  ASSERT_EQ(colors.list.size(), 3u);
  EXPECT_EQ(colors.list[0].kind, host::kSlotName);
  EXPECT_EQ(colors.list[2].kind, host::kSlotText);
  EXPECT_EQ(colors.list[2].text, "very light blue");
  EXPECT_EQ(slot(1, Opt::BackColor).text, "white");

  EXPECT_EQ(slot(2, Opt::Pad).kind, host::kSlotNumber);
  EXPECT_EQ(slot(2, Opt::Pad).number, 5);
  EXPECT_EQ(slot(2, Opt::Pad).unit, module::Code::Pct);
  EXPECT_EQ(slot(2, Opt::SizeMin).unit, module::Code::In);
  EXPECT_EQ(slot(2, Opt::SizeMax).unit, module::Code::Pct);
  EXPECT_EQ(slot(2, Opt::Rotate).number, -45);

  const Slot& pad = slot(3, Opt::Pad);
  ASSERT_EQ(pad.kind, host::kSlotSides);
  EXPECT_EQ(pad.list[host::kPadLeft].number, 2);
  EXPECT_EQ(pad.list[host::kPadLeft].unit, module::Code::Mm);
  EXPECT_EQ(pad.list[host::kPadTop].number, 1);
  EXPECT_EQ(pad.list[host::kPadTop].unit, 0);
  EXPECT_FALSE(pad.list[host::kPadRight].present());
  EXPECT_FALSE(pad.list[host::kPadBottom].present());
  EXPECT_TRUE(slot(3, Opt::Rotate).isVariable());
  EXPECT_EQ(slot(3, Opt::Position).var.name, "kind");

  EXPECT_EQ(slot(4, Opt::BRadiusMin).unit, 0);
  EXPECT_EQ(slot(4, Opt::BRadiusMax).unit, module::Code::Px);
  const Slot& off = slot(5, Opt::ContributeOffsets);
  ASSERT_EQ(off.kind, host::kSlotList);
  EXPECT_EQ(off.list[0].number, module::Code::OffsetTop);
  EXPECT_EQ(off.list[1].number, module::Code::OffsetLeft);
  EXPECT_EQ(slot(5, Opt::ColorModel).list.size(), 2u);
  EXPECT_EQ(slot(6, Opt::ContributeOffsets).kind, host::kSlotEnum);
  EXPECT_EQ(slot(6, Opt::ContributeOffsets).number, module::Code::OffsetsNone);
  EXPECT_EQ(slot(6, Opt::ColorModel).kind, host::kSlotName);

  // DISCRETEOFFSET= also takes date, time and datetime literals.
  parse("TEXT X=lon Y=lat TEXT=name / DISCRETEOFFSET='01jan2020'd;");
  expectClean();
  EXPECT_EQ(slot(1, Opt::DiscreteOffset).number, 21915);
}

// The messages of a program full of mistakes are pinned by the bad-input
// case module_syntax_recovery; here what parsing keeps after each error, and
// the two refusals a program read by the command never reaches.
TEST_F(Engine, ParsingGoesOnAfterErrors) {
  parse("SCATTER X=lon Y=lat / TRANSPARENCY=1.5 FOO=3 NAME='s';\n"
        "BUBBLE X=lon Y=lat SIZE=pop / DENSITY=3 MARKERATTRS=(SIZE=2);\n"
        "SCATTER X=lon Y=lat / MARKERATTRS=(SIZE=big TRANSPARENCY=0.5) TRANSPARENCY=0.2;\n"
        "SCATTER X=lon Y=lat / MARKERATTRS=(SIZE=3 NAME='x';\n"
        "NOSUCH a b;\n"
        "TAVLO PLOTDATA=pts;\n"
        "BUBBLE X=lon Y=lat / NAME='b';");
  ASSERT_EQ(list.errors, 9) << env.allErrors();
  EXPECT_EQ(slot(1, Opt::Name).text, "s");
  // the TRANSPARENCY= inside the parentheses is not taken for the option
  EXPECT_EQ(slot(3, Opt::Transparency).number, 0.2);
  EXPECT_EQ(slot(4, Opt::Name).text, "x");
  EXPECT_EQ(slot(5, Opt::Name).text, "b");
  EXPECT_EQ(list.size(), 6u);  // unknown and misplaced statements make no node

  // Without MAPRESPDATA= the CHOROMAP variables come from MAPDATA=.
  env.errors.clear();
  parse("PROC TAVLO MAPDATA=maps; CHOROMAP state / ID=ID TIP=(LONG--state);");
  expectClean();
  EXPECT_EQ(slot(1, Opt::Response).var.source, host::VarSource::MapData);
  EXPECT_EQ(slot(1, Opt::Tip).list.size(), 3u);
  // A data set that cannot be opened is reported once, and the options
  // after it are still read.
  env.errors.clear();
  parse("PROC TAVLO PLOTDATA=nope NOAUTOLEGEND; SCATTER X=lon Y=lat / GROUP=x;");
  EXPECT_EQ(list.errors, 1) << env.allErrors();
  EXPECT_TRUE(node(0).flag(Flag::NoAutoLegend));

  list.clear();
  env.errors.clear();
  parse("PROC FOO;");
  EXPECT_NE(env.errors.at(0).msg.find("unknown procedure FOO"), std::string::npos);
  env.errors.clear();
  auto noProc = lex("SCATTER X=lon Y=lat;");
  ASSERT_EQ(rt::parseStatements(module::tavloGrammar(), noProc, env, 0, &list), 0);
  EXPECT_NE(env.errors.at(0).msg.find("expected the PROC TAVLO statement first"),
            std::string::npos);
}

TEST_F(Engine, NameLiteralsFollowVarNames) {
  env.add("odd", "lon lat");
  env.sets["ODD"].vars.push_back({"my var", true});
  parse("PROC TAVLO PLOTDATA=odd; SCATTER X='lon'n Y=lat / GROUP='my var'n;");
  ASSERT_EQ(list.errors, 1);
  EXPECT_NE(env.errors[0].msg.find("'my var'n is not a valid variable name"), std::string::npos);
  EXPECT_TRUE(slot(1, Opt::X).var.literal);
  EXPECT_EQ(slot(1, Opt::X).var.number, 0);

  env.errors.clear();
  env.any = true;
  parse("PROC TAVLO PLOTDATA=odd; SCATTER X=lon Y=lat / GROUP='my var'n;");
  expectClean();
  EXPECT_EQ(slot(1, Opt::Group).var.number, 2);
  EXPECT_TRUE(slot(1, Opt::Group).var.literal);
}

TEST_F(Engine, TipVariableLists) {
  auto names = [&](size_t i) {
    std::string s;
    for (const Slot& e : slot(i, Opt::Tip).list)
      s += e.var.name + "#" + std::to_string(e.var.number) + " ";
    return s;
  };
  parse("SCATTER X=lon Y=lat / TIP=(a1-a3 city);\nSCATTER X=lon Y=lat / TIP=(a3--c);\n"
        "SCATTER X=lon Y=lat / TIP=(a1-numeric-d);\nSCATTER X=lon Y=lat / TIP=(name-character-d);\n"
        "SCATTER X=lon Y=lat / TIP=(a: _character_);");
  expectClean();
  EXPECT_EQ(names(1), "a1#7 a2#8 a3#9 city#4 ");
  EXPECT_EQ(names(2), "a3#9 b#10 c#11 ");
  EXPECT_EQ(names(3), "a1#7 a2#8 a3#9 b#10 d#12 ");
  EXPECT_EQ(names(4), "city#4 c#11 ");
  EXPECT_EQ(names(5), "a1#7 a2#8 a3#9 city#4 c#11 ");
}

TEST_F(Engine, AttributeGroupsWithOverridesInAnyOrder) {
  parse("TEXT X=lon Y=lat TEXT=name / TEXTATTRS=GraphLabelText(STYLE=ITALIC COLOR='red' "
        "WEIGHT=BOLD FAMILY='Arial' SIZE=10pt) FILLATTRS=(TRANSPARENCY=0.5 COLOR=red);\n"
        "SERIES X=lon Y=lat / LINEATTRS=(THICKNESS=2 PATTERN=dashdotdot COLOR=blue);\n"
        "SCATTER X=lon Y=lat / MARKERATTRS=(SIZE=5 SYMBOL='circle' SIZE=6);");
  expectClean();
  const Slot& t = slot(1, Opt::TextAttrs);
  EXPECT_EQ(t.kind, host::kSlotGroup);
  EXPECT_EQ(t.text, "GraphLabelText");
  EXPECT_EQ(t.attr(host::kAttrStyle).number, 2);
  EXPECT_EQ(t.attr(host::kAttrWeight).number, 2);
  EXPECT_EQ(t.attr(host::kAttrColor).kind, host::kSlotText);
  EXPECT_EQ(t.attr(host::kAttrFamily).text, "Arial");
  EXPECT_EQ(t.attr(host::kAttrSize).number, 10);
  EXPECT_EQ(t.attr(host::kAttrSize).unit, module::Code::Pt);
  EXPECT_FALSE(t.attr(host::kAttrThickness).present());
  const Slot& f = slot(1, Opt::FillAttrs);
  EXPECT_EQ(f.text, "");
  EXPECT_EQ(f.attr(host::kAttrTransparency).number, 0.5);
  EXPECT_EQ(f.attr(host::kAttrColor).text, "red");
  EXPECT_EQ(slot(2, Opt::LineAttrs).attr(host::kAttrPattern).number, 15);
  EXPECT_EQ(slot(2, Opt::LineAttrs).attr(host::kAttrThickness).number, 2);
  EXPECT_EQ(slot(3, Opt::MarkerAttrs).attr(host::kAttrSize).number, 6);  // the last one given
}

TEST_F(Engine, TraceLines) {
  parse("SCATTER X=lon Y=lat / TRANSPARENCY=0.5 NOMISSINGGROUP;",
        rt::kTraceSyntax | rt::kTraceSemantic);
  auto has = [&](const std::string& s) {
    for (auto& t : env.traces)
      if (t.find(s) != std::string::npos) return true;
    return false;
  };
  EXPECT_TRUE(has("SYN: statement SCATTER"));
  EXPECT_TRUE(has("SYN: token Name TRANSPARENCY at 2:23"));
  EXPECT_TRUE(has("SEM: set TRANSPARENCY=0.5"));
  EXPECT_TRUE(has("SEM: set flag NOMISSINGGROUP"));
  env.traces.clear();
  parse("SCATTER X=lon Y=lat;", rt::kTraceSemantic);
  EXPECT_FALSE(env.traces.empty());
  for (auto& t : env.traces) EXPECT_EQ(t.rfind("SEM: ", 0), 0u) << t;
}

}  // namespace
}  // namespace qv::test
