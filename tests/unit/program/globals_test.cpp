#include <gtest/gtest.h>

#include <fstream>

#include "runtime/program/globals.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;

namespace {

Statement stmt(const std::string& text) {
  StatementReader r(text, "g.qv");
  Statement s;
  EXPECT_TRUE(r.next(s));
  return s;
}

std::string attrList(const qv::host::TitleEntry& e) {
  std::string s;
  for (const auto& a : e.attrs) {
    if (!s.empty()) s += ' ';
    s += a.kind;
    if (a.kind == 'T') s += "(" + std::to_string(a.offset) + "," + std::to_string(a.length) + ")";
    else if (a.kind == 'H' || a.kind == 'W' || a.kind == 'S' || a.kind == 'B') s += ":" + std::to_string(static_cast<int>(a.number));
    else if (!a.text.empty()) s += ":" + a.text;
  }
  return s;
}

}  // namespace

TEST(Globals, Library) {
  LibraryAssignment a = parseLibrary(stmt("libname maps 'data/maps';"));
  EXPECT_EQ(a.name, "maps");
  EXPECT_EQ(a.dir, "data/maps");
}

TEST(Globals, OptionsApplyAndReport) {
  OptionValues s;
  applyOptions(s, parseOptions(stmt(
      "options varnames=any missing='-' nldecseparator debug='qortavlo syn' graphwidth=800px "
      "GraphHeight=600 graphformat=svg tileurl='file:///t/{z}/{x}/{y}.png' colornames='c.csv' "
      "mapprojection=' +proj=robin +lon_0=10 ' nobyline labeloverlap='move';")));
  EXPECT_TRUE(anyVarNames(s));
  EXPECT_EQ(s.text(GlobalOpt::Missing), "-");
  EXPECT_TRUE(s.on(GlobalOpt::NlDecSeparator));
  EXPECT_EQ(s.text(GlobalOpt::Debug), "qortavlo syn");
  EXPECT_EQ(s.integer(GlobalOpt::GraphWidth), 800);
  EXPECT_EQ(s.integer(GlobalOpt::GraphHeight), 600);
  EXPECT_EQ(s.text(GlobalOpt::GraphFormat), "SVG");
  EXPECT_EQ(s.text(GlobalOpt::TileUrl), "file:///t/{z}/{x}/{y}.png");
  EXPECT_EQ(s.text(GlobalOpt::ColorNames), "c.csv");
  EXPECT_EQ(s.choice(GlobalOpt::LabelOverlap), 2);
  // A PROJ definition is kept as written, without the blanks around it.
  EXPECT_EQ(s.text(GlobalOpt::MapProjection), "+proj=robin +lon_0=10");
  // The procedure's questions by name: texts, switches by either name.
  EXPECT_EQ(s.textNamed("varnames"), "ANY");
  EXPECT_EQ(s.textNamed("GRAPHWIDTH"), "800");
  EXPECT_EQ(s.textNamed("nonldecseparator"), "NLDECSEPARATOR");
  EXPECT_EQ(s.switchNamed("NONLDECSEPARATOR"), false);
  EXPECT_EQ(s.switchNamed("NOBYLINE"), true);
  EXPECT_FALSE(s.switchNamed("DEBUG").has_value());
  EXPECT_FALSE(s.textNamed("nosuch").has_value());
  EXPECT_TRUE(s.setSwitchNamed("nonldecseparator", true));
  EXPECT_FALSE(s.on(GlobalOpt::NlDecSeparator));
  EXPECT_FALSE(s.setSwitchNamed("MISSING", true));
  applyOptions(s, parseOptions(stmt("options missing=. varnames=strict byline;")));
  EXPECT_FALSE(anyVarNames(s));
  EXPECT_EQ(s.text(GlobalOpt::Missing), ".");
  EXPECT_EQ(s.spelled(GlobalOpt::ByLine), "BYLINE");
  // The projection names in any letter case, bare or quoted; blank is AUTO.
  applyOptions(s, parseOptions(stmt("options mapprojection=albersUSA;")));
  EXPECT_EQ(s.textNamed("MAPPROJECTION"), "ALBERSUSA");
  applyOptions(s, parseOptions(stmt("options mapprojection=' EqualEarth';")));
  EXPECT_EQ(s.text(GlobalOpt::MapProjection), "EQUALEARTH");
  applyOptions(s, parseOptions(stmt("options mapprojection=' ' colornames=Css;")));
  EXPECT_EQ(s.text(GlobalOpt::MapProjection), "AUTO");
  EXPECT_EQ(s.text(GlobalOpt::ColorNames), "CSS");
  // The kind of map file and the PNG density, at the ends of their ranges.
  applyOptions(s, parseOptions(stmt("options output=Html graphdpi=2400;")));
  EXPECT_EQ(s.text(GlobalOpt::Output), "HTML");
  EXPECT_EQ(s.number(GlobalOpt::GraphDpi), 2400);
  applyOptions(s, parseOptions(stmt("options output='pdf' graphdpi=24.5;")));
  EXPECT_EQ(s.textNamed("output"), "PDF");
  EXPECT_EQ(s.spelled(GlobalOpt::GraphDpi), "GRAPHDPI=24.5");
}

