#include <cmath>

#include "runtime/data/csv.h"
#include "testutil.h"

using namespace qv;
using namespace qv::rt;
using qv::rt::testing::NoteSink;
using qv::rt::testing::TempDir;

namespace {

Table parse(const std::string& text, char delim = ',', VarNameRule rule = VarNameRule::Strict,
            NoteSink* notes = nullptr, Schema* schema = nullptr) {
  TextBuffer b = TextBuffer::fromText(text);
  CsvSettings s;
  s.delimiter = delim;
  s.names = rule;
  s.schema = schema;
  return parseDelimited(b, "t.csv", s, notes ? notes->fn() : NoteFn());
}

}  // namespace

TEST(Csv, QuotesLineEndsAndBom) {
  Table t = parse(
      "\xEF\xBB\xBF"
      "name,x,note\r\n"
      "\"Smith, J\",1.5,\"said \"\"hi\"\"\"\r\n"
      "plain,-2e3,\"two\nlines\"\r\n"
      "\"\",+.5,  trailing   \r\n"
      "\r\n");
  ASSERT_EQ(t.rows, 3u);
  ASSERT_EQ(t.columns.size(), 3u);
  EXPECT_EQ(t.columns[0].name, "name");  // the byte order mark is not part of it
  EXPECT_FALSE(t.columns[0].numeric());
  EXPECT_EQ(t.columns[0].str(0), "Smith, J");
  EXPECT_EQ(t.columns[0].str(2), "");
  EXPECT_EQ(t.columns[0].width, 8);
  ASSERT_TRUE(t.columns[1].numeric());
  EXPECT_DOUBLE_EQ(t.columns[1].num[0], 1.5);
  EXPECT_DOUBLE_EQ(t.columns[1].num[1], -2000);
  EXPECT_DOUBLE_EQ(t.columns[1].num[2], 0.5);
  EXPECT_EQ(t.columns[2].str(0), "said \"hi\"");
  EXPECT_EQ(t.columns[2].str(1), "two\nlines");
  EXPECT_EQ(t.columns[2].str(2), "  trailing");  // leading blanks kept, trailing not stored
}

TEST(Csv, TypeInference) {
  Table t = parse(
      "a,b,c,d,e,f,g,h\n"
      "1,.,0x10,inf,,1e5, 7 ,-\n"
      ",2,3,nan,,1E-2,.5,1\n"
      ".,,4,1,,-0,8.,2\n");
  auto& c = t.columns;
  EXPECT_TRUE(c[0].numeric());  // "." and empty are missing
  EXPECT_TRUE(std::isnan(c[0].num[1]));
  EXPECT_TRUE(std::isnan(c[0].num[2]));
  EXPECT_TRUE(c[1].numeric());
  EXPECT_FALSE(c[2].numeric());  // no hexadecimal
  EXPECT_EQ(c[2].str(0), "0x10");
  EXPECT_FALSE(c[3].numeric());  // no inf or nan
  EXPECT_TRUE(c[4].numeric());   // all empty: numeric, all missing
  EXPECT_EQ(c[4].width, 8);
  EXPECT_TRUE(std::isnan(c[4].num[0]));
  EXPECT_TRUE(c[5].numeric());
  EXPECT_DOUBLE_EQ(c[5].num[1], 0.01);
  EXPECT_TRUE(c[6].numeric());  // blanks around a number are fine
  EXPECT_DOUBLE_EQ(c[6].num[0], 7);
  EXPECT_DOUBLE_EQ(c[6].num[2], 8);
  EXPECT_FALSE(c[7].numeric());  // a lone sign is text
  EXPECT_EQ(c[7].width, 1);

  // One text value late in the file turns the column to character and keeps
  // every earlier value as written.
  std::string text = "v\n";
  for (int i = 0; i < 3000; ++i) text += std::to_string(i) + "\n";
  text += "1e999\n";  // too large for a double: not a number
  Table u = parse(text);
  ASSERT_FALSE(u.columns[0].numeric());
  EXPECT_EQ(u.rows, 3001u);
  EXPECT_EQ(u.columns[0].str(2999), "2999");
  EXPECT_EQ(u.columns[0].str(3000), "1e999");
  EXPECT_EQ(u.columns[0].width, 5);
}

