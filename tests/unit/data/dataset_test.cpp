#include <cmath>

#include "runtime/data/dataset.h"
#include "runtime/formats/formats.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::host::ByVariable;
using qv::host::DataSet;
using qv::rt::testing::errorOf;
using qv::rt::testing::TempDir;

namespace {

class DataSetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    libs_.assign("work", dir_.str());
    // obs: 1  2  3  4  5  6
    dir_.write("cities.csv",
               "state,city,pop,rank\n"
               "AL,Mobile,5,3\n"
               "AL,Selma,.,1\n"
               "CA,Fresno,9,2\n"
               "CA,Irvine,9,2\n"
               "CA,Davis,2,\n"
               "TX,Waco,4,5\n");
  }

  std::unique_ptr<DataSet> open(const DataSetOptions& o = DataSetOptions(),
                                const std::string& member = "cities") {
    DataSetRef r;
    r.member = member;
    r.options = o;
    OpenSettings s;
    s.programDir = dir_.str();
    s.warn = [this](const std::string& w) { warnings_.push_back(w); };
    return openDataSet(r, libs_, cache_, s,
                       [this](const std::string& n) { notes_.push_back(n); });
  }

  static DataSetRef member(const std::string& name, const DataSetOptions& o = DataSetOptions()) {
    DataSetRef r;
    r.member = name;
    r.options = o;
    return r;
  }

  // A variable's values over the current selection, joined by blanks
  // ("." for a missing number).
  static std::string column(DataSet& d, const char* var) {
    std::string out;
    const int v = d.find(var);
    d.rewind();
    for (bool first = true; d.next(); first = false) {
      if (!first) out += ' ';
      if (!d.isNumeric(v)) out += d.chr(v);
      else if (std::isnan(d.num(v))) out += '.';
      else out += plainNumberText(d.num(v));
    }
    return out;
  }

  // A variable's display format as "NAME w.d", "" for none.
  static std::string shown(const DataSet& d, const char* var) {
    qv::host::VarDesc v = d.desc(d.find(var));
    if (v.format.empty()) return "";
    return v.format + " " + std::to_string(v.formatWidth) + "." + std::to_string(v.formatDecimals);
  }

  // The cities read from the current selection, joined by spaces.
  static std::string read(DataSet& d) {
    std::string out;
    int city = d.find("city");
    d.rewind();
    while (d.next()) {
      if (!out.empty()) out += ' ';
      out += d.chr(city);
    }
    return out;
  }

  TempDir dir_;
  Libraries libs_;
  DataCache cache_;
  std::vector<std::string> warnings_;
  std::vector<std::string> notes_;
};

}  // namespace

TEST_F(DataSetTest, VariablesAndDescriptions) {
  dir_.write("cities.schema.json",
             R"({"fields": [{"name": "pop", "title": "Population", "displayFormat": "COMMA10.1"}]})");
  auto d = open();
  ASSERT_EQ(d->nvars(), 4);
  EXPECT_EQ(d->find("CITY"), 1);
  EXPECT_EQ(d->find("nosuch"), -1);
  qv::host::VarDesc city = d->desc(1);
  EXPECT_EQ(city.type, qv::host::kCharacter);
  EXPECT_EQ(city.length, 6);  // Fresno, Irvine
  qv::host::VarDesc pop = d->desc(2);
  EXPECT_EQ(pop.number, 2);
  EXPECT_EQ(pop.type, qv::host::kNumeric);
  EXPECT_EQ(pop.length, 8);
  EXPECT_EQ(pop.label, "Population");
  EXPECT_EQ(pop.format, "COMMA");
  EXPECT_EQ(pop.formatWidth, 10);
  EXPECT_EQ(pop.formatDecimals, 1);
  EXPECT_EQ(d->desc(9).number, -1);
  EXPECT_EQ(d->name(), "WORK.CITIES");

  // Reading: values, missing values and requests that make no sense.
  d->rewind();
  EXPECT_TRUE(std::isnan(d->num(2)));  // nothing read yet
  ASSERT_TRUE(d->next());
  EXPECT_EQ(d->num(2), 5);
  EXPECT_EQ(d->chr(0), "AL");
  EXPECT_EQ(d->chr(2), "");
  EXPECT_TRUE(std::isnan(d->num(0)));
  EXPECT_TRUE(std::isnan(d->num(42)));
  ASSERT_TRUE(d->next());
  EXPECT_TRUE(std::isnan(d->num(2)));
  EXPECT_EQ(d->observation(), 2);
}

