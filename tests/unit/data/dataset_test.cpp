#include <cmath>

#include "runtime/data/dataset.h"
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
    return openDataSet(r, libs_, cache_, s, NoteFn());
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