// A bad setting anywhere leaves every setting of the statement unapplied.
TEST(Globals, OptionStatementAppliesWholeOrNotAtAll) {
  OptionValues s;
  EXPECT_THROW(applyOptions(s, parseOptions(stmt("options graphwidth=100 graphheight=-1;"))), UserError);
  EXPECT_EQ(s.integer(GlobalOpt::GraphWidth), 640);
  // Multi-byte missing character counts as one.
  EXPECT_EQ(parseOptions(stmt("options missing='\xC2\xB7';"))[0].value.text, "\xC2\xB7");
}

// The forms of value the options to come take, in rows of their shape: a
// word of several, a word or a number, a list of numbers in parentheses, a
// whole number from 0, a quoted stem.
TEST(Globals, OptionFormsForLaterOptions) {
  constexpr GlobalOptionDef kLater[] = {
      {.name = "SCALEBAR", .form = OptForm::Word,
       .words = "NONE|TOPLEFT|TOPRIGHT|BOTTOMLEFT|BOTTOMRIGHT"},
      {.name = "GRATICULE", .form = OptForm::WordOrNumber, .words = "NONE|AUTO", .min = 0.5,
       .max = 90, .what = "a number of degrees"},
      {.name = "MAPEXTENT", .form = OptForm::Numbers, .min = -180, .max = 180, .count = 4},
      {.name = "BYPANELS", .form = OptForm::Integer, .min = 0, .max = 100},
      {.name = "OUTNAME", .form = OptForm::Quoted, .what = "a quoted file name stem"},
  };
  auto parse = [&](const std::string& text) { return parseOptions(stmt(text), kLater); };
  const auto list = parse(
      "options scalebar='topRight' graticule=auto mapextent=(-125 24.5 -66.5 +50) bypanels=0 "
      "outname='us' graticule=7.5;");
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0].value.text, "TOPRIGHT");
  EXPECT_EQ(list[1].value.text, "AUTO");
  EXPECT_EQ(list[2].value.numbers, (std::vector<double>{-125, 24.5, -66.5, 50}));
  EXPECT_EQ(list[3].value.number, 0);
  EXPECT_EQ(list[4].value.text, "us");
  EXPECT_EQ(list[5].value.text, "");
  EXPECT_EQ(list[5].value.number, 7.5);
  auto refusal = [&](const std::string& text) {
    return qv::rt::testing::errorOf([&] { parse(text); });
  };
  EXPECT_EQ(refusal("options scalebar=top;"),
            "g.qv, line 1, column 18: Invalid value top for option SCALEBAR: NONE, TOPLEFT, "
            "TOPRIGHT, BOTTOMLEFT or BOTTOMRIGHT is expected");
  EXPECT_EQ(refusal("options graticule=95;"),
            "g.qv, line 1, column 19: Invalid value 95 for option GRATICULE: NONE, AUTO or a "
            "number of degrees from 0.5 to 90 is expected");
  const std::string extent =
      ": 4 numbers in parentheses, each from -180 to 180 is expected";
  EXPECT_EQ(refusal("options mapextent=(1 2 3);"),
            "g.qv, line 1, column 19: Invalid value ( for option MAPEXTENT" + extent);
  EXPECT_EQ(refusal("options mapextent=(1 2 3 x);"),
            "g.qv, line 1, column 19: Invalid value ( for option MAPEXTENT" + extent);
  EXPECT_EQ(refusal("options mapextent=(1 2 3 4;"),
            "g.qv, line 1, column 19: Invalid value ( for option MAPEXTENT" + extent);
  EXPECT_EQ(refusal("options bypanels=-1;"),
            "g.qv, line 1, column 18: Invalid value -1 for option BYPANELS: a whole number "
            "from 0 to 100 is expected");
  EXPECT_EQ(refusal("options outname=us;"),
            "g.qv, line 1, column 17: Invalid value us for option OUTNAME: a quoted file name "
            "stem is expected");
}