TEST_F(DataSetTest, KeepDropRename) {
  DataSetOptions o;
  o.keep = {"CITY", "rank", "pop"};
  o.rename = {{"pop", "people"}};
  auto d = open(o);
  ASSERT_EQ(d->nvars(), 3);
  EXPECT_EQ(d->desc(0).name, "city");  // file order, not KEEP= order
  EXPECT_EQ(d->desc(1).name, "people");
  EXPECT_EQ(d->find("pop"), -1);

  DataSetOptions drop;
  drop.drop = {"state"};
  drop.where = "people > 4";
  drop.rename = {{"pop", "people"}, {"rank", "pop"}};  // WHERE= sees the new names
  auto e = open(drop);
  EXPECT_EQ(e->desc(1).name, "people");
  EXPECT_EQ(e->desc(2).name, "pop");
  EXPECT_EQ(read(*e), "Mobile Fresno Irvine");
}

TEST_F(DataSetTest, DisplayFormatsFromTheSchemaAndFormatOption) {
  dir_.write("cities.schema.json", R"({"fields": [
      {"name": "pop", "displayFormat": "8.1"},
      {"name": "rank", "displayFormat": "FOO5."},
      {"name": "city", "displayFormat": "COMMA6."},
      {"name": "state", "displayFormat": "$CHAR1."}]})");
  // The schema's formats; the bare w.d form is the plain number format. An
  // unknown format, or one for the other type, is left out with a warning.
  auto d = open();
  EXPECT_EQ(shown(*d, "pop"), "F 8.1");
  EXPECT_EQ(shown(*d, "rank"), "BEST 12.0");
  EXPECT_EQ(shown(*d, "city"), "");
  EXPECT_EQ(shown(*d, "state"), "$CHAR 1.0");
  ASSERT_EQ(warnings_.size(), 2u);
  EXPECT_EQ(warnings_[0],
            "The format COMMA6. for variable city of data set WORK.CITIES (from the schema "
            "file) is a numeric format and the variable is character; its values are shown as "
            "they are.");

  // FORMAT= wins over the schema (its unknown format is then not used, so
  // not reported); a variable is named as the data set shows it, or as the
  // file does.
  warnings_.clear();
  DataSetOptions o;
  o.rename = {{"pop", "people"}};
  o.format = {{"people", "COMMA12."}, {"RANK", "3."}, {"city", "$5."}};
  auto f = open(o);
  EXPECT_EQ(shown(*f, "people"), "COMMA 12.0");
  EXPECT_EQ(shown(*f, "rank"), "F 3.0");
  EXPECT_EQ(shown(*f, "city"), "$ 5.0");
  EXPECT_TRUE(warnings_.empty());
  o.format = {{"pop", "dollar10.2"}};
  EXPECT_EQ(shown(*open(o), "people"), "DOLLAR 10.2");
}

