// JSON lists of records read as tables: what each kind of value becomes,
// and malformed lists answered with a message naming the file and place.
#include <cmath>

#include "runtime/data/geojson.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using namespace qv::rt::testing;

namespace {

Table records(const std::string& text, NoteSink* notes = nullptr) {
  return parseGeoData(text, "r.json", "", VarNameRule::Strict, notes ? notes->fn() : NoteFn(),
                      true);
}

}  // namespace

TEST(Records, ValuesKeepTheirJsonTypes) {
  NoteSink notes;
  Table t = records(R"([
    {"zip": "02134", "n": 3, "flag": true, "mix": 1.5, "tags": [1, "a"], "zip": "dup"},
    {"n": null, "mix": "x", "flag": false, "extra": {"k": 1}},
    {"zip": "10001", "n": -2e3, "mix": 12345678901234567890}
  ])",
                    &notes);
  ASSERT_EQ(t.rows, 3u);
  ASSERT_EQ(t.columns.size(), 6u);  // in the order the keys first appear
  const char* names[] = {"zip", "n", "flag", "mix", "tags", "extra"};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(t.columns[i].name, names[i]);

  const Column& zip = t.columns[0];  // a text stays a text; a key missing is missing
  ASSERT_FALSE(zip.numeric());
  EXPECT_EQ(zip.str(0), "02134");  // the first of a repeated key counts
  EXPECT_EQ(zip.str(1), "");
  EXPECT_EQ(zip.str(2), "10001");
  EXPECT_EQ(zip.width, 5);

  const Column& n = t.columns[1];  // numbers and null
  ASSERT_TRUE(n.numeric());
  EXPECT_EQ(n.num[0], 3);
  EXPECT_TRUE(std::isnan(n.num[1]));
  EXPECT_EQ(n.num[2], -2000);

  EXPECT_EQ(t.columns[2].str(0), "true");
  EXPECT_EQ(t.columns[2].str(1), "false");
  EXPECT_EQ(t.columns[2].str(2), "");

  // Numbers and texts together: character, the numbers written out, a NOTE.
  const Column& mix = t.columns[3];
  ASSERT_FALSE(mix.numeric());
  EXPECT_EQ(mix.str(0), "1.5");
  EXPECT_EQ(mix.str(1), "x");
  EXPECT_EQ(mix.str(2), "12345678901234567890");
  ASSERT_EQ(notes.notes.size(), 1u);
  EXPECT_NE(notes.notes[0].find("Column mix of r.json holds both numbers and texts"),
            std::string::npos);

  EXPECT_EQ(t.columns[4].str(0), R"([1,"a"])");  // nested values as JSON text
  EXPECT_EQ(t.columns[5].str(1), R"({"k":1})");
  EXPECT_EQ(t.columns[5].str(0), "");
}

TEST(Records, MalformedListsNameTheFileAndPlace) {
  EXPECT_EQ(errorOf([] { records(R"([{"a": 1}, 7])"); }),
            "r.json, at [1]: a record must be an object, not a number.");
  EXPECT_EQ(errorOf([] { records("[]"); }),
            "r.json: the list holds no records (a table needs at least one object).");
  EXPECT_EQ(errorOf([] { records("[{}, {}]"); }),
            "r.json: the records have no keys, so the table would have no columns.");
  EXPECT_NE(errorOf([] { records(R"([{"a": 1}, {"a": )"); }).find("r.json, line 1, column"),
            std::string::npos);
  // Without records allowed (a .geojson file) a list is not GeoJSON.
  EXPECT_NE(errorOf([] {
              parseGeoData(R"([{"a": 1}])", "g.geojson", "", VarNameRule::Strict, NoteFn());
            }).find("g.geojson: the file holds an array"),
            std::string::npos);
}