// The README lists the options as --help does: each with its form, help,
// range and default, as the table gives them.
TEST(Globals, ReadmeListsTheOptionsOfTheTable) {
  std::ifstream in(std::string(QV_SOURCE_DIR) + "/README.md");
  ASSERT_TRUE(in) << "README.md cannot be read";
  std::string line, list;
  bool inBullet = false;
  while (std::getline(in, line)) {
    if (line.rfind("- `OPTIONS` knows", 0) == 0) {
      inBullet = true;
      continue;
    }
    if (!inBullet) continue;
    if (line.rfind("  ", 0) != 0) break;  // the next bullet
    if (!list.empty() || line.rfind("  - ", 0) == 0) list += line + "\n";
  }
  EXPECT_EQ(list, globalOptionList("  - ", "    ", "`", 79))
      << "README.md's OPTIONS bullet lists the options as above";
}

TEST(Globals, TitleAttributes) {
  TitleStatement t = parseTitle(stmt(
      "footnote3 c=\"#FF0000\" bcolor=CX00FF00 f=\"Arial/bo/it\" h=2 cm j=r 'a' italic "
      "box=2 boxpad=5pct space=1 'b' h=3% 'c';"));
  EXPECT_EQ(t.kind, 'F');
  EXPECT_EQ(t.number, 3);
  EXPECT_EQ(attrList(t.entry), "C:#FF0000 O:CX00FF00 F:Arial/bo/it H:2 I:C J:R T(0,1) P B:2 W:5 I:P S:1 I:  T(1,1) H:3 I:P T(2,1)");

  // Bare values: #RRGGBB, font with style words, the unit spelled apart.
  t = parseTitle(stmt("title2 color=#00FF00 font=Arial/bold height=12 IN 'x';"));
  EXPECT_EQ(attrList(t.entry), "C:#00FF00 F:Arial/bold H:12 I:I T(0,1)");

  // Text only: a plain entry; several segments are joined.
  t = parseTitle(stmt("title 'It''s ' \"plain\";"));
  EXPECT_EQ(t.entry.text, "It's plain");
  EXPECT_TRUE(t.entry.attrs.empty());
}

TEST(Globals, TitleStoreClearing) {
  TitleStore store;
  for (const char* s : {"title 'one';", "title2 'two';", "title3 'three';", "footnote 'f';"})
    store.apply(parseTitle(stmt(s)));
  EXPECT_EQ(store.highest('T'), 3);
  EXPECT_EQ(store.get('T', 2)->text, "two");
  EXPECT_EQ(store.get('T', 2)->number, 2);
  store.apply(parseTitle(stmt("title2 'new two';")));  // clears title3
  EXPECT_EQ(store.highest('T'), 2);
  EXPECT_EQ(store.get('T', 3), nullptr);
  store.apply(parseTitle(stmt("title2;")));
  EXPECT_EQ(store.highest('T'), 1);
  store.apply(parseTitle(stmt("title5 'five';")));  // gaps are allowed
  EXPECT_EQ(store.highest('T'), 5);
  EXPECT_EQ(store.get('T', 4), nullptr);
  store.apply(parseTitle(stmt("title;")));
  EXPECT_EQ(store.highest('T'), 0);
  EXPECT_EQ(store.highest('F'), 1);  // footnotes are their own list
  store.apply(parseTitle(stmt("footnote;")));
  EXPECT_EQ(store.highest('F'), 0);
  EXPECT_EQ(store.get('T', 11), nullptr);
  EXPECT_EQ(store.get('N', 1), nullptr);
}