TEST_F(DataSetTest, ObservationWindowAndCountItems) {
  auto all = open();
  EXPECT_EQ(all->info(3), 6);
  EXPECT_EQ(all->info(24), 6);
  EXPECT_EQ(all->info(28), 1);
  EXPECT_EQ(all->info(35), 0);
  EXPECT_EQ(all->info(41), -1);
  EXPECT_EQ(all->info(95), 1);
  EXPECT_EQ(all->info(159), 0);
  EXPECT_EQ(all->info(7777), 0);

  DataSetOptions o;
  o.firstobs = 2;
  o.obs = 3;
  auto w = open(o);
  EXPECT_EQ(read(*w), "Selma Fresno");
  EXPECT_EQ(w->info(3), 5);
  EXPECT_EQ(w->info(24), 2);
  EXPECT_EQ(w->info(41), 2);

  // WHERE= applies to observations FIRSTOBS..OBS; OBS= counts in the file.
  o.where = "state = 'CA'";
  o.obs = 4;
  auto x = open(o);
  EXPECT_EQ(read(*x), "Fresno Irvine");
  EXPECT_EQ(x->info(24), 2);
  EXPECT_EQ(x->info(35), 1);
  EXPECT_EQ(x->info(3), 5);
  EXPECT_EQ(x->info(41), 3);

  DataSetOptions empty;
  empty.firstobs = 5;
  empty.obs = 2;
  auto y = open(empty);
  EXPECT_EQ(y->info(41), 0);
  EXPECT_EQ(y->info(24), 0);
  EXPECT_EQ(read(*y), "");
  DataSetOptions far;
  far.firstobs = 100;
  EXPECT_EQ(open(far)->info(3), 0);
  DataSetOptions zero;
  zero.firstobs = 0;
  EXPECT_NE(errorOf([&] { open(zero); }).find("FIRSTOBS"), std::string::npos);
}

TEST_F(DataSetTest, PushedSelectionsAndSortedValues) {
  auto d = open();
  std::vector<double> v;
  ASSERT_TRUE(d->sortValues(2, false, &v));
  EXPECT_EQ(v, (std::vector<double>{2, 4, 5, 9, 9}));  // missing left out
  ASSERT_TRUE(d->sortValues(2, true, &v));
  EXPECT_EQ(v, (std::vector<double>{2, 4, 5, 9}));
  EXPECT_FALSE(d->sortValues(1, false, &v));  // character
  EXPECT_FALSE(d->sortValues(99, false, &v));

  d->pushWhere("state ne 'TX'");
  d->pushWhere("pop < 9");
  EXPECT_EQ(d->info(35), 1);
  EXPECT_EQ(d->info(24), 3);
  EXPECT_EQ(read(*d), "Mobile Selma Davis");
  ASSERT_TRUE(d->sortValues(2, false, &v));
  EXPECT_EQ(v, (std::vector<double>{2, 5}));
  // A bad selection leaves the selections as they were.
  EXPECT_NE(errorOf([&] { d->pushWhere("nosuch = 1"); }).find("nosuch"), std::string::npos);
  EXPECT_EQ(d->selectionCount(), 2u);
  EXPECT_EQ(d->info(24), 3);
}

TEST_F(DataSetTest, ByGroups) {
  auto d = open();
  d->setBy({ByVariable{"STATE", false}});
  ASSERT_EQ(d->groupCount(), 3u);
  EXPECT_EQ(read(*d), "Mobile Selma Fresno Irvine Davis Waco");  // before the first group
  std::vector<std::string> groups;
  while (d->byNext()) groups.push_back(std::string(d->byChr(0)) + ":" + read(*d));
  EXPECT_EQ(groups, (std::vector<std::string>{"AL:Mobile Selma", "CA:Fresno Irvine Davis",
                                              "TX:Waco"}));
  EXPECT_EQ(read(*d), "");  // past the last group
  d->byRewind(true);
  EXPECT_EQ(d->currentGroup(), 0);
  EXPECT_EQ(read(*d), "Mobile Selma");
  ASSERT_TRUE(d->byNext());
  d->next();
  d->byRewind(false);  // back to the start of the current group
  ASSERT_TRUE(d->next());
  EXPECT_EQ(d->chr(1), "Fresno");
  // A pushed selection narrows the group; the groups stay.
  d->pushWhere("pop > 5");
  EXPECT_EQ(read(*d), "Fresno Irvine");
  d = open();

  // Descending within ascending; missing sorts lowest.
  d->setBy({ByVariable{"state", false}, ByVariable{"pop", true}});
  EXPECT_EQ(d->groupCount(), 5u);
  d->byNext();
  d->byNext();
  EXPECT_TRUE(std::isnan(d->byNum(1)));
  d->byNext();
  EXPECT_EQ(d->byNum(1), 9);
  EXPECT_EQ(read(*d), "Fresno Irvine");

  std::string e = errorOf([&] { d->setBy({ByVariable{"state", true}}); });
  EXPECT_NE(e.find("observation 3 is out of order; sort it by DESCENDING state first."),
            std::string::npos) << e;
  e = errorOf([&] { d->setBy({ByVariable{"zip", false}}); });
  EXPECT_NE(e.find("zip"), std::string::npos) << e;
  EXPECT_NE(e.find("WORK.CITIES"), std::string::npos) << e;

  // The check covers only the selected observations.
  DataSetOptions o;
  o.where = "state = 'CA'";
  auto ca = open(o);
  ca->setBy({ByVariable{"pop", true}});
  EXPECT_EQ(ca->groupCount(), 2u);
  o.where = "state = 'CA' and rank ne .";
  auto ca2 = open(o);
  EXPECT_NO_THROW(ca2->setBy({ByVariable{"rank", false}, ByVariable{"pop", false}}));
  d->clearBy();
  EXPECT_FALSE(d->byNext());
}

