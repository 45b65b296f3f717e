#include <gtest/gtest.h>

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
  Settings s;
  applyOptions(s, parseOptions(stmt(
      "options varnames=any missing='-' nldecseparator debug='qortavlo syn' graphwidth=800px "
      "GraphHeight=600 graphformat=svg tileurl='file:///t/{z}/{x}/{y}.png' colornames='c.csv' "
      "mapprojection=' +proj=robin +lon_0=10 ';")));
  EXPECT_TRUE(s.varNamesAny);
  EXPECT_EQ(s.missing, "-");
  EXPECT_TRUE(s.nlDecSeparator);
  EXPECT_EQ(s.debug, "qortavlo syn");
  EXPECT_EQ(s.graphWidth, 800);
  EXPECT_EQ(s.graphHeight, 600);
  EXPECT_EQ(s.graphFormat, "SVG");
  EXPECT_EQ(s.tileUrl, "file:///t/{z}/{x}/{y}.png");
  EXPECT_EQ(s.colorNames, "c.csv");
  // A PROJ definition is kept as written, without the blanks around it.
  EXPECT_EQ(s.mapProjection, "+proj=robin +lon_0=10");
  EXPECT_EQ(settingText(s, "varnames"), "ANY");
  EXPECT_EQ(settingText(s, "GRAPHWIDTH"), "800");
  EXPECT_EQ(settingSwitch(s, "NONLDECSEPARATOR"), false);
  EXPECT_FALSE(settingText(s, "nosuch").has_value());
  EXPECT_TRUE(setSettingSwitch(s, "nldecseparator", false));
  EXPECT_FALSE(s.nlDecSeparator);
  applyOptions(s, parseOptions(stmt("options nonldecseparator missing=. varnames=strict;")));
  EXPECT_FALSE(s.varNamesAny);
  EXPECT_EQ(s.missing, ".");
  // The projection names in any letter case, bare or quoted; empty is AUTO.
  applyOptions(s, parseOptions(stmt("options mapprojection=albersUSA;")));
  EXPECT_EQ(settingText(s, "MAPPROJECTION"), "ALBERSUSA");
  applyOptions(s, parseOptions(stmt("options mapprojection='EqualEarth';")));
  EXPECT_EQ(s.mapProjection, "EQUALEARTH");
  applyOptions(s, parseOptions(stmt("options mapprojection=' ';")));
  EXPECT_EQ(s.mapProjection, "AUTO");
  // The kind of map file and the PNG density, at the ends of their ranges.
  applyOptions(s, parseOptions(stmt("options output=Html graphdpi=2400;")));
  EXPECT_EQ(s.output, "HTML");
  EXPECT_EQ(s.graphDpi, 2400);
  applyOptions(s, parseOptions(stmt("options output='pdf' graphdpi=24.5;")));
  EXPECT_EQ(settingText(s, "output"), "PDF");
  EXPECT_EQ(settingText(s, "graphdpi"), "24.5");
}

// A bad setting anywhere leaves every setting of the statement unapplied.
TEST(Globals, OptionStatementAppliesWholeOrNotAtAll) {
  Settings s;
  EXPECT_THROW(applyOptions(s, parseOptions(stmt("options graphwidth=100 graphheight=-1;"))), UserError);
  EXPECT_EQ(s.graphWidth, 640);
  // Multi-byte missing character counts as one.
  EXPECT_EQ(parseOptions(stmt("options missing='\xC2\xB7';"))[0].text, "\xC2\xB7");
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