TEST(Globals, By) {
  auto v = parseBy(stmt("by descending state county 'my var'n;"));
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0].name, "state");
  EXPECT_TRUE(v[0].descending);
  EXPECT_FALSE(v[1].descending);
  EXPECT_EQ(v[2].name, "my var");
}

TEST(Globals, DataSetRefs) {
  Statement s = stmt(
      "x data=maps.us (keep=id 'a b'n state drop=seg rename=(old=new 'x y'n=z) "
      "where=( state in ('NY', \"NJ\") and (pop > 1e5) ) obs=10 firstobs=2) next;");
  size_t pos = 3;
  DataSetRef r = parseDataSetRef(s, pos);
  EXPECT_EQ(r.library, "maps");
  EXPECT_EQ(r.member, "us");
  EXPECT_EQ(r.text(), "maps.us");
  EXPECT_EQ(r.options.keep, (std::vector<std::string>{"id", "a b", "state"}));
  EXPECT_EQ(r.options.drop, (std::vector<std::string>{"seg"}));
  ASSERT_EQ(r.options.rename.size(), 2u);
  EXPECT_EQ(r.options.rename[1].first, "x y");
  EXPECT_EQ(r.options.rename[1].second, "z");
  EXPECT_EQ(r.options.where, "state in ('NY', \"NJ\") and (pop > 1e5)");
  EXPECT_EQ(r.options.obs, 10);
  EXPECT_EQ(r.options.firstobs, 2);
  EXPECT_EQ(r.options.column, 16);
  ASSERT_LT(pos, s.tokens.size());
  EXPECT_EQ(s.tokens[pos].text, "next");

  // Without the program text the expression is rebuilt from the tokens.
  pos = 3;
  DataSetRef r2 = parseDataSetRef(s.tokens, pos);
  EXPECT_EQ(r2.options.where, "state in ('NY', 'NJ') and (pop > 1e5)");

  // One-level names, name literals, quoted paths and "name." forms.
  Statement t = stmt("work 'my data'n \"../d/us.csv\" states. ;");
  pos = 0;
  EXPECT_EQ(parseDataSetRef(t, pos).member, "work");
  EXPECT_EQ(parseDataSetRef(t, pos).member, "my data");
  EXPECT_EQ(parseDataSetRef(t, pos).path, "../d/us.csv");
  EXPECT_EQ(parseDataSetRef(t, pos).member, "states");
  EXPECT_EQ(pos, 4u);

  // FORMAT=: a format applies to the variables written before it; named
  // formats and the bare w.d form (a number to the tokenizer).
  Statement f = stmt("d (format=(pop 'a b'n COMMA12. rate 8.2 n 3. c $CHAR5. d best.) keep=pop);");
  pos = 0;
  DataSetRef fr = parseDataSetRef(f, pos);
  EXPECT_EQ(fr.options.format,
            (std::vector<std::pair<std::string, std::string>>{{"pop", "COMMA12."},
                                                              {"a b", "COMMA12."},
                                                              {"rate", "8.2"},
                                                              {"n", "3."},
                                                              {"c", "$CHAR5."},
                                                              {"d", "best."}}));
  EXPECT_EQ(fr.options.keep, (std::vector<std::string>{"pop"}));
}