// COMPUTE= comes before WHERE=, which may select on what it made and on
// columns KEEP= leaves out; KEEP= names the computed column.
TEST_F(DataSetTest, ComputedColumnsBeforeWhereAndKeep) {
  dir_.write("cities.schema.json",
             R"({"fields": [{"name": "pop", "title": "Population", "displayFormat": "COMMA10.1"}]})");
  DataSetOptions o;
  o.keep = {"city", "rate"};
  o.compute = "rate = pop / rank, label = catx(' ', city, state)";
  o.where = "rate > 2 and state ^= 'TX'";
  auto d = open(o);
  EXPECT_EQ(read(*d), "Fresno Irvine");
  EXPECT_EQ(column(*d, "rate"), "4.5 4.5");
  ASSERT_EQ(d->nvars(), 2);
  EXPECT_EQ(d->find("label"), -1);
  EXPECT_EQ(d->desc(1).label, "");  // a computed column has no label
  EXPECT_EQ(shown(*d, "rate"), "BEST 12.0");
  EXPECT_FALSE(d->asRead(1));
  EXPECT_TRUE(d->asRead(0));
  EXPECT_EQ(notes_, (std::vector<std::string>{
                        "COMPUTE= gave rate of WORK.CITIES a missing value in 2 rows: a missing "
                        "value in arithmetic in 2."}));
  EXPECT_EQ(d->deriveNotes().work,
            (std::vector<std::string>{"COMPUTE= made rate, label in 6 rows of WORK.CITIES."}));

  // An item in the place of a column: it loses the file's label and format
  // unless FORMAT= gives one; RENAME= names it after.
  DataSetOptions r;
  r.compute = "pop = pop * 1000, label = catx(' ', city, state)";
  r.format = {{"pop", "COMMA8."}};
  r.rename = {{"pop", "people"}};
  auto e = open(r);
  EXPECT_EQ(column(*e, "people"), "5000 . 9000 9000 2000 4000");
  EXPECT_EQ(column(*e, "label"), "Mobile AL Selma AL Fresno CA Irvine CA Davis CA Waco TX");
  EXPECT_EQ(e->desc(e->find("people")).label, "");
  EXPECT_EQ(shown(*e, "people"), "COMMA 8.0");
  EXPECT_EQ(e->desc(e->find("label")).length, 9);
  EXPECT_NE(errorOf([&] {
              DataSetOptions bad;
              bad.compute = "x = city * 2";
              open(bad);
            }).find("Variable city in COMPUTE= item x of WORK.CITIES is character"),
            std::string::npos);
}