TEST(Csv, EmptyLinesAndTabs) {
  Table t = parse("a\tb\n1\tx y\n\n2\t\"q\"\n\n\n", '\t');
  EXPECT_EQ(t.rows, 2u);  // blank lines are skipped
  EXPECT_EQ(t.columns[1].str(0), "x y");
  EXPECT_EQ(t.columns[1].str(1), "q");

  // With one column an empty line in the middle is a missing value, but the
  // line ends at the end of the file are not rows.
  Table one = parse("v\n1\n\n3\n\n\n");
  ASSERT_EQ(one.rows, 3u);
  EXPECT_TRUE(std::isnan(one.columns[0].num[1]));

  Table noEol = parse("a,b\n1,2");
  EXPECT_EQ(noEol.rows, 1u);
  Table headerOnly = parse("a,b\n");
  EXPECT_EQ(headerOnly.rows, 0u);
  EXPECT_TRUE(headerOnly.columns[0].numeric());
  Table trailingComma = parse("a,b,c\n1,2,\n");
  EXPECT_TRUE(std::isnan(trailingComma.columns[2].num[0]));
  Table cr = parse("a,b\r1,x\r2,y\r");  // lone CR line ends
  EXPECT_EQ(cr.rows, 2u);
  EXPECT_EQ(cr.columns[1].str(1), "y");
}

// Malformed files are refused naming the file and the place: the bad-input
// case runtime_csv_malformed.

TEST(Csv, HeaderNamesStrictAndAny) {
  NoteSink notes;
  Table t = parse("Rate %,2019,,x,X,caf\xC3\xA9 \xC3\xA9t\xC3\xA9,"
                  "a_very_long_name_that_goes_beyond_32_bytes\n"
                  "1,2,3,4,5,6,7\n",
                  ',', VarNameRule::Strict, &notes);
  std::vector<std::string> names;
  for (auto& c : t.columns) names.push_back(c.name);
  EXPECT_EQ(names, (std::vector<std::string>{"Rate__", "_2019", "VAR3", "x", "X2", "caf___t_",
                                             "a_very_long_name_that_goes_beyon"}));
  ASSERT_GE(notes.notes.size(), 5u);
  EXPECT_NE(notes.notes[0].find("'Rate %'"), std::string::npos);
  EXPECT_NE(notes.notes[0].find("Rate__"), std::string::npos);

  NoteSink anyNotes;
  Table a = parse("Rate %,caf\xC3\xA9,Rate %\n1,2,3\n", ',', VarNameRule::Any, &anyNotes);
  EXPECT_EQ(a.columns[0].name, "Rate %");
  EXPECT_EQ(a.columns[1].name, "caf\xC3\xA9");
  EXPECT_EQ(a.columns[2].name, "Rate %2");
  // Cut at 32 bytes without splitting a character.
  std::string longName(31, 'a');
  Table cut = parse(longName + "\xC3\xA9x\n1\n", ',', VarNameRule::Any);
  EXPECT_EQ(cut.columns[0].name, longName);

  // Thousands of repeated names stay distinct (and take no quadratic time).
  std::string wide, row;
  for (int i = 0; i < 20000; ++i) {
    wide += i ? ",a" : "a";
    row += i ? ",1" : "1";
  }
  Table w = parse(wide + "\n" + row + "\n");
  ASSERT_EQ(w.columns.size(), 20000u);
  EXPECT_EQ(w.columns[1].name, "a2");
  EXPECT_EQ(w.columns[19999].name, "a20000");
}