TEST(Globals, DataSetRefsThatShapeTheData) {
  Statement s = stmt(
      "d (type=(fips num char CHAR Z5. a b NUM) compute=(rate = 1000 * e / b, t = a || 'x')\n"
      "   summarize=(by=(st 'x y'n) n=count() k = COUNT(pop) s=SUM(pop) med=median(pop))\n"
      "   append=(more(where=(x=1) append=(last)) 'other.csv'(keep=a)) where=(rate > 1));");
  size_t pos = 0;
  DataSetRef r = parseDataSetRef(s, pos);
  ASSERT_EQ(r.options.type.size(), 4u);
  EXPECT_EQ(r.options.type[0].var, "fips");
  EXPECT_FALSE(r.options.type[0].toChar);
  EXPECT_EQ(r.options.type[1].var, "char");  // CHAR names a variable where none precedes it
  EXPECT_TRUE(r.options.type[1].toChar);
  EXPECT_EQ(r.options.type[1].format, "Z5.");
  EXPECT_EQ(r.options.type[3].var, "b");
  EXPECT_FALSE(r.options.type[3].toChar);
  EXPECT_EQ(r.options.compute, "rate = 1000 * e / b, t = a || 'x'");
  EXPECT_EQ(r.options.summarize.by, (std::vector<std::string>{"st", "x y"}));
  ASSERT_EQ(r.options.summarize.items.size(), 4u);
  EXPECT_EQ(r.options.summarize.items[0].func, "COUNT");
  EXPECT_EQ(r.options.summarize.items[0].column, "");
  EXPECT_EQ(r.options.summarize.items[1].column, "pop");
  EXPECT_EQ(r.options.summarize.items[3].name, "med");
  EXPECT_EQ(r.options.summarize.items[3].func, "MEDIAN");
  ASSERT_EQ(r.options.append.size(), 2u);
  EXPECT_EQ(r.options.append[0].member, "more");
  EXPECT_EQ(r.options.append[0].options.where, "x=1");
  ASSERT_EQ(r.options.append[0].options.append.size(), 1u);
  EXPECT_EQ(r.options.append[0].options.append[0].member, "last");
  EXPECT_EQ(r.options.append[1].path, "other.csv");
  EXPECT_EQ(r.options.append[1].options.keep, (std::vector<std::string>{"a"}));
  EXPECT_EQ(r.options.where, "rate > 1");

  struct Bad {
    const char* text;
    const char* message;
  } bad[] = {
      {"d (type=(a));", "TYPE= needs CHAR or NUM after a"},
      {"d (type=a num);", "TYPE= needs a list in parentheses"},
      {"d (type=(a num a char));", "Variable a is given two types in TYPE="},
      {"d (type=(a text));", "TYPE= needs CHAR or NUM after a text"},
      {"d (compute=());", "COMPUTE= needs items"},
      {"d (compute=(a = 1;", "COMPUTE= is not closed"},
      {"d (summarize=(by=st));", "SUMMARIZE= needs at least one name=FUNC(column)"},
      {"d (summarize=(n=total(x)));", "Expected COUNT, SUM, MEAN, MIN, MAX or MEDIAN after n="},
      {"d (summarize=(n=sum()));", "SUM in SUMMARIZE= needs a column: n=SUM(column)"},
      {"d (summarize=(n=count() n=sum(x)));", "SUMMARIZE= makes n twice"},
      {"d (summarize=(by=n n=count()));", "SUMMARIZE= makes n, which is a BY variable"},
      {"d (summarize=(by=(a) by=b n=count()));", "BY= is given twice in SUMMARIZE="},
      {"d (summarize=(n count()));", "Expected '=' after n in SUMMARIZE="},
      {"d (append=());", "APPEND= needs at least one data set"},
      {"d (append=(a b;", "APPEND= is not closed"},
      {"d (append=x);", "APPEND= needs data sets in parentheses"},
      {"d (append=(a(nope=1)));", "Unknown data set option NOPE"},
      {"d (compute=(a=1) compute=(b=2));", "Data set option COMPUTE= is given twice"},
  };
  for (const Bad& b : bad) {
    Statement t = stmt(b.text);
    size_t p = 0;
    std::string m = qv::rt::testing::errorOf([&] { parseDataSetRef(t, p); });
    EXPECT_NE(m.find(b.message), std::string::npos) << b.text << " -> " << m;
  }
  // APPEND= nested without end is refused, not read on the stack.
  std::string deep = "d";
  for (int i = 0; i < 40; ++i) deep += "(append=(d";
  for (int i = 0; i < 40; ++i) deep += "))";
  Statement t = stmt(deep + ";");
  size_t p = 0;
  EXPECT_NE(qv::rt::testing::errorOf([&] { parseDataSetRef(t, p); }).find("nested more than 16 deep"),
            std::string::npos);
}