TEST_F(DataSetTest, TypesConvertedAsRead) {
  DataSetOptions o;
  o.type = {{"pop", true, "Z3."}, {"rank", true, ""}, {"state", false, ""}, {"city", true, ""}};
  auto d = open(o);
  EXPECT_FALSE(d->isNumeric(d->find("pop")));
  EXPECT_EQ(column(*d, "pop"), "005  009 009 002 004");
  EXPECT_EQ(column(*d, "rank"), "3 1 2 2  5");
  EXPECT_EQ(column(*d, "state"), ". . . . . .");
  EXPECT_EQ(column(*d, "city"), "Mobile Selma Fresno Irvine Davis Waco");  // already text
  EXPECT_EQ(d->desc(d->find("pop")).length, 3);
  EXPECT_EQ(notes_, (std::vector<std::string>{
                        "TYPE=(state NUM) made 6 values of state in WORK.CITIES missing: they are "
                        "no numbers (the first is 'AL' in row 1)."}));
  // WHERE= sees the converted column.
  DataSetOptions w;
  w.type = {{"rank", true, ""}};
  w.where = "rank = '2'";
  EXPECT_EQ(read(*open(w)), "Fresno Irvine");

  DataSetOptions unknown;
  unknown.type = {{"nosuch", false, ""}};
  EXPECT_NE(errorOf([&] { open(unknown); }).find("Variable nosuch in TYPE= is not in data set WORK.CITIES"),
            std::string::npos);
  DataSetOptions badFormat;
  badFormat.type = {{"pop", true, "$8."}};
  EXPECT_NE(errorOf([&] { open(badFormat); }).find("is not a numeric format"), std::string::npos);
}

// APPEND=: the rows of other data sets, each through its own options,
// after this one's; columns united by name; this data set's options after.
TEST_F(DataSetTest, AppendedRows) {
  dir_.write("more.csv", "town,state,pop,extra\nReno,NV,3,x\nElko,NV,.,y\nTaos,NM,1,z\n");
  dir_.write("clash.csv", "state,pop\nNV,many\n");
  DataSetOptions more;
  more.rename = {{"town", "city"}};
  more.where = "pop is not missing";
  DataSetOptions o;
  o.append = {member("more", more)};
  o.compute = "twice = pop * 2";
  o.where = "state ^= 'TX'";
  auto d = open(o);
  EXPECT_EQ(read(*d), "Mobile Selma Fresno Irvine Davis Reno Taos");
  EXPECT_EQ(column(*d, "twice"), "10 . 18 18 4 6 2");
  EXPECT_EQ(column(*d, "rank"), "3 1 2 2 . . .");
  EXPECT_EQ(column(*d, "extra"), "     x z");
  ASSERT_EQ(d->nvars(), 6);
  EXPECT_EQ(d->desc(4).name, "extra");
  EXPECT_EQ(d->deriveNotes().work,
            (std::vector<std::string>{"APPEND= added 2 rows of WORK.MORE to WORK.CITIES.",
                                      "COMPUTE= made twice in 8 rows of WORK.CITIES."}));

  DataSetOptions clash;
  clash.append = {member("clash")};
  const std::string m = errorOf([&] { open(clash); });
  EXPECT_NE(m.find("APPEND= cannot unite variable pop: it is numeric in WORK.CITIES and character "
                   "in WORK.CLASH; TYPE=(pop NUM) among the options of WORK.CLASH makes it numeric."),
            std::string::npos)
      << m;
  DataSetOptions fixed;
  DataSetOptions num;
  num.type = {{"pop", false, ""}};
  fixed.append = {member("clash", num)};
  auto f = open(fixed);
  EXPECT_EQ(column(*f, "pop"), "5 . 9 9 2 4 .");
}

TEST_F(DataSetTest, Summaries) {
  DataSetOptions o;
  o.where = "city ^= 'Waco'";
  o.summarize.by = {"state"};
  o.summarize.items = {{"n", "COUNT", ""},   {"k", "COUNT", "pop"}, {"s", "SUM", "pop"},
                       {"m", "MEAN", "pop"}, {"lo", "MIN", "pop"},  {"hi", "MAX", "pop"},
                       {"med", "MEDIAN", "pop"}, {"cities", "COUNT", "city"}};
  auto d = open(o);
  ASSERT_EQ(d->nvars(), 9);
  EXPECT_EQ(column(*d, "state"), "AL CA");
  EXPECT_EQ(column(*d, "n"), "2 3");
  EXPECT_EQ(column(*d, "k"), "1 3");
  EXPECT_EQ(column(*d, "s"), "5 20");
  EXPECT_EQ(column(*d, "m"), "5 6.666666666666667");
  EXPECT_EQ(column(*d, "lo"), "5 2");
  EXPECT_EQ(column(*d, "hi"), "5 9");
  EXPECT_EQ(column(*d, "med"), "5 9");
  EXPECT_EQ(column(*d, "cities"), "2 3");
  EXPECT_EQ(d->info(24), 2);
  EXPECT_EQ(d->info(3), 2);
  EXPECT_EQ(d->deriveNotes().work,
            (std::vector<std::string>{
                "SUMMARIZE= made 2 rows of WORK.CITIES from 5 rows, one per value of state."}));
  // The summary is in BY order, so BY groups read it; KEEP= names its columns.
  d->setBy({ByVariable{"state", false}});
  EXPECT_EQ(d->groupCount(), 2u);

  // Without BY: one row; the median of an even count is the mean of the
  // middle two; values and groups in descending order come out sorted.
  dir_.write("vals.csv", "g,v\n2,4\n1,1\n2,.\n1,3\n.,7\n2,2\n");
  DataSetOptions all;
  all.summarize.items = {{"med", "MEDIAN", "v"}, {"n", "COUNT", ""}};
  all.keep = {"med"};
  auto a = open(all, "vals");
  ASSERT_EQ(a->nvars(), 1);
  EXPECT_EQ(column(*a, "med"), "3");
  DataSetOptions byG;
  byG.summarize.by = {"g"};
  byG.summarize.items = {{"med", "MEDIAN", "v"}, {"s", "SUM", "v"}};
  auto b = open(byG, "vals");
  EXPECT_EQ(column(*b, "g"), ". 1 2");
  EXPECT_EQ(column(*b, "med"), "7 2 3");
  EXPECT_EQ(column(*b, "s"), "7 4 6");
  DataSetOptions none = byG;
  none.where = "v > 100";
  EXPECT_EQ(open(none, "vals")->info(24), 0);

  DataSetOptions bad;
  bad.summarize.items = {{"s", "SUM", "city"}};
  EXPECT_NE(errorOf([&] { open(bad); }).find("Variable city in s=SUM() of SUMMARIZE= for WORK.CITIES is character"),
            std::string::npos);
  bad.summarize.items = {{"s", "SUM", "nosuch"}};
  EXPECT_NE(errorOf([&] { open(bad); }).find("is not in data set WORK.CITIES"), std::string::npos);
}

// The option that joins identifiers of two types without losing a row.
TEST_F(DataSetTest, JoinTypeHints) {
  dir_.write("codes.csv", "fips,name\n01001,a\n01003,b\n");
  dir_.write("codes.schema.json", R"({"fields": [{"name": "fips", "type": "string"}]})");
  dir_.write("nums.csv", "id\n1001\n1003\n");
  dir_.write("mixed.csv", "code\n01001\nUS\n");
  auto codes = open(DataSetOptions(), "codes");
  auto nums = open(DataSetOptions(), "nums");
  auto mixed = open(DataSetOptions(), "mixed");
  EXPECT_EQ(joinTypeHint(*codes, 0, *nums, 0),
            "To join the character identifier fips of WORK.CODES and the numeric identifier id of "
            "WORK.NUMS, add the data set option TYPE=(fips NUM) to WORK.CODES: its values are all "
            "digits; 01001 then meets 1001.");
  EXPECT_EQ(joinTypeHint(*mixed, 0, *nums, 0),
            "To join the character identifier code of WORK.MIXED and the numeric identifier id of "
            "WORK.NUMS, add the data set option TYPE=(id CHAR Z5.) to WORK.NUMS: its numbers are "
            "then written with leading zeros to 5 digits, as in 01001.");
  DataSetOptions renamed;
  renamed.rename = {{"fips", "code"}};
  EXPECT_NE(joinTypeHint(*open(renamed, "codes"), 0, *nums, 0).find("TYPE=(fips NUM)"),
            std::string::npos);
  // A computed side cannot be converted as read.
  DataSetOptions made;
  made.compute = "id = id + 0";
  EXPECT_EQ(joinTypeHint(*mixed, 0, *open(made, "nums"), 0), "");
}

// A map file's properties are held once per feature, and SEGMENT once per
// ring: every row must still show its own feature's values, through
// selections, KEEP=, BY groups, sorted values and what is made of them.
TEST_F(DataSetTest, MapRowsShowTheirFeaturesValues) {
  dir_.write("parts.geojson", R"({"type": "FeatureCollection", "features": [
    {"type": "Feature", "properties": {"name": "Ab", "pop": 7}, "geometry": {"type": "MultiPolygon",
      "coordinates": [[[[0, 0], [1, 0], [1, 1], [0, 0]], [[0.2, 0.2], [0.5, 0.2], [0.5, 0.5], [0.2, 0.2]]],
                      [[[5, 5], [6, 5], [6, 6], [5, 5]]]]}},
    {"type": "Feature", "geometry": {"type": "Point", "coordinates": [3, 3]}},
    {"type": "Feature", "properties": {"name": "Cd", "pop": 2},
     "geometry": {"type": "LineString", "coordinates": [[0, 0], [2, 2]]}}]})");
  auto all = open(DataSetOptions(), "parts");
  EXPECT_EQ(column(*all, "name"), "Ab Ab Ab Ab Ab Ab Ab Ab Ab Ab Ab Ab  Cd Cd Cd");
  EXPECT_EQ(column(*all, "pop"), "7 7 7 7 7 7 7 7 7 7 7 7 . 2 2 2");
  EXPECT_EQ(column(*all, "SEGMENT"), "1 1 1 1 2 2 2 2 3 3 3 3 1 1 1 1");
  std::vector<double> v;
  ASSERT_TRUE(all->sortValues(all->find("pop"), false, &v));
  EXPECT_EQ(v.size(), 15u);
  EXPECT_EQ(v.front(), 2);

  DataSetOptions o;
  o.where = "pop > 5 and SEGMENT >= 2 or name = 'Cd' and LAT > 1";
  o.keep = {"name", "SEGMENT", "LAT"};
  o.firstobs = 6;
  auto some = open(o, "parts");
  ASSERT_EQ(some->nvars(), 3);
  EXPECT_EQ(column(*some, "name"), "Ab Ab Ab Ab Ab Ab Ab Cd");
  EXPECT_EQ(column(*some, "SEGMENT"), "2 2 2 3 3 3 3 1");
  some->pushWhere("SEGMENT ne 3");
  EXPECT_EQ(column(*some, "LAT"), "0.2 0.5 0.2 2");

  DataSetOptions made;
  made.compute = "big = pop * 10";
  made.type = {TypeChange{"SEGMENT", true, ""}};
  auto derived = open(made, "parts");
  EXPECT_EQ(column(*derived, "big"), "70 70 70 70 70 70 70 70 70 70 70 70 . 20 20 20");
  EXPECT_FALSE(derived->isNumeric(derived->find("SEGMENT")));
  EXPECT_EQ(column(*derived, "SEGMENT"), "1 1 1 1 2 2 2 2 3 3 3 3 1 1 1 1");

  DataSetOptions grouped;
  grouped.where = "name ne ''";
  auto by = open(grouped, "parts");
  by->setBy({ByVariable{"name", false}, ByVariable{"SEGMENT", false}});
  std::vector<std::string> groups;
  while (by->byNext())
    groups.push_back(std::string(by->byChr(0)) + plainNumberText(by->byNum(1)) + ":" +
                     column(*by, "LONG"));
  EXPECT_EQ(groups, (std::vector<std::string>{"Ab1:0 1 1 0", "Ab2:0.2 0.5 0.5 0.2", "Ab3:5 6 6 5",
                                              "Cd1:0 2 ."}));
}
